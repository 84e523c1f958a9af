#include "motion/producers/joint_move_producer.h"

#include <cmath>
#include <cstddef>
#include <cstdio>
#include <memory>
#include <mutex>

#include "motion/commands/all_axises_joint_planner.h"
#include "motion/commands/motor_io_cmd.h"
#include "motion/loop/interpolator.h"
#include "motion/planning/cubic_planner.h"
#include "motion/planning/trapezoid_planner.h"

namespace joint_move {

namespace {

// Every front end takes the first six values of a row as the joints.
constexpr int kTargetJoints = 6;
// A point list needs both sizes: points, and values per point.
constexpr uint64_t kSplineLayoutDims = 2;
// Every axis is re-timed to one common timing so the joints start and stop together.
constexpr uint32_t kSyncAxes = 1;
// firstAxisOverRange when every axis passes.
constexpr int kAllInRange = -1;

void queueMotorIo(Interpolator* interpolator, bool home, bool enable) {
  auto cmd = std::make_unique<MotorIoCmd>();
  cmd->setRobotPara(interpolator->getRobotPara());
  if (home) {
    cmd->setHome();
  } else {
    cmd->setEnable(enable);
  }
  // A home moves the next move's start; it must not slip in behind a start fetch.
  const auto turn = interpolator->producerTurn();
  interpolator->insertCmd(std::move(cmd));
}

bool refuseWhenAbnormal(const Interpolator* interpolator) {
  if (!interpolator->abnormal_flag) return false;
  puts("The robot state is abnormal. Do not respond any command.");
  return true;
}

// Index of the first of axes 0 .. axis_num-1 whose value lies outside the
// joint limits, or kAllInRange. An axis at or beyond count is out of range.
int firstAxisOverRange(const Interpolator* interpolator, const double* values, int count,
                       int axis_num) {
  for (int i = 0; i < axis_num; ++i) {
    if (i >= count || !interpolator->isJointInRange(static_cast<std::size_t>(i), values[i])) {
      return i;
    }
  }
  return kAllInRange;
}

double clampVelocityScale(double scale) {
  if (scale > kMaxScale) {
    puts("velocity scale > 1.0 error, we reset velocity scale 0.5!");
    return kFallbackScale;
  }
  return scale;
}

void echoMovj(const std::vector<double>& data) {
  puts("I recieve movj:");
  for (std::size_t i = 0; i + 1 < data.size(); ++i) printf("%lf,", data[i]);
  printf(";velocity %% = %lf;\n", data.back());
}

// kQueued for a planned spline the loop can run from the next move's start
// as it is; otherwise the refusal, after its line.
MoveResult checkSplineRun(Interpolator* interpolator, AllAxisesJointPlanner* cmd) {
  const Interpolator::MoveCheck c = interpolator->checkMove(cmd, interpolator->getNextMoveStart());
  if (c.fault == Interpolator::MoveCheck::kOverRange) {
    printf("The spline leaves the <%d> axis range at %lf s (%lf rad).Please send viable command again.\n",
           c.axis + 1, c.t, c.value);
    return MoveResult::kOverRange;
  }
  if (c.fault == Interpolator::MoveCheck::kTooFast) {
    printf("The spline is too fast for the <%d> axis at %lf s (%lf rad/s).Please send viable command "
           "again.\n",
           c.axis + 1, c.t, c.value);
    return MoveResult::kTooFast;
  }
  return MoveResult::kQueued;
}

}  // namespace

MoveResult submitJointMove(Interpolator* interpolator, int axis_num, JointMoveSource source,
                           const std::vector<double>& values, double scale) {
  if (source != JointMoveSource::kFollow && refuseWhenAbnormal(interpolator)) {
    return MoveResult::kAbnormal;
  }
  const bool movj = source == JointMoveSource::kMovj;
  const long long wanted = static_cast<long long>(axis_num) + (movj ? 1 : 0);
  if (static_cast<long long>(values.size()) != wanted || axis_num < kTargetJoints) {
    if (movj) {
      printf("We recieve the wrong movj cmd size=<%d>, not euqal (axis_num+1)",
             static_cast<int>(values.size()));
    } else {
      printf("We recieve the wrong joint_pos cmd size=<%d>, not euqal axis_num",
             static_cast<int>(values.size()));
    }
    return MoveResult::kWrongSize;
  }
  const std::vector<double> target = interpolator->extractJoints(values, 1, kTargetJoints);
  if (movj) {
    echoMovj(values);
    scale = values.back();
  }
  const int bad = firstAxisOverRange(interpolator, values.data(),
                                     static_cast<int>(values.size()), axis_num);
  if (bad != kAllInRange) {
    printf("The %dst axim angle is over range.Please send viable command again.\n", bad + 1);
    return MoveResult::kOverRange;
  }
  return planJointMove(interpolator, axis_num, target, clampVelocityScale(scale));
}

MoveResult planJointMove(Interpolator* interpolator, int axis_num,
                         const std::vector<double>& target, double scale) {
  const RobotPara para = interpolator->getRobotPara();
  // Held until the insert, so that a move queued meanwhile by the other
  // producer cannot end somewhere this one does not start.
  const auto move_turn = interpolator->producerTurn();
  const std::vector<double> start = interpolator->getNextMoveStart();
  const std::size_t n = static_cast<std::size_t>(axis_num < 0 ? 0 : axis_num);
  // Without a start for every axis the move would jump.
  if (target.size() < n || para.axis_paras.size() < n || start.size() < n) {
    return MoveResult::kNoStart;
  }

  auto cmd = std::make_unique<AllAxisesJointPlanner>();
  cmd->setPlannerType(kPlannerTrapezoid);
  std::vector<std::unique_ptr<TrajectoryInterface>> planners;
  for (std::size_t i = 0; i < n; ++i) planners.push_back(std::make_unique<TrapezoidPlanner>(kSyncAxes));
  cmd->setRobotPara(para);
  // Sized from the same set, so the list is always taken.
  cmd->adoptTrajInterfaces(std::move(planners));

  for (std::size_t i = 0; i < n; ++i) {
    const AxisPara& axis = para.axis_paras[i];
    TrapezoidPlannerInput input;
    input.reserved = 0.0;
    input.q0 = start[i];
    input.q1 = target[i];
    input.v0 = 0.0;
    input.v1 = 0.0;
    input.vmax = axis.max_vel * scale;
    input.amax = axis.max_acc * scale;
    input.amin = -axis.max_acc * scale;
    printf("TrapezoidPlannerInput:%lf,%lf,%lf,%lf,%lf\n", input.q0, input.q1, input.vmax,
           input.amax, input.amin);
    cmd->setInput(static_cast<int32_t>(i), &input);
  }
  // A failed plan is reported by the planner itself, queued all the same and
  // refused by the loop.
  const bool planned = cmd->plan() == kPlanOk;

  // The flag may have been raised while this move was planned.
  const bool refused = refuseWhenAbnormal(interpolator);
  if (refused) return MoveResult::kAbnormal;
  interpolator->insertCmd(std::move(cmd));
  return planned ? MoveResult::kQueued : MoveResult::kQueuedPlanFailed;
}

MoveResult submitSplineMove(Interpolator* interpolator, int axis_num, const SplineMoveRequest& req) {
  if (refuseWhenAbnormal(interpolator)) return MoveResult::kAbnormal;
  const std::vector<double>& data = req.data;
  if (req.layout_dims < kSplineLayoutDims) {
    printf("We recieve the wrong movj_s cmd layout dim=<%d>, not euqal 2\n",
           static_cast<int>(req.layout_dims));
    return MoveResult::kWrongSize;
  }
  if (req.points < kMinSplinePoints) {
    puts("There are not eough point to get cubicspline.");
    return MoveResult::kTooFewPoints;
  }
  if (axis_num < kTargetJoints || req.columns != static_cast<uint32_t>(axis_num) + 1) {
    printf("We recieve the wrong movj cmd size=<%d>, not euqal (axis_num+1)",
           static_cast<int>(data.size()));
    return MoveResult::kWrongSize;
  }
  // Both factors are below 2^32, so the product cannot overflow 64 bits.
  const uint64_t needed = static_cast<uint64_t>(req.points) * req.columns;
  if (static_cast<uint64_t>(data.size()) < needed) {
    printf("We recieve the wrong movj_s cmd size=<%d>, less than points*(axis_num+1)=<%llu>\n",
           static_cast<int>(data.size()), static_cast<unsigned long long>(needed));
    return MoveResult::kShortData;
  }

  const std::size_t rows = static_cast<std::size_t>(req.points);
  const std::size_t stride = req.columns;
  std::vector<double> times(rows);
  for (std::size_t p = 0; p < rows; ++p) times[p] = data[p * stride + stride - 1];

  puts("I recieve movj_s:");
  for (std::size_t p = 0; p < rows; ++p) {
    for (std::size_t j = 0; j + 1 < stride; ++j) printf("%lf,", data[p * stride + j]);
    printf(";Time (s) = %lf;\n", times[p]);
  }

  for (std::size_t p = 0; p < rows; ++p) {
    const int axis = firstAxisOverRange(interpolator, &data[p * stride],
                                        static_cast<int>(stride - 1), axis_num);
    if (axis != kAllInRange) {
      printf("The %dst point %dst axim angle is over range.Please send viable command again.\n",
             static_cast<int>(p + 1), axis + 1);
      return MoveResult::kOverRange;
    }
  }
  // The loop samples from t = 0: a spline timed from elsewhere would not start at its first point.
  if (times[0] != 0.0) {
    printf("The 1st point time (s) = %lf is not 0.Please send viable command again.\n", times[0]);
    return MoveResult::kBadTimes;
  }
  // A spline through times that stand still or run backwards has no solution.
  for (std::size_t p = 1; p < rows; ++p) {
    if (!std::isfinite(times[p]) || !(times[p] > times[p - 1])) {
      printf("The %dst point time (s) = %lf does not come after the point before.Please send "
             "viable command again.\n",
             static_cast<int>(p + 1), times[p]);
      return MoveResult::kBadTimes;
    }
  }

  auto cmd = std::make_unique<AllAxisesJointPlanner>();
  cmd->setPlannerType(kPlannerCubic);
  std::vector<std::unique_ptr<CubicPlanner>> splines;
  for (int32_t j = 0; j < axis_num; ++j) splines.push_back(std::make_unique<CubicPlanner>());
  cmd->setRobotPara(interpolator->getRobotPara());
  cmd->adoptCubicSplines(std::move(splines));
  for (int32_t j = 0; j < axis_num; ++j) {
    CubicPlannerInput input;
    input.positions.reserve(rows);
    for (std::size_t p = 0; p < rows; ++p) {
      input.positions.push_back(data[p * stride + static_cast<std::size_t>(j)]);
    }
    input.times = times;
    cmd->setInput(j, &input);
  }
  const bool planned = cmd->plan() == kPlanOk;
  // The spline is checked from where the arm will stand when it starts, and
  // its end becomes the next move's start: no other move may be queued between.
  const auto turn = interpolator->producerTurn();
  if (planned) {
    const MoveResult fit = checkSplineRun(interpolator, cmd.get());
    if (fit != MoveResult::kQueued) return fit;
  }
  interpolator->insertCmd(std::move(cmd));
  return planned ? MoveResult::kQueued : MoveResult::kQueuedPlanFailed;
}

void queueEnableCmd(Interpolator* interpolator, bool enable) {
  queueMotorIo(interpolator, false, enable);
}

void queueHomeCmd(Interpolator* interpolator) { queueMotorIo(interpolator, true, false); }

}  // namespace joint_move
