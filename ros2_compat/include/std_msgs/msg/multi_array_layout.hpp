#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "std_msgs/msg/multi_array_dimension.hpp"

namespace std_msgs {
namespace msg {

struct MultiArrayLayout {
  using SharedPtr = std::shared_ptr<MultiArrayLayout>;
  using ConstSharedPtr = std::shared_ptr<const MultiArrayLayout>;

  std::vector<MultiArrayDimension> dim;
  uint32_t data_offset{0};
};

}  // namespace msg
}  // namespace std_msgs
