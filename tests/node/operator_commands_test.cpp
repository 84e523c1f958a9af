// Stop, serve on, home, recover and the grasp button reach the Interpolator
// also while the arm is abnormal; moves are refused until recover.
#include "motion/commands/motor_io_cmd.h"
#include "node_harness.h"

namespace node_test {
namespace {

class OperatorCommands : public NodeTest {};

TEST_F(OperatorCommands, WhileAbnormalOnlyPowerHomeStopAndGraspActUntilRecover) {
  ip()->setAbnormalFlag(true);
  const std::vector<std::string> moves = {
      "movj", "0.1,0.1,0.1,0.1,0.1,0.1,0.5", "movjs", "4,7",
      "0,0,0,0,0,0,0,1,1,1,1,1,1,1,2,2,2,2,2,2,2,3,3,3,3,3,3,3", "follow", "go"};
  // Topics are not ordered with each other (and serve_on_topic keeps one
  // sample): the peer waits wherever order matters.
  std::vector<std::string> steps = {"serve", "1", "sleep", "200", "serve", "0", "home", "now",
                                    "stop", "halt", "grasp", "1", "barm", "0.1,0.2,0.3,0.4,0.5,0.6",
                                    "sleep", "300"};
  steps.insert(steps.end(), moves.begin(), moves.end());
  for (const char* step : {"sleep", "300", "recover", "0", "sleep", "300"}) steps.push_back(step);
  steps.insert(steps.end(), moves.begin(), moves.end());
  runPeer(steps);

  // Power, home and one of each move after recover: the moves sent while abnormal were dropped.
  ASSERT_TRUE(waitForQueueSize(6));
  int enables = 0, disables = 0, homes = 0, moved = 0;
  for (auto& cmd : takeQueue()) {
    if (auto* io = dynamic_cast<MotorIoCmd*>(cmd.get())) {
      // Each command carries its own copy of the six axes.
      EXPECT_EQ(io->robot_para_.axis_num, 6);
      EXPECT_EQ(io->robot_para_.axis_paras.at(5).motor, arm_->motors[5].get());
      io->getKind() == kMotorIoHome ? ++homes : io->enable_ ? ++enables : ++disables;
    } else {
      moved += dynamic_cast<AllAxisesJointPlanner*>(cmd.get()) != nullptr;
    }
  }
  EXPECT_EQ(enables, 1);
  EXPECT_EQ(disables, 1);
  EXPECT_EQ(homes, 1);
  EXPECT_EQ(moved, 3);
  EXPECT_EQ(ip()->stop_flag_.load(), 1u);
  EXPECT_FALSE(ip()->abnormal_flag.load());  // recover with false clears it as true does
  bool grip = false;
  ip()->getGripSignal(&grip);
  EXPECT_TRUE(grip);
}

}  // namespace
}  // namespace node_test
