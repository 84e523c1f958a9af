#include "server/wire_frame.h"

#include <sys/socket.h>
#include <sys/types.h>

#include <cerrno>

#include <google/protobuf/message_lite.h>

namespace wire_frame {

ReadStatus readExact(int fd, char* buf, size_t len) {
  size_t got = 0;
  while (got < len) {
    ssize_t n = recv(fd, buf + got, len - got, 0);
    if (n > 0) {
      got += static_cast<size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    return got == 0 ? ReadStatus::kIdle : ReadStatus::kCut;
  }
  return ReadStatus::kComplete;
}

uint32_t decodeLength(const unsigned char header[kHeaderSize]) {
  return (static_cast<uint32_t>(header[0]) << 24) | (static_cast<uint32_t>(header[1]) << 16) |
         (static_cast<uint32_t>(header[2]) << 8) | static_cast<uint32_t>(header[3]);
}

void encodeLength(uint32_t len, unsigned char header[kHeaderSize]) {
  header[0] = static_cast<unsigned char>(len >> 24);
  header[1] = static_cast<unsigned char>(len >> 16);
  header[2] = static_cast<unsigned char>(len >> 8);
  header[3] = static_cast<unsigned char>(len);
}

bool buildFrame(const google::protobuf::MessageLite& msg, std::string* frame) {
  const size_t size = msg.ByteSizeLong();
  if (size > kMaxPayload) return false;
  frame->resize(kHeaderSize + size);
  encodeLength(static_cast<uint32_t>(size), reinterpret_cast<unsigned char*>(&(*frame)[0]));
  return msg.SerializeToArray(&(*frame)[kHeaderSize], static_cast<int>(size));
}

}  // namespace wire_frame
