#include "rclcpp/node.hpp"

#include <dds/dds.h>

#include <cstdio>

namespace rclcpp {

Node::Node(const std::string& node_name, const NodeOptions& /*options*/)
    : context_(contexts::get_global_default_context()), logger_(node_name) {
  if (!context_->is_valid()) {
    std::fprintf(stderr, "node '%s' created without a running context (rclcpp::init not called)\n",
                 node_name.c_str());
    return;
  }
  node_id_ = context_->add_node("/", node_name);
  entities_changed_ = dds_create_guardcondition(context_->participant());
  if (entities_changed_ < 0) entities_changed_ = 0;
}

Node::~Node() {
  if (entities_changed_ != 0) dds_delete(entities_changed_);
  context_->remove_node(node_id_);
}

void Node::add_subscription(std::shared_ptr<SubscriptionBase> sub) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    subscriptions_.push_back(sub);
  }
  if (entities_changed_ != 0) dds_set_guardcondition(entities_changed_, true);
}

void Node::add_timer(std::shared_ptr<TimerBase> timer) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    timers_.push_back(timer);
  }
  if (entities_changed_ != 0) dds_set_guardcondition(entities_changed_, true);
}

}  // namespace rclcpp
