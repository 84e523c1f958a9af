#pragma once

#include <cstdint>

// Frame layer of the half-duplex servo bus: builds instruction frames, runs
// one transaction at a time and checks the replies. The transport (a serial
// port in practice) supplies the five byte-level operations.
class BusProtocol {
 public:
  BusProtocol();
  explicit BusProtocol(uint8_t byte_order);
  BusProtocol(uint8_t byte_order, uint8_t reply_level);
  BusProtocol(const BusProtocol&) = delete;
  BusProtocol& operator=(const BusProtocol&) = delete;

  virtual int appendTx(const uint8_t* data, int len) = 0;
  virtual int readRx(uint8_t* buf, int len) = 0;
  virtual int appendTxByte(uint8_t byte) = 0;
  virtual void flushRx() = 0;
  virtual void sendTx() = 0;
  virtual ~BusProtocol();

  void splitWord(uint8_t* first, uint8_t* second, uint16_t value);
  int joinWord(uint8_t first, uint8_t second);
  // Appends one frame; false when the transport refused a byte (frame too
  // long), in which case the frame must not go out.
  bool sendFrame(uint8_t id, uint8_t addr, const uint8_t* data, uint8_t len, uint8_t instruction);

  int writeRegs(uint8_t id, uint8_t addr, const uint8_t* data, uint8_t len);
  int writeRegsDeferred(uint8_t id, uint8_t addr, const uint8_t* data, uint8_t len);
  int triggerAction(uint8_t id);
  void writeRegsSync(const uint8_t* ids, uint8_t n, uint8_t addr, const uint8_t* data, uint8_t len);
  int writeRegByte(uint8_t id, uint8_t addr, uint8_t value);
  int writeRegWord(uint8_t id, uint8_t addr, uint16_t value);
  int readRegs(uint8_t id, uint8_t addr, uint8_t* out, uint8_t len);
  int readRegByte(uint8_t id, uint8_t addr);
  int readRegWord(uint8_t id, uint8_t addr);
  int pingServo(uint8_t id);
  int checkStatusReply(uint8_t id);

  void beginSyncRead(uint8_t n, uint8_t len);
  int sendSyncRead(const uint8_t* ids, uint8_t n, uint8_t addr, uint8_t len);
  int takeSyncReadReply(uint8_t id, uint8_t* out);
  int syncReplyByte();
  int syncReplyWord(uint8_t sign_bit);
  void endSyncRead();

  static constexpr uint8_t kBroadcastId = 0xFE;
  static constexpr uint8_t kInstPing = 0x01;
  static constexpr uint8_t kInstRead = 0x02;
  static constexpr uint8_t kInstWrite = 0x03;
  static constexpr uint8_t kInstRegWrite = 0x04;
  static constexpr uint8_t kInstAction = 0x05;
  static constexpr uint8_t kInstSyncRead = 0x82;
  static constexpr uint8_t kInstSyncWrite = 0x83;
  // Reply buffer of a register read: header, error byte and checksum take 6.
  static constexpr int kReplyBufSize = 256;
  static constexpr int kMaxReadLen = kReplyBufSize - 6;

  uint8_t reply_level_ = 1;
  uint8_t byte_order_ = 0;
  uint8_t status_ = 0;
  uint8_t sync_index_ = 0;
  uint8_t sync_len_ = 0;
  uint8_t* sync_data_ = nullptr;
  uint8_t* sync_buf_ = nullptr;
  uint16_t sync_received_ = 0;
  uint16_t sync_buf_size_ = 0;

 private:
  // An answer awaited in vain, by id and length byte. Servos answer in turn,
  // so it may still come, ahead of a later answer, and must not pass for it.
  // A request whose answer would look the same waits until that is settled.
  struct OwedReply {
    uint8_t id;
    uint8_t length;
  };
  static constexpr int kMaxOwed = 8;

  int writeTransaction(uint8_t id, uint8_t addr, const uint8_t* data, uint8_t len, uint8_t instruction);
  bool settle(uint8_t id, uint8_t length);
  int takeReply(uint8_t id, uint8_t length, uint8_t* reply);
  int findOwed(uint8_t id, uint8_t length) const;
  void dropOwed(int count);

  OwedReply owed_[kMaxOwed] = {};
  int owed_count_ = 0;
};
