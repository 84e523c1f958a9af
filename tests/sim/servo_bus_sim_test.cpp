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
  bool open(const std::string& path) {
    return (fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK)) >= 0;
  }
  // Sends a frame, dropping whatever waits, and collects the answer: until `count` bytes came and
  // then 60 ms passed without more, or a second is up.
  Bytes transact(const Bytes& frame, size_t count) {
    Bytes out;
    if (tcflush(fd, TCIFLUSH) != 0 || write(fd, frame.data(), frame.size()) != ssize_t(frame.size()))
      return out;
    const auto deadline = std::chrono::steady_clock::now() + milliseconds(1000);
    for (pollfd pfd{fd, POLLIN, 0};;) {
      const auto left = std::chrono::duration_cast<milliseconds>(deadline - std::chrono::steady_clock::now());
      uint8_t buf[512];
      if (left.count() <= 0 || poll(&pfd, 1, out.size() < count ? int(left.count()) : 60) <= 0) break;
      const ssize_t n = read(fd, buf, sizeof buf);
      if (n <= 0) break;
      out.insert(out.end(), buf, buf + n);
    }
    return out;
  }
};

Bytes frame(uint8_t id, uint8_t instruction, const Bytes& params = {}) {
  return makeInstructionFrame(id, instruction, params);
}

// Hand-checked frames, so the helpers above are not their own oracle.
const Bytes kPing1{0xFF, 0xFF, 0x01, 0x02, 0x01, 0xFB};
const Bytes kAck1{0xFF, 0xFF, 0x01, 0x02, 0x00, 0xFC};
const Bytes kTorqueOn1{0xFF, 0xFF, 0x01, 0x04, 0x03, 0x28, 0x01, 0xCE};

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
  ServoFaults bad_checksum, wrong_id, error_byte, cut, noise;
  bad_checksum.bad_checksum = true;
  wrong_id.wrong_id = 4;
  error_byte.error_byte = 0x20;
  cut.cut_reply_to = 4;
  noise.noise = {0xFF, 0x00, 0xFF};
  const struct {
    ServoFaults fault;
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
      {{}, kPing1, kAck1},
      {{}, frame(1, kInstRead, {kRegModelNumber, 2}), {0xFF, 0xFF, 0x01, 0x04, 0x00, 0x09, 0x03, 0xEE}},
      // Past the register file, longer than a reply can carry, or too short to mean anything.
      {{}, frame(1, kInstRead, {250, 10}), {0xFF, 0xFF, 0x01, 0x02, kErrRange, 0xF4}},
      {{}, frame(1, kInstRead, {0, 254}), {0xFF, 0xFF, 0x01, 0x02, kErrRange, 0xF4}},
      {{}, frame(1, kInstWrite, {255, 1, 2}), {0xFF, 0xFF, 0x01, 0x02, kErrRange, 0xF4}},
      {{}, frame(1, kInstRead, {56}), {0xFF, 0xFF, 0x01, 0x02, kErrInstruction, 0xBC}},
      {bad_checksum, kPing1, {0xFF, 0xFF, 0x01, 0x02, 0x00, 0x03}},  // inverted
      {wrong_id, kPing1, {0xFF, 0xFF, 0x04, 0x02, 0x00, 0xF9}},      // checksum right for the wrong id
      {error_byte, kPing1, {0xFF, 0xFF, 0x01, 0x02, 0x20, 0xDC}},
      {cut, kPing1, {0xFF, 0xFF, 0x01, 0x02}},
      {noise, kPing1, {0xFF, 0x00, 0xFF, 0xFF, 0xFF, 0x01, 0x02, 0x00, 0xFC}},  // noise first, reply intact
  };
  for (const auto& row : rows) {
    sim.setFaults(1, row.fault);
    EXPECT_EQ(client.transact(row.request, row.reply.size()), row.reply);
  }
  EXPECT_FALSE(sim.frames().at(0).checksum_ok);
  for (uint8_t id = 1; id <= 3; ++id) EXPECT_EQ(sim.reg(id, kRegTorqueEnable), 1);  // the broadcast obeyed
}

TEST_F(SimBus, TorqueOnServoTravelsToGoalAndSettlesTorqueOffServoStays) {
  ASSERT_EQ(client.transact(kTorqueOn1, 6), kAck1);
  for (const auto& [id, goal] : {std::pair<uint8_t, int>{1, 1000}, {2, 4000}})
    ASSERT_EQ(client.transact(
                  frame(id, kInstRegWrite, {kRegAcceleration, 0, uint8_t(goal), uint8_t(goal >> 8)}), 6),
              (Bytes{0xFF, 0xFF, id, 0x02, 0x00, uint8_t(~(id + 2))}));
  client.transact(frame(kBroadcastId, kInstAction), 0);
  auto servo1 = [this](int for_ms, bool (*done)(const ServoSnapshot&)) {
    for (int i = 0; i < for_ms && !done(sim.servo(1)); ++i) std::this_thread::sleep_for(milliseconds(1));
    return sim.servo(1);
  };
  const ServoSnapshot mid = servo1(1000, [](const ServoSnapshot& s) { return s.position < 1900; });
  EXPECT_EQ(std::make_tuple(mid.moving, mid.speed < 0, mid.load < 0), std::make_tuple(1, true, true));
  EXPECT_GT(mid.current, sim.servo(3).current);
  const ServoSnapshot end =
      servo1(2000, [](const ServoSnapshot& s) { return s.position == 1000 && s.moving == 0; });
  EXPECT_EQ(std::tie(end.position, end.speed, end.moving), std::make_tuple(1000, 0, 0));
  const ServoSnapshot off = sim.servo(2);
  EXPECT_EQ(std::tie(off.goal, off.position, off.current, off.moving), std::make_tuple(4000, 2048, 0, 0));
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
  EXPECT_EQ(arm_test::ChildProcess({SERVO_BUS_SIM_PATH, "--link", link}).wait(milliseconds(3000)), 1);
  EXPECT_FALSE(std::filesystem::is_symlink(link));
  std::filesystem::remove(link);

  arm_test::ChildProcess tool({SERVO_BUS_SIM_PATH, "--link", link, "--wire-time"});
  ASSERT_TRUE(tool.waitForOutput(link, milliseconds(5000))) << tool.output();
  BusClient client;
  ASSERT_TRUE(std::filesystem::is_symlink(link) && client.open(link));
  for (uint8_t id = 1; id <= 6; ++id)
    EXPECT_EQ(client.transact(frame(id, kInstPing), 6), makeStatusReply(id, 0, nullptr, 0));
  tool.signal(SIGTERM);
  EXPECT_EQ(tool.wait(milliseconds(3000)), 0);
  EXPECT_FALSE(std::filesystem::is_symlink(link));
}

}  // namespace
