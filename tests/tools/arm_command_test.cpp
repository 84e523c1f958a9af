// The operator's command tool: its help, and what it says about a command line it cannot run.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <sstream>
#include <string>
#include <utility>

namespace {

// The tool's exit status and the stream that redirect keeps (the other goes to /dev/null).
std::pair<int, std::string> armCommand(const std::string& args, const char* redirect) {
  FILE* pipe = popen((std::string(ARM_COMMAND_PATH) + " " + args + redirect).c_str(), "r");
  std::string text;
  char buf[4096];
  for (size_t n; pipe != nullptr && (n = fread(buf, 1, sizeof buf, pipe)) > 0;) text.append(buf, n);
  const int status = pipe != nullptr ? pclose(pipe) : -1;
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, text};
}

std::string line(const std::string& text, int n) {
  std::istringstream in(text);
  std::string l;
  while (n-- >= 0 && std::getline(in, l)) {}
  return l;
}

TEST(ArmCommand, HelpGoesToStandardOutputAndAUsageErrorSaysFirstWhatWasWrong) {
  for (const char* help : {"--help", "ros movj -h"}) {
    const auto [status, out] = armCommand(help, " 2>/dev/null");
    EXPECT_EQ(status, 0) << help;
    EXPECT_EQ(line(out, 0), "usage: arm_command tcp on|off | tcp move J1..J6 | tcp state") << help;
    EXPECT_NE(out.find("angles, in rad"), std::string::npos);
    EXPECT_NE(out.find("scale, in (0, 1]"), std::string::npos);
  }
  const std::pair<const char*, const char*> errors[] = {
      {"", "missing the side: tcp or ros"},
      {"udp on", "unknown side 'udp': expected tcp or ros"},
      {"ros", "missing the command after ros: on, off, movj, stop or state"},
      {"tcp movj 1 2 3 4 5 6 0.5", "unknown command 'movj' after tcp: expected on, off, move or state"},
      {"ros stop now", "ros stop takes no values, got 1"},
      {"tcp move 0.3 0.2", "tcp move takes 6 joint values (rad), got 2 values"},
      {"tcp move 1 2 3 4 5 6 7", "tcp move takes 6 joint values (rad), got 7 values"},
      {"ros movj 0.3 0.2 0.1 0 0 0", "ros movj takes 6 joint values (rad) and a velocity scale, got 6 values"},
      {"tcp move 0 0 a 0 0 0", "tcp move: joint 3 'a' is not a number"},
      {"ros movj 0 0 0 0 0 0 1x", "ros movj: the velocity scale '1x' is not a number"}};
  for (const auto& [args, problem] : errors) {
    const auto [status, err] = armCommand(args, " 2>&1 >/dev/null");
    EXPECT_EQ(status, 2) << args;
    EXPECT_EQ(line(err, 0), std::string("arm_command: ") + problem);
    EXPECT_EQ(line(err, 1).rfind("usage: arm_command tcp", 0), 0u) << args;
  }
}

}  // namespace
