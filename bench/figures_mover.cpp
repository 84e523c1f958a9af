// Keeps the arm moving for a long process measurement: waits for
// "robot_cmd_processor", switches the servos on, then publishes movj back and
// forth between +A and -A on every joint and checks after each period that
// the arm got there. With --fresh-participant every movj goes out the way
// `ros2 topic pub --once` sends it: a DDS participant of its own (with the
// ros_discovery_info endpoints every ROS 2 process has), a writer, wait for the
// controller's reader, write, wait for the ack, delete everything.
//
// Usage: figures_mover [--seconds S] [--period-ms P] [--amplitude RAD] [--scale K]
//                      [--fresh-participant]
// The DDS domain comes from ROS_DOMAIN_ID. Prints a progress line a minute.
// Exit 0 when every move arrived, 1 when one did not, 2 when the node never
// showed up or never reported its servos on.
#include <atomic>
#include <chrono>
#include <cmath>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "figures_operator.h"
#ifdef FIGURES_FRESH_PARTICIPANT
#include <dds/dds.h>

#include "ros_types.h"
#endif

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

using figures::kJoints;
// Feedback is quantised to 0.088 degrees per step; a few steps is "there".
constexpr double kArrivedTolerance = 0.02;

struct Options {
  double seconds = 600;
  long period_ms = 2500;
  double amplitude = 0.2;
  double scale = 0.5;
  bool fresh_participant = false;
};

bool parseDouble(const char* text, double min, double max, double* out) {
  char* end = nullptr;
  errno = 0;
  const double v = std::strtod(text, &end);
  if (errno != 0 || end == text || *end != '\0' || !(v >= min && v <= max)) return false;
  *out = v;
  return true;
}

#ifdef FIGURES_FRESH_PARTICIPANT
// One short-lived participant per call; false when the controller's reader
// never matched or never acknowledged. The domain was configured for loopback
// by rclcpp::init in this process.
bool movjFromFreshParticipant(double target, double scale) {
  const char* env = std::getenv("ROS_DOMAIN_ID");
  const dds_domainid_t domain = env ? static_cast<dds_domainid_t>(std::atoi(env)) : 0;
  dds_qos_t* pqos = dds_create_qos();
  dds_qset_userdata(pqos, "enclave=/;", 10);
  const dds_entity_t participant = dds_create_participant(domain, pqos, nullptr);
  dds_delete_qos(pqos);
  if (participant < 0) return false;

  dds_qos_t* gqos = dds_create_qos();
  dds_qset_reliability(gqos, DDS_RELIABILITY_RELIABLE, DDS_MSECS(100));
  dds_qset_durability(gqos, DDS_DURABILITY_TRANSIENT_LOCAL);
  dds_qset_history(gqos, DDS_HISTORY_KEEP_LAST, 1);
  const dds_entity_t gtopic = dds_create_topic(participant, &rmw_dds_common_msg_dds__ParticipantEntitiesInfo__desc,
                                               "ros_discovery_info", gqos, nullptr);
  dds_create_reader(participant, gtopic, gqos, nullptr);
  const dds_entity_t gwriter = dds_create_writer(participant, gtopic, gqos, nullptr);
  dds_delete_qos(gqos);
  rmw_dds_common_msg_dds__ParticipantEntitiesInfo_ info{};
  dds_write(gwriter, &info);

  dds_qos_t* qos = dds_create_qos();
  dds_qset_reliability(qos, DDS_RELIABILITY_RELIABLE, DDS_MSECS(100));
  dds_qset_history(qos, DDS_HISTORY_KEEP_LAST, 10);
  const dds_entity_t topic =
      dds_create_topic(participant, &std_msgs_msg_dds__Float64MultiArray__desc, "rt/movj_topic", qos, nullptr);
  const dds_entity_t writer = dds_create_writer(participant, topic, qos, nullptr);
  dds_delete_qos(qos);

  bool sent = false;
  const auto deadline = Clock::now() + 5s;
  dds_publication_matched_status_t matched{};
  while (writer > 0 && Clock::now() < deadline) {
    if (dds_get_publication_matched_status(writer, &matched) == DDS_RETCODE_OK && matched.current_count > 0) {
      std::vector<double> data(kJoints, target);
      data.push_back(scale);
      std_msgs_msg_dds__Float64MultiArray_ msg{};
      msg.data = {static_cast<uint32_t>(data.size()), static_cast<uint32_t>(data.size()), data.data(), false};
      sent = dds_write(writer, &msg) == DDS_RETCODE_OK && dds_wait_for_acks(writer, DDS_SECS(1)) == DDS_RETCODE_OK;
      break;
    }
    std::this_thread::sleep_for(5ms);
  }
  dds_delete(participant);
  return sent;
}
#else
// Without plain DDS types (a real ROS 2 build) the option is not offered.
bool movjFromFreshParticipant(double, double) { return false; }
#endif

class Mover : public figures::Operator {
 public:
  Mover() : figures::Operator("figures_mover") {}

  bool waitForNode(std::chrono::seconds timeout) {
    const auto deadline = Clock::now() + timeout;
    while (Clock::now() < deadline) {
      if (seenJoints()) return true;
      std::this_thread::sleep_for(10ms);
    }
    return false;
  }

  bool serveOn(std::chrono::seconds timeout) {
    const auto deadline = Clock::now() + timeout;
    while (Clock::now() < deadline) {
      Operator::serveOn();
      for (int i = 0; i < 100 && !enabled(); ++i) std::this_thread::sleep_for(10ms);
      if (enabled()) return true;
    }
    return false;
  }
};

int runMoves(Mover& mover, const Options& o) {
  if (!mover.waitForNode(30s)) {
    std::fprintf(stderr, "figures_mover: robot_cmd_processor never published its joints\n");
    return 2;
  }
  std::this_thread::sleep_for(500ms);  // let the node's readers match our writers
  if (!mover.serveOn(10s)) {
    std::fprintf(stderr, "figures_mover: servos never reported on\n");
    return 2;
  }
  std::printf("figures_mover: servos on, moving for %.0f s\n", o.seconds);
  std::fflush(stdout);

  const auto start = Clock::now();
  const auto end = start + std::chrono::duration<double>(o.seconds);
  long moves = 0, arrived = 0, unsent = 0, next_report_min = 1;
  double worst_miss = 0.0;
  double target = o.amplitude;
  while (rclcpp::ok() && Clock::now() < end) {
    if (!o.fresh_participant) {
      mover.movj(target, o.scale);
    } else if (!movjFromFreshParticipant(target, o.scale)) {
      ++unsent;
    }
    ++moves;
    std::this_thread::sleep_for(std::chrono::milliseconds(o.period_ms));
    const double d = mover.distance(target);
    if (d <= kArrivedTolerance) {
      ++arrived;
    } else {
      worst_miss = std::max(worst_miss, d);
    }
    target = -target;
    const double elapsed_min = std::chrono::duration<double>(Clock::now() - start).count() / 60.0;
    if (elapsed_min >= static_cast<double>(next_report_min)) {
      std::printf("figures_mover: minute %ld moves=%ld arrived=%ld unsent=%ld\n", next_report_min, moves, arrived,
                  unsent);
      std::fflush(stdout);
      ++next_report_min;
    }
  }
  std::printf("figures_mover: moves=%ld arrived=%ld unsent=%ld worst_miss_rad=%.4f\n", moves, arrived, unsent,
              worst_miss);
  return arrived == moves ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  Options o;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    const bool v = i + 1 < argc;
    double period = 0;
    if (arg == "--seconds" && v && parseDouble(argv[i + 1], 1, 86400, &o.seconds)) {
      ++i;
    } else if (arg == "--period-ms" && v && parseDouble(argv[i + 1], 100, 60000, &period)) {
      o.period_ms = static_cast<long>(period);
      ++i;
    } else if (arg == "--amplitude" && v && parseDouble(argv[i + 1], 0.001, 3.0, &o.amplitude)) {
      ++i;
    } else if (arg == "--scale" && v && parseDouble(argv[i + 1], 0.01, 1.0, &o.scale)) {
      ++i;
#ifdef FIGURES_FRESH_PARTICIPANT
    } else if (arg == "--fresh-participant") {
      o.fresh_participant = true;
#endif
    } else {
      std::fprintf(stderr, "usage: %s [--seconds S] [--period-ms P] [--amplitude RAD] [--scale K]"
                   " [--fresh-participant]\n", argv[0]);
      return 2;
    }
  }
  const char* init_argv[] = {"figures_mover"};
  rclcpp::init(1, init_argv);
  auto mover = std::make_shared<Mover>();
  std::thread spinner([mover] { rclcpp::spin(mover); });
  const int rc = runMoves(*mover, o);
  rclcpp::shutdown();
  spinner.join();
  return rc;
}
