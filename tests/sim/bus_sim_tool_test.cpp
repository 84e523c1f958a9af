// The stand-alone simulator: link in place while it runs, gone after.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>

#include "bus_client.h"
#include "child_process.h"

using namespace sim_test;
using std::chrono::milliseconds;

namespace {
class TempDir {
 public:
  TempDir() {
    char tmpl[] = "/tmp/servo_sim_tool_XXXXXX";
    path_ = mkdtemp(tmpl) ? tmpl : "";
  }
  ~TempDir() {
    unlink((path_ + "/servoBus").c_str());
    rmdir(path_.c_str());
  }
  std::string file(const char* name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

bool isLink(const std::string& path) {
  struct stat st {};
  return lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
}
}  // namespace

TEST(BusSimTool, ServesSixServosThroughTheLinkAndRemovesItOnStop) {
  TempDir dir;
  const std::string link = dir.file("servoBus");
  arm_test::ChildProcess sim({SERVO_BUS_SIM_PATH, "--link", link, "--wire-time"});
  ASSERT_TRUE(sim.waitForOutput(link, milliseconds(5000))) << sim.output();
  ASSERT_TRUE(isLink(link));

  BusClient client;
  ASSERT_TRUE(client.open(link));
  for (uint8_t id = 1; id <= 6; ++id) EXPECT_EQ(client.transact(frame(id, 1), 6), statusReply(id, 0));
  EXPECT_TRUE(client.transact(frame(7, 1), 6, milliseconds(50)).empty());
  client.close();

  sim.signal(SIGTERM);
  EXPECT_EQ(sim.wait(milliseconds(3000)), 0);
  EXPECT_FALSE(isLink(link));
}

TEST(BusSimTool, NeverReplacesARealFileWithItsLink) {
  TempDir dir;
  const std::string path = dir.file("servoBus");
  std::ofstream(path) << "keep me";
  arm_test::ChildProcess clobber({SERVO_BUS_SIM_PATH, "--link", path});
  EXPECT_EQ(clobber.wait(milliseconds(3000)), 1);
  EXPECT_FALSE(isLink(path));
}
