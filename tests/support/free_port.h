#pragma once

namespace arm_test {

// A TCP port on 127.0.0.1 that was free a moment ago.
int freeTcpPort();

}  // namespace arm_test
