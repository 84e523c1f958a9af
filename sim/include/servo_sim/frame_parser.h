#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace servo_sim {

// Instruction codes of the servo bus.
constexpr uint8_t kInstPing = 0x01;
constexpr uint8_t kInstRead = 0x02;
constexpr uint8_t kInstWrite = 0x03;
constexpr uint8_t kInstRegWrite = 0x04;
constexpr uint8_t kInstAction = 0x05;
constexpr uint8_t kInstSyncRead = 0x82;
constexpr uint8_t kInstSyncWrite = 0x83;
constexpr uint8_t kBroadcastId = 0xFE;

// One instruction frame as it came off the bus.
struct Frame {
  // When the frame's last byte was read (steady clock).
  std::chrono::steady_clock::time_point time{};
  uint8_t id = 0;
  uint8_t instruction = 0;
  // Everything between the instruction and the checksum (address first, when present).
  std::vector<uint8_t> params;
  bool checksum_ok = false;
  // The frame's bytes exactly as received, header and checksum included.
  std::vector<uint8_t> raw;
};

// Low 8 bits of the NOT of the sum of the bytes.
uint8_t busChecksum(const uint8_t* data, size_t len);

// A status reply: 0xFF 0xFF id len error params... checksum.
std::vector<uint8_t> makeStatusReply(uint8_t id, uint8_t error, const uint8_t* params, size_t n);

// An instruction frame: 0xFF 0xFF id len inst params... checksum (params include the address).
std::vector<uint8_t> makeInstructionFrame(uint8_t id, uint8_t instruction, const std::vector<uint8_t>& params);

// Cuts frames out of a byte stream that arrives in arbitrary pieces. A frame
// with a bad checksum is still reported (checksum_ok false), and the search
// resumes one byte after its header so a good frame hidden behind garbage is
// not lost. A partial frame that stalls longer than the gap limit is dropped.
class FrameParser {
 public:
  using Clock = std::chrono::steady_clock;

  explicit FrameParser(std::chrono::microseconds gap_limit = std::chrono::milliseconds(20));

  void feed(const uint8_t* data, size_t len, Clock::time_point now);
  // Next complete frame, oldest first; false when none is ready.
  bool next(Frame* out, Clock::time_point now);
  // Bytes held back waiting for the rest of a frame (or skipped garbage not yet dropped).
  size_t pending() const { return buf_.size() - start_; }
  // Bytes thrown away because they belonged to no frame.
  uint64_t discardedBytes() const { return discarded_; }

 private:
  void compact();

  std::vector<uint8_t> buf_;
  size_t start_ = 0;
  Clock::time_point last_feed_{};
  std::chrono::microseconds gap_limit_;
  uint64_t discarded_ = 0;
};

}  // namespace servo_sim
