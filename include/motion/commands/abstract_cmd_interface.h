#pragma once

#include <cstdint>

// Kinds of queued command, read by the execution loop to pick the branch.
constexpr int32_t kCmdTypeTrajectory = 0;
constexpr int32_t kCmdTypeGripper = 1;
constexpr int32_t kCmdTypeMotorIo = 2;

// Base of every queued command. The loop tells kinds apart by cmd_type and
// deletes a finished command through this base.
class AbstractCmdInterface {
 public:
  AbstractCmdInterface() {}
  virtual ~AbstractCmdInterface() {}

  // Set by the derived constructor; -1 until then, which no loop branch takes.
  int32_t cmd_type = -1;
};
