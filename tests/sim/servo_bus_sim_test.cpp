// The simulated servo bus seen from a raw serial port: replies byte for byte,
// injected faults, frames cut out of a stream, servo motion, the stand-alone tool.
#include "servo_sim/servo_bus_sim.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <thread>
#include <tuple>

#include "child_process.h"

namespace {

using namespace servo_sim;
using Bytes = std::vector<uint8_t>;
using std::chrono::milliseconds;

// The controller's end of the bus reduced to raw bytes (the simulator keeps the line raw).
struct BusClient {
  int fd = -1;
  ~BusClient() { close(fd); }
  bool open(const std::string& path) { return (fd = ::open(path.c_str(), O_RDWR | O_NOCTTY)) >= 0; }
  // Sends a frame, dropping whatever waits, and collects the answer: until `count` bytes came and
  // then 60 ms passed without more; no answer wanted: a second without a byte.
  Bytes transact(const Bytes& frame, size_t count) {
    Bytes out;
    if (tcflush(fd, TCIFLUSH) != 0 || write(fd, frame.data(), frame.size()) != ssize_t(frame.size()))
      return out;
    uint8_t buf[512];
    for (pollfd pfd{fd, POLLIN, 0}; poll(&pfd, 1, out.size() < count ? 30000 : count ? 60 : 1000) > 0;) {
      const ssize_t n = read(fd, buf, sizeof buf);
      if (n <= 0) break;
      out.insert(out.end(), buf, buf + n);
    }
    return out;
  }
};

Bytes frame(uint8_t id, uint8_t inst, const Bytes& params = {}) { return makeInstructionFrame(id, inst, params); }

// Hand-checked frames, so the helpers above are not their own oracle.
const Bytes kPing1{0xFF, 0xFF, 0x01, 0x02, 0x01, 0xFB};
const Bytes kAck1{0xFF, 0xFF, 0x01, 0x02, 0x00, 0xFC};

// A running simulator with servos 1..3 and a client on its slave.
class SimBus : public ::testing::Test {
 protected:
  void SetUp() override {
    for (uint8_t id = 1; id <= 3; ++id) sim.addServo(id);
    ASSERT_TRUE(sim.start() && client.open(sim.slavePath()));
  }
  ServoBusSim sim;
  BusClient client;
};

TEST_F(SimBus, RepliesSilencesAndInjectedFaultsAreByteExact) {
  const struct {
    void (*fault)(ServoFaults&);
    Bytes request, reply;
  } rows[] = {
      // Torque on with a bad checksum: dropped, but logged.
      {{}, {0xFF, 0xFF, 0x01, 0x04, 0x03, 0x28, 0x01, 0xCF}, {}},
      // Feedback block of servo 3: at rest at 2048, torque off, 12.0 V, 32 °C.
      {{}, {0xFF, 0xFF, 0x03, 0x04, 0x02, 0x38, 0x0F, 0xAF}, {0xFF, 0xFF, 0x03, 0x11, 0x00, 0x00, 0x08,
                                                              0x00, 0x00, 0x00, 0x00, 0x78, 0x20, 0x00,
                                                              0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x4B}},
      {{}, frame(kBroadcastId, kInstPing), {}},
      {{}, frame(kBroadcastId, kInstWrite, {kRegTorqueEnable, 1}), {}},
      {{}, frame(kBroadcastId, kInstRead, {56, 2}), {}},
      {{}, frame(9, kInstPing), {}},
      {{}, frame(1, kInstRead, {kRegModelNumber, 2}), {0xFF, 0xFF, 0x01, 0x04, 0x00, 0x09, 0x03, 0xEE}},
      // Past the register file, longer than a reply can carry, or too short to mean anything.
      {{}, frame(1, kInstRead, {250, 10}), {0xFF, 0xFF, 0x01, 0x02, kErrRange, 0xF4}},
      {{}, frame(1, kInstRead, {0, 254}), {0xFF, 0xFF, 0x01, 0x02, kErrRange, 0xF4}},
      {{}, frame(1, kInstWrite, {255, 1, 2}), {0xFF, 0xFF, 0x01, 0x02, kErrRange, 0xF4}},
      {{}, frame(1, kInstRead, {56}), {0xFF, 0xFF, 0x01, 0x02, kErrInstruction, 0xBC}},
      // Injected faults, the checksum inverted or right for the wrong id.
      {[](ServoFaults& f) { f.bad_checksum = true; }, kPing1, {0xFF, 0xFF, 0x01, 0x02, 0x00, 0x03}},
      {[](ServoFaults& f) { f.wrong_id = 4; }, kPing1, {0xFF, 0xFF, 0x04, 0x02, 0x00, 0xF9}},
      {[](ServoFaults& f) { f.error_byte = 0x20; }, kPing1, {0xFF, 0xFF, 0x01, 0x02, 0x20, 0xDC}},
      {[](ServoFaults& f) { f.cut_reply_to = 4; }, kPing1, {0xFF, 0xFF, 0x01, 0x02}},
  };
  for (const auto& row : rows) {
    ServoFaults faults;
    if (row.fault) row.fault(faults);
    sim.setFaults(1, faults);
    EXPECT_EQ(client.transact(row.request, row.reply.size()), row.reply);
  }
  EXPECT_FALSE(sim.frames().at(0).checksum_ok);
  for (uint8_t id = 1; id <= 3; ++id) EXPECT_EQ(sim.reg(id, kRegTorqueEnable), 1);  // the broadcast obeyed
}

TEST_F(SimBus, TorqueOnServoTravelsToGoalAndSettlesTorqueOffServoStays) {
  ASSERT_EQ(client.transact({0xFF, 0xFF, 0x01, 0x04, 0x03, 0x28, 0x01, 0xCE}, 6), kAck1);  // torque on
  // Goals 1000 at 400 steps/s (2.6 s: seen on its way on a loaded machine too) and 4000, low byte first.
  ASSERT_EQ(client.transact(frame(1, kInstRegWrite, {kRegAcceleration, 0, 0xE8, 0x03, 0, 0, 0x90, 0x01}), 6),
            kAck1);
  ASSERT_EQ(client.transact(frame(2, kInstRegWrite, {kRegAcceleration, 0, 0xA0, 0x0F}), 6).size(), 6u);
  client.transact(frame(kBroadcastId, kInstAction), 0);
  auto servo1 = [this](bool (*done)(const ServoSnapshot&)) {
    for (int i = 0; i < 30000 && !done(sim.servo(1)); ++i) std::this_thread::sleep_for(milliseconds(1));
    return sim.servo(1);
  };
  const ServoSnapshot mid = servo1([](const ServoSnapshot& s) { return s.position < 1900; });
  EXPECT_EQ(std::make_tuple(mid.moving, mid.speed < 0, mid.load < 0), std::make_tuple(1, true, true));
  EXPECT_GT(mid.current, sim.servo(3).current);
  const ServoSnapshot end = servo1([](const ServoSnapshot& s) { return s.position == 1000 && !s.moving; });
  EXPECT_EQ(std::tie(end.position, end.speed, end.moving), std::make_tuple(1000, 0, 0));
  const ServoSnapshot off = sim.servo(2);
  EXPECT_EQ(std::tie(off.goal, off.position, off.current, off.moving), std::make_tuple(4000, 2048, 0, 0));
}

// A servo deaf to its goals answers the registered goal write, but an ACTION leaves its goal as it was; deaf
// no more, it acts on the next one. A slow line sends a reply no sooner than its bytes take.
TEST_F(SimBus, DeafServosKeepTheirGoalAndSlowLinesDelayReplies) {
  const Bytes goal1000 = frame(1, kInstRegWrite, {kRegAcceleration, 0, 0xE8, 0x03, 0, 0, 0, 0});
  auto action = [this] {
    const size_t seen = sim.frameCount();
    const Bytes act = frame(kBroadcastId, kInstAction);
    // Counted once carried out.
    return write(client.fd, act.data(), act.size()) == ssize_t(act.size()) &&
           sim.waitForFrames(seen + 1, milliseconds(30000));
  };
  ServoFaults deaf;
  deaf.ignore_goals = true;
  sim.setFaults(1, deaf);
  EXPECT_EQ(client.transact(goal1000, 6), kAck1);
  ASSERT_TRUE(action());
  EXPECT_EQ(sim.servo(1).goal, kMiddlePosition);
  sim.clearFaults(1);
  ASSERT_TRUE(action());  // the goal it took is gone
  EXPECT_EQ(sim.servo(1).goal, kMiddlePosition);
  EXPECT_EQ(client.transact(goal1000, 6), kAck1);
  ASSERT_TRUE(action());
  EXPECT_EQ(sim.servo(1).goal, 1000);

  ServoFaults slow;
  slow.reply_byte_us = 100000;  // 0.6 s for the six bytes of an answer
  sim.setFaults(1, slow);
  ASSERT_EQ(write(client.fd, kPing1.data(), kPing1.size()), ssize_t(kPing1.size()));
  pollfd pfd{client.fd, POLLIN, 0};
  EXPECT_EQ(poll(&pfd, 1, 300), 0);
  EXPECT_EQ(client.transact({}, 6), kAck1);
}

TEST(FrameParsing, ParserResynchronisesAfterGarbage) {
  FrameParser p(milliseconds(20));
  const auto t0 = FrameParser::Clock::now();
  // Feeds the pieces one after the other, then takes every frame ready (empty: bad checksum).
  auto parse = [&p](FrameParser::Clock::time_point now, std::initializer_list<Bytes> pieces) {
    for (const Bytes& in : pieces) p.feed(in.data(), in.size(), now);
    std::vector<Bytes> out;
    for (Frame f; p.next(&f, now);) out.push_back(f.checksum_ok ? f.raw : Bytes{});
    return out;
  };
  const Bytes ping2 = frame(2, kInstPing);
  // A bad-checksum frame whose body hides a good frame is reported, then the good one.
  EXPECT_EQ(parse(t0, {{0xFF, 0xFF, 0x05, 0x07, 0x03}, kPing1}), (std::vector<Bytes>{{}, kPing1}));
  // Three 0xFF in a row and a zero length are not frame starts; a lone trailing 0xFF is kept.
  EXPECT_EQ(parse(t0, {{0xFF, 0xFF, 0xFF}, ping2, {0xFF, 0xFF, 0x01, 0x00}, {0xFF}}),
            std::vector<Bytes>{ping2});
  EXPECT_EQ(parse(t0, {Bytes(kPing1.begin() + 1, kPing1.end())}), std::vector<Bytes>{kPing1});
  // A stalled partial frame is dropped after the gap, not held forever.
  EXPECT_TRUE(parse(t0, {{0xFF, 0xFF, 0x01, 0x0A, 0x04}}).empty());
  EXPECT_TRUE(parse(t0 + milliseconds(30), {}).empty());
  EXPECT_EQ(p.pending(), 0u);
}

TEST(BusSimTool, ServesSixServosThroughItsLinkAndNeverReplacesARealFile) {
  const std::string link = "/tmp/servo_sim_tool_" + std::to_string(getpid());
  const std::shared_ptr<void> cleanup(nullptr, [link](void*) { std::filesystem::remove(link); });
  std::ofstream(link) << "keep me";
  EXPECT_EQ(arm_test::ChildProcess({SERVO_BUS_SIM_PATH, "--link", link}).wait(milliseconds(30000)), 1);
  EXPECT_FALSE(std::filesystem::is_symlink(link));
  std::filesystem::remove(link);

  arm_test::ChildProcess tool({SERVO_BUS_SIM_PATH, "--link", link, "--wire-time"});
  ASSERT_TRUE(tool.waitForOutput(link, milliseconds(30000))) << tool.output();
  BusClient client;
  ASSERT_TRUE(std::filesystem::is_symlink(link) && client.open(link));
  for (uint8_t id = 1; id <= 6; ++id)
    EXPECT_EQ(client.transact(frame(id, kInstPing), 6), makeStatusReply(id, 0, nullptr, 0));
  tool.signal(SIGTERM);
  EXPECT_EQ(tool.wait(milliseconds(30000)), 0);
  EXPECT_FALSE(std::filesystem::is_symlink(link));
}

}  // namespace
