// LEMZ packets: wire bytes worked out by hand from the header and body
// layouts, the length rules both ways, and the table and dump helpers.
#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "rtp/LemzProto.h"

namespace {

using Bytes = std::vector<uint8_t>;

sig_proto record(uint32_t type) {
  sig_proto p;
  sig_proto_init(&p);
  p.type = type;
  return p;
}

Bytes pack(const sig_proto& p, int room = 64) {
  Bytes buf(size_t(room), 0xAA);
  int n = sig_proto_pack(&p, buf.data(), room);
  if (n < 0) return {};
  buf.resize(size_t(n));
  return buf;
}

// Unpacks from a buffer of exactly the given bytes, so that a read past
// them is caught by the address sanitizer.
int unpack(sig_proto& p, const Bytes& bytes) {
  std::unique_ptr<uint8_t[]> exact(new uint8_t[bytes.size() ? bytes.size() : 1]);
  std::memcpy(exact.get(), bytes.data(), bytes.size());
  return sig_proto_unpack(&p, exact.get(), int(bytes.size()));
}

in_addr addr(const char* dotted) {
  in_addr a;
  inet_pton(AF_INET, dotted, &a);
  return a;
}

TEST(LemzProto, HeaderBitsByHand) {
  // byte 1: priority 2 in bits 7-4 (0x20), flag_p bit 2 (0x04) -> 0x24
  // status 421 = 1 1010 0101: bits 8-5 = 1101 -> byte 2 low nibble 0xD
  // byte 3: bits 4-0 of status 00101 << 3 = 0x28, flag_c 2 << 1 = 0x04, flag_rs 1 -> 0x2D
  sig_proto p = record(GW_FLAG_PTT);
  p.priority = 2;
  p.flag_p = 1;
  p.status = 421;
  p.flag_c = 2;
  p.flag_rs = 1;
  EXPECT_EQ(pack(p), (Bytes{0x03, 0x24, 0x0D, 0x2D}));

  sig_proto back = record(0);
  ASSERT_EQ(unpack(back, {0x03, 0x24, 0x0D, 0x2D}), 0);
  EXPECT_EQ(back.type, 3u);
  EXPECT_EQ(back.priority, 2u);
  EXPECT_EQ(back.flag_p, 1u);
  EXPECT_EQ(back.status, 421u);
  EXPECT_EQ(back.flag_c, 2u);
  EXPECT_EQ(back.flag_rs, 1u);
  EXPECT_EQ(back.flag_t + back.flag_r + back.flag_s + back.flag_b + back.flag_rv + back.flag_sh + back.flag_pw, 0u);

  // Every other flag alone: t 0x08 and s 0x01 in byte 1; b 0x80, rv 0x40,
  // sh 0x20, pw 0x10 in byte 2.
  sig_proto f = record(GW_FLAG);
  f.flag_t = f.flag_s = f.flag_b = f.flag_rv = f.flag_sh = f.flag_pw = 1;
  EXPECT_EQ(pack(f), (Bytes{0x01, 0x09, 0xF0, 0x00}));

  // Only the field's low bits travel.
  sig_proto m = record(GW_FLAG);
  m.priority = 17;
  m.flag_b = 2;
  m.status = 512;
  EXPECT_EQ(pack(m), (Bytes{0x01, 0x10, 0x00, 0x00}));
}

TEST(LemzProto, BodiesByHand) {
  // 145.5 = 1.13671875 * 2^7: exponent 134 (0x86), mantissa 0x118000 -> 43 11 80 00
  sig_proto chan = record(WM_CHAN);
  sig_proto_set_wm_chan(&chan, 5, 145.5f, 1, 0);
  EXPECT_EQ(pack(chan), (Bytes{0x84, 0, 0, 0, 0, 0, 0, 5, 0x43, 0x11, 0x80, 0x00, 0x01, 0, 0, 0}));

  // The session address travels with its octets reversed.
  sig_proto trans = record(WM_TRANS);
  sig_proto_set_wm_transmite(&trans, addr("10.1.2.3"), 0x01020304);
  Bytes wire{0x82, 0, 0, 0, 0x03, 0x02, 0x01, 0x0A, 0x01, 0x02, 0x03, 0x04};
  EXPECT_EQ(pack(trans), wire);
  sig_proto back = record(0);
  ASSERT_EQ(unpack(back, wire), 0);
  char text[INET_ADDRSTRLEN];
  inet_ntop(AF_INET, &back.wm_trans.session_addr, text, sizeof text);
  EXPECT_STREQ(text, "10.1.2.3");
  EXPECT_EQ(back.wm_trans.ssrc, 0x01020304u);

  // Caller IDs: 5 + n rounded up to 4 (GW), 13 + n (WM).
  sig_proto call = record(GW_SEL_CALL);
  sig_proto_set_gw_selcall(&call, "ABC", 3);
  EXPECT_EQ(pack(call), (Bytes{0x09, 0, 0, 0, 3, 'A', 'B', 'C'}));
  sig_proto_set_gw_selcall(&call, "ABCD", 4);
  EXPECT_EQ(pack(call), (Bytes{0x09, 0, 0, 0, 4, 'A', 'B', 'C', 'D', 0, 0, 0}));
  sig_proto_set_gw_selcall(&call, "", 0);
  EXPECT_EQ(pack(call), (Bytes{0x09, 0, 0, 0, 0, 0, 0, 0}));

  sig_proto wcall = record(WM_SEL_CALL_TRANS);
  sig_proto_set_wm_selcall_transmite(&wcall, addr("192.168.0.1"), 7, "Z", 1);
  EXPECT_EQ(pack(wcall), (Bytes{0x85, 0, 0, 0, 1, 0, 168, 192, 0, 0, 0, 7, 1, 'Z', 0, 0}));

  sig_proto standby = record(WM_STANDBY);
  sig_proto_set_wm_standby(&standby, 1, 200, 0xFF);
  EXPECT_EQ(pack(standby), (Bytes{0x87, 0, 0, 0, 1, 200, 0xFF, 0}));
}

TEST(LemzProto, PackRoomRules) {
  uint8_t buf[16];
  std::memset(buf, 0xAA, sizeof buf);
  sig_proto p = record(GW_FLAG);
  EXPECT_EQ(sig_proto_pack(&p, buf, 3), SIG_PROTO_ESHORT);
  EXPECT_EQ(buf[0], 0xAA) << "nothing written below a header's room";
  EXPECT_EQ(sig_proto_pack(nullptr, buf, 16), 0);
  EXPECT_EQ(sig_proto_pack(&p, nullptr, 16), 0);

  // WM_CHAN needs 16: the header is written, the rest cleared.
  sig_proto chan = record(WM_CHAN);
  sig_proto_set_wm_chan(&chan, 5, 145.5f, 1, 0);
  std::memset(buf, 0xAA, sizeof buf);
  EXPECT_EQ(sig_proto_pack(&chan, buf, 12), SIG_PROTO_ESHORT);
  EXPECT_EQ(Bytes(buf, buf + 12), (Bytes{0x84, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
  EXPECT_EQ(buf[12], 0xAA);

  // The caller-ID types ask for more room than they write.
  sig_proto call = record(GW_SEL_CALL);
  EXPECT_EQ(sig_proto_pack(&call, buf, 11), SIG_PROTO_ESHORT);
  EXPECT_EQ(sig_proto_pack(&call, buf, 12), 8);

  // Types without a body, known or not, are a header.
  for (uint32_t t : {0u, 14u, 128u, 200u}) {
    sig_proto q = record(t);
    EXPECT_EQ(sig_proto_pack(&q, buf, 16), 4) << t;
  }
}

TEST(LemzProto, UnpackRefusesShortAndUnknown) {
  sig_proto p = record(GW_FLAG_PTT);
  p.priority = 9;
  sig_proto before = p;
  EXPECT_EQ(unpack(p, {0x01, 0x00, 0x00}), SIG_PROTO_ESHORT);
  EXPECT_EQ(std::memcmp(&p, &before, sizeof p), 0);
  EXPECT_EQ(sig_proto_unpack(nullptr, Bytes{1, 0, 0, 0}.data(), 4), SIG_PROTO_ENULL);
  EXPECT_EQ(sig_proto_unpack(&p, nullptr, 4), SIG_PROTO_ENULL);

  // Each body type at one byte short of its length, then at its length.
  struct Case {
    uint8_t type;
    size_t need;
  } cases[] = {{2, 12}, {10, 8}, {11, 8}, {12, 8}, {13, 8}, {130, 12},
               {131, 8}, {132, 16}, {134, 8}, {135, 8}, {9, 5}, {133, 13}};
  for (const Case& c : cases) {
    Bytes b(c.need, 0);
    b[0] = c.type;
    b.pop_back();
    p = before;
    EXPECT_EQ(unpack(p, b), SIG_PROTO_ESHORT) << int(c.type);
    EXPECT_EQ(std::memcmp(&p, &before, sizeof p), 0) << int(c.type);
    b.push_back(0);
    EXPECT_EQ(unpack(p, b), 0) << int(c.type);
  }

  // A caller-ID length that promises more than follows.
  Bytes call{0x09, 0, 0, 0, 200, 'A', 'B', 'C'};
  EXPECT_EQ(unpack(p, call), SIG_PROTO_ESHORT);
  Bytes wcall(13 + 255, 0);
  wcall[0] = 133;
  wcall[12] = 255;
  EXPECT_EQ(unpack(p, wcall), 0);
  EXPECT_EQ(p.wm_sel_call_trans.callerID_length, 255);
  wcall.pop_back();
  EXPECT_EQ(unpack(p, wcall), SIG_PROTO_ESHORT);

  // Unknown types set the type alone.
  for (uint8_t t : {0, 14, 128, 200}) {
    p = before;
    EXPECT_EQ(unpack(p, {t, 0xFF, 0xFF, 0xFF}), SIG_PROTO_ETYPE) << int(t);
    EXPECT_EQ(p.type, t);
    EXPECT_EQ(p.priority, 9u);
  }

  // A longer packet is accepted; a short caller ID leaves nothing of an
  // earlier, longer one behind.
  EXPECT_EQ(unpack(p, {0x09, 0, 0, 0, 5, 'H', 'E', 'L', 'L', 'O', 0, 0}), 0);
  EXPECT_EQ(unpack(p, {0x09, 0, 0, 0, 2, 'H', 'I', 0, 1, 2, 3, 4}), 0);
  EXPECT_STREQ(reinterpret_cast<const char*>(p.gw_sel_call.callerID), "HI");
}

TEST(LemzProto, EveryTypeRoundTrips) {
  const uint32_t types[] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 129, 130, 131, 132, 133, 134, 135};
  for (uint32_t t : types) {
    sig_proto p = record(t);
    sig_proto_set_base(&p, 7, 1, 0, 1, 0, 1, 0, 1, 0, 1, 3, 300);
    switch (t) {
      case 2: sig_proto_set_gw_adjust_chan(&p, 77, 118.25f); break;
      case 9: sig_proto_set_gw_selcall(&p, "1234567", 7); break;
      case 10: sig_proto_set_gw_select_rc_chan(&p, 3, 4); break;
      case 11: sig_proto_set_gw_adjust_squelsh(&p, 2); break;
      case 12: sig_proto_set_gw_adjust_rte(&p, 6); break;
      case 13: sig_proto_set_gw_adjust_standby(&p, 1); break;
      case 130: sig_proto_set_wm_transmite(&p, addr("172.16.5.9"), 0xDEADBEEF); break;
      case 131: sig_proto_set_wm_radio_quality(&p, 0.75f); break;
      case 132: sig_proto_set_wm_chan(&p, 9, 121.5f, 2, 7); break;
      case 133: sig_proto_set_wm_selcall_transmite(&p, addr("1.2.3.4"), 5, "xyz", 3); break;
      case 134: sig_proto_set_wm_select_rc_chan(&p, 8, 9); break;
      case 135: sig_proto_set_wm_standby(&p, 0, 12, 1); break;
    }
    Bytes wire = pack(p);
    ASSERT_FALSE(wire.empty()) << t;
    EXPECT_EQ(wire.size() % 4, 0u) << t;
    sig_proto back;
    sig_proto_init(&back);
    ASSERT_EQ(unpack(back, wire), 0) << t;
    EXPECT_EQ(cmp_sig_proto(&p, &back), 0) << t;
    EXPECT_EQ(cmp_sig_proto_header(&p, &back), 0) << t;
  }
}

TEST(LemzProto, HelpersAndTables) {
  sig_proto p = record(GW_FLAG);
  sig_proto_set_base(&p, 3, 1, 1, 1, 1, 1, 1, 1, 1, 1, 2, 100);
  sig_proto q = p;
  sig_proto_set_base(&q, -1, -1, 0, -1, -1, -1, -1, -1, -1, -1, -1, -1);
  EXPECT_EQ(q.flag_p, 0u);
  q.flag_p = 1;
  EXPECT_EQ(std::memcmp(&p, &q, sizeof p), 0);

  EXPECT_TRUE(sig_proto_is_ptt_command(&p));
  sig_proto chan = record(GW_ADJUST_CHAN);
  EXPECT_FALSE(sig_proto_is_ptt_command(&chan));

  // Same type and sender compare as one run; another sender does not.
  sig_proto a = record(GW_FLAG_PTT), b = a;
  b.priority = 5;
  EXPECT_EQ(cmp_sig_proto_header(&a, &b), 0);
  b.src_addr = 1;
  EXPECT_NE(cmp_sig_proto_header(&a, &b), 0);
  EXPECT_EQ(cmp_sig_proto_header(&a, nullptr), -1);
  // The flags-only dump leaves priority out; the full one does not.
  EXPECT_EQ(cmp_sig_proto_flags(&a, &b), 0);
  EXPECT_NE(cmp_sig_proto(&a, &b), 0);

  EXPECT_EQ(sig_proto_find_name_by_id(sig_proto_packet_const_name, 0), nullptr);
  EXPECT_STREQ(sig_proto_find_name_by_id(sig_proto_packet_const_name, 135), "WM_STANDBY");
  EXPECT_EQ(sig_proto_find_id_by_name(sig_proto_packet_const_name, "WM_CHAN"), 132);
  EXPECT_EQ(sig_proto_find_id_by_name(sig_proto_packet_const_name, ""), -1);
  EXPECT_EQ(sig_proto_find_id_by_name(nullptr, "WM_CHAN"), -1);

  sig_proto_queue queue;
  init_sig_proto_queue(&queue);
  EXPECT_EQ(queue.records[0].type, 1u);
  EXPECT_EQ(queue.records[7].type, 2u);
  EXPECT_EQ(queue.records[16].type, 135u);
  EXPECT_EQ(queue.records[17].type, 0xFFFFFFFFu);
}

TEST(LemzProto, TextDump) {
  sig_proto chan = record(WM_CHAN);
  chan.priority = 4;
  chan.flag_p = 1;
  sig_proto_set_wm_chan(&chan, 5, 145.5f, 1, 0);
  char text[1024];
  int n = sprintf_sig_proto(text, sizeof text, &chan, 2);
  EXPECT_STREQ(text,
               "type      : WM_CHAN,\n"
               "flag_t   : 0,\nflag_p   : 1,\nflag_r   : 0,\nflag_s   : 0,\nflag_b   : 0,\n"
               "flag_rv  : 0,\nflag_sh  : 0,\nflag_rs  : 0,\nflag_pw  : 0,\nflag_c   : 0,\n"
               "priority : 4,\nstatus   : 0,\n"
               "wm_chan.id   : 5,\nwm_chan.freq : 145.5000,\nwm_chan.squelsh : 1,\nwm_chan.rte     : 0,\n");
  EXPECT_EQ(n, int(std::strlen(text)));

  // The type as a number in mode 1; a buffer too small is cut, never passed.
  n = sprintf_sig_proto(text, 20, &chan, 1);
  EXPECT_STREQ(text, "type      : 0x00000");
  EXPECT_EQ(n, 19);
  sig_proto unknown = record(20);
  EXPECT_EQ(sprintf_sig_proto(text, sizeof text, &unknown, 1), 0);
}

}  // namespace
