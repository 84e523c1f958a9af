// One pass of the execution loop without its closing sleep: six axes read,
// the pose updated, the two Bool flags published, and (in the trajectory
// case) six samples checked and sent. Heap allocations are counted per pass.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "motion/commands/all_axises_joint_planner.h"
#include "motion/kinematics/arm_kinematics.h"
#include "motion/loop/interpolator.h"
#include "rclcpp/rclcpp.hpp"
#include "std_msgs/msg/bool.hpp"

namespace {
std::atomic<long long> g_allocations{0};
}  // namespace

// Replaced global allocation, paired malloc/free (GCC cannot see the pairing).
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
void* operator new(std::size_t size) {
  ++g_allocations;
  if (void* p = std::malloc(size ? size : 1)) return p;
  throw std::bad_alloc();
}
void* operator new[](std::size_t size) { return operator new(size); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
#pragma GCC diagnostic pop

namespace {

// Follows its goals at once; nothing printed, nothing stored.
class BenchMotor : public CtrlMotorInterface {
 public:
  int init() override { return 0; }
  int setMotorPosition(double position) override {
    velocity_ = (position - position_) / 0.005;
    position_ = position;
    return 0;
  }
  int getMotorPosition(double* position) override {
    *position = position_;
    return 0;
  }
  int setEnableStatus(bool) override { return 0; }
  int getEnableStatus(bool* enabled) override {
    *enabled = true;
    return 0;
  }
  int seHome(uint32_t) override { return 0; }
  int getTorque(double* torque) override {
    *torque = 0.1;
    return 0;
  }
  int getVelocity(double* velocity) override {
    *velocity = velocity_;
    return 0;
  }

 private:
  double position_ = 0.0;
  double velocity_ = 0.0;
};

// A slow endless sine, so every pass samples and sends.
class EndlessSine : public TrajectoryInterface {
 public:
  explicit EndlessSine(double phase) : phase_(phase) {}
  int plan() override { return 0; }
  double position(int* finished, double t) const override {
    *finished = 0;
    return 0.2 * std::sin(t + phase_);
  }
  void* setInput(const void*) override { return nullptr; }
  void* input() override { return nullptr; }
  int rePlan(const TrapezoidTiming&) override { return 0; }
  double motionTime() const override { return 1e9; }
  const TrapezoidTiming* timing() const override { return nullptr; }

 private:
  double phase_;
};

struct Arm {
  Arm() {
    para.axis_num = 6;
    para.axis_reserved.resize(6);
    para.axis_paras.resize(6);
    for (int i = 0; i < 6; ++i) {
      para.axis_paras[i] = AxisPara{5.2, 1.0, 1.0, &motors[i]};
    }
    ip = new Interpolator(para, &kin);
    ip->startLoop();
  }
  ~Arm() { delete ip; }

  BenchMotor motors[6];
  ArmKinematics kin{{0.0f, -1.44635403f, -1.44635403f, 0.0f, 0.0f, 0.0f},
                    {0.0f, -1.5707964f, 3.1415927f, -1.5707964f, 1.5707964f, -1.5707964f},
                    {0.0f, 0.0f, 400.0f, -50.0f, 0.0f, 0.0f},
                    {328.0f, 0.0f, 0.0f, 400.0f, -136.0f, 103.5f}};
  RobotPara para;
  Interpolator* ip = nullptr;
};

void ensureRos() {
  static const bool ready = [] {
    // A domain of its own, away from tests that may run at the same time.
    if (std::getenv("ROS_DOMAIN_ID") == nullptr) {
      setenv("ROS_DOMAIN_ID", std::to_string(200 + getpid() % 30).c_str(), 1);
    }
    rclcpp::init(0, nullptr);
    return true;
  }();
  (void)ready;
}

void runPasses(benchmark::State& state, Arm& arm) {
  arm.ip->runPass();  // the first pass may size what it needs
  const long long before = g_allocations.load();
  for (auto _ : state) {
    arm.ip->runPass();
  }
  state.counters["allocs_per_pass"] = benchmark::Counter(
      static_cast<double>(g_allocations.load() - before) / static_cast<double>(state.iterations()));
}

void BM_IdlePass(benchmark::State& state) {
  ensureRos();
  Arm arm;
  runPasses(state, arm);
}
BENCHMARK(BM_IdlePass)->Repetitions(5)->ReportAggregatesOnly(true);

void BM_TrajectoryPass(benchmark::State& state) {
  ensureRos();
  // With a reader on both flags each publish is delivered, not dropped.
  std::shared_ptr<rclcpp::Node> listener;
  std::vector<rclcpp::Subscription<std_msgs::msg::Bool>::SharedPtr> subs;
  if (state.range(0) != 0) {
    listener = std::make_shared<rclcpp::Node>("interpolator_bench_listener");
    for (const char* topic : {"motor_state", "system_state"}) {
      subs.push_back(listener->create_subscription<std_msgs::msg::Bool>(
          topic, rclcpp::QoS(10), [](const std_msgs::msg::Bool&) {}));
    }
  }
  Arm arm;
  auto* cmd = new AllAxisesJointPlanner();
  cmd->setPlannerType(kPlannerTrapezoid);
  cmd->setRobotPara(arm.para);
  std::vector<TrajectoryInterface*> axes;
  for (int i = 0; i < 6; ++i) axes.push_back(new EndlessSine(0.0));
  cmd->setTrajInterfaces(axes);
  cmd->plan();
  arm.ip->insertCmd(cmd);
  arm.ip->runPass();  // takes the command
  runPasses(state, arm);
}
BENCHMARK(BM_TrajectoryPass)->Arg(0)->Arg(1)->Repetitions(5)->ReportAggregatesOnly(true);

}  // namespace

BENCHMARK_MAIN();
