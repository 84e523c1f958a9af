// An operator as a stock ROS 2 humble system runs it: Fast DDS, with CDR types
// written by hand under ROS 2's names and no code of ours. It exits 0 once
// joint states named joint1..joint6 show the target of the movj it sends.
//   fastdds_operator <seconds> <six joint targets> <velocity scale>
#include <fastcdr/Cdr.h>
#include <fastdds/rtps/transport/UDPv4TransportDescriptor.h>
#include <fastrtps/utils/IPLocator.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <fastdds/dds/domain/DomainParticipant.hpp>
#include <fastdds/dds/domain/DomainParticipantFactory.hpp>
#include <fastdds/dds/publisher/DataWriter.hpp>
#include <fastdds/dds/publisher/Publisher.hpp>
#include <fastdds/dds/subscriber/DataReader.hpp>
#include <fastdds/dds/subscriber/Subscriber.hpp>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

namespace {

using namespace eprosima::fastdds::dds;
using eprosima::fastcdr::Cdr;
using eprosima::fastrtps::rtps::SerializedPayload_t;
using Clock = std::chrono::steady_clock;

struct BoolMsg {
  bool data = false;
  auto fields() { return std::tie(data); }
};
struct ArrayMsg {  // std_msgs/Float64MultiArray with no layout dimensions
  uint32_t dim_count = 0, data_offset = 0;
  std::vector<double> data;
  auto fields() { return std::tie(dim_count, data_offset, data); }
};
struct JointStateMsg {  // header {stamp {sec, nanosec}, frame_id}, then the arrays
  uint32_t sec = 0, nanosec = 0;
  std::string frame_id;
  std::vector<std::string> name;
  std::vector<double> position, velocity, effort;
  auto fields() { return std::tie(sec, nanosec, frame_id, name, position, velocity, effort); }
};

// Keyless XCDR1 in the host's byte order: what rmw_fastrtps puts on the wire.
template <class Msg>
struct RosType : TopicDataType {
  explicit RosType(const char* name) {
    setName(name);
    m_typeSize = 1024;  // every sample here is far smaller
  }
  bool serialize(void* data, SerializedPayload_t* payload) override {
    eprosima::fastcdr::FastBuffer buffer(reinterpret_cast<char*>(payload->data), payload->max_size);
    Cdr cdr(buffer, Cdr::DEFAULT_ENDIAN, Cdr::DDS_CDR);
    cdr.serialize_encapsulation();
    std::apply([&](auto&... f) { (cdr << ... << f); }, static_cast<Msg*>(data)->fields());
    payload->encapsulation = cdr.endianness() == Cdr::BIG_ENDIANNESS ? CDR_BE : CDR_LE;
    payload->length = static_cast<uint32_t>(cdr.getSerializedDataLength());
    return true;
  }
  bool deserialize(SerializedPayload_t* payload, void* data) override {
    eprosima::fastcdr::FastBuffer buffer(reinterpret_cast<char*>(payload->data), payload->length);
    Cdr cdr(buffer, Cdr::DEFAULT_ENDIAN, Cdr::DDS_CDR);
    try {
      cdr.read_encapsulation();
      std::apply([&](auto&... f) { (cdr >> ... >> f); }, static_cast<Msg*>(data)->fields());
    } catch (const eprosima::fastcdr::exception::Exception&) {
      return false;
    }
    return true;
  }
  std::function<uint32_t()> getSerializedSizeProvider(void*) override {
    return [] { return 1024u; };
  }
  void* createData() override { return new Msg(); }
  void deleteData(void* data) override { delete static_cast<Msg*>(data); }
  bool getKey(void*, eprosima::fastrtps::rtps::InstanceHandle_t*, bool) override { return false; }
};

// ROS 2's default topic QoS: reliable, volatile, keep-last(depth).
template <class Qos>
Qos rosQos(Qos qos, int depth) {
  qos.reliability().kind = RELIABLE_RELIABILITY_QOS;
  qos.durability().kind = VOLATILE_DURABILITY_QOS;
  qos.history().kind = KEEP_LAST_HISTORY_QOS;
  qos.history().depth = depth;
  return qos;
}

// Loopback only: one UDPv4 transport on 127.0.0.1, peers found by unicast there.
DomainParticipantQos loopbackQos() {
  DomainParticipantQos qos;
  auto udp = std::make_shared<eprosima::fastdds::rtps::UDPv4TransportDescriptor>();
  udp->interfaceWhiteList = {"127.0.0.1"};
  qos.transport().use_builtin_transports = false;
  qos.transport().user_transports.push_back(udp);
  eprosima::fastrtps::rtps::Locator_t loopback;
  eprosima::fastrtps::rtps::IPLocator::setIPv4(loopback, 127, 0, 0, 1);
  qos.wire_protocol().builtin.initialPeersList.push_back(loopback);
  qos.wire_protocol().builtin.metatrafficUnicastLocatorList.push_back(loopback);
  qos.wire_protocol().default_unicast_locator_list.push_back(loopback);
  return qos;
}

}  // namespace

#if defined(__SANITIZE_ADDRESS__)
// Debian's Fast DDS 2.9 deletes every data reader's statistics part through a
// base of another size; ASan can only be told so for the whole process.
extern "C" const char* __asan_default_options() { return "new_delete_type_mismatch=0"; }
#endif

int main(int argc, char** argv) {
  if (argc != 9) return 2;
  const auto deadline = Clock::now() + std::chrono::seconds(std::atoi(argv[1]));
  ArrayMsg movj;
  for (int i = 2; i < 9; ++i) movj.data.push_back(std::atof(argv[i]));
  const char* domain = std::getenv("ROS_DOMAIN_ID");
  auto* factory = DomainParticipantFactory::get_instance();
  DomainParticipant* participant = factory->create_participant(domain ? std::atoi(domain) : 0, loopbackQos());
  if (participant == nullptr) return 2;
  auto topic = [&](const char* name, TopicDataType* type) {
    TypeSupport(type).register_type(participant);
    return participant->create_topic(std::string("rt/") + name, type->getName(), TOPIC_QOS_DEFAULT);
  };
  Publisher* publisher = participant->create_publisher(PUBLISHER_QOS_DEFAULT);
  DataWriter* serve_on = publisher->create_datawriter(
      topic("serve_on_topic", new RosType<BoolMsg>("std_msgs::msg::dds_::Bool_")),
      rosQos(DATAWRITER_QOS_DEFAULT, 1));
  DataWriter* movj_writer = publisher->create_datawriter(
      topic("movj_topic", new RosType<ArrayMsg>("std_msgs::msg::dds_::Float64MultiArray_")),
      rosQos(DATAWRITER_QOS_DEFAULT, 10));
  DataReader* joints =
      participant->create_subscriber(SUBSCRIBER_QOS_DEFAULT)
          ->create_datareader(topic("A_arm_joint_pos_topic",
                                    new RosType<JointStateMsg>("sensor_msgs::msg::dds_::JointState_")),
                              rosQos(DATAREADER_QOS_DEFAULT, 10));

  // Serve on and the movj go out every second until the arm is there: a sample
  // sent before the controller matched is lost, a movj while the servos are off
  // is dropped, and one to where the arm is (or is going) finishes at once.
  const std::vector<std::string> names = {"joint1", "joint2", "joint3", "joint4", "joint5", "joint6"};
  BoolMsg on{true};
  JointStateMsg js;
  SampleInfo info;
  bool there = false;
  for (auto next = Clock::now(); !there && Clock::now() < deadline;) {
    while (!there && joints->take_next_sample(&js, &info) == ReturnCode_t::RETCODE_OK) {
      there = info.valid_data && js.name == names && js.position.size() == 6;
      for (size_t i = 0; there && i < 6; ++i) there = std::fabs(js.position[i] - movj.data[i]) < 0.01;
    }
    if (!there && Clock::now() >= next) {
      serve_on->write(&on);
      movj_writer->write(&movj);
      next = Clock::now() + std::chrono::seconds(1);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  participant->delete_contained_entities();
  factory->delete_participant(participant);
  return there ? 0 : 1;
}
