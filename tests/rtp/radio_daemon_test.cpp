// A LEMZ radio slot end to end: the built daemon on the stand-in board,
// driven by qvctl over loopback; the header-extension channel read and
// stirred through qvboard.
#include <gtest/gtest.h>

#include "RadioValues.h"
#include "RtpTestUtil.h"
#include "slots/DaemonController.h"
#include "slots/Messages.h"

using namespace slots_test;
using namespace rtp_test;

namespace {

const std::string kRadio = ", radio { status " + radiotest::lemzStatus() + " }";

struct RadioDaemonTest : DaemonTest {
  std::string board(const std::string& command) { return app_test::qvboard(root.dir(), command); }
  // The one header-extension session: "s<N>".
  std::string session() {
    std::string list = board("rtpext list");
    return list.substr(0, list.find(' '));
  }
  // The packets the daemon wrote on it, as hexadecimal text.
  std::vector<std::string> sent(const std::string& s) {
    std::istringstream in(board("rtpext journal " + s + " take"));
    std::vector<std::string> out;
    for (std::string line; std::getline(in, line);) {
      size_t at = line.find(" out ");
      if (at != std::string::npos) out.push_back(line.substr(at + 5));
    }
    return out;
  }
};

TEST_F(RadioDaemonTest, TheRadioRoad) {
  Controller c(port);
  UdpPeer peer;
  const unsigned local = freeUdpPort();
  const int ch = 12288;

  std::vector<std::string> got =
      c.send(createRtp(3, peer.port(), local, 1, "ptG711-Alaw", kRadio) + "\n", 1, "pdu signal : receiver");
  ASSERT_EQ(got, (std::vector<std::string>{ok(3), stream(3, "transmitter", ch), stream(3, "receiver", ch)}));
  EXPECT_EQ(peer.recv().size(), 32u) << "the source description";
  const std::string s = session();
  std::string list = board("rtpext list");
  EXPECT_NE(list.find(s + " etype=0x1337 params=0,0,0,0 attached=s"), std::string::npos) << list;

  // A wm-chan modifier of the controller: WM_CHAN 0x84, priority 2 (0x20),
  // id 6, 145.5 = 43 11 80 00, squelch off (1), RTE a1b (2).
  EXPECT_EQ(c.send(cmd(3,
                       "ioctl : rtpExt : lemz : { addr { session-addr \"10.0.0.1\", session-ssrc 7 }, "
                       "params wm-chan : { freq { channel 6, frequency \"145.5\" }, squelshe off, rte a1b } }",
                       2) +
                   "\n"),
            std::vector<std::string>{ok(3, 2)});
  std::vector<std::string> out = sent(s);
  ASSERT_FALSE(out.empty());
  EXPECT_EQ(out[0], "842000000000000643118000" "01020000");

  // An ED-137 modifier is not this radio's: unsupported.
  got = c.send(cmd(3,
                   "ioctl : rtpExt : ed-137 : { addr { session-addr \"10.0.0.1\", session-ssrc 7 }, "
                   "params tx : { header { ptt ptt-off, squ squ-off, ptt-id 0, ptt-mute FALSE, "
                   "ptt-summation FALSE, sct FALSE } } }",
                   3) +
               "\n");
  ASSERT_EQ(got.size(), 1u);
  EXPECT_NE(got[0].find("error"), std::string::npos) << got[0];

  // GW_FLAG_PTT from a radio at 10.0.0.9: priority 2 with PTT (0x24),
  // status 421, selective call 2, reserve flag: 03 24 0D 2D.
  EXPECT_EQ(board("rtpext inject " + s + " 0x99 10.0.0.9 03240D2D"), "queued\n");
  got = c.read(0, "pdu signal : rtpExt");
  ASSERT_EQ(got.size(), 1u);
  const std::string& signal = got[0];
  EXPECT_EQ(signal.rfind("{ slot 3, pdu signal : rtpExt : ", 0), 0u) << signal;
  for (const char* part : {"session-addr \"10.0.0.9\"", "session-ssrc 153", "params gw-set-ptt : { flags { prio 2, ptt TRUE",
                           "selcall 2, li 421", "frequency \"145.500000\""})
    EXPECT_NE(signal.find(part), std::string::npos) << part << " in " << signal;

  EXPECT_EQ(c.send(cmd(3, "destroy : NULL", 4) + "\n"), std::vector<std::string>{ok(3, 4)});
  EXPECT_TRUE(app_test::waitUntil([&] { return board("rtpext list").empty(); }));
  const std::string log = board("log 0x20004502");
  EXPECT_NE(log.find("detach"), std::string::npos) << log;
  EXPECT_EQ(c.finish(), 0);
}

// A codec change begins the RTP session again, and the header-extension
// session with it: the new one gets the source filter the control holds, so
// while 10.0.0.1 holds the channel a radio elsewhere is still kept out.
TEST_F(RadioDaemonTest, ACodecChangeKeepsTheSourceFilter) {
  Controller c(port);
  UdpPeer peer;
  ASSERT_EQ(c.send(createRtp(3, peer.port(), freeUdpPort(), 1, "ptG711-Alaw", kRadio) + "\n", 1,
                   "pdu signal : receiver")[0],
            ok(3));
  EXPECT_EQ(c.send(cmd(3,
                       "ioctl : rtpExt : lemz : { addr { session-addr \"10.0.0.1\", session-ssrc 7 }, "
                       "params wm-trans : { " + radiotest::radioFlags(2, true) + ", ip \"10.0.0.1\", ssrc 7 } }",
                       2) +
                   "\n"),
            std::vector<std::string>{ok(3, 2)});
  const std::string before = session();
  EXPECT_NE(board("rtpext list").find(" filter=10.0.0.1 "), std::string::npos) << board("rtpext list");

  EXPECT_EQ(c.send(cmd(3, "ioctl : encoder-mode : ulaw", 3) + "\n"), std::vector<std::string>{ok(3, 3)});
  const std::string s = session();
  EXPECT_NE(s, before) << "a new header-extension session";
  std::string list = board("rtpext list");
  EXPECT_NE(list.find(s + " etype=0x1337 params=0,0,0,0 attached=s"), std::string::npos) << list;
  EXPECT_NE(list.find(" filter=10.0.0.1 "), std::string::npos) << list;

  // GW_FLAG_PTT of priority 0 with PTT (03 04 0D 2D) from 10.0.0.9 would
  // take the channel over: the driver drops it. The holder's own passes.
  EXPECT_EQ(board("rtpext inject " + s + " 0x99 10.0.0.9 03040D2D"), "dropped by the source filter\n");
  EXPECT_EQ(board("rtpext inject " + s + " 7 10.0.0.1 03240D2D"), "queued\n");
  std::vector<std::string> got = c.read(0, "pdu signal : rtpExt");
  ASSERT_EQ(got.size(), 1u);
  EXPECT_NE(got[0].find("session-addr \"10.0.0.1\""), std::string::npos) << got[0];
  EXPECT_EQ(c.finish(), 0);
}

}  // namespace
