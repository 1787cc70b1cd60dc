// SS7 level 2 against a scripted peer: every signal unit the peer sends
// and every one the link must answer is written here octet by octet.
//
//   octet 0: BSN | BIB << 7      (FF: BSN 127, BIB 1)
//   octet 1: FSN | FIB << 7      (80: FSN 0, FIB 1; 01: FSN 1, FIB 0)
//   octet 2: length indicator    (00 FISU, 01 LSSU, 03.. MSU, 3F: 63 or more)
//   LSSU status: 00 SIO, 01 SIN, 02 SIE, 03 SIOS
// A fresh link sends BSN 127 BIB 1 and FSN 127 FIB 1, and numbers its
// first MSU 0.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "LapdTestUtil.h"
#include "hardware/HwTestUtil.h"
#include "signalling/SLC.h"

namespace {

using lapdtest::frame;
using lapdtest::Recording;
using lapdtest::Wire;
using V = std::vector<std::string>;
using Link = Recording<SS7::SLC>;

const std::string SIO = "FF FF 01 00", SIN = "FF FF 01 01", SIE = "FF FF 01 02", SIOS = "FF FF 01 03";
const std::string FISU = "FF FF 00";
const std::string DOWN = "down impossible phasing";

// A signal unit header, octet by octet from the rule above.
std::string su(unsigned bsn, unsigned bib, unsigned fsn, unsigned fib, unsigned li) {
  char b[16];
  std::snprintf(b, sizeof b, "%02X %02X %02X", bsn | bib << 7, fsn | fib << 7, li);
  return b;
}

// An MSU body: SIO 0x83 and two octets numbering it.
std::string body(unsigned n) {
  char b[16];
  std::snprintf(b, sizeof b, "83 %02X %02X", n >> 8, n & 0xFF);
  return b;
}

class SlcTest : public ::testing::Test {
 protected:
  void SetUp() override { link_.hdlc(&wire_); }
  void rx(const std::string& h) {
    Packet p = frame(h, 0);
    link_.receive(p);
  }
  void tx(const std::string& h) {
    Packet p = frame(h, 3);
    link_.message(p);
  }
  void elapse(unsigned ms) {
    clock_.advance(ms);
    multiplexer.run_once();
  }
  V sent() { return wire_.take(); }
  V up() { return link_.rec.take(); }
  unsigned state() const { return link_.get_state_id(); }

  // Local start, the peer's SIO, SIN, then its FISU in proving.
  void inService() {
    link_.local_activate();
    rx(SIO);
    rx(SIN);
    rx(FISU);
    ASSERT_EQ(state(), SS7::SLC::InService);
    sent();
    up();
  }

  Mux::TestClock clock_{Mux::TestClock::Manual};
  hwtest::LoopAnchor anchor_;
  Wire wire_;
  Link link_;
};

TEST_F(SlcTest, NormalAlignmentProvesForT4nThenWaitsForTheFisu) {
  link_.local_activate();
  EXPECT_EQ(sent(), V{SIO});
  EXPECT_EQ(state(), SS7::SLC::NotAligned);
  rx(SIO);
  EXPECT_EQ(sent(), V{SIN});
  EXPECT_EQ(state(), SS7::SLC::Aligned);
  rx(SIN);
  EXPECT_EQ(sent(), V{SIN});
  EXPECT_EQ(state(), SS7::SLC::Proving);
  rx(SIN);  // the peer still proving
  elapse(8199);
  EXPECT_TRUE(sent().empty());
  elapse(1);
  EXPECT_EQ(sent(), V{FISU});
  EXPECT_EQ(state(), SS7::SLC::AlignedReady);
  EXPECT_TRUE(up().empty());
  rx(FISU);
  EXPECT_EQ(state(), SS7::SLC::InService);
  EXPECT_EQ(sent(), (V{FISU, FISU}));  // on entering, and the empty TB's
  EXPECT_EQ(up(), V{"up"});
  link_.local_activate();  // in service: reported again
  EXPECT_EQ(up(), V{"up"});
  EXPECT_TRUE(sent().empty());
}

TEST_F(SlcTest, EmergencyAlignmentFromThePeersSioProvesForT4e) {
  link_.set_emergency(true);
  rx(SIO);  // idle, no local start
  EXPECT_EQ(sent(), V{SIE});
  rx(SIE);
  EXPECT_EQ(sent(), V{SIE});
  EXPECT_EQ(state(), SS7::SLC::Proving);
  elapse(499);
  EXPECT_EQ(state(), SS7::SLC::Proving);
  elapse(1);
  EXPECT_EQ(state(), SS7::SLC::AlignedReady);
  EXPECT_EQ(sent(), V{FISU});
}

TEST_F(SlcTest, AlignmentTimersReturnToIdle) {
  struct Case {
    const char* what;
    std::vector<std::string> script;
    unsigned proving;
    unsigned ms;
  } cases[] = {
      {"T2 in not aligned", {}, 0, 7000},
      {"T3 in aligned", {SIO}, 0, 1500},
      {"T1 in aligned ready", {SIO, SIN}, 8200, 45000},
  };
  for (const Case& c : cases) {
    link_.local_activate();
    for (const std::string& s : c.script) rx(s);
    if (c.proving) elapse(c.proving);
    sent();
    elapse(c.ms - 1);
    EXPECT_NE(state(), SS7::SLC::Idle) << c.what;
    elapse(1);
    EXPECT_EQ(state(), SS7::SLC::Idle) << c.what;
    EXPECT_EQ(sent().back(), SIOS) << c.what;
    EXPECT_EQ(up(), V{DOWN}) << c.what;
  }
}

TEST_F(SlcTest, StatusUnitsAndLineErrorsDuringAlignment) {
  link_.local_activate();
  rx(SIO);
  rx(SIOS);  // aligned: ignored
  EXPECT_EQ(state(), SS7::SLC::Aligned);
  rx(SIN);
  sent();
  rx("FF FF");  // too short to be a unit: ignored
  rx(SIE);      // still proving
  EXPECT_EQ(state(), SS7::SLC::Proving);
  EXPECT_TRUE(sent().empty());
  rx("FF FF 01 07");  // a status hit by a bit error
  EXPECT_EQ(state(), SS7::SLC::Idle);
  EXPECT_EQ(sent(), V{SIOS});
  EXPECT_EQ(up(), V{DOWN});

  link_.local_deactivate();  // idle again: SIOS and the report again
  EXPECT_EQ(sent(), V{SIOS});
  EXPECT_EQ(up(), V{DOWN});

  rx(SIN);  // idle: straight to proving
  EXPECT_EQ(state(), SS7::SLC::Proving);
  rx(SIO);  // a restart of the peer during proving
  EXPECT_EQ(state(), SS7::SLC::Idle);

  link_.local_activate();
  rx(SIO);
  rx(SIN);
  rx(su(127, 1, 0, 1, 3) + " " + body(0));  // an MSU in proving: in service, not taken
  EXPECT_EQ(state(), SS7::SLC::InService);
  up();
  rx(SIN);  // any status in service ends it
  EXPECT_EQ(state(), SS7::SLC::Idle);
  EXPECT_EQ(up(), V{DOWN});
}

TEST_F(SlcTest, LengthIndicatorOnReceiveAndSend) {
  inService();
  const SS7::SLC::Statistics before = link_.statistics();
  // 10 octets, LI 5: 7 after the header, 2 cut off.
  rx("FF 80 05 03 01 02 03 04 05 06");
  EXPECT_EQ(up(), V{"msg 03 01 02 03 04"});
  EXPECT_EQ(sent(), V{"80 FF 00"});  // acknowledges FSN 0
  // 100 octets, LI 63: an MSU of 97.
  std::string long97;
  for (int i = 0; i < 97; ++i) long97 += " 5A";
  rx("FF 81 3F" + long97);
  EXPECT_EQ(up(), V{"msg" + long97});
  EXPECT_EQ(sent(), V{"81 FF 00"});
  rx("FF 81");
  rx("FF 81 FF");  // LI 255 with nothing behind it: a FISU, as it arrived
  EXPECT_TRUE(up().empty());
  EXPECT_TRUE(sent().empty());
  EXPECT_EQ(link_.statistics().suReceived - before.suReceived, 3u);
  EXPECT_EQ(link_.statistics().octetsReceived - before.octetsReceived, 10u + 100u + 2u + 3u);

  std::string b62, b63;
  for (int i = 0; i < 62; ++i) b62 += " 11";
  b63 = b62 + " 11";
  tx("03");     // would read as an LSSU (SIOS) on the line
  tx("83 01");  // and as one with two status octets
  EXPECT_TRUE(sent().empty());
  tx(b62.substr(1));
  tx(b63.substr(1));
  tx((b63 + " 22 33").substr(1));
  EXPECT_EQ(sent(), (V{"81 80 3E" + b62, "81 81 3F" + b63, "81 82 3F" + b63 + " 22 33"}));
}

TEST_F(SlcTest, NegativeAcknowledgementThenTheAwaitedRetransmission) {
  inService();
  rx(su(127, 1, 1, 1, 3) + " " + body(1));  // FSN 1 where 0 is due
  EXPECT_EQ(sent(), V{"7F FF 00"});         // BIB inverted
  EXPECT_TRUE(up().empty());
  rx(su(127, 1, 2, 1, 3) + " " + body(2));  // old FIB: dropped silently
  EXPECT_TRUE(sent().empty());
  rx(su(127, 1, 0, 0, 3) + " " + body(0));  // the retransmission, FIB 0
  EXPECT_EQ(sent(), V{"00 FF 00"});
  rx(su(127, 1, 1, 0, 3) + " " + body(1));
  EXPECT_EQ(sent(), V{"01 FF 00"});
  rx(su(127, 1, 1, 0, 3) + " " + body(1));  // a duplicate
  EXPECT_TRUE(sent().empty());
  EXPECT_EQ(up(), (V{"msg " + body(0), "msg " + body(1)}));
  // A FISU naming an MSU that never arrived is negatively acknowledged too.
  rx(su(127, 1, 3, 0, 0));
  EXPECT_EQ(sent(), V{"81 FF 00"});  // BSN 1, BIB back to 1
  EXPECT_EQ(link_.statistics().nacks, 2u);
}

TEST_F(SlcTest, RetransmissionResendsTheUnacknowledgedInTheirOrder) {
  inService();
  tx(body(0));
  tx(body(1));
  tx(body(2));
  EXPECT_EQ(sent(), (V{"FF 80 03 " + body(0), "FF 81 03 " + body(1), "FF 82 03 " + body(2)}));
  rx("80 FF 00");  // BSN 0 acknowledged
  EXPECT_EQ(link_.rtbCount(), 2u);
  EXPECT_TRUE(sent().empty());
  rx("00 FF 00");  // BSN 0, BIB inverted: resend from 1 with FIB 0
  EXPECT_EQ(sent(), (V{"FF 01 03 " + body(1), "FF 02 03 " + body(2)}));
  tx(body(3));
  EXPECT_EQ(sent(), V{"FF 03 03 " + body(3)});
  EXPECT_EQ(link_.statistics().retransmissions, 1u);
  rx("03 FF 00");  // all acknowledged: T7 stops
  EXPECT_EQ(link_.rtbCount(), 0u);
  elapse(12000);
  EXPECT_EQ(state(), SS7::SLC::InService);
}

TEST_F(SlcTest, SecondBadBsnOrBadFibInARowTakesTheLinkDown) {
  inService();
  rx("85 FF 00");  // BSN 5: nothing was sent
  EXPECT_EQ(state(), SS7::SLC::InService);
  rx("FF FF 00");  // a good one in between clears it
  rx("85 FF 00");
  EXPECT_EQ(state(), SS7::SLC::InService);
  rx("85 FF 00");
  EXPECT_EQ(state(), SS7::SLC::Idle);
  EXPECT_EQ(sent().back(), SIOS);
  EXPECT_EQ(up(), V{DOWN});

  inService();
  rx("FF 7F 00");  // FIB 0 unasked
  rx(FISU);
  rx("FF 7F 00");
  EXPECT_EQ(state(), SS7::SLC::InService);
  rx("FF 7F 00");
  EXPECT_EQ(state(), SS7::SLC::Idle);
}

TEST_F(SlcTest, AtMost127OutstandingAnd200WaitingThenT7) {
  inService();
  for (unsigned i = 0; i < 127 + 201; ++i) tx(body(i));
  V out = sent();
  ASSERT_EQ(out.size(), 127u);
  EXPECT_EQ(out[126], su(127, 1, 126, 1, 3) + " " + body(126));
  EXPECT_EQ(link_.tbCount(), 200u);
  EXPECT_EQ(link_.statistics().tbOverflows, 1u);
  EXPECT_EQ(link_.statistics().rtbSize, 127u);

  elapse(6000);
  rx(su(0, 1, 127, 1, 0));  // FSN 0 acknowledged: T7 starts again, one more leaves
  EXPECT_EQ(sent(), V{su(127, 1, 127, 1, 3) + " " + body(127)});
  elapse(11999);
  EXPECT_EQ(state(), SS7::SLC::InService);
  elapse(1);
  EXPECT_EQ(state(), SS7::SLC::Idle);
  EXPECT_EQ(up(), V{DOWN});
}

TEST_F(SlcTest, RefusedTransmissionWaitsAndFisusKeepTheLastSentFsn) {
  inService();
  wire_.full = true;
  tx(body(0));
  EXPECT_EQ(link_.tbCount(), 1u);
  wire_.full = false;
  rx(su(127, 1, 0, 1, 3) + " " + body(0));
  EXPECT_EQ(sent(), V{"80 FF 00"});  // FSN still 127: MSU 0 never left
  link_.on_hdlc_ready();
  EXPECT_EQ(sent(), V{"80 80 03 " + body(0)});
  EXPECT_EQ(link_.tbCount(), 0u);
}

TEST_F(SlcTest, NoChannelSendsNothingAndALinkDestroyedByItsListenerIsLeftAlone) {
  SS7::SLC bare;
  bare.local_activate();  // no channel: the LSSU is skipped
  EXPECT_EQ(bare.get_state_id(), SS7::SLC::NotAligned);

  auto* doomed = new Link;
  doomed->hdlc(&wire_);
  doomed->rec.hook = [&](const std::string&) { delete doomed; };
  doomed->local_activate();
  doomed->set_emergency(true);
  Packet sio = frame(SIO, 0);
  doomed->receive(sio);
  Packet sie = frame(SIE, 0);
  doomed->receive(sie);
  Packet fisu = frame(FISU, 0);
  doomed->receive(fisu);  // in service: the listener deletes the link
  EXPECT_EQ(sent().back(), FISU);
}

}  // namespace
