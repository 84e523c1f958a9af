// A plain DDS application, as a ROS 2 node would look on the wire: Cyclone's
// C API and its own IDL only. It answers every Float64MultiArray on
// "rt/compat_to_peer" with a JointState on "rt/compat_from_peer" and reports
// the ROS graph and participant user data it discovers.
#include <dds/dds.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "loopback_config.h"
#include "peer_types.h"

namespace {

std::set<std::string> g_printed;
void report(const std::string& line) {
  if (g_printed.insert(line).second) {
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);
  }
}

// Takes every waiting sample of `reader` and hands the valid ones to `use`.
template <typename T, typename F>
void drain(dds_entity_t reader, F use) {
  void* samples[1] = {nullptr};
  dds_sample_info_t info;
  while (dds_take(reader, samples, &info, 1, 1) > 0) {
    if (info.valid_data) use(*static_cast<const T*>(samples[0]));
    dds_return_loan(reader, samples, 1);
  }
}

void answer(dds_entity_t writer, const std_msgs_msg_dds__Float64MultiArray_& in) {
  std::vector<char*> names;
  for (uint32_t i = 0; i < in.layout.dim._length; ++i) names.push_back(in.layout.dim._buffer[i].label);
  double offset = in.layout.data_offset;
  sensor_msgs_msg_dds__JointState_ out{};
  out.header.stamp.sec = in.data._length > 0 ? static_cast<int32_t>(in.data._buffer[0]) : -1;
  out.header.stamp.nanosec = 7;
  out.header.frame_id = const_cast<char*>("peer_frame");
  out.name = {static_cast<uint32_t>(names.size()), static_cast<uint32_t>(names.size()), names.data(), false};
  out.position = in.data;
  out.position._release = false;
  out.velocity = {1, 1, &offset, false};
  dds_write(writer, &out);
}

}  // namespace

#if defined(__SANITIZE_THREAD__)
// Cyclone DDS is not built with ThreadSanitizer; its internals read as races.
extern "C" const char* __tsan_default_suppressions() { return "race:libddsc.so\n"; }
#endif

int main(int argc, char** argv) {
  const int seconds = argc > 1 ? std::atoi(argv[1]) : 30;
  const char* env = std::getenv("ROS_DOMAIN_ID");
  const dds_domainid_t domain = env ? static_cast<dds_domainid_t>(std::atoi(env)) : 0;

  if (dds_create_domain(domain, ros2_compat_test::loopbackCycloneConfig().c_str()) < 0) return 2;
  const dds_entity_t participant = dds_create_participant(domain, nullptr, nullptr);
  if (participant < 0) return 2;

  dds_qos_t* qos = dds_create_qos();
  dds_qset_reliability(qos, DDS_RELIABILITY_RELIABLE, DDS_MSECS(100));
  dds_qset_history(qos, DDS_HISTORY_KEEP_LAST, 10);
  const dds_entity_t in_topic =
      dds_create_topic(participant, &std_msgs_msg_dds__Float64MultiArray__desc, "rt/compat_to_peer", qos, nullptr);
  const dds_entity_t out_topic =
      dds_create_topic(participant, &sensor_msgs_msg_dds__JointState__desc, "rt/compat_from_peer", qos, nullptr);
  const dds_entity_t reader = dds_create_reader(participant, in_topic, qos, nullptr);
  const dds_entity_t writer = dds_create_writer(participant, out_topic, qos, nullptr);

  dds_qos_t* graph_qos = dds_create_qos();
  dds_qset_reliability(graph_qos, DDS_RELIABILITY_RELIABLE, DDS_MSECS(100));
  dds_qset_durability(graph_qos, DDS_DURABILITY_TRANSIENT_LOCAL);
  dds_qset_history(graph_qos, DDS_HISTORY_KEEP_LAST, 1);
  const dds_entity_t graph_topic = dds_create_topic(
      participant, &rmw_dds_common_msg_dds__ParticipantEntitiesInfo__desc, "ros_discovery_info", graph_qos, nullptr);
  const dds_entity_t graph_reader = dds_create_reader(participant, graph_topic, graph_qos, nullptr);
  const dds_entity_t participants = dds_create_reader(participant, DDS_BUILTIN_TOPIC_DCPSPARTICIPANT, nullptr, nullptr);
  dds_delete_qos(graph_qos);
  dds_delete_qos(qos);
  if (reader < 0 || writer < 0 || graph_reader < 0 || participants < 0) return 2;

  const dds_entity_t waitset = dds_create_waitset(participant);
  dds_waitset_attach(waitset, dds_create_readcondition(reader, DDS_ANY_STATE), 1);
  dds_waitset_attach(waitset, dds_create_readcondition(graph_reader, DDS_ANY_STATE), 2);
  dds_waitset_attach(waitset, dds_create_readcondition(participants, DDS_ANY_STATE), 3);
  std::printf("peer ready\n");
  std::fflush(stdout);

  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  while (std::chrono::steady_clock::now() < deadline) {
    dds_waitset_wait(waitset, nullptr, 0, DDS_MSECS(100));
    drain<std_msgs_msg_dds__Float64MultiArray_>(reader, [&](const auto& msg) {
      report("peer got array of " + std::to_string(msg.data._length));
      answer(writer, msg);
    });
    drain<rmw_dds_common_msg_dds__ParticipantEntitiesInfo_>(graph_reader, [](const auto& msg) {
      for (uint32_t i = 0; i < msg.node_entities_info_seq._length; ++i) {
        const auto& node = msg.node_entities_info_seq._buffer[i];
        report(std::string("graph node ") + node.node_namespace + " " + node.node_name +
               " readers=" + std::to_string(node.reader_gid_seq._length) +
               " writers=" + std::to_string(node.writer_gid_seq._length));
      }
    });
    drain<dds_builtintopic_participant_t>(participants, [](const auto& p) {
      void* data = nullptr;
      size_t size = 0;
      if (dds_qget_userdata(p.qos, &data, &size) && size > 0) {
        report("participant user_data=" + std::string(static_cast<const char*>(data), size));
      }
      dds_free(data);
    });
  }
  dds_delete(participant);
  dds_delete(DDS_CYCLONEDDS_HANDLE);
  return 0;
}
