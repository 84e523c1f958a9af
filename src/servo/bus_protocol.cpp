#include "servo/bus_protocol.h"

#include <cstring>

namespace {

constexpr uint8_t kHeader = 0xFF;
// 0xFF 0xFF id length: the length byte counts what follows it.
constexpr int kReplyHeaderLen = 4;
constexpr uint8_t kStatusReplyLengthByte = 2;
// Header, id, length, instruction and address of a sync read or write.
constexpr int kSyncHeaderLen = 7;

uint8_t checksumOf(int sum) { return static_cast<uint8_t>(~sum & 0xFF); }

}  // namespace

BusProtocol::BusProtocol() {}

BusProtocol::BusProtocol(uint8_t byte_order) : byte_order_(byte_order) {}

BusProtocol::BusProtocol(uint8_t byte_order, uint8_t reply_level)
    : reply_level_(reply_level), byte_order_(byte_order) {}

BusProtocol::~BusProtocol() { endSyncRead(); }

void BusProtocol::splitWord(uint8_t* first, uint8_t* second, uint16_t value) {
  const uint8_t high = static_cast<uint8_t>(value >> 8);
  const uint8_t low = static_cast<uint8_t>(value & 0xFF);
  if (byte_order_ != 0) {
    *first = high;
    *second = low;
  } else {
    *first = low;
    *second = high;
  }
}

int BusProtocol::joinWord(uint8_t first, uint8_t second) {
  if (byte_order_ != 0) return first * 256 + second;
  return second * 256 + first;
}

bool BusProtocol::sendFrame(uint8_t id, uint8_t addr, const uint8_t* data, uint8_t len,
                            uint8_t instruction) {
  const bool has_data = data != nullptr;
  const uint8_t length = has_data ? static_cast<uint8_t>(len + 3) : 2;
  const uint8_t header[6] = {kHeader, kHeader, id, length, instruction, addr};
  bool ok = appendTx(header, has_data ? 6 : 5) >= 0;
  int sum = id + length + instruction + (has_data ? addr : 0);
  if (has_data) {
    ok = appendTx(data, len) >= 0 && ok;
    for (int i = 0; i < len; ++i) sum += data[i];
  }
  ok = appendTxByte(checksumOf(sum)) >= 0 && ok;
  return ok;
}

int BusProtocol::writeTransaction(uint8_t id, uint8_t addr, const uint8_t* data, uint8_t len,
                                  uint8_t instruction) {
  if (reply_level_ != 0 && !settle(id, kStatusReplyLengthByte)) {
    status_ = 0;
    return 0;
  }
  flushRx();
  const bool built = sendFrame(id, addr, data, len, instruction);
  sendTx();
  if (!built) {
    status_ = 0;
    return 0;
  }
  return checkStatusReply(id);
}

int BusProtocol::writeRegs(uint8_t id, uint8_t addr, const uint8_t* data, uint8_t len) {
  return writeTransaction(id, addr, data, len, kInstWrite);
}

int BusProtocol::writeRegsDeferred(uint8_t id, uint8_t addr, const uint8_t* data, uint8_t len) {
  return writeTransaction(id, addr, data, len, kInstRegWrite);
}

int BusProtocol::triggerAction(uint8_t id) {
  return writeTransaction(id, 0, nullptr, 0, kInstAction);
}

int BusProtocol::writeRegByte(uint8_t id, uint8_t addr, uint8_t value) {
  return writeTransaction(id, addr, &value, 1, kInstWrite);
}

int BusProtocol::writeRegWord(uint8_t id, uint8_t addr, uint16_t value) {
  uint8_t bytes[2];
  splitWord(&bytes[0], &bytes[1], value);
  return writeTransaction(id, addr, bytes, 2, kInstWrite);
}

void BusProtocol::writeRegsSync(const uint8_t* ids, uint8_t n, uint8_t addr, const uint8_t* data,
                                uint8_t len) {
  flushRx();
  const uint8_t length = static_cast<uint8_t>((len + 1) * n + 4);
  const uint8_t header[kSyncHeaderLen] = {kHeader, kHeader, kBroadcastId, length,
                                          kInstSyncWrite, addr, len};
  bool ok = appendTx(header, kSyncHeaderLen) >= 0;
  int sum = kBroadcastId + length + kInstSyncWrite + addr + len;
  for (int i = 0; i < n && ok; ++i) {
    ok = appendTxByte(ids[i]) >= 0;
    sum += ids[i];
    const uint8_t* block = data + i * len;
    ok = ok && appendTx(block, len) >= 0;
    for (int j = 0; j < len; ++j) sum += block[j];
  }
  if (ok) appendTxByte(checksumOf(sum));
  // A refused byte leaves the transport holding a frame it will not send.
  sendTx();
}

int BusProtocol::checkStatusReply(uint8_t id) {
  status_ = 0;
  if (id == kBroadcastId || reply_level_ == 0) return 1;
  uint8_t reply[kReplyBufSize];
  if (takeReply(id, kStatusReplyLengthByte, reply) == 0) return 0;
  status_ = reply[4];
  return 1;
}

int BusProtocol::readRegs(uint8_t id, uint8_t addr, uint8_t* out, uint8_t len) {
  if (out == nullptr || len > kMaxReadLen || !settle(id, len + 2)) return 0;
  flushRx();
  const bool built = sendFrame(id, addr, &len, 1, kInstRead);
  sendTx();
  uint8_t reply[kReplyBufSize];
  if (!built || takeReply(id, len + 2, reply) == 0) return 0;
  std::memcpy(out, reply + 5, len);
  status_ = reply[4];
  return len;
}

bool BusProtocol::settle(uint8_t id, uint8_t length) {
  if (id == kBroadcastId || findOwed(id, length) < 0) return true;
  // An answer of this shape could be an owed one. A read of a length nothing
  // owed has goes first: once it is answered, nothing owed is on its way.
  uint8_t n = 1;
  while (findOwed(id, n + 2) >= 0) ++n;
  uint8_t scratch[kMaxOwed + 1];
  const uint8_t status = status_;
  const bool settled = readRegs(id, 0, scratch, n) == n;
  status_ = status;
  return settled;
}

int BusProtocol::takeReply(uint8_t id, uint8_t length, uint8_t* reply) {
  for (;;) {
    const int got = readRx(reply, kReplyHeaderLen);
    if (got == 0 && id != kBroadcastId) {
      // Nothing came; the answer may yet arrive during a later transaction.
      if (owed_count_ == kMaxOwed) dropOwed(1);  // that long overdue, the oldest is taken as lost
      owed_[owed_count_++] = {id, length};
    }
    if (got != kReplyHeaderLen || reply[0] != kHeader || reply[1] != kHeader) return 0;
    const uint8_t from = reply[2];
    const uint8_t len = reply[3];
    if (len < kStatusReplyLengthByte || len > kReplyBufSize - kReplyHeaderLen) return 0;
    if (readRx(reply + kReplyHeaderLen, len) != len) return 0;
    int sum = 0;
    for (int i = 2; i < len + 3; ++i) sum += reply[i];
    if (checksumOf(sum) != reply[len + 3]) return 0;
    const int owed = findOwed(from, len);
    if (owed >= 0) {
      // A late answer; those owed before it will not come any more.
      dropOwed(owed + 1);
      continue;
    }
    // Only the servo asked, with the length asked for: another's answer never
    // lands in this one's registers.
    if ((from != id && id != kBroadcastId) || len != length) return 0;
    owed_count_ = 0;  // whatever was owed before this answer will not come
    return len + kReplyHeaderLen;
  }
}

int BusProtocol::findOwed(uint8_t id, uint8_t length) const {
  for (int i = 0; i < owed_count_; ++i) {
    if (owed_[i].id == id && owed_[i].length == length) return i;
  }
  return -1;
}

void BusProtocol::dropOwed(int count) {
  for (int i = count; i < owed_count_; ++i) owed_[i - count] = owed_[i];
  owed_count_ -= count;
}

int BusProtocol::readRegByte(uint8_t id, uint8_t addr) {
  uint8_t value = 0;
  if (readRegs(id, addr, &value, 1) != 1) return -1;
  return value;
}

int BusProtocol::readRegWord(uint8_t id, uint8_t addr) {
  uint8_t bytes[2] = {0, 0};
  if (readRegs(id, addr, bytes, 2) != 2) return -1;
  return joinWord(bytes[0], bytes[1]);
}

int BusProtocol::pingServo(uint8_t id) {
  status_ = 0;
  if (!settle(id, kStatusReplyLengthByte)) return -1;
  flushRx();
  const bool built = sendFrame(id, 0, nullptr, 0, kInstPing);
  sendTx();
  uint8_t reply[kReplyBufSize];
  if (!built || takeReply(id, kStatusReplyLengthByte, reply) == 0) return -1;
  status_ = reply[2];
  return reply[2];
}

void BusProtocol::beginSyncRead(uint8_t n, uint8_t len) {
  endSyncRead();
  const int size = n * (len + 6);
  // The size field is 16 bits; a larger request gets no buffer and its reads fail.
  if (size == 0 || size > 0xFFFF) return;
  sync_buf_ = new uint8_t[size]();
  sync_buf_size_ = static_cast<uint16_t>(size);
}

int BusProtocol::sendSyncRead(const uint8_t* ids, uint8_t n, uint8_t addr, uint8_t len) {
  sync_received_ = 0;
  sync_len_ = len;
  if (sync_buf_ == nullptr || ids == nullptr) return 0;
  flushRx();
  const uint8_t length = static_cast<uint8_t>(n + 4);
  const uint8_t header[kSyncHeaderLen] = {kHeader, kHeader, kBroadcastId, length,
                                          kInstSyncRead, addr, len};
  bool ok = true;
  int sum = kBroadcastId + length + kInstSyncRead + addr + len;
  for (uint8_t byte : header) ok = appendTxByte(byte) >= 0 && ok;
  for (int i = 0; i < n; ++i) {
    ok = appendTxByte(ids[i]) >= 0 && ok;
    sum += ids[i];
  }
  ok = appendTxByte(checksumOf(sum)) >= 0 && ok;
  sendTx();
  if (!ok) return 0;
  const int received = readRx(sync_buf_, sync_buf_size_);
  sync_received_ = static_cast<uint16_t>(received > 0 ? received : 0);
  return sync_received_;
}

int BusProtocol::takeSyncReadReply(uint8_t id, uint8_t* out) {
  sync_data_ = out;
  sync_index_ = 0;
  const int len = sync_len_;
  const int received = sync_received_;
  int pos = 0;
  if (sync_buf_ != nullptr && out != nullptr) {
    while (pos + 6 + len <= received) {
      uint8_t w0 = 0, w1 = 0, w2 = 0;
      bool found = false;
      while (pos < received) {
        w0 = w1;
        w1 = w2;
        w2 = sync_buf_[pos++];
        if (w0 == kHeader && w1 == kHeader && w2 != kHeader) {
          found = true;
          break;
        }
      }
      if (!found) break;
      if (w2 != id) continue;
      // Length, error byte, data and checksum must all lie in what arrived.
      if (pos + len + 3 > received) break;
      const uint8_t length = sync_buf_[pos++];
      if (length != len + 2) continue;
      const uint8_t error = sync_buf_[pos++];
      status_ = error;
      std::memcpy(out, sync_buf_ + pos, len);
      int sum = id + length + error;
      for (int i = 0; i < len; ++i) sum += sync_buf_[pos + i];
      pos += len;
      if (checksumOf(sum) != sync_buf_[pos]) break;
      return len;
    }
  }
  // Nothing was taken: leave no stale bytes to be read as this servo's values.
  sync_data_ = nullptr;
  return 0;
}

int BusProtocol::syncReplyByte() {
  if (sync_data_ == nullptr || sync_index_ >= sync_len_) return -1;
  return sync_data_[sync_index_++];
}

int BusProtocol::syncReplyWord(uint8_t sign_bit) {
  if (sync_data_ == nullptr || sync_index_ + 1 >= sync_len_) return -1;
  int value = joinWord(sync_data_[sync_index_], sync_data_[sync_index_ + 1]);
  sync_index_ = static_cast<uint8_t>(sync_index_ + 2);
  if (sign_bit != 0 && sign_bit < 16 && (value & (1 << sign_bit)) != 0) {
    value = -(value & ~(1 << sign_bit));
  }
  return value;
}

void BusProtocol::endSyncRead() {
  delete[] sync_buf_;
  sync_buf_ = nullptr;
  sync_buf_size_ = 0;
}
