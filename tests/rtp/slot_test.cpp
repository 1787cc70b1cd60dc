// The RTP slot in this process, under the slot service on a loopback
// controller, on the stand-in RTP engine: the session's life from create to
// destroy, its input stream, its driver events, the packet-detection and
// codec ioctls, and a driver that fails.
#include <gtest/gtest.h>

#include "RtpTestUtil.h"
#include "board/Dsp.h"
#include "board/Dtmf.h"
#include "board/Hal.h"
#include "board/Rtp.h"
#include "hardware/HwTestUtil.h"
#include "rtp/RtpFactory.h"
#include "rtp/RtpSession.h"
#include "rtp/RtpSlot.h"
#include "slots/SlotsTestUtil.h"

using namespace slots_test;
using namespace rtp_test;

namespace {

class RtpSlotTest : public SlotsTest {
 protected:
  static void SetUpTestSuite() {
    SlotsTest::SetUpTestSuite();
    RtpFactory::instance();
  }

  Board::Rtp& engine() { return dynamic_cast<Board::Rtp&>(*board().model("rtp")); }

  // Creates RTP slot n towards the peer; its channel.
  int create(unsigned n, const std::string& more = "", const std::string& payload = "ptG711-Alaw") {
    std::vector<std::string> got = send(createRtp(n, peer_.port(), freeUdpPort(), 1, payload, more));
    EXPECT_EQ(got.front(), ok(n));
    Board::Rtp::SessionInfo info;
    for (auto& s : engine().sessions()) info = s;
    EXPECT_EQ(peer_.recv(), sdes());
    return info.channel;
  }

  Board::Rtp::SessionInfo session(int channel) {
    Board::Rtp::SessionInfo info;
    EXPECT_TRUE(engine().session(channel, info)) << channel;
    return info;
  }

  // Runs the loop until the controller heard at least that many messages,
  // then a few passes more; everything it heard.
  std::vector<std::string> heard(size_t atLeast) {
    std::vector<std::string> all;
    pump([&] {
      for (auto& m : collect(0)) all.push_back(m);
      return all.size() >= atLeast;
    });
    for (auto& m : collect(0)) all.push_back(m);
    return all;
  }

  UdpPeer peer_;
};

TEST_F(RtpSlotTest, ASessionFromCreateToDestroy) {
  std::vector<std::string> got = send(createRtp(3, peer_.port(), freeUdpPort()), 1);
  // The source description left before the answer.
  EXPECT_EQ(peer_.recv(0), sdes());
  ASSERT_EQ(got.size(), 3u);
  int ch = Board::Rtp::kFirstChannel;
  EXPECT_EQ(got, (std::vector<std::string>{ok(3), stream(3, "transmitter", ch), stream(3, "receiver", ch)}));
  EXPECT_EQ(session(ch).connection.ssrc, 0x12345678u);
  EXPECT_EQ(session(ch).bss, 0u);

  board().clearLog();
  EXPECT_EQ(send(cmd(3, "destroy : NULL", 2)), std::vector<std::string>{ok(3, 2)});
  EXPECT_EQ(peer_.recv(), bye());
  std::vector<std::string> log;
  for (auto& e : board().logEntries({RtpSession::kTeardown1, RtpSession::kTeardown2, RtpSession::kTeardown3,
                                     RtpSession::kResetPd, Board::Hal::kDisable}))
    if (e.word != Board::Hal::kDisable || e.model->describe(e) == "disable ch=" + std::to_string(ch))
      log.push_back(e.model->describe(e));  // the switch's own sweeps left out
  EXPECT_EQ(log, (std::vector<std::string>{"teardown 10", "teardown 3", "teardown 11", "reset pd 1",
                                           "disable ch=" + std::to_string(ch)}));
  EXPECT_TRUE(engine().sessions().empty());
}

TEST_F(RtpSlotTest, TheInputStreamFollowsTheSource) {
  int ch = create(3);
  send(trunk(5, 0, 5));
  EXPECT_FALSE(session(ch).inputOn);
  EXPECT_EQ(send(cmd(5, "connect : 3", 2)), std::vector<std::string>{ok(5, 2)});
  EXPECT_TRUE(session(ch).inputOn);
  EXPECT_EQ(send(cmd(3, "disconnect : NULL", 3)), std::vector<std::string>{ok(3, 3)});
  EXPECT_FALSE(session(ch).inputOn);

  // A slot whose transmission waits for the squelch keeps it off when
  // connected, and still switches it off when released.
  static_cast<RtpSlot*>(slot(3))->setTransmissionDependOnSQU(true);
  board().clearLog();
  send(cmd(5, "connect : 3", 4));
  send(cmd(3, "disconnect : NULL", 5));
  std::vector<std::string> log;
  for (auto& e : board().logEntries({RtpSession::kInputOn, RtpSession::kInputOff}))
    log.push_back(e.model->describe(e));
  EXPECT_EQ(log, std::vector<std::string>{"input off"});
}

TEST_F(RtpSlotTest, DriverEventsAndPacketDetection) {
  int ch = create(3);
  hwtest::Capture errs(std::cerr);
  hwtest::Capture out(std::clog);

  EXPECT_EQ(send(cmd(3, "ioctl : pd-enable : { timeout 500 }", 2)), std::vector<std::string>{ok(3, 2)});
  EXPECT_TRUE(session(ch).pd);
  EXPECT_EQ(session(ch).pdTimeout, 500u);
  EXPECT_NE(out.text().find("rtp[" + std::to_string(ch) + "]: RTP SET EVENT PD timeout=500\n"), std::string::npos);

  // A record of another type is read and logged, not reported; a short one
  // is dropped whole; the next whole one is reported.
  engine().inject(ch, 2, 1, 1);
  engine().injectRaw(ch, std::string(20, '\x01'));
  engine().inject(ch, 1, 7, 500);
  EXPECT_EQ(heard(1), std::vector<std::string>{"{ slot 3, pdu signal : rtp : pd : { value 7, timeout 500 } }"});
  std::string prefix = "rtp[" + std::to_string(ch) + "]: ";
  EXPECT_NE(out.text().find(prefix + "rtp event:  type=2\n" + prefix + "rtp event:  type=1\n"), std::string::npos);
  EXPECT_EQ(errs.text(), prefix + "short rtp event record of 20 bytes dropped\n");

  board().failRequest(RtpSession::kResetPd, EIO, true);
  EXPECT_EQ(send(cmd(3, "ioctl : pd-disable : NULL", 3)), std::vector<std::string>{err(3, "unsupported", 3)});
  EXPECT_NE(errs.text().find(prefix + "RTP RESET EVENT PD fail: errno=\"" + std::strerror(EIO) + "\"\n"),
            std::string::npos);
  EXPECT_TRUE(session(ch).pd);

  // A driver that goes away is said once and watched no more.
  engine().sever(ch);
  heard(0);
  heard(0);
  EXPECT_EQ(errs.text().find(prefix + "fail to read from rtp: "), errs.text().rfind(prefix + "fail to read from rtp: "));
  EXPECT_NE(errs.text().find(prefix + "fail to read from rtp: "), std::string::npos);
}

TEST_F(RtpSlotTest, ACodecChangeBeginsTheSessionAgain) {
  int ch = create(3, ", pfactor 2");
  send(trunk(5, 0, 5));
  send(cmd(5, "connect : 3", 2));
  hwtest::Capture out(std::clog);
  std::string prefix = "rtp[" + std::to_string(ch) + "]: ";

  // The law already in use: nothing to do.
  EXPECT_EQ(send(cmd(3, "ioctl : encoder-mode : alaw", 3)), std::vector<std::string>{ok(3, 3)});
  EXPECT_NE(out.text().find(" - Nothing to do\n"), std::string::npos);
  unsigned first = session(ch).session;

  // mu-law for the transmit direction: a new session on the same channel,
  // with the same SSRC, its input stream on again, its events read.
  EXPECT_EQ(send(cmd(3, "ioctl : encoder-mode : ulaw", 4)), std::vector<std::string>{ok(3, 4)});
  EXPECT_NE(out.text().find(" - OK\n"), std::string::npos);
  Board::Rtp::SessionInfo now = session(ch);
  EXPECT_NE(now.session, first);
  EXPECT_EQ(now.connection.txPt, 0);
  EXPECT_EQ(now.connection.rxPt, 8);
  EXPECT_EQ(now.connection.ssrc, 0x12345678u);
  EXPECT_EQ(now.connection.packetFactor, 2);
  EXPECT_TRUE(now.inputOn);
  EXPECT_EQ(engine().sessions().size(), 1u);
  engine().inject(ch, 1, 3, 4);
  EXPECT_EQ(heard(1), std::vector<std::string>{"{ slot 3, pdu signal : rtp : pd : { value 3, timeout 4 } }"});

  // lbrc is the codec the slot was made with: A-law for receiving, as now.
  board().clearLog();
  EXPECT_EQ(send(cmd(3, "ioctl : decoder-mode : lbrc", 5)), std::vector<std::string>{ok(3, 5)});
  EXPECT_TRUE(board().logEntries({RtpSession::kBegin}).empty());

  // A driver that refuses the new session: the ioctl fails, the slot stays
  // until destroyed and its teardown harms nothing.
  hwtest::Capture errs(std::cerr);
  board().failRequest(RtpSession::kBegin, EIO, true);
  EXPECT_EQ(send(cmd(3, "ioctl : decoder-mode : ulaw", 6)), std::vector<std::string>{err(3, "unsupported", 6)});
  EXPECT_EQ(errs.text(), prefix + "fail to restart RTP session!\n");
  EXPECT_TRUE(engine().sessions().empty());
  EXPECT_EQ(send(cmd(3, "destroy : NULL", 7)), std::vector<std::string>{ok(3, 7)});
  EXPECT_EQ(peer_.recv(), bye());
}

TEST_F(RtpSlotTest, TheChannelIsTheDspTimeSlot) {
  auto& dtmf = static_cast<Board::Dtmf&>(*board().model("dtmf"));
  auto& dsp = static_cast<Board::Dsp&>(*board().model("dsp"));
  // The create's echo canceller, then the controller's detectors, on the
  // slot's channel; their events come back as the slot's signals.
  int ch = create(3, ", echo { suppressor TRUE, canceller TRUE }");
  EXPECT_TRUE(dtmf.slot(uint32_t(ch)).lms);
  EXPECT_EQ(send(cmd(3, "ioctl : dtmf-enable : TRUE", 2) + "\n" + cmd(3, "ioctl : vad-enable : TRUE", 3), 2),
            (std::vector<std::string>{ok(3, 2), ok(3, 3)}));
  EXPECT_TRUE(dtmf.slot(uint32_t(ch)).detector);
  EXPECT_NE(dsp.slot(uint32_t(ch)).enabled & Board::Dsp::kVAD, 0u);
  dtmf.inject(uint32_t(ch), 5, 1234);
  dsp.inject(uint32_t(ch), Board::Dsp::kVAD, 1, 2, 0);  // receive side only
  EXPECT_EQ(heard(2), (std::vector<std::string>{
                          "{ slot 3, pdu signal : tonec : { timestamp 1234, event dtmf : 5 } }",
                          "{ slot 3, pdu signal : vad : { vad-rx TRUE } }"}));
  // Gone with the slot: what it switched on is off.
  send(cmd(3, "destroy : NULL", 4));
  EXPECT_EQ(dsp.slot(uint32_t(ch)).enabled & Board::Dsp::kVAD, 0u);
  EXPECT_EQ(peer_.recv(), bye());
}

TEST_F(RtpSlotTest, TheNextSlotOnTheChannelInheritsNoToneNorEchoCanceller) {
  auto& dtmf = static_cast<Board::Dtmf&>(*board().model("dtmf"));
  // The last generator setting of a time-slot, as "f1 f2 a1 a2".
  auto lastTone = [&](int ch) {
    auto t = dtmf.tones(uint32_t(ch));
    if (t.empty()) return std::string("none");
    const auto& x = t.back();
    return std::to_string(x.freq1) + " " + std::to_string(x.freq2) + " " + std::to_string(x.amp1) + " " +
           std::to_string(x.amp2);
  };

  // The echo canceller and the wait tone, cut by a destroy.
  int ch = create(3);
  EXPECT_EQ(send(cmd(3, "ioctl : echoSuppressor : TRUE", 2) + "\n" + cmd(3, "ioctl : activateWaitTone : NULL", 3), 2),
            (std::vector<std::string>{ok(3, 2), ok(3, 3)}));
  EXPECT_TRUE(dtmf.slot(uint32_t(ch)).lms);
  EXPECT_EQ(lastTone(ch), "425 0 2048 2048");
  send(cmd(3, "destroy : NULL", 4));
  EXPECT_EQ(peer_.recv(), bye());
  EXPECT_FALSE(dtmf.slot(uint32_t(ch)).lms);
  EXPECT_EQ(lastTone(ch), "0 0 0 0");

  // The next slot gets the channel; a digit playout cut by its destroy.
  ASSERT_EQ(create(4), ch);
  EXPECT_EQ(send(cmd(4, "ioctl : translateDTMF : { digits { { freq1 941, freq2 1477 }, { freq1 697, freq2 1209 } } }",
                     5)),
            std::vector<std::string>{ok(4, 5)});
  EXPECT_EQ(lastTone(ch), "941 1477 16384 16384");
  send(cmd(4, "destroy : NULL", 6));
  EXPECT_EQ(peer_.recv(), bye());
  heard(0);
  EXPECT_EQ(lastTone(ch), "0 0 0 0");
  // A slot that started neither leaves nothing to switch off.
  const size_t settings = dtmf.tones(uint32_t(ch)).size();
  ASSERT_EQ(create(5), ch);
  send(cmd(5, "destroy : NULL", 7));
  EXPECT_EQ(peer_.recv(), bye());
  EXPECT_EQ(dtmf.tones(uint32_t(ch)).size(), settings);
}

TEST_F(RtpSlotTest, ResourcesReportTheVoiceCapacity) {
  for (const char* c : {"4 12", "2 13", "1 14", "8 15", "65 16"})
    EXPECT_EQ(board().command(std::string("voice capacity ") + c), "");
  std::vector<std::string> got = send("{ seq 1, pdu command : query : NULL }", 1);
  ASSERT_EQ(got.size(), 2u);
  EXPECT_NE(got[1].find("rtp-g729 12, rtp-g723 13, rtp-g711 14, rtp-g711mcc 15,"), std::string::npos) << got[1];
  EXPECT_NE(got[1].find("universal 16"), std::string::npos) << got[1];

  // The engine that cannot tell: G.729, G.723 and G.711 drop to 0, the
  // controller channels and the universal count keep what they were.
  for (const char* c : {"4", "2", "1", "8", "65"})
    EXPECT_EQ(board().command(std::string("voice capacity ") + c + " -1"), "");
  got = send("{ seq 2, pdu command : query : NULL }", 1);
  ASSERT_EQ(got.size(), 2u);
  EXPECT_NE(got[1].find("rtp-g729 0, rtp-g723 0, rtp-g711 0, rtp-g711mcc 15,"), std::string::npos) << got[1];
  EXPECT_NE(got[1].find("universal 16"), std::string::npos) << got[1];
}

}  // namespace
