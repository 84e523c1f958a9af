#pragma once

#include <cstdint>
#include <vector>

class Interpolator;

// The one producer path shared by the command node and the call server: the
// checks a move must pass, its planning and its queueing, with every line
// they print. Nothing here is ROS-specific; every function runs on the
// caller's thread and reaches the Interpolator only through its public
// operations.
namespace joint_move {

// A velocity scale above this is refused in favour of kFallbackScale.
constexpr double kMaxScale = 1.0;
constexpr double kFallbackScale = 0.5;
// A spline needs at least this many timed points.
constexpr int32_t kMinSplinePoints = 4;

// What became of a move handed to submitJointMove or submitSplineMove. Every
// refusal has printed its own line.
enum class MoveResult {
  kQueued,           // planned and queued
  kQueuedPlanFailed, // queued although planning failed (the planner printed why); the loop refuses it
  kAbnormal,         // refused: the abnormal flag is set
  kWrongSize,        // refused: not the number of values the front end expects
  kOverRange,        // refused: a joint outside its limits
  kTooFewPoints,     // refused: a spline of fewer than kMinSplinePoints points
  kShortData,        // refused: fewer values than the spline's layout announces
  kBadTimes,         // refused: spline times that do not start at 0 and increase
  kTooFast,          // refused: a spline step the loop's velocity check would kill
  kNoStart,          // refused: the Interpolator has no start for every axis
};

// True for the results whose move is in the queue.
inline bool isQueued(MoveResult r) {
  return r == MoveResult::kQueued || r == MoveResult::kQueuedPlanFailed;
}

// Which front end a joint move comes from: each words its size line its own
// way and checks a different part of the request.
enum class JointMoveSource {
  kMovj,      // movj topic: axis_num targets, then the velocity scale
  kJointPos,  // node's jointPos and the call server: axis_num targets, scale given apart
  kFollow,    // follow the B arm: axis_num targets at kFollowScale, no entry check of the flag
};

constexpr double kFollowScale = 0.4;

// One trapezoid joint move: abnormal flag -> size -> extractJoints -> range
// -> scale clamp -> plan -> abnormal flag again -> queue. values holds the
// front end's values as received; scale is used except for kMovj, which reads
// it from its last value. kMovj also echoes what it received once the size
// is right ("I recieve movj:"). axis_num is the caller's axis count.
MoveResult submitJointMove(Interpolator* interpolator, int axis_num, JointMoveSource source,
                           const std::vector<double>& values, double scale = 0.0);

// The tail of a joint move, for callers that did the checks: builds an
// AllAxisesJointPlanner with one synchronised TrapezoidPlanner per axis from
// Interpolator::getNextMoveStart to target[i], with max_vel, max_acc and
// -max_acc of a fresh RobotPara copy times scale ("TrapezoidPlannerInput:"
// line per axis), plans it, and queues it unless abnormal_flag is set.
MoveResult planJointMove(Interpolator* interpolator, int axis_num,
                         const std::vector<double>& target, double scale);

// A movj_s point list as the message carries it: the layout's dimension
// count and its first two sizes (points, values per point), and the data.
struct SplineMoveRequest {
  uint64_t layout_dims = 0;
  int32_t points = 0;
  uint32_t columns = 0;
  std::vector<double> data;
};

// One cubic move through timed points: abnormal flag (read once) -> layout
// -> point count -> columns -> data length -> echo -> range of every point ->
// times from 0, increasing -> plan -> every sample the loop will take, from
// where the arm will stand when it starts, within the joint limits and the
// loop's velocity check -> queue.
MoveResult submitSplineMove(Interpolator* interpolator, int axis_num, const SplineMoveRequest& req);

// Queues a MotorIoCmd that enables (true) or disables (false) every axis.
// No check of abnormal_flag: power is always honoured. Prints nothing.
void queueEnableCmd(Interpolator* interpolator, bool enable);

// Queues a MotorIoCmd that homes every axis. No checks; prints nothing.
// A move queued behind it starts from the home position.
void queueHomeCmd(Interpolator* interpolator);

}  // namespace joint_move
