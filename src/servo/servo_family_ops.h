#pragma once

#include <cstdint>

#include "servo/bus_serial.h"

// Register operations shared by the servo family classes, which differ only in
// register addresses and byte order.
namespace servo_family {

// Sign and magnitude, the servos' encoding of negative values.
uint16_t encodeSigned(int value, int sign_bit);
int decodeSigned(int raw, int sign_bit);

// Acceleration, position, time 0 and speed at register 41 (families A to C).
int writePositionAt41(BusSerial& bus, bool deferred, uint8_t id, int16_t position,
                      uint16_t speed, uint8_t acc);
// Position, time and speed at register 42 (family D).
int writePositionAt42(BusSerial& bus, bool deferred, uint8_t id, uint16_t position,
                      uint16_t time, uint16_t speed);
void syncWritePositionsAt41(BusSerial& bus, const uint8_t* ids, uint8_t n, int16_t* positions,
                            const uint16_t* speeds, const uint8_t* accs);
void syncWritePositionsAt42(BusSerial& bus, const uint8_t* ids, uint8_t n,
                            const uint16_t* positions, const uint16_t* times,
                            const uint16_t* speeds);
int writeWheelSpeed(BusSerial& bus, uint8_t id, int16_t speed, uint8_t acc);
int writeSignedWord(BusSerial& bus, uint8_t id, uint8_t addr, int value, int sign_bit);

int readFeedback(BusSerial& bus, uint8_t* cache, int id);

// One present value: from the cached feedback block when id is -1, from the
// servo otherwise. sign_bit < 0 reads the value unsigned.
enum class Width { kByte, kWord };
int readValue(BusSerial& bus, const uint8_t* cache, bool cache_high_first, int id, uint8_t reg,
              Width width, int sign_bit);

}  // namespace servo_family
