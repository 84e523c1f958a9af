#pragma once

#include <cstdint>

namespace rclcpp {
namespace detail {

// How one message type reaches DDS: the generated topic descriptor of its
// wire type and the conversions between the C++ struct and the DDS sample.
struct MessageTypeSupport {
  const void* descriptor;  // dds_topic_descriptor_t
  // Writes msg on a DDS writer; returns the DDS return code.
  int32_t (*write)(int32_t writer, const void* msg);
  // Copies a DDS sample into a C++ message.
  void (*read)(const void* sample, void* msg);
};

// Only the message types that travel on topics specialise this.
template <typename MessageT>
struct TypeSupportOf;

}  // namespace detail
}  // namespace rclcpp

#define RCLCPP_COMPAT_DECLARE_TYPE_SUPPORT(MessageT)         \
  namespace rclcpp {                                        \
  namespace detail {                                        \
  template <>                                               \
  struct TypeSupportOf<MessageT> {                          \
    static const MessageTypeSupport& get();                 \
  };                                                        \
  }                                                         \
  }
