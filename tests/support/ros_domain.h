#pragma once

namespace arm_test {

// Reserves a ROS_DOMAIN_ID that no other test process on this machine holds
// (a lock file per id, released when the process ends) and exports it in
// ROS_DOMAIN_ID. Returns the same id on every call in one process.
int reserveRosDomainId();

}  // namespace arm_test
