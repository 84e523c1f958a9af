#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "rclcpp/context.hpp"
#include "rclcpp/logger.hpp"
#include "rclcpp/node_options.hpp"
#include "rclcpp/publisher.hpp"
#include "rclcpp/qos.hpp"
#include "rclcpp/subscription.hpp"
#include "rclcpp/timer.hpp"

namespace rclcpp {

class Node : public std::enable_shared_from_this<Node> {
 public:
  using SharedPtr = std::shared_ptr<Node>;

  explicit Node(const std::string& node_name, const NodeOptions& options = NodeOptions());
  virtual ~Node();
  Node(const Node&) = delete;
  Node& operator=(const Node&) = delete;

  Logger get_logger() const { return logger_; }

  template <typename MessageT>
  std::shared_ptr<Publisher<MessageT>> create_publisher(const std::string& topic_name, const QoS& qos) {
    return std::make_shared<Publisher<MessageT>>(context_, node_id_, topic_name, qos);
  }

  // The callback takes the message as const MessageT& or as std::shared_ptr<MessageT>.
  template <typename MessageT, typename CallbackT>
  std::shared_ptr<Subscription<MessageT>> create_subscription(const std::string& topic_name, const QoS& qos,
                                                              CallbackT&& callback) {
    using Cb = std::decay_t<CallbackT>;
    typename Subscription<MessageT>::Callback dispatch;
    if constexpr (std::is_invocable_v<Cb&, const MessageT&>) {
      dispatch = [cb = Cb(std::forward<CallbackT>(callback))](std::shared_ptr<MessageT> msg) mutable { cb(*msg); };
    } else {
      static_assert(std::is_invocable_v<Cb&, std::shared_ptr<MessageT>>,
                    "subscription callback must take const MessageT& or std::shared_ptr<MessageT>");
      dispatch = [cb = Cb(std::forward<CallbackT>(callback))](std::shared_ptr<MessageT> msg) mutable {
        cb(std::move(msg));
      };
    }
    auto sub = std::make_shared<Subscription<MessageT>>(context_, node_id_, topic_name, qos, std::move(dispatch));
    add_subscription(sub);
    return sub;
  }

  template <typename DurationRepT, typename DurationT, typename CallbackT>
  typename WallTimer<CallbackT>::SharedPtr create_wall_timer(std::chrono::duration<DurationRepT, DurationT> period,
                                                             CallbackT callback) {
    auto timer = std::make_shared<WallTimer<CallbackT>>(
        std::chrono::duration_cast<std::chrono::nanoseconds>(period), std::move(callback));
    add_timer(timer);
    return timer;
  }

 private:
  friend void spin(std::shared_ptr<Node> node);

  void add_subscription(std::shared_ptr<SubscriptionBase> sub);
  void add_timer(std::shared_ptr<TimerBase> timer);

  Context::SharedPtr context_;
  Logger logger_;
  uint64_t node_id_ = 0;
  // Triggered when a subscription or timer is added, so a running spin picks it up.
  int32_t entities_changed_ = 0;

  std::mutex mutex_;
  std::vector<std::weak_ptr<SubscriptionBase>> subscriptions_;
  std::vector<std::weak_ptr<TimerBase>> timers_;
};

}  // namespace rclcpp
