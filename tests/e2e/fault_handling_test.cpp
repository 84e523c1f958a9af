// Faults from the outside: a client sending garbage, a second controller, servos that go silent, stall, stop
// following their goals or cannot arrive, a slow bus.
#include <cmath>
#include <random>

#include "controller_fixture.h"

namespace e2e {

class FaultHandling : public ControllerTest {};

constexpr const char* kBehind = " rad behind its goals, more than the ";
constexpr const char* kBehind3 = "The <3> axis has fallen ";
// How far a servo may stray once it obeys again: a holding servo's error, nothing like a move.
constexpr int kFewSteps = 8;

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

// A servo stalled from the start ends its move as soon as it falls behind and, freed afterwards, stays where it
// stands. One whose speed never reads 0 ends its move after the settle time, and the move queued behind starts
// where the arm stands; a servo that cut its own torque stays off until serve-on, and home is refused while the
// others hold theirs.
TEST_F(FaultHandling, ServosThatCannotArriveOrCutTheirTorqueNeitherHangNorJumpTheArm) {
  ASSERT_NO_FATAL_FAILURE(start());
  ASSERT_NO_FATAL_FAILURE(enableOverDds());
  servo_sim::ServoFaults stalled, creeping, cut;
  stalled.stuck = true, stalled.error_byte = 0x20, creeping.speed_offset = 8, cut.error_byte = 0x20;
  bus_->setFaults(3, stalled);
  publish<ArrayMsg>("movj_topic", {0, 0, -1.0, 0, 0, 0, 0.5});
  ASSERT_TRUE(waitForOutput(kBehind3));
  EXPECT_TRUE(waitGoalsStill(Ms(400), Ms(30000)));
  bus_->clearFaults(3);
  EXPECT_LE(strayOver(3, Ms(1000)), kFewSteps);

  // Stalled again, axis 3 stands within reading noise of this small move's goal: it is neither behind nor off.
  bus_->setFaults(3, stalled);
  bus_->setFaults(5, creeping);
  publish<ArrayMsg>("movj_topic", {0, 0, -0.01, 0, 0, 0, 0.5});
  publish<ArrayMsg>("movj_topic", {0.2, 0.2, 0, 0.2, 0.2, 0.2, 0.5});
  ASSERT_TRUE(waitForOutput("The trajectory has not arrived 3.0 s after its plan ended: <5> 0.0", Ms(30000)));
  // Freed once the next move has taken over from the goals of the one given up.
  ASSERT_TRUE(waitForOutput("The <3> axis was planned from -0.01"));
  bus_->clearFaults(3), bus_->clearFaults(5);
  EXPECT_EQ(countInOutput("rad from its goal"), 1u) << "axis 5 alone";
  ASSERT_TRUE(waitForOutput(kArrived));
  EXPECT_TRUE(waitArrived({0.2, 0.2, 0, 0.2, 0.2, 0.2}));
  EXPECT_EQ(countInOutput(kBehind), 1u);

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

// Servo 3 takes its goals but does not act on them, or stalls, mid-move: the move ends as soon as it falls
// behind, every axis holds where it stands, so the servo obeying again stays put, a joint move over TCP answers
// false, and the next command runs from where the arm stands.
TEST_F(FaultHandling, AServoThatStopsFollowingEndsTheMoveAndTheArmHoldsWhereItStands) {
  ASSERT_NO_FATAL_FAILURE(start());
  ASSERT_NO_FATAL_FAILURE(enableOverDds());
  servo_sim::ServoFaults deaf, stalled;
  deaf.ignore_goals = true, stalled.stuck = true;
  // Once joint 3 passes `at` on its way down, servo 3 in `faults` for `span`; then how far it strays, obeying.
  size_t lines = 0;
  auto faultMidMove = [&](double at, const servo_sim::ServoFaults& faults, Ms span) {
    EXPECT_TRUE(waitUntil([&] { return bus_->servo(3).position < goalSteps(2, at); }, Ms(30000)));
    bus_->setFaults(3, faults);
    const auto until = std::chrono::steady_clock::now() + span;
    EXPECT_TRUE(waitUntil([&] { return countInOutput(kBehind3) == lines + 1; }, Ms(30000)));
    EXPECT_TRUE(waitGoalsStill(Ms(400), Ms(30000)));
    ++lines;
    std::this_thread::sleep_until(until);
    bus_->clearFaults(3);
    return strayOver(3, Ms(1000));
  };

  // Deaf from about 1 s into the move to 8 s, well past the time the move would get to settle.
  publish<ArrayMsg>("movj_topic", {0, 0, -1.0, 0, 0, 0, 0.5});
  EXPECT_LE(faultMidMove(-0.2, deaf, Ms(7000)), kFewSteps);
  publish<ArrayMsg>("movj_topic", {0, 0, -0.5, 0, 0, 0, 0.5});
  EXPECT_TRUE(waitArrived({0, 0, -0.5, 0, 0, 0}));

  // Deaf for 1 s during a joint move over TCP, which is answered false once the server stops waiting.
  LoopbackClient call;
  ASSERT_TRUE(call.connectTo(kCallPort) && ask(call, robot_ping::PostJointAngle, false, {0, 0, -1.0, 0, 0, 0}));
  EXPECT_LE(faultMidMove(-0.6, deaf, Ms(1000)), kFewSteps);
  const robot_ping::MainArmRespMsg answer = reply(call, Ms(40000));
  EXPECT_TRUE(answer.has_success() && !answer.success());
  publish<ArrayMsg>("movj_topic", {0, 0, 0.1, 0, 0, 0, 0.5});
  EXPECT_TRUE(waitArrived({0, 0, 0.1, 0, 0, 0}));

  // Stalled for 1 s.
  publish<ArrayMsg>("movj_topic", {0, 0, -1.0, 0, 0, 0, 0.5});
  EXPECT_LE(faultMidMove(-0.2, stalled, Ms(1000)), kFewSteps);
  publish<ArrayMsg>("movj_topic", {0, 0, -0.3, 0, 0, 0, 0.5});
  EXPECT_TRUE(waitArrived({0, 0, -0.3, 0, 0, 0}));
  EXPECT_EQ(countInOutput(kBehind), 3u);
  EXPECT_EQ(countInOutput("has not arrived"), 0u);
}

// Replies at 2 ms a byte stretch a bus pass to over 400 ms, and the readings trail the plan by tenths of a
// radian: the move arrives all the same, no axis taken for one that stopped following.
TEST_F(FaultHandling, ASlowBusLagsTheReadingsAndTheMoveStillArrives) {
  ASSERT_NO_FATAL_FAILURE(start());
  ASSERT_NO_FATAL_FAILURE(enableOverDds());
  servo_sim::ServoFaults slow;
  slow.reply_byte_us = 2000;
  for (uint8_t id = 1; id <= kAxes; ++id) bus_->setFaults(id, slow);
  const size_t first = bus_->frameCount();
  const std::vector<double> target = {0.5, -0.5, -1.0, 0.5, -0.5, 0.5};
  std::vector<double> movj = target;
  movj.push_back(0.5);
  publish<ArrayMsg>("movj_topic", movj);
  ASSERT_TRUE(waitForOutput(kArrived, Ms(60000)));
  EXPECT_TRUE(waitArrived(target, Ms(30000)));
  EXPECT_EQ(countInOutput(kBehind), 0u);
  // Each pass closes with an ACTION: they came no closer than the replies' bytes allow.
  std::chrono::steady_clock::time_point last{};
  auto widest = std::chrono::steady_clock::duration::zero();
  for (const servo_sim::Frame& f : bus_->framesFrom(first)) {
    if (f.instruction != 5) continue;
    if (last != std::chrono::steady_clock::time_point{}) widest = std::max(widest, f.time - last);
    last = f.time;
  }
  EXPECT_GE(widest, Ms(300));
}

}  // namespace e2e
