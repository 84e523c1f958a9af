#include "interpolator_fixture.h"

namespace interp_test {
namespace {

TEST_F(InterpolatorTest, EnableIsSentOnSixPassesThenConfirmed) {
  makeArm(6, /*enabled=*/false);
  ip_->insertCmd(ioCmd(kMotorIoEnable, true));
  Capture cap1;
  ASSERT_TRUE(runUntilIdle(20));
  const std::string out = cap1.text();
  for (int i = 0; i <= 6; ++i) {
    EXPECT_EQ(count(out, "wait_peroid_num=" + std::to_string(i) + ";\n"), 1) << i;
  }
  EXPECT_EQ(count(out, "wait_peroid_num=7;"), 0);
  for (auto& m : motors_) {
    EXPECT_EQ(m->calls(TestMotor::kSetEnable), 6);
    EXPECT_TRUE(m->enabled());
  }
  ip_->runPass();
  bool on = false;
  ip_->getEnableState(&on);
  EXPECT_TRUE(on);
}

TEST_F(InterpolatorTest, UnconfirmedEnableTimesOutAtPass101) {
  makeArm(6, false);
  motors_[3]->setIgnoreEnable(true);
  ip_->insertCmd(ioCmd(kMotorIoEnable, true));
  Capture cap2;
  ASSERT_TRUE(runUntilIdle(200));
  const std::string out = cap2.text();
  for (int i = 0; i <= 100; ++i) {
    ASSERT_EQ(count(out, "wait_peroid_num=" + std::to_string(i) + ";\n"), 1) << i;
  }
  EXPECT_EQ(count(out, "wait_peroid_num=101;"), 0);
  EXPECT_EQ(count(out, " enable or disable cmd time out error!!!,wait_peroid_num=101\n"), 1);
  EXPECT_EQ(motors_[0]->calls(TestMotor::kSetEnable), 6);
  EXPECT_EQ(motors_[3]->calls(TestMotor::kSetEnable), 6);
}

TEST_F(InterpolatorTest, HomeIsRefusedWhileEnabled) {
  makeArm(6, /*enabled=*/true);
  ip_->insertCmd(ioCmd(kMotorIoHome));
  Capture cap3;
  ASSERT_TRUE(runUntilIdle(2));
  EXPECT_EQ(count(cap3.text(), "when set home, enable is ON error!"), 1);
  for (auto& m : motors_) EXPECT_EQ(m->calls(TestMotor::kHome), 0);
}

TEST_F(InterpolatorTest, HomeWhileDisabledHomesEveryAxisOrReportsFailure) {
  makeArm(6, false);
  ip_->insertCmd(ioCmd(kMotorIoHome));
  Capture cap4;
  ASSERT_TRUE(runUntilIdle(2));
  EXPECT_EQ(count(cap4.text(), "set home success!"), 1);
  for (auto& m : motors_) EXPECT_EQ(m->lastHomeTimeout(), 3000u);

  motors_[2]->setResult(TestMotor::kHome, kMotorHomeTimeout);
  ip_->insertCmd(ioCmd(kMotorIoHome));
  Capture cap5;
  ASSERT_TRUE(runUntilIdle(2));
  EXPECT_EQ(count(cap5.text(), "set home failed!"), 1);
}

}  // namespace
}  // namespace interp_test
