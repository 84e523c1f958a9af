#include <atomic>
#include <chrono>
#include <cstdlib>
#include <thread>

#include "child_process.h"
#include "interpolator_fixture.h"
#include "motor/virtual_motor.h"

namespace interp_test {
namespace {

using namespace std::chrono_literals;

// The loop on its own thread while producers and readers use the Interpolator.
TEST_F(InterpolatorTest, ProducersAndReadersRunBesideTheLoop) {
  makeArm(6);
  std::thread loop([this] { ip_->run(); });
  std::atomic<bool> reading{true};
  std::thread reader([this, &reading] {
    std::vector<double> v;
    bool b = false;
    while (reading) {
      ip_->getJointPositions(&v);
      ip_->getPose(&v);
      ip_->getEnableState(&b);
      ip_->getGripSignal(&b);
      for (const AxisState& s : ip_->getAxisStates()) ASSERT_FALSE(s.pos > 10.0);
      std::this_thread::sleep_for(1ms);
    }
  });

  ip_->setGripSignal(true);
  ip_->insertCmd(move({1.5, 0.0, 0.0, 0.0, 0.0, 0.0}));
  std::this_thread::sleep_for(200ms);
  ip_->stop();
  for (int i = 0; i < 2000 && queued() > 0; ++i) std::this_thread::sleep_for(5ms);
  EXPECT_EQ(queued(), 0u);
  EXPECT_GT(motors_[0]->position(), 0.0);
  EXPECT_LT(motors_[0]->position(), 1.5);
  EXPECT_EQ(ip_->stop_flag_, 0u);

  reading = false;
  reader.join();
  ip_->requestQuit();
  loop.join();
}

// What the loop publishes, seen from another process; the arm runs on
// virtual motors, which confirm enable at once and never confirm disable.
TEST_F(InterpolatorTest, StateFlagsReachASubscriberInAnotherProcess) {
  std::vector<std::unique_ptr<VirtualMotor>> virtual_motors;
  makeArm(6);
  for (int i = 0; i < 6; ++i) {
    virtual_motors.push_back(std::make_unique<VirtualMotor>());
    para_.axis_paras[i].motor = virtual_motors.back().get();
  }
  ip_ = std::make_unique<Interpolator>(para_, &kin_);
  std::thread loop([this] { ip_->run(); });
  {
    arm_test::ChildProcess listener({arm_test::executableDir() + "/state_topic_listener"},
                                    {{"ROS_DOMAIN_ID", std::getenv("ROS_DOMAIN_ID")}});
    EXPECT_TRUE(listener.waitForOutput("motor_state=1", 30s)) << listener.output();
    EXPECT_TRUE(listener.waitForOutput("system_state=0", 10s)) << listener.output();
    ip_->setAbnormalFlag(true);
    EXPECT_TRUE(listener.waitForOutput("system_state=1", 10s)) << listener.output();
    ip_->insertCmd(enableCmd(false));
    EXPECT_TRUE(listener.waitForOutput("motor_state=0\nmotor_state=1", 10s)) << listener.output();
  }
  ip_->requestQuit();
  loop.join();
}

}  // namespace
}  // namespace interp_test
