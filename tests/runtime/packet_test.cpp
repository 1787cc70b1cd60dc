// Packets: byte orders, room, copy-on-write, the pool, diagnostics and the
// fatal contract checks.
#include "runtime/Packet.h"
#include "RuntimeTestUtil.h"

#include <gtest/gtest.h>

#include <memory>
#include <new>
#include <sstream>
#include <string>
#include <vector>

using rt_test::Lit;

namespace {

Packet bytes(std::initializer_list<unsigned char> b) {
  Packet p;
  p.reserve_head(0);
  for (unsigned char c : b) p.put8(c);
  return p;
}

std::string info(const Packet& p) {
  std::ostringstream os;
  os << PacketInfo(p);
  return os.str();
}

TEST(Packet, FixedWidthByteOrders) {
  Packet p = bytes({});
  p.put16(0x1234);
  p.put16_b(0x1234);
  EXPECT_EQ(p.text(), "34 12 12 34");

  Packet q;
  q.reserve_head(8);
  q.put8(0xAA);
  q.push16_b(0x1234);
  q.push8(0x01);
  EXPECT_EQ(q.text(), "01 12 34 AA");
  EXPECT_EQ(q.pull8(), 0x01);
  EXPECT_EQ(q.pull16_b(), 0x1234);
  EXPECT_EQ(q.pull16(), 0x00AA);  // one byte left: the missing high byte reads 0
  EXPECT_TRUE(q.empty());
  EXPECT_EQ(q.pull8(), 0);
  EXPECT_EQ(q.length(), 0u);

  Packet one = bytes({0x12});
  EXPECT_EQ(one.pull16_b(), 0x1200);
  Packet two = bytes({0x12});
  EXPECT_EQ(two.pull16_l(), 0x0012);
  Packet le = bytes({0x34, 0x12});
  EXPECT_EQ(le.pull16(), 0x1234);
}

TEST(Packet, RoomReservation) {
  Packet a;
  EXPECT_TRUE(a.null());
  EXPECT_EQ(a.length(), 0u);
  EXPECT_TRUE(a.empty());
  a.reserve_head(0);
  EXPECT_EQ(a._headroom(), 0u);
  EXPECT_EQ(a._tailroom(), 65536u);
  Packet b;
  b.reserve_tail(0);
  EXPECT_EQ(b._headroom(), 65536u);
  EXPECT_EQ(b._tailroom(), 0u);
  Packet c;
  c.reserve_head(4);
  c.reserve_head(3);
  EXPECT_EQ(c._headroom(), 7u);
  EXPECT_EQ(c.tailroom(), 65536u - 7);
  EXPECT_EQ(c.length(), 0u);
  Packet d;
  d.reserve_tail(10);
  d.reserve_tail(6);
  EXPECT_EQ(d._tailroom(), 16u);

  // Data already there moves with the window.
  Packet e = bytes({1, 2, 3});
  e.reserve_head(2);
  EXPECT_EQ(e.text(), "01 02 03");
  EXPECT_EQ(e._headroom(), 2u);
  e.push16_b(0xABCD);
  EXPECT_EQ(e.text(), "AB CD 01 02 03");
  EXPECT_FALSE(e < 5u);
  EXPECT_TRUE(e < 6u);
}

TEST(Packet, CopyOnWrite) {
  const unsigned before = PacketPool::in_use();
  Packet a = bytes({1, 2});
  Packet b(a);
  EXPECT_EQ(PacketPool::in_use(), before + 1);
  EXPECT_EQ(a.use_count(), 2u);
  b.put8(3);
  EXPECT_EQ(a.length(), 2u);
  EXPECT_EQ(b.text(), "01 02 03");
  EXPECT_EQ(PacketPool::in_use(), before + 2);
  EXPECT_EQ(a.use_count(), 1u);

  // Reading operations that move the window privatise too.
  Packet c(a);
  EXPECT_EQ(c.pull8(), 1);
  EXPECT_EQ(a.text(), "01 02");
  EXPECT_EQ(c.text(), "02");

  // The clone keeps the window offsets.
  Packet d;
  d.reserve_head(100);
  d.put8(9);
  Packet e(d);
  e.put8(8);
  EXPECT_EQ(e._headroom(), 100u);
  EXPECT_EQ(e.text(), "09 08");

  Packet f(a);
  f = c;
  EXPECT_EQ(a.use_count(), 1u);
  f.clear();
  EXPECT_TRUE(f.null());
  a.clear();
  b.clear();
  c.clear();
  d.clear();
  e.clear();
  EXPECT_EQ(PacketPool::in_use(), before);
}

TEST(Packet, PoolIsFirstInFirstOutAndThe1025thBufferFails) {
  std::vector<Packet> held;
  while (PacketPool::in_use() < PacketPool::capacity()) {
    held.emplace_back();
    held.back().reserve_head(0);
  }
  Packet extra;
  EXPECT_THROW(extra.reserve_head(0), std::bad_alloc);
  EXPECT_TRUE(extra.null());
  Packet shared(held[0]);
  EXPECT_THROW(shared.put8(1), std::bad_alloc);  // no buffer for the private copy

  const unsigned char* first = held[5].get()->buffer;
  const unsigned char* second = held[9].get()->buffer;
  held[5].clear();
  held[9].clear();
  Packet x, y;
  x.reserve_head(0);
  y.reserve_head(0);
  EXPECT_EQ(x.get()->buffer, first);
  EXPECT_EQ(y.get()->buffer, second);
}

TEST(Packet, StringsPacketsAndSub) {
  Packet p = bytes({});
  EXPECT_EQ(p.put(std::string("abc")), 3u);
  EXPECT_EQ(p.text(), "03 61 62 63");
  EXPECT_EQ(p.pull_string(), "abc");
  EXPECT_TRUE(p.empty());
  Packet shortp = bytes({5, 'h', 'i'});
  EXPECT_EQ(shortp.pull_string(), std::string("hi\0\0\0", 5));

  Packet q = bytes({1, 2, 3, 4});
  Packet s = q.sub(2, 1);
  EXPECT_EQ(s.text(), "02 03");
  EXPECT_EQ(s.use_count(), 1u);
  EXPECT_EQ(q.text(), "01 02 03 04");
  EXPECT_EQ(q.sub(0, 4).length(), 0u);
  EXPECT_EQ(q.sub(4, 0).text(), "01 02 03 04");

  Packet r = bytes({9});
  EXPECT_EQ(r.put(q), 4u);
  EXPECT_EQ(r.put(Packet()), 0u);
  EXPECT_EQ(r.text(), "09 01 02 03 04");
  r[0] = 7;
  const Packet& cr = r;
  EXPECT_EQ(cr[0], 7);
  EXPECT_EQ(*r.data(), 7);
  EXPECT_EQ(r.tail() - r.data(), 5);
}

TEST(Packet, TextDumpAndInfo) {
  Packet p = bytes({0x00, 0x0A, 0xFF});
  EXPECT_EQ(p.text(), "00 0A FF");
  std::ostringstream s1;
  s1 << p;
  EXPECT_EQ(s1.str(), "00 0A FF");
  EXPECT_EQ(Packet().text(), "(null)");
  EXPECT_EQ(bytes({}).text(), "");

  std::ostringstream d;
  EXPECT_TRUE(p.dump(d));
  EXPECT_EQ(d.str(), "head=0, data=3, tail=65533");
  std::ostringstream c;
  EXPECT_TRUE(p.dump_context(c));
  EXPECT_EQ(c.str(), "dump: 0 a ff");
  std::ostringstream n;
  EXPECT_FALSE(Packet().dump(n));
  EXPECT_FALSE(Packet().dump_context(n));
  EXPECT_TRUE(bytes({}).dump_context(n));
  EXPECT_EQ(n.str(), "");

  EXPECT_EQ(info(p), "head=0, data=3, tail=65533\ndump:\n 0 a ff\n");
  EXPECT_EQ(info(Packet()), "(null)\n");
  EXPECT_EQ(info(bytes({})), "head=0, data=0, tail=65536\n");
}

// ---------------------------------------------------------------- fatal checks

std::string assertion(const std::string& msg, const std::string& packet_info) {
  return "^" + Lit("PACKET ASSERTION FAILED!\n" + msg + "\n" + packet_info);
}

TEST(PacketDeathTest, RoomAndLengthContracts) {
  EXPECT_DEATH(Packet().reserve_head(65537), assertion("length>packet_max_size", "(null)\n"));
  EXPECT_DEATH(Packet().reserve_tail(65537), assertion("len>packet_max_size", "(null)\n"));
  EXPECT_DEATH(
      {
        Packet p;
        p.reserve_head(65000);
        p.reserve_head(1000);
      },
      assertion("new_len>packet_max_size", "head=65000, data=0, tail=536\n"));
  EXPECT_DEATH(
      {
        Packet p = bytes({1, 2, 3, 4});
        p.sub(4, 1);
      },
      assertion("start+len<=_length()", "head=0, data=4, tail=65532\ndump:\n 1 2 3 4\n"));
  EXPECT_DEATH(
      {
        Packet p = bytes({1, 2, 3, 4});
        p.sub(2, 5);
      },
      assertion("start<=_length()", "head=0, data=4, tail=65532\ndump:\n 1 2 3 4\n"));
  EXPECT_DEATH(
      {
        Packet p = bytes({1});
        p.pull(2);
      },
      assertion("len<=_length()", "head=0, data=1, tail=65535\ndump:\n 1\n"));
  EXPECT_DEATH(
      {
        Packet p = bytes({1});
        p.trim(2);
      },
      assertion("len<=_length()", "head=0, data=1, tail=65535\ndump:\n 1\n"));
  EXPECT_DEATH(
      {
        Packet p;
        p.reserve_tail(1);
        p.put(2);
      },
      assertion("len<=_tailroom()", "head=65535, data=0, tail=1\n"));
  EXPECT_DEATH(bytes({7}).push8(1), assertion("len<=_headroom()", "head=0, data=1, tail=65535\ndump:\n 7\n"));
  EXPECT_DEATH(
      {
        Packet p = bytes({7});
        p[1] = 0;
      },
      assertion("index out of range", "head=0, data=1, tail=65535\ndump:\n 7\n"));
  EXPECT_DEATH(Packet().data(), assertion("null packet", "(null)\n"));
  EXPECT_DEATH(Packet().put8(1), assertion("null packet", "(null)\n"));
  EXPECT_DEATH(Packet().pull8(), assertion("null packet", "(null)\n"));
  EXPECT_DEATH(Packet().tailroom(), assertion("null packet", "(null)\n"));
}

TEST(PacketDeathTest, AHugeSubLengthCannotWrapPastTheCheck) {
  // start + len overflows 32 bits to 0: still refused.
  EXPECT_DEATH(
      {
        Packet p = bytes({1, 2, 3, 4});
        p.sub(0xFFFFFFFFu, 1);
      },
      assertion("start+len<=_length()", "head=0, data=4, tail=65532\ndump:\n 1 2 3 4\n"));
}

TEST(PacketDeathTest, OverlongStringIsRefused) {
  EXPECT_DEATH(bytes({}).put(std::string(256, 'x')), assertion("string length>255", "head=0, data=0, tail=65536\n"));
}

TEST(PacketDeathTest, NullHandleAndCheckTexts) {
  EXPECT_DEATH(Packet()._length(), "^" + Lit("SMART POINTER ASSERTION!\n"));
  EXPECT_DEATH(Packet()._headroom(), "^" + Lit("SMART POINTER ASSERTION!\n"));
  EXPECT_DEATH(SharedPtrAssertion(), "^" + Lit("SHARED POINTER ASSERTION!\n"));
  EXPECT_DEATH(Packet::check_fail("after \"%s\" fdata invalid", "put"),
               "^" + Lit("packet check fail\nafter \"put\" fdata invalid\nterminate.\n"));
  EXPECT_DEATH(Packet().check("trim"), "^" + Lit("packet check fail\nafter \"trim\" packet is null\nterminate.\n"));
}

}  // namespace
