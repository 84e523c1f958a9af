#include "servo_sim/frame_parser.h"

namespace servo_sim {

namespace {
constexpr uint8_t kHeader = 0xFF;
constexpr size_t kHeaderBytes = 4;  // 0xFF 0xFF id length
}  // namespace

uint8_t busChecksum(const uint8_t* data, size_t len) {
  unsigned sum = 0;
  for (size_t i = 0; i < len; ++i) sum += data[i];
  return static_cast<uint8_t>(~sum);
}

std::vector<uint8_t> makeStatusReply(uint8_t id, uint8_t error, const uint8_t* params, size_t n) {
  std::vector<uint8_t> out;
  out.reserve(n + 6);
  out.push_back(kHeader);
  out.push_back(kHeader);
  out.push_back(id);
  out.push_back(static_cast<uint8_t>(n + 2));
  out.push_back(error);
  if (n > 0) out.insert(out.end(), params, params + n);
  out.push_back(busChecksum(out.data() + 2, out.size() - 2));
  return out;
}

std::vector<uint8_t> makeInstructionFrame(uint8_t id, uint8_t instruction, const std::vector<uint8_t>& params) {
  std::vector<uint8_t> out;
  out.reserve(params.size() + 6);
  for (uint8_t b : {kHeader, kHeader, id, static_cast<uint8_t>(params.size() + 2), instruction}) out.push_back(b);
  for (uint8_t b : params) out.push_back(b);
  out.push_back(busChecksum(out.data() + 2, out.size() - 2));
  return out;
}

FrameParser::FrameParser(std::chrono::microseconds gap_limit) : gap_limit_(gap_limit) {}

void FrameParser::feed(const uint8_t* data, size_t len, Clock::time_point now) {
  if (len == 0) return;
  compact();
  buf_.insert(buf_.end(), data, data + len);
  last_feed_ = now;
}

void FrameParser::compact() {
  if (start_ == 0) return;
  if (start_ >= buf_.size()) {
    buf_.clear();
    start_ = 0;
  } else if (start_ > 4096) {
    buf_.erase(buf_.begin(), buf_.begin() + static_cast<std::ptrdiff_t>(start_));
    start_ = 0;
  }
}

bool FrameParser::next(Frame* out, Clock::time_point now) {
  for (;;) {
    const size_t size = buf_.size();
    size_t i = start_;
    while (i + 1 < size && !(buf_[i] == kHeader && buf_[i + 1] == kHeader)) ++i;
    // Keep a lone trailing 0xFF: it may be the first half of a header.
    const size_t keep_from = (i + 1 >= size && i < size && buf_[i] == kHeader) ? i : (i + 1 < size ? i : size);
    discarded_ += keep_from - start_;
    start_ = keep_from;
    if (size - start_ < kHeaderBytes) {
      if (size > start_ && now - last_feed_ > gap_limit_) {
        discarded_ += size - start_;
        start_ = size;
      }
      compact();
      return false;
    }
    const uint8_t id = buf_[start_ + 2];
    const uint8_t len = buf_[start_ + 3];
    if (id == kHeader || len < 2) {
      // Three 0xFF in a row, or a length no frame can have: slide on by one.
      ++start_;
      ++discarded_;
      continue;
    }
    const size_t total = kHeaderBytes + len;
    if (size - start_ < total) {
      if (now - last_feed_ > gap_limit_) {
        // A frame cut short on the wire; look for a header inside what we have.
        ++start_;
        ++discarded_;
        continue;
      }
      return false;
    }
    const uint8_t* f = buf_.data() + start_;
    out->time = last_feed_;
    out->id = id;
    out->instruction = f[4];
    out->params.assign(f + 5, f + total - 1);
    out->raw.assign(f, f + total);
    out->checksum_ok = busChecksum(f + 2, total - 3) == f[total - 1];
    if (out->checksum_ok) {
      start_ += total;
    } else {
      ++start_;
      ++discarded_;
    }
    compact();
    return true;
  }
}

}  // namespace servo_sim
