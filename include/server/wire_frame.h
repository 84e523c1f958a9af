#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace google {
namespace protobuf {
class MessageLite;
}  // namespace protobuf
}  // namespace google

// The frame both driver servers speak: a 4-byte big-endian length, then that
// many bytes of one Protocol Buffers message.
namespace wire_frame {

constexpr size_t kHeaderSize = 4;
// A header is never trusted for an allocation: longer frames are refused.
// Every message of the schema fits in a few hundred bytes.
constexpr uint32_t kMaxPayload = 64 * 1024;

enum class ReadStatus {
  kComplete,  // all bytes read
  kIdle,      // nothing read: time-out, end of stream or error before any byte
  kCut,       // time-out, end of stream or error after part of the bytes
};

// Reads exactly len bytes, retrying short reads and EINTR. The socket's own
// receive time-out bounds each wait.
ReadStatus readExact(int fd, char* buf, size_t len);

uint32_t decodeLength(const unsigned char header[kHeaderSize]);
void encodeLength(uint32_t len, unsigned char header[kHeaderSize]);

// Serialises msg into a complete frame (header and payload); false when the
// message cannot be serialised.
bool buildFrame(const google::protobuf::MessageLite& msg, std::string* frame);

}  // namespace wire_frame
