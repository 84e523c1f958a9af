#pragma once

#include <termios.h>

#include <cstdint>

#include "servo/bus_protocol.h"

// The servo bus on a raw Linux serial port: a fixed transmit buffer sent with
// one write per frame, and replies collected within one time-out.
class BusSerial : public BusProtocol {
 public:
  BusSerial();
  explicit BusSerial(uint8_t byte_order);
  BusSerial(uint8_t byte_order, uint8_t reply_level);

  // Refuses (returns -1, appends nothing) what would not fit the buffer; the
  // frame is then dropped by sendTx instead of going out cut.
  int appendTx(const uint8_t* data, int len) override;
  int readRx(uint8_t* buf, int len) override;
  int appendTxByte(uint8_t byte) override;
  void flushRx() override;
  void sendTx() override;
  virtual int getError();
  virtual int setBaud(int baud);
  // Takes the port for this process alone (a lock, and exclusive mode);
  // false without touching the line when another process holds it.
  virtual bool openPort(int baud, const char* path);
  virtual void closePort();
  // The last openPort failed because another process holds the port.
  bool heldElsewhere() const;

  static constexpr int kTxBufSize = 256;

  uint64_t io_timeout_ms_ = 100;
  int error_ = 0;
  int fd_ = -1;
  struct termios saved_termios_ = {};
  struct termios termios_ = {};
  uint8_t tx_buf_[kTxBufSize] = {};
  int tx_len_ = 0;

 private:
  bool tx_overflow_ = false;
  bool held_elsewhere_ = false;
};
