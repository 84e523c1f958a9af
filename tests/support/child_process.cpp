#include "child_process.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace arm_test {

using Ms = std::chrono::milliseconds;

ChildProcess::ChildProcess(std::vector<std::string> argv, std::map<std::string, std::string> env) {
  char tmpl[] = "/tmp/arm_child_XXXXXX";
  const int log_fd = mkstemp(tmpl);
  log_path_ = tmpl;
  pid_ = fork();
  if (pid_ == 0) {
    setpgid(0, 0);
    dup2(log_fd, STDOUT_FILENO), dup2(log_fd, STDERR_FILENO);
    dup2(open("/dev/null", O_RDONLY), STDIN_FILENO);
    for (const auto& kv : env) setenv(kv.first.c_str(), kv.second.c_str(), 1);
    std::vector<char*> args;
    for (auto& a : argv) args.push_back(&a[0]);
    args.push_back(nullptr);
    execv(args[0], args.data());
    perror("execv");
    _exit(127);
  }
  close(log_fd);
}

ChildProcess::~ChildProcess() {
  for (const int sig : {SIGTERM, SIGKILL}) {
    if (!running()) break;
    kill(pid_, sig);
    wait(Ms(3000));
  }
  unlink(log_path_.c_str());
}

bool ChildProcess::running() {
  int st = 0;
  if (pid_ <= 0 || reaped_ || waitpid(pid_, &st, WNOHANG) != pid_) return pid_ > 0 && !reaped_;
  reaped_ = true;
  status_ = WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
  return false;
}

void ChildProcess::signal(int sig) {
  if (running()) kill(pid_, sig);
}

int ChildProcess::wait(Ms timeout) {
  return waitUntil([this] { return !running(); }, timeout) ? status_ : -1;
}

std::string ChildProcess::output() const {
  std::stringstream ss;
  ss << std::ifstream(log_path_).rdbuf();
  return ss.str();
}

bool ChildProcess::waitForOutput(const std::string& text, Ms timeout) const {
  return waitUntil([&] { return output().find(text) != std::string::npos; }, timeout);
}

std::string executableDir() {
  char buf[4096];
  const ssize_t n = readlink("/proc/self/exe", buf, sizeof(buf) - 1);
  const std::string path(buf, n > 0 ? static_cast<size_t>(n) : 0);
  return n > 0 ? path.substr(0, path.find_last_of('/')) : ".";
}

}  // namespace arm_test
