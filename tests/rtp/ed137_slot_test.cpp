// ED-137 radio slots in this process, under the slot service on a loopback
// controller, on the stand-in RTP engine and header-extension channel, with
// the loop's clock moved by hand: the factory's choices and records, the
// first state, the keep-alive and its loss as the controller sees them, a
// controller's state change on the wire, and a destroy that ends it all.
//
// R2S bytes as worked out by hand: header byte 0 = PTT type << 5 | SQU << 4
// | PTT id >> 2; byte 1 = (PTT id & 3) << 6 | PM << 5 | PTTS << 4 | SCT << 3
// | X; SQI = 0x11, quality << 3 | method.
#include <gtest/gtest.h>

#include "RadioValues.h"
#include "RtpTestUtil.h"
#include "board/Rtp.h"
#include "board/RtpExt.h"
#include "rtp/RtpED137Factory.h"
#include "rtp/RtpED137Slot.h"
#include "rtp/RtpFactory.h"
#include "rtp/RtpLEMZFactory.h"
#include "runtime/Clock.h"
#include "slots/SlotsTestUtil.h"

using namespace slots_test;
using namespace rtp_test;

namespace {

const std::string kHeader =
    "header { ptt ptt-off, squ squ-on, ptt-id 0, ptt-mute FALSE, ptt-summation FALSE, sct FALSE }";

// An ED-137 radio: squelch open, signal quality 20 by AGC, and the radio's
// response when given.
std::string radio(const std::string& response = "") {
  return ", radio { status ed-137 : { " + kHeader + (response.empty() ? "" : ", radio-response " + response) +
         ", sqi { bss-method agc, bss-quality 20 } } }";
}

std::string abort151(unsigned slot) { return "{ slot " + std::to_string(slot) + ", pdu signal : abort : 151 }"; }

class ED137SlotTest : public SlotsTest {
 protected:
  static void SetUpTestSuite() {
    SlotsTest::SetUpTestSuite();
    RtpFactory::instance();
    RtpLEMZFactory::instance();
    RtpED137Factory::instance();
  }
  // The loop's clock moves only when a test says so, from where it is.
  void SetUp() override {
    SlotsTest::SetUp();
    long long us = (long long)Mux::seconds() * 1000000;
    clock_.reset();
    clock_.reset(new Mux::TestClock(Mux::TestClock::Manual, long(us / 1000000)));
  }
  void TearDown() override {
    clock_.reset();
    clock_.reset(new Mux::TestClock);
    SlotsTest::TearDown();
  }

  Board::Rtp& engine() { return dynamic_cast<Board::Rtp&>(*board().model("rtp")); }
  Board::RtpExt& ext() { return dynamic_cast<Board::RtpExt&>(*board().model("rtpext")); }
  RtpED137RadioGWSlot* ed137(unsigned n) { return dynamic_cast<RtpED137RadioGWSlot*>(slot(n)); }

  std::vector<std::string> create(unsigned n, const std::string& more) {
    return send(createRtp(n, peer_.port(), freeUdpPort(), 1, "ptG711-Alaw", more));
  }
  // What the daemon wrote on the newest extension session since the last
  // call.
  std::vector<Bytes> written() {
    std::vector<Bytes> out;
    auto all = ext().sessions();
    if (all.empty()) return out;
    for (auto& p : ext().journal(all.back().session, true))
      if (p.way == Board::RtpExt::Way::Out) out.emplace_back(p.bytes.begin(), p.bytes.end());
    return out;
  }
  // Moves the clock by ms; what the controller heard meanwhile.
  std::vector<std::string> after(unsigned ms) {
    clock_->advance(ms);
    return collect(0);
  }

  UdpPeer peer_;
};

TEST_F(ED137SlotTest, WhatTheFactoryTakesAndTheRecordsItFills) {
  // A LEMZ radio is not this factory's; a payload without a codec is refused
  // with nothing left open.
  ASSERT_EQ(create(2, ", radio { status " + radiotest::lemzStatus() + " }")[0], ok(2));
  EXPECT_EQ(ed137(2), nullptr);
  EXPECT_STREQ(slot(2)->GetName(), "rtp ext LEMZ (GW)");
  send(cmd(2, "destroy : NULL", 2));
  EXPECT_EQ(send(createRtp(3, peer_.port(), freeUdpPort(), 1, "ptT38-UDP-TL", radio()))[0],
            err(3, "insufficientResources"));
  EXPECT_TRUE(engine().sessions().empty());

  // Period 100 x multiplier 4, sigtime 3, packet factor 1: the driver
  // repeats the last packet 100 / (1 x 10) x 3 = 30 times, every 3 packets.
  ASSERT_EQ(create(3, ", pfactor 1" + radio("{ type radio-txrx, txrxmode txrx, sigtime 3, r2s-keepalive-period 100,"
                                             " r2s-keepalive-multiplier 4, ptt-id 0 }"))[0],
            ok(3));
  ASSERT_NE(ed137(3), nullptr);
  EXPECT_STREQ(slot(3)->GetName(), "rtp ext ED137 (GW)");
  auto s = ext().sessions();
  ASSERT_EQ(s.size(), 1u);
  EXPECT_EQ(s[0].etype, 0x0167);
  EXPECT_EQ(std::vector<uint32_t>(s[0].params, s[0].params + 4), (std::vector<uint32_t>{1, 123, 30, 3}));
  int ch = ed137(3)->GetChannel();
  unsigned rtpSession = 0;
  for (auto& e : engine().sessions())
    if (e.channel == ch) rtpSession = e.session;
  EXPECT_EQ(s[0].rtpSession, rtpSession);
  EXPECT_EQ(ed137(3)->GetRadioControl()->GetStatusInterval(), 200u);
  // The create's status went out once the controller had its answer.
  EXPECT_EQ(written(), (std::vector<Bytes>{{0x10, 0x01, 0x11, 0xA1}}));
}

// The driver's record holds the packet factor in 16 bits, and the keep-alive
// count is in packets of what it holds: any factor a controller sends is
// answered, and 0x80000000 (held as 0) counts as no factor at all.
TEST_F(ED137SlotTest, KeepAliveCountOfAnyPacketFactor) {
  const struct {
    const char* pfactor;
    uint32_t count;
  } cases[] = {
      {"-2147483648", 10},  // held 0: 200 / (2 x 10)
      {"65539", 6},         // held 3: 200 / 30
      {"-1", 0},            // held 65535
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.pfactor);
    ASSERT_EQ(create(4, std::string(", pfactor ") + c.pfactor + radio())[0], ok(4));
    auto s = ext().sessions();
    ASSERT_EQ(s.size(), 1u);
    EXPECT_EQ(std::vector<uint32_t>(s[0].params, s[0].params + 4), (std::vector<uint32_t>{1, 123, c.count, 1}));
    ASSERT_EQ(send(cmd(4, "destroy : NULL", 2)), std::vector<std::string>{ok(4, 2)});
  }
}

TEST_F(ED137SlotTest, KeepAliveLossAndStateChangesAsTheControllerSeesThem) {
  // Defaults: period 200 ms x multiplier 10: a keep-alive after 1000 ms
  // without a send, loss after 2000 ms without a packet.
  ASSERT_EQ(create(3, radio("{ type radio-txrx, txrxmode txrx, ptt-id 0, transmission-depend-on-squ TRUE }"))[0],
            ok(3));
  EXPECT_EQ(written(), (std::vector<Bytes>{{0x10, 0x01, 0x11, 0xA1}}));
  EXPECT_TRUE(after(999).empty());
  EXPECT_TRUE(written().empty());
  EXPECT_TRUE(after(1).empty());
  EXPECT_EQ(written(), (std::vector<Bytes>{{0x10, 0x01, 0x11, 0xA1}}));
  EXPECT_EQ(after(1000), std::vector<std::string>{abort151(3)});
  EXPECT_EQ(after(1000), std::vector<std::string>{abort151(3)});
  EXPECT_EQ(written().size(), 2u);

  // Push-to-talk from the voice system at 10.0.0.9 (normal PTT, id 1:
  // 20 40) comes to the controller, and the loss reports stop.
  auto all = ext().sessions();
  ASSERT_TRUE(ext().inject(all.back().session, 0x99, inet_addr("10.0.0.9"), std::string("\x20\x40\x00\x00", 4)));
  std::vector<std::string> got = collect(0);
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0].rfind("{ slot 3, pdu signal : rtpExt : { status ed-137 : { " + kHeader +
                             ", sqi { bss-method agc, bss-quality 20 } }, request ed-137 : { addr { session-addr"
                             " \"10.0.0.9\", session-ssrc 153 }, params tx : { header { ptt normal-ptt-on, squ"
                             " squ-off, ptt-id 1",
                         0),
            0u)
      << got[0];
  EXPECT_TRUE(after(1000).empty());
  EXPECT_EQ(written().size(), 1u);

  // A state the controller sets is written at once; the squelch it opens
  // switches on the input stream of a radio whose transmission follows it.
  EXPECT_EQ(send(cmd(3,
                     "ioctl : rtpExt : ed-137 : { addr { session-addr \"10.0.0.9\", session-ssrc 153 }, params rx : "
                     "{ header { ptt ptt-off, squ squ-on, ptt-id 0, ptt-mute FALSE, ptt-summation FALSE, sct TRUE "
                     "}, sqi { bss-method rssi, bss-quality 31 } } }",
                     2)),
            std::vector<std::string>{ok(3, 2)});
  // SQU 10; SCT 08 and X 01; quality 31, method 0: F8.
  EXPECT_EQ(written(), (std::vector<Bytes>{{0x10, 0x09, 0x11, 0xF8}}));
  bool inputOn = false;
  for (auto& e : engine().sessions())
    if (e.channel == ed137(3)->GetChannel()) inputOn = e.inputOn;
  EXPECT_TRUE(inputOn);

  // Destroyed, the slot sends and reports nothing more.
  EXPECT_EQ(send(cmd(3, "destroy : NULL", 3)), std::vector<std::string>{ok(3, 3)});
  EXPECT_TRUE(ext().sessions().empty());
  EXPECT_TRUE(after(5000).empty());
}

}  // namespace
