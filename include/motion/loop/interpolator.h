#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <limits>
#include <memory>
#include <mutex>
#include <vector>

#include "motion/kinematics/arm_kinematics.h"
#include "motion/commands/robot_para.h"

class AbstractCmdInterface;
class AllAxisesJointPlanner;
class MotorIoCmd;
class SetIoCmd;
class motor_state;
class CollisionDetector_AT;

// Measured state of one axis.
struct AxisState {
  double pos = 0.0;
  double vel = 0.0;
  double acc = 0.0;  // not measured
  double torque = 0.0;
  // Passes of the motor's reader since pos and vel were read: 0 for its latest.
  uint32_t age = 0;
  // Seconds a goal sent now may take to show in pos.
  double lag = 0.0;
};

// Planned state of one axis, by finite difference of the samples.
struct AxisPlanState {
  double pos = 0.0;
  double vel = 0.0;
  double acc = 0.0;
};

// Results of Interpolator::readMotorStates, kept as int.
constexpr int kMotorReadOk = 0;       // every axis read
constexpr int kMotorReadFailed = -1;  // a read failed; the pass is skipped
// Interpolator::setAbnormalFlag always answers this.
constexpr int kAbnormalFlagStored = 1;

// The one object through which every command reaches the arm and every
// reader learns the arm's state. run() is the body of the interpolation
// thread; the getters, insertCmd, stop and setAbnormalFlag may be called from
// any thread. Queue, locks and loop state are private: producers go through
// insertCmd, producerTurn and getNextMoveStart.
//
// The two ROS 2 nodes are owned members held through pointers so that this
// header stays free of ROS 2 (the servers include it).
class Interpolator {
 public:
  Interpolator(RobotPara robot_para, ArmKinematics* kinematics);
  ~Interpolator();
  Interpolator(const Interpolator&) = delete;
  Interpolator& operator=(const Interpolator&) = delete;

  // Queues a command; the Interpolator owns it from then on. A joint move or
  // a home also records where the arm will stand once it has run.
  void insertCmd(AbstractCmdInterface* cmd);
  void insertCmd(std::unique_ptr<AbstractCmdInterface> cmd);
  // Held by a producer from its getNextMoveStart to its insertCmd, so that two
  // moves queued at once cannot both start from the same point.
  std::unique_lock<std::mutex> producerTurn();
  RobotPara getRobotPara() const;
  std::vector<AxisState> getAxisStates() const;
  // Start of the next joint move: where the last move or home in hand or
  // queued leaves the arm, or the measured positions when there is none.
  std::vector<double> getNextMoveStart() const;
  // The first sample of move, run from start (a position per axis), that the
  // loop would send outside the joint limits or kill as too fast. Sampled as
  // the loop samples it: t from 0 in steps of the period, up to the first
  // sample that finds the move finished. Runs on the caller's thread.
  struct MoveCheck {
    enum Fault { kFits, kOverRange, kTooFast, kNotSampled } fault = kFits;
    int axis = 0;        // from 0
    double t = 0.0;      // trajectory time of the sample
    double value = 0.0;  // its position (kOverRange) or velocity (kTooFast)
  };
  MoveCheck checkMove(AllAxisesJointPlanner* move, const std::vector<double>& start) const;
  // Rows of six values at r * stride; empty when flat is too short.
  std::vector<double> extractJoints(const std::vector<double>& flat, int rows, int stride) const;
  // Joint i within the arm's limits (a limit itself passes; NaN never does).
  bool isJointInRange(std::size_t i, double v) const;
  int getJointPositions(std::vector<double>* positions) const;
  // x, y, z, roll, pitch, yaw.
  int getPose(std::vector<double>* pose) const;
  int getEnableState(bool* enabled) const;
  // True once the last pass read every axis, and every axis reads torque
  // off; an axis that cannot be read keeps it false.
  int getAllTorqueOff(bool* all_off) const;
  void setGripSignal(bool value);
  void getGripSignal(bool* value) const;
  // Clearing the flag (recover) also forgets the last collision result.
  int setAbnormalFlag(bool value);
  // Brings the arm to rest under control, then drops the command in hand and
  // everything queued before this call; what is queued after runs in order.
  void stop();

  // The interpolation thread: never returns in production.
  void run();

  // Five joint values for a target pose (x, y, z, roll, pitch, yaw): the
  // solution within the joint limits whose largest joint change from current
  // is smallest, or a copy of current when there is none.
  std::vector<double> chooseIkSolution(const std::vector<double>& target,
                                       const std::vector<double>& current);

  // Seams for tests and benchmarks. startLoop() resets the loop the way run()
  // starts it; runPass() does one pass without its closing sleep;
  // requestQuit() makes run() return after the pass in progress.
  void startLoop();
  void runPass();
  void requestQuit();

  // For tests and benchmarks only: a copy of what the loop holds. The planned states are
  // the loop thread's own: call it only while run() is not running.
  struct TestView {
    std::size_t queued = 0;
    uint32_t stop_flag = 0;
    std::vector<AxisPlanState> plan_states;
  };
  TestView testView() const;
  // For tests only: what a collision check that found a collision leaves.
  void testRaiseCollision();

  std::atomic<bool> abnormal_flag{false};

 private:
  // Local state of the execution loop; only the interpolation thread uses it.
  struct LoopState {
    bool idle = true;
    AbstractCmdInterface* cmd = nullptr;  // the queue's front while it runs
    double t = 0.0;
    int sample_count = 0;
    int wait_peroid_num = 0;
    bool goal = false;
    int gripper_polls = 0;
    int fresh_waits = 0;    // passes a new trajectory waited for current readings
    int settle_passes = 0;  // passes since the plan ended without arriving
    double time_scale = 1.0;
  };

  // The result of a collision check that found one (CollisionDetector_AT::detect).
  static constexpr int32_t kCollisionFound = 1;
  // Results of isStopPlanned and isStopped, kept as int.
  static constexpr int kStopNotPlanned = 0;   // no deceleration is planned
  static constexpr int kStopPlanned = 1;      // every axis has its deceleration
  static constexpr int kStopStillMoving = 0;  // some planned velocity is above the rest threshold
  static constexpr int kStopAtRest = 1;       // every planned velocity is at rest
  // A stop_decel_ entry that means no stop is planned.
  static constexpr double kNoStopPlanned = std::numeric_limits<double>::max();
  // System-clock seconds, as loop_start_time_ and dt_ count them.
  static double systemSeconds();

  int readMotorStates();
  // One quantity of every axis into field and values; false, after its line,
  // at the first read that fails. Runs under state_mutex_.
  bool readAxes(int (CtrlMotorInterface::*read)(double*), const char* name, double AxisState::*field,
                std::vector<double>* values);
  void updatePose();
  void publishMotorState(bool value);
  void publishGripperCmdState(bool value);
  void publishSystemState(bool value);

  void stopStep(std::atomic<uint32_t>* stop_flag);
  void planStop(std::vector<AxisPlanState> plan_states, std::vector<AxisState> axis_states,
                double period);
  int isStopPlanned() const;
  int isStopped() const;
  void checkCollision();
  void calcPlanState(const std::vector<AxisPlanState>& prev, std::vector<AxisPlanState>& cur,
                     double period) const;

  void endCommand();
  // A finished stop: drops the command in hand and what was queued before the
  // stop was asked for, clears the flag.
  void endStop(std::atomic<uint32_t>* stop_flag);
  // The loop's own part of ending a command.
  void forgetCommand();
  // Fills stop_bound_ for the stop just planned.
  void planStopBounds();
  void runTrajectory(AllAxisesJointPlanner* planner, bool enabled);
  // Before a trajectory's first sample: true while it waits (a while) for a
  // reading of every axis from the latest pass.
  bool awaitingReadings();
  // Ends the command when a reading is still not current; re-plans a
  // trapezoid move that would start away from where the readings put the arm.
  bool startFromReadings(AllAxisesJointPlanner* planner);
  // With the plan at its end: whether every axis is current, at rest and at
  // its goal; prints why not once the settle time has passed.
  bool arrived();
  // Whether every axis's reading is within what it may lag behind the goals it was sent;
  // prints the first that is not. Runs before each sample but the first.
  bool followsGoals();
  // Every axis's goal becomes its last trusted position, after a move that ends without arriving.
  void holdWhereItStands();
  void runMotorIo(MotorIoCmd* cmd, bool all_torque_off);
  void runGripper(SetIoCmd* cmd);
  void sleepPass() const;

  mutable std::mutex queue_mutex_;
  mutable std::mutex state_mutex_;
  mutable std::mutex pose_mutex_;
  mutable std::mutex enable_mutex_;
  mutable std::mutex grip_mutex_;
  // Taken by producers only (never by the loop); taken before queue_mutex_.
  std::mutex producer_mutex_;
  bool grip_signal_ = false;
  ArmKinematics* kinematics_ = nullptr;  // not owned
  std::deque<std::unique_ptr<AbstractCmdInterface>> cmd_queue_;
  RobotPara robot_para_;
  double period_ = 0.005;
  double period_us_ = 5000.0;
  std::vector<double> target_positions_;
  std::atomic<uint32_t> stop_flag_{0};
  // Commands at the queue's front that the stop asked for cancels: set when
  // stop_flag_ is, zero when it is not. Guarded by queue_mutex_.
  std::size_t stop_drops_ = 0;
  std::atomic<int32_t> collision_result_{0};
  double dt_ = 0.0;
  bool enable_state_ = false;
  bool all_torque_off_ = false;  // guarded by enable_mutex_, like enable_state_
  std::unique_ptr<motor_state> motor_state_node_;
  std::unique_ptr<CollisionDetector_AT> collision_detector_;
  double loop_start_time_ = 0.0;
  std::vector<double> torques_;
  std::vector<double> positions_;
  std::vector<double> velocities_;
  JointVec6f fk_joints_{};
  Pose6D pose_{};
  std::vector<AxisPlanState> plan_states_;
  std::vector<AxisState> axis_states_;
  std::vector<AxisPlanState> prev_plan_states_;
  std::vector<double> stop_decel_;
  std::unique_ptr<MotorIoCmd> motor_io_cmd_;
  std::unique_ptr<SetIoCmd> set_io_cmd_;

  LoopState loop_;
  // Where the last move or home in hand or queued leaves the arm; emptied
  // whenever the queue empties. Guarded by queue_mutex_.
  std::vector<double> queued_end_;
  std::vector<AxisPlanState> candidate_states_;  // a sample before its velocity check
  std::vector<double> follow_speeds_;            // per axis, the fastest planned speed of the move so far
  int stop_steps_ = 0;                           // N of the planned stop
  int stop_step_index_ = 0;                      // stepping calls made so far
  // Per axis, how far the stop may carry it: a trapezoid move's goal or the
  // joint limit, whichever comes first along its motion.
  std::vector<double> stop_bound_;
  std::atomic<bool> quit_{false};
};
