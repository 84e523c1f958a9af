#include "child_process.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>

namespace arm_test {

ChildProcess::ChildProcess(std::vector<std::string> argv, std::map<std::string, std::string> env) {
  char tmpl[] = "/tmp/arm_child_XXXXXX";
  int log_fd = mkstemp(tmpl);
  log_path_ = tmpl;
  pid_ = fork();
  if (pid_ == 0) {
    setpgid(0, 0);
    dup2(log_fd, STDOUT_FILENO);
    dup2(log_fd, STDERR_FILENO);
    int null_fd = open("/dev/null", O_RDONLY);
    if (null_fd >= 0) dup2(null_fd, STDIN_FILENO);
    for (const auto& kv : env) setenv(kv.first.c_str(), kv.second.c_str(), 1);
    std::vector<char*> args;
    for (auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    execv(args[0], args.data());
    perror("execv");
    _exit(127);
  }
  if (log_fd >= 0) close(log_fd);
}

ChildProcess::~ChildProcess() {
  if (pid_ > 0 && !reaped_) {
    kill(pid_, SIGTERM);
    if (wait(std::chrono::milliseconds(3000)) < 0) {
      kill(pid_, SIGKILL);
      wait(std::chrono::milliseconds(3000));
    }
  }
  if (!log_path_.empty()) unlink(log_path_.c_str());
}

bool ChildProcess::running() {
  if (pid_ <= 0 || reaped_) return false;
  int st = 0;
  pid_t r = waitpid(pid_, &st, WNOHANG);
  if (r == pid_) {
    reaped_ = true;
    status_ = WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
    return false;
  }
  return true;
}

void ChildProcess::signal(int sig) {
  if (pid_ > 0 && !reaped_) kill(pid_, sig);
}

int ChildProcess::wait(std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (running()) {
    if (std::chrono::steady_clock::now() >= deadline) return -1;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return status_;
}

std::string ChildProcess::output() const {
  std::ifstream in(log_path_);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

bool ChildProcess::waitForOutput(const std::string& text, std::chrono::milliseconds timeout) const {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  do {
    if (output().find(text) != std::string::npos) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  } while (std::chrono::steady_clock::now() < deadline);
  return false;
}

std::string executableDir() {
  char buf[4096];
  ssize_t n = readlink("/proc/self/exe", buf, sizeof(buf) - 1);
  if (n <= 0) return ".";
  std::string path(buf, static_cast<size_t>(n));
  return path.substr(0, path.find_last_of('/'));
}

}  // namespace arm_test
