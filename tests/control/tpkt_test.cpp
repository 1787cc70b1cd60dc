// TPKT framing on its own: a one-layer stack whose owner records what goes
// up and down; frames worked out by hand.
#include "control/Tpkt.h"
#include "runtime/TestClock.h"
#include "ControlTestUtil.h"

#include <gtest/gtest.h>

#include <cstring>

using namespace ctl_test;

namespace {

struct Harness : ProtocolsFamily {
  Harness() {
    tpkt = new Tpkt_protocol;
    add_protocol_tail(tpkt);
    activate();
  }
  void on_message(Packet& p) override { up.push_back(p.null() ? Bytes() : Bytes(p.data(), p.data() + p.length())); }
  void transmit(Packet& p) override { down.push_back(Bytes(p.data(), p.data() + p.length())); }
  void on_deactivated(Protocol*, Protocol_status_ptr s) override { status.push_back(s->message()); }

  void feed(const Bytes& b) {
    Packet p;
    p.reserve_head(0);
    if (!b.empty()) std::memcpy(p.put(b.size()), b.data(), b.size());
    receive(p);
  }
  Bytes send(const Bytes& payload) {
    Packet p;
    prepare_head(p);
    if (!payload.empty()) std::memcpy(p.put(payload.size()), payload.data(), payload.size());
    const size_t before = down.size();
    message(p);
    return down.size() > before ? down.back() : Bytes();
  }

  Tpkt_protocol* tpkt;
  std::vector<Bytes> up;
  std::vector<Bytes> down;
  std::vector<std::string> status;
};

const Bytes kFrameA = {0x03, 0x00, 0x00, 0x07, 0xAA, 0xBB, 0xCC};
const Bytes kFrameB = {0x03, 0x00, 0x00, 0x05, 0xEE};

}  // namespace

TEST(Tpkt, WholeFramesDeliverTheirPayloadsInOrder) {
  Capture cap;
  Harness h;
  h.feed(kFrameA);
  ASSERT_EQ(h.up.size(), 1u);
  EXPECT_EQ(hex(h.up[0]), "AA BB CC");
  EXPECT_FALSE(h.tpkt->timer_running());

  Bytes two = kFrameA;
  two.insert(two.end(), kFrameB.begin(), kFrameB.end());
  h.up.clear();
  h.feed(two);
  ASSERT_EQ(h.up.size(), 2u);
  EXPECT_EQ(hex(h.up[0]), "AA BB CC");
  EXPECT_EQ(hex(h.up[1]), "EE");
  EXPECT_EQ(cap.log(), "");
}

TEST(Tpkt, AFrameSplitAtAnyByteIsDeliveredOnceWhole) {
  Capture cap;
  Bytes stream = kFrameA;
  stream.insert(stream.end(), kFrameB.begin(), kFrameB.end());
  for (size_t cut = 1; cut < stream.size(); ++cut) {
    Harness h;
    h.feed(Bytes(stream.begin(), stream.begin() + cut));
    EXPECT_EQ(h.up.size(), cut >= kFrameA.size() ? 1u : 0u) << cut;
    EXPECT_TRUE(h.tpkt->timer_running() || cut == kFrameA.size()) << cut;
    h.feed(Bytes(stream.begin() + cut, stream.end()));
    ASSERT_EQ(h.up.size(), 2u) << cut;
    EXPECT_EQ(hex(h.up[0]), "AA BB CC");
    EXPECT_EQ(hex(h.up[1]), "EE");
    EXPECT_FALSE(h.tpkt->timer_running());
  }
  Harness h;
  for (unsigned char b : stream) h.feed(Bytes{b});
  EXPECT_EQ(h.up.size(), 2u);
  EXPECT_EQ(cap.log(), "");
}

TEST(Tpkt, BadStartAndBadReservedResynchroniseInOneLinePerRun) {
  Capture cap;
  Harness h;
  // 05 is skipped; 03 01 goes back to idle without looking at 01 again:
  // three octets, said when the next header is found, in the text of the
  // first fault.
  Bytes in = {0x05};
  in.insert(in.end(), {0x03, 0x01});
  in.insert(in.end(), kFrameB.begin(), kFrameB.end());
  h.feed(in);
  ASSERT_EQ(h.up.size(), 1u);
  EXPECT_EQ(hex(h.up[0]), "EE");
  EXPECT_EQ(cap.log(), "TPKT bad TPKT packet start. (3 octets skipped)\n");

  // A reserved byte of 03 is not taken as a new start: 03 03, then four
  // bad starts, in a run that the next frame ends.
  cap.clear();
  h.up.clear();
  h.feed({0x03, 0x03, 0x00, 0x00, 0x05, 0xEE});
  EXPECT_TRUE(h.up.empty());
  EXPECT_EQ(cap.log(), "");
  EXPECT_EQ(h.tpkt->resync_octets(), 6u);
  h.feed(kFrameB);
  ASSERT_EQ(h.up.size(), 1u);
  EXPECT_EQ(cap.log(), "TPKT bad TPKT reserved. (6 octets skipped)\n");
}

TEST(Tpkt, NoiseCostsTheLogALinePerRunNotPerOctet) {
  Capture cap;
  Mux::TestClock clock(Mux::TestClock::Manual);
  Keep keep;
  Harness h;
  // 94 KB of noise in reads of one octet (no 03 in it), then silence: one
  // line after 65536 octets, the rest when the stream has been quiet for
  // the reassembly time.
  for (unsigned i = 0; i < 94000; ++i) h.feed({static_cast<unsigned char>(0x10 + i % 0x70)});
  EXPECT_EQ(cap.log(), "TPKT bad TPKT packet start. (65536 octets skipped)\n");
  cap.clear();
  clock.advance(2999);
  multiplexer.run_once();
  EXPECT_EQ(cap.log(), "");
  clock.advance(1);
  multiplexer.run_once();
  EXPECT_EQ(cap.log(), "TPKT bad TPKT packet start. (28464 octets skipped)\n");
  // A run cut short by the end of the link is said too.
  cap.clear();
  h.feed({0x01, 0x02});
  h.deactivate();
  EXPECT_EQ(cap.log(), "TPKT bad TPKT packet start. (2 octets skipped)\n");
}

TEST(Tpkt, LengthsBelowTheHeaderAreTooSmall) {
  Capture cap;
  Harness h;
  for (unsigned len : {0u, 1u, 2u, 3u}) h.feed({0x03, 0x00, 0x00, static_cast<unsigned char>(len)});
  EXPECT_TRUE(h.up.empty());
  EXPECT_EQ(h.tpkt->state(), Tpkt_protocol::Idle);
  h.feed(kFrameB);
  EXPECT_EQ(h.up.size(), 1u);
  EXPECT_EQ(cap.log(), "TPKT too small 0 (16 octets skipped)\n");
}

TEST(Tpkt, AnEmptyPayloadIsDeliveredAtOnce) {
  Capture cap;
  Harness h;
  h.feed({0x03, 0x00, 0x00, 0x04});
  ASSERT_EQ(h.up.size(), 1u);
  EXPECT_TRUE(h.up[0].empty());
  EXPECT_FALSE(h.tpkt->timer_running());
}

TEST(Tpkt, ALargestFrameIsReassembledFromChunks) {
  Capture cap;
  Harness h;
  const unsigned payload = 0xFFFF - 4;
  Bytes frame = {0x03, 0x00, 0xFF, 0xFF};
  for (unsigned i = 0; i < payload; ++i) frame.push_back(static_cast<unsigned char>(i));
  for (size_t at = 0; at < frame.size(); at += 1000)
    h.feed(Bytes(frame.begin() + at, frame.begin() + std::min(frame.size(), at + 1000)));
  ASSERT_EQ(h.up.size(), 1u);
  EXPECT_EQ(h.up[0], Bytes(frame.begin() + 4, frame.end()));
}

TEST(Tpkt, APartialFrameTimesOutThreeSecondsAfterItsLastChunk) {
  Capture cap;
  Mux::TestClock clock(Mux::TestClock::Manual);
  Keep keep;
  Harness h;
  h.feed({0x03, 0x00, 0x00, 0x08, 0x01});
  clock.advance(2999);
  multiplexer.run_once();
  h.feed({0x02});  // re-arms from here
  clock.advance(2999);
  multiplexer.run_once();
  EXPECT_EQ(cap.log(), "");
  EXPECT_EQ(h.tpkt->state(), Tpkt_protocol::Body);
  clock.advance(1);
  multiplexer.run_once();
  EXPECT_EQ(cap.log(), " TPKT packet timeout.\n");
  EXPECT_EQ(h.tpkt->state(), Tpkt_protocol::Idle);
  EXPECT_TRUE(h.up.empty());
  // The rest of the dropped frame is now scanned as noise; the next frame
  // gets through.
  cap.clear();
  h.feed({0x03, 0x04});
  h.feed(kFrameA);
  ASSERT_EQ(h.up.size(), 1u);
  EXPECT_EQ(hex(h.up[0]), "AA BB CC");
}

TEST(Tpkt, SendingPrependsTheHeaderWithTheWholeLength) {
  Capture cap;
  Harness h;
  Bytes ten = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9};
  EXPECT_EQ(hex(h.send(ten)), "03 00 00 0E 00 01 02 03 04 05 06 07 08 09");
  EXPECT_EQ(hex(h.send({})), "03 00 00 04");
  // One byte more than the length field can carry is refused.
  EXPECT_EQ(h.send(Bytes(0xFFFF - 4, 0x55)).size(), 0xFFFFu);
  EXPECT_TRUE(h.send(Bytes(0xFFFF - 3, 0x55)).empty());
  EXPECT_EQ(cap.log(), "TPKT payload too big, length = 65532 max = 65531\n");
}

TEST(Tpkt, DeactivationDropsThePartialFrameAndReports) {
  Capture cap;
  Harness h;
  h.feed({0x03, 0x00, 0x00, 0x08, 0x01});
  h.deactivate();
  EXPECT_EQ(h.tpkt->state(), Tpkt_protocol::Idle);
  EXPECT_FALSE(h.tpkt->timer_running());
  ASSERT_EQ(h.status.size(), 1u);
  EXPECT_EQ(h.status[0], "TPKT deactivated");
}
