#include <dds/dds.h>

#include <cstdio>

#include "rclcpp/publisher.hpp"
#include "rclcpp/subscription.hpp"

namespace rclcpp {
namespace {

// A ROS name relative to the root namespace becomes "rt/<name>".
std::string ddsTopicName(const std::string& topic_name) {
  return topic_name.empty() || topic_name[0] != '/' ? "rt/" + topic_name : "rt" + topic_name;
}

dds_qos_t* endpointQos(const QoS& qos) {
  dds_qos_t* q = dds_create_qos();
  dds_qset_reliability(q, DDS_RELIABILITY_RELIABLE, DDS_MSECS(100));
  dds_qset_durability(q, DDS_DURABILITY_VOLATILE);
  const size_t depth = qos.depth() == 0 ? 1 : qos.depth();
  dds_qset_history(q, DDS_HISTORY_KEEP_LAST, depth > INT32_MAX ? INT32_MAX : static_cast<int32_t>(depth));
  // ROS 2 humble speaks XCDR1 only.
  const dds_data_representation_id_t xcdr1 = DDS_DATA_REPRESENTATION_XCDR1;
  dds_qset_data_representation(q, 1, &xcdr1);
  return q;
}

dds_entity_t createTopic(const Context& context, const std::string& topic_name,
                         const detail::MessageTypeSupport& ts, const dds_qos_t* qos) {
  const dds_entity_t topic =
      dds_create_topic(context.participant(), static_cast<const dds_topic_descriptor_t*>(ts.descriptor),
                       ddsTopicName(topic_name).c_str(), qos, nullptr);
  if (topic < 0) {
    std::fprintf(stderr, "topic '%s' could not be created: %s\n", topic_name.c_str(), dds_strretcode(topic));
    return 0;
  }
  return topic;
}

}  // namespace

PublisherBase::PublisherBase(Context::SharedPtr context, uint64_t node_id, const std::string& topic_name,
                             const QoS& qos, const detail::MessageTypeSupport& type_support)
    : context_(std::move(context)), node_id_(node_id), type_support_(type_support) {
  if (!context_->is_valid()) return;
  dds_qos_t* q = endpointQos(qos);
  topic_ = createTopic(*context_, topic_name, type_support_, q);
  if (topic_ != 0) {
    writer_ = dds_create_writer(context_->participant(), topic_, q, nullptr);
    if (writer_ < 0) {
      std::fprintf(stderr, "publisher on '%s' could not be created: %s\n", topic_name.c_str(),
                   dds_strretcode(writer_));
      writer_ = 0;
    }
  }
  dds_delete_qos(q);
  if (writer_ != 0) context_->add_endpoint(node_id_, writer_, false);
}

PublisherBase::~PublisherBase() {
  if (writer_ != 0) {
    context_->remove_endpoint(node_id_, writer_);
    dds_delete(writer_);
  }
  if (topic_ != 0) dds_delete(topic_);
}

void PublisherBase::publish_message(const void* msg) {
  if (writer_ == 0 || !context_->is_valid()) return;
  type_support_.write(writer_, msg);
}

SubscriptionBase::SubscriptionBase(Context::SharedPtr context, uint64_t node_id, const std::string& topic_name,
                                   const QoS& qos, const detail::MessageTypeSupport& type_support)
    : context_(std::move(context)), node_id_(node_id), type_support_(type_support) {
  if (!context_->is_valid()) return;
  dds_qos_t* q = endpointQos(qos);
  topic_ = createTopic(*context_, topic_name, type_support_, q);
  if (topic_ != 0) {
    reader_ = dds_create_reader(context_->participant(), topic_, q, nullptr);
    if (reader_ < 0) {
      std::fprintf(stderr, "subscription on '%s' could not be created: %s\n", topic_name.c_str(),
                   dds_strretcode(reader_));
      reader_ = 0;
    }
  }
  dds_delete_qos(q);
  if (reader_ == 0) return;
  read_condition_ = dds_create_readcondition(reader_, DDS_ANY_STATE);
  if (read_condition_ < 0) read_condition_ = 0;
  context_->add_endpoint(node_id_, reader_, true);
}

SubscriptionBase::~SubscriptionBase() {
  if (reader_ != 0) {
    context_->remove_endpoint(node_id_, reader_);
    dds_delete(reader_);  // takes the read condition with it
  }
  if (topic_ != 0) dds_delete(topic_);
}

bool SubscriptionBase::take(void* msg) {
  if (reader_ == 0) return false;
  for (;;) {
    void* samples[1] = {nullptr};
    dds_sample_info_t info;
    const dds_return_t n = dds_take(reader_, samples, &info, 1, 1);
    if (n <= 0) return false;
    const bool valid = info.valid_data;
    if (valid) type_support_.read(samples[0], msg);
    dds_return_loan(reader_, samples, n);
    // Samples without data only announce a writer going away.
    if (valid) return true;
  }
}

}  // namespace rclcpp
