// Faults from the outside: a client that sends garbage and a servo that
// stops answering mid-move.
#include <cmath>
#include <random>

#include "cloud/robot_ping.pb.h"
#include "controller_fixture.h"

namespace e2e {
namespace {

using server_test::LoopbackClient;

class FaultHandling : public ControllerTest {};

TEST_F(FaultHandling, GarbageFloodAndSilentServoLeaveTheArmServing) {
  ASSERT_NO_FATAL_FAILURE(start());
  std::mt19937 rng(20240129);
  auto noise = [&rng](size_t n) {
    std::string s(n, '\0');
    for (auto& c : s) c = static_cast<char>(rng() & 0xFF);
    return s;
  };
  for (int round = 0; round < 12; ++round) {
    LoopbackClient bad;
    ASSERT_TRUE(bad.connectTo(kCallPort, Ms(10000))) << "round " << round;
    std::string junk;
    if (round % 4 == 0) junk = noise(64 * 1024);  // announcing absurd lengths
    // Well framed, but nothing a parser accepts (wire type 7 up front).
    for (int i = 0; round % 4 == 1 && i < 200; ++i)
      junk += server_test::frameOf("\xff" + noise(1 + rng() % 64));
    if (round % 4 == 2) junk = server_test::headerOf(0) + server_test::headerOf(0x80000001u) + noise(16);
    if (round % 4 == 3) junk = server_test::headerOf(1000) + noise(10);  // cut off mid-payload
    bad.sendBytes(junk);
  }
  LoopbackClient good;
  ASSERT_TRUE(good.connectTo(kCallPort, Ms(20000)));
  robot_ping::MainArmRequestMsg req;
  req.set_requesttype(robot_ping::GetMainArmId);
  std::string bytes;
  ASSERT_TRUE(callServer(good, req.SerializeAsString(), &bytes, Ms(20000))) << output();
  robot_ping::MainArmRespMsg resp;
  ASSERT_TRUE(resp.ParseFromString(bytes));
  EXPECT_EQ(resp.id(), kArmId);

  ASSERT_NO_FATAL_FAILURE(enableOverDds());
  const std::vector<double> target = {1.2, 0.9, -1.2, 1.2, -1.2, 1.2};
  const std::vector<double> msg = {1.2, 0.9, -1.2, 1.2, -1.2, 1.2, 0.5};
  publishMovj(msg);
  ASSERT_TRUE(waitUntil([] { return topics().joints.size() == kAxes && std::fabs(topics().joints[0]) > 0.2; },
                        Ms(15000)))
      << output();
  servo_sim::ServoFaults silent;
  silent.silent = true;
  bus_->setFaults(3, silent);
  // Without a valid enable reading of every axis the move is dropped where
  // it is; the servos hold their last goals instead of running on blind. The
  // servo may go offline between the loop's enable read and its goal writes.
  ASSERT_TRUE(waitUntil(
      [this] {
        return countInOutput("enable is OFF, the trajectory can not be executed!") +
                   countInOutput("setMotorPosition has an error,errorcode=<5002>") > 0;
      },
      Ms(5000)))
      << output();
  EXPECT_TRUE(waitUntil([] { return !topics().enabled; }, Ms(5000)));
  // The last goals drain to the bus (slowly: every pass waits out servo 3).
  EXPECT_TRUE(waitGoalsStill(Ms(600), Ms(5000))) << "goals kept moving while servo 3 was silent";
  EXPECT_NE(bus_->servo(1).goal, goalSteps(0, target[0]));
  EXPECT_TRUE(controller_->running());

  // Back on the bus: the arm reports enabled again and takes the move anew.
  bus_->clearFaults(3);
  ASSERT_TRUE(waitUntil([] { return topics().enabled; }, Ms(5000)));
  EXPECT_EQ(countInOutput(kArrived), 0u);
  const int held = bus_->servo(1).goal;
  publishMovj(msg);
  // Mid-move, any three replies in a row hold one register-40 read: lost, the move goes on.
  ASSERT_TRUE(waitUntil([&] { return bus_->servo(1).goal != held; }, Ms(5000))) << output();
  silent.remaining = 3;
  bus_->setFaults(3, silent);
  ASSERT_TRUE(waitForOutput(kArrived, Ms(30000))) << output();
  EXPECT_TRUE(servosAtGoals(target));
  EXPECT_TRUE(waitJointsSettled(target, Ms(5000)));
  EXPECT_EQ(countInOutput("The current command has been killed!"), 0u) << output();
}

}  // namespace
}  // namespace e2e
