// "robot_cmd_processor" driven over DDS by an operator node in the same
// process: what each command topic queues (seen in the lines the producers
// print), what it must refuse, and the 10 ms state topics.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <map>
#include <thread>

#include "robot_cmd_ros_two_wrapper.h"
#include "ros_domain.h"
#include "stdout_capture.h"
#include "test_arm.h"

namespace {

using namespace std::chrono_literals;
using Array = std_msgs::msg::Float64MultiArray;
using arm_test::countOf;

class CommandNode : public ::testing::Test {
 protected:
  void SetUp() override {
    arm_test::reserveRosDomainId();
    rclcpp::init(0, nullptr);
    arm_ = std::make_unique<arm_test::TestArm>();
    ip()->startLoop();
    ip()->runPass();
    node_ = std::make_shared<RobotCmdRosTwoWrapper>(ip());
    op_ = std::make_shared<rclcpp::Node>("operator");
    joints_ = op_->create_subscription<sensor_msgs::msg::JointState>(
        "A_arm_joint_pos_topic", rclcpp::QoS(10), [this](const sensor_msgs::msg::JointState& m) {
          std::lock_guard<std::mutex> lock(mutex_);
          last_ = m;
          ++ticks_;
        });
    spinners_.emplace_back([n = node_] { rclcpp::spin(n); });
    spinners_.emplace_back([n = op_] { rclcpp::spin(n); });
    while (ticks_ == 0) std::this_thread::sleep_for(5ms);
  }
  void TearDown() override {
    rclcpp::shutdown();
    for (auto& t : spinners_) t.join();
  }
  Interpolator* ip() { return arm_->interpolator.get(); }
  // Publishes on topic; its publisher is made, and left to match, on first
  // use, with the depth of the node's reader (one participant, one QoS).
  template <typename Msg>
  void send(const std::string& topic, const Msg& msg) {
    auto& pub = pubs_[topic];
    const bool one = topic == "stop_topic" || topic == "serve_on_topic" || topic == "recover_topic" || topic == "grasp_button_topic";
    if (!pub) pub = op_->create_publisher<Msg>(topic, rclcpp::QoS(one ? 1 : 10)), std::this_thread::sleep_for(300ms);
    std::static_pointer_cast<rclcpp::Publisher<Msg>>(pub)->publish(msg);
    std::this_thread::sleep_for(20ms);  // the reader keeps 10 samples
  }
  void movj(const std::vector<double>& data) { Array m; m.data = data; send("movj_topic", m); }
  void movjs(const std::vector<uint32_t>& dims, const std::vector<double>& data) {
    Array m;
    for (uint32_t d : dims) m.layout.dim.emplace_back(), m.layout.dim.back().size = d;
    m.data = data;
    send("movj_s_topic", m);
  }
  void barm(const std::vector<double>& p) { sensor_msgs::msg::JointState m; m.position = p; send("B_arm_joint_pos_topic", m); }
  void text(const std::string& topic) { send(topic, std_msgs::msg::String()); }
  void flag(const std::string& topic, bool v) { std_msgs::msg::Bool m; m.data = v; send(topic, m); }
  // True once n commands are queued and no further one follows within 200 ms.
  bool queued(size_t n) {
    for (int i = 0; i < 500 && ip()->testView().queued < n; ++i) std::this_thread::sleep_for(10ms);
    std::this_thread::sleep_for(200ms);
    return ip()->testView().queued == n;
  }
  // q0, q1, vmax, amax, amin of every "TrapezoidPlannerInput:" line, in order.
  static std::vector<std::array<double, 5>> inputs(const std::string& out) {
    std::vector<std::array<double, 5>> in;
    for (size_t at = out.find("TrapezoidPlannerInput:"); at != std::string::npos; at = out.find("TrapezoidPlannerInput:", at + 1)) {
      in.emplace_back();
      std::sscanf(out.c_str() + at, "TrapezoidPlannerInput:%lf,%lf,%lf,%lf,%lf", &in.back()[0], &in.back()[1],
                  &in.back()[2], &in.back()[3], &in.back()[4]);
    }
    return in;
  }
  static std::vector<double> same(double v, double last) { return {v, v, v, v, v, v, last}; }

  std::unique_ptr<arm_test::TestArm> arm_;
  std::shared_ptr<RobotCmdRosTwoWrapper> node_;
  std::shared_ptr<rclcpp::Node> op_;
  std::map<std::string, std::shared_ptr<rclcpp::PublisherBase>> pubs_;
  rclcpp::Subscription<sensor_msgs::msg::JointState>::SharedPtr joints_;
  std::vector<std::thread> spinners_;
  std::mutex mutex_;
  sensor_msgs::msg::JointState last_;
  std::atomic<int> ticks_{0};
};

// Each move starts where the one queued before it (or a home) ends; the
// scale runs as sent except above 1.0; bad sizes and targets queue nothing.
TEST_F(CommandNode, MovjChecksItsTargetClampsItsScaleAndChainsItsStart) {
  arm_->motors[3]->setPosition(0.25);
  ip()->runPass();
  arm_test::StdoutCapture cap;
  const double inf = std::numeric_limits<double>::infinity(), nan = std::nan("");
  for (const auto& bad : std::vector<std::vector<double>>{
           {0.1, 0.1, 0.1, 0.1, 0.1, 0.1}, std::vector<double>(8, 0.1), {0.1, 0.1, 3.2, 0.1, 0.1, 0.1, 0.5},
           {nan, 0.1, 0.1, 0.1, 0.1, 0.1, 0.5}, {0.1, 0.1, 0.1, 0.1, -inf, 0.1, 0.5}})
    movj(bad);
  movj({0.1, -0.2, 0.3, -0.4, 0.5, -0.6, 0.5});
  for (double scale : {1.5, 1.0, 0.0, -1.0}) movj(same(0.1, scale));
  movj({0.1, 0.1, 0.1, 0.1, 0.1, 3.1415927410125732, 0.5});
  ASSERT_TRUE(queued(6));
  text("set_home_topic");
  ASSERT_TRUE(queued(7));
  movj(same(0.2, 1.0));
  ASSERT_TRUE(queued(8));
  const std::string out = cap.text();
  EXPECT_EQ(countOf(out, "We recieve the wrong movj cmd size=<6>, not euqal (axis_num+1)"), 1);
  EXPECT_EQ(countOf(out, "We recieve the wrong movj cmd size=<8>, not euqal (axis_num+1)"), 1);
  EXPECT_EQ(countOf(out, "axim angle is over range.Please send viable command again.\n"), 3);
  EXPECT_EQ(countOf(out, ";velocity % = 1.500000;\nvelocity scale > 1.0 error, we reset velocity scale 0.5!\n"), 1);
  const auto in = inputs(out);
  ASSERT_EQ(in.size(), 42u);
  const double target[6] = {0.1, -0.2, 0.3, -0.4, 0.5, -0.6}, applied[5] = {0.5, 0.5, 1.0, 0.0, -1.0};
  for (size_t k = 0; k < 7; ++k) {
    for (size_t i = 0; i < 6; ++i) {
      const auto& v = in[k * 6 + i];
      SCOPED_TRACE(testing::Message() << "move " << k << " axis " << i);
      EXPECT_EQ(v[0], k == 0 ? (i == 3 ? 0.25 : 0.0) : k == 1 ? target[i] : k == 6 ? 0.0 : 0.1);
      EXPECT_NEAR(v[1], k == 0 ? target[i] : k == 6 ? 0.2 : k == 5 && i == 5 ? 3.141593 : 0.1, 1e-9);
      if (k >= 5) continue;
      EXPECT_NEAR(v[2], arm_->para.axis_paras[i].max_vel * applied[k], 1e-6);
      EXPECT_EQ(v[3], applied[k]);
      EXPECT_EQ(v[4], -applied[k]);
    }
  }
}

TEST_F(CommandNode, MalformedSplinePointListsQueueNothing) {
  std::vector<double> good;
  for (int p = 0; p < 4; ++p) {
    for (int j = 0; j < 6; ++j) good.push_back((p + 1) * 0.1 + j * 0.01);
    good.push_back(0.5 * (p + 1));
  }
  auto with = [&](size_t at, double v) { auto d = good; d[at] = v; return d; };
  for (const auto& [dims, data] : std::vector<std::pair<std::vector<uint32_t>, std::vector<double>>>{
           {{3, 6}, std::vector<double>(good.begin(), good.begin() + 21)}, {{4294967295u, 7}, good}, {{}, good},
           {{4}, good}, {{4, 6}, good}, {{5, 7}, good}, {{613566757u, 7}, good}, {{4, 7}, with(20, 1.0)},
           {{4, 7}, with(13, 0.2)}, {{4, 7}, with(27, std::numeric_limits<double>::infinity())},
           {{4, 7}, with(10, std::nan(""))}, {{4, 7}, with(10, 4.0)}, {{4, 7}, good}})
    movjs(dims, data);
  EXPECT_TRUE(queued(1));
}

// Follow moves at 0.4 to the last valid B-arm state; before any it only logs.
TEST_F(CommandNode, FollowMovesAtPointFourToTheLastValidBArmState) {
  testing::internal::CaptureStderr();
  arm_test::StdoutCapture cap;
  text("follow_b_arm_topic");
  barm({0.1, 0.2, 0.3, 0.4, 0.5, 0.6});
  barm({1, 1, 1, 1, 1});
  std::this_thread::sleep_for(300ms);
  text("follow_b_arm_topic");
  ASSERT_TRUE(queued(1));
  barm({0.1, std::nan(""), 0.3, 0.4, 0.5, 0.6});
  std::this_thread::sleep_for(300ms);
  text("follow_b_arm_topic");
  ASSERT_TRUE(queued(1));
  const auto in = inputs(cap.text());
  ASSERT_EQ(in.size(), 6u);
  for (int i = 0; i < 6; ++i) EXPECT_NEAR(in[i][1], 0.1 * (i + 1), 1e-9);
  EXPECT_NEAR(in[1][2], arm_test::TestArm::kShoulderVel * 0.4, 1e-6);
  EXPECT_EQ(in[0][3], 0.4);
  const std::string log = testing::internal::GetCapturedStderr();
  EXPECT_EQ(countOf(log, "[robot_cmd_processor]: A arm start follow B arm current pos."), 3);
  EXPECT_EQ(countOf(log, "[robot_cmd_processor]: ERROR: Cannot get B arm current pos."), 1);
  EXPECT_EQ(countOf(log, "[robot_cmd_processor]: Get robot joint num not equal 6!"), 1);
}

// While abnormal, power, home, stop and the grasp button act; movj and movj_s
// print only the abnormal line; follow plans and is then refused. After
// recover (with false) every move is queued again.
TEST_F(CommandNode, WhileAbnormalOnlyPowerHomeStopAndGraspActUntilRecover) {
  ip()->setAbnormalFlag(true);
  arm_test::StdoutCapture cap;
  flag("serve_on_topic", true);
  ASSERT_TRUE(queued(1));
  flag("serve_on_topic", false);
  text("set_home_topic");
  text("stop_topic");
  flag("grasp_button_topic", true);
  barm({0.1, 0.2, 0.3, 0.4, 0.5, 0.6});
  ASSERT_TRUE(queued(3));
  auto moves = [&] {
    movj(same(0.1, 0.5));
    movjs({4, 7}, {0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 1, 1, 1, 2, 2, 2, 2, 2, 2, 2, 3, 3, 3, 3, 3, 3, 3});
    text("follow_b_arm_topic");
  };
  moves();
  EXPECT_TRUE(queued(3));
  const std::string refused = cap.text();
  EXPECT_EQ(countOf(refused, "The robot state is abnormal. Do not respond any command."), 3);
  EXPECT_EQ(inputs(refused).size(), 6u);
  flag("recover_topic", false);
  std::this_thread::sleep_for(200ms);
  EXPECT_FALSE(ip()->abnormal_flag);
  moves();
  EXPECT_TRUE(queued(6));
  EXPECT_EQ(ip()->testView().stop_flag, 1u);
  bool grip = false;
  ip()->getGripSignal(&grip);
  EXPECT_TRUE(grip);
}

// Moves sent while others run or wait all arrive, no goal stepping further
// than its axis may move in a period.
TEST_F(CommandNode, MovesSentWhileOthersRunStartWhereTheyEndAndAllArrive) {
  for (auto& m : arm_->motors) m->setEnabled(true);
  std::thread loop([this] { ip()->run(); });
  arm_test::StdoutCapture cap;
  movj(same(0.3, 1));
  movj(same(0.6, 1));
  std::this_thread::sleep_for(300ms);
  std::vector<double> points;
  for (double v : {0.6, 0.5, 0.45, 0.4}) points.insert(points.end(), {v, v, v, v, v, v, (0.6 - v) * 4});
  movjs({4, 7}, points);
  std::this_thread::sleep_for(1500ms);
  movj(same(0.2, 1));
  for (int i = 0; i < 2000 && arm_->motors[5]->position() != 0.2; ++i) std::this_thread::sleep_for(10ms);
  std::this_thread::sleep_for(100ms);  // the passes that find the arm at rest
  ip()->requestQuit();
  loop.join();
  const std::string out = cap.text();
  EXPECT_EQ(countOf(out, "plan and curpos arrives goal"), 4);
  EXPECT_EQ(countOf(out, "killed"), 0);
  for (size_t i = 0; i < 6; ++i) {
    double prev = 0.0;
    for (double goal : arm_->motors[i]->goals()) {
      EXPECT_LE(std::fabs(goal - prev), arm_->para.axis_paras[i].max_vel * 0.005 * (1 + 1e-9)) << i;
      prev = goal;
    }
    EXPECT_EQ(prev, 0.2);
  }
}

// Before any reading every tick carries joint1..joint6 at 0.0, a zero pose and
// enable false, about 100 times a second, stamped with the wall clock.
TEST_F(CommandNode, StateTopicsCarryTheArmStateEveryTenMilliseconds) {
  const int before = ticks_;
  std::this_thread::sleep_for(1s);
  EXPECT_NEAR(ticks_ - before, 100, 20);
  std::lock_guard<std::mutex> lock(mutex_);
  EXPECT_EQ(last_.header.frame_id, "  ");
  EXPECT_NEAR(last_.header.stamp.sec, std::time(nullptr), 5);
  EXPECT_EQ(last_.name, (std::vector<std::string>{"joint1", "joint2", "joint3", "joint4", "joint5", "joint6"}));
  EXPECT_EQ(last_.position, std::vector<double>(6, 0.0));
  EXPECT_TRUE(last_.velocity.empty() && last_.effort.empty());
}

}  // namespace
