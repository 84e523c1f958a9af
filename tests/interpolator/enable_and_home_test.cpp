#include "interpolator_fixture.h"

namespace interp_test {
namespace {

// Enable is sent on six passes; a set that never confirms times out at 101.
TEST_F(InterpolatorTest, EnableIsSentOnSixPassesAndTimesOutUnconfirmed) {
  for (const bool confirms : {true, false}) {
    makeArm(6, /*enabled=*/false);
    motors_[3]->setIgnoreEnable(!confirms);
    ip_->insertCmd(enableCmd(true));
    Capture cap;
    ASSERT_TRUE(runUntilIdle(200));
    const std::string out = cap.text();
    const int last = confirms ? 6 : 100;
    for (int i = 0; i <= last; ++i)
      ASSERT_EQ(countOf(out, "wait_peroid_num=" + std::to_string(i) + ";\n"), 1) << i;
    EXPECT_EQ(countOf(out, "wait_peroid_num=" + std::to_string(last + 1) + ";"), 0);
    EXPECT_EQ(countOf(out, " enable or disable cmd time out error!!!,wait_peroid_num=101\n"),
              confirms ? 0 : 1);
    for (auto& m : motors_) EXPECT_EQ(m->calls(TestMotor::kSetEnable), 6);
  }
}

}  // namespace
}  // namespace interp_test
