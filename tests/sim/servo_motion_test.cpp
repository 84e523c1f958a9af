// Servos move toward their goals plausibly and calibrate their middle position.
#include <gtest/gtest.h>

#include <thread>
#include <tuple>

#include "bus_client.h"

using namespace sim_test;
using namespace servo_sim;
using ServoMotion = SimBusTest;
using Clock = std::chrono::steady_clock;

namespace {
Bytes goalFrame(uint8_t id, int goal, int speed = 0) {
  return frame(id, kInstRegWrite,
               {kRegAcceleration, 0, static_cast<uint8_t>(goal & 0xFF), static_cast<uint8_t>(goal >> 8), 0, 0,
                static_cast<uint8_t>(speed & 0xFF), static_cast<uint8_t>(speed >> 8)});
}
const Bytes kAction = frame(kBroadcastId, kInstAction);
const Bytes kTorqueOn = {kRegTorqueEnable, 1};
}  // namespace

TEST_F(ServoMotion, TorqueOnServoTravelsToGoalAndSettles) {
  client.transact(frame(1, kInstWrite, kTorqueOn), 6);
  client.transact(goalFrame(1, 1000), 6);
  client.send(kAction);

  ASSERT_TRUE(waitUntil([&] { return sim.servo(1).position < 1900; }, milliseconds(1000)));
  const ServoSnapshot mid = sim.servo(1);
  EXPECT_EQ(mid.moving, 1);
  EXPECT_LT(mid.speed, 0);  // heading down, sign-magnitude decoded
  EXPECT_LT(mid.load, 0);
  EXPECT_GT(mid.current, sim.servo(2).current);
  // The same state is what a feedback read over the bus reports.
  const Bytes fb = client.transact(frame(1, kInstRead, {kRegPresentPosition, 15}), 21);
  ASSERT_EQ(fb.size(), 21u);
  EXPECT_TRUE(fb[5 + 3] & 0x80);  // speed sign bit
  EXPECT_EQ(fb[5 + 10], 1);

  ASSERT_TRUE(waitUntil([&] { return sim.servo(1).position == 1000; }, milliseconds(2000)));
  ASSERT_TRUE(waitUntil([&] { return sim.servo(1).moving == 0; }, milliseconds(100)));
  EXPECT_EQ(sim.servo(1).speed, 0);
  EXPECT_EQ(sim.servo(3).position, 2048);  // nothing asked of it
}

TEST_F(ServoMotion, TorqueOffOrSlowGoalSpeedLimitsTravel) {
  client.transact(goalFrame(1, 4000), 6);
  client.transact(frame(2, kInstWrite, kTorqueOn), 6);
  const auto t0 = Clock::now();
  client.transact(goalFrame(2, 4000, 500), 6);
  client.send(kAction);
  std::this_thread::sleep_for(milliseconds(200));
  const ServoSnapshot slow = sim.servo(2);
  const double elapsed = std::chrono::duration<double>(Clock::now() - t0).count();
  EXPECT_GT(slow.position, 2048);
  EXPECT_LE(slow.position - 2048, 500 * elapsed + 1);
  EXPECT_LE(slow.speed, 501);
  const ServoSnapshot off = sim.servo(1);
  EXPECT_EQ(std::tie(off.goal, off.position, off.current, off.moving), std::make_tuple(4000, 2048, 0, 0));
}

TEST_F(ServoMotion, CalibrationMakesThePresentPositionTheMiddle) {
  sim.setRegWord(1, kRegPresentPosition, 700);
  sim.setReg(1, kRegTorqueEnable, 1);
  EXPECT_EQ(client.transact({0xFF, 0xFF, 0x01, 0x04, 0x03, 0x28, 0x80, 0x4F}, 6), kAck1);
  std::this_thread::sleep_for(milliseconds(20));
  const ServoSnapshot s = sim.servo(1);
  // Holds where it stands instead of running off to the old goal.
  EXPECT_EQ(std::tie(s.position, s.goal, s.calibrations), std::make_tuple(2048, 2048, 1));
  EXPECT_EQ(sim.reg(1, kRegTorqueEnable), 1);  // 128 is a command, not a torque state
}
