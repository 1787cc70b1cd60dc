// The ring queue of packet handles and the modulo-128 sequence number.
#include <gtest/gtest.h>

#include "runtime/Packet.h"
#include "signalling/CleanQueue.h"
#include "signalling/Cyclic.h"

namespace {

using Seq = Cyclic<unsigned, 127>;

TEST(CleanQueue, EndsFullEmptyAndWrap) {
  CleanQueue<int, 3> q;
  int v = 0;
  EXPECT_FALSE(q.get(&v));
  EXPECT_FALSE(q.get_last(&v));
  EXPECT_FALSE(q.preview(nullptr));
  EXPECT_TRUE(q.put(1));
  EXPECT_TRUE(q.put(2));
  EXPECT_TRUE(q.append(0));  // in front of the head: taken first
  EXPECT_FALSE(q.put(9));
  EXPECT_FALSE(q.append(9));
  EXPECT_EQ(q.count(), 3u);
  EXPECT_TRUE(q.preview(nullptr));
  ASSERT_TRUE(q.get(v));
  EXPECT_EQ(v, 0);
  ASSERT_TRUE(q.get_last(&v));
  EXPECT_EQ(v, 2);
  // Round the ring a few times: order stays first in, first out.
  for (int i = 10; i < 20; ++i) {
    ASSERT_TRUE(q.put(i));
    ASSERT_TRUE(q.get(&v));
    EXPECT_EQ(v, i == 10 ? 1 : i - 1);
  }
  EXPECT_EQ(q.count(), 1u);
  EXPECT_EQ(q.size(), 3u);
}

TEST(CleanQueue, TakenSlotsLetTheirBuffersGo) {
  CleanQueue<Packet, 4> q;
  Packet p;
  p.reserve_head(0);
  p.put8(1);
  q.put(p);
  q.append(p);
  EXPECT_EQ(p.use_count(), 3u);
  Packet out;
  q.get(&out);
  q.get_last(nullptr);
  out.clear();
  EXPECT_EQ(p.use_count(), 1u);  // the queue holds nothing any more
}

TEST(Cyclic, WrapsAndTestsWindows) {
  Seq a(127);
  EXPECT_EQ(unsigned(a + Seq(1)), 0u);
  EXPECT_EQ(unsigned(Seq(0) - Seq(1)), 127u);
  EXPECT_EQ(unsigned(++a), 0u);
  EXPECT_EQ(unsigned(--a), 127u);
  EXPECT_EQ(unsigned(Seq(300)), 300u & 127);
  // The window 120..3 across the wrap.
  for (unsigned b : {120u, 127u, 0u, 3u}) EXPECT_TRUE((Seq(120) <= Seq(b)) <= Seq(3)) << b;
  for (unsigned b : {4u, 119u}) EXPECT_FALSE((Seq(120) <= Seq(b)) <= Seq(3)) << b;
  EXPECT_TRUE(inWindow(5, 5, 5));
  EXPECT_FALSE(inWindow(5, 6, 5));
}

}  // namespace
