#include <dds/dds.h>

#include <cstring>
#include <string>
#include <vector>

#include "ros_types.h"
#include "sensor_msgs/msg/joint_state.hpp"
#include "std_msgs/msg/bool.hpp"
#include "std_msgs/msg/float64_multi_array.hpp"
#include "std_msgs/msg/string.hpp"

// Outgoing samples borrow the C++ message's storage (_release = false), so a
// publish copies nothing before serialisation.
namespace {

char* borrow(const std::string& s) { return const_cast<char*>(s.c_str()); }

dds_sequence_double borrow(const std::vector<double>& v) {
  dds_sequence_double seq{};
  seq._maximum = seq._length = static_cast<uint32_t>(v.size());
  seq._buffer = const_cast<double*>(v.data());
  seq._release = false;
  return seq;
}

std::string copyString(const char* s) { return s ? std::string(s) : std::string(); }

std::vector<double> copySeq(const dds_sequence_double& seq) {
  if (seq._length == 0 || seq._buffer == nullptr) return {};
  return std::vector<double>(seq._buffer, seq._buffer + seq._length);
}

int32_t writeString(int32_t writer, const void* msg) {
  const auto& m = *static_cast<const std_msgs::msg::String*>(msg);
  std_msgs_msg_dds__String_ s{};
  s.data = borrow(m.data);
  return dds_write(writer, &s);
}

void readString(const void* sample, void* msg) {
  const auto& s = *static_cast<const std_msgs_msg_dds__String_*>(sample);
  static_cast<std_msgs::msg::String*>(msg)->data = copyString(s.data);
}

int32_t writeBool(int32_t writer, const void* msg) {
  std_msgs_msg_dds__Bool_ s{};
  s.data = static_cast<const std_msgs::msg::Bool*>(msg)->data;
  return dds_write(writer, &s);
}

void readBool(const void* sample, void* msg) {
  static_cast<std_msgs::msg::Bool*>(msg)->data = static_cast<const std_msgs_msg_dds__Bool_*>(sample)->data;
}

int32_t writeFloat64MultiArray(int32_t writer, const void* msg) {
  const auto& m = *static_cast<const std_msgs::msg::Float64MultiArray*>(msg);
  std::vector<std_msgs_msg_dds__MultiArrayDimension_> dims(m.layout.dim.size());
  for (size_t i = 0; i < dims.size(); ++i) {
    dims[i].label = borrow(m.layout.dim[i].label);
    dims[i].size = m.layout.dim[i].size;
    dims[i].stride = m.layout.dim[i].stride;
  }
  std_msgs_msg_dds__Float64MultiArray_ s{};
  s.layout.dim._maximum = s.layout.dim._length = static_cast<uint32_t>(dims.size());
  s.layout.dim._buffer = dims.data();
  s.layout.dim._release = false;
  s.layout.data_offset = m.layout.data_offset;
  s.data = borrow(m.data);
  return dds_write(writer, &s);
}

void readFloat64MultiArray(const void* sample, void* msg) {
  const auto& s = *static_cast<const std_msgs_msg_dds__Float64MultiArray_*>(sample);
  auto& m = *static_cast<std_msgs::msg::Float64MultiArray*>(msg);
  m.layout.dim.resize(s.layout.dim._buffer ? s.layout.dim._length : 0);
  for (size_t i = 0; i < m.layout.dim.size(); ++i) {
    m.layout.dim[i].label = copyString(s.layout.dim._buffer[i].label);
    m.layout.dim[i].size = s.layout.dim._buffer[i].size;
    m.layout.dim[i].stride = s.layout.dim._buffer[i].stride;
  }
  m.layout.data_offset = s.layout.data_offset;
  m.data = copySeq(s.data);
}

int32_t writeJointState(int32_t writer, const void* msg) {
  const auto& m = *static_cast<const sensor_msgs::msg::JointState*>(msg);
  std::vector<char*> names(m.name.size());
  for (size_t i = 0; i < names.size(); ++i) names[i] = borrow(m.name[i]);
  sensor_msgs_msg_dds__JointState_ s{};
  s.header.stamp.sec = m.header.stamp.sec;
  s.header.stamp.nanosec = m.header.stamp.nanosec;
  s.header.frame_id = borrow(m.header.frame_id);
  s.name._maximum = s.name._length = static_cast<uint32_t>(names.size());
  s.name._buffer = names.data();
  s.name._release = false;
  s.position = borrow(m.position);
  s.velocity = borrow(m.velocity);
  s.effort = borrow(m.effort);
  return dds_write(writer, &s);
}

void readJointState(const void* sample, void* msg) {
  const auto& s = *static_cast<const sensor_msgs_msg_dds__JointState_*>(sample);
  auto& m = *static_cast<sensor_msgs::msg::JointState*>(msg);
  m.header.stamp.sec = s.header.stamp.sec;
  m.header.stamp.nanosec = s.header.stamp.nanosec;
  m.header.frame_id = copyString(s.header.frame_id);
  m.name.resize(s.name._buffer ? s.name._length : 0);
  for (size_t i = 0; i < m.name.size(); ++i) m.name[i] = copyString(s.name._buffer[i]);
  m.position = copySeq(s.position);
  m.velocity = copySeq(s.velocity);
  m.effort = copySeq(s.effort);
}

}  // namespace

namespace rclcpp {
namespace detail {

const MessageTypeSupport& TypeSupportOf<std_msgs::msg::String>::get() {
  static const MessageTypeSupport ts{&std_msgs_msg_dds__String__desc, writeString, readString};
  return ts;
}

const MessageTypeSupport& TypeSupportOf<std_msgs::msg::Bool>::get() {
  static const MessageTypeSupport ts{&std_msgs_msg_dds__Bool__desc, writeBool, readBool};
  return ts;
}

const MessageTypeSupport& TypeSupportOf<std_msgs::msg::Float64MultiArray>::get() {
  static const MessageTypeSupport ts{&std_msgs_msg_dds__Float64MultiArray__desc, writeFloat64MultiArray,
                                     readFloat64MultiArray};
  return ts;
}

const MessageTypeSupport& TypeSupportOf<sensor_msgs::msg::JointState>::get() {
  static const MessageTypeSupport ts{&sensor_msgs_msg_dds__JointState__desc, writeJointState, readJointState};
  return ts;
}

}  // namespace detail
}  // namespace rclcpp
