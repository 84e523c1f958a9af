// Motion planning and kinematics side by side with Orocos KDL on the same arm.
// Prints KDL/ours ratios and heap allocations per sampled step at the end, then
// how much longer a synchronised move takes than its slowest axis alone.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <kdl/chain.hpp>
#include <kdl/chainfksolverpos_recursive.hpp>
#include <kdl/velocityprofile_trap.hpp>

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <map>
#include <new>
#include <ostream>
#include <random>
#include <string>
#include <vector>

#include "motion/commands/all_axises_joint_planner.h"
#include "motion/kinematics/arm_kinematics.h"
#include "arm_model.h"

using arm_test::makeArmKinematics;

namespace {
std::atomic<long> g_allocations{0};
}  // namespace

void* operator new(std::size_t size) {
  g_allocations.fetch_add(1, std::memory_order_relaxed);
  if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
  throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }

namespace {

constexpr int kSamples = 1024;

std::vector<JointVec6f> randomJoints() {
  std::mt19937 rng(1);
  std::uniform_real_distribution<float> angle(-3.1f, 3.1f);
  std::vector<JointVec6f> qs(kSamples);
  for (JointVec6f& q : qs)
    for (int i = 0; i < 6; ++i) q[i] = angle(rng);
  return qs;
}

void reportAllocations(benchmark::State& state, long before) {
  state.counters["allocs/iter"] = benchmark::Counter(
      static_cast<double>(g_allocations.load() - before) / static_cast<double>(state.iterations()));
}

void BM_ForwardPose_Ours(benchmark::State& state) {
  ArmKinematics kin = makeArmKinematics();
  const std::vector<JointVec6f> qs = randomJoints();
  Pose6D pose;
  size_t i = 0;
  const long before = g_allocations.load();
  for (auto _ : state) {
    kin.forwardPose(qs[i++ & (kSamples - 1)], pose);
    benchmark::DoNotOptimize(pose);
  }
  reportAllocations(state, before);
}
BENCHMARK(BM_ForwardPose_Ours);

void BM_ForwardPose_Kdl(benchmark::State& state) {
  ArmKinematics kin = makeArmKinematics();
  KDL::Chain chain;
  for (int j = 0; j < 6; ++j)
    chain.addSegment(KDL::Segment(KDL::Joint(KDL::Joint::RotZ),
                                  KDL::Frame::DH(kin.a_[j], kin.alpha_[j], kin.d_[j], kin.theta_offset_[j])));
  KDL::ChainFkSolverPos_recursive solver(chain);
  std::vector<KDL::JntArray> qs;
  for (const JointVec6f& q : randomJoints()) {
    KDL::JntArray jq(6);
    for (int j = 0; j < 6; ++j) jq(j) = q[j];
    qs.push_back(jq);
  }
  KDL::Frame f;
  size_t i = 0;
  for (auto _ : state) {
    solver.JntToCart(qs[i++ & (kSamples - 1)], f);
    benchmark::DoNotOptimize(f);
  }
}
BENCHMARK(BM_ForwardPose_Kdl);

void BM_TrapezoidSample_Ours(benchmark::State& state) {
  TrapezoidPlanner p(1);
  TrapezoidPlannerInput in;
  in.q0 = -1.0;
  in.q1 = 2.0;
  in.vmax = 1.0;
  in.amax = 1.0;
  in.amin = -1.0;
  p.setInput(&in);
  p.plan();
  double t = 0.0;
  int finished = 0;
  const long before = g_allocations.load();
  for (auto _ : state) {
    benchmark::DoNotOptimize(p.position(&finished, t));
    t = t > 4.5 ? 0.0 : t + 0.005;
  }
  reportAllocations(state, before);
}
BENCHMARK(BM_TrapezoidSample_Ours);

void BM_TrapezoidSample_Kdl(benchmark::State& state) {
  KDL::VelocityProfile_Trap p(1.0, 1.0);
  p.SetProfile(-1.0, 2.0);
  double t = 0.0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(p.Pos(t));
    t = t > 4.5 ? 0.0 : t + 0.005;
  }
}
BENCHMARK(BM_TrapezoidSample_Kdl);

// The shipped limits: 298 deg/s (axis 2: 120 deg/s) and 1 rad/s^2.
constexpr double kShippedVmax[6] = {5.201081170943102, 2.0943951023931957, 5.201081170943102,
                                    5.201081170943102, 5.201081170943102, 5.201081170943102};
constexpr double kShippedAmax = 1.0;

TrapezoidPlannerInput axisInput(double q0, double q1, int axis, double scale) {
  TrapezoidPlannerInput in;
  in.q0 = q0;
  in.q1 = q1;
  in.vmax = kShippedVmax[axis] * scale;
  in.amax = kShippedAmax * scale;
  in.amin = -in.amax;
  return in;
}

using SixInputs = std::array<TrapezoidPlannerInput, 6>;

std::unique_ptr<AllAxisesJointPlanner> sixAxisMove(const SixInputs& inputs) {
  auto cmd = std::make_unique<AllAxisesJointPlanner>();
  RobotPara para;
  para.axis_num = 6;
  para.axis_reserved.resize(6);
  para.axis_paras.resize(6);
  cmd->setPlannerType(kPlannerTrapezoid);
  cmd->setRobotPara(para);
  std::vector<TrajectoryInterface*> planners;
  for (int i = 0; i < 6; ++i) planners.push_back(new TrapezoidPlanner(1));
  cmd->setTrajInterfaces(planners);
  for (int i = 0; i < 6; ++i) cmd->setInput(i, &inputs[i]);
  return cmd;
}

std::unique_ptr<AllAxisesJointPlanner> sixAxisMove() {
  const double goals[6] = {1.0, 0.5, 3.0, -0.2, 0.2, -2.9};
  SixInputs inputs;
  for (int i = 0; i < 6; ++i) inputs[i] = axisInput(0.0, goals[i], i, 1.0);
  return sixAxisMove(inputs);
}

// Random six-axis moves across the joint range with the shipped limits scaled.
std::vector<SixInputs> randomMoves(double scale, int count) {
  constexpr double kJointLimit = 3.1415927;
  std::mt19937 rng(5);
  std::uniform_real_distribution<double> angle(-kJointLimit, kJointLimit);
  std::vector<SixInputs> moves(count);
  for (auto& move : moves)
    for (int i = 0; i < 6; ++i) move[i] = axisInput(angle(rng), angle(rng), i, scale);
  return moves;
}

void BM_SixAxisSample(benchmark::State& state) {
  auto cmd = sixAxisMove();
  cmd->plan();
  std::vector<double> positions(6);
  double t = 0.0;
  const long before = g_allocations.load();
  for (auto _ : state) {
    benchmark::DoNotOptimize(cmd->calAllJointsPostion(positions, t));
    benchmark::DoNotOptimize(positions.data());
    t = t > 8.0 ? 0.0 : t + 0.005;
  }
  reportAllocations(state, before);
}
BENCHMARK(BM_SixAxisSample);

void BM_SixAxisSyncPlan(benchmark::State& state) {
  for (auto _ : state) {
    state.PauseTiming();
    auto cmd = sixAxisMove();
    state.ResumeTiming();
    benchmark::DoNotOptimize(cmd->plan());
  }
}
BENCHMARK(BM_SixAxisSyncPlan);

// Plan time over random moves; the argument is the velocity scale in percent.
void BM_SixAxisSyncPlanRandom(benchmark::State& state) {
  const auto moves = randomMoves(static_cast<double>(state.range(0)) / 100.0, 256);
  size_t i = 0;
  for (auto _ : state) {
    state.PauseTiming();
    auto cmd = sixAxisMove(moves[i]);
    i = (i + 1) % moves.size();
    state.ResumeTiming();
    benchmark::DoNotOptimize(cmd->plan());
  }
}
BENCHMARK(BM_SixAxisSyncPlanRandom)->Arg(100)->Arg(40)->Arg(5);

// The synchronised move's time against the slowest axis's own shortest time
// (its plan alone): 1 means the sharing costs nothing.
void reportSyncRatio(std::ostream& out, double scale) {
  const auto moves = randomMoves(scale, 2000);
  double sum = 0.0, worst = 0.0;
  int planned = 0;
  for (const SixInputs& move : moves) {
    double own = 0.0;
    for (const TrapezoidPlannerInput& in : move) {
      TrapezoidPlanner alone(0);
      alone.setInput(&in);
      if (alone.plan() == 0) own = std::max(own, alone.motionTime());
    }
    auto cmd = sixAxisMove(move);
    if (cmd->plan() != 0 || !(own > 0.0)) continue;
    const double ratio = cmd->traj_interface_ptrs_[0]->motionTime() / own;
    sum += ratio;
    worst = std::max(worst, ratio);
    ++planned;
  }
  char line[160];
  snprintf(line, sizeof(line), "sync time / slowest axis alone, scale %.2f: mean %.4f  worst %.4f  (%d moves)\n",
           scale, planned > 0 ? sum / planned : 0.0, worst, planned);
  out << line;
}

// Keeps each run's CPU time per iteration (steadier than wall time on a
// shared machine) so the ratios can be printed.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& r : runs) ns_[r.benchmark_name()] = r.GetAdjustedCPUTime();
    ConsoleReporter::ReportRuns(runs);
  }
  void ratio(const char* what, const std::string& ours, const std::string& kdl) {
    if (ns_.count(ours) == 0 || ns_.count(kdl) == 0) return;
    char line[160];
    snprintf(line, sizeof(line), "%-20s ours %8.1f ns  KDL %8.1f ns  KDL/ours %.2f\n", what,
             ns_[ours], ns_[kdl], ns_[kdl] / ns_[ours]);
    GetOutputStream() << line;
  }

 private:
  std::map<std::string, double> ns_;
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  // Planning prints its progress on stdout: send that to /dev/null and the
  // report to the original stdout.
  fflush(stdout);
  const int report_fd = dup(STDOUT_FILENO);
  const int null_fd = open("/dev/null", O_WRONLY);
  dup2(null_fd, STDOUT_FILENO);
  close(null_fd);
  std::ofstream report("/proc/self/fd/" + std::to_string(report_fd));
  RatioReporter reporter;
  reporter.SetOutputStream(&report);
  reporter.SetErrorStream(&report);
  benchmark::RunSpecifiedBenchmarks(&reporter);
  reporter.ratio("forward kinematics", "BM_ForwardPose_Ours", "BM_ForwardPose_Kdl");
  reporter.ratio("trapezoid sample", "BM_TrapezoidSample_Ours", "BM_TrapezoidSample_Kdl");
  for (double scale : {1.0, 0.4, 0.05}) reportSyncRatio(report, scale);
  return 0;
}
