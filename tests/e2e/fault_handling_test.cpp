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

  // The target, then a scale slow enough (7 s) to be far from the end whenever servo 3's silence drops it.
  const std::vector<double> movj = {1.2, 0.9, -1.2, 1.2, -1.2, 1.2, 0.1};
  publish<ArrayMsg>("movj_topic", movj);
  ASSERT_TRUE(waitUntil([] { return std::fabs(topics().joints.at(0)) > 0.05; }, Ms(30000)));
  servo_sim::ServoFaults silent;
  silent.silent = true;
  bus_->setFaults(3, silent);
  // Without a valid enable reading of every axis the move is dropped once (by the enable read or the
  // goal write); the servos hold their last goals, drained slowly as each pass waits out servo 3.
  EXPECT_TRUE(waitUntil([] { return !topics().enabled; }, Ms(30000)));
  EXPECT_TRUE(waitGoalsStill(Ms(600), Ms(30000))) << "goals kept moving while servo 3 was silent";
  EXPECT_EQ(countInOutput("enable is OFF, the trajectory") +
                countInOutput("setMotorPosition has an error,errorcode=<5002>"),
            1u);
  EXPECT_NE(bus_->servo(1).goal, goalSteps(0, movj[0]));

  // Back on the bus: the arm reports enabled again and takes the move anew.
  bus_->clearFaults(3);
  ASSERT_TRUE(waitUntil([] { return topics().enabled; }, Ms(30000)));
  const int held = bus_->servo(1).goal;
  publish<ArrayMsg>("movj_topic", movj);
  // Mid-move, any three replies in a row hold one torque read: lost, the move goes on.
  ASSERT_TRUE(waitUntil([&] { return bus_->servo(1).goal != held; }, Ms(30000)));
  silent.remaining = 3;
  bus_->setFaults(3, silent);
  ASSERT_TRUE(waitForOutput(kArrived, Ms(60000)));
  EXPECT_TRUE(waitArrived({movj.begin(), movj.end() - 1}));
  EXPECT_EQ(countInOutput(kArrived), 1u) << "the dropped move arrived too";
  EXPECT_EQ(countInOutput("The current command has been killed!"), 0u);
}

// A stalled servo and one whose speed never reads 0 end their move after the settle time, and the move
// queued behind starts where the arm stands; a servo that cut its own torque stays off until serve-on, and
// home is refused while the others hold theirs.
TEST_F(FaultHandling, ServosThatCannotArriveOrCutTheirTorqueNeitherHangNorJumpTheArm) {
  ASSERT_NO_FATAL_FAILURE(start());
  ASSERT_NO_FATAL_FAILURE(enableOverDds());
  servo_sim::ServoFaults stalled, creeping, cut;
  stalled.stuck = true, stalled.error_byte = 0x20, creeping.speed_offset = 8, cut.error_byte = 0x20;
  bus_->setFaults(3, stalled);
  bus_->setFaults(5, creeping);
  publish<ArrayMsg>("movj_topic", {0, 0, -1.0, 0, 0, 0, 0.5});
  publish<ArrayMsg>("movj_topic", {0.2, 0.2, 0.2, 0.2, 0.2, 0.2, 0.5});
  ASSERT_TRUE(waitForOutput("The trajectory has not arrived 3.0 s after its plan ended: <3> 1.0", Ms(30000)));
  bus_->clearFaults(3), bus_->clearFaults(5);
  EXPECT_EQ(countInOutput("rad from its goal"), 2u) << "axis 3 and axis 5 on one line";
  ASSERT_TRUE(waitForOutput(kArrived));
  EXPECT_TRUE(waitArrived(std::vector<double>(kAxes, 0.2)));
  EXPECT_EQ(countInOutput("The <3> axis was planned from -1.0"), 1u);

  publish<ArrayMsg>("movj_topic", {-0.2, -0.2, -0.2, -0.2, -0.2, -0.2, 0.5});
  ASSERT_TRUE(waitUntil([] { return topics().joints.at(1) < 0.1; }, Ms(15000)));
  const size_t switched_on = countInOutput("need set motor true.");
  bus_->setFaults(2, cut);
  bus_->setReg(2, 40, 0);
  ASSERT_TRUE(waitForOutput("servo nodeid:2 turned its torque off by itself, error byte 0x20!"));
  ASSERT_TRUE(waitUntil([] { return !topics().enabled; }, Ms(30000)));
  EXPECT_TRUE(waitGoalsStill(Ms(400), Ms(30000)));
  EXPECT_FALSE(bus_->servo(2).torque_on);
  EXPECT_EQ(countInOutput("enable is OFF, the trajectory can not be executed!"), 1u);
  EXPECT_EQ(countInOutput("need set motor true."), switched_on);
  // Five servos still hold torque: home is refused whole, and no servo is calibrated.
  publish<TextMsg>("set_home_topic", "e2e");
  ASSERT_TRUE(waitForOutput("when set home, enable is ON error!"));
  EXPECT_TRUE(allServos([](int, const auto& s) { return s.calibrations == 0; }));
  bus_->clearFaults(2);
  ASSERT_NO_FATAL_FAILURE(enableOverDds());
}

}  // namespace e2e
