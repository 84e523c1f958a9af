#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace rclcpp {

// One DDS participant per context; the default context is the process's.
class Context {
 public:
  using SharedPtr = std::shared_ptr<Context>;

  Context() = default;
  ~Context();
  Context(const Context&) = delete;
  Context& operator=(const Context&) = delete;

  bool is_valid() const { return valid_.load(); }
  // False when the context was not running.
  bool shutdown(const std::string& reason);

  // Internals of the layer. On failure *reason says why.
  bool init(std::string* reason);
  int32_t participant() const { return participant_; }
  // Triggered once at shutdown so every spin wakes up.
  int32_t shutdown_guard() const { return shutdown_guard_; }
  uint64_t add_node(const std::string& node_namespace, const std::string& node_name);
  void remove_node(uint64_t node_id);
  void add_endpoint(uint64_t node_id, int32_t entity, bool is_reader);
  void remove_endpoint(uint64_t node_id, int32_t entity);

 private:
  struct GraphNode {
    uint64_t id;
    std::string node_namespace;
    std::string node_name;
    std::vector<std::array<uint8_t, 16>> readers;
    std::vector<std::array<uint8_t, 16>> writers;
  };
  void publish_graph_locked();

  std::atomic<bool> valid_{false};
  std::mutex mutex_;
  int32_t participant_ = 0;
  int32_t shutdown_guard_ = 0;
  int32_t graph_writer_ = 0;
  uint64_t next_node_id_ = 1;
  std::vector<GraphNode> graph_;
};

namespace contexts {
Context::SharedPtr get_global_default_context();
}  // namespace contexts

}  // namespace rclcpp
