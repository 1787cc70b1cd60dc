// An ED-137 radio slot end to end: the built daemon on the stand-in board,
// driven by qvctl over loopback; the header-extension channel read and
// stirred through qvboard.
#include <gtest/gtest.h>

#include "RtpTestUtil.h"
#include "slots/DaemonController.h"
#include "slots/Messages.h"

using namespace slots_test;
using namespace rtp_test;

namespace {

struct ED137DaemonTest : DaemonTest {
  std::string board(const std::string& command) { return app_test::qvboard(root.dir(), command); }
};

TEST_F(ED137DaemonTest, ARadioSessionFromCreateToDestroy) {
  Controller c(port);
  UdpPeer peer;
  const std::string radio =
      ", radio { status ed-137 : { header { ptt ptt-off, squ squ-on, ptt-id 0, ptt-mute FALSE,"
      " ptt-summation FALSE, sct FALSE }, sqi { bss-method agc, bss-quality 20 } } }";
  std::vector<std::string> got =
      c.send(createRtp(3, peer.port(), freeUdpPort(), 1, "ptG711-Alaw", radio) + "\n", 1, "pdu signal : receiver");
  ASSERT_EQ(got.size(), 3u);
  EXPECT_EQ(got[0], ok(3));

  // The R2S profile with the default keep-alive count, and the create's
  // state written: SQU on, SQI quality 20 by AGC.
  std::string list = board("rtpext list");
  const std::string s = list.substr(0, list.find(' '));
  EXPECT_NE(list.find(s + " etype=0x167 params=1,123,10,1 attached=s"), std::string::npos) << list;
  std::string journal = board("rtpext journal " + s + " take");
  EXPECT_NE(journal.find(" out 100111A1"), std::string::npos) << journal;

  // Push-to-talk from 10.0.0.9 (priority PTT, id 2: 60 80) reaches the
  // controller.
  EXPECT_EQ(board("rtpext inject " + s + " 7 10.0.0.9 60800000"), "queued\n");
  got = c.read(0, "pdu signal : rtpExt");
  ASSERT_EQ(got.size(), 1u);
  for (const char* part : {"session-addr \"10.0.0.9\"", "session-ssrc 7", "params tx : { header { ptt priority-ptt-on",
                           "ptt-id 2"})
    EXPECT_NE(got[0].find(part), std::string::npos) << part << " in " << got[0];

  EXPECT_EQ(c.send(cmd(3, "destroy : NULL", 2) + "\n"), std::vector<std::string>{ok(3, 2)});
  EXPECT_TRUE(app_test::waitUntil([&] { return board("rtpext list").empty(); }));
  EXPECT_EQ(c.finish(), 0);
}

}  // namespace
