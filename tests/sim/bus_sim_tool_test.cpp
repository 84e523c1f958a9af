// The stand-alone simulator: link in place while it runs, gone after.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>

#include "bus_client.h"
#include "child_process.h"

using namespace sim_test;

namespace {
// A private folder for the link, removed with whatever the test left in it.
struct LinkDir {
  char dir[32] = "/tmp/servo_sim_tool_XXXXXX";
  const std::string link = std::string(mkdtemp(dir) ? dir : "") + "/servoBus";
  ~LinkDir() {
    unlink(link.c_str());
    rmdir(dir);
  }
  bool isLink() const {
    struct stat st {};
    return lstat(link.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
  }
};
}  // namespace

TEST(BusSimTool, ServesSixServosThroughTheLinkAndRemovesItOnStop) {
  LinkDir d;
  arm_test::ChildProcess sim({SERVO_BUS_SIM_PATH, "--link", d.link, "--wire-time"});
  ASSERT_TRUE(sim.waitForOutput(d.link, milliseconds(5000))) << sim.output();
  ASSERT_TRUE(d.isLink());
  BusClient client;
  ASSERT_TRUE(client.open(d.link));
  for (uint8_t id = 1; id <= 6; ++id) EXPECT_EQ(client.transact(frame(id, 1), 6), statusReply(id, 0));
  EXPECT_TRUE(client.transact(frame(7, 1), 6, milliseconds(50)).empty());
  client.close();

  sim.signal(SIGTERM);
  EXPECT_EQ(sim.wait(milliseconds(3000)), 0);
  EXPECT_FALSE(d.isLink());
}

TEST(BusSimTool, NeverReplacesARealFileWithItsLink) {
  LinkDir d;
  std::ofstream(d.link) << "keep me";
  arm_test::ChildProcess clobber({SERVO_BUS_SIM_PATH, "--link", d.link});
  EXPECT_EQ(clobber.wait(milliseconds(3000)), 1);
  EXPECT_FALSE(d.isLink());
}
