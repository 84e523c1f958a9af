#include "interpolator_fixture.h"

namespace interp_test {
namespace {

// Each waiting pass prints its count once, 0 to last, and no more.
void expectWaitLines(const std::string& out, int last) {
  for (int i = 0; i <= last; ++i)
    ASSERT_EQ(countOf(out, "wait_peroid_num=" + std::to_string(i) + ";\n"), 1) << i;
  EXPECT_EQ(countOf(out, "wait_peroid_num=" + std::to_string(last + 1) + ";"), 0);
}

TEST_F(InterpolatorTest, EnableIsSentOnSixPassesThenConfirmed) {
  makeArm(6, /*enabled=*/false);
  ip_->insertCmd(ioCmd(kMotorIoEnable, true));
  Capture cap;
  ASSERT_TRUE(runUntilIdle(20));
  expectWaitLines(cap.text(), 6);
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
  Capture cap;
  ASSERT_TRUE(runUntilIdle(200));
  const std::string out = cap.text();
  expectWaitLines(out, 100);
  EXPECT_EQ(countOf(out, " enable or disable cmd time out error!!!,wait_peroid_num=101\n"), 1);
  EXPECT_EQ(motors_[3]->calls(TestMotor::kSetEnable), 6);
}

TEST_F(InterpolatorTest, HomeOnlyWhileDisabledAndReportsFailure) {
  makeArm(6, /*enabled=*/true);
  ip_->insertCmd(ioCmd(kMotorIoHome));
  Capture refused;
  ASSERT_TRUE(runUntilIdle(2));
  EXPECT_EQ(countOf(refused.text(), "when set home, enable is ON error!"), 1);
  for (auto& m : motors_) EXPECT_EQ(m->calls(TestMotor::kHome), 0);

  makeArm(6, false);
  ip_->insertCmd(ioCmd(kMotorIoHome));
  Capture homed;
  ASSERT_TRUE(runUntilIdle(2));
  for (auto& m : motors_) EXPECT_EQ(m->lastHomeTimeout(), 3000u);
  motors_[2]->setResult(TestMotor::kHome, kMotorHomeTimeout);
  ip_->insertCmd(ioCmd(kMotorIoHome));
  ASSERT_TRUE(runUntilIdle(2));
  const std::string out = homed.text();
  EXPECT_EQ(countOf(out, "set home success!"), 1);
  EXPECT_EQ(countOf(out, "set home failed!"), 1);
}

}  // namespace
}  // namespace interp_test
