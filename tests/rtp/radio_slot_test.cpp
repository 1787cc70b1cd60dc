// LEMZ radio slots in this process, under the slot service on a loopback
// controller, on the stand-in RTP engine and header-extension channel: the
// factory's choices, a codec change that starts the RTP session again, the
// input stream following the squelch, and the resources report.
#include <gtest/gtest.h>

#include "RadioValues.h"
#include "RtpTestUtil.h"
#include "board/Rtp.h"
#include "board/RtpExt.h"
#include "rtp/RtpFactory.h"
#include "rtp/RtpLEMZFactory.h"
#include "rtp/RtpLEMZSlot.h"
#include "rtp/RtpSession.h"
#include "slots/SlotsTestUtil.h"

using namespace slots_test;
using namespace rtp_test;

namespace {

std::string radio(const std::string& more = "") { return ", radio { status " + radiotest::lemzStatus() + more + " }"; }

std::string squelch(bool open, int seq) {
  return cmd(3,
             "ioctl : rtpExt : lemz : { addr { session-addr \"10.0.0.1\", session-ssrc 7 }, params gw-set-flags : { " +
                 radiotest::radioFlags(2, false, open) + " } }",
             seq);
}

class RadioSlotTest : public SlotsTest {
 protected:
  static void SetUpTestSuite() {
    SlotsTest::SetUpTestSuite();
    RtpFactory::instance();
    RtpLEMZFactory::instance();
  }
  Board::Rtp& engine() { return dynamic_cast<Board::Rtp&>(*board().model("rtp")); }
  Board::RtpExt& ext() { return dynamic_cast<Board::RtpExt&>(*board().model("rtpext")); }

  // Creates LEMZ slot n; the answers.
  std::vector<std::string> create(unsigned n, const std::string& radioMore = "", const std::string& more = "") {
    return send(createRtp(n, peer_.port(), freeUdpPort(), 1, "ptG711-Alaw", radio(radioMore) + more));
  }
  // The engine session holding a channel, by its board session id.
  unsigned rtpSession(int channel) {
    for (auto& s : engine().sessions())
      if (s.channel == channel) return s.session;
    return 0;
  }
  RtpLEMZRadioGWSlot* lemz(unsigned n) { return dynamic_cast<RtpLEMZRadioGWSlot*>(slot(n)); }

  UdpPeer peer_;
};

TEST_F(RadioSlotTest, WhatTheFactoryTakesAndBuilds) {
  // Without a radio, or with an ED-137 one, the LEMZ factory declines.
  EXPECT_EQ(send(createRtp(2, peer_.port(), freeUdpPort()))[0], ok(2));
  EXPECT_EQ(std::string(slot(2)->GetName()), "rtp");
  EXPECT_TRUE(ext().sessions().empty());

  // Own session: profile 0x1337 attached to the slot's RTP session, BSS
  // word and best-signal selection from bss-enable, the status timer on.
  ASSERT_EQ(create(3, ", bss-enable TRUE")[0], ok(3));
  ASSERT_NE(lemz(3), nullptr);
  EXPECT_EQ(std::string(slot(3)->GetName()), "rtp ext LEMZ (GW)");
  int ch = lemz(3)->GetChannel();
  auto s = ext().sessions();
  ASSERT_EQ(s.size(), 1u);
  EXPECT_EQ(s[0].etype, 0x1337);
  EXPECT_EQ(s[0].rtpSession, rtpSession(ch));
  for (auto& e : engine().sessions()) {
    if (e.channel == ch) {
      EXPECT_EQ(e.bss, 1u);
    }
  }
  EXPECT_TRUE(lemz(3)->GetRadioControl()->TimerRunning());

  // only-rtp: the other process's session through the RTP engine, no
  // extension session of its own, no timer.
  ASSERT_EQ(create(4, "", ", rtp-e2m { slot 1, channel 2, mode only-rtp : { fd 9, pid 1 } }")[0], ok(4));
  EXPECT_EQ(ext().sessions().size(), 1u);
  EXPECT_EQ(board().logEntries({RtpSession::kAttach}).size(), 1u);
  EXPECT_FALSE(lemz(4)->GetRadioControl()->TimerRunning());

  // rtp-e2m without a mode: an own session.
  ASSERT_EQ(create(5, "", ", rtp-e2m { slot 1, channel 2 }")[0], ok(5));
  EXPECT_EQ(ext().sessions().size(), 2u);

  // Destroyed, a slot leaves neither its extension session nor a timer.
  EXPECT_EQ(send(cmd(3, "destroy : NULL", 2)), std::vector<std::string>{ok(3, 2)});
  EXPECT_EQ(send(cmd(5, "destroy : NULL", 3)), std::vector<std::string>{ok(5, 3)});
  EXPECT_TRUE(ext().sessions().empty());
  EXPECT_EQ(board().logEntries({Board::RtpExt::kDetach}).size(), 2u);
}

// A codec change begins the RTP session again on a new descriptor. The
// header-extension session leaves the old one and joins the new one, named
// by the slot's own descriptor even when slots made since hold the numbers
// around it, and its packets still reach the controller.
TEST_F(RadioSlotTest, ACodecChangeJoinsTheNewRtpSession) {
  ASSERT_EQ(create(3)[0], ok(3));
  ASSERT_EQ(create(4)[0], ok(4));
  ASSERT_EQ(send(cmd(3, "ioctl : encoder-mode : ulaw", 2)), std::vector<std::string>{ok(3, 2)});
  int ch = lemz(3)->GetChannel();
  auto all = ext().sessions();
  ASSERT_EQ(all.size(), 2u);
  const Board::RtpExt::Info& mine = all.back();  // the newest: slot 3's again
  EXPECT_EQ(mine.rtpSession, rtpSession(ch));
  EXPECT_EQ(board().logEntries({Board::RtpExt::kDetach}).size(), 1u);

  // The same codec again still leaves and joins.
  ASSERT_EQ(send(cmd(3, "ioctl : encoder-mode : ulaw", 3)), std::vector<std::string>{ok(3, 3)});
  EXPECT_EQ(board().logEntries({Board::RtpExt::kDetach}).size(), 2u);

  unsigned s = ext().sessions().back().session;
  ASSERT_TRUE(ext().inject(s, 0x99, inet_addr("10.0.0.9"), std::string("\x03\x24\x0D\x2D", 4)));
  std::vector<std::string> got = collect(0);
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0].rfind("{ slot 3, pdu signal : rtpExt : ", 0), 0u) << got[0];
}

// The attach form joins the slot's RTP session to another process's, named
// by the controller (here slot 3's session, of this process). A codec change
// ends the slot's session, begins a new one on the same channel and joins
// that one to the same session; the slot then works on it.
TEST_F(RadioSlotTest, ACodecChangeOfTheAttachForm) {
  ASSERT_EQ(create(3)[0], ok(3));
  const std::string fd = std::to_string(lemz(3)->GetRtpFd()), pid = std::to_string(::getpid());
  ASSERT_EQ(create(4, "", ", rtp-e2m { slot 1, channel 2, mode only-rtp : { fd " + fd + ", pid " + pid + " } }")[0],
            ok(4));
  const int ch = lemz(4)->GetChannel();
  Board::Rtp::SessionInfo other, mine;
  ASSERT_TRUE(engine().session(lemz(3)->GetChannel(), other));
  ASSERT_TRUE(engine().session(ch, mine));
  EXPECT_EQ(mine.attached, other.session);
  const unsigned old = mine.session;

  ASSERT_EQ(send(cmd(4, "ioctl : encoder-mode : ulaw", 2)), std::vector<std::string>{ok(4, 2)});
  ASSERT_TRUE(engine().session(ch, mine));
  EXPECT_NE(mine.session, old);
  EXPECT_EQ(mine.connection.txPt, 0) << "mu-law";
  EXPECT_EQ(mine.attached, other.session);
  EXPECT_EQ(engine().sessions().size(), 2u) << "the old session is gone";
  auto attach = board().logEntries({RtpSession::kAttach});
  ASSERT_EQ(attach.size(), 2u);
  EXPECT_EQ(attach[1].session, mine.session);
  EXPECT_EQ(attach[1].in, attach[0].in) << "the controller's record again";

  EXPECT_EQ(send(cmd(4, "ioctl : pd-enable : { timeout 500 }", 3)), std::vector<std::string>{ok(4, 3)});
  ASSERT_TRUE(engine().session(ch, mine));
  EXPECT_TRUE(mine.pd);

  // The codec in use again: the session stays and is attached again.
  ASSERT_EQ(send(cmd(4, "ioctl : encoder-mode : ulaw", 4)), std::vector<std::string>{ok(4, 4)});
  EXPECT_EQ(board().logEntries({RtpSession::kAttach}).size(), 3u);
  ASSERT_TRUE(engine().session(ch, mine));
  EXPECT_EQ(mine.attached, other.session);
}

TEST_F(RadioSlotTest, TheInputStreamCanFollowTheSquelch) {
  ASSERT_EQ(create(3)[0], ok(3));
  int ch = lemz(3)->GetChannel();
  auto inputOn = [&] {
    for (auto& e : engine().sessions())
      if (e.channel == ch) return e.inputOn;
    return false;
  };
  // Without the rule a squelch change leaves the stream alone.
  EXPECT_EQ(send(squelch(true, 2)), std::vector<std::string>{ok(3, 2)});
  EXPECT_FALSE(inputOn());

  lemz(3)->setTransmissionDependOnSQU(true);
  EXPECT_EQ(send(squelch(true, 3)), std::vector<std::string>{ok(3, 3)});
  EXPECT_TRUE(inputOn());
  EXPECT_EQ(send(squelch(false, 4)), std::vector<std::string>{ok(3, 4)});
  EXPECT_FALSE(inputOn());
}

TEST_F(RadioSlotTest, ResourcesAndHeader) {
  EXPECT_EQ(board().command("voice capacity 4 10"), "");
  EXPECT_EQ(board().command("voice capacity 2 20"), "");
  EXPECT_EQ(board().command("voice capacity 1 30"), "");
  EXPECT_EQ(board().command("voice capacity 8 40"), "");
  EXPECT_EQ(board().command("voice capacity 65 50"), "");
  LGCP::Resources r;
  RtpLEMZFactory::instance().Query(r);
  EXPECT_EQ(r.get_rtp_g729().getValue(), 10);
  EXPECT_EQ(r.get_rtp_g723().getValue(), 20);
  EXPECT_EQ(r.get_rtp_g711().getValue(), 30);
  EXPECT_EQ(r.get_rtp_g711mcc().getValue(), 40);
  EXPECT_EQ(r.get_universal().getValue(), 50);
  std::ostringstream header;
  RtpLEMZFactory::instance().PutHeader(header);
  EXPECT_EQ(header.str(), "rtp ext LEMZ[20,10,30,50]: ");
}

}  // namespace
