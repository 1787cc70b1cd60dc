// The RTP session opener on the stand-in engine: the connection record as
// the engine reads it (field by field at the driver's offsets), the RTCP
// socket, and failures that leave nothing open.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <sys/socket.h>

#include <cstring>

#include "board/Rtp.h"
#include "board/StandInFixture.h"
#include "hardware/HwTestUtil.h"
#include "rtp/RtpSession.h"

namespace {

using TERM::Payload;

LGCP::CreateRtpParams params(unsigned dport, Payload::NamedNumber payload = Payload::ptG711_Alaw) {
  LGCP::CreateRtpParams p;
  TERM::RtpParams& r = p.set_codecRTP();
  r.set_payload(payload);
  r.set_dhost().set_iaddr("10.1.2.3");
  r.set_dhost().set_port(dport);
  p.set_rxPayload(payload);
  p.set_txPayload(payload);
  return p;
}

Board::Rtp& engine(Board::StandIn& b) { return dynamic_cast<Board::Rtp&>(*b.model("rtp")); }

bool rtpOpen(Board::StandIn& b) {
  b.sync();
  for (auto& s : b.sessions())
    if (s.second == "/dev/rtp") return true;
  return false;
}

unsigned boundPort(const Fd& fd) {
  sockaddr_in a{};
  socklen_t n = sizeof a;
  getsockname(fd.lowlevel_fd(), reinterpret_cast<sockaddr*>(&a), &n);
  return ntohs(a.sin_port);
}

class RtpSessionTest : public testboard::StandInTest {};

TEST_F(RtpSessionTest, RecordAsTheEngineReadsIt) {
  // G.729 with G.711 A-law asked for the receive direction: only the law may
  // differ per direction, so rx 8 (A-law), tx 18 (G.729).
  LGCP::CreateRtpParams p = params(40000, Payload::ptG729);
  p.set_rxPayload(Payload::ptG711_Alaw);
  TERM::RtpParams& r = p.set_codecRTP();
  r.set_pfactor(3);
  r.set_vad(true);
  r.set_crate(5);
  r.set_ssrc(0xF1E2D3C4u);
  r.set_ttl(64);
  r.set_qos_dscp(TERM::IpQoSDSCP::ef);  // 46 * 4 = 184

  RtpSession::Opened s;
  hwtest::Capture log(std::clog);
  ASSERT_TRUE(RtpSession::open(p, RtpSession::Options{true, 1}, "rtp[0,0,0,0]: ", s));
  EXPECT_EQ(log.text(), "");

  Board::Rtp::SessionInfo info;
  ASSERT_TRUE(engine(board()).session(s.channel, info));
  EXPECT_GE(s.channel, Board::Rtp::kFirstChannel);
  const Board::Rtp::Connection& c = info.connection;
  uint8_t addr[4];
  std::memcpy(addr, &c.dstAddr, 4);
  EXPECT_EQ(addr[0], 10);  // network order: most significant first
  EXPECT_EQ(addr[3], 3);
  EXPECT_EQ(c.dstPort, 40000);
  EXPECT_EQ(c.srcAddr, 0u);       // no shost
  EXPECT_EQ(c.srcPort, 40000);    // dhost's port stands in
  EXPECT_EQ(c.rxPt, 8);
  EXPECT_EQ(c.txPt, 18);
  EXPECT_EQ(c.packetFactor, 3);
  EXPECT_EQ(c.vad, 1);
  EXPECT_EQ(c.rate, 1);
  EXPECT_EQ(c.ssrc, 0xF1E2D3C4u);
  EXPECT_EQ(c.ttl, 64);
  EXPECT_EQ(c.tos, 184);
  EXPECT_EQ(info.bss, 1u);

  // The RTCP socket: RTP port + 1 locally, the peer's RTP port + 1.
  EXPECT_EQ(boundPort(s.rtcp), 40001u);
  EXPECT_EQ(ntohs(s.rtcpPeer.sin_port), 40001);
  EXPECT_EQ(s.rtcpPeer.sin_addr.s_addr, c.dstAddr);

  // Without the optional fields: no VAD, no rate, TOS -1; shost given:
  // its address and port; mu-law is codec 0.
  LGCP::CreateRtpParams q = params(40010, Payload::ptG711_Ulaw);
  q.set_codecRTP().set_shost().set_iaddr("192.168.7.9");
  q.set_codecRTP().set_shost().set_port(40020);
  RtpSession::Opened t;
  ASSERT_TRUE(RtpSession::open(q, RtpSession::Options{}, "", t));
  ASSERT_TRUE(engine(board()).session(t.channel, info));
  std::memcpy(addr, &info.connection.srcAddr, 4);
  EXPECT_EQ(addr[0], 192);
  EXPECT_EQ(info.connection.srcPort, 40020);
  EXPECT_EQ(info.connection.rxPt, 0);
  EXPECT_EQ(info.connection.vad, 0);
  EXPECT_EQ(info.connection.rate, 0);
  EXPECT_EQ(info.connection.tos, -1);
  EXPECT_EQ(boundPort(t.rtcp), 40021u);
}

TEST_F(RtpSessionTest, CodecTable) {
  // Every payload with a driver codec, and the ones without.
  const std::pair<int, int> table[] = {{0, 8}, {1, 0}, {2, 4}, {3, 18}, {4, 136}, {5, 128}, {13, 15}};
  for (auto e : table) {
    uint16_t codec = 999;
    EXPECT_TRUE(RtpSession::driverCodec(e.first, codec));
    EXPECT_EQ(codec, e.second);
  }
  for (int none : {6, 10, 11, 12, 123}) {
    uint16_t codec;
    EXPECT_FALSE(RtpSession::driverCodec(none, codec)) << none;
  }
  // A direction other than a G.711 law never overrides.
  EXPECT_EQ(RtpSession::translateCodec(Payload::ptG729, Payload::ptG723), 18);
  EXPECT_EQ(RtpSession::translateCodec(Payload::ptG711mcc_Alaw, Payload::ptG711_Ulaw), 0);
}

TEST_F(RtpSessionTest, FailuresLeaveNothingOpen) {
  hwtest::Capture log(std::clog);
  hwtest::Capture err(std::cerr);
  RtpSession::Opened s;

  EXPECT_FALSE(RtpSession::open(params(40100, Payload::ptT38_UDP_TL), {}, "H: ", s));
  EXPECT_EQ(log.text(), "H: rtp do not created: payload ptT38-UDP-TLnot found\n");

  // The RTCP port taken by a socket that does not share it.
  Fd taken(::socket(AF_INET, SOCK_DGRAM, 0));
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(40201);
  ASSERT_EQ(::bind(taken.lowlevel_fd(), reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
  log.clear();
  EXPECT_FALSE(RtpSession::open(params(40200), {}, "H: ", s));
  EXPECT_EQ(log.text(), "H: rtp do not created: can not bind socket [errno=" +
                            std::string(std::strerror(EADDRINUSE)) + ", port=40201]\n");

  board().failOpen("/dev/rtp", ENODEV, true);
  EXPECT_FALSE(RtpSession::open(params(40300), {}, "H: ", s));
  board().failRequest(RtpSession::kBegin, EINVAL, true);
  EXPECT_FALSE(RtpSession::open(params(40300), {}, "H: ", s));
  board().failRequest(RtpSession::kAddChannel, ENOSPC, true);
  EXPECT_FALSE(RtpSession::open(params(40300), {}, "H: ", s));
  EXPECT_EQ(err.text(), "H: device \"/dev/rtp\" open fail: " + std::string(std::strerror(ENODEV)) +
                            "\nH: begin session fail !!! \nH: add channel fail !!!\n");
  EXPECT_FALSE(rtpOpen(board()));
  // The RTCP port of the failed attempts is free again.
  EXPECT_TRUE(RtpSession::open(params(40300), {}, "H: ", s));
}

}  // namespace
