// Primitive values: comparison, validity, named numbers and enumeration
// names, bit and octet strings, object identifier contents octets.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "DemoTypes.h"

using namespace ASN1;

namespace {

std::vector<char> bytes(std::initializer_list<int> l) {
  std::vector<char> v;
  for (int b : l) v.push_back(static_cast<char>(b));
  return v;
}

}  // namespace

TEST(Shared, CountBitsAndByteComparison) {
  EXPECT_EQ(32u, CountBits(0));
  EXPECT_EQ(0u, CountBits(1));
  EXPECT_EQ(1u, CountBits(2));
  EXPECT_EQ(2u, CountBits(3));
  EXPECT_EQ(8u, CountBits(256));
  EXPECT_EQ(9u, CountBits(257));
  EXPECT_EQ(31u, CountBits(0x80000000u));
  EXPECT_EQ(32u, CountBits(0x80000001u));

  char const ab[] = "ab";
  char const abc[] = "abc";
  EXPECT_EQ(-1, lexicographic_compare_bytes(ab, ab + 2, abc, abc + 3));
  EXPECT_EQ(1, lexicographic_compare_bytes(abc, abc + 3, ab, ab + 2));
  EXPECT_EQ(0, lexicographic_compare_bytes(ab, ab + 2, abc, abc + 2));
  char const hi[] = "\x80";
  char const lo[] = "\x7f";
  EXPECT_EQ(1, lexicographic_compare_bytes(hi, hi + 1, lo, lo + 1));
  EXPECT_EQ(-1, lexicographic_compare_bytes(lo, lo + 1, hi, hi + 1));
}

TEST(Shared, CreateFromRecord) {
  EXPECT_EQ(nullptr, AbstractData::create(nullptr));
  std::unique_ptr<AbstractData> i(AbstractData::create(&INTEGER::theInfo));
  ASSERT_NE(nullptr, i);
  EXPECT_EQ(&INTEGER::theInfo, i->info());
  EXPECT_EQ(2, i->getTag());
  EXPECT_EQ(0, static_cast<INTEGER&>(*i).getValue());
  std::unique_ptr<AbstractData> s(AbstractData::create(&IA5String::theInfo));
  EXPECT_NE(nullptr, dynamic_cast<IA5String*>(s.get()));
  EXPECT_EQ(22, s->getTag());
}

TEST(Integer, StrictAndPlainValidity) {
  Constrained_INTEGER<FixedConstraint, 0, 4294967295u> big;
  big = 4294967295u;
  EXPECT_TRUE(big.isStrictValid());
  EXPECT_EQ(4294967295u, big.getValue());

  Constrained_INTEGER<FixedConstraint, -128, 127> small;
  small.setValue(-5);
  EXPECT_TRUE(small.isStrictValid());
  small.setValue(200);
  EXPECT_FALSE(small.isStrictValid());
  EXPECT_FALSE(small.isValid());
  small.setValue(-129);
  EXPECT_FALSE(small.isStrictValid());

  static const ConstrainedObject::InfoType extendable = {&INTEGER::create, 2, ExtendableConstraint, 0, 10};
  INTEGER e(11, &extendable);
  EXPECT_FALSE(e.isStrictValid());
  EXPECT_TRUE(e.isValid());
  EXPECT_TRUE(e.extendable());
  EXPECT_TRUE(e.constrained());
}

TEST(Integer, ComparisonAndUnsignedFace) {
  INTEGER a(5, &INTEGER::theInfo), b(7, &INTEGER::theInfo);
  EXPECT_LT(a.compare(b), 0);
  EXPECT_GT(b.compare(a), 0);
  EXPECT_TRUE(a != b);
  b = 5;
  EXPECT_TRUE(a == b);
  // Values far apart still compare as unequal.
  INTEGER lo(-2147483647 - 1, &INTEGER::theInfo), hi(2147483647, &INTEGER::theInfo);
  EXPECT_NE(0, lo.compare(hi));

  Constrained_INTEGER<FixedConstraint, 0, 127> c(100u);
  EXPECT_EQ(103u, 3u + c);
}

TEST(IntegerWithNamedNumber, NamesBySearch) {
  static const IntegerWithNamedNumber::NameEntry entries[] = {{-1, "minus"}, {2, "two"}, {10, "ten"}};
  static const IntegerWithNamedNumber::InfoType info = {&INTEGER::create, 2, Unconstrained, 0, 4294967295u, entries,
                                                        3};
  IntegerWithNamedNumber v(10, &info);
  std::string name = "untouched";
  EXPECT_TRUE(v.getName(name));
  EXPECT_EQ("ten", name);
  v.setValue(5);
  name = "untouched";
  EXPECT_FALSE(v.getName(name));
  EXPECT_EQ("untouched", name);
  EXPECT_TRUE(v.setFromName("minus"));
  EXPECT_EQ(-1, v.getValue());
  EXPECT_FALSE(v.setFromName("three"));
  EXPECT_EQ(-1, v.getValue());

  // A copy keeps its class and so still prints by name.
  std::unique_ptr<AbstractData> copy(v.clone());
  EXPECT_NE(nullptr, dynamic_cast<IntegerWithNamedNumber*>(copy.get()));
  EXPECT_EQ("minus", copy->asValueNotation());
}

TEST(Enumerated, ExplicitValueNamesNeverReadPastTheTable) {
  Demo::Mode m;
  EXPECT_EQ(6u, Demo::Mode::theInfo.numNames);
  EXPECT_EQ(16, m.getMaximum());
  EXPECT_STREQ("initial", m.getName());
  m = Demo::Mode::speak;
  EXPECT_STREQ("speak=4", m.getName());
  std::string id;
  EXPECT_TRUE(m.getIdentifier(id));
  EXPECT_EQ("speak", id);
  m = Demo::Mode::active;
  EXPECT_TRUE(m.getIdentifier(id));
  EXPECT_EQ("active", id);
  // Values between the named ones, and beyond the table's entry count
  // (6..16 would index past six entries), have no name.
  for (int v : {3, 5, 6, 7, 9, 15, 17, -1}) {
    m.setFromInt(v);
    EXPECT_EQ(nullptr, m.getName()) << v;
    EXPECT_FALSE(m.getIdentifier(id)) << v;
  }
}

TEST(Enumerated, GeneratedFaceComparesBothWays) {
  Demo::Mode a(Demo::Mode::speak), b;
  EXPECT_TRUE(a == Demo::Mode::speak);
  EXPECT_TRUE(b != Demo::Mode::speak);
  EXPECT_TRUE(a != b);
  b = a;
  EXPECT_TRUE(a == b);
  Demo::Mode::NamedNumber n = a;
  EXPECT_EQ(Demo::Mode::speak, n);
  EXPECT_TRUE(a.is_speak());
  std::unique_ptr<Demo::Mode> c(a.clone());
  EXPECT_EQ(4, c->asInt());
}

TEST(Enumerated, SetFromNameAndValidity) {
  Demo::Mode m;
  EXPECT_TRUE(m.setFromName("standby"));
  EXPECT_EQ(8, m.asInt());
  EXPECT_TRUE(m.setFromName("active=16"));
  EXPECT_EQ(16, m.asInt());
  EXPECT_FALSE(m.setFromName("sleep"));
  EXPECT_EQ(17, m.asInt());
  EXPECT_FALSE(m.isStrictlyValid());
  EXPECT_TRUE(m.isValid());  // extendable

  static const char* const names[] = {"a", "b", "c", "d", "e", "f", "g", "h", "i", "j", "k", "l", "m"};
  static const ENUMERATED::InfoType plain = {&ENUMERATED::create, 10, false, 12, names, 13};
  ENUMERATED e(&plain);
  e.setFromInt(-1);
  EXPECT_TRUE(e.isStrictlyValid());
  EXPECT_EQ(nullptr, e.getName());
  e.setFromInt(13);
  EXPECT_FALSE(e.isValid());
  e.setFromInt(12);
  EXPECT_STREQ("m", e.getName());

  // Repeated and negative values: the first item with the value names it.
  static const char* const odd[] = {"not-use=-1", "off", "min=0", "rtx1=0", "max"};
  static const ENUMERATED::InfoType oddInfo = {&ENUMERATED::create, 10, false, 1, odd, 5};
  ENUMERATED o(&oddInfo);
  EXPECT_STREQ("off", o.getName());
  o.setFromInt(-1);
  std::string id;
  EXPECT_TRUE(o.getIdentifier(id));
  EXPECT_EQ("not-use", id);
  o.setFromInt(1);
  EXPECT_STREQ("max", o.getName());
  EXPECT_TRUE(o.setFromName("rtx1"));
  EXPECT_EQ(0, o.asInt());
}

TEST(BitString, LayoutResizeAndComparison) {
  BIT_STRING b;
  b.resize(9);
  EXPECT_EQ(9u, b.size());
  EXPECT_EQ(2u, b.getData().size());
  b.set(8);
  EXPECT_EQ(static_cast<char>(0x80), b.getData()[1]);
  EXPECT_TRUE(b[8]);
  EXPECT_FALSE(b[9]);  // beyond the size
  b.set(0);
  b.set(2);
  EXPECT_EQ(static_cast<char>(0xA0), b.getData()[0]);

  BIT_STRING c(b);
  EXPECT_EQ(0, b.compare(c));
  c.clear(2);
  EXPECT_GT(b.compare(c), 0);  // the first differing bit is set in b
  EXPECT_LT(c.compare(b), 0);
  c.set(2);
  c.resize(12);
  EXPECT_EQ(-3, b.compare(c));  // equal bytes: difference of the sizes
}

TEST(BitString, ShrinkingDropsTheBitsItCutsOff) {
  BIT_STRING b;
  b.resize(16);
  b.set(0);
  b.set(13);
  b.resize(12);
  EXPECT_EQ(static_cast<char>(0x00), b.getData()[1]);
  b.resize(16);
  EXPECT_FALSE(b[13]);  // not back after growing again
  BIT_STRING fresh;
  fresh.resize(16);
  fresh.set(0);
  EXPECT_EQ(0, b.compare(fresh));
}

TEST(OctetString, ValidityBySizeConstraint) {
  static const ConstrainedObject::InfoType extendable = {&OCTET_STRING::create, 4, ExtendableConstraint, 2, 4};
  static const ConstrainedObject::InfoType fixed = {&OCTET_STRING::create, 4, FixedConstraint, 2, 4};
  OCTET_STRING a(9, 'x', &extendable), b(9, 'x', &fixed), c(1, 'x', &extendable), d(1, 'x', &fixed);
  EXPECT_TRUE(a.isValid());
  EXPECT_FALSE(a.isStrictlyValid());
  EXPECT_FALSE(b.isValid());
  EXPECT_FALSE(b.isStrictlyValid());
  EXPECT_FALSE(c.isValid());
  EXPECT_FALSE(d.isValid());

  OCTET_STRING x(bytes({0x01, 0xAB}), &OCTET_STRING::theInfo);
  OCTET_STRING y(bytes({0x01, 0x7F}), &OCTET_STRING::theInfo);
  EXPECT_GT(x.compare(y), 0);  // octets compare unsigned
  EXPECT_EQ(std::string("\x01\xab", 2), static_cast<std::string>(x));
  y = bytes({0x01, 0xAB, 0x00});
  EXPECT_LT(x.compare(y), 0);
}

// Callers hold the octets as a plain std::vector<char>: they compare and
// convert both ways, also for contents larger than the node pool's blocks.
TEST(OctetString, ReadsAsAPlainVectorOfChar) {
  std::vector<char> plain(600, '\x5A');
  plain.back() = '\x01';
  OCTET_STRING big(plain, &OCTET_STRING::theInfo);
  EXPECT_TRUE(big == plain);
  EXPECT_TRUE(plain == big);
  std::vector<char> out = big;
  EXPECT_EQ(plain, out);
  OCTET_STRING copy(big);
  copy.back() = '\x02';
  EXPECT_TRUE(copy != plain);
  EXPECT_TRUE(big == plain);  // the copy owns its octets
  copy = bytes({0x01});
  EXPECT_TRUE(copy != plain);
  EXPECT_EQ(1u, copy.size());
  EXPECT_TRUE(OCTET_STRING(&OCTET_STRING::theInfo) == std::vector<char>());
}

TEST(ObjectIdentifier, ContentsOctets) {
  OBJECT_IDENTIFIER oid;
  for (unsigned arc : {1u, 2u, 840u, 113549u}) oid.append(arc);
  std::vector<char> out;
  oid.encodeCommon(out);
  EXPECT_EQ(bytes({0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D}), out);

  OBJECT_IDENTIFIER back;
  ASSERT_TRUE(back.decodeCommon(out.data(), static_cast<unsigned>(out.size())));
  ASSERT_EQ(4u, back.levels());
  EXPECT_EQ(1u, back[0]);
  EXPECT_EQ(2u, back[1]);
  EXPECT_EQ(840u, back[2]);
  EXPECT_EQ(113549u, back[3]);
  EXPECT_EQ(0, back.compare(oid));

  EXPECT_FALSE(back.decodeCommon(out.data(), 2));  // 2A 86: cut inside a subidentifier
  EXPECT_FALSE(back.decodeCommon(out.data(), 0));
  EXPECT_EQ(0u, back.levels());
  EXPECT_FALSE(back.isValid());

  // The first subidentifier splits by 40 and 80.
  std::vector<char> two = bytes({0x81, 0x00, 0x05});  // 128, 5
  ASSERT_TRUE(back.decodeCommon(two.data(), 3));
  EXPECT_EQ(2u, back[0]);
  EXPECT_EQ(48u, back[1]);
  EXPECT_EQ(5u, back[2]);

  // A subidentifier above 32 bits is refused, not wrapped.
  std::vector<char> huge = bytes({0x2A, 0x90, 0x80, 0x80, 0x80, 0x00});
  EXPECT_FALSE(back.decodeCommon(huge.data(), static_cast<unsigned>(huge.size())));
  std::vector<char> max = bytes({0x2A, 0x8F, 0xFF, 0xFF, 0xFF, 0x7F});
  ASSERT_TRUE(back.decodeCommon(max.data(), static_cast<unsigned>(max.size())));
  EXPECT_EQ(4294967295u, back[2]);

  OBJECT_IDENTIFIER one;
  one.append(1);
  out.assign(3, 'x');
  EXPECT_FALSE(one.encodeCommon(out));
  EXPECT_TRUE(out.empty());

  OBJECT_IDENTIFIER shorter;
  shorter.append(1);
  shorter.append(2);
  EXPECT_EQ(-2, shorter.compare(oid));
}

// Values are made from per-thread pools and may be dropped on another
// thread: blocks that change threads must neither be lost nor handed out
// twice, whatever their size.
TEST(NodePool, ValuesDroppedOnAnotherThreadLeaveBothThreadsWhole) {
  auto batch = [](unsigned n) {
    std::unique_ptr<Demo::Batch> b(new Demo::Batch);
    Demo::Item item;
    for (unsigned i = 0; i < n; ++i) {
      item.set_id(i);
      item.set_label(std::string(i % 40, 'x'));
      b->ref_items().push_back(item);
    }
    return b;
  };
  std::vector<std::unique_ptr<Demo::Batch> > made;
  for (unsigned n : {1u, 7u, 70u, 128u}) made.push_back(batch(n));  // 70 and 128: lists past 512 octets
  std::unique_ptr<Demo::Batch> expected(made[2]->clone());

  std::thread other([&made, &batch] {
    made.clear();  // every block of this thread's values goes to the other pool
    for (int round = 0; round < 3; ++round) made.push_back(batch(70));
  });
  other.join();
  // Both pools keep serving distinct blocks: values made now on each side
  // do not overwrite one another.
  std::vector<std::unique_ptr<Demo::Batch> > here;
  for (int round = 0; round < 3; ++round) here.push_back(batch(70));
  for (auto const& b : made) EXPECT_EQ(0, b->compare(*expected));
  for (auto const& b : here) EXPECT_EQ(0, b->compare(*expected));
  here.clear();
  made.clear();
  EXPECT_EQ(0, batch(70)->compare(*expected));
}

#ifndef QV_ASN1_HEAP_NODES
// However many values of one size are dropped at once, the thread keeps a
// bounded number of their blocks; the rest go back to the heap.
TEST(NodePool, KeepsABoundedNumberOfBlocksPerSize) {
  std::vector<std::unique_ptr<INTEGER> > many;
  for (unsigned i = 0; i < detail::NodePool::keep + 100; ++i) many.emplace_back(new INTEGER(static_cast<int>(i), &INTEGER::theInfo));
  many.clear();
  std::size_t c = (sizeof(INTEGER) - 1) / detail::NodePool::grain;
  EXPECT_EQ(0u, detail::nodePool.room[c]);  // the list is full
  std::unique_ptr<INTEGER> again(new INTEGER(7, &INTEGER::theInfo));
  EXPECT_EQ(1u, detail::nodePool.room[c]);
}
#endif
