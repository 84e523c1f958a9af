// The call server: requests taken off the byte stream under any segmentation
// and hostile input, without leaking a descriptor, and what a joint move
// request queues or refuses.
#include <signal.h>

#include <atomic>
#include <cmath>

#include "arm_fixture.h"
#include "cloud/robot_ping.pb.h"
#include "motion/producers/joint_move_producer.h"
#include "stdout_capture.h"

namespace server_test {
namespace {

const std::string kEmptyMove("\x00\x00\x00\x02\x08\x02", 6);  // refused at once
const std::string kRefused = "00 00 00 04 08 02 18 00";

std::string moveRequest(const std::vector<double>& angles) {
  robot_ping::MainArmRequestMsg msg;
  msg.set_requesttype(robot_ping::PostJointAngle);
  for (double a : angles) msg.mutable_angle()->add_angle(a);
  return frameOf(msg.SerializeAsString());
}

class CallServer : public ServerFixture<DriverCallServer> {};

// Split anywhere, byte by byte or two in one segment: one reply per request.
// Length 0 is skipped, a field running past the end is not type 1, unknown
// types get no reply; lengths no request can have end the connection.
TEST_F(CallServer, AnySegmentationAndHostileInputLeaveItServing) {
  LoopbackClient client;
  ASSERT_TRUE(client.connectTo(port_));
  for (const std::string& part : {kIdRequest.substr(0, 3), kIdRequest.substr(3, 2), kIdRequest.substr(5)}) {
    ASSERT_TRUE(client.sendBytes(part));
    std::this_thread::sleep_for(Ms(30));
  }
  EXPECT_EQ(hex(client.readBytes(44)), hex(kIdReply));
  for (char c : kEmptyMove) ASSERT_TRUE(client.sendBytes(std::string(1, c)));
  EXPECT_EQ(hex(client.readBytes(8)), kRefused);
  std::string bad = headerOf(0) + headerOf(4) + std::string("\x08\x01\x1a\x7f", 4);
  for (const char* type : {"\x08\x00", "\x08\x04", "\x08\x09"}) bad += headerOf(2) + std::string(type, 2);
  ASSERT_TRUE(client.sendBytes(bad + kIdRequest + kEmptyMove));
  EXPECT_EQ(hex(client.readBytes(44 + 8)), hex(kIdReply) + " " + kRefused);
  EXPECT_TRUE(client.silentFor(Ms(100)));
  client.close();
  for (uint32_t hostile : {0x7FFFFFFFu, 0x80000000u, 0xFFFFFFFFu, 64u * 1024u + 1u}) {
    LoopbackClient bad_client;
    ASSERT_TRUE(bad_client.connectTo(port_));
    ASSERT_TRUE(bad_client.sendBytes(headerOf(hostile) + std::string(16, '\x08')));
    EXPECT_TRUE(bad_client.waitForClose(Ms(5000))) << hostile;
  }
}

// Clients leaving inside the header, inside the payload or before their reply
// leak no descriptor; descriptor 0 is a client like any other.
TEST_F(CallServer, VanishingClientsLeakNoDescriptor) {
  signal(SIGPIPE, SIG_DFL);  // a reply to a vanished client must not end the process
  LoopbackClient holder, last;
  ASSERT_TRUE(holder.connectTo(port_));
  ASSERT_TRUE(servesArmId(holder));  // a steady descriptor count first
  holder.close();
  std::this_thread::sleep_for(Ms(100));
  const int before = openDescriptorCount();
  for (int i = 0; i < 30; ++i) {
    LoopbackClient client;
    ASSERT_TRUE(client.connectTo(port_, Ms(10000)));
    ASSERT_TRUE(client.sendBytes(kIdRequest.substr(0, i % 3 == 0 ? 2 : i % 3 == 1 ? 5 : 6)));
  }
  ASSERT_TRUE(holder.connectTo(port_, Ms(10000)));
  ASSERT_TRUE(servesArmId(holder));
  ASSERT_TRUE(last.connectTo(port_));
  const int saved = dup(0);  // the next accept lands on descriptor 0
  close(0);
  holder.close();
  const bool served = servesArmId(last);
  last.close();
  std::this_thread::sleep_for(Ms(100));
  dup2(saved, 0);
  close(saved);
  EXPECT_TRUE(served);
  int after = before + 1;
  for (int i = 0; i < 200 && after > before; ++i, std::this_thread::sleep_for(Ms(10))) after = openDescriptorCount();
  EXPECT_LE(after, before);
}

TEST_F(CallServer, RefusedMovesAnswerFalseAndQueueNothing) {
  const double nan = std::nan("");
  LoopbackClient client;
  ASSERT_TRUE(client.connectTo(port_));
  for (const auto& target : std::vector<std::vector<double>>{{0.1, 0.2, 0.3, 0.4, 0.5}, {0.1, 0.2, 0.3, 0.4, 0.5, 0.6, 0.7},
                                                             {0.1, 0.2, 3.2, 0.4, 0.5, 0.6}, {0.1, nan, 0.3, 0.4, 0.5, 0.6}}) {
    ASSERT_TRUE(client.sendBytes(moveRequest(target)));
    EXPECT_EQ(hex(client.readBytes(8)), kRefused);
  }
  ip()->setAbnormalFlag(true);
  ASSERT_TRUE(client.sendBytes(moveRequest({0.1, 0.2, 0.3, 0.4, 0.5, 0.6})));
  EXPECT_EQ(hex(client.readBytes(8)), kRefused);
  EXPECT_EQ(ip()->testView().queued, 0u);
}

// The node's thread and the server queue moves at the same time: each still
// starts where the one queued before it ends.
TEST_F(CallServer, MovesQueuedAlongsideTheNodeChainEndToStart) {
  arm_test::StdoutCapture cap;
  std::atomic<bool> started{false};
  std::thread node([&] {
    started = true;
    for (int k = 1; k <= 400; ++k) joint_move::planJointMove(ip(), 6, std::vector<double>(6, 0.001 * k), 1.0);
  });
  while (!started) std::this_thread::yield();
  for (int k = 1; k <= 400; ++k) server_->planJointMove(std::vector<double>(6, -0.001 * k), 0.4);
  node.join();
  const std::string out = cap.text();
  double end = 0.6, q0 = 0, q1 = 0;
  int moves = 0;
  for (size_t at = out.find("TrapezoidPlannerInput:"); at != std::string::npos; at = out.find("TrapezoidPlannerInput:", at + 1)) {
    // Axis 6 of each move: a producer prints a move's six lines in its turn.
    if (++moves % 6 != 0) continue;
    ASSERT_EQ(std::sscanf(out.c_str() + at, "TrapezoidPlannerInput:%lf,%lf", &q0, &q1), 2);
    EXPECT_NEAR(q0, end, 1e-6);
    end = q1;
  }
  EXPECT_EQ(moves, 4800);
  EXPECT_EQ(ip()->testView().queued, 800u);
}

}  // namespace
}  // namespace server_test
