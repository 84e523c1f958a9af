// The controller as an operator starts and ends it: the start-up lines in
// their order, the spin, and what SIGTERM does to the process.
#include <signal.h>

#include <thread>

#include "controller_fixture.h"

namespace e2e {
namespace {

class StartupSequence : public ControllerTest {};

TEST_F(StartupSequence, PrintsStartUpLinesInOrderAndSpins) {
  ASSERT_NO_FATAL_FAILURE(startBus());
  ASSERT_NO_FATAL_FAILURE(startController());

  const std::vector<std::string> lines = {
      "start tavrenk robot.\n",
      "*******start init motor axises*******\n",
      "The robot has 6 axises.\n",
      "Manipolator SE(3) = 1.000000  0.000000  0.000000  0.000000\n"
      "0.000000  1.000000  0.000000  0.000000\n"
      "0.000000  0.000000  1.000000  -50.000000\n"
      "0.000000  0.000000  0.000000  1.000000\n\n",
      "Motor_state_node construct.\n",
      "Creat objective interpolator.\n",
      "主线程threadid:",
      "Create call server on port 8007.\n",
      "Create stream server on port 8006.\n",
      "---robot_cmd_processor node init. ---\n",
  };
  const std::string out = output();
  size_t at = 0;
  for (const auto& line : lines) {
    const size_t found = out.find(line, at);
    ASSERT_NE(found, std::string::npos) << "missing or out of order: [" << line << "]\n" << out;
    at = found + line.size();
  }
  EXPECT_EQ(out.find("init error!"), std::string::npos) << out;

  // Spinning: the 10 ms timer keeps the state topics coming.
  const TopicState before = Operator::get().state();
  EXPECT_TRUE(Operator::get().waitFor(
      [&before](const TopicState& s) {
        return s.joint_count >= before.joint_count + 20 && s.pose_count >= before.pose_count + 20 &&
               s.enable_count >= before.enable_count + 20;
      },
      Ms(10000)));
  const TopicState now = Operator::get().state();
  ASSERT_EQ(now.joints.size(), 6u);
  for (int i = 0; i < kAxes; ++i) EXPECT_NEAR(now.joints[i], settledReading(i, 0.0), 1e-9) << i;
  EXPECT_FALSE(now.enabled);
}

TEST_F(StartupSequence, SigtermEndsSpinButProcessWaitsForSecondSignal) {
  ASSERT_NO_FATAL_FAILURE(startBus());
  ASSERT_NO_FATAL_FAILURE(startController());

  controller_->signal(SIGTERM);
  // The spin ends: the state topics fall silent.
  long last = -1;
  bool silent = false;
  for (int i = 0; i < 100 && !silent; ++i) {
    std::this_thread::sleep_for(Ms(300));
    const long n = Operator::get().state().joint_count;
    silent = n == last;
    last = n;
  }
  ASSERT_TRUE(silent) << "joint topic kept coming after SIGTERM";

  // The interpolation thread is never joined, so the process stays, and the
  // detached bus thread keeps serving the servos.
  const size_t frames = bus_->frameCount();
  EXPECT_EQ(controller_->wait(Ms(1500)), -1) << "process ended on the first SIGTERM:\n" << output();
  EXPECT_GT(bus_->frameCount(), frames + 50);
  EXPECT_EQ(Operator::get().state().joint_count, last);

  controller_->signal(SIGTERM);
  EXPECT_EQ(controller_->wait(Ms(10000)), 128 + SIGTERM) << output();
}

}  // namespace
}  // namespace e2e
