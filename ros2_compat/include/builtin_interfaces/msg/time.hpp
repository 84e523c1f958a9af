#pragma once

#include <cstdint>
#include <memory>

namespace builtin_interfaces {
namespace msg {

struct Time {
  using SharedPtr = std::shared_ptr<Time>;
  using ConstSharedPtr = std::shared_ptr<const Time>;

  int32_t sec{0};
  uint32_t nanosec{0};
};

}  // namespace msg
}  // namespace builtin_interfaces
