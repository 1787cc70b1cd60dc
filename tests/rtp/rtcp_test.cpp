// RTCP source description and goodbye packets, bytes worked out by hand
// from RFC 3550 (6.4.1 common header, 6.5 SDES, 6.6 BYE).
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "rtp/Rtcp.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes encode(RTPC::Msg const& m, unsigned int size, unsigned int* result = nullptr) {
  std::vector<char> buf(size + 16, char(0xEE));
  unsigned int n = m.encode(buf.data(), size);
  if (result) *result = n;
  // Not one byte past the size the encoder was given.
  for (size_t i = size; i < buf.size(); ++i) EXPECT_EQ(uint8_t(buf[i]), 0xEE) << "byte " << i;
  return Bytes(buf.begin(), buf.begin() + n);
}

Bytes text(const std::string& s) { return Bytes(s.begin(), s.end()); }

Bytes cat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (auto const& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

// What an analyser checks of one packet: version 2, no padding bit, one
// source, the length field, and for SDES a chunk whose item list ends with
// a zero octet followed only by zero octets; for BYE an optional reason
// whose length fits, followed only by zero octets. Empty when sound.
std::string analyse(const Bytes& p) {
  if (p.size() < 8 || p.size() % 4) return "size";
  if ((p[0] >> 6) != 2) return "version";
  if (p[0] & 0x20) return "padding bit";
  if ((p[0] & 31) != 1) return "count";
  if (((p[2] << 8) | p[3]) + 1u != p.size() / 4) return "length";
  size_t at = 8;
  if (p[1] == 202) {
    for (;;) {
      if (at >= p.size()) return "item list not ended";
      if (p[at] == 0) break;
      if (at + 2 > p.size() || at + 2 + p[at + 1] > p.size()) return "item past the end";
      at += 2 + p[at + 1];
    }
  } else if (p[1] == 203) {
    if (at == p.size()) return "";
    if (at + 1 + p[at] > p.size()) return "reason past the end";
    at += 1 + p[at];
  } else {
    return "type";
  }
  for (; at < p.size(); ++at)
    if (p[at] != 0) return "padding not zero";
  return "";
}

TEST(Rtcp, ByeSessionEndIsTwentyBytesWithoutPadding) {
  // 0x81: V=2, P=0, SC=1; 203; 20 bytes = 5 words -> length 4; SSRC; the
  // reason's length 11 and text end exactly on a word.
  Bytes want = cat({{0x81, 0xCB, 0x00, 0x04, 0x12, 0x34, 0x56, 0x78, 0x0B}, text("session end")});
  EXPECT_EQ(encode(RTPC::BYE(0x12345678, "session end"), 1024), want);
  // Without a reason: the SSRC alone, length 1.
  EXPECT_EQ(encode(RTPC::BYE(0xFEDCBA98, ""), 1024),
            (Bytes{0x81, 0xCB, 0x00, 0x01, 0xFE, 0xDC, 0xBA, 0x98}));
  // "bye" needs one zero octet to reach the word: 1 + 3 = 4.
  EXPECT_EQ(encode(RTPC::BYE(1, "bye"), 1024),
            cat({{0x81, 0xCB, 0x00, 0x02, 0, 0, 0, 1, 0x03}, text("bye")}));
}

TEST(Rtcp, SdesItemsThenEndOfListAndPadding) {
  RTPC::SDES one(0xDEADBEEF);
  one.add(RTPC::SDES::Item::CNAME, "abc");
  // Item 01 03 "abc" (5 bytes), then the end of the list and padding: 3 zeros.
  EXPECT_EQ(encode(one, 1024), cat({{0x81, 0xCA, 0x00, 0x03, 0xDE, 0xAD, 0xBE, 0xEF, 0x01, 0x03},
                                    text("abc"),
                                    {0, 0, 0}}));

  // The packet a session start sends: CNAME, EMAIL, PHONE in that order.
  RTPC::SDES start(0x01020304);
  start.add(RTPC::SDES::Item::CNAME, "Kavrel Sonmark");
  start.add(RTPC::SDES::Item::EMAIL, "ops@example.org");
  start.add(RTPC::SDES::Item::PHONE, "+1 555");
  // 8 + (2+14) + (2+15) + (2+6) = 49; end octet -> 50; padded to 52:
  // 13 words, length 12.
  Bytes want = cat({{0x81, 0xCA, 0x00, 0x0C, 0x01, 0x02, 0x03, 0x04, 0x01, 0x0E},
                    text("Kavrel Sonmark"),
                    {0x03, 0x0F},
                    text("ops@example.org"),
                    {0x04, 0x06},
                    text("+1 555"),
                    {0, 0, 0}});
  EXPECT_EQ(encode(start, 1024), want);
}

TEST(Rtcp, SdesWithoutItemsStillEndsItsList) {
  // A chunk's item list always ends with a zero octet, padded to the word:
  // the SSRC and one zero word, 12 bytes, length 2.
  EXPECT_EQ(encode(RTPC::SDES(0xA0B0C0D0), 1024),
            (Bytes{0x81, 0xCA, 0x00, 0x02, 0xA0, 0xB0, 0xC0, 0xD0, 0, 0, 0, 0}));
}

TEST(Rtcp, LongTextsAreCutTo255) {
  RTPC::SDES s(7);
  s.add(RTPC::SDES::Item::CNAME, std::string(300, 'x'));
  // 8 + 2 + 255 = 265, end octet -> 266, padded to 268: length 66.
  Bytes p = encode(s, 1024);
  ASSERT_EQ(p.size(), 268u);
  EXPECT_EQ(p[3], 66);
  EXPECT_EQ(p[8], 0x01);
  EXPECT_EQ(p[9], 0xFF);
  EXPECT_EQ(p[264], 'x');
  EXPECT_EQ(p[265], 0);

  Bytes b = encode(RTPC::BYE(7, std::string(300, 'y')), 1024);
  // 8 + 1 + 255 = 264: already a word, no padding; length 65.
  ASSERT_EQ(b.size(), 264u);
  EXPECT_EQ(b[3], 65);
  EXPECT_EQ(b[8], 0xFF);
}

TEST(Rtcp, SmallBuffersGiveSoundPacketsOrNothing) {
  RTPC::SDES sdes(0x11223344);
  sdes.add(RTPC::SDES::Item::CNAME, "Kavrel Sonmark");
  sdes.add(RTPC::SDES::Item::EMAIL, "a");
  sdes.add(RTPC::SDES::Item::PHONE, std::string(40, '9'));
  RTPC::BYE bye(0x11223344, "session end");
  for (unsigned int size = 0; size <= 96; ++size) {
    for (RTPC::Msg const* m : {static_cast<RTPC::Msg const*>(&sdes), static_cast<RTPC::Msg const*>(&bye)}) {
      unsigned int n = 0;
      Bytes p = encode(*m, size, &n);
      if (n == 0) continue;
      EXPECT_LE(n, size);
      EXPECT_EQ(analyse(p), "") << "size " << size << " type " << m->pt();
    }
  }
  // Fewer than 8 bytes: nothing; an SDES needs 12 for its ended list and
  // leaves out whole items that do not fit with the end of the list; a BYE
  // shortens its reason to the room left and leaves it out when none is.
  unsigned int n = 1;
  encode(bye, 7, &n);
  EXPECT_EQ(n, 0u);
  encode(sdes, 11, &n);
  EXPECT_EQ(n, 0u);
  EXPECT_EQ(encode(sdes, 27), (Bytes{0x81, 0xCA, 0x00, 0x02, 0x11, 0x22, 0x33, 0x44, 0, 0, 0, 0}));
  EXPECT_EQ(encode(sdes, 28), cat({{0x81, 0xCA, 0x00, 0x06, 0x11, 0x22, 0x33, 0x44, 0x01, 0x0E},
                                   text("Kavrel Sonmark"),
                                   {0x03, 0x01, 'a', 0}}));
  EXPECT_EQ(encode(bye, 8).size(), 8u);
  EXPECT_EQ(encode(bye, 11), (Bytes{0x81, 0xCB, 0x00, 0x01, 0x11, 0x22, 0x33, 0x44}));
  EXPECT_EQ(encode(bye, 12), (Bytes{0x81, 0xCB, 0x00, 0x02, 0x11, 0x22, 0x33, 0x44, 0x03, 's', 'e', 's'}));
}

}  // namespace
