#include "rclcpp/context.hpp"

#include <dds/dds.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>

#include "ros_types.h"

namespace rclcpp {
namespace {

constexpr char kEnclaveUserData[] = "enclave=/;";
constexpr char kGraphTopic[] = "ros_discovery_info";

// Loopback only, no multicast, peers found by unicast on 127.0.0.1. The
// participant index range must cover every process of a parallel test run.
constexpr char kLoopbackConfig[] =
    "<CycloneDDS><Domain id=\"any\">"
    "<General><Interfaces><NetworkInterface address=\"127.0.0.1\"/></Interfaces>"
    "<AllowMulticast>false</AllowMulticast></General>"
    "<Discovery><ParticipantIndex>auto</ParticipantIndex>"
    "<MaxAutoParticipantIndex>120</MaxAutoParticipantIndex>"
    "<Peers><Peer address=\"127.0.0.1\"/></Peers></Discovery>"
    "</Domain></CycloneDDS>";

// The highest id whose DDS ports fit 16 bits with the default port mapping:
// 7400 + 250 * 232 + 11 = 65411; 233 would need 65661.
constexpr long kMaxDomainId = 232;

// ROS_DOMAIN_ID, 0 when unset or empty. Anything else that is not a domain id
// refuses to start, as ROS 2 does: another domain than the operator meant is worse.
bool domainIdFromEnv(dds_domainid_t* domain, std::string* reason) {
  const char* env = std::getenv("ROS_DOMAIN_ID");
  *domain = 0;
  if (env == nullptr || *env == '\0') return true;
  char* end = nullptr;
  const long id = std::strtol(env, &end, 10);
  if (*end != '\0' || id < 0 || id > kMaxDomainId) {
    *reason = std::string("ROS_DOMAIN_ID '") + env + "' is not a valid domain id (0 to " +
              std::to_string(kMaxDomainId) + ")";
    return false;
  }
  *domain = static_cast<dds_domainid_t>(id);
  return true;
}

bool loopbackOnly() {
  const char* uri = std::getenv("CYCLONEDDS_URI");
  if (uri != nullptr && *uri != '\0') return false;
  const char* localhost = std::getenv("ROS_LOCALHOST_ONLY");
  return !(localhost != nullptr && std::strcmp(localhost, "0") == 0);
}

std::array<uint8_t, 16> guidOf(dds_entity_t entity) {
  std::array<uint8_t, 16> out{};
  dds_guid_t guid;
  if (dds_get_guid(entity, &guid) == DDS_RETCODE_OK) std::memcpy(out.data(), guid.v, out.size());
  return out;
}

void fillGid(rmw_dds_common_msg_dds__Gid_& gid, const std::array<uint8_t, 16>& guid) {
  std::memset(gid.data, 0, sizeof gid.data);
  std::memcpy(gid.data, guid.data(), guid.size());
}

// Domains this process configured for loopback; they outlive the contexts
// so a later init can join them again.
std::mutex g_domains_mutex;
std::set<dds_domainid_t> g_loopback_domains;

bool configureLoopbackDomain(dds_domainid_t domain, std::string* reason) {
  std::lock_guard<std::mutex> lock(g_domains_mutex);
  if (g_loopback_domains.count(domain) != 0) return true;
  // Also refused when someone else in this process made the domain: its
  // configuration could reach beyond loopback.
  const dds_entity_t d = dds_create_domain(domain, kLoopbackConfig);
  if (d < 0) {
    *reason = "DDS domain " + std::to_string(domain) + " could not be configured: " + dds_strretcode(d);
    return false;
  }
  g_loopback_domains.insert(domain);
  return true;
}

// While a participant is being made, DDS's own complaints (a network
// interface that does not exist, a bad configuration) are kept for the
// reason instead of going to the console as loose lines.
class DdsLogCapture {
 public:
  DdsLogCapture() { dds_set_log_sink(&DdsLogCapture::keep, this); }
  ~DdsLogCapture() { dds_set_log_sink(nullptr, nullptr); }
  DdsLogCapture(const DdsLogCapture&) = delete;
  DdsLogCapture& operator=(const DdsLogCapture&) = delete;

  // "<what we tried>: <what DDS said>", on one line.
  std::string reason(const std::string& attempt) const {
    return text_.empty() ? attempt : attempt + ": " + text_;
  }

 private:
  static void keep(void* self, const dds_log_data_t* data) {
    auto* capture = static_cast<DdsLogCapture*>(self);
    std::string message(data->message, data->size);  // the header is not part of it
    while (!message.empty() && (message.back() == '\n' || message.back() == ' ')) message.pop_back();
    if (message.empty()) return;
    if (!capture->text_.empty()) capture->text_ += "; ";
    capture->text_ += message;
  }
  std::string text_;
};

}  // namespace

Context::~Context() {
  shutdown("context destroyed");
  // Only now, with no node or endpoint left, do the DDS entities go.
  if (participant_ > 0) dds_delete(participant_);
}

bool Context::init(std::string* reason) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (valid_.load()) return true;
  dds_domainid_t domain = 0;
  if (!domainIdFromEnv(&domain, reason)) return false;
  DdsLogCapture capture;
  std::string config_failure;
  if (loopbackOnly() && !configureLoopbackDomain(domain, &config_failure)) {
    *reason = capture.reason(config_failure);
    return false;
  }
  dds_qos_t* qos = dds_create_qos();
  dds_qset_userdata(qos, kEnclaveUserData, std::strlen(kEnclaveUserData));
  participant_ = dds_create_participant(domain, qos, nullptr);
  dds_delete_qos(qos);
  if (participant_ < 0) {
    *reason = capture.reason("DDS participant on domain " + std::to_string(domain) +
                             " could not be created (" + dds_strretcode(participant_) + ")");
    participant_ = 0;
    return false;
  }
  shutdown_guard_ = dds_create_guardcondition(participant_);

  dds_qos_t* graph_qos = dds_create_qos();
  dds_qset_reliability(graph_qos, DDS_RELIABILITY_RELIABLE, DDS_MSECS(100));
  dds_qset_durability(graph_qos, DDS_DURABILITY_TRANSIENT_LOCAL);
  dds_qset_history(graph_qos, DDS_HISTORY_KEEP_LAST, 1);
  const dds_entity_t topic =
      dds_create_topic(participant_, &rmw_dds_common_msg_dds__ParticipantEntitiesInfo__desc, kGraphTopic, graph_qos,
                       nullptr);
  graph_writer_ = topic < 0 ? 0 : dds_create_writer(participant_, topic, graph_qos, nullptr);
  if (graph_writer_ < 0) graph_writer_ = 0;
  dds_delete_qos(graph_qos);

  valid_.store(true);
  publish_graph_locked();
  return true;
}

bool Context::shutdown(const std::string& /*reason*/) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!valid_.exchange(false)) return false;
  // Wakes every spin; nodes and their endpoints stay until released, as
  // their callbacks may still be running on other threads.
  dds_set_guardcondition(shutdown_guard_, true);
  return true;
}

uint64_t Context::add_node(const std::string& node_namespace, const std::string& node_name) {
  std::lock_guard<std::mutex> lock(mutex_);
  const uint64_t id = next_node_id_++;
  graph_.push_back(GraphNode{id, node_namespace, node_name, {}, {}});
  publish_graph_locked();
  return id;
}

void Context::remove_node(uint64_t node_id) {
  std::lock_guard<std::mutex> lock(mutex_);
  for (auto it = graph_.begin(); it != graph_.end(); ++it) {
    if (it->id == node_id) {
      graph_.erase(it);
      publish_graph_locked();
      return;
    }
  }
}

void Context::add_endpoint(uint64_t node_id, int32_t entity, bool is_reader) {
  std::lock_guard<std::mutex> lock(mutex_);
  for (auto& node : graph_) {
    if (node.id == node_id) {
      (is_reader ? node.readers : node.writers).push_back(guidOf(entity));
      publish_graph_locked();
      return;
    }
  }
}

void Context::remove_endpoint(uint64_t node_id, int32_t entity) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!valid_.load()) return;
  const auto guid = guidOf(entity);
  for (auto& node : graph_) {
    if (node.id != node_id) continue;
    for (auto* list : {&node.readers, &node.writers}) {
      for (auto it = list->begin(); it != list->end(); ++it) {
        if (*it == guid) {
          list->erase(it);
          publish_graph_locked();
          return;
        }
      }
    }
  }
}

void Context::publish_graph_locked() {
  if (!valid_.load() || graph_writer_ == 0) return;
  std::vector<rmw_dds_common_msg_dds__NodeEntitiesInfo_> nodes(graph_.size());
  std::vector<std::vector<rmw_dds_common_msg_dds__Gid_>> gids(2 * graph_.size());
  for (size_t i = 0; i < graph_.size(); ++i) {
    auto& out = nodes[i];
    std::snprintf(out.node_namespace, sizeof out.node_namespace, "%s", graph_[i].node_namespace.c_str());
    std::snprintf(out.node_name, sizeof out.node_name, "%s", graph_[i].node_name.c_str());
    auto& readers = gids[2 * i];
    auto& writers = gids[2 * i + 1];
    readers.resize(graph_[i].readers.size());
    writers.resize(graph_[i].writers.size());
    for (size_t k = 0; k < readers.size(); ++k) fillGid(readers[k], graph_[i].readers[k]);
    for (size_t k = 0; k < writers.size(); ++k) fillGid(writers[k], graph_[i].writers[k]);
    out.reader_gid_seq = {static_cast<uint32_t>(readers.size()), static_cast<uint32_t>(readers.size()),
                          readers.data(), false};
    out.writer_gid_seq = {static_cast<uint32_t>(writers.size()), static_cast<uint32_t>(writers.size()),
                          writers.data(), false};
  }
  rmw_dds_common_msg_dds__ParticipantEntitiesInfo_ info{};
  fillGid(info.gid, guidOf(participant_));
  info.node_entities_info_seq = {static_cast<uint32_t>(nodes.size()), static_cast<uint32_t>(nodes.size()),
                                 nodes.data(), false};
  dds_write(graph_writer_, &info);
}

}  // namespace rclcpp

#if defined(__SANITIZE_THREAD__)
// Cyclone DDS is not built with ThreadSanitizer, so its lock-free internals
// read as races; only frames inside that library are silenced.
extern "C" const char* __tsan_default_suppressions() { return "race:libddsc.so\n"; }
#endif
