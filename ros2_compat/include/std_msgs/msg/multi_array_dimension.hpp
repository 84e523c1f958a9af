#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace std_msgs {
namespace msg {

struct MultiArrayDimension {
  using SharedPtr = std::shared_ptr<MultiArrayDimension>;
  using ConstSharedPtr = std::shared_ptr<const MultiArrayDimension>;

  std::string label;
  uint32_t size{0};
  uint32_t stride{0};
};

}  // namespace msg
}  // namespace std_msgs
