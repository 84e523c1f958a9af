// Closed-form inverse kinematics: branch reports and solution bookkeeping.
#include <gtest/gtest.h>

#include <string>

#include "arm_kinematics.h"
#include "arm_model.h"

namespace {

int count(const std::string& text, const std::string& what) {
  int n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

TEST(InverseBranches, ArmWithoutSecondLinkHasNoElbowSolution) {
  const ArmKinematics kin = makeArmKinematics();
  IkSolutions sols;
  sols.num_sols = 5;
  testing::internal::CaptureStdout();
  EXPECT_FALSE(kin.inverse(Pose6D(300, 100, 500, 0, 0, 0), sols));
  std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(sols.num_sols, 0);
  EXPECT_NE(out.find("num_sols: 0"), std::string::npos);
  EXPECT_EQ(count(out, "q3 is not a valid number") + count(out, "equation (2,2) error") * 2 +
                count(out, "equation (3,3) error") * 4,
            8)
      << "every one of the eight branches must be reported once";
}

TEST(InverseBranches, TargetOutOfReachIsReportedPerBranch) {
  // A vertical-plane arm with two 100 mm links; the target is far beyond them.
  const ArmKinematics kin({0, 0, 0, 0, 0}, {1.5707964f, 0, 0, 1.5707964f, 0}, {0, 100, 100, 0, 0},
                          {0, 0, 0, 0, 0});
  IkSolutions sols;
  testing::internal::CaptureStdout();
  EXPECT_FALSE(kin.inverse(Pose6D(1000, 0, 0, 0, 1.5707964f, 0), sols));
  std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(sols.num_sols, 0);
  EXPECT_NE(out.find("case 0 0 0 q3 is not a valid number"), std::string::npos);
  EXPECT_NE(out.find("case 0 0 1 q3 is not a valid number"), std::string::npos);
}

TEST(SolutionChoiceHelpers, LargestJointChangeKeepsFirstIndexOnTies) {
  uint8_t index = 9;
  EXPECT_EQ(maxAbsJoint5(JointVec5f(0.1f, -0.7f, 0.7f, 0.2f, 0.0f), &index), 0.7f);
  EXPECT_EQ(index, 1);
  const JointVec5f d = diffVec5(JointVec5f(1, 2, 3, 4, 5), JointVec5f(5, 4, 3, 2, 1));
  EXPECT_EQ(maxAbsJoint5(d, &index), 4.0f);
  EXPECT_EQ(index, 0);
  const JointVec6f d6 = diffVec6(JointVec6f(1, 1, 1, 1, 1, 1), JointVec6f(0, 1, 2, 3, 4, 5));
  EXPECT_EQ(d6[5], -4.0f);
}

}  // namespace
