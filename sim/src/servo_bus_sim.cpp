#include "servo_sim/servo_bus_sim.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <utility>

namespace servo_sim {

namespace {
constexpr std::chrono::microseconds kByteTime(10);  // 10 bits a byte at 1 Mbaud
constexpr std::chrono::microseconds kIdleTick(2000);  // motion refresh while the bus is quiet
// Timer wake-ups come tens of microseconds late; with wire time emulated the
// last stretch before a reply is spun instead, so replies keep 1 Mbaud timing.
constexpr std::chrono::microseconds kSpinWindow(60);
constexpr size_t kReadChunk = 4096;
constexpr size_t kLateSamples = 4096;

std::chrono::microseconds wireTime(size_t bytes) { return kByteTime * static_cast<int64_t>(bytes); }

bool makeRaw(int fd) {
  termios tio{};
  if (tcgetattr(fd, &tio) != 0) return false;
  cfmakeraw(&tio);
  return tcsetattr(fd, TCSANOW, &tio) == 0;
}

bool linkPointsTo(const std::string& link, const std::string& target) {
  char buf[4096];
  const ssize_t n = readlink(link.c_str(), buf, sizeof(buf) - 1);
  return n >= 0 && std::string(buf, static_cast<size_t>(n)) == target;
}
}  // namespace

ServoBusSim::ServoBusSim(SimOptions options) : options_(std::move(options)) {}

ServoBusSim::~ServoBusSim() { stop(); }

bool ServoBusSim::start() {
  if (running_.load() || master_fd_ >= 0) return false;
  if (thread_.joinable()) thread_.join();  // left over from a hang-up
  master_fd_ = posix_openpt(O_RDWR | O_NOCTTY);
  if (master_fd_ < 0) {
    perror("servo_bus_sim: posix_openpt");
    return false;
  }
  char name[256];
  if (grantpt(master_fd_) != 0 || unlockpt(master_fd_) != 0 || ptsname_r(master_fd_, name, sizeof(name)) != 0) {
    perror("servo_bus_sim: pty setup");
    closePty();
    return false;
  }
  slave_path_ = name;
  // Our own slave descriptor keeps the pair alive while no client has it open,
  // so the master never reports a hang-up between clients.
  slave_fd_ = open(name, O_RDWR | O_NOCTTY | O_NONBLOCK);
  if (slave_fd_ < 0 || !makeRaw(slave_fd_) || !makeRaw(master_fd_)) {
    perror("servo_bus_sim: raw pty");
    closePty();
    return false;
  }
  fcntl(master_fd_, F_SETFL, fcntl(master_fd_, F_GETFL) | O_NONBLOCK);

  if (!options_.link_path.empty()) {
    struct stat st {};
    if (lstat(options_.link_path.c_str(), &st) == 0) {
      if (!S_ISLNK(st.st_mode)) {
        fprintf(stderr, "servo_bus_sim: %s exists and is not a symlink; not replacing it\n",
                options_.link_path.c_str());
        closePty();
        return false;
      }
      unlink(options_.link_path.c_str());
    }
    if (symlink(slave_path_.c_str(), options_.link_path.c_str()) != 0) {
      perror("servo_bus_sim: symlink");
      closePty();
      return false;
    }
    link_made_ = true;
  }

  hung_up_ = false;
  hang_request_ = false;
  stop_ = false;
  parser_ = FrameParser();
  {
    std::lock_guard<std::mutex> lock(mtx_);
    pending_.clear();  // replies meant for a line that was hung up
    last_motion_ = Clock::now();
  }
  running_ = true;
  thread_ = std::thread(&ServoBusSim::run, this);
  return true;
}

void ServoBusSim::stop() {
  stop_ = true;
  if (thread_.joinable()) thread_.join();
  running_ = false;
  closePty();
  if (link_made_) {
    if (linkPointsTo(options_.link_path, slave_path_)) unlink(options_.link_path.c_str());
    link_made_ = false;
  }
}

void ServoBusSim::closePty() {
  if (slave_fd_ >= 0) close(slave_fd_);
  if (master_fd_ >= 0) close(master_fd_);
  slave_fd_ = -1;
  master_fd_ = -1;
}

void ServoBusSim::hangUp() {
  if (thread_.joinable()) {
    // The sim thread closes the pty itself so it never polls a dead descriptor.
    hang_request_ = true;
    thread_.join();
  }
  if (master_fd_ >= 0) {
    closePty();
    hung_up_ = true;
  }
}

bool ServoBusSim::addServo(uint8_t id, uint16_t position) {
  if (id >= kBroadcastId) return false;
  std::lock_guard<std::mutex> lock(mtx_);
  return servos_.emplace(id, SimServo(id, position, options_.motion)).second;
}

bool ServoBusSim::hasServo(uint8_t id) const {
  std::lock_guard<std::mutex> lock(mtx_);
  return servos_.count(id) != 0;
}

int ServoBusSim::reg(uint8_t id, uint8_t addr) const {
  std::lock_guard<std::mutex> lock(mtx_);
  auto it = servos_.find(id);
  return it == servos_.end() ? -1 : it->second.reg(addr);
}

int ServoBusSim::regWord(uint8_t id, uint8_t addr) const {
  std::lock_guard<std::mutex> lock(mtx_);
  auto it = servos_.find(id);
  return it == servos_.end() ? -1 : it->second.word(addr);
}

bool ServoBusSim::setReg(uint8_t id, uint8_t addr, uint8_t value) {
  std::lock_guard<std::mutex> lock(mtx_);
  auto it = servos_.find(id);
  if (it == servos_.end()) return false;
  it->second.setReg(addr, value);
  return true;
}

bool ServoBusSim::setRegWord(uint8_t id, uint8_t addr, uint16_t value) {
  std::lock_guard<std::mutex> lock(mtx_);
  auto it = servos_.find(id);
  if (it == servos_.end()) return false;
  it->second.setWord(addr, value);
  return true;
}

ServoSnapshot ServoBusSim::servo(uint8_t id) const {
  ServoSnapshot s;
  std::lock_guard<std::mutex> lock(mtx_);
  auto it = servos_.find(id);
  if (it == servos_.end()) return s;
  const SimServo& v = it->second;
  s.exists = true;
  s.torque_on = v.torqueOn();
  s.position = v.presentPosition();
  s.speed = v.presentSpeed();
  s.load = decodeSignMagnitude(v.word(kRegPresentLoad), 10);
  s.current = decodeSignMagnitude(v.word(kRegPresentCurrent), 15);
  s.moving = v.reg(kRegMoving);
  s.goal = v.goalPosition();
  s.registered_pending = v.hasRegistered();
  s.calibrations = v.calibrations();
  s.actions = v.actions();
  return s;
}

void ServoBusSim::setFaults(uint8_t id, const ServoFaults& faults) {
  std::lock_guard<std::mutex> lock(mtx_);
  faults_[id] = faults;
}

void ServoBusSim::clearFaults(uint8_t id) {
  std::lock_guard<std::mutex> lock(mtx_);
  faults_.erase(id);
}

std::vector<Frame> ServoBusSim::frames() const {
  std::lock_guard<std::mutex> lock(mtx_);
  return std::vector<Frame>(log_.begin(), log_.end());
}

std::vector<Frame> ServoBusSim::framesFrom(size_t first) const {
  std::lock_guard<std::mutex> lock(mtx_);
  const size_t oldest = frame_count_ - log_.size();
  const size_t skip = first > oldest ? std::min(first - oldest, log_.size()) : 0;
  return std::vector<Frame>(log_.begin() + static_cast<std::ptrdiff_t>(skip), log_.end());
}

ReplyTiming ServoBusSim::replyTiming() const {
  std::lock_guard<std::mutex> lock(mtx_);
  ReplyTiming t;
  t.replies = late_count_;
  t.mean_late_us = late_count_ ? late_sum_us_ / static_cast<double>(late_count_) : 0.0;
  t.max_late_us = late_max_us_;
  if (!late_recent_.empty()) {
    std::vector<float> v = late_recent_;
    std::nth_element(v.begin(), v.begin() + static_cast<std::ptrdiff_t>(v.size() / 2), v.end());
    t.p50_late_us = v[v.size() / 2];
  }
  return t;
}

void ServoBusSim::resetReplyTiming() {
  std::lock_guard<std::mutex> lock(mtx_);
  late_sum_us_ = late_max_us_ = 0.0;
  late_count_ = 0;
  late_recent_.clear();
}

size_t ServoBusSim::frameCount() const {
  std::lock_guard<std::mutex> lock(mtx_);
  return frame_count_;
}

void ServoBusSim::clearFrames() {
  std::lock_guard<std::mutex> lock(mtx_);
  log_.clear();
  frame_count_ = 0;
}

bool ServoBusSim::waitForFrames(size_t count, std::chrono::milliseconds timeout) const {
  const auto deadline = Clock::now() + timeout;
  for (;;) {
    if (frameCount() >= count) return true;
    if (Clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::microseconds(500));
  }
}

void ServoBusSim::run() {
  // Reply times are emulated down to tens of microseconds.
  prctl(PR_SET_TIMERSLACK, 1UL, 0, 0, 0);
  std::vector<uint8_t> chunk(kReadChunk);
  std::vector<Pending> due;
  Frame frame;
  while (!stop_.load()) {
    if (hang_request_.load()) break;
    auto now = Clock::now();
    auto wait = std::chrono::duration_cast<std::chrono::nanoseconds>(kIdleTick);
    Clock::time_point next_due = Clock::time_point::max();
    {
      std::lock_guard<std::mutex> lock(mtx_);
      if (!pending_.empty()) next_due = pending_.front().due;
    }
    if (next_due != Clock::time_point::max()) {
      if (options_.wire_time && next_due - now <= kSpinWindow) {
        while (Clock::now() < next_due) {
        }
        now = Clock::now();
      }
      const auto lead = options_.wire_time ? kSpinWindow : std::chrono::microseconds(0);
      wait = std::max(std::chrono::nanoseconds(0), std::min(wait, next_due - lead - now));
    }
    timespec ts{static_cast<time_t>(wait.count() / 1000000000), static_cast<long>(wait.count() % 1000000000)};
    pollfd pfd{master_fd_, POLLIN, 0};
    const int pr = ppoll(&pfd, 1, &ts, nullptr);
    now = Clock::now();
    if (pr > 0 && (pfd.revents & POLLIN)) {
      for (;;) {
        const ssize_t n = read(master_fd_, chunk.data(), chunk.size());
        if (n <= 0) break;
        parser_.feed(chunk.data(), static_cast<size_t>(n), now);
      }
    } else if (pr > 0) {
      // Error or hang-up on the master without data: don't spin on it.
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    {
      std::lock_guard<std::mutex> lock(mtx_);
      advanceMotion(now);
      while (parser_.next(&frame, now)) handleFrame(frame, now);
      now = Clock::now();
      auto it = pending_.begin();
      while (it != pending_.end() && it->due <= now) ++it;
      due.assign(std::make_move_iterator(pending_.begin()), std::make_move_iterator(it));
      pending_.erase(pending_.begin(), it);
    }
    bool hang = false;
    const auto written = Clock::now();
    for (const Pending& p : due) {
      if (p.hang_up) {
        hang = true;
        break;
      }
      size_t off = 0;
      while (off < p.bytes.size()) {
        const ssize_t w = write(master_fd_, p.bytes.data() + off, p.bytes.size() - off);
        if (w <= 0) break;  // nobody draining the slave: the rest is lost, as on a wire
        off += static_cast<size_t>(w);
      }
      ++replies_sent_;
    }
    if (!due.empty() && !hang) {
      std::lock_guard<std::mutex> lock(mtx_);
      for (const Pending& p : due) {
        const double late = std::chrono::duration<double, std::micro>(written - p.due).count();
        late_sum_us_ += late;
        late_max_us_ = std::max(late_max_us_, late);
        if (late_recent_.size() < kLateSamples) {
          late_recent_.push_back(static_cast<float>(late));
        } else {
          late_recent_[late_count_ % kLateSamples] = static_cast<float>(late);
        }
        ++late_count_;
      }
    }
    due.clear();
    if (hang) break;
  }
  const bool hung = !stop_.load();
  if (hung) closePty();
  // Not running before hung up, so a caller that saw the hang-up may start again.
  running_ = false;
  if (hung) hung_up_ = true;
}

void ServoBusSim::advanceMotion(Clock::time_point now) {
  const double dt = std::chrono::duration<double>(now - last_motion_).count();
  if (dt <= 0.0) return;
  last_motion_ = now;
  for (auto& kv : servos_) {
    auto f = faults_.find(kv.first);
    if (f == faults_.end() || !f->second.stuck) kv.second.advance(dt);
  }
}

void ServoBusSim::act(SimServo& servo) {
  auto f = faults_.find(servo.id());
  if (f != faults_.end() && f->second.ignore_goals && servo.dropRegistered(kRegAcceleration)) return;
  servo.action();
}

void ServoBusSim::garble(uint8_t id, uint8_t from, size_t len, uint8_t* data) const {
  auto f = faults_.find(id);
  if (f == faults_.end() || (f->second.only_read_at >= 0 && f->second.only_read_at != from)) return;
  auto add = [&](uint8_t reg, int offset) {
    if (offset == 0 || reg < from || reg + 2u > from + len) return;
    uint8_t* at = data + (reg - from);
    const int value = decodeSignMagnitude(static_cast<uint16_t>(at[0] | at[1] << 8), 15) + offset;
    const uint16_t raw = encodeSignMagnitude(value, 15);
    at[0] = static_cast<uint8_t>(raw & 0xFF);
    at[1] = static_cast<uint8_t>(raw >> 8);
  };
  add(kRegPresentPosition, f->second.position_offset);
  add(kRegPresentSpeed, f->second.speed_offset);
}

void ServoBusSim::reply(SimServo& servo, uint8_t error, const uint8_t* params, size_t n, Clock::time_point ready,
                        Clock::time_point* chain, int read_from) {
  ServoFaults* f = nullptr;
  auto fit = faults_.find(servo.id());
  if (fit != faults_.end() && (fit->second.only_read_at < 0 || fit->second.only_read_at == read_from)) {
    f = &fit->second;
  }

  Pending p;
  if (f && f->hang_up) {
    p.due = ready;
    p.hang_up = true;
    f->hang_up = false;  // one hang-up; a restarted line serves again
  } else if (!f || !f->silent) {
    const uint8_t id = (f && f->wrong_id >= 0 && f->wrong_id < kBroadcastId) ? static_cast<uint8_t>(f->wrong_id)
                                                                              : servo.id();
    p.bytes = makeStatusReply(id, static_cast<uint8_t>(error | (f ? f->error_byte : 0)), params, n);
    if (f && f->bad_checksum) p.bytes.back() ^= 0xFF;
    if (f && f->cut_reply_to >= 0 && static_cast<size_t>(f->cut_reply_to) < p.bytes.size()) {
      p.bytes.resize(static_cast<size_t>(f->cut_reply_to));
    }
    if (f && !f->noise.empty()) p.bytes.insert(p.bytes.begin(), f->noise.begin(), f->noise.end());
    Clock::time_point start = ready + std::chrono::microseconds(f ? f->late_reply_us : 0);
    // In a chain each servo turns around after the previous reply is off the wire.
    if (chain) start = std::max(start, *chain + std::chrono::microseconds(options_.reply_delay_us));
    const bool slow = f && f->reply_byte_us > 0;
    const auto byte_time = slow ? std::chrono::microseconds(f->reply_byte_us) : kByteTime;
    p.due = slow || options_.wire_time ? start + byte_time * static_cast<int64_t>(p.bytes.size()) : start;
    if (chain) *chain = p.due;
  }
  if (f && f->remaining > 0 && --f->remaining == 0) faults_.erase(fit);
  if (!p.hang_up && p.bytes.empty()) return;
  auto pos = std::upper_bound(pending_.begin(), pending_.end(), p.due,
                              [](Clock::time_point t, const Pending& q) { return t < q.due; });
  pending_.insert(pos, std::move(p));
}

void ServoBusSim::handleFrame(const Frame& frame, Clock::time_point now) {
  log_.push_back(frame);
  ++frame_count_;
  while (log_.size() > options_.frame_log_limit) log_.pop_front();
  // A servo drops a frame whose checksum does not add up.
  if (!frame.checksum_ok) return;

  Clock::time_point ready = frame.time + std::chrono::microseconds(options_.reply_delay_us);
  if (options_.wire_time) ready += wireTime(frame.raw.size());
  if (ready < now) ready = now;

  const bool broadcast = frame.id == kBroadcastId;
  const std::vector<uint8_t>& prm = frame.params;
  auto target = servos_.find(frame.id);
  if (!broadcast && target == servos_.end()) return;

  switch (frame.instruction) {
    case kInstPing:
      if (!broadcast) reply(target->second, 0, nullptr, 0, ready, nullptr);
      break;
    case kInstRead: {
      if (broadcast) break;
      if (prm.size() != 2) {
        reply(target->second, kErrInstruction, nullptr, 0, ready, nullptr);
        break;
      }
      uint8_t data[kRegisterCount];
      const uint8_t err = target->second.read(prm[0], prm[1], data);
      garble(frame.id, prm[0], prm[1], data);
      reply(target->second, err, data, err ? 0 : prm[1], ready, nullptr, prm[0]);
      break;
    }
    case kInstWrite:
    case kInstRegWrite: {
      const bool deferred = frame.instruction == kInstRegWrite;
      auto apply = [&](SimServo& s) -> uint8_t {
        if (prm.empty()) return kErrInstruction;
        return deferred ? s.storeRegistered(prm[0], prm.data() + 1, prm.size() - 1)
                        : s.write(prm[0], prm.data() + 1, prm.size() - 1);
      };
      if (broadcast) {
        for (auto& kv : servos_) apply(kv.second);
      } else {
        const uint8_t err = apply(target->second);
        reply(target->second, err, nullptr, 0, ready, nullptr);
      }
      break;
    }
    case kInstAction:
      if (broadcast) {
        for (auto& kv : servos_) act(kv.second);
      } else {
        act(target->second);
        reply(target->second, 0, nullptr, 0, ready, nullptr);
      }
      break;
    case kInstSyncRead: {
      if (!broadcast || prm.size() < 2) break;
      const uint8_t addr = prm[0];
      const uint8_t len = prm[1];
      // The listed servos answer in turn, each one turnaround after the previous
      // transmission ends (for the first, the request).
      Clock::time_point chain = ready - std::chrono::microseconds(options_.reply_delay_us);
      for (size_t k = 2; k < prm.size(); ++k) {
        auto it = servos_.find(prm[k]);
        if (it == servos_.end()) continue;
        uint8_t data[kRegisterCount];
        const uint8_t err = it->second.read(addr, len, data);
        reply(it->second, err, data, err ? 0 : len, chain, &chain);
      }
      break;
    }
    case kInstSyncWrite: {
      if (!broadcast || prm.size() < 2) break;
      const uint8_t addr = prm[0];
      const size_t len = prm[1];
      for (size_t k = 2; k + 1 + len <= prm.size(); k += 1 + len) {
        auto it = servos_.find(prm[k]);
        if (it != servos_.end()) it->second.write(addr, prm.data() + k + 1, len);
      }
      break;
    }
    default:
      if (!broadcast) reply(target->second, kErrInstruction, nullptr, 0, ready, nullptr);
      break;
  }
}

}  // namespace servo_sim
