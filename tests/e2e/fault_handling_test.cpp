// Faults from the outside: a servo that stops answering, a client that
// sends garbage, and a port that someone else already holds.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <random>
#include <thread>

#include "cloud/robot_ping.pb.h"
#include "controller_fixture.h"

namespace e2e {
namespace {

using server_test::LoopbackClient;

class FaultHandling : public ControllerTest {};

std::vector<int> goalRegisters(servo_sim::ServoBusSim& bus) {
  std::vector<int> goals;
  for (uint8_t id = 1; id <= kAxes; ++id) goals.push_back(bus.servo(id).goal);
  return goals;
}

TEST_F(FaultHandling, SilentServoDropsMoveAndArmMovesAgainAfterReturn) {
  ASSERT_NO_FATAL_FAILURE(startBus());
  ASSERT_NO_FATAL_FAILURE(startController());
  ASSERT_NO_FATAL_FAILURE(enableOverDds());
  const std::vector<double> target = {1.2, 0.9, -1.2, 1.2, -1.2, 1.2};
  std::vector<double> msg = target;
  msg.push_back(0.5);
  Operator::get().movj(msg);
  ASSERT_TRUE(Operator::get().waitFor(
      [](const TopicState& s) { return s.joints.size() == 6 && std::fabs(s.joints[0]) > 0.2; }, Ms(15000)))
      << output();

  servo_sim::ServoFaults silent;
  silent.silent = true;
  bus_->setFaults(3, silent);
  // Without a valid enable reading of every axis the move is dropped where
  // it is; the servos hold their last goals instead of running on blind.
  ASSERT_TRUE(waitForOutput("enable is OFF, the trajectory can not be executed!", Ms(5000))) << output();
  EXPECT_TRUE(Operator::get().waitFor([](const TopicState& s) { return !s.enabled; }, Ms(5000)));
  // The last goals drain to the bus (slowly: every pass waits out servo 3).
  EXPECT_TRUE(waitGoalsStill(Ms(600), Ms(5000))) << "goals kept moving while servo 3 was silent";
  EXPECT_NE(goalRegisters(*bus_)[0], goalSteps(0, target[0]));
  EXPECT_TRUE(controller_->running());

  // Back on the bus: the arm reports enabled again and takes the move anew.
  bus_->clearFaults(3);
  ASSERT_TRUE(Operator::get().waitFor([](const TopicState& s) { return s.enabled; }, Ms(5000)));
  EXPECT_EQ(countInOutput("plan and curpos arrives goal"), 0u);
  Operator::get().movj(msg);
  ASSERT_TRUE(waitForOutput("plan and curpos arrives goal", Ms(30000))) << output();
  for (int i = 0; i < kAxes; ++i) {
    EXPECT_EQ(bus_->servo(static_cast<uint8_t>(i + 1)).goal, goalSteps(i, target[i])) << i;
  }
  EXPECT_TRUE(waitJointsSettled(target, Ms(5000)));
  EXPECT_EQ(countInOutput("The current command has been killed!"), 0u) << output();
}

TEST_F(FaultHandling, GarbageFloodLeavesCallServerServing) {
  ASSERT_NO_FATAL_FAILURE(startBus());
  ASSERT_NO_FATAL_FAILURE(startController());

  std::mt19937 rng(20240129);
  auto randomBytes = [&rng](size_t n) {
    std::string s(n, '\0');
    for (auto& c : s) c = static_cast<char>(rng() & 0xFF);
    return s;
  };
  for (int round = 0; round < 12; ++round) {
    LoopbackClient bad;
    ASSERT_TRUE(bad.connectTo(kCallPort, Ms(10000))) << "round " << round;
    std::string junk;
    switch (round % 4) {
      case 0:  // plain noise, announcing absurd lengths
        junk = randomBytes(64 * 1024);
        break;
      case 1:  // well framed, but nothing a parser accepts (wire type 7 up front)
        for (int i = 0; i < 200; ++i) junk += server_test::frameOf("\xff" + randomBytes(1 + rng() % 64));
        break;
      case 2:  // empty and negative lengths, then an unknown request type
        junk = server_test::headerOf(0) + server_test::headerOf(0x80000001u) + randomBytes(16);
        break;
      case 3:  // a frame cut off mid-payload
        junk = server_test::headerOf(1000) + randomBytes(10);
        break;
    }
    bad.sendBytes(junk);
    bad.close();
  }

  LoopbackClient good;
  ASSERT_TRUE(good.connectTo(kCallPort, Ms(20000)));
  robot_ping::MainArmRequestMsg req;
  req.set_requesttype(robot_ping::GetMainArmId);
  std::string bytes;
  ASSERT_TRUE(callServer(good, req.SerializeAsString(), &bytes, Ms(20000))) << output();
  robot_ping::MainArmRespMsg resp;
  ASSERT_TRUE(resp.ParseFromString(bytes));
  EXPECT_EQ(resp.id(), "7c3e9b12-4a6f-4d0e-9b85-e21f6c4a8d07");

  // The rest of the controller never noticed.
  EXPECT_TRUE(controller_->running());
  const long seen = Operator::get().state().joint_count;
  EXPECT_TRUE(Operator::get().waitFor([seen](const TopicState& s) { return s.joint_count > seen + 10; },
                                      Ms(5000)));
  LoopbackClient stream;
  ASSERT_TRUE(stream.connectTo(kStreamPort));
  std::string frame;
  EXPECT_TRUE(stream.readFrame(&frame, Ms(2000)));
}

TEST_F(FaultHandling, PortAlreadyTakenEndsProcessWithStatus255) {
  const int holder = socket(AF_INET, SOCK_STREAM, 0);
  int one = 1;
  setsockopt(holder, SOL_SOCKET, SO_REUSEADDR, &one, sizeof(one));
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = htons(kCallPort);
  ASSERT_EQ(bind(holder, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)), 0);
  ASSERT_EQ(listen(holder, 1), 0);
  ASSERT_NO_FATAL_FAILURE(startBus());

  controller_ = std::make_unique<arm_test::ChildProcess>(
      std::vector<std::string>{ARM_CONTROLLER_PATH},
      std::map<std::string, std::string>{{"ROS_DOMAIN_ID", std::to_string(domain_id_)}});
  EXPECT_EQ(controller_->wait(Ms(30000)), 255) << output();
  close(holder);
  const std::string out = output();
  EXPECT_NE(out.find("8007"), std::string::npos) << out;
  EXPECT_NE(out.find("Address already in use"), std::string::npos) << out;
  EXPECT_EQ(out.find("---robot_cmd_processor node init. ---"), std::string::npos) << out;
}

}  // namespace
}  // namespace e2e
