// "robot_cmd_processor" driven over DDS by an operator node in the same process: what each command topic
// queues (seen in the lines the producers print), what it must refuse, and the 10 ms state topics.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <map>
#include <set>
#include <thread>

#include "robot_cmd_ros_two_wrapper.h"
#include "ros_domain.h"
#include "stdout_capture.h"
#include "test_arm.h"

namespace {

using namespace std::chrono_literals;
using arm_test::countOf;

class CommandNode : public ::testing::Test {
 protected:
  void SetUp() override {
    arm_test::reserveRosDomainId();
    rclcpp::init(0, nullptr);
    arm_ = std::make_unique<arm_test::TestArm>();
    ip()->runPass();
    node_ = std::make_shared<RobotCmdRosTwoWrapper>(ip());
    op_ = std::make_shared<rclcpp::Node>("operator");
    joints_ = op_->create_subscription<sensor_msgs::msg::JointState>(
        "A_arm_joint_pos_topic", rclcpp::QoS(10),
        [this](const sensor_msgs::msg::JointState& m) { std::lock_guard<std::mutex> l(mutex_); states_.push_back(m); });
    spinners_.emplace_back([n = node_] { rclcpp::spin(n); });
    spinners_.emplace_back([n = op_] { rclcpp::spin(n); });
    while (seen() == 0) std::this_thread::sleep_for(5ms);
  }
  void TearDown() override { rclcpp::shutdown(); for (auto& t : spinners_) t.join(); }
  Interpolator* ip() { return arm_->interpolator.get(); }
  size_t seen() { return std::lock_guard<std::mutex>(mutex_), states_.size(); }
  // Publishes on topic (its publisher made, and left to match, on first use, at the reader's depth).
  template <typename Msg>
  void send(const std::string& topic, const Msg& msg) {
    static const std::set<std::string> kDepthOne = {"stop_topic", "serve_on_topic", "recover_topic",
                                                    "grasp_button_topic"};
    auto& pub = pubs_[topic];
    if (!pub && (pub = op_->create_publisher<Msg>(topic, rclcpp::QoS(kDepthOne.count(topic) ? 1 : 10))))
      std::this_thread::sleep_for(300ms);
    std::static_pointer_cast<rclcpp::Publisher<Msg>>(pub)->publish(msg);
    std::this_thread::sleep_for(20ms);  // the reader keeps 10 samples
  }
  void movj(const std::vector<double>& data) { movjs({}, data, "movj_topic"); }
  void movjs(const std::vector<uint32_t>& dims, const std::vector<double>& data,
             const char* topic = "movj_s_topic") {
    std_msgs::msg::Float64MultiArray m;
    for (uint32_t d : dims) m.layout.dim.emplace_back(), m.layout.dim.back().size = d;
    send(topic, (m.data = data, m));
  }
  void barm(const std::vector<double>& p) {
    sensor_msgs::msg::JointState m;
    send("B_arm_joint_pos_topic", (m.position = p, m));
  }
  void flag(const std::string& topic, bool v) { std_msgs::msg::Bool m; send(topic, (m.data = v, m)); }
  void text(const std::string& topic) { send(topic, std_msgs::msg::String()); }
  // True once n commands are queued and no further one follows within 200 ms.
  bool queued(size_t n) {
    for (int i = 0; i < 6000 && ip()->testView().queued < n; ++i) std::this_thread::sleep_for(10ms);
    std::this_thread::sleep_for(200ms);
    return ip()->testView().queued == n;
  }
  // q0, q1, vmax, amax, amin of every "TrapezoidPlannerInput:" line, in order.
  static std::vector<std::array<double, 5>> inputs(const std::string& out) {
    std::vector<std::array<double, 5>> in;
    for (size_t at = 0; (at = out.find("TrapezoidPlannerInput:", at)) != std::string::npos; ++at) {
      auto& v = in.emplace_back();
      std::sscanf(&out[at], "TrapezoidPlannerInput:%lf,%lf,%lf,%lf,%lf", &v[0], &v[1], &v[2], &v[3], &v[4]);
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
  std::vector<sensor_msgs::msg::JointState> states_;  // every joint state the operator got
  const std::time_t set_up_ = std::time(nullptr);
};

// Each move starts where the one queued before it (a move, a home, a spline) ends; the scale runs as sent
// except above 1.0; bad sizes and targets, and malformed point lists, queue nothing.
TEST_F(CommandNode, MovesAreCheckedClampedAndChainedEndToStart) {
  arm_->motors[3]->setPosition(0.25);
  ip()->runPass();
  arm_test::StdoutCapture cap;
  for (const auto& bad : std::vector<std::vector<double>>{
           {0.1, 0.1, 0.1, 0.1, 0.1, 0.1}, {0.1, 0.1, 3.2, 0.1, 0.1, 0.1, 0.5}, {NAN, 0, 0, 0, 0, 0, 0.5}})
    movj(bad);
  movj({0.1, -0.2, 0.3, -0.4, 0.5, -0.6, 0.5});
  for (double scale : {1.5, 1.0, 0.0, -1.0}) movj(same(0.1, scale));
  movj({0.1, 0.1, 0.1, 0.1, 0.1, 3.1415927410125732, 0.5});  // the float limit passes
  ASSERT_TRUE(queued(6));
  std::vector<double> good = {0.1, 0.1, 0.1, 0.1, 0.1, 3.1415927410125732, 0};  // where the move before ends
  for (int p = 1; p < 4; ++p) good.insert(good.end(), {0.1, 0.2, 0.3, 0.4, 0.5, 0.6, 1.0 * p});
  for (const auto& [dims, data] : std::vector<std::pair<std::vector<uint32_t>, std::vector<double>>>{
           {{3, 6}, std::vector<double>(21, 0.1)}, {{4294967295u, 7}, good}, {{}, good}, {{4}, good},
           {{4, 6}, good}, {{5, 7}, good}, {{613566757u, 7}, good}})  // P x C wraps to 3 in 32 bits
    movjs(dims, data);
  // Times that stand still, run back, never end or start late; a joint NaN or over range; a path over
  // a limit between points, too fast from where the arm stands or on the way.
  for (const auto& [at, v] : std::vector<std::pair<size_t, double>>{
           {13, 0}, {20, 0.5}, {27, INFINITY}, {6, 0.5}, {10, NAN}, {10, 4}, {12, 3.1415927410125732},
           {5, 3.0}, {13, 0.3}}) {
    std::vector<double> bad = good;
    movjs({4, 7}, (bad[at] = v, bad));
  }
  movjs({4, 7}, good);
  ASSERT_TRUE(queued(7));
  movj(same(0.2, 1.0));
  ASSERT_TRUE(queued(8));
  text("set_home_topic");
  ASSERT_TRUE(queued(9));
  movj(same(0.3, 1.0));
  ASSERT_TRUE(queued(10));
  const std::string out = cap.text();
  for (const char* line : {"1st point time (s) = 0.500000 is not 0.", "leaves the <6> axis range at 0.005000 s",
                           "too fast for the <6> axis at 0.000000 s", "too fast for the <6> axis at 0.065000 s",
                           "We recieve the wrong movj cmd size=<6>, not euqal (axis_num+1)",
                           ";velocity % = 1.500000;\nvelocity scale > 1.0 error, we reset velocity scale 0.5!"})
    EXPECT_EQ(countOf(out, line), 1) << line;
  EXPECT_EQ(countOf(out, "axim angle is over range.Please send viable command again.\n"), 2 + 2);
  const auto in = inputs(out);
  ASSERT_EQ(in.size(), 48u);
  const double target[6] = {0.1, -0.2, 0.3, -0.4, 0.5, -0.6}, applied[5] = {0.5, 0.5, 1.0, 0.0, -1.0};
  for (size_t k = 0, i = 0; k < 8; i = (i + 1) % 6, k += i == 0) {
    const auto& v = in[k * 6 + i];
    SCOPED_TRACE(testing::Message() << "move " << k << " axis " << i);
    // From where the arm is, the move before, the spline's last point, the home.
    const double from[8] = {i == 3 ? 0.25 : 0.0, target[i], 0.1, 0.1, 0.1, 0.1, 0.1 * (i + 1), 0.0};
    EXPECT_NEAR(v[0], from[k], 1e-9);
    EXPECT_NEAR(v[1], k == 0 ? target[i] : k >= 6 ? 0.1 * k - 0.4 : k == 5 && i == 5 ? 3.141593 : 0.1, 1e-9);
    if (k >= 5) continue;
    EXPECT_NEAR(v[2], arm_->para.axis_paras[i].max_vel * applied[k], 1e-6);
    EXPECT_TRUE(v[3] == applied[k] && v[4] == -applied[k]);
  }
}

// While abnormal, power, home, stop and the grasp button act; movj and movj_s print only the abnormal line;
// follow plans and is then refused. Recover (with false) lets every move through; follow moves at 0.4 to
// the last valid B-arm state, and before any it only logs.
TEST_F(CommandNode, WhileAbnormalOnlyPowerHomeStopAndGraspActUntilRecover) {
  testing::internal::CaptureStderr();
  text("follow_b_arm_topic");
  ip()->setAbnormalFlag(true);
  arm_test::StdoutCapture cap;
  flag("serve_on_topic", true);
  ASSERT_TRUE(queued(1));
  flag("serve_on_topic", false);
  text("set_home_topic");
  text("stop_topic");
  flag("grasp_button_topic", true);
  barm({0.1, 0.2, 0.3, 0.4, 0.5, 0.6});
  barm({1, 1, 1, 1, 1});
  ASSERT_TRUE(queued(3));
  for (int round = 0; round < 2; ++round) {
    if (round == 1) flag("recover_topic", false), std::this_thread::sleep_for(200ms);
    movj(same(0.0, 0.5));
    movjs({4, 7}, {0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 1, 1, 1, 2, 2, 2, 2, 2, 2, 2, 3, 3, 3, 3, 3, 3, 3});
    text("follow_b_arm_topic");
    EXPECT_TRUE(queued(round == 0 ? 3 : 6));
  }
  const std::string out = cap.text();
  EXPECT_EQ(countOf(out, "The robot state is abnormal. Do not respond any command."), 3);
  const auto in = inputs(out);  // the refused follow, the movj, the follow
  ASSERT_EQ(in.size(), 18u);
  for (int i = 0; i < 6; ++i) EXPECT_NEAR(in[12 + i][1], 0.1 * (i + 1), 1e-9);
  EXPECT_NEAR(in[13][2], arm_test::TestArm::kShoulderVel * 0.4, 1e-6);
  EXPECT_EQ(in[12][3], 0.4);
  EXPECT_EQ(ip()->testView().stop_flag, 1u);
  EXPECT_FALSE(ip()->abnormal_flag);
  bool grip = false;
  EXPECT_TRUE((ip()->getGripSignal(&grip), grip));
  const std::string log = testing::internal::GetCapturedStderr();
  EXPECT_EQ(countOf(log, "[robot_cmd_processor]: A arm start follow B arm current pos."), 3);
  EXPECT_EQ(countOf(log, "[robot_cmd_processor]: ERROR: Cannot get B arm current pos."), 1);
  EXPECT_EQ(countOf(log, "[robot_cmd_processor]: Get robot joint num not equal 6!"), 1);
}

// Every tick carries joint1..joint6 with the latest reading, in order, stamped with the wall clock
// between the set-up and now. How often it ticks is a figure of bench/node_latency.cpp.
TEST_F(CommandNode, StateTopicsCarryTheArmStateOnEveryTick) {
  arm_->motors[2]->setPosition(0.3);
  ip()->runPass();
  const size_t from = seen();  // the reader's 10 and one in hand may predate the reading
  for (int i = 0; i < 6000 && seen() < from + 20; ++i) std::this_thread::sleep_for(10ms);
  const std::time_t end = std::time(nullptr);
  std::lock_guard<std::mutex> lock(mutex_);
  ASSERT_GE(states_.size(), from + 20);
  const std::vector<std::string> names = {"joint1", "joint2", "joint3", "joint4", "joint5", "joint6"};
  const std::vector<double> rest(6, 0.0), reading = {0, 0, 0.3, 0, 0, 0};
  std::string readings;  // per state: 0 the arm as set up, 1 the new reading
  for (size_t k = 0; k < states_.size(); ++k) {
    const auto& [stamp, frame] = states_[k].header;
    const auto& prev = states_[k ? k - 1 : 0].header.stamp;
    readings += states_[k].position == rest ? '0' : states_[k].position == reading ? '1' : '?';
    ASSERT_TRUE(frame == "  " && states_[k].name == names && stamp.sec >= set_up_ && stamp.sec <= end) << k;
    ASSERT_TRUE(!k || std::tie(prev.sec, prev.nanosec) < std::tie(stamp.sec, stamp.nanosec)) << k;
  }
  EXPECT_EQ(readings.find_first_not_of('0'), readings.find_last_not_of('1') + 1) << readings;  // 0s, then 1s
}

}  // namespace
