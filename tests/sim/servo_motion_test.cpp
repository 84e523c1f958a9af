// Servos move toward their goals plausibly and calibrate their middle position.
#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <thread>

#include "bus_client.h"

using namespace sim_test;
using namespace servo_sim;
using std::chrono::milliseconds;
using Clock = std::chrono::steady_clock;

namespace {
Bytes goalFrame(uint8_t id, int goal, int speed = 0) {
  return frame(id, kInstRegWrite, {kRegAcceleration, 0, static_cast<uint8_t>(goal & 0xFF),
                                   static_cast<uint8_t>(goal >> 8), 0, 0, static_cast<uint8_t>(speed & 0xFF),
                                   static_cast<uint8_t>(speed >> 8)});
}
const Bytes kAction = frame(kBroadcastId, kInstAction);

bool waitFor(const std::function<bool()>& cond, milliseconds timeout) {
  const auto deadline = Clock::now() + timeout;
  while (!cond()) {
    if (Clock::now() > deadline) return false;
    std::this_thread::sleep_for(milliseconds(1));
  }
  return true;
}
}  // namespace

TEST(ServoMotion, TorqueOnServoTravelsToGoalAndSettles) {
  SimBusFixture bus;
  ASSERT_TRUE(bus.ok());
  bus.client.transact(frame(1, kInstWrite, {kRegTorqueEnable, 1}), 6);
  bus.client.transact(goalFrame(1, 1000), 6);
  bus.client.send(kAction);

  ASSERT_TRUE(waitFor([&] { return bus.sim.servo(1).position < 1900; }, milliseconds(1000)));
  ServoSnapshot mid = bus.sim.servo(1);
  EXPECT_EQ(mid.moving, 1);
  EXPECT_LT(mid.speed, 0);  // heading down, sign-magnitude decoded
  EXPECT_LT(mid.load, 0);
  EXPECT_GT(mid.current, bus.sim.servo(2).current);

  // The same state is what a feedback read over the bus reports.
  const Bytes fb = bus.client.transact(frame(1, kInstRead, {kRegPresentPosition, 15}), 21);
  ASSERT_EQ(fb.size(), 21u);
  EXPECT_TRUE(fb[5 + 3] & 0x80);  // speed sign bit
  EXPECT_EQ(fb[5 + 10], 1);

  ASSERT_TRUE(waitFor([&] { return bus.sim.servo(1).position == 1000; }, milliseconds(2000)));
  ASSERT_TRUE(waitFor([&] { return bus.sim.servo(1).moving == 0; }, milliseconds(100)));
  EXPECT_EQ(bus.sim.servo(1).speed, 0);
  EXPECT_EQ(bus.sim.servo(3).position, 2048);  // nothing asked of it
}

TEST(ServoMotion, TorqueOffOrSlowGoalSpeedLimitsTravel) {
  SimBusFixture bus;
  ASSERT_TRUE(bus.ok());
  bus.client.transact(goalFrame(1, 4000), 6);
  bus.client.transact(frame(2, kInstWrite, {kRegTorqueEnable, 1}), 6);
  const auto t0 = Clock::now();
  bus.client.transact(goalFrame(2, 4000, 500), 6);
  bus.client.send(kAction);
  std::this_thread::sleep_for(milliseconds(200));
  const ServoSnapshot slow = bus.sim.servo(2);
  const double elapsed = std::chrono::duration<double>(Clock::now() - t0).count();
  EXPECT_GT(slow.position, 2048);
  EXPECT_LE(slow.position - 2048, 500 * elapsed + 1);
  EXPECT_LE(slow.speed, 501);
  const ServoSnapshot off = bus.sim.servo(1);
  EXPECT_EQ(off.goal, 4000);
  EXPECT_EQ(off.position, 2048);
  EXPECT_EQ(off.current, 0);
  EXPECT_EQ(off.moving, 0);
}

TEST(ServoMotion, CalibrationMakesThePresentPositionTheMiddle) {
  SimBusFixture bus;
  ASSERT_TRUE(bus.ok());
  bus.sim.setRegWord(1, kRegPresentPosition, 700);
  bus.sim.setReg(1, kRegTorqueEnable, 1);
  EXPECT_EQ(bus.client.transact({0xFF, 0xFF, 0x01, 0x04, 0x03, 0x28, 0x80, 0x4F}, 6), statusReply(1, 0));
  std::this_thread::sleep_for(milliseconds(20));
  const ServoSnapshot s = bus.sim.servo(1);
  EXPECT_EQ(s.position, 2048);
  EXPECT_EQ(s.goal, 2048);  // holds where it stands instead of running off
  EXPECT_EQ(s.calibrations, 1);
  EXPECT_EQ(bus.sim.reg(1, kRegTorqueEnable), 1);  // 128 is a command, not a torque state
}

TEST(ServoMotion, HostReadsStayConsistentWhileTheBusIsBusy) {
  SimBusFixture bus;
  ASSERT_TRUE(bus.ok());
  std::atomic<bool> done{false};
  std::thread reader([&] {
    while (!done.load()) {
      for (uint8_t id = 1; id <= 3; ++id) {
        const ServoSnapshot s = bus.sim.servo(id);
        EXPECT_GE(s.position, 0);
        EXPECT_LE(s.position, 4095);
      }
      bus.sim.frames();
    }
  });
  for (uint8_t id = 1; id <= 3; ++id) bus.client.transact(frame(id, kInstWrite, {kRegTorqueEnable, 1}), 6);
  for (int pass = 0; pass < 40; ++pass) {
    for (uint8_t id = 1; id <= 3; ++id) {
      EXPECT_EQ(bus.client.transact(frame(id, kInstRead, {kRegPresentPosition, 15}), 21).size(), 21u);
      bus.client.transact(goalFrame(id, pass % 2 ? 100 : 4000), 6);
    }
    bus.client.send(kAction);
  }
  EXPECT_TRUE(bus.sim.waitForFrames(3u + 40u * 7u, milliseconds(2000)));
  done = true;
  reader.join();
  EXPECT_EQ(bus.sim.frameCount(), 3u + 40u * 7u);
}
