// RTP slots end to end: the built daemon on the stand-in board, driven by
// qvctl over loopback; the RTCP packets caught on a UDP socket, the RTP
// engine read and stirred through qvboard while the controller is still
// connected.
#include <gtest/gtest.h>

#include "RtpTestUtil.h"
#include "slots/DaemonController.h"
#include "slots/Messages.h"

using namespace slots_test;
using namespace rtp_test;

namespace {

struct RtpDaemonTest : DaemonTest {
  std::string board(const std::string& command) { return app_test::qvboard(root.dir(), command); }
};

TEST_F(RtpDaemonTest, TheMainRoad) {
  EXPECT_EQ(board("voice capacity 4 30"), "");
  Controller c(port);
  UdpPeer peer;
  const unsigned local = freeUdpPort();
  const int ch = 12288;  // the engine's first channel

  // The session starts: its record on the engine, the source description
  // at the peer's RTCP port from the slot's own, the streams on the channel.
  std::vector<std::string> got = c.send(createRtp(3, peer.port(), local) + "\n", 1, "pdu signal : receiver");
  EXPECT_EQ(got, (std::vector<std::string>{ok(3), stream(3, "transmitter", ch), stream(3, "receiver", ch)}));
  unsigned from = 0;
  EXPECT_EQ(peer.recv(3000, &from), sdes());
  EXPECT_EQ(from, local);
  const std::string list = board("rtp list");
  EXPECT_EQ(list.substr(list.find(' ') + 1), "channel=12288 dst=127.0.0.1:" + std::to_string(peer.port() - 1) +
                                   " src=127.0.0.1:" + std::to_string(local - 1) +
                                   " rx=8 tx=8 pf=0 vad=0 rate=0 ssrc=305419896 ttl=0 tos=-1 bss=0 input=off\n");

  // A trunk time-slot feeds it: the switch joins them, the engine's input
  // stream goes on.
  c.send(trunk(5, 0, 5, 2) + "\n", 1, "pdu signal : receiver");
  EXPECT_EQ(c.send(cmd(5, "connect : 3", 3) + "\n"), std::vector<std::string>{ok(5, 3)});
  EXPECT_EQ(board("hal channel 12288"), "12288 listen 5 seen 0xFF\n");
  EXPECT_NE(board("rtp list").find(" input=on"), std::string::npos);

  // A packet-detection event of the engine reaches the controller.
  EXPECT_EQ(board("rtp event 12288 1 9 300"), "");
  EXPECT_EQ(c.read(0, "pdu signal : rtp"),
            std::vector<std::string>{"{ slot 3, pdu signal : rtp : pd : { value 9, timeout 300 } }"});

  // The resources carry the engine's capacity.
  got = c.send("{ seq 4, pdu command : query : NULL }\n", 1, "pdu signal : query");
  ASSERT_EQ(got.size(), 2u);
  EXPECT_NE(got[1].find("rtp-g729 30,"), std::string::npos) << got[1];

  // The session ends: the goodbye, the teardown, the channel free again.
  EXPECT_EQ(c.send(cmd(3, "destroy : NULL", 5) + "\n"), std::vector<std::string>{ok(3, 5)});
  EXPECT_EQ(peer.recv(), bye());
  const std::string log = board("log 0x2000520A 0x20005203 0x2000520B 0x8004520D");
  size_t at = 0;
  for (const char* step : {"teardown 10 ", "teardown 3 ", "teardown 11 ", "reset pd 1 "}) {
    at = log.find(step, at);
    EXPECT_NE(at, std::string::npos) << step << " in\n" << log;
  }
  EXPECT_TRUE(app_test::waitUntil([&] { return board("rtp list").empty(); }));
  EXPECT_EQ(c.finish(), 0);
}

}  // namespace
