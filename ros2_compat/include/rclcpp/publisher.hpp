#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "rclcpp/context.hpp"
#include "rclcpp/message_type_support.hpp"
#include "rclcpp/qos.hpp"

namespace rclcpp {

class PublisherBase {
 public:
  using SharedPtr = std::shared_ptr<PublisherBase>;
  virtual ~PublisherBase();
  PublisherBase(const PublisherBase&) = delete;
  PublisherBase& operator=(const PublisherBase&) = delete;

  // Readers matched with this writer now, in this process or another.
  size_t get_subscription_count() const;

 protected:
  PublisherBase(Context::SharedPtr context, uint64_t node_id, const std::string& topic_name,
                const QoS& qos, const detail::MessageTypeSupport& type_support);
  void publish_message(const void* msg);

 private:
  Context::SharedPtr context_;
  uint64_t node_id_;
  const detail::MessageTypeSupport& type_support_;
  int32_t topic_ = 0;
  int32_t writer_ = 0;
};

// Thread-safe; does nothing once the context is shut down.
template <typename MessageT>
class Publisher : public PublisherBase {
 public:
  using SharedPtr = std::shared_ptr<Publisher<MessageT>>;

  Publisher(Context::SharedPtr context, uint64_t node_id, const std::string& topic_name, const QoS& qos)
      : PublisherBase(std::move(context), node_id, topic_name, qos,
                      detail::TypeSupportOf<MessageT>::get()) {}

  void publish(const MessageT& msg) { publish_message(&msg); }
};

}  // namespace rclcpp
