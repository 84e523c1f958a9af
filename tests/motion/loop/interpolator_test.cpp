// The 5 ms execution loop: each kind of command, the controlled stop, the flags.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <random>
#include <thread>

#include "arm_model.h"
#include "motion/commands/all_axises_joint_planner.h"
#include "motion/commands/set_io_cmd.h"
#include "motion/loop/interpolator.h"
#include "motion/producers/joint_move_producer.h"
#include "ros_init.h"
#include "std_msgs/msg/bool.hpp"
#include "stdout_capture.h"
#include "test_motor.h"

namespace {

using arm_test::countOf;
using Capture = arm_test::StdoutCapture;

// One axis that follows f(t) until end, for samples no real planner gives.
struct Scripted : TrapezoidPlanner {
  Scripted(std::function<double(double)> f, double end) : f(std::move(f)), end(end) {}
  int plan() override { return 0; }
  double position(int* finished, double t) const override { return *finished = t >= end, f(t); }
  double motionTime() const override { return end; }
  std::function<double(double)> f;  // position at t
  const double end;
};

class InterpolatorTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { arm_test::initRosOnce(); }
  void makeArm(int axes = 6, bool on = true, double max_vel = 1.0, double max_acc = 2.0, double ratio = 1.0) {
    ip_.reset(), motors_.clear();
    para_ = RobotPara{axes, std::vector<AxisReserved>(axes), {}};
    for (int i = 0; i < axes; ++i) {
      motors_.push_back(std::make_unique<TestMotor>(0.0, on));
      para_.axis_paras.push_back({max_vel, max_acc, ratio, motors_.back().get()});
    }
    ip_ = std::make_unique<Interpolator>(para_, &kin_);
  }
  void passes(int n) { while (n-- > 0) ip_->runPass(); }
  bool runUntilIdle(int n) {
    while (n-- > 0 && (ip_->runPass(), ip_->testView().queued > 0)) {}
    return ip_->testView().queued == 0;
  }
  void move(const std::vector<double>& to) {
    EXPECT_TRUE(isQueued(joint_move::planJointMove(ip_.get(), para_.axis_num, to, 1.0)));
  }
  AllAxisesJointPlanner* scripted(std::function<double(int, double)> f, double end) {
    auto* cmd = new AllAxisesJointPlanner();
    cmd->setRobotPara(para_);
    std::vector<TrajectoryInterface*> axes;
    for (int i = 0; i < para_.axis_num; ++i)
      axes.push_back(new Scripted([f, i](double t) { return f(i, t); }, end));
    cmd->setTrajInterfaces(axes);
    return cmd->plan(), cmd;
  }

  RobotPara para_;
  std::vector<std::unique_ptr<TestMotor>> motors_;
  ArmKinematics kin_ = arm_test::makeArmKinematics();
  std::unique_ptr<Interpolator> ip_;
};

// A sample over the limit (a jump, NaN) or a refused goal ends the move; a
// rejected sample leaves no trace, and a sample at the limit is not rejected.
TEST_F(InterpolatorTest, BadSamplesAndFailedSetsEndTheMove) {
  makeArm(6);
  ip_->insertCmd(scripted([](int i, double) { return i == 2 ? 0.5 : 0.0; }, 1.0));
  ip_->insertCmd(scripted([](int, double t) { return std::min(t + 0.005, 0.25); }, 0.25));
  ip_->insertCmd(scripted([](int, double t) { return t >= 0.02 ? std::nan("") : 0.25; }, 1.0));
  Capture cap;
  ip_->runPass();
  for (const AxisPlanState& s : ip_->testView().plan_states) EXPECT_EQ(s.pos + s.vel, 0.0);
  EXPECT_EQ(ip_->getNextMoveStart(), std::vector<double>(6, 0.25));
  ASSERT_TRUE(runUntilIdle(200));
  motors_[2]->setResult(TestMotor::kSetPosition, kMotorGoalNotStored);
  move(std::vector<double>(6, 0.5));
  ip_->runPass();
  EXPECT_EQ(motors_[3]->goals().size(), 56u);  // up to the goal, at rest, then NaN killed; none past axis 3
  const std::string out = cap.text();
  EXPECT_EQ(countOf(out, "The <3> axis planned velocity exceed the limit !\nThe <3> axis planned "
                         "velocity is 100.000000 !\nThe current command has been killed!\n"), 1);
  EXPECT_EQ(countOf(out, "When the 3 axis setMotorPosition has an error,errorcode=<5002>\n"), 1);
  EXPECT_EQ(ip_->testView().queued, 0u);
  for (auto& m : motors_) EXPECT_EQ(m->calls(TestMotor::kHold), 2);  // after each kill
}

// An axis that stops following ends the move once it is further behind its goals than they went (at the
// move's fastest speed so far) in the time its motor gives a goal to show, plus reading noise, and not a pass
// sooner; a move that cannot arrive ends after its settle time. Either way every axis holds where it stands,
// and the move queued behind starts there.
TEST_F(InterpolatorTest, MovesThatEndWithoutArrivingHoldEveryAxisWhereItStands) {
  makeArm(6);
  Capture cap;
  ip_->insertCmd(scripted([](int, double t) { return 0.5 * t; }, 1.0));
  move(std::vector<double>(6, 0.2));
  motors_[2]->setLag(0.101);  // may lag 0.5 x 0.101 + 0.02 = 0.0705 rad
  passes(40);
  motors_[2]->setStuck(true);  // at 0.0975, the goals go on by 0.0025 a pass
  for (int n = 0; n < 100 && motors_[0]->calls(TestMotor::kHold) == 0; ++n) ip_->runPass();
  EXPECT_EQ(motors_[0]->goals().size(), 69u);
  for (auto& m : motors_) EXPECT_EQ(m->calls(TestMotor::kHold), 1);
  motors_[2]->setStuck(false);
  ASSERT_TRUE(runUntilIdle(1000));
  EXPECT_EQ(motors_[2]->position(), 0.2);

  makeArm(6);
  motors_[2]->setLag(1.0), motors_[2]->setStuck(true);  // stalled, but within what it may lag
  move({0.0, 0.0, 0.1, 0.0, 0.0, 0.0});
  ASSERT_TRUE(runUntilIdle(1000));
  for (auto& m : motors_) EXPECT_EQ(m->calls(TestMotor::kHold), 1);
  const std::string out = cap.text();
  EXPECT_EQ(countOf(out, "The <3> axis has fallen 0.072500 rad behind its goals, more than the 0.070500 it may "
                         "lag: the trajectory has been ended.\n"), 1);
  EXPECT_EQ(countOf(out, "The <1> axis was planned from 0.000000 but stands at 0.170000"), 1);
  EXPECT_EQ(countOf(out, "plan and curpos arrives goal"), 1);
  EXPECT_EQ(countOf(out, "The trajectory has not arrived 3.0 s after its plan ended: <3> -0.100000 rad from its "
                         "goal at 0.000000 rad/s.\n"), 1);
}

// Moves queued back to back (a spline among them starts at its own first point) each start where
// the one before ends: all arrive, and no goal steps further than max_vel allows in a pass.
TEST_F(InterpolatorTest, MovesQueuedBackToBackAllArrive) {
  makeArm(6);
  Capture cap;
  joint_move::SplineMoveRequest spline{2, 4, 7, {}};  // rows of six joints and a time
  for (int k = 0; k < 28; ++k) spline.data.push_back(k % 7 < 6 ? 0.3 + 0.1 * (k / 7) : 0.6 * (k / 7));
  move(std::vector<double>(6, 0.3));
  ASSERT_TRUE(isQueued(submitSplineMove(ip_.get(), 6, spline)));
  move(std::vector<double>(6, 0.2));
  ASSERT_TRUE(runUntilIdle(3000));
  EXPECT_EQ(countOf(cap.text(), "plan and curpos arrives goal"), 3);
  const std::vector<double> g = motors_[0]->goals();
  for (size_t k = 1; k < g.size(); ++k) ASSERT_LE(std::fabs(g[k] - g[k - 1]), 0.005 + 1e-9) << k;
  EXPECT_NEAR(g.back(), 0.2, 1e-9);
}

// A move starts and arrives on readings of the latest pass only, and starts where they put the arm.
TEST_F(InterpolatorTest, MovesStartFromAndArriveOnCurrentReadingsOnly) {
  makeArm(6);
  Capture cap;
  motors_[2]->setAge(1);
  move(std::vector<double>(6, 0.3));
  passes(50);
  EXPECT_TRUE(motors_[2]->goals().empty());
  motors_[2]->setPosition(0.1), motors_[2]->setAge(0);
  passes(1);
  EXPECT_EQ(motors_[2]->goals().at(0), 0.1);
  motors_[4]->setAge(1);
  passes(300);
  EXPECT_EQ(ip_->testView().queued, 1u);  // at its goal, but not read there
  motors_[4]->setAge(0);
  EXPECT_TRUE(runUntilIdle(1));
  motors_[0]->setAge(1);
  move(std::vector<double>(6, 0.0));
  EXPECT_TRUE(runUntilIdle(101));
  const std::string out = cap.text();
  EXPECT_EQ(countOf(out, "The <3> axis was planned from 0.000000 but stands at 0.100000"), 1);
  EXPECT_EQ(countOf(out, "plan and curpos arrives goal"), 1);
  EXPECT_EQ(countOf(out, "can not start: the <1> axis has no current position reading."), 1);
}

// Poses of random joints of a five-joint arm the closed form fits: every solution reaches the pose with
// joints in (-pi, pi], and from joints near the true ones the choice does too. What the closed form ignores
// (a5 moves the tool, a roll offset turns it) leaves nothing that misses; a sixth column changes nothing.
TEST_F(InterpolatorTest, InverseSolutionsAndTheChoiceReachThePose) {
  const std::vector<float> twists = {1.5707964f, 0, 0, -1.5707964f, 0}, d = {100, 0, 0, 0, 30};
  std::mt19937 rng(7);
  std::uniform_real_distribution<float> joint(-3.1f, 3.1f);
  Capture quiet;
  // The last arm also keeps its elbow at or below 0: a solution beyond it is never chosen.
  for (const auto& [a5, roll, elbow_max] : {std::array<float, 3>{0, 0, 4}, {10, 0, 4}, {0, 0.5f, 4}, {0, 0, 0}}) {
    ArmKinematics kin({0, 0, 0, 0, roll}, twists, {20, 300, 250, 50, a5}, d);
    ArmKinematics six({0, 0, 0, 0, roll, 0.3f}, {twists[0], 0, 0, twists[3], 0, 0.7f},
                      {20, 300, 250, 50, a5, 15}, {d[0], 0, 0, 0, d[4], 40});
    kin.joint_max_[2] = elbow_max;
    Interpolator ip(RobotPara{}, &kin);
    auto reaches = [&kin](const JointVec5f& q, const Pose6D& target) {
      Pose6D at;
      kin.forwardSE3(q, at);
      bool near = std::fabs(at.x - target.x) <= 0.01f && std::fabs(at.y - target.y) <= 0.01f &&
                  std::fabs(at.z - target.z) <= 0.01f;
      for (int k = 0; k < 9; ++k) near = near && std::fabs(at.rotation[k] - target.rotation[k]) <= 1e-4f;
      for (int j = 0; j < 5; ++j) near = near && std::fabs(q[j]) <= 3.1415927f;
      return near;
    };
    int unanswered = 0;
    for (int n = 0; n < 1000; ++n) {
      JointVec5f truth;
      std::vector<double> current(5);
      for (int j = 0; j < 5; ++j) current[j] = (truth[j] = joint(rng)) + 0.05 * (j % 2 ? 1 : -1);
      Pose6D target;
      IkSolutions sols, six_sols;
      kin.forwardSE3(truth, target);
      ASSERT_EQ(kin.inverse(target, sols), six.inverse(target, six_sols)) << n;
      for (int s = 0; s < sols.num_sols; ++s) ASSERT_TRUE(reaches(sols.q_sols[s], target)) << n;
      ASSERT_EQ(std::memcmp(six_sols.q_sols, sols.q_sols, sizeof(sols.q_sols)), 0) << n;
      const auto chosen = ip.chooseIkSolution({target.x, target.y, target.z, target.roll, target.pitch, target.yaw},
                                              current);
      if (chosen == current && ++unanswered) continue;
      EXPECT_TRUE(reaches(JointVec5f(chosen[0], chosen[1], chosen[2], chosen[3], chosen[4]), target)) << n;
      EXPECT_LE(chosen[2], elbow_max) << n;
      // The true joints are within 0.05 of current: the nearest solution is no farther.
      for (int j = 0; j < 5 && truth[2] <= elbow_max; ++j) EXPECT_NEAR(chosen[j], current[j], 0.051) << n;
    }
    EXPECT_LE(unanswered, a5 + roll + elbow_max == 4 ? 5 : 1000);  // the arm that fits: singular poses only
  }
}

TEST_F(InterpolatorTest, EnableIsSentOnSixPassesAndTimesOutUnconfirmed) {
  for (const bool confirms : {true, false}) {
    makeArm(6, false);
    motors_[3]->setIgnoreEnable(!confirms);
    joint_move::queueEnableCmd(ip_.get(), true);
    Capture cap;
    ASSERT_TRUE(runUntilIdle(200));
    const std::string out = cap.text();
    for (int i = 0, last = confirms ? 6 : 100; i <= last + 1; ++i)
      ASSERT_EQ(countOf(out, "wait_peroid_num=" + std::to_string(i) + ";\n"), i <= last) << i;
    EXPECT_EQ(countOf(out, " enable or disable cmd time out error!!!,wait_peroid_num=101\n"), !confirms);
    for (auto& m : motors_) EXPECT_EQ(m->calls(TestMotor::kSetEnable), 6);
  }
}

struct FakeGripper : CtrlGripperInterface {
  int init() override { return 0; }
  int setEnableStatus(bool) override { return 0; }
  int setGripper(int command) override { return commands.push_back(command), 0; }
  int getEnableStatus(bool* at_target) override { return *at_target = ++reads >= 3, 0; }
  int getGripperStopped(bool* stopped) override { return *stopped = true, 0; }
  std::vector<int> commands;
  int reads = 0;
};

// A queued gripper command is driven until at target; what cannot run is dropped with a line, not kept forever.
TEST_F(InterpolatorTest, GripperCommandsAreDrivenAndOddCommandsDropped) {
  makeArm(2);
  FakeGripper gripper;
  for (CtrlGripperInterface* g : {&gripper, static_cast<FakeGripper*>(nullptr)}) {
    auto cmd = std::make_unique<SetIoCmd>();
    cmd->gripper_ = g, cmd->io_value_ = 42;
    ip_->insertCmd(std::move(cmd));
  }
  ip_->insertCmd(std::make_unique<AbstractCmdInterface>());  // of no kind the loop knows
  Capture cap;
  ASSERT_TRUE(runUntilIdle(20));
  const std::string out = cap.text();
  EXPECT_EQ(gripper.commands, std::vector<int>{42});
  EXPECT_EQ(countOf(out, "Gripper Task Continue.\nGripper Task Continue.\nGripper Task Finish."), 1);
  EXPECT_EQ(countOf(out, "has no gripper") + countOf(out, "The command of type <-1> is unknown"), 2);
}

// Each poll of a running gripper command publishes whether the gripper is at its target; nothing
// else does, a command dropped without a gripper included.
TEST_F(InterpolatorTest, GripperStateReachesItsTopicOncePerPoll) {
  makeArm(2);
  std::mutex mutex;
  std::string seen;  // "0" and "1" in arrival order
  bool idle_seen = false;
  auto node = std::make_shared<rclcpp::Node>("gripper_state_listener");
  auto sub = node->create_subscription<std_msgs::msg::Bool>(
      "gripper_cmd_state", rclcpp::QoS(10), [&](const std_msgs::msg::Bool& m) {
        std::lock_guard<std::mutex> lock(mutex);
        seen += m.data ? '1' : '0';
      });
  auto idle = node->create_subscription<std_msgs::msg::Bool>(
      "motor_state", rclcpp::QoS(10), [&](const std_msgs::msg::Bool&) {
        std::lock_guard<std::mutex> lock(mutex);
        idle_seen = true;
      });
  auto wait = [&](bool passes, auto done) {
    for (int i = 0; i < 3000; ++i, std::this_thread::sleep_for(std::chrono::milliseconds(10))) {
      if (passes) ip_->runPass();
      if (std::lock_guard<std::mutex> lock(mutex); done()) return true;
    }
    return false;
  };
  std::thread spinner([node] { rclcpp::spin(node); });
  // Passes without a gripper command, until the state node's flags are seen to arrive.
  EXPECT_TRUE(wait(true, [&] { return idle_seen; }));
  FakeGripper gripper;
  for (CtrlGripperInterface* g : {static_cast<FakeGripper*>(nullptr), &gripper}) {
    auto cmd = std::make_unique<SetIoCmd>();
    cmd->gripper_ = g;
    ip_->insertCmd(std::move(cmd));
  }
  Capture cap;
  ASSERT_TRUE(runUntilIdle(20));
  cap.text();
  EXPECT_TRUE(wait(false, [&] { return seen.size() >= 3; }));
  EXPECT_EQ(seen, "001");
  rclcpp::shutdown(), spinner.join();
}

// From any pass of a full-speed move the stop ends within [start, goal], never turning back nor
// braking over max_acc, its last step exactly 0, and drops the queue; so does a stop of random
// splines that fit, within the joint limits only (they arrive, unstopped, within them); a path
// without an end stops inside the joint limit; an unusable max_acc or velocity still stops.
TEST_F(InterpolatorTest, StopAtAnyPassEndsWithinGoalAndLimits) {
  const double acc = 9.0, max_change = acc * 0.005 * 0.005 * (1 + 1e-9);
  const std::vector<double> to = {M_PI, -3.0, 1.0, -0.5, 2.0, -M_PI};
  std::mt19937 rng(3);
  std::uniform_real_distribution<> knot(-1.0, 1.0), gap(0.2, 0.6);
  for (int m = 0; m < 3; ++m) {
    joint_move::SplineMoveRequest spline{2, 4, 7, std::vector<double>(28, 0.0)};
    auto queue = [&] { return m == 0 ? (move(to), true) : isQueued(submitSplineMove(ip_.get(), 6, spline)); };
    for (Capture quiet; makeArm(6, true, 5.201081170943102, acc), m > 0 && !queue();)
      for (int k = 7; k < 28; ++k) spline.data[k] = k % 7 < 6 ? knot(rng) : spline.data[k - 7] + gap(rng);
    for (int at = 1;; ++at) {
      SCOPED_TRACE(testing::Message() << m << " at " << at);
      Capture cap;
      makeArm(6, true, 5.201081170943102, acc);
      queue();
      joint_move::queueEnableCmd(ip_.get(), false);
      passes(at);
      if (ip_->testView().queued < 2) break;
      const size_t stopped_at = std::max<size_t>(motors_[0]->goals().size(), 2);
      ip_->stop();
      ASSERT_TRUE(runUntilIdle(1000));
      ASSERT_EQ(countOf(cap.text(), "It take "), 1);
      for (size_t i = 0; i < to.size(); ++i) {
        const std::vector<double> g = motors_[i]->goals();
        const size_t from = m == 0 ? 2 : stopped_at;
        const double dir = m == 0 ? to[i] : g[from - 1] - g[from - 2];
        const double lo = m == 0 ? std::min(to[i], 0.0) : kin_.joint_min_[i];
        const double hi = m == 0 ? std::max(to[i], 0.0) : kin_.joint_max_[i];
        ASSERT_EQ(motors_[i]->calls(TestMotor::kSetEnable), 0);
        ASSERT_EQ(g.back(), g[g.size() - 2]);
        for (size_t k = 2; k < g.size(); ++k) {
          ASSERT_TRUE(g[k] >= lo - 1e-9 && g[k] <= hi + 1e-9) << i;
          ASSERT_TRUE(k < from || (g[k] - g[k - 1]) * dir >= 0.0) << i;
          ASSERT_TRUE(k < from || std::fabs(g[k] - 2 * g[k - 1] + g[k - 2]) <= max_change) << i;
        }
      }
    }
    EXPECT_EQ(motors_[5]->position(), m == 0 ? to[5] : spline.data[26]);  // unstopped, it arrives
  }
  Capture cap;
  makeArm(2, true, INFINITY, 0.0);
  motors_[0]->setPosition(3.0);
  ip_->insertCmd(scripted([](int i, double t) { return i == 0 ? 3.0 + 0.8 * t : t > 0.01 ? 1e308 : 0; }, 1e9));
  passes(26);
  ip_->stop();
  ASSERT_TRUE(runUntilIdle(200));
  EXPECT_LE(motors_[0]->position(), kin_.joint_max_[0]);
  EXPECT_EQ(countOf(cap.text(), "The <2> axis max_acc 0.000000 is not usable for the stop.\n"), 1);
  for (const AxisPlanState& s : ip_->testView().plan_states) EXPECT_EQ(s.vel, 0.0);
}

// A stop with nothing to stop (during a command's last step, or while idle) spares the next command; a
// collision stops every move until recover.
TEST_F(InterpolatorTest, StopsAndCollisionsCancelOnlyWhatTheyShould) {
  makeArm(6, true, 1.0, 2.0, 2.0);
  Capture cap;
  ip_->insertCmd(scripted([this](int, double) { return ip_->stop(), 0.0; }, 0.0));
  passes(1);
  ip_->stop();
  joint_move::queueEnableCmd(ip_.get(), false);
  ASSERT_TRUE(runUntilIdle(20));
  for (auto& m : motors_) EXPECT_FALSE(m->enabled());
  for (auto& m : motors_) m->setEnabled(true);
  move(std::vector<double>(6, 0.2));
  ip_->testRaiseCollision();
  ASSERT_TRUE(runUntilIdle(5));
  passes(3);  // idle passes while the collision stands
  EXPECT_EQ(motors_[0]->position(), 0.0);
  ip_->setAbnormalFlag(false);
  move(std::vector<double>(6, 0.2));
  ASSERT_TRUE(runUntilIdle(1000));
  EXPECT_EQ(countOf(cap.text(), "plan and curpos arrives goal"), 2);
  EXPECT_NEAR(motors_[5]->position(), 0.4, 1e-12);  // joint value x ratio
  std::vector<double> read;
  ip_->getJointPositions(&read);
  EXPECT_NEAR(read.at(5), 0.2, 1e-3);  // motor value / ratio
  // A stop before the move's first sample holds the arm where it is measured.
  motors_[0]->setPosition(0.6);
  move(std::vector<double>(6, 0.5));
  ip_->stop();
  ASSERT_TRUE(runUntilIdle(50));
  EXPECT_EQ(motors_[0]->position(), 0.6);
}

// A stop cancels the command in hand and what was queued before it; what is queued during the
// braking (a move, a power-off) runs once the arm rests, in order, unless a second stop during the
// braking cancels it too. A command that ends as the stop is asked leaves it nothing to cancel.
TEST_F(InterpolatorTest, StopCancelsWhatCameBeforeItAndRunsWhatCameAfter) {
  makeArm(6);
  Capture cap;
  ip_->insertCmd(scripted([this](int, double) { return ip_->stop(), 0.0; }, 0.0));
  passes(1);
  move(std::vector<double>(6, 0.1));
  ASSERT_TRUE(runUntilIdle(500));
  EXPECT_NEAR(motors_[0]->position(), 0.1, 1e-12);

  move(std::vector<double>(6, 1.0));
  move(std::vector<double>(6, -1.0));  // queued before the stop: never runs
  passes(150);                         // at full speed
  ip_->stop();
  EXPECT_GT(ip_->getNextMoveStart().at(0), 0.4);  // where the arm is, not where the cancelled moves end
  passes(3);
  move(std::vector<double>(6, 0.2));
  joint_move::queueEnableCmd(ip_.get(), false);
  ASSERT_TRUE(runUntilIdle(2000));
  const std::vector<double> g = motors_[0]->goals();
  EXPECT_GE(*std::min_element(g.begin(), g.end()), 0.0);
  for (auto& m : motors_) EXPECT_TRUE(!m->enabled() && std::fabs(m->position() - 0.2) < 1e-12);

  for (auto& m : motors_) m->setEnabled(true);
  move(std::vector<double>(6, 1.0));
  passes(100);
  ip_->stop();
  passes(3);
  joint_move::queueEnableCmd(ip_.get(), false);
  passes(3);
  ip_->stop();
  ASSERT_TRUE(runUntilIdle(500));
  for (auto& m : motors_) EXPECT_TRUE(m->enabled() && m->calls(TestMotor::kSetEnable) == 6);
  EXPECT_LT(motors_[0]->position(), 1.0);
  const std::string out = cap.text();
  EXPECT_EQ(countOf(out, "plan and curpos arrives goal"), 3);
  EXPECT_EQ(countOf(out, "It take "), 2);  // a stop during the braking does not plan it anew
}

// Stops hammered from another thread while moves run on the loop's thread: a stop that has
// dropped everything leaves nothing behind, so the next command (a power-off) runs.
TEST_F(InterpolatorTest, HammeredStopsLeaveNothingBehind) {
  makeArm(6);
  Capture quiet;
  for (int trial = 0; trial < 50; ++trial) {
    for (double to : {0.1, 0.2, 0.3}) move(std::vector<double>(6, to));
    std::atomic<bool> hammer{true}, idle{false};
    std::thread stopper([&] { while (hammer) ip_->stop(); });
    std::thread([&] { idle = runUntilIdle(1000); }).join();
    hammer = false, stopper.join();
    joint_move::queueEnableCmd(ip_.get(), false);
    ASSERT_TRUE(idle && ip_->testView().stop_flag == 0 && runUntilIdle(200) && !motors_[0]->enabled()) << trial;
    for (auto& m : motors_) m->setEnabled(true);
  }
}

// Home calibrates only while every axis reads torque off: one axis holding torque, or one whose state
// cannot be read, refuses it whole, and the command after it runs.
TEST_F(InterpolatorTest, HomeRunsOnlyWithEveryTorqueReadOff) {
  makeArm(6, false);
  Capture cap;
  for (int round = 0; round < 3; ++round) {
    motors_[2]->setEnabled(round == 0);
    motors_[4]->setResult(TestMotor::kGetEnable, round == 1 ? -1 : 0);
    joint_move::queueHomeCmd(ip_.get());
    ASSERT_TRUE(runUntilIdle(5)) << round;
    for (auto& m : motors_) ASSERT_EQ(m->calls(TestMotor::kHome), round == 2 ? 1 : 0) << round;
  }
  const std::string out = cap.text();
  EXPECT_EQ(countOf(out, "when set home, enable is ON error!"), 2);
  EXPECT_EQ(countOf(out, "set home success!"), 1);
}

TEST_F(InterpolatorTest, FailedReadsPauseMoveAndStopWithoutLosingAStep) {
  auto run = [this](bool fail) {
    makeArm(2);
    move({2.0, 1.0});
    for (const TestMotor::Op op : {TestMotor::kGetVelocity, TestMotor::kGetPosition}) {
      op == TestMotor::kGetVelocity ? passes(30) : (passes(270), ip_->stop(), passes(10));
      const size_t sent = motors_[0]->goals().size();
      motors_[1]->setResult(op, fail ? -1 : 0);
      passes(fail ? 3 : 0);
      motors_[1]->setResult(op, 0);
      EXPECT_EQ(motors_[0]->goals().size(), sent);
    }
    EXPECT_TRUE(runUntilIdle(500));
    return motors_[0]->goals();
  };
  EXPECT_EQ(run(true), run(false));
}

TEST_F(InterpolatorTest, StateFlagsReachASubscriberWhileTheLoopRuns) {
  makeArm(6);
  std::mutex mutex;
  std::string seen[2];  // each flag's changes: "101" for idle, busy, idle
  auto node = std::make_shared<rclcpp::Node>("loop_flags_listener");
  std::vector<std::shared_ptr<void>> subs;
  for (int f : {0, 1})
    subs.push_back(node->create_subscription<std_msgs::msg::Bool>(
        f ? "system_state" : "motor_state", rclcpp::QoS(10), [&, f](const std_msgs::msg::Bool& m) {
          std::lock_guard<std::mutex> lock(mutex);
          if (seen[f].empty() || seen[f].back() != '0' + m.data) seen[f] += '0' + m.data;
        }));
  auto saw = [&](int f, const char* text) {
    for (int i = 0; i < 3000; ++i, std::this_thread::sleep_for(std::chrono::milliseconds(10)))
      if (std::lock_guard<std::mutex> lock(mutex); seen[f] == text) return true;
    return false;
  };
  std::thread spinner([node] { rclcpp::spin(node); }), loop([this] { ip_->run(); });
  EXPECT_TRUE(saw(0, "1"));
  move({1.5, 0.0, 0.0, 0.0, 0.0, 0.0});
  for (int i = 0; i < 3000 && motors_[0]->position() < 0.01; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  ip_->stop();  // under way: a stop in the next 1.4 s ends short of 1.5
  EXPECT_TRUE(saw(0, "101"));
  EXPECT_TRUE(motors_[0]->position() > 0.0 && motors_[0]->position() < 1.5);
  ip_->setAbnormalFlag(true);
  EXPECT_TRUE(saw(1, "01"));
  ip_->requestQuit(), loop.join();
  rclcpp::shutdown(), spinner.join();
}

}  // namespace
