#pragma once

#include <vector>

class Interpolator;

// Producer logic shared by the command node and the call server: the checks a
// joint target must pass and the building of the commands they queue. Nothing
// here is ROS-specific; every function runs on the caller's thread and touches
// the Interpolator only through its public getters, insertCmd,
// producer_mutex_ and abnormal_flag.
namespace joint_move {

// A velocity scale above this is refused in favour of kFallbackScale.
constexpr double kMaxScale = 1.0;
constexpr double kFallbackScale = 0.5;

// True while the Interpolator's abnormal_flag is set; then also prints
// "The robot state is abnormal. Do not respond any command." on standard
// output. For the callers that refuse a command at entry.
bool refuseWhenAbnormal(const Interpolator* interpolator);

// Index (0-based) of the first of axes 0 .. axis_num-1 whose value lies
// outside the ArmKinematics joint limits, or -1 when all pass. values holds
// count doubles; an axis at or beyond count is out of range. A value equal to
// a limit passes; NaN and infinities never do. Prints nothing, so movj_s can
// word its own line (pass &data[p * C] and C - 1 for point p).
int firstAxisOverRange(const Interpolator* interpolator, const double* values, int count,
                       int axis_num);

// Range check of one target: true when the first axis_num values pass.
// Otherwise prints "The %dst axim angle is over range.Please send viable
// command again.\n" with the axis number counted from 1 and returns false.
// A target shorter than axis_num is refused on its first missing axis.
bool checkJointRange(const Interpolator* interpolator, const std::vector<double>& target,
                     int axis_num);

// A scale above kMaxScale becomes kFallbackScale with the line
// "velocity scale > 1.0 error, we reset velocity scale 0.5!"; any other value,
// including 1.0, 0 and negatives, is returned unchanged.
double clampVelocityScale(double scale);

// Builds an AllAxisesJointPlanner (type 0) with one synchronised
// TrapezoidPlanner per axis, each from Interpolator::getNextMoveStart (where
// the moves already queued leave the arm, else the measured position) to target[i]
// with max_vel, max_acc and -max_acc of a fresh RobotPara copy times scale;
// prints "TrapezoidPlannerInput:%lf,%lf,%lf,%lf,%lf\n" per axis; plans
// (result not consulted, the planner reports its own failures); then queues it
// with insertCmd unless abnormal_flag is set, in which case it prints the
// abnormal line and destroys the command. Returns true when queued.
// The target must hold at least axis_num values (false otherwise, nothing
// built); the range check and scale clamp are the caller's, done before.
// Also refused when the Interpolator has no start for every axis.
bool planJointMove(Interpolator* interpolator, const std::vector<double>& target, int axis_num,
                   double scale);

// Queues a MotorIoCmd that enables (true) or disables (false) every axis.
// No check of abnormal_flag: power is always honoured. Prints nothing.
void queueEnableCmd(Interpolator* interpolator, bool enable);

// Queues a MotorIoCmd that homes every axis. No checks; prints nothing.
// A move queued behind it starts from the home position.
void queueHomeCmd(Interpolator* interpolator);

}  // namespace joint_move
