#pragma once

#include <sys/types.h>

#include <chrono>
#include <map>
#include <string>
#include <thread>
#include <vector>

namespace arm_test {

// Polls done() until it holds (true) or the time-out passes (false).
template <class Done>
bool waitUntil(Done done, std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (; !done(); std::this_thread::sleep_for(std::chrono::milliseconds(5)))
    if (std::chrono::steady_clock::now() >= deadline) return false;
  return true;
}

// A child process whose standard output and error go to one log file. The
// destructor ends it (SIGTERM, then SIGKILL) so no test leaves one behind.
class ChildProcess {
 public:
  ChildProcess(std::vector<std::string> argv, std::map<std::string, std::string> env = {});
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  bool running();
  void signal(int sig);
  // Waits for the exit; returns the exit status, 128+signal, or -1 on time-out.
  int wait(std::chrono::milliseconds timeout);
  std::string output() const;
  bool waitForOutput(const std::string& text, std::chrono::milliseconds timeout) const;

 private:
  pid_t pid_ = -1;
  int status_ = -1;
  bool reaped_ = false;
  std::string log_path_;
};

// Directory of the running test executable, to find sibling binaries.
std::string executableDir();

}  // namespace arm_test
