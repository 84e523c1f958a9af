#include "rclcpp/utilities.hpp"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <mutex>
#include <string>
#include <thread>

#include "rclcpp/exceptions.hpp"
#include "rclcpp/logging.hpp"

namespace rclcpp {
namespace {

std::mutex g_context_mutex;
Context::SharedPtr g_default_context;

// A signal only writes to a pipe; a thread of ours does the shutdown, since
// nothing DDS does is async-signal-safe.
class SignalHandler {
 public:
  ~SignalHandler() { uninstall(); }

  void install() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (installed_) return;
    if (pipe2(pipe_, O_CLOEXEC) != 0) {
      std::perror("signal pipe");
      return;
    }
    write_fd_ = pipe_[1];
    worker_ = std::thread([this] { run(); });
    struct sigaction sa {};
    sa.sa_handler = &SignalHandler::onSignal;
    // Other threads (servers, serial bus) must not see their calls fail with EINTR.
    sa.sa_flags = SA_RESTART;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGINT, &sa, &old_int_);
    sigaction(SIGTERM, &sa, &old_term_);
    installed_ = true;
  }

  void uninstall() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!installed_) return;
    sigaction(SIGINT, &old_int_, nullptr);
    sigaction(SIGTERM, &old_term_, nullptr);
    const char stop = 0;
    ssize_t r;
    do {
      r = write(pipe_[1], &stop, 1);
    } while (r < 0 && errno == EINTR);
    // The worker never calls uninstall, so joining it cannot deadlock.
    worker_.join();
    write_fd_ = -1;
    close(pipe_[0]);
    close(pipe_[1]);
    installed_ = false;
  }

 private:
  static void onSignal(int sig) {
    const int saved = errno;
    const char byte = static_cast<char>(sig);
    const int fd = write_fd_;
    if (fd >= 0) {
      ssize_t ignored = write(fd, &byte, 1);
      (void)ignored;
    }
    errno = saved;
  }

  void run() {
    for (;;) {
      char byte = 0;
      const ssize_t r = read(pipe_[0], &byte, 1);
      if (r < 0 && errno == EINTR) continue;
      if (r <= 0 || byte == 0) return;
      RCLCPP_INFO(get_logger("rclcpp"), "signal_handler(signum=%d)", static_cast<int>(byte));
      Context::SharedPtr ctx = contexts::get_global_default_context();
      ctx->shutdown("signal handler");
    }
  }

  std::mutex mutex_;
  bool installed_ = false;
  int pipe_[2] = {-1, -1};
  static inline volatile sig_atomic_t write_fd_ = -1;
  std::thread worker_;
  struct sigaction old_int_ {};
  struct sigaction old_term_ {};
};

SignalHandler g_signal_handler;

}  // namespace

namespace contexts {
Context::SharedPtr get_global_default_context() {
  std::lock_guard<std::mutex> lock(g_context_mutex);
  if (!g_default_context) g_default_context = std::make_shared<Context>();
  return g_default_context;
}
}  // namespace contexts

void init(int /*argc*/, char const* const /*argv*/[]) {
  {
    std::lock_guard<std::mutex> lock(g_context_mutex);
    // A fresh context after a shutdown, as rclcpp allows init again.
    if (g_default_context && !g_default_context->is_valid()) g_default_context.reset();
  }
  Context::SharedPtr ctx = contexts::get_global_default_context();
  std::string reason;
  if (!ctx->init(&reason)) throw exceptions::RCLError("failed to initialize rcl: " + reason);
  g_signal_handler.install();
}

bool shutdown(Context::SharedPtr context, const std::string& reason) {
  Context::SharedPtr default_context = contexts::get_global_default_context();
  if (!context) context = default_context;
  const bool was_running = context->shutdown(reason);
  if (context == default_context) g_signal_handler.uninstall();
  return was_running;
}

bool ok(Context::SharedPtr context) {
  if (!context) context = contexts::get_global_default_context();
  return context->is_valid();
}

}  // namespace rclcpp
