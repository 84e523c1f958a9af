#pragma once

#include <string>

namespace ros2_compat_test {

// Cyclone configuration that keeps a test's own DDS traffic on loopback.
inline std::string loopbackCycloneConfig(const std::string& extra = "") {
  return "<CycloneDDS><Domain id=\"any\">"
         "<General><Interfaces><NetworkInterface address=\"127.0.0.1\"/></Interfaces>"
         "<AllowMulticast>false</AllowMulticast></General>"
         "<Discovery><ParticipantIndex>auto</ParticipantIndex><MaxAutoParticipantIndex>120</"
         "MaxAutoParticipantIndex>"
         "<Peers><Peer address=\"127.0.0.1\"/></Peers></Discovery>" +
         extra + "</Domain></CycloneDDS>";
}

}  // namespace ros2_compat_test
