// The bus thread running on its own against the simulated bus while motor
// calls come from another thread, as in the controller.
#include <chrono>
#include <memory>
#include <thread>
#include <vector>

#include "bus_servo_motor.h"
#include "servo_bus_thread.h"
#include "sim_bus_fixture.h"

namespace {

using servo::ServoBusThread;
using Clock = std::chrono::steady_clock;

class BusThreadLive : public servo_test::SimBusTest {
 protected:
  void SetUp() override {
    startSim(6);
    bus_ = std::make_unique<ServoBusThread>(device(), ServoBusThread::Worker::kThread);
    for (uint32_t id = 1; id <= 6; ++id) {
      motors_.push_back(std::make_unique<busServoMotor>(id, id % 2, bus_.get()));
      motors_.back()->init();
    }
  }
  void TearDown() override { bus_.reset(); }

  template <typename Pred>
  bool waitFor(Pred pred, std::chrono::milliseconds timeout = std::chrono::seconds(3)) {
    const auto deadline = Clock::now() + timeout;
    while (!pred()) {
      if (Clock::now() > deadline) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
  }

  bool allEnabled() {
    for (auto& m : motors_) {
      bool on = false;
      if (m->getEnableStatus(&on) != kMotorOk || !on) return false;
    }
    return true;
  }

  std::vector<std::unique_ptr<busServoMotor>> motors_;
  std::unique_ptr<ServoBusThread> bus_;
};

TEST_F(BusThreadLive, JointsFollowGoalsStreamedEveryStep) {
  for (auto& m : motors_) m->setEnableStatus(true);
  ASSERT_TRUE(waitFor([&] { return allEnabled(); }));

  // A 5 ms stream of goals toward 0.4 rad, some dropped on a busy block.
  for (int step = 1; step <= 100; ++step) {
    for (auto& m : motors_) {
      const int rc = m->setMotorPosition(0.4 * step / 100.0);
      ASSERT_EQ(rc, kMotorOk);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  ASSERT_TRUE(waitFor([&] {
    for (auto& m : motors_) {
      double pos = 0.0;
      m->getMotorPosition(&pos);
      if (std::abs(pos - 0.4) > 0.02) return false;
    }
    return true;
  }));
  // Reversed servos turn the other way.
  EXPECT_LT(sim_->servo(1).goal, 2048);
  EXPECT_GT(sim_->servo(2).goal, 2048);
}

TEST_F(BusThreadLive, HomeIsAcknowledgedWithinAFewPasses) {
  ASSERT_TRUE(waitFor([&] {
    bool on = true;
    return motors_[3]->getEnableStatus(&on) == kMotorOk;
  }));
  const auto t0 = Clock::now();
  EXPECT_EQ(motors_[3]->seHome(3), kMotorOk);
  EXPECT_LT(Clock::now() - t0, std::chrono::seconds(1));
  EXPECT_EQ(sim_->servo(4).calibrations, 1);
  std::lock_guard<std::mutex> lock(motors_[3]->state_.mtx);
  EXPECT_EQ(motors_[3]->state_.goal_valid, 0);
  EXPECT_EQ(motors_[3]->state_.goal_position, 2048);
}

}  // namespace
