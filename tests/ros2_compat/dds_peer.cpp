// A plain DDS program (Cyclone's C API, its own IDL), as a ROS 2 node looks on the wire: it publishes a
// JointState on "rt/compat_from_peer", prints the raw samples it reads, the ROS graph and the user data.
#include <dds/dds.h>
#include <dds/ddsi/ddsi_serdata.h>

#include <cstdio>
#include <cstdlib>
#include <vector>

#include "peer_types.h"

namespace {

template <typename T, typename F>
void drain(dds_entity_t reader, F use) {
  void* samples[1] = {nullptr};
  dds_sample_info_t info;
  while (dds_take(reader, samples, &info, 1, 1) > 0) {
    if (info.valid_data) use(*static_cast<const T*>(samples[0]));
    dds_return_loan(reader, samples, 1);
  }
}

// "cdr <topic>" and the sample's bytes as they came off the wire, in groups of four.
void printSerialized(dds_entity_t reader, const char* topic) {
  ddsi_serdata* sd = nullptr;
  dds_sample_info_t info;
  while (dds_takecdr(reader, &sd, 1, &info, DDS_ANY_STATE) == 1) {
    std::vector<unsigned char> bytes(ddsi_serdata_size(sd));
    ddsi_serdata_to_ser(sd, 0, bytes.size(), bytes.data());
    ddsi_serdata_unref(sd);
    if (!info.valid_data) continue;
    std::printf("cdr %s", topic);
    for (size_t i = 0; i < bytes.size(); ++i) std::printf("%s%02x", i % 4 == 0 ? " " : "", bytes[i]);
    std::printf("\n");
  }
}

}  // namespace

int main(int argc, char** argv) {
  // The test hands over a loopback-only configuration; without one the peer does not run.
  if (std::getenv("CYCLONEDDS_URI") == nullptr) return 2;
  const char* domain = std::getenv("ROS_DOMAIN_ID");
  const dds_entity_t participant = dds_create_participant(domain ? std::atoi(domain) : 0, nullptr, nullptr);
  dds_qos_t* qos = dds_create_qos();
  dds_qset_reliability(qos, DDS_RELIABILITY_RELIABLE, DDS_MSECS(100));
  auto topic = [&](const dds_topic_descriptor_t* desc, const char* name) {
    return dds_create_topic(participant, desc, name, qos, nullptr);
  };
  auto reader = [&](dds_entity_t t) { return dds_create_reader(participant, t, qos, nullptr); };
  const dds_entity_t arrays = reader(topic(&std_msgs_msg_dds__Float64MultiArray__desc, "rt/compat_to_peer"));
  const dds_entity_t joints = reader(topic(&sensor_msgs_msg_dds__JointState__desc, "rt/compat_joint_state"));
  const dds_entity_t writer = dds_create_writer(
      participant, topic(&sensor_msgs_msg_dds__JointState__desc, "rt/compat_from_peer"), qos, nullptr);
  dds_qset_durability(qos, DDS_DURABILITY_TRANSIENT_LOCAL);  // the graph topic as humble has it
  const dds_entity_t graph =
      reader(topic(&rmw_dds_common_msg_dds__ParticipantEntitiesInfo__desc, "ros_discovery_info"));
  const dds_entity_t participants = reader(DDS_BUILTIN_TOPIC_DCPSPARTICIPANT);
  dds_delete_qos(qos);
  if (participant < 0 || arrays < 0 || joints < 0 || writer < 0 || graph < 0 || participants < 0) return 2;
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  std::puts("peer ready");

  char* names[] = {const_cast<char*>("rows"), const_cast<char*>("cols")};
  double positions[] = {42.0, -0.25, 1e-9}, velocities[] = {3.0};
  sensor_msgs_msg_dds__JointState_ out{{{42, 7}, const_cast<char*>("peer_frame")},
                                       {2, 2, names, false},
                                       {3, 3, positions, false},
                                       {1, 1, velocities, false},
                                       {}};
  for (int ms = 0; ms < (argc > 1 ? std::atoi(argv[1]) : 30) * 1000; ms += 20) {
    dds_sleepfor(DDS_MSECS(20));
    dds_write(writer, &out);
    printSerialized(arrays, "rt/compat_to_peer");
    printSerialized(joints, "rt/compat_joint_state");
    drain<rmw_dds_common_msg_dds__ParticipantEntitiesInfo_>(graph, [](const auto& msg) {
      for (uint32_t i = 0; i < msg.node_entities_info_seq._length; ++i) {
        const auto& node = msg.node_entities_info_seq._buffer[i];
        std::printf("graph node %s %s readers=%u writers=%u\n", node.node_namespace, node.node_name,
                    node.reader_gid_seq._length, node.writer_gid_seq._length);
      }
    });
    drain<dds_builtintopic_participant_t>(participants, [](const auto& p) {
      void* data = nullptr;
      size_t size = 0;
      if (dds_qget_userdata(p.qos, &data, &size) && size > 0)
        std::printf("participant user_data=%.*s\n", static_cast<int>(size), static_cast<const char*>(data));
      dds_free(data);
    });
  }
  dds_delete(participant);
  return 0;
}
