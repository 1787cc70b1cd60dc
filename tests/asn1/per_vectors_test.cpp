// Aligned PER wire vectors worked out by hand, bit by bit, for each
// construct. Every vector is also decoded back and every proper prefix of
// it refused (roundTrip). The comments give the bits as written.
#include <gtest/gtest.h>

#include "PerTestUtil.h"
#include "PerTypes.h"

using namespace ASN1;
using namespace PerTest;

// ---- constrained whole numbers, one per width class

TEST(PerConstrained, OneBitRange) {
  // 0..1: one bit, the rest of the octet padding.
  EXPECT_TRUE(roundTrip(Int0to1(1), "80"));
  EXPECT_TRUE(roundTrip(Int0to1(0u), "00"));
  EXPECT_EQ("C0", afterOneBit(Int0to1(1)));  // 1 1
}

TEST(PerConstrained, BelowEightBitsIsNotAligned) {
  // 1..50: 50 values, 6 bits of value - 1.
  EXPECT_TRUE(roundTrip(Int1to50(1), "00"));
  EXPECT_TRUE(roundTrip(Int1to50(50), "C4"));  // 110001 00
  EXPECT_EQ("E2", afterOneBit(Int1to50(50)));  // 1 110001 0
  Int1to50 back;
  ASSERT_TRUE(decodeAfterOneBit("E2", back));
  EXPECT_EQ(50u, back.getValue());
  // After three bits the six run into the next octet: 101 11000 | 1 0000000.
  std::vector<char> in = octets("B8 80");
  for (std::size_t n : {in.size(), in.size() - 1}) {
    PERDecoder d(in.data(), in.data() + n, nullptr, true);
    unsigned head = 0;
    ASSERT_TRUE(d.decodeMultiBit(3, head));
    Int1to50 crossing;
    EXPECT_EQ(n == in.size(), crossing.accept(d)) << n;
    if (n == in.size()) {
      EXPECT_EQ(50u, crossing.getValue());
    }
  }
}

TEST(PerConstrained, EightBitsAreAlignedOctet) {
  EXPECT_TRUE(roundTrip(Int0to255(0x5A), "5A"));
  EXPECT_EQ("80 5A", afterOneBit(Int0to255(0x5A)));  // 1 0000000 | 01011010
  Int0to255 back;
  ASSERT_TRUE(decodeAfterOneBit("80 5A", back));
  EXPECT_EQ(0x5Au, back.getValue());
}

TEST(PerConstrained, SixteenBitsAreAlignedPair) {
  EXPECT_TRUE(roundTrip(Int0to1023(1023), "03 FF"));
  EXPECT_EQ("80 03 FF", afterOneBit(Int0to1023(1023)));
  Int0to1023 back;
  ASSERT_TRUE(decodeAfterOneBit("80 03 FF", back));
  EXPECT_EQ(1023u, back.getValue());
  EXPECT_TRUE(roundTrip(Int20to1000(20), "00 00"));
  EXPECT_TRUE(roundTrip(Int20to1000(1000), "03 D4"));  // 980
  EXPECT_TRUE(roundTrip(Int0to65535(0xBEEF), "BE EF"));
}

TEST(PerConstrained, MoreOctetsCarryTheirCount) {
  // 0..4294967295: a 2-bit octet count - 1, alignment, the octets.
  EXPECT_TRUE(roundTrip(Int0to4G(0u), "00 00"));
  EXPECT_TRUE(roundTrip(Int0to4G(256), "40 01 00"));  // 01 | 00000001 00000000
  EXPECT_TRUE(roundTrip(Int0to4G(4294967295u), "C0 FF FF FF FF"));
  EXPECT_EQ("A0 01 00", afterOneBit(Int0to4G(256)));  // 1 01 00000
  // 0..65536 needs 17 bits: counts 1..3 in 2 bits.
  EXPECT_TRUE(roundTrip(Int0to65536(65536), "80 01 00 00"));  // 10 | 01 00 00
  // 112000..399975: 287976 values, 19 bits; 399975 - 112000 = 0x464E7.
  EXPECT_TRUE(roundTrip(IntFreq(399975), "80 04 64 E7"));
}

TEST(PerConstrained, NegativeLowerBoundIsOffset) {
  // -128..127: 256 values, one aligned octet of value + 128.
  IntMinus128to127 v;
  v.setValue(-128);
  EXPECT_TRUE(roundTrip(v, "00"));
  v.setValue(-1);
  EXPECT_TRUE(roundTrip(v, "7F"));
  v.setValue(0);
  EXPECT_TRUE(roundTrip(v, "80"));
  v.setValue(127);
  EXPECT_TRUE(roundTrip(v, "FF"));
  v.setValue(128);
  EXPECT_EQ("encode failed", encodedHex(v));
  v.setValue(-129);
  EXPECT_EQ("encode failed", encodedHex(v));
}

TEST(PerConstrained, SingleValueRangeWritesNothing) {
  EXPECT_TRUE(roundTrip(Int7(7), ""));
  EXPECT_EQ("encode failed", encodedHex(Int7(8)));
}

TEST(PerConstrained, ValuesOutsideTheRangeFail) {
  EXPECT_EQ("encode failed", encodedHex(Int1to50(0u)));
  EXPECT_EQ("encode failed", encodedHex(Int1to50(51)));
  EXPECT_EQ("encode failed", encodedHex(Int0to1023(1024)));
  EXPECT_EQ("encode failed", encodedHex(Int20to1000(19)));
}

// ---- INTEGER without an upper bound

TEST(PerInteger, UnconstrainedIsMinimalTwosComplement) {
  INTEGER v;
  struct {
    int value;
    char const* wire;
  } const cases[] = {{0, "01 00"},           {127, "01 7F"},          {128, "02 00 80"},
                     {-1, "01 FF"},          {-128, "01 80"},         {-129, "02 FF 7F"},
                     {65536, "03 01 00 00"}, {2147483647, "04 7F FF FF FF"}, {-2147483647 - 1, "04 80 00 00 00"}};
  for (auto const& c : cases) {
    v.setValue(c.value);
    EXPECT_TRUE(roundTrip(v, c.wire)) << c.value;
  }
  EXPECT_EQ("80 01 00", afterOneBit(INTEGER(0, &INTEGER::theInfo)));  // the count aligns
  INTEGER back;
  ASSERT_TRUE(decodeAfterOneBit("80 02 FF 7F", back));
  EXPECT_EQ(-129, back.getValue());
}

TEST(PerInteger, SemiConstrainedIsNotOffsetByTheLowerBound) {
  // Two's complement with its sign bit, read back unsigned.
  EXPECT_TRUE(roundTrip(IntFrom0(0u), "01 00"));
  EXPECT_TRUE(roundTrip(IntFrom0(127), "01 7F"));
  EXPECT_TRUE(roundTrip(IntFrom0(128), "02 00 80"));
  EXPECT_TRUE(roundTrip(IntFrom0(100000), "03 01 86 A0"));
  // A value that would come back as another number is refused.
  IntFrom0 negative;
  negative.setValue(-1);
  EXPECT_EQ("encode failed", encodedHex(negative));
}

TEST(PerInteger, SemiConstrainedWithNegativeBoundKeepsTheSign) {
  IntFromMinus10 v;
  v.setValue(-5);
  EXPECT_TRUE(roundTrip(v, "01 FB"));
  v.setValue(200);
  EXPECT_TRUE(roundTrip(v, "02 00 C8"));
  v.setValue(-11);
  EXPECT_EQ("encode failed", encodedHex(v));
}

TEST(PerInteger, ExtensibleRangeRootAndOutside) {
  // Inside the root: a 0 bit, then the constrained number (aligned octet).
  EXPECT_TRUE(roundTrip(IntExt0to255(5), "00 05"));
  // Outside: a 1 bit, then an aligned count and two's complement.
  EXPECT_TRUE(roundTrip(IntExt0to255(300), "80 02 01 2C"));
  IntExt0to255 negative;
  negative.setValue(-5);
  EXPECT_TRUE(roundTrip(negative, "80 01 FB"));
}

// ---- ENUMERATED

TEST(PerEnumerated, RootFormIsTheItemsOwnNumber) {
  // Mode is extensible with items up to 16: a 0 bit, then 0..16 in 5 bits.
  EXPECT_TRUE(roundTrip(Demo::Mode(Demo::Mode::speak), "10"));    // 0 00100 00
  EXPECT_TRUE(roundTrip(Demo::Mode(Demo::Mode::active), "40"));   // 0 10000 00
  EXPECT_TRUE(roundTrip(Demo::Mode(Demo::Mode::initial), "00"));
  // A closed enumeration: no extension bit; 0..2 in 2 bits.
  EXPECT_TRUE(roundTrip(Closed(Closed::z), "80"));
  Closed bad;
  bad.setFromInt(3);
  EXPECT_EQ("encode failed", encodedHex(bad));
  bad.setFromInt(-1);
  EXPECT_EQ("encode failed", encodedHex(bad));
}

TEST(PerEnumerated, ExtensionFormCarriesValuePlusOneAndTheValue) {
  // Maximum 3, value 5: 1, small number 6 (0 000110), 5 in 0..5 (3 bits).
  Small five;
  five.setFromInt(5);
  EXPECT_TRUE(roundTrip(five, "86 A0"));  // 1 0000110 | 101 00000
  // Mode value 17: 1, 0 010010, 17 in 0..17 (5 bits).
  Demo::Mode seventeen;
  seventeen.setFromInt(17);
  EXPECT_TRUE(roundTrip(seventeen, "92 88"));  // 1 0010010 | 10001 000
  // Value 100: small number 101 does not fit 6 bits: 1, 1, count 01,
  // 101, then 100 in 0..100 (7 bits).
  Small hundred;
  hundred.setFromInt(100);
  EXPECT_TRUE(roundTrip(hundred, "C0 01 65 C8"));  // 1 1 000000 | 01 | 65 | 1100100 0
}

// ---- BOOLEAN and NULL

TEST(PerSimple, BooleanIsOneBitAndNullNothing) {
  EXPECT_TRUE(roundTrip(BOOLEAN(true), "80"));
  EXPECT_TRUE(roundTrip(BOOLEAN(false), "00"));
  EXPECT_EQ("C0", afterOneBit(BOOLEAN(true)));
  EXPECT_TRUE(roundTrip(Null(), ""));
  EXPECT_EQ("80", afterOneBit(Null()));
}

// ---- OCTET STRING

namespace {
OCTET_STRING octetString(std::string const& hexText, void const* info = &OCTET_STRING::theInfo) {
  return OCTET_STRING(octets(hexText), info);
}
}  // namespace

TEST(PerOctetString, UnconstrainedSizes) {
  EXPECT_TRUE(roundTrip(octetString(""), "00"));
  EXPECT_TRUE(roundTrip(octetString("AB"), "01 AB"));
  EXPECT_TRUE(roundTrip(octetString("AB CD"), "02 AB CD"));
  EXPECT_TRUE(roundTrip(octetString("01 02 03"), "03 01 02 03"));
  // 300 octets: the length 300 in the two-octet form 10 000001 00101100.
  OCTET_STRING big(300, '\x5A', &OCTET_STRING::theInfo);
  std::string wire = "81 2C";
  for (int i = 0; i < 300; ++i) wire += " 5A";
  EXPECT_TRUE(roundTrip(big, wire));
}

TEST(PerOctetString, OneAndTwoOctetsFollowTheBitsAnyOtherSizeAligns) {
  // SIZE (0..8): the length in 4 bits; 1 or 2 octets are not aligned.
  EXPECT_EQ("8D 58", afterOneBit(octetString("AB", &OctetsUpTo8)));        // 1 0001 | 10101011 | 000
  EXPECT_EQ("95 5E 68", afterOneBit(octetString("AB CD", &OctetsUpTo8)));  // 1 0010 | AB | CD | 000
  EXPECT_EQ("98 01 02 03", afterOneBit(octetString("01 02 03", &OctetsUpTo8)));
  EXPECT_EQ("80", afterOneBit(octetString("", &OctetsUpTo8)));
  EXPECT_TRUE(roundTrip(octetString("AB CD", &OctetsUpTo8), "2A BC D0"));  // 0010 | AB | CD | 0000
  OCTET_STRING back(&OctetsUpTo8);
  ASSERT_TRUE(decodeAfterOneBit("95 5E 68", back));
  EXPECT_EQ(octets("AB CD"), static_cast<std::vector<char> const&>(back));
  // SIZE (2): no length at all.
  EXPECT_EQ("D5 E6 80", afterOneBit(octetString("AB CD", &OctetsFixed2)));
  EXPECT_TRUE(roundTrip(octetString("AB CD", &OctetsFixed2), "AB CD"));
  EXPECT_EQ("encode failed", encodedHex(octetString("AB", &OctetsFixed2)));
  EXPECT_EQ("encode failed", encodedHex(octetString("00 00 00 00 00 00 00 00 00", &OctetsUpTo8)));
}

TEST(PerOctetString, ExtensibleSize) {
  // In the root: 0, length - 1 in 2 bits, the octets unaligned.
  EXPECT_TRUE(roundTrip(octetString("AB CD", &OctetsExt1to4), "35 79 A0"));  // 0 01 | AB | CD | 00000
  // Outside: 1, an aligned length, the octets.
  EXPECT_TRUE(roundTrip(octetString("01 02 03 04 05", &OctetsExt1to4), "80 05 01 02 03 04 05"));
}

// ---- BIT STRING

TEST(PerBitString, ShortMapsFollowLongBlocksAlign) {
  BIT_STRING bits(&BitsUpTo32);
  bits.resize(3);
  bits.set(0);
  bits.set(2);
  // SIZE (0..32): length in 6 bits, then the 3 bits 101.
  EXPECT_TRUE(roundTrip(bits, "0E 80"));  // 000011 10 | 1 0000000
  bits.resize(20);
  bits.set(19);
  EXPECT_TRUE(roundTrip(bits, "50 A0 00 10"));  // 010100 00 | 10100000 00000000 00010000
  // 24 bits with bit 22 set, cut to 20: the block's padding stays 0 and the
  // value read back equals the one sent.
  bits.resize(24);
  bits.set(22);
  bits.resize(20);
  EXPECT_TRUE(roundTrip(bits, "50 A0 00 10"));
}

// ---- character strings

TEST(PerString, IA5WithoutSize) {
  EXPECT_TRUE(roundTrip(IA5String("hi"), "02 68 69"));
  EXPECT_TRUE(roundTrip(IA5String(""), "00"));
  EXPECT_EQ("80 02 68 69", afterOneBit(IA5String("hi")));
}

TEST(PerString, IA5WithSize) {
  // SIZE (1..64): length - 1 in 6 bits, then an aligned block.
  EXPECT_TRUE(roundTrip(Name1to64("hi"), "04 68 69"));  // 000001 00 | h | i
  EXPECT_EQ("82 68 69", afterOneBit(Name1to64("hi")));  // 1 000001 0
  EXPECT_EQ("encode failed", encodedHex(Name1to64("")));
  // SIZE (0..2): 2 x 8 bits at most, so the characters follow unaligned.
  EXPECT_EQ("CD 0D 20", afterOneBit(Tiny0to2("hi")));  // 1 10 | 01101000 | 01101001 | 00000
  EXPECT_TRUE(roundTrip(Tiny0to2("hi"), "9A 1A 40"));  // 10 | 01101000 | 01101001 | 000000
  Tiny0to2 back;
  ASSERT_TRUE(decodeAfterOneBit("CD 0D 20", back));
  EXPECT_EQ("hi", static_cast<std::string const&>(back));
  // Extensible SIZE (1..4): 0, 2 bits, block; beyond: 1, aligned length.
  EXPECT_TRUE(roundTrip(IA5Ext1to4("hi"), "20 68 69"));  // 0 01 00000
  EXPECT_TRUE(roundTrip(IA5Ext1to4("hello"), "80 05 68 65 6C 6C 6F"));
}

TEST(PerString, NumericCharactersTravelAsTheirPosition) {
  // 4 bits each: space 0, digits 1..10; aligned after the length.
  EXPECT_TRUE(roundTrip(NumericString("12 3"), "04 23 04"));  // 0010 0011 0000 0100
  EXPECT_EQ("encode failed", encodedHex(NumericString("12a")));
}

// ---- SEQUENCE

namespace {
Demo::Params plainParams() {
  Demo::Params p;
  p.set_slot(5);
  p.set_mode(Demo::Mode::listen);
  return p;
}
}  // namespace

TEST(PerSequence, OptionalFieldsAndAdditionsAbsent) {
  // ext 0, optional map 00, slot (aligned 16 bits), mode 0 00010.
  EXPECT_TRUE(roundTrip(plainParams(), "00 00 05 08"));
}

TEST(PerSequence, EverythingPresent) {
  Demo::Params p;
  p.set_slot(1023);
  p.set_name("ab");
  p.set_mode(Demo::Mode::active);
  Demo::Item item;
  item.set_id(7);
  p.set_items().push_back(item);
  p.set_gain_level(static_cast<unsigned>(-1));
  p.set_flag(true);
  // 1 11 00000 | slot 03 FF | name 000001 00, 61 62 | mode 0 10000 00 |
  // items count 01 | item: 0 0000000, 00 07 | additions: map size 2 as
  // 0 000001, map 11, 0000000 | open types 01 7F (gain -1) and 01 80.
  EXPECT_TRUE(roundTrip(p, "E0 03 FF 04 61 62 40 01 00 00 07 03 80 01 7F 01 80"));
}

TEST(PerSequence, ExtensionMapIsAsLongAsTheLastIncludedAddition) {
  Demo::Params p = plainParams();
  p.set_flag(false);
  // ext 1, map 00 | slot 00 05 | mode 0 00010 and, in the same octets,
  // map size 2 (0 000001) and map 01: 00001000 00001010 | false: 01 00.
  EXPECT_TRUE(roundTrip(p, "80 00 05 08 0A 01 00"));
  Demo::Params q = plainParams();
  q.set_gain_level(100);
  // mode, map size 1 (0 000000), map 1: 00001000 00000100; gain 100 is
  // 228 (0xE4) above -128.
  EXPECT_TRUE(roundTrip(q, "80 00 05 08 04 01 E4"));
}

TEST(PerSequence, RemovedAdditionLeavesNoExtensionBit) {
  Demo::Params p = plainParams();
  p.set_flag(true);
  p.omit_flag();
  EXPECT_EQ("00 00 05 08", encodedHex(p));
}

TEST(PerSequence, OptionalRootFieldsOnly) {
  Demo::Message m;
  m.set_seq(1);
  m.set_pdu().select_destroy();
  // 1 (seq present), align, count 01, 01 | choice: 0 (root), index 1.
  EXPECT_TRUE(roundTrip(m, "80 01 01 40"));
  Demo::Message n;
  n.set_pdu().select_destroy();
  EXPECT_TRUE(roundTrip(n, "20"));  // 0 | 0 1
}

// ---- CHOICE

TEST(PerChoice, RootAlternatives) {
  Demo::Command c;
  c.select_destroy();
  EXPECT_TRUE(roundTrip(c, "40"));  // 0 (root), index 1 of 0..1
  c.select_create(plainParams());
  EXPECT_TRUE(roundTrip(c, "00 00 05 08"));  // 0 0 | then the Params bits
  Tri t;
  t.select_c() = 5u;
  EXPECT_TRUE(roundTrip(t, "A8"));  // no extension bit, index 10, 101
}

TEST(PerChoice, ExtensionAlternativeIsAnOpenType) {
  Demo::Command c;
  c.select_query_state(Demo::Mode::speak);
  EXPECT_TRUE(roundTrip(c, "80 01 10"));  // 1 0000000 | count 01 | 0 00100 00
  // An addition whose own encoding is empty still carries one octet.
  CommandV2 reset;
  reset.select_reset() = true;
  EXPECT_TRUE(roundTrip(reset, "81 01 80"));  // 1 0000001 | 01 | 80
}

TEST(PerChoice, NothingSelectedDoesNotEncode) {
  Demo::Command c;
  EXPECT_EQ("encode failed", encodedHex(c));
  c.select(-2);
  EXPECT_EQ("encode failed", encodedHex(c));
  std::vector<char> out{'x'};
  EXPECT_FALSE(perEncode(c, out));
  EXPECT_EQ(1u, out.size());  // the caller's octets are untouched
}

// ---- SEQUENCE OF

namespace {
Demo::Batch batchOf(unsigned n) {
  Demo::Batch b;
  Demo::Item item;
  for (unsigned i = 0; i < n; ++i) {
    item.set_id(i);
    b.ref_items().push_back(item);
  }
  return b;
}

std::string itemsHex(unsigned n) {
  std::string s;
  char buf[16];
  for (unsigned i = 0; i < n; ++i) {
    std::snprintf(buf, sizeof buf, " 00 %02X %02X", i >> 8, i & 0xFF);
    s += buf;
  }
  return s;
}
}  // namespace

TEST(PerSequenceOf, CountThenElements) {
  EXPECT_TRUE(roundTrip(batchOf(0), "00"));
  EXPECT_TRUE(roundTrip(batchOf(1), "01 00 00 00"));  // count, item: 0 0000000 | 00 00
  Demo::Batch labelled;
  Demo::Item item;
  item.set_id(7);
  item.set_label("x");
  labelled.ref_items().push_back(item);
  EXPECT_TRUE(roundTrip(labelled, "01 80 00 07 01 78"));
  // 128 elements: the count in the two-octet form 10 000000 10000000.
  EXPECT_TRUE(roundTrip(batchOf(128), "80 80" + itemsHex(128)));
}

TEST(PerSequenceOf, MoreThanTheDecoderTakesStillEncodes) {
  Demo::Batch b = batchOf(129);
  std::vector<char> out;
  ASSERT_TRUE(perEncode(b, out));
  EXPECT_EQ(hex(octets("80 81" + itemsHex(129))), hex(out));
  Demo::Batch back;
  EXPECT_FALSE(perDecode(out, back));
  EXPECT_EQ(0u, back.get_items().size());
}

TEST(PerSequenceOf, SizeConstrainedCount) {
  SEQUENCE_OF_Base list(&BoolsUpTo3);
  list.push_back(new BOOLEAN(true));
  list.push_back(new BOOLEAN(false));
  list.push_back(new BOOLEAN(true));
  EXPECT_TRUE(roundTrip(list, "E8"));  // 11 | 1 0 1 | 000
  list.push_back(new BOOLEAN(true));
  EXPECT_EQ("encode failed", encodedHex(list));
}

// ---- other kinds

TEST(PerOther, ObjectIdentifierHasAnOctetLength) {
  OBJECT_IDENTIFIER oid;
  for (unsigned arc : {1u, 2u, 840u, 113549u}) oid.append(arc);
  EXPECT_TRUE(roundTrip(oid, "06 2A 86 48 86 F7 0D"));
}

// An open type is written in place and its length slid in before it; a
// value of more than 127 octets takes the two-octet length form. The
// encoding goes after what the caller's buffer holds, and a failed one
// leaves the buffer as it was.
TEST(PerOther, OpenTypeLengthGoesBeforeTheValueWrittenInPlace) {
  OpenData open(new OCTET_STRING(200, '\x5A', &OCTET_STRING::theInfo), &OpenData::theInfo);
  std::vector<char> out = octets("AA");
  ASSERT_TRUE(perEncode(open, out));
  std::string expected = "AA 80 CA 80 C8";  // 202 octets around, 200 inside
  for (int i = 0; i < 200; ++i) expected += " 5A";
  EXPECT_EQ(expected, hex(out));

  OBJECT_IDENTIFIER* lone = new OBJECT_IDENTIFIER;
  lone->append(5);
  OpenData bad(lone, &OpenData::theInfo);
  out = octets("AA");
  EXPECT_FALSE(perEncode(bad, out));
  EXPECT_EQ("AA", hex(out));
}

OBJECT_IDENTIFIER arcs(std::initializer_list<unsigned> list) {
  OBJECT_IDENTIFIER oid;
  for (unsigned arc : list) oid.append(arc);
  return oid;
}

// Only the identifiers whose first two arcs the combined subidentifier can
// tell apart go out; any other would come back as another value.
TEST(PerOther, ObjectIdentifierTheOctetsCannotExpressIsRefused) {
  EXPECT_TRUE(roundTrip(arcs({0, 39}), "01 27"));          // 0*40 + 39
  EXPECT_TRUE(roundTrip(arcs({1, 39}), "01 4F"));          // 1*40 + 39
  EXPECT_TRUE(roundTrip(arcs({2, 10}), "01 5A"));          // 2*40 + 10
  EXPECT_TRUE(roundTrip(arcs({2, 999, 3}), "03 88 37 03"));  // 1079 = 0x437: 0001000 0110111
  EXPECT_EQ("encode failed", encodedHex(arcs({1, 50})));    // would read back as { 2 10 }
  EXPECT_EQ("encode failed", encodedHex(arcs({0, 40})));    // would read back as { 1 0 }
  EXPECT_EQ("encode failed", encodedHex(arcs({3, 1})));
  EXPECT_EQ("encode failed", encodedHex(arcs({5})));        // no contents octets at all
  EXPECT_EQ("encode failed", encodedHex(arcs({})));
  EXPECT_EQ("encode failed", encodedHex(arcs({2, 4294967216u})));  // 80 + arc passes 32 bits
  EXPECT_TRUE(roundTrip(arcs({2, 4294967215u}), "05 8F FF FF FF 7F"));
  // An identifier of no octets names nothing.
  OBJECT_IDENTIFIER none;
  EXPECT_FALSE(perDecode(octets("00"), none));
}

TEST(PerOther, GeneralizedTimeIsItsText) {
  GeneralizedTime t("20240131235959Z");
  EXPECT_TRUE(roundTrip(t, "0F 32 30 32 34 30 31 33 31 32 33 35 39 35 39 5A"));
}

TEST(PerOther, BmpStringCharactersAreSixteenBits) {
  BMPString s(L"A\x20AC");
  EXPECT_TRUE(roundTrip(s, "02 00 41 20 AC"));
}

TEST(PerOther, OpenTypes) {
  OpenData withValue(new BOOLEAN(true), &OpenData::theInfo);
  EXPECT_EQ("01 80", encodedHex(withValue));
  OpenData empty;
  EXPECT_EQ("01 00", encodedHex(empty));
  // Received octets are kept raw and go out again as they came.
  OpenData raw;
  ASSERT_TRUE(perDecode(octets("02 AB CD"), raw));
  ASSERT_TRUE(raw.has_buf());
  EXPECT_EQ(octets("AB CD"), raw.get_buf());
  EXPECT_EQ("02 AB CD", encodedHex(raw));

  std::unique_ptr<AbstractData> typed(AbstractData::create(&BoolOpenType));
  ASSERT_TRUE(perDecode(octets("01 80"), *typed));
  EXPECT_TRUE(static_cast<bool>(static_cast<BOOLEAN&>(static_cast<OpenData&>(*typed).get_data())));
}

TEST(PerOther, RevisitDecodesTheHeldOctets) {
  OpenData open(new BOOLEAN(false), &OpenData::theInfo);
  open.grab(new std::vector<char>(octets("80")));
  PERDecoder decoder(nullptr, nullptr, nullptr, true);
  ASSERT_TRUE(decoder.revisit(open));
  EXPECT_TRUE(static_cast<bool>(static_cast<BOOLEAN&>(open.get_data())));
  OpenData bare;
  EXPECT_FALSE(decoder.revisit(bare));
}

// ---- the bit and number writers and readers themselves

TEST(PerPrimitives, LengthsAndSmallNumbers) {
  std::vector<char> out;
  PEREncoder e(out, true);
  ASSERT_TRUE(e.encodeLength(127, 0, 2147483647));
  ASSERT_TRUE(e.encodeLength(128, 0, 2147483647));
  ASSERT_TRUE(e.encodeLength(16383, 0, 2147483647));
  EXPECT_FALSE(e.encodeLength(16384, 0, 2147483647));
  EXPECT_EQ("7F 80 80 BF FF", hex(out));

  out.clear();
  PEREncoder s(out, true);
  s.encodeSmallUnsigned(63);
  EXPECT_EQ("7E", hex(out));  // 0111111 0
  out.clear();
  PEREncoder s2(out, true);
  s2.encodeSmallUnsigned(64);
  EXPECT_EQ("80 01 40", hex(out));
}

TEST(PerPrimitives, MultiBitWriterCrossesOctets) {
  std::vector<char> out;
  PEREncoder e(out, true);
  e.encodeMultiBit(0x5, 3);
  e.encodeMultiBit(0x1ABCD, 17);
  e.encodeMultiBit(0xFFFFFFFF, 32);
  // 101 | 1 1010 1011 1100 1101 | 32 ones | 0000
  EXPECT_EQ("BA BC DF FF FF FF F0", hex(out));
  PERDecoder d(out.data(), out.data() + out.size(), nullptr, true);
  unsigned v = 0;
  ASSERT_TRUE(d.decodeMultiBit(3, v));
  EXPECT_EQ(5u, v);
  ASSERT_TRUE(d.decodeMultiBit(17, v));
  EXPECT_EQ(0x1ABCDu, v);
  ASSERT_TRUE(d.decodeMultiBit(32, v));
  EXPECT_EQ(0xFFFFFFFFu, v);
  EXPECT_EQ(4u, d.getBitsLeft());
  EXPECT_FALSE(d.decodeMultiBit(5, v));
  EXPECT_FALSE(d.decodeMultiBit(33, v));
}

TEST(PerPrimitives, UnalignedVariantPacksNumbersTight) {
  std::vector<char> out;
  PEREncoder e(out, false);
  e.encodeSingleBit(true);
  ASSERT_TRUE(Int0to1023(1023).accept(e));       // 10 bits, no alignment
  ASSERT_TRUE(Int0to4G(5).accept(e));            // 32 bits
  // 1 | 1111111111 | 0...0101 | 0
  EXPECT_EQ("FF E0 00 00 00 A0", hex(out));
  PERDecoder d(out.data(), out.data() + out.size(), nullptr, false);
  EXPECT_EQ(1, d.decodeSingleBit());
  Int0to1023 a;
  Int0to4G b;
  ASSERT_TRUE(a.accept(d));
  ASSERT_TRUE(b.accept(d));
  EXPECT_EQ(1023u, a.getValue());
  EXPECT_EQ(5u, b.getValue());
}

TEST(PerOther, MostKindsInOneSequence) {
  Sink s;
  s.field<OCTET_STRING>(0) = octets("01 02 03");
  s.include<OCTET_STRING>(0, 1) = octets("AB");
  s.field<BIT_STRING>(2).resize(5);
  s.field<BIT_STRING>(2).set(4);
  s.field<NumericString>(3) = "0 9";
  s.field<Tiny0to2>(4) = "q";
  OBJECT_IDENTIFIER& oid = s.include<OBJECT_IDENTIFIER>(1, 5);
  oid.append(2);
  oid.append(999);
  s.field<BMPString>(6) = BMPString(L"\x263A");
  s.field<OpenData>(7).grab(new std::vector<char>(octets("C0 FF")));
  s.include<OpenData>(2, 8);
  s.field<Small>(9).setFromInt(9);
  s.field<IntExt0to255>(10) = 1000u;
  s.field<IntFromMinus10>(11).setValue(-7);
  s.field<SEQUENCE_OF_Base>(12).push_back(new BOOLEAN(true));
  s.field<Tri>(13).select_b() = true;
  s.field<Int0to1>(14) = 1u;
  s.include<OCTET_STRING>(3, 15) = octets("EE EE EE EE");
  std::vector<char> wire;
  EXPECT_TRUE(selfRoundTrip(s, wire)) << hex(wire);
  // Without the optional fields and the addition.
  s.removeOptionalField(0);
  s.removeOptionalField(1);
  s.removeOptionalField(2);
  s.removeOptionalField(3);
  EXPECT_TRUE(selfRoundTrip(s, wire)) << hex(wire);
}
