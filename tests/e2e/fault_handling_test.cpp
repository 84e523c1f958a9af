// Faults from the outside: a client sending garbage, a second controller, a servo silent mid-move.
#include <cmath>
#include <random>

#include "controller_fixture.h"

namespace e2e {

class FaultHandling : public ControllerTest {};

TEST_F(FaultHandling, GarbageFloodSecondControllerAndSilentServoLeaveTheArmServing) {
  ASSERT_NO_FATAL_FAILURE(start());
  std::mt19937 rng(20240129);
  // Client after client: noise (absurd lengths) or frames no parser accepts (wire type 7).
  for (int round = 0; round < 12; ++round) {
    LoopbackClient bad;
    ASSERT_TRUE(bad.connectTo(kCallPort, Ms(10000))) << "round " << round;
    std::string junk(round % 2 ? 0 : 64 * 1024, '\0');
    for (auto& c : junk) c = static_cast<char>(rng());
    for (int i = 0; round % 2 && i < 200; ++i)
      junk += server_test::frameOf("\xff" + std::string(1 + rng() % 64, static_cast<char>(rng())));
    bad.sendBytes(junk);
  }
  LoopbackClient good;
  ASSERT_TRUE(good.connectTo(kCallPort, Ms(20000)) && ask(good, robot_ping::GetMainArmId));
  EXPECT_EQ(reply(good, Ms(20000)).id(), kArmId);

  ASSERT_NO_FATAL_FAILURE(enableOverDds());
  // A second controller ends before its bus thread's first pass would switch the servos off.
  const size_t first_frame = bus_->frameCount();
  arm_test::ChildProcess second({ARM_CONTROLLER_PATH});
  EXPECT_EQ(second.wait(Ms(30000)), 1);
  for (const servo_sim::Frame& f : bus_->framesFrom(first_frame))
    ASSERT_FALSE((f.instruction == 3 && f.params == std::vector<uint8_t>{40, 0})) << int{f.id};
  const std::string out = second.output(), port = arm_build_config::kServoBusDevice;
  EXPECT_NE(out.find("The servo port " + port + " is held by another process.\n"), std::string::npos) << out;

  const std::vector<double> movj = {1.2, 0.9, -1.2, 1.2, -1.2, 1.2, 0.5};  // the target, then the scale
  publish<ArrayMsg>("movj_topic", movj);
  ASSERT_TRUE(waitUntil([] { return std::fabs(topics().joints.at(0)) > 0.2; }, Ms(15000)));
  servo_sim::ServoFaults silent;
  silent.silent = true;
  bus_->setFaults(3, silent);
  // Without a valid enable reading of every axis the move is dropped once (by the enable read or the
  // goal write); the servos hold their last goals, drained slowly as each pass waits out servo 3.
  EXPECT_TRUE(waitUntil([] { return !topics().enabled; }, Ms(5000)));
  EXPECT_TRUE(waitGoalsStill(Ms(600), Ms(5000))) << "goals kept moving while servo 3 was silent";
  EXPECT_EQ(countInOutput("enable is OFF, the trajectory") +
                countInOutput("setMotorPosition has an error,errorcode=<5002>"),
            1u);
  EXPECT_NE(bus_->servo(1).goal, goalSteps(0, movj[0]));

  // Back on the bus: the arm reports enabled again and takes the move anew.
  bus_->clearFaults(3);
  ASSERT_TRUE(waitUntil([] { return topics().enabled; }, Ms(5000)));
  const int held = bus_->servo(1).goal;
  publish<ArrayMsg>("movj_topic", movj);
  // Mid-move, any three replies in a row hold one torque read: lost, the move goes on.
  ASSERT_TRUE(waitUntil([&] { return bus_->servo(1).goal != held; }, Ms(5000)));
  silent.remaining = 3;
  bus_->setFaults(3, silent);
  ASSERT_TRUE(waitForOutput(kArrived, Ms(30000)));
  EXPECT_TRUE(waitArrived({movj.begin(), movj.end() - 1}));
  EXPECT_EQ(countInOutput(kArrived), 1u) << "the dropped move arrived too";
  EXPECT_EQ(countInOutput("The current command has been killed!"), 0u);
}

}  // namespace e2e
