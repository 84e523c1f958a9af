#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "rclcpp/context.hpp"
#include "rclcpp/message_type_support.hpp"
#include "rclcpp/qos.hpp"

namespace rclcpp {

class SubscriptionBase {
 public:
  using SharedPtr = std::shared_ptr<SubscriptionBase>;
  virtual ~SubscriptionBase();
  SubscriptionBase(const SubscriptionBase&) = delete;
  SubscriptionBase& operator=(const SubscriptionBase&) = delete;

  // Takes one waiting message and runs the callback with it; false when none waited.
  virtual bool execute() = 0;
  // DDS condition that triggers while messages wait.
  int32_t read_condition() const { return read_condition_; }

 protected:
  SubscriptionBase(Context::SharedPtr context, uint64_t node_id, const std::string& topic_name,
                   const QoS& qos, const detail::MessageTypeSupport& type_support);
  // Copies the next valid sample into msg; false when none is left.
  bool take(void* msg);

 private:
  Context::SharedPtr context_;
  uint64_t node_id_;
  const detail::MessageTypeSupport& type_support_;
  int32_t topic_ = 0;
  int32_t reader_ = 0;
  int32_t read_condition_ = 0;
};

template <typename MessageT>
class Subscription : public SubscriptionBase {
 public:
  using SharedPtr = std::shared_ptr<Subscription<MessageT>>;
  using Callback = std::function<void(std::shared_ptr<MessageT>)>;

  Subscription(Context::SharedPtr context, uint64_t node_id, const std::string& topic_name,
               const QoS& qos, Callback callback)
      : SubscriptionBase(std::move(context), node_id, topic_name, qos,
                         detail::TypeSupportOf<MessageT>::get()),
        callback_(std::move(callback)) {}

  bool execute() override {
    auto msg = std::make_shared<MessageT>();
    if (!take(msg.get())) return false;
    callback_(std::move(msg));
    return true;
  }

 private:
  Callback callback_;
};

}  // namespace rclcpp
