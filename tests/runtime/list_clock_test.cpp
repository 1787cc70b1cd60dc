#include "runtime/Clock.h"
#include "runtime/List.h"
#include "runtime/TestClock.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <time.h>

#include <algorithm>
#include <cstdint>
#include <vector>

namespace {

struct Item : F_dual_list_item<Item> {
  unsigned int key = 0;
  int tag = 0;
  int compare(const Item* other) const { return static_cast<std::int32_t>(key - other->key); }
};

std::vector<int> tags(const F_dual_list<Item>& l) {
  std::vector<int> out;
  for (Item* i : l) out.push_back(i->tag);
  return out;
}

std::vector<int> tags_backwards(const F_dual_list<Item>& l) {
  std::vector<int> out;
  for (Item* i = l.last_item(); i; i = i->get_prev()) out.push_back(i->tag);
  return out;
}

TEST(List, LinksStayConsistentThroughInsertsAndRemoves) {
  Item a, b, c, d;
  a.tag = 1, b.tag = 2, c.tag = 3, d.tag = 4;
  F_dual_list<Item> l;
  l.insert_to_tail(&b);
  l.insert_to_head(&a);
  l.push_back(&d);
  l.insert_after(&b, &c);
  EXPECT_EQ(tags(l), (std::vector<int>{1, 2, 3, 4}));
  EXPECT_EQ(tags_backwards(l), (std::vector<int>{4, 3, 2, 1}));
  EXPECT_EQ(l.count(), 4u);

  l.remove(&c);
  l.remove(&a);
  EXPECT_EQ(tags(l), (std::vector<int>{2, 4}));
  EXPECT_EQ(tags_backwards(l), (std::vector<int>{4, 2}));
  EXPECT_EQ(l.remove_from_tail(), &d);
  EXPECT_EQ(l.remove_from_head(), &b);
  EXPECT_EQ(l.count(), 0u);
  EXPECT_EQ(l.first_item(), nullptr);
  EXPECT_EQ(l.last_item(), nullptr);
  EXPECT_EQ(l.remove_from_head(), nullptr);
  EXPECT_EQ(l.remove_from_tail(), nullptr);
  EXPECT_EQ(l.count(), 0u);

  // insert_after the tail moves the tail.
  l.insert_to_tail(&a);
  l.insert_after(&a, &b);
  EXPECT_EQ(l.last_item(), &b);
  EXPECT_EQ(std::find(l.begin(), l.end(), &b) != l.end(), true);
  EXPECT_EQ(std::find(l.begin(), l.end(), &c) == l.end(), true);
}

TEST(List, MergeExchangesContents) {
  Item a, b, c;
  a.tag = 1, b.tag = 2, c.tag = 3;
  F_dual_list<Item> x, y;
  y.insert_to_tail(&a);
  y.insert_to_tail(&b);
  x.merge(y);
  EXPECT_EQ(tags(x), (std::vector<int>{1, 2}));
  EXPECT_EQ(y.count(), 0u);
  EXPECT_EQ(y.first_item(), nullptr);

  y.insert_to_tail(&c);
  x.merge(y);
  EXPECT_EQ(tags(x), (std::vector<int>{3}));
  EXPECT_EQ(tags(y), (std::vector<int>{1, 2}));
}

TEST(List, ArrayInitLinksInAddressOrder) {
  std::vector<Item> blocks(1024);
  F_dual_list<Item> l(blocks.data(), 1024);
  EXPECT_EQ(l.count(), 1024u);
  EXPECT_EQ(l.first_item(), &blocks[0]);
  EXPECT_EQ(l.last_item(), &blocks[1023]);
  Item* prev = nullptr;
  unsigned n = 0;
  for (Item* i : l) {
    if (prev) {
      EXPECT_EQ(i, prev + 1);
    }
    prev = i;
    ++n;
  }
  EXPECT_EQ(n, 1024u);
}

TEST(SortedList, EqualKeysKeepInsertionOrderAndWrapSortsBySignedDifference) {
  Item a, b, c, early, wrapped, late;
  a.key = b.key = c.key = 5000, a.tag = 1, b.tag = 2, c.tag = 3;
  early.key = 4000, early.tag = 0;
  F_sorted_list<Item> l;
  l.insert_to_tail_by_grown(&a);
  l.insert_to_tail_by_grown(&b);
  l.insert_to_tail_by_grown(&c);
  l.insert_to_tail_by_grown(&early);
  EXPECT_EQ(tags(l), (std::vector<int>{0, 1, 2, 3}));

  F_sorted_list<Item> w;
  late.key = 256, late.tag = 2;             // after the wrap
  wrapped.key = 0xFFFFFF00u, wrapped.tag = 1;  // before it
  w.insert_to_tail_by_grown(&late);
  w.insert_to_tail_by_grown(&wrapped);
  EXPECT_EQ(tags(w), (std::vector<int>{1, 2}));
}

TEST(Clock, MillisecondsWrapModulo2To32) {
  Mux::TestClock clock(Mux::TestClock::Manual, 4294967, 296000);
  EXPECT_EQ(Mux::milliseconds(), 0u);
  clock.set(4294967, 295999);
  EXPECT_EQ(Mux::milliseconds(), 4294967295u);
  clock.set(0, 999);
  EXPECT_EQ(Mux::milliseconds(), 0u);
  clock.set(12, 345678);
  EXPECT_EQ(Mux::milliseconds(), 12345u);
  EXPECT_EQ(Mux::microseconds(), 12345678u);
  EXPECT_EQ(Mux::seconds(), 12);
  clock.set_milliseconds(0xFFFFFF00u);
  EXPECT_EQ(Mux::milliseconds(), 0xFFFFFF00u);
  clock.advance(0x100);
  EXPECT_EQ(Mux::milliseconds(), 0u);
}

TEST(Clock, SnapshotHoldsUntilRefreshed) {
  Mux::TestClock clock(Mux::TestClock::Manual, 100, 0);
  Mux::mux_settimeofday();
  clock.advance(500);
  EXPECT_EQ(Mux::milliseconds(), 100000u);
  Mux::mux_settimeofday();
  EXPECT_EQ(Mux::milliseconds(), 100500u);
  Mux::g_tv_time = Mux::timeval();
  clock.advance(1);
  EXPECT_EQ(Mux::milliseconds(), 100501u);
}

TEST(Clock, SystemSourceIsLiveWithoutTestClock) {
  ::timeval tv;
  gettimeofday(&tv, nullptr);
  long s = Mux::seconds();
  EXPECT_LE(std::labs(s - tv.tv_sec), 2);
}

TEST(Timeval, Arithmetic) {
  using Mux::timeval;
  EXPECT_EQ(Mux::timevaldiff(timeval(10, 900000), timeval(11, 100000)), 200u);
  EXPECT_EQ(Mux::timevaldiff(timeval(11, 0), timeval(10, 0)), 0u);

  timeval a(5, 100000);
  Mux::timevalsub(a, timeval(2, 300000));
  EXPECT_EQ(a.tv_sec, 2);
  EXPECT_EQ(a.tv_usec, 800000);

  timeval b(1, 600000);
  Mux::timevaladd(b, timeval(2, 700000));
  EXPECT_EQ(b.tv_sec, 4);
  EXPECT_EQ(b.tv_usec, 300000);

  timeval out;
  Mux::timevalsub2(timeval(5, 100000), timeval(2, 300000), out);
  EXPECT_EQ(out.tv_sec, 2);
  EXPECT_EQ(out.tv_usec, 800000);
  Mux::timevaladd2(timeval(1, 600000), timeval(2, 700000), out);
  EXPECT_EQ(out.tv_sec, 4);

  Mux::timevalset(out, 123456789ull);
  EXPECT_EQ(out.tv_sec, 123456);
  EXPECT_EQ(out.tv_usec, 789000);
  EXPECT_EQ(Mux::make_from_usec(2500001).tv_sec, 2);
  EXPECT_EQ(Mux::make_from_usec(2500001).tv_usec, 500001);
  EXPECT_EQ(Mux::make_from_msec(2500).tv_usec, 500000);
  EXPECT_EQ(Mux::timevalcompare(timeval(1, 2), timeval(1, 3)), -1);
  EXPECT_EQ(Mux::timevalcompare(timeval(2, 0), timeval(1, 999999)), 1);
  EXPECT_EQ(Mux::timevalcompare(timeval(2, 5), timeval(2, 5)), 0);
}

TEST(Timeval, TextInLocalTime) {
  const char* old = getenv("TZ");
  std::string saved = old ? old : "";
  setenv("TZ", "UTC", 1);
  tzset();
  EXPECT_EQ(Mux::timevaltostring(Mux::timeval(0, 5)), "1970-01-01 00:00:00.000005");
  if (old)
    setenv("TZ", saved.c_str(), 1);
  else
    unsetenv("TZ");
  tzset();
}

TEST(Timeval, TimerExpiresStrictlyAfterItsPeriod) {
  Mux::timeval_timer t;
  t.init(Mux::timeval(10, 0), 1000);
  EXPECT_FALSE(t.is_expired(Mux::timeval(11, 0)));
  EXPECT_TRUE(t.is_expired(Mux::timeval(11, 1000)));
  t.inc();
  EXPECT_EQ(t.start.tv_sec, 11);
  t.init(Mux::timeval(10, 0), 0);
  EXPECT_FALSE(t.is_expired(Mux::timeval(1000, 0)));
}

TEST(Select, EmptySetPassesNoSet) {
  Mux::Set s;
  EXPECT_EQ(s.get(), nullptr);
  ::timeval zero{0, 0};
  EXPECT_EQ(Mux::select_rd(s, &zero), 0);
  int p[2];
  ASSERT_EQ(pipe(p), 0);
  ASSERT_EQ(write(p[1], "x", 1), 1);
  Mux::Set r;
  r.add(p[0]);
  EXPECT_EQ(Mux::select_rd(r, &zero), 1);
  EXPECT_TRUE(r.is_set(p[0]));
  close(p[0]);
  close(p[1]);
}

// A descriptor beyond the fd_set's room would be written past its end, into
// max_fd: it is refused and the set stays as it was.
TEST(Select, DescriptorsOutsideTheSetAreRefused) {
  Mux::Set s;
  s.add(FD_SETSIZE);
  s.add(FD_SETSIZE + 7);
  s.add(-1);
  EXPECT_EQ(s.max_fd, -1);
  EXPECT_EQ(s.get(), nullptr);
  EXPECT_FALSE(s.is_set(FD_SETSIZE));
  EXPECT_TRUE(s.add(FD_SETSIZE - 1));
  EXPECT_FALSE(s.add(FD_SETSIZE));
  EXPECT_EQ(s.max_fd, FD_SETSIZE - 1);
  EXPECT_TRUE(s.is_set(FD_SETSIZE - 1));
  EXPECT_FALSE(s.is_set(FD_SETSIZE - 2));
}

}  // namespace
