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

// Creates the topic and a writer or reader on it with the ROS 2 QoS; both come
// back 0 when DDS refuses either.
void createEndpoint(const Context& context, const std::string& topic_name, const QoS& qos,
                    const detail::MessageTypeSupport& ts, bool reader, dds_entity_t* topic,
                    dds_entity_t* endpoint) {
  dds_qos_t* q = endpointQos(qos);
  *topic = createTopic(context, topic_name, ts, q);
  *endpoint = 0;
  if (*topic != 0) {
    const dds_entity_t e = reader ? dds_create_reader(context.participant(), *topic, q, nullptr)
                                  : dds_create_writer(context.participant(), *topic, q, nullptr);
    if (e < 0) {
      std::fprintf(stderr, "%s on '%s' could not be created: %s\n", reader ? "subscription" : "publisher",
                   topic_name.c_str(), dds_strretcode(e));
    } else {
      *endpoint = e;
    }
  }
  dds_delete_qos(q);
}

}  // namespace

PublisherBase::PublisherBase(Context::SharedPtr context, uint64_t node_id, const std::string& topic_name,
                             const QoS& qos, const detail::MessageTypeSupport& type_support)
    : context_(std::move(context)), node_id_(node_id), type_support_(type_support) {
  if (!context_->is_valid()) return;
  createEndpoint(*context_, topic_name, qos, type_support_, false, &topic_, &writer_);
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

size_t PublisherBase::get_subscription_count() const {
  dds_publication_matched_status_t status{};
  if (writer_ == 0 || dds_get_publication_matched_status(writer_, &status) != DDS_RETCODE_OK) return 0;
  return status.current_count;
}

SubscriptionBase::SubscriptionBase(Context::SharedPtr context, uint64_t node_id, const std::string& topic_name,
                                   const QoS& qos, const detail::MessageTypeSupport& type_support)
    : context_(std::move(context)), node_id_(node_id), type_support_(type_support) {
  if (!context_->is_valid()) return;
  createEndpoint(*context_, topic_name, qos, type_support_, true, &topic_, &reader_);
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
