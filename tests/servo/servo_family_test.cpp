// Every operation of the four servo families through the real serial code on a simulated bus:
// the frames each one sends, and its result when the servo answers and when the answer is spoilt.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "servo/servo_family_a.h"
#include "servo/servo_family_b.h"
#include "servo/servo_family_c.h"
#include "servo/servo_family_d.h"
#include "servo_sim/servo_bus_sim.h"

namespace {

using Bytes = std::vector<uint8_t>;

constexpr uint64_t kPatientReplyMs = 5000;  // every reply comes; a loaded machine may delay it
constexpr uint8_t kFeedbackReg = 56;

// Frames to servo 1 (sync writes: to all), checksum and length added by the simulator's own code.
Bytes frame(uint8_t id, uint8_t instruction, uint8_t addr, Bytes data) {
  data.insert(data.begin(), addr);
  return servo_sim::makeInstructionFrame(id, instruction, data);
}
Bytes writeAt(uint8_t addr, Bytes data) { return frame(1, 3, addr, data); }
Bytes regWriteAt(uint8_t addr, Bytes data) { return frame(1, 4, addr, data); }
Bytes readAt(uint8_t addr, uint8_t len) { return frame(1, 2, addr, {len}); }
Bytes syncWriteAt(uint8_t addr, uint8_t len, Bytes blocks) {
  blocks.insert(blocks.begin(), len);
  return frame(0xFE, 0x83, addr, blocks);
}

// "FF FF 01 ... | FF FF ...": frames in the order sent.
std::string hex(const std::vector<Bytes>& frames) {
  std::string out;
  for (const Bytes& f : frames) {
    out += out.empty() ? "" : " |";
    for (uint8_t b : f) {
      char x[4];
      snprintf(x, sizeof x, " %02X", b);
      out += x;
    }
  }
  return out;
}

// Registers 56 to 70 as servo 1 reports them: every 16-bit value with its sign bit set in one byte
// order or the other, and the bytes nothing decodes at 0xEE.
const Bytes kFeedback = {0x81, 0x80, 0x80, 0x8A, 0x05, 0x04, 120, 40, 0xEE, 0xEE, 1, 0xEE, 0xEE, 0x87, 0x80};

template <class F>
struct WriteRow {
  std::function<int(F&)> call;
  std::vector<Bytes> frames;  // sent, in order, whatever the answers
  int answered;               // result when the servo answers
  int spoilt;                 // result when its answers fail their checksum
  int spoilt_answers = -1;    // how many do (-1: all)
};

// A present value, read from the servo (register and width) and from the cached feedback block.
template <class F>
struct ReadRow {
  int (F::*read)(int id);
  uint8_t reg, len;
  int value;  // of kFeedback's bytes
  int stale;  // from the cache after a failed feedback read: raw, no sign taken
};

class ServoFamily : public ::testing::Test {
 protected:
  void SetUp() override {
    for (uint8_t id : {1, 2}) sim_.addServo(id);
    ASSERT_TRUE(sim_.start());
  }

  template <class F>
  void run(const std::vector<WriteRow<F>>& writes, const std::vector<ReadRow<F>>& reads) {
    F f;
    ASSERT_TRUE(f.openPort(1000000, sim_.slavePath().c_str()));
    f.io_timeout_ms_ = kPatientReplyMs;
    for (bool good : {true, false}) {
      SCOPED_TRACE(good ? "answered" : "answers spoilt");
      for (size_t i = 0; i < writes.size(); ++i) {
        SCOPED_TRACE(i);
        servo_sim::ServoFaults spoil;
        spoil.bad_checksum = true, spoil.remaining = writes[i].spoilt_answers;
        if (!good) sim_.setFaults(1, spoil);
        EXPECT_EQ(writes[i].call(f), good ? writes[i].answered : writes[i].spoilt);
        EXPECT_EQ(sent(writes[i].frames.size()), hex(writes[i].frames));
        sim_.clearFaults(1);
      }
      answer(kFeedback, good);
      EXPECT_EQ(f.readFeedback(1), good ? 15 : -1);
      EXPECT_EQ(f.getError(), good ? 0 : 1);
      EXPECT_EQ(sent(1), hex({readAt(kFeedbackReg, 15)}));
      for (const ReadRow<F>& r : reads) {
        SCOPED_TRACE(r.reg);
        EXPECT_EQ((f.*r.read)(-1), good ? r.value : r.stale);
        const auto at = kFeedback.begin() + (r.reg - kFeedbackReg);
        answer(Bytes(at, at + r.len), good);
        EXPECT_EQ((f.*r.read)(1), good ? r.value : -1);
        EXPECT_EQ(f.getError(), good ? 0 : 1);
        EXPECT_EQ(sent(1), hex({readAt(r.reg, r.len)}));  // the cache read sent nothing
      }
    }
    f.closePort();
  }

  template <class F>
  void runLowFirst(uint8_t mode_reg, uint8_t lock_reg) {
    run<F>({{[](F& f) { return f.writePosition(1, -100, 500, 20); },
             {writeAt(41, {20, 0x64, 0x80, 0, 0, 0xF4, 0x01})}, 1, 0},
            {[](F& f) { return f.writePositionDeferred(1, 2048, 0, 0); },
             {regWriteAt(41, {0, 0x00, 0x08, 0, 0, 0, 0})}, 1, 0},
            // No answer awaited; the caller's -5 is left in its bus form.
            {[](F& f) {
               const uint8_t ids[2] = {1, 2};
               const uint16_t speeds[2] = {100, 200};
               int16_t positions[2] = {-5, 5};
               f.syncWritePositions(ids, 2, positions, speeds, nullptr);
               return positions[0];
             },
             {syncWriteAt(41, 7, {1, 0, 0x05, 0x80, 0, 0, 100, 0, 2, 0, 0x05, 0x00, 0, 0, 200, 0})},
             int16_t(0x8005), int16_t(0x8005)},
            {[](F& f) { return f.setWheelMode(1); }, {writeAt(mode_reg, {1})}, 1, 0},
            // The speed goes out whatever became of the acceleration, and its answer is the result.
            {[](F& f) { return f.writeWheelSpeed(1, -300, 10); }, {writeAt(41, {10}), writeAt(46, {0x2C, 0x81})}, 1, 0},
            {[](F& f) { return f.writeWheelSpeed(1, -300, 10); }, {writeAt(41, {10}), writeAt(46, {0x2C, 0x81})}, 1, 1, 1},
            {[](F& f) { return f.setTorqueEnable(1, 1); }, {writeAt(40, {1})}, 1, 0},
            {[](F& f) { return f.unlockEeprom(1); }, {writeAt(lock_reg, {0})}, 1, 0},
            {[](F& f) { return f.lockEeprom(1); }, {writeAt(lock_reg, {1})}, 1, 0},
            {[](F& f) { return f.calibrateMiddle(1); }, {writeAt(40, {128})}, 1, 0},
            {[](F& f) { return f.writeRegWord(1, 42, 2048); }, {writeAt(42, {0x00, 0x08})}, 1, 0}},
           {{&F::readPosition, 56, 2, -0x81, 0x8081},
            {&F::readSpeed, 58, 2, -0xA80, 0x8A80},
            {&F::readLoad, 60, 2, -0x5, 0x405},
            {&F::readVoltage, 62, 1, 120, 120},
            {&F::readTemperature, 63, 1, 40, 40},
            {&F::readMoving, 66, 1, 1, 1},
            {&F::readCurrent, 69, 2, -0x87, 0x8087}});
  }

  // The frames of the last call, awaited: a sync write has no answer to wait for.
  std::string sent(size_t n) {
    sim_.waitForFrames(n, std::chrono::milliseconds(kPatientReplyMs));
    std::vector<Bytes> raw;
    for (const auto& f : sim_.frames()) raw.push_back(f.raw);
    sim_.clearFrames();
    return hex(raw);
  }
  // Servo 1 answers its next request with data, the checksum spoilt unless good.
  void answer(const Bytes& data, bool good) {
    servo_sim::ServoFaults f;
    f.noise = servo_sim::makeStatusReply(1, 0, data.data(), data.size());
    if (!good) f.noise.back() ^= 0xFF;
    f.cut_reply_to = 0, f.remaining = 1;
    sim_.setFaults(1, f);
  }

  servo_sim::ServoBusSim sim_;
};

TEST_F(ServoFamily, AOperationsSendTheirFramesAndTakeTheirAnswers) { runLowFirst<ServoFamilyA>(33, 55); }

TEST_F(ServoFamily, BOperationsAreThoseOfA) { runLowFirst<ServoFamilyB>(33, 55); }

TEST_F(ServoFamily, COperationsAreThoseOfAWithOtherModeAndLockRegisters) { runLowFirst<ServoFamilyC>(35, 48); }

TEST_F(ServoFamily, DOperationsSendHighByteFirstAndReadThePositionUnsigned) {
  using F = ServoFamilyD;
  run<F>({{[](F& f) { return f.writePosition(1, 2048, 300, 1000); },
           {writeAt(42, {0x08, 0x00, 0x01, 0x2C, 0x03, 0xE8})}, 1, 0},
          {[](F& f) { return f.writePositionDeferred(1, 0x8001, 0, 5); },
           {regWriteAt(42, {0x80, 0x01, 0, 0, 0, 5})}, 1, 0},
          {[](F& f) {
             const uint8_t ids[2] = {1, 2};
             const uint16_t positions[2] = {2048, 100}, speeds[2] = {7, 8};
             return f.syncWritePositions(ids, 2, positions, nullptr, speeds), 0;
           },
           {syncWriteAt(42, 6, {1, 0x08, 0, 0, 0, 0, 7, 2, 0, 100, 0, 0, 0, 8})}, 0, 0},
          {[](F& f) { return f.setPwmMode(1); }, {writeAt(9, {0, 0, 0, 0})}, 1, 0},
          {[](F& f) { return f.writePwm(1, -300); }, {writeAt(44, {0x05, 0x2C})}, 1, 0},
          {[](F& f) { return f.setTorqueEnable(1, 0); }, {writeAt(40, {0})}, 1, 0},
          {[](F& f) { return f.unlockEeprom(1); }, {writeAt(48, {0})}, 1, 0},
          {[](F& f) { return f.lockEeprom(1); }, {writeAt(48, {1})}, 1, 0},
          {[](F& f) { return f.writeRegWord(1, 42, 2048); }, {writeAt(42, {0x08, 0x00})}, 1, 0}},
         {{&F::readPosition, 56, 2, 0x8180, 0x8180},
          {&F::readSpeed, 58, 2, -0x8A, 0x808A},
          {&F::readLoad, 60, 2, -0x104, 0x504},
          {&F::readVoltage, 62, 1, 120, 120},
          {&F::readTemperature, 63, 1, 40, 40},
          {&F::readMoving, 66, 1, 1, 1},
          {&F::readCurrent, 69, 2, -0x780, 0x8780}});
}

}  // namespace
