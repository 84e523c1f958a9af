// Serves a pseudo-terminal like a bus of family A servos, so the controller
// can run on a machine without servo hardware.
#include <signal.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "servo_sim/servo_bus_sim.h"

namespace {

void usage(const char* prog) {
  fprintf(stderr, "usage: %s --link <path> [--servos N] [--wire-time] [--reply-delay-us N]\n", prog);
}

bool parseCount(const char* text, long min, long max, long* out) {
  char* end = nullptr;
  errno = 0;
  const long v = strtol(text, &end, 10);
  if (errno != 0 || end == text || *end != '\0' || v < min || v > max) return false;
  *out = v;
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  servo_sim::SimOptions options;
  options.frame_log_limit = 0;  // nobody reads the log of a stand-alone run
  long servos = 6;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    const bool has_value = i + 1 < argc;
    long value = 0;
    if (arg == "--link" && has_value) {
      options.link_path = argv[++i];
    } else if (arg == "--servos" && has_value && parseCount(argv[i + 1], 1, 253, &value)) {
      servos = value;
      ++i;
    } else if (arg == "--reply-delay-us" && has_value && parseCount(argv[i + 1], 0, 1000000, &value)) {
      options.reply_delay_us = static_cast<uint32_t>(value);
      ++i;
    } else if (arg == "--wire-time") {
      options.wire_time = true;
    } else {
      usage(argv[0]);
      return 2;
    }
  }
  if (options.link_path.empty()) {
    usage(argv[0]);
    return 2;
  }

  // A shell starts background jobs with SIGINT ignored; Ctrl-C should still stop us.
  signal(SIGINT, SIG_DFL);
  // Block the stop signals before the sim thread exists so only sigwait sees them.
  sigset_t stop_signals;
  sigemptyset(&stop_signals);
  sigaddset(&stop_signals, SIGINT);
  sigaddset(&stop_signals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stop_signals, nullptr);

  servo_sim::ServoBusSim sim(options);
  for (long id = 1; id <= servos; ++id) sim.addServo(static_cast<uint8_t>(id));
  if (!sim.start()) return 1;
  printf("servo_bus_sim: %s -> %s, %ld servos (ids 1..%ld)%s\n", options.link_path.c_str(),
         sim.slavePath().c_str(), servos, servos, options.wire_time ? ", 1 Mbaud wire time" : "");
  fflush(stdout);

  int sig = 0;
  sigwait(&stop_signals, &sig);
  sim.stop();
  return 0;
}
