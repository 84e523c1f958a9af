// The 5 ms execution loop: each kind of command, the controlled stop, the
// state flags it publishes, and the inverse-kinematics choice.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>
#include <memory>
#include <random>
#include <thread>
#include <vector>

#include "arm_model.h"
#include "motion/commands/all_axises_joint_planner.h"
#include "motion/commands/motor_io_cmd.h"
#include "motion/commands/set_io_cmd.h"
#include "motion/loop/interpolator.h"
#include "ros_init.h"
#include "std_msgs/msg/bool.hpp"
#include "stdout_capture.h"
#include "test_motor.h"

namespace {

using arm_test::countOf;
using Capture = arm_test::StdoutCapture;

// One axis that follows f(t) until end, for samples no real planner gives.
struct Scripted : TrajectoryInterface {
  Scripted(std::function<double(double)> f, double end) : f(std::move(f)), end(end) {}
  int plan() override { return 0; }
  double position(int* finished, double t) const override { return *finished = t >= end, f(t); }
  void* setInput(const void*) override { return nullptr; }
  void* input() override { return nullptr; }
  int rePlan(const TrapezoidTiming&) override { return 0; }
  double motionTime() const override { return end; }
  const TrapezoidTiming* timing() const override { return nullptr; }
  std::function<double(double)> f;
  double end;
};

// An Interpolator over test motors, driven one pass at a time.
class InterpolatorTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { arm_test::initRosOnce(); }
  void makeArm(int axes = 6, bool enabled = true, double max_vel = 1.0, double max_acc = 2.0,
               double ratio = 1.0) {
    ip_.reset();
    motors_.clear();
    para_ = RobotPara{axes, std::vector<AxisReserved>(axes), {}};
    for (int i = 0; i < axes; ++i) {
      motors_.push_back(std::make_unique<TestMotor>(0.0, enabled));
      para_.axis_paras.push_back({max_vel, max_acc, ratio, motors_.back().get()});
    }
    ip_ = std::make_unique<Interpolator>(para_, &kin_);
    ip_->startLoop();
  }
  void passes(int n) { while (n-- > 0) ip_->runPass(); }
  bool runUntilIdle(int max_passes) {
    while (max_passes-- > 0 && (ip_->runPass(), ip_->testView().queued > 0)) {}
    return ip_->testView().queued == 0;
  }
  // Like the producers: synchronised trapezoids from the measured positions.
  AllAxisesJointPlanner* move(const std::vector<double>& to) {
    const std::vector<AxisState> at = ip_->getAxisStates();
    return build([&](int i, const AxisPara& a) -> TrajectoryInterface* {
      const TrapezoidPlannerInput in{0.0, at[i].pos, to[i], 0.0, 0.0, a.max_vel, a.max_acc, -a.max_acc};
      auto* p = new TrapezoidPlanner(1);
      p->setInput(&in);
      return p;
    });
  }
  AllAxisesJointPlanner* scripted(std::function<double(int, double)> f, double end) {
    return build([&](int i, const AxisPara&) { return new Scripted([f, i](double t) { return f(i, t); }, end); });
  }
  MotorIoCmd* enableCmd(bool on) {
    auto* cmd = new MotorIoCmd();
    cmd->setRobotPara(para_);
    cmd->setEnable(on);
    return cmd;
  }

  RobotPara para_;
  std::vector<std::unique_ptr<TestMotor>> motors_;
  ArmKinematics kin_ = arm_test::makeArmKinematics();
  std::unique_ptr<Interpolator> ip_;

 private:
  template <typename Make>
  AllAxisesJointPlanner* build(const Make& make) {
    auto* cmd = new AllAxisesJointPlanner();
    cmd->setRobotPara(para_);
    std::vector<TrajectoryInterface*> planners;
    for (int i = 0; i < para_.axis_num; ++i) planners.push_back(make(i, para_.axis_paras[i]));
    cmd->setTrajInterfaces(planners);
    cmd->plan();
    return cmd;
  }
};

// A sample over the limit (a jump, NaN) or a refused goal ends the move; a
// rejected sample leaves no trace, and a sample at the limit is not rejected.
TEST_F(InterpolatorTest, BadSamplesAndFailedSetsEndTheMove) {
  makeArm(6);
  const double nan = std::numeric_limits<double>::quiet_NaN();
  ip_->insertCmd(scripted([](int i, double) { return i == 2 ? 0.5 : 0.0; }, 1.0));
  ip_->insertCmd(scripted([](int, double t) { return std::min(t + 0.005, 0.25); }, 0.25));
  ip_->insertCmd(scripted([=](int, double t) { return t >= 0.02 ? nan : 0.25; }, 1.0));
  Capture cap;
  ip_->runPass();
  for (auto& m : motors_) EXPECT_EQ(m->calls(TestMotor::kSetPosition), 0);
  for (const AxisPlanState& s : ip_->testView().plan_states) EXPECT_EQ(s.pos + s.vel, 0.0);
  EXPECT_EQ(ip_->getNextMoveStart(), std::vector<double>(6, 0.25));
  ASSERT_TRUE(runUntilIdle(200));
  EXPECT_EQ(countOf(cap.text(), "The <3> axis planned velocity exceed the limit !\nThe <3> axis planned velocity is "
                                "100.000000 !\nThe current command has been killed!\n"), 1);
  EXPECT_EQ(motors_[0]->goals().size(), 56u);  // up to the goal, at rest, then NaN killed

  ip_->insertCmd(move(std::vector<double>(6, 0.5)));
  passes(10);
  motors_[2]->setResult(TestMotor::kSetPosition, kMotorGoalNotStored);
  const size_t sent = motors_[3]->goals().size();
  Capture failed;
  ip_->runPass();
  EXPECT_EQ(countOf(failed.text(), "When the 3 axis setMotorPosition has an error,errorcode=<5002>\n"), 1);
  EXPECT_EQ(motors_[3]->goals().size(), sent);
  EXPECT_EQ(ip_->testView().queued, 0u);
}

// Enable is sent on six passes; one never confirmed times out at 101.
TEST_F(InterpolatorTest, EnableIsSentOnSixPassesAndTimesOutUnconfirmed) {
  for (const bool confirms : {true, false}) {
    makeArm(6, false);
    motors_[3]->setIgnoreEnable(!confirms);
    ip_->insertCmd(enableCmd(true));
    Capture cap;
    ASSERT_TRUE(runUntilIdle(200));
    const std::string out = cap.text();
    const int last = confirms ? 6 : 100;
    for (int i = 0; i <= last + 1; ++i)
      ASSERT_EQ(countOf(out, "wait_peroid_num=" + std::to_string(i) + ";\n"), i <= last) << i;
    EXPECT_EQ(countOf(out, " enable or disable cmd time out error!!!,wait_peroid_num=101\n"), !confirms);
    for (auto& m : motors_) EXPECT_EQ(m->calls(TestMotor::kSetEnable), 6);
  }
}

// Reaches its target on the third status read.
struct FakeGripper : CtrlGripperInterface {
  int init() override { return 0; }
  int setEnableStatus(bool) override { return 0; }
  int setGripper(int command) override { return commands.push_back(command), 0; }
  int getEnableStatus(bool* at_target) override { return *at_target = ++reads >= 3, rc; }
  int getGripperStopped(bool* stopped) override { return *stopped = true, 0; }
  std::vector<int> commands;
  int reads = 0, rc = 0;
};

// The queued gripper command is driven until at target; what cannot run is
// dropped with a line instead of staying in hand forever.
TEST_F(InterpolatorTest, GripperCommandsAreDrivenAndOddCommandsDropped) {
  makeArm(2);
  FakeGripper gripper, failing;
  failing.rc = 9;
  for (CtrlGripperInterface* g : {&gripper, &failing, static_cast<FakeGripper*>(nullptr)}) {
    auto* cmd = new SetIoCmd();
    cmd->gripper_ = g;
    cmd->io_value_ = 42;
    ip_->insertCmd(cmd);
  }
  MotorIoCmd* odd = enableCmd(true);
  odd->cmd_type = 7;
  ip_->insertCmd(odd);
  Capture cap;
  ASSERT_TRUE(runUntilIdle(20));
  const std::string out = cap.text();
  EXPECT_EQ(gripper.commands, std::vector<int>{42});
  EXPECT_EQ(countOf(out, "Gripper Task Continue.\nGripper Task Continue.\nGripper Task Finish."), 1);
  EXPECT_EQ(countOf(out, "The gripper return error_code=<9> when getEnableStatus.\n"), 1);
  EXPECT_EQ(countOf(out, "has no gripper"), 1);
  EXPECT_EQ(countOf(out, "The command of type <7> is unknown"), 1);
}

// From any pass of a full-speed move the stop ends within [start, goal], never
// turning back nor braking over max_acc, its last step exactly 0, and drops
// the queue; a path without an end stops inside the joint limit; an unusable
// max_acc or velocity still gives a finite stop.
TEST_F(InterpolatorTest, StopAtAnyPassEndsWithinGoalAndLimits) {
  const double acc = 9.0, max_change = acc * 0.005 * 0.005 * (1 + 1e-9);
  const std::vector<double> to = {M_PI, -3.0, 1.0, -0.5, 2.0, -M_PI};
  for (int at = 1;; ++at) {
    SCOPED_TRACE(at);
    Capture cap;
    makeArm(6, true, 5.201081170943102, acc);
    ip_->insertCmd(move(to));
    ip_->insertCmd(enableCmd(false));
    passes(at);
    if (ip_->testView().queued < 2) break;
    ip_->stop();
    ASSERT_TRUE(runUntilIdle(1000));
    ASSERT_EQ(countOf(cap.text(), "It take "), 1);
    for (size_t i = 0; i < to.size(); ++i) {
      const std::vector<double> g = motors_[i]->goals();
      ASSERT_EQ(motors_[i]->calls(TestMotor::kSetEnable), 0);
      ASSERT_EQ(g.back(), g[g.size() - 2]);
      for (size_t k = 2; k < g.size(); ++k) {
        ASSERT_LE(std::fabs(g[k] - to[i] / 2), std::fabs(to[i]) / 2 + 1e-9) << i;
        ASSERT_GE((g[k] - g[k - 1]) * to[i], 0.0) << i;
        ASSERT_LE(std::fabs(g[k] - 2 * g[k - 1] + g[k - 2]), max_change) << i;
      }
    }
  }
  Capture cap;
  makeArm(2, true, std::numeric_limits<double>::infinity(), 2.0);
  para_.axis_paras[1].max_acc = 0.0;
  ip_ = std::make_unique<Interpolator>(para_, &kin_);
  motors_[0]->setPosition(3.0);
  ip_->insertCmd(scripted([](int i, double t) { return i == 0 ? 3.0 + 0.8 * t : t > 0.01 ? 1e308 : 0.0; }, 1e9));
  passes(26);
  ip_->stop();
  ASSERT_TRUE(runUntilIdle(200));
  EXPECT_LE(motors_[0]->position(), kin_.joint_max_[0]);
  EXPECT_EQ(countOf(cap.text(), "The <2> axis max_acc 0.000000 is not usable for the stop.\n"), 1);
  for (const AxisPlanState& s : ip_->testView().plan_states) EXPECT_EQ(s.vel, 0.0);
}

// A stop with nothing to stop (during a command's last step, or while idle)
// spares the next command; a collision stops every move until recover.
TEST_F(InterpolatorTest, StopsAndCollisionsCancelOnlyWhatTheyShould) {
  makeArm(6, true, 1.0, 2.0, 2.0);
  Capture cap;
  ip_->insertCmd(scripted([this](int, double) { return ip_->stop(), 0.0; }, 0.0));
  passes(1);
  ip_->stop();
  ip_->insertCmd(enableCmd(false));
  ASSERT_TRUE(runUntilIdle(20));
  for (auto& m : motors_) EXPECT_FALSE(m->enabled());
  for (auto& m : motors_) m->setEnabled(true);
  ip_->testRaiseCollision();
  ip_->insertCmd(move(std::vector<double>(6, 0.2)));
  ASSERT_TRUE(runUntilIdle(5));
  EXPECT_EQ(motors_[0]->position(), 0.0);
  ip_->setAbnormalFlag(false);
  ip_->insertCmd(move(std::vector<double>(6, 0.2)));
  ASSERT_TRUE(runUntilIdle(1000));
  EXPECT_EQ(countOf(cap.text(), "plan and curpos arrives goal"), 2);
  EXPECT_NEAR(motors_[5]->position(), 0.4, 1e-12);  // joint value x ratio
}

TEST_F(InterpolatorTest, FailedReadsPauseMoveAndStopWithoutLosingAStep) {
  auto run = [this](bool fail) {
    makeArm(2, true, 1.0, 2.0);
    ip_->insertCmd(move({2.0, 1.0}));
    auto failPasses = [&](TestMotor::Op op, int count) {
      motors_[1]->setResult(op, fail ? -1 : 0);
      const size_t sent = motors_[0]->goals().size();
      passes(fail ? count : 0);
      EXPECT_EQ(motors_[0]->goals().size(), sent);
      motors_[1]->setResult(op, 0);
    };
    passes(30);
    failPasses(TestMotor::kGetVelocity, 3);
    passes(270);
    ip_->stop();
    passes(10);
    failPasses(TestMotor::kGetPosition, 2);
    EXPECT_TRUE(runUntilIdle(500));
    return motors_[0]->goals();
  };
  Capture quiet;
  const std::vector<double> reference = run(false);
  EXPECT_EQ(run(true), reference);
}

// The loop on its own thread publishes its idle and fault flags to a subscriber.
TEST_F(InterpolatorTest, StateFlagsReachASubscriberWhileTheLoopRuns) {
  makeArm(6);
  std::mutex mutex;
  std::string seen[2];  // each flag's changes: "101" for idle, busy, idle
  auto listener = std::make_shared<rclcpp::Node>("loop_flags_listener");
  std::vector<rclcpp::Subscription<std_msgs::msg::Bool>::SharedPtr> subs;
  for (int f : {0, 1}) {
    subs.push_back(listener->create_subscription<std_msgs::msg::Bool>(
        f == 0 ? "motor_state" : "system_state", rclcpp::QoS(10), [&, f](const std_msgs::msg::Bool& msg) {
          std::lock_guard<std::mutex> lock(mutex);
          if (seen[f].empty() || seen[f].back() != '0' + msg.data) seen[f] += static_cast<char>('0' + msg.data);
        }));
  }
  auto saw = [&](int f, const std::string& text) {
    for (int i = 0; i < 1000; ++i, std::this_thread::sleep_for(std::chrono::milliseconds(10))) {
      std::lock_guard<std::mutex> lock(mutex);
      if (seen[f] == text) return true;
    }
    return false;
  };
  std::thread spinner([listener] { rclcpp::spin(listener); });
  std::thread loop([this] { ip_->run(); });
  EXPECT_TRUE(saw(0, "1"));
  ip_->insertCmd(move({1.5, 0.0, 0.0, 0.0, 0.0, 0.0}));
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  ip_->stop();
  EXPECT_TRUE(saw(0, "101"));
  EXPECT_GT(motors_[0]->position(), 0.0);
  EXPECT_LT(motors_[0]->position(), 1.5);
  ip_->setAbnormalFlag(true);
  EXPECT_TRUE(saw(1, "01"));
  ip_->requestQuit();
  loop.join();
  rclcpp::shutdown();
  spinner.join();
}

// The choice over poses of random joints reaches the pose near the joints it
// started from; where the closed form cannot reach (a5 moves the tool) it
// keeps the current joints.
TEST(IkChoice, ChoiceReachesThePoseNearTheCurrentJoints) {
  arm_test::initRosOnce();
  const std::vector<float> twists = {1.5707964f, 0, 0, -1.5707964f, 0};
  for (const float a5 : {0.0f, 10.0f}) {
    ArmKinematics kin({0, 0, 0, 0, 0}, twists, {20, 300, 250, 50, a5}, {100, 0, 0, 0, 30});
    Interpolator ip(RobotPara{}, &kin);
    std::mt19937 rng(7);
    std::uniform_real_distribution<float> joint(-3.1f, 3.1f);
    std::uniform_real_distribution<double> nudge(-0.05, 0.05);
    int unanswered = 0;
    for (int n = 0; n < 300; ++n) {
      JointVec5f truth, q;
      std::vector<double> current(5);
      for (int j = 0; j < 5; ++j) current[j] = (truth[j] = joint(rng)) + nudge(rng);
      Pose6D target, at;
      kin.forwardSE3(truth, target);
      Capture quiet;
      const std::vector<double> chosen =
          ip.chooseIkSolution({target.x, target.y, target.z, target.roll, target.pitch, target.yaw}, current);
      unanswered += chosen == current;
      if (chosen == current) continue;
      for (int j = 0; j < 5; ++j) EXPECT_NEAR(q[j] = static_cast<float>(chosen[j]), current[j], 0.051) << n;
      kin.forwardSE3(q, at);
      EXPECT_NEAR(at.x, target.x, 0.01f) << n;
      EXPECT_NEAR(at.z, target.z, 0.01f) << n;
    }
    EXPECT_LE(unanswered, a5 == 0.0f ? 2 : 300);
  }
  Capture quiet;
  Interpolator ip(RobotPara{}, nullptr);
  const std::vector<double> four = {0.1, 0.2, 0.3, 0.4};
  EXPECT_EQ(ip.chooseIkSolution({400, 0, 100, 0, 0, 0}, four), four);
}

}  // namespace
