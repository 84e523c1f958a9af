// The bus thread running on its own against the simulated bus while motor
// calls come from another thread, as in the controller.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <thread>

#include "sim_bus_fixture.h"

namespace {

using Clock = std::chrono::steady_clock;

class BusThreadLive : public servo_test::SimBusMotorTest {
 protected:
  void SetUp() override {
    startBus(6, servo::ServoBusThread::Worker::kThread);
    for (uint32_t id = 1; id <= 6; ++id) motor(id, id % 2);
  }

  // Waits until pred holds for every motor at once.
  template <typename Pred>
  bool waitForAll(Pred pred) {
    const auto deadline = Clock::now() + std::chrono::seconds(3);
    while (!std::all_of(motors_.begin(), motors_.end(), [&](auto& m) { return pred(*m); })) {
      if (Clock::now() > deadline) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
  }
};

TEST_F(BusThreadLive, JointsFollowStreamedGoalsAndHomeIsAcknowledged) {
  for (auto& m : motors_) m->setEnableStatus(true);
  ASSERT_TRUE(waitForAll([](busServoMotor& m) { return enableState(m) == 1; }));

  // A 5 ms stream of goals toward 0.4 rad, some dropped on a busy block.
  for (int step = 1; step <= 100; ++step) {
    for (auto& m : motors_) ASSERT_EQ(m->setMotorPosition(0.4 * step / 100.0), kMotorOk);
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  ASSERT_TRUE(waitForAll([](busServoMotor& m) {
    double pos = 0.0;
    m.getMotorPosition(&pos);
    return std::abs(pos - 0.4) <= 0.02;
  }));
  // Reversed servos turn the other way.
  EXPECT_LT(sim_->servo(1).goal, 2048);
  EXPECT_GT(sim_->servo(2).goal, 2048);

  // The home wait sees the bus thread clear the request within a pass or two.
  busServoMotor& m = *motors_[3];
  const auto t0 = Clock::now();
  EXPECT_EQ(m.seHome(3), kMotorOk);
  EXPECT_LT(Clock::now() - t0, std::chrono::seconds(1));
  EXPECT_EQ(sim_->servo(4).calibrations, 1);
}

}  // namespace
