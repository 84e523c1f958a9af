// What each call-server request does to the arm and what its client is told.
#include <atomic>
#include <limits>

#include "arm_fixture.h"
#include "motion/commands/all_axises_joint_planner.h"
#include "cloud/robot_ping.pb.h"
#include "motion/producers/joint_move_producer.h"
#include "stdout_capture.h"

namespace server_test {
namespace {

std::string moveRequest(const std::vector<double>& angles) {
  robot_ping::MainArmRequestMsg msg;
  msg.set_requesttype(robot_ping::PostJointAngle);
  for (double a : angles) msg.mutable_angle()->add_angle(a);
  return frameOf(msg.SerializeAsString());
}

const std::string kPowerOn("\x00\x00\x00\x04\x08\x03\x10\x01", 8);
const std::string kMoveRefused = "00 00 00 04 08 02 18 00";

class CallRequests : public CallServerFixture {};

TEST_F(CallRequests, RefusedMovesAnswerFalseAndQueueNothing) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const std::vector<std::vector<double>> refused = {
      {0.1, 0.2, 0.3, 0.4, 0.5},            {0.1, 0.2, 0.3, 0.4, 0.5, 0.6, 0.7},
      {0.1, 0.2, 3.2, 0.4, 0.5, 0.6},       {0.1, 0.2, 0.3, -3.2, 0.5, 0.6},
      {0.1, nan, 0.3, 0.4, 0.5, 0.6},
  };
  LoopbackClient client;
  ASSERT_TRUE(client.connectTo(port_));
  for (const auto& target : refused) {
    ASSERT_TRUE(client.sendBytes(moveRequest(target)));
    EXPECT_EQ(hex(client.readBytes(8)), kMoveRefused);
  }
  ip()->setAbnormalFlag(true);
  ASSERT_TRUE(client.sendBytes(moveRequest({0.1, 0.2, 0.3, 0.4, 0.5, 0.6})));
  EXPECT_EQ(hex(client.readBytes(8)), kMoveRefused);
  std::lock_guard<std::mutex> lock(ip()->queue_mutex_);
  EXPECT_TRUE(ip()->cmd_queue_.empty());
}

// The node's thread and the server queue moves at the same time: each still
// starts where the one queued before it ends.
TEST_F(CallRequests, MovesQueuedAlongsideTheNodeChainEndToStart) {
  arm_test::StdoutCapture quiet;
  std::atomic<bool> started{false};
  std::thread node([&] {
    started = true;
    for (int k = 1; k <= 400; ++k) joint_move::planJointMove(ip(), std::vector<double>(6, 0.001 * k), 6, 1.0);
  });
  while (!started) std::this_thread::yield();
  for (int k = 1; k <= 400; ++k) server_->planJointMove(std::vector<double>(6, -0.001 * k), 0.4);
  node.join();
  quiet.text();
  std::vector<double> end = {0.1, 0.2, 0.3, 0.4, 0.5, 0.6};  // measured
  std::lock_guard<std::mutex> lock(ip()->queue_mutex_);
  ASSERT_EQ(ip()->cmd_queue_.size(), 800u);
  for (AbstractCmdInterface* cmd : ip()->cmd_queue_) {
    const auto& axes = dynamic_cast<AllAxisesJointPlanner&>(*cmd).traj_interface_ptrs_;
    for (size_t i = 0; i < 6; ++i) {
      const TrapezoidPlannerInput& in = dynamic_cast<TrapezoidPlanner&>(*axes[i]).plannerInput();
      EXPECT_EQ(in.q0, end[i]);
      end[i] = in.q1;
    }
  }
}

TEST_F(CallRequests, ClientGoneBeforeItsReplyLeavesTheServerServing) {
  for (auto& m : motors()) m->setIgnoreEnable(true);  // the power request times out
  startLoop();
  {
    LoopbackClient client;
    ASSERT_TRUE(client.connectTo(port_));
    ASSERT_TRUE(client.sendBytes(kPowerOn));
    std::this_thread::sleep_for(Ms(200));
  }
  LoopbackClient next;
  ASSERT_TRUE(next.connectTo(port_));
  EXPECT_TRUE(servesArmId(next, Ms(20000)));
}

}  // namespace
}  // namespace server_test
