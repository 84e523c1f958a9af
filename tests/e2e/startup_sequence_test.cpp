// Starting and ending the controller: start-up lines, SIGTERM, start-ups that fail.
#include <sys/socket.h>

#include <array>
#include <utility>

#include "controller_fixture.h"

namespace e2e {

class StartupSequence : public ControllerTest {};

TEST_F(StartupSequence, PrintsStartUpLinesInOrderAndFirstSigtermOnlyEndsTheSpin) {
  ASSERT_NO_FATAL_FAILURE(start());
  const std::string out = output();
  size_t at = 0;
  for (const std::string line :
       {"start tavrenk robot.\n", "*******start init motor axises*******\n", "The robot has 6 axises.\n",
        "Manipolator SE(3) = 1.000000  0.000000  0.000000  0.000000\n0.000000  1.000000  0.000000  0.000000\n"
        "0.000000  0.000000  1.000000  -50.000000\n0.000000  0.000000  0.000000  1.000000\n\n",
        "Motor_state_node construct.\n", "Creat objective interpolator.\n",
        "主线程threadid:", "Create call server on port 8007.\n", "Create stream server on port 8006.\n",
        "---robot_cmd_processor node init. ---\n"}) {
    at = out.find(line, at);
    ASSERT_NE(at, std::string::npos) << "missing or out of order: [" << line << "]";
    at += line.size();
  }

  controller_->signal(SIGTERM);
  ASSERT_TRUE(waitForOutput("[rclcpp]: signal_handler(signum=15)\n"));
  long last = -1;
  ASSERT_TRUE(waitUntil(
      [&last] {
        std::this_thread::sleep_for(Ms(500));
        return std::exchange(last, topics().joint_count) == last;
      },
      Ms(30000)))
      << "joint topic kept coming after the spin ended";
  // main stays in its join (the interpolation thread never ends); the bus serves on.
  const size_t frames = bus_->frameCount();
  EXPECT_EQ(controller_->wait(Ms(1500)), -1) << "process ended on the first SIGTERM";
  EXPECT_EQ(countInOutput("[rclcpp]: signal_handler(signum=15)\n"), 1u);
  EXPECT_TRUE(bus_->waitForFrames(frames + 50, Ms(30000)));
  EXPECT_EQ(topics().joint_count, last);
  controller_->signal(SIGTERM);
  EXPECT_EQ(controller_->wait(Ms(30000)), 128 + SIGTERM);
}

TEST_F(StartupSequence, PortAlreadyTakenEndsProcessWithStatus255) {
  const int holder = socket(AF_INET, SOCK_STREAM, 0), one = 1;
  setsockopt(holder, SOL_SOCKET, SO_REUSEADDR, &one, sizeof(one));
  sockaddr_in addr{AF_INET, htons(kCallPort), {htonl(INADDR_LOOPBACK)}, {}};
  ASSERT_EQ(bind(holder, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)), 0);
  ASSERT_EQ(listen(holder, 1), 0);
  ASSERT_NO_FATAL_FAILURE(launch());
  EXPECT_EQ(controller_->wait(Ms(30000)), 255);
  close(holder);
  EXPECT_EQ(countInOutput("TcpServer: bind on 127.0.0.1 port 8007 failed: Address already in use\n"), 1u);
}

TEST_F(StartupSequence, DdsThatCannotStartEndsTheProcessWithItsReason) {
  const std::string nic = "<General><Interfaces><NetworkInterface name=\"nosuch0\"/></Interfaces></General>";
  for (const auto& [name, value, reason] : std::vector<std::array<std::string, 3>>{
           {"ROS_DOMAIN_ID", "233", "ROS_DOMAIN_ID '233' is not a valid domain id (0 to 232)\n"},
           {"ROS_DOMAIN_ID", "1x", "'1x' is not a valid domain id"}, {"CYCLONEDDS_URI", nic, "nosuch0"}}) {
    ASSERT_NO_FATAL_FAILURE(launch({{name, value}}));
    EXPECT_EQ(controller_->wait(Ms(30000)), 1);
    EXPECT_EQ(countInOutput("ROS 2 could not start: failed to initialize rcl: "), 1u);
    EXPECT_EQ(countInOutput(reason), 1u) << value;
    EXPECT_EQ(output().find("start init motor axises"), std::string::npos);
  }
}

}  // namespace e2e
