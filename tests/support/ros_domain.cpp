#include "ros_domain.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace arm_test {

int reserveRosDomainId() {
  static int reserved = -1;
  if (reserved >= 0) return reserved;
  // Ids 100..199 stay clear of anything a developer runs by hand.
  for (int k = 0; k < 100; ++k) {
    const int id = 100 + (getpid() + k) % 100;
    const std::string path = "/tmp/arm_ros_domain_" + std::to_string(id) + ".lock";
    int fd = open(path.c_str(), O_CREAT | O_RDWR | O_CLOEXEC, 0666);
    if (fd < 0) continue;
    if (flock(fd, LOCK_EX | LOCK_NB) == 0) {
      reserved = id;  // fd stays open: the lock lives as long as the process
      setenv("ROS_DOMAIN_ID", std::to_string(id).c_str(), 1);
      return id;
    }
    close(fd);
  }
  return -1;
}

}  // namespace arm_test
