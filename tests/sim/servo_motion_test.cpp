// Servos move toward their goals plausibly, and only with torque on.
#include <gtest/gtest.h>

#include <tuple>

#include "bus_client.h"

using namespace sim_test;
using namespace servo_sim;
using ServoMotion = SimBusTest;

TEST_F(ServoMotion, TorqueOnServoTravelsToGoalAndSettlesTorqueOffServoStays) {
  auto goal = [](uint8_t id, int g) {
    return frame(id, kInstRegWrite, {kRegAcceleration, 0, static_cast<uint8_t>(g & 0xFF), static_cast<uint8_t>(g >> 8)});
  };
  client.transact(kTorqueOn1, 6);
  client.transact(goal(1, 1000), 6);
  client.transact(goal(2, 4000), 6);
  client.send(frame(kBroadcastId, kInstAction));

  ASSERT_TRUE(waitUntil([&] { return sim.servo(1).position < 1900; }, milliseconds(1000)));
  const ServoSnapshot mid = sim.servo(1);
  EXPECT_EQ(mid.moving, 1);
  EXPECT_LT(mid.speed, 0);  // heading down, sign-magnitude decoded
  EXPECT_LT(mid.load, 0);
  EXPECT_GT(mid.current, sim.servo(3).current);
  // The same state is what a feedback read over the bus reports.
  const Bytes fb = client.transact(frame(1, kInstRead, {kRegPresentPosition, 15}), 21);
  ASSERT_EQ(fb.size(), 21u);
  EXPECT_TRUE(fb[5 + 3] & 0x80);  // speed sign bit
  EXPECT_EQ(fb[5 + 10], 1);

  ASSERT_TRUE(waitUntil([&] { return sim.servo(1).position == 1000; }, milliseconds(2000)));
  ASSERT_TRUE(waitUntil([&] { return sim.servo(1).moving == 0; }, milliseconds(100)));
  EXPECT_EQ(sim.servo(1).speed, 0);
  const ServoSnapshot off = sim.servo(2);
  EXPECT_EQ(std::tie(off.goal, off.position, off.current, off.moving), std::make_tuple(4000, 2048, 0, 0));
}
