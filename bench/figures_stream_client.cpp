// A stream-server client for process measurements: connects to 127.0.0.1,
// reads state frames (4-byte big-endian length + MainArmStates) for a while
// and reports how many arrived, their pacing and any malformed frame.
//
// Usage: figures_stream_client [--port N] [--seconds S]
// Prints one summary line; exit 0 when frames arrived and all parsed, 1 when
// none did or one was malformed, 2 on bad arguments or no connection.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "cloud/robot_ping.pb.h"

namespace {

using Clock = std::chrono::steady_clock;

// A state message is about a hundred bytes; anything near this is a broken stream.
constexpr uint32_t kMaxFrameBytes = 64 * 1024;

std::atomic<bool> g_stop{false};

void onSignal(int) { g_stop = true; }

bool parseLong(const char* text, long min, long max, long* out) {
  char* end = nullptr;
  errno = 0;
  const long v = std::strtol(text, &end, 10);
  if (errno != 0 || end == text || *end != '\0' || v < min || v > max) return false;
  *out = v;
  return true;
}

struct Summary {
  size_t frames = 0;
  size_t malformed = 0;
  double max_gap_ms = 0.0;
  double first_to_last_s = 0.0;
  size_t joints = 0;
  bool enable = false;
};

// Cuts frames out of the received bytes; false once the stream cannot be trusted.
bool takeFrames(std::vector<uint8_t>* buf, Summary* s, Clock::time_point now,
                Clock::time_point* first, Clock::time_point* last) {
  size_t at = 0;
  bool ok = true;
  while (buf->size() - at >= 4) {
    const uint8_t* p = buf->data() + at;
    const uint32_t len = (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
    if (len > kMaxFrameBytes) {
      ++s->malformed;
      ok = false;
      break;
    }
    if (buf->size() - at - 4 < len) break;
    robot_ping::MainArmStates msg;
    if (!msg.ParseFromArray(p + 4, static_cast<int>(len)) || msg.pose_size() != 6) {
      ++s->malformed;
    } else {
      s->joints = static_cast<size_t>(msg.angle().angle_size());
      s->enable = msg.enablepower();
    }
    if (s->frames > 0) {
      const double gap = std::chrono::duration<double, std::milli>(now - *last).count();
      s->max_gap_ms = std::max(s->max_gap_ms, gap);
    } else {
      *first = now;
    }
    *last = now;
    ++s->frames;
    at += 4 + len;
  }
  buf->erase(buf->begin(), buf->begin() + static_cast<std::ptrdiff_t>(at));
  return ok;
}

}  // namespace

int main(int argc, char** argv) {
  long port = 8006;
  long seconds = 30;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--port" && i + 1 < argc && parseLong(argv[i + 1], 1, 65535, &port)) {
      ++i;
    } else if (arg == "--seconds" && i + 1 < argc && parseLong(argv[i + 1], 1, 86400, &seconds)) {
      ++i;
    } else {
      std::fprintf(stderr, "usage: %s [--port N] [--seconds S]\n", argv[0]);
      return 2;
    }
  }
  signal(SIGTERM, onSignal);
  signal(SIGINT, onSignal);

  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(static_cast<uint16_t>(port));
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (fd < 0 || connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) != 0) {
    std::fprintf(stderr, "figures_stream_client: cannot connect to 127.0.0.1:%ld: %s\n", port,
                 std::strerror(errno));
    if (fd >= 0) close(fd);
    return 2;
  }

  Summary s;
  std::vector<uint8_t> buf;
  Clock::time_point first{}, last{};
  const Clock::time_point deadline = Clock::now() + std::chrono::seconds(seconds);
  bool peer_closed = false;
  bool trusted = true;
  while (!g_stop && trusted && Clock::now() < deadline) {
    pollfd pfd{fd, POLLIN, 0};
    const int r = poll(&pfd, 1, 100);
    if (r < 0 && errno != EINTR) break;
    if (r <= 0) continue;
    uint8_t chunk[4096];
    const ssize_t n = recv(fd, chunk, sizeof(chunk), 0);
    if (n == 0) {
      peer_closed = true;
      break;
    }
    if (n < 0) {
      if (errno == EINTR || errno == EAGAIN) continue;
      peer_closed = true;
      break;
    }
    buf.insert(buf.end(), chunk, chunk + n);
    trusted = takeFrames(&buf, &s, Clock::now(), &first, &last);
  }
  close(fd);

  s.first_to_last_s = std::chrono::duration<double>(last - first).count();
  const double mean_ms = s.frames > 1 ? s.first_to_last_s * 1000.0 / static_cast<double>(s.frames - 1) : 0.0;
  std::printf("stream frames=%zu mean_period_ms=%.2f max_gap_ms=%.1f malformed=%zu joints=%zu enable=%d%s\n",
              s.frames, mean_ms, s.max_gap_ms, s.malformed, s.joints, s.enable ? 1 : 0,
              peer_closed ? " server_closed=1" : "");
  return (s.frames > 0 && s.malformed == 0) ? 0 : 1;
}
