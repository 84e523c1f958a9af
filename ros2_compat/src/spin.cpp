#include <dds/dds.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <vector>

#include "rclcpp/executors.hpp"

namespace rclcpp {
namespace {

constexpr dds_attach_t kShutdownAttach = 0;
constexpr dds_attach_t kEntitiesChangedAttach = 1;
constexpr dds_attach_t kFirstSubscriptionAttach = 2;

}  // namespace

void spin(std::shared_ptr<Node> node) {
  if (!node) return;
  const Context::SharedPtr context = node->context_;
  if (!context->is_valid()) return;
  const dds_entity_t waitset = dds_create_waitset(context->participant());
  if (waitset < 0) return;
  dds_waitset_attach(waitset, context->shutdown_guard(), kShutdownAttach);
  if (node->entities_changed_ != 0) dds_waitset_attach(waitset, node->entities_changed_, kEntitiesChangedAttach);

  std::vector<std::weak_ptr<SubscriptionBase>> subscriptions;
  std::vector<std::weak_ptr<TimerBase>> timers;
  std::vector<dds_attach_t> triggered;
  bool refresh = true;

  while (context->is_valid()) {
    if (refresh) {
      bool changed = false;
      dds_take_guardcondition(node->entities_changed_, &changed);
      std::vector<std::weak_ptr<SubscriptionBase>> added;
      {
        std::lock_guard<std::mutex> lock(node->mutex_);
        added.assign(node->subscriptions_.begin() + static_cast<long>(subscriptions.size()),
                     node->subscriptions_.end());
        timers = node->timers_;
      }
      for (const auto& weak : added) {
        const auto sub = weak.lock();
        if (sub && sub->read_condition() != 0) {
          dds_waitset_attach(waitset, sub->read_condition(),
                             kFirstSubscriptionAttach + static_cast<dds_attach_t>(subscriptions.size()));
        }
        subscriptions.push_back(weak);
      }
      triggered.resize(subscriptions.size() + 2);
      refresh = false;
    }

    // Sleep until a message, the next timer, a new entity or shutdown.
    dds_duration_t timeout = DDS_INFINITY;
    const auto now = std::chrono::steady_clock::now();
    for (const auto& weak : timers) {
      if (const auto timer = weak.lock()) {
        const auto wait = std::chrono::duration_cast<std::chrono::nanoseconds>(timer->next_call_time() - now);
        timeout = std::min<dds_duration_t>(timeout, std::max<dds_duration_t>(0, wait.count()));
      }
    }
    const dds_return_t n = dds_waitset_wait(waitset, triggered.data(), triggered.size(), timeout);
    if (n < 0 || !context->is_valid()) break;

    const auto woke = std::chrono::steady_clock::now();
    for (const auto& weak : timers) {
      const auto timer = weak.lock();
      if (timer && timer->next_call_time() <= woke) {
        timer->advance(woke);
        timer->execute_callback();
        if (!context->is_valid()) break;
      }
    }
    const size_t count = std::min(static_cast<size_t>(n), triggered.size());
    for (size_t i = 0; i < count && context->is_valid(); ++i) {
      if (triggered[i] == kEntitiesChangedAttach) {
        refresh = true;
      } else if (triggered[i] >= kFirstSubscriptionAttach) {
        const size_t index = static_cast<size_t>(triggered[i] - kFirstSubscriptionAttach);
        if (const auto sub = subscriptions[index].lock()) sub->execute();
      }
    }
  }
  dds_delete(waitset);
}

}  // namespace rclcpp
