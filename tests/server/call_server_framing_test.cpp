// How the call server takes requests off the byte stream: any segmentation,
// hostile headers, bad payloads and vanishing clients must neither
// desynchronise it, nor kill it, nor leak a descriptor.
#include "arm_fixture.h"

namespace server_test {
namespace {

// A joint move with no angles: refused at once.
const std::string kEmptyMove("\x00\x00\x00\x02\x08\x02", 6);
const std::string kRefused = "00 00 00 04 08 02 18 00";

class CallFraming : public CallServerFixture {};

TEST_F(CallFraming, AnySegmentationGivesOneReplyPerRequest) {
  LoopbackClient client;
  ASSERT_TRUE(client.connectTo(port_));
  for (const std::string& part :
       {kIdRequest.substr(0, 3), kIdRequest.substr(3, 2), kIdRequest.substr(5)}) {
    ASSERT_TRUE(client.sendBytes(part));
    std::this_thread::sleep_for(Ms(30));
  }
  EXPECT_EQ(hex(client.readBytes(44)), hex(kIdReply));
  for (char c : kEmptyMove) ASSERT_TRUE(client.sendBytes(std::string(1, c)));
  EXPECT_EQ(hex(client.readBytes(8)), kRefused);
  ASSERT_TRUE(client.sendBytes(kIdRequest + kEmptyMove));
  EXPECT_EQ(hex(client.readBytes(44 + 8)), hex(kIdReply) + " " + kRefused);
  EXPECT_TRUE(client.silentFor(Ms(100)));
}

TEST_F(CallFraming, BadHeadersAndPayloadsAreNeverActedOn) {
  LoopbackClient client;
  ASSERT_TRUE(client.connectTo(port_));
  // Length 0 is skipped; type 1 followed by a field running past the end must
  // not count as type 1; unknown types get no reply.
  std::string bad = headerOf(0) + headerOf(4) + std::string("\x08\x01\x1a\x7f", 4);
  for (const char* type : {"\x08\x00", "\x08\x04", "\x08\x09"}) {
    bad += headerOf(2) + std::string(type, 2);
  }
  ASSERT_TRUE(client.sendBytes(bad));
  EXPECT_TRUE(client.silentFor(Ms(300)));
  EXPECT_TRUE(servesArmId(client));
  client.close();
  // Lengths no request can have end the connection before any allocation.
  for (uint32_t hostile : {0x7FFFFFFFu, 0x80000000u, 0xFFFFFFFFu, 64u * 1024u + 1u}) {
    LoopbackClient bad_client;
    ASSERT_TRUE(bad_client.connectTo(port_));
    ASSERT_TRUE(bad_client.sendBytes(headerOf(hostile) + std::string(16, '\x08')));
    EXPECT_TRUE(bad_client.waitForClose(Ms(5000))) << hostile;
  }
  LoopbackClient next;
  ASSERT_TRUE(next.connectTo(port_));
  EXPECT_TRUE(servesArmId(next));
}

TEST_F(CallFraming, VanishingClientsLeakNoDescriptor) {
  {
    LoopbackClient warm;  // reach a steady descriptor count first
    ASSERT_TRUE(warm.connectTo(port_));
    ASSERT_TRUE(servesArmId(warm));
  }
  std::this_thread::sleep_for(Ms(100));
  const int before = openDescriptorCount();
  for (int i = 0; i < 30; ++i) {
    LoopbackClient client;
    ASSERT_TRUE(client.connectTo(port_));
    // Inside the header, inside the payload, or right after a whole request.
    ASSERT_TRUE(client.sendBytes(kIdRequest.substr(0, i % 3 == 0 ? 2 : i % 3 == 1 ? 5 : 6)));
  }
  LoopbackClient last;
  ASSERT_TRUE(last.connectTo(port_, Ms(10000)));
  EXPECT_TRUE(servesArmId(last));
  last.close();
  int after = before + 1;
  for (int i = 0; i < 200 && after > before; ++i, std::this_thread::sleep_for(Ms(10))) {
    after = openDescriptorCount();
  }
  EXPECT_LE(after, before);
}

TEST_F(CallFraming, DescriptorZeroIsAClientLikeAnyOther) {
  // Hold the server, queue a second client, free descriptor 0: the second is
  // accepted onto it once the first leaves.
  LoopbackClient holder;
  LoopbackClient client;
  ASSERT_TRUE(holder.connectTo(port_));
  ASSERT_TRUE(servesArmId(holder));
  ASSERT_TRUE(client.connectTo(port_));
  const int saved = dup(0);
  close(0);
  holder.close();
  const bool served = servesArmId(client);
  client.close();
  std::this_thread::sleep_for(Ms(100));
  dup2(saved, 0);
  close(saved);
  EXPECT_TRUE(served);
}

}  // namespace
}  // namespace server_test
