// What the decoder does with octets an honest encoder never writes, and
// with encodings from newer peers: out-of-range numbers, oversize and
// fragmented lengths, truncated open types, unknown extension additions
// and alternatives, and a stream of pseudo-random octets.
#include <gtest/gtest.h>

#include <cstdint>

#include "PerTestUtil.h"
#include "PerTypes.h"

using namespace ASN1;
using namespace PerTest;

namespace {

template <class T>
bool decodes(std::string const& text) {
  T value;
  return perDecode(octets(text), value);
}

bool decodesAs(std::string const& text, AbstractData& value) { return perDecode(octets(text), value); }

std::string repeat(char const* octet, unsigned n) {
  std::string s;
  for (unsigned i = 0; i < n; ++i) (s += ' ') += octet;
  return s;
}

}  // namespace

TEST(PerHostile, ConstrainedNumbersAboveTheirRangeAreRefused) {
  // A slot 0..1023 arrives in 16 bits; 1024 and 65535 do not fit it.
  EXPECT_TRUE(decodes<Int0to1023>("03 FF"));
  EXPECT_FALSE(decodes<Int0to1023>("04 00"));
  EXPECT_FALSE(decodes<Int0to1023>("FF FF"));
  EXPECT_FALSE(decodes<Int1to50>("FC"));  // 63 in 6 bits, 49 at most
  EXPECT_FALSE(decodes<Int20to1000>("03 D5"));
  // 112000..399975: an octet count of 4 where at most 3 are possible, and
  // a number one above the range.
  EXPECT_FALSE(decodes<IntFreq>("C0 00 00 00 00"));
  EXPECT_FALSE(decodes<IntFreq>("80 04 64 E8"));
  EXPECT_TRUE(decodes<IntFreq>("80 04 64 E7"));
}

TEST(PerHostile, NegativeLowerBoundReadsBack) {
  IntMinus128to127 v;
  ASSERT_TRUE(decodesAs("00", v));
  EXPECT_EQ(-128, v.INTEGER::getValue());
  ASSERT_TRUE(decodesAs("7F", v));
  EXPECT_EQ(-1, v.INTEGER::getValue());
}

TEST(PerHostile, EnumerationAndChoiceIndexesAboveTheirRange) {
  EXPECT_TRUE(decodes<Closed>("80"));
  EXPECT_FALSE(decodes<Closed>("C0"));    // 3 in 0..2
  EXPECT_FALSE(decodes<Demo::Mode>("7C"));  // root form 31 in 0..16
  EXPECT_FALSE(decodes<Tri>("C0"));       // alternative 3 of 0..2
  EXPECT_TRUE(decodes<Tri>("A8"));
}

TEST(PerHostile, BrokenEnumerationExtensionFormFails) {
  // A small number of 0 (no value can follow), and a truncated one.
  EXPECT_FALSE(decodes<Small>("80"));
  EXPECT_FALSE(decodes<Small>("C0 01"));
  EXPECT_FALSE(decodes<Small>("86"));  // 6 announced, no value bits
  Small five;
  ASSERT_TRUE(decodesAs("86 A0", five));
  EXPECT_EQ(5, five.asInt());
}

// Where the extension form breaks off, the root form (2 bits for Small) is
// read from the point reached; only when that fails too is the value refused.
TEST(PerHostile, BrokenEnumerationExtensionFormFallsBackToTheRootForm) {
  Small v;
  // 1 0000000: a small number of 0; then root bits 10.
  ASSERT_TRUE(decodesAs("80 80", v));
  EXPECT_EQ(Small::c, v.asInt());
  // 1 0000110: 6 announced, then 110 (6, above 0..5); then root bits 11.
  ASSERT_TRUE(decodesAs("86 D8", v));
  EXPECT_EQ(Small::d, v.asInt());
  // 1 1, aligned count 05 (more than four octets); then root bits 01.
  ASSERT_TRUE(decodesAs("C0 05 40", v));
  EXPECT_EQ(Small::b, v.asInt());
  // 1 0000110, 011: a value of the extension form proper.
  ASSERT_TRUE(decodesAs("86 60", v));
  EXPECT_EQ(3, v.asInt());
}

TEST(PerHostile, LengthsAboveTheSizeBoundAreRefused) {
  OCTET_STRING s(&OctetsUpTo8);
  EXPECT_FALSE(decodesAs("90 00 00 00 00 00 00 00 00 00 00", s));  // 9 in 0..8
  EXPECT_FALSE(decodes<Tiny0to2>("C0 00 00 00"));                   // 3 in 0..2
  SEQUENCE_OF_Base list(&BoolsUpTo3);
  EXPECT_TRUE(decodesAs("E8", list));
  EXPECT_EQ(3u, list.size());
}

TEST(PerHostile, FragmentedAndOversizeLengths) {
  EXPECT_FALSE(decodes<OCTET_STRING>("C0 01 00"));  // the fragment form
  EXPECT_FALSE(decodes<IA5String>("C1 00"));
  // An INTEGER of 5 octets; one of 0 octets is 0.
  EXPECT_FALSE(decodes<INTEGER>("05 01 02 03 04 05"));
  INTEGER zero(7, &INTEGER::theInfo);
  ASSERT_TRUE(decodesAs("00", zero));
  EXPECT_EQ(0, zero.getValue());
  INTEGER minusOne;
  ASSERT_TRUE(decodesAs("01 FF", minusOne));
  EXPECT_EQ(-1, minusOne.getValue());
}

TEST(PerHostile, StringLimitAndClaimsBeyondTheData) {
  // SIZE (0..20000): the length is 16 bits; 16384 octets are the limit.
  OCTET_STRING atLimit(&OctetsUpTo20000);
  ASSERT_TRUE(decodesAs("40 00" + repeat("00", 16384), atLimit));
  EXPECT_EQ(16384u, atLimit.size());
  OCTET_STRING overLimit(&OctetsUpTo20000);
  EXPECT_FALSE(decodesAs("40 01" + repeat("00", 16385), overLimit));
  EXPECT_EQ(0u, overLimit.size());
  // A claim of 16384 octets with four present: refused before the value
  // is sized.
  OCTET_STRING claim(&OctetsUpTo20000);
  EXPECT_FALSE(decodesAs("40 00 01 02 03 04", claim));
  EXPECT_EQ(0u, claim.size());
  IA5String text;
  EXPECT_FALSE(decodesAs("BF FF 41", text));
  EXPECT_EQ(0u, text.size());
  BIT_STRING bits(&BitsUpTo32);
  EXPECT_FALSE(decodesAs("80", bits));  // 32 bits announced, 2 present
  EXPECT_EQ(0u, bits.size());
}

TEST(PerHostile, ListLimitAndFailingElements) {
  Demo::Batch empty;
  EXPECT_FALSE(decodesAs("80 80", empty));  // 128 announced, none present
  EXPECT_EQ(0u, empty.get_items().size());
  // Three items, the third cut short: the two decoded ones stay.
  Demo::Batch partial;
  EXPECT_FALSE(decodesAs("03 00 00 01 00 00 02 00 00", partial));
  EXPECT_EQ(2u, partial.get_items().size());
}

TEST(PerHostile, ExtensionMapOf128BitsIsTheLimit) {
  // ext 1, map 00 | slot 0 | mode 0 00000, then the small number's 1 bit |
  // count 01 | 127 (map size 128) | 16 octets of map.
  Demo::Params p;
  ASSERT_TRUE(decodesAs("80 00 00 02 01 7F" + repeat("00", 16), p));
  EXPECT_EQ(128u, p.extensionMap().size());
  Demo::Params q;
  EXPECT_FALSE(decodesAs("80 00 00 02 01 80" + repeat("00", 17), q));
}

TEST(PerHostile, UnknownAdditionAtTheEndDecodes) {
  ParamsV2 newer;
  newer.set_slot(5);
  newer.set_mode(Demo::Mode::listen);
  newer.set_extra(42);
  // ... mode 0 00010, map size 3 (0 000010), map 001 | open type 01 2A.
  ASSERT_EQ("80 00 05 08 11 01 2A", encodedHex(newer));
  Demo::Params older;
  ASSERT_TRUE(decodesAs("80 00 05 08 11 01 2A", older));
  EXPECT_EQ(5u, older.get_slot().getValue());
  EXPECT_EQ(3u, older.extensionMap().size());
  EXPECT_TRUE(older.extensionMap()[2]);
  EXPECT_FALSE(older.gain_level_isPresent());
  // The contents were not kept: the value goes out without the addition.
  EXPECT_EQ("00 00 05 08", encodedHex(older));
  // Claiming more octets than remain fails.
  Demo::Params cut;
  EXPECT_FALSE(decodesAs("80 00 05 08 11 02 2A", cut));
}

TEST(PerHostile, UnknownAdditionInTheMiddleIsSkipped) {
  HolderV2 newer;
  newer.ref_first().set_slot(5);
  newer.ref_first().set_mode(Demo::Mode::listen);
  newer.ref_first().set_flag(true);
  newer.ref_first().set_extra(42);
  newer.set_tail(9);
  // map size 3, map 011 | flag 01 80 | extra 01 2A | tail 09.
  ASSERT_EQ("80 00 05 08 13 01 80 01 2A 09", encodedHex(newer));
  Holder older;
  ASSERT_TRUE(decodesAs("80 00 05 08 13 01 80 01 2A 09", older));
  EXPECT_EQ(9u, older.get_tail().getValue());
  ASSERT_TRUE(older.get_first().flag_isPresent());
  EXPECT_TRUE(static_cast<bool>(older.get_first().get_flag()));
  // Re-encoded, the unknown bit goes out as 0 and no open type for it.
  EXPECT_EQ("80 00 05 08 12 01 80 09", encodedHex(older));
  Holder again;
  ASSERT_TRUE(decodesAs("80 00 05 08 12 01 80 09", again));
  EXPECT_EQ(0, again.compare(older));
}

TEST(PerHostile, UnknownChoiceAlternativeIsSkippedAndMarked) {
  EnvelopeV2 newer;
  newer.ref_first().select_reset() = true;
  newer.set_tail(42);
  ASSERT_EQ("81 01 80 2A", encodedHex(newer));
  Envelope older;
  ASSERT_TRUE(decodesAs("81 01 80 2A", older));
  EXPECT_TRUE(older.get_first().isUnknownSelection());
  EXPECT_EQ(nullptr, older.get_first().getSelection());
  EXPECT_EQ(42u, older.get_tail().getValue());
  // Such a value cannot go out again nor be printed: its contents were
  // never kept. Both answer false; nothing crashes.
  EXPECT_EQ("encode failed", encodedHex(older));
  std::ostringstream os;
  EXPECT_NE(0, older.print_on(os));
  EXPECT_FALSE(older.isValid());
  // At the very end of the data, and with an index that would wrap.
  Demo::Command c;
  ASSERT_TRUE(decodesAs("81 01 80", c));
  EXPECT_TRUE(c.isUnknownSelection());
  Demo::Command wrap;
  ASSERT_TRUE(decodesAs("C0 04 FF FF FF FF 01 00", wrap));
  EXPECT_TRUE(wrap.isUnknownSelection());
  // Its open type must be complete.
  Demo::Command cut;
  EXPECT_FALSE(decodesAs("81 02 80", cut));
}

TEST(PerHostile, KnownExtensionAlternativeIsReadFromItsOpenType) {
  Envelope e;
  ASSERT_TRUE(decodesAs("80 01 10 2A", e));
  ASSERT_TRUE(e.get_first().query_state_isSelected());
  EXPECT_EQ(Demo::Mode::speak, e.get_first().get_query_state());
  EXPECT_EQ(42u, e.get_tail().getValue());
  // Octets of the open type beyond the alternative's own bits are skipped.
  Envelope longer;
  ASSERT_TRUE(decodesAs("80 02 10 FF 2A", longer));
  EXPECT_EQ(42u, longer.get_tail().getValue());
  // The alternative may not read beyond its open type.
  Envelope empty;
  EXPECT_FALSE(decodesAs("80 00 2A", empty));
}

TEST(PerHostile, OpenTypesMustBeComplete) {
  std::unique_ptr<AbstractData> typed(AbstractData::create(&BoolOpenType));
  EXPECT_FALSE(decodesAs("02 80", *typed));
  OpenData raw;
  EXPECT_FALSE(decodesAs("03 01 02", raw));
  EXPECT_FALSE(raw.has_buf());
}

TEST(PerHostile, AlphabetPositionBeyondTheAlphabet) {
  EXPECT_TRUE(decodes<NumericString>("01 A0"));   // position 10: '9'
  EXPECT_FALSE(decodes<NumericString>("01 B0"));  // position 11
  EXPECT_FALSE(decodes<NumericString>("01 F0"));
}

TEST(PerHostile, IdentifierAndTimeAtTheEndOfTheData) {
  OBJECT_IDENTIFIER oid;
  ASSERT_TRUE(decodesAs("06 2A 86 48 86 F7 0D", oid));
  EXPECT_EQ(4u, oid.levels());
  EXPECT_FALSE(decodes<OBJECT_IDENTIFIER>("06 2A 86 48 86 F7"));
  // The time text is bounded by its length: the Z after it is not read.
  GeneralizedTime t;
  ASSERT_TRUE(decodesAs("0E 32 30 32 34 30 31 33 31 32 33 35 39 35 39 5A", t));
  EXPECT_EQ(2024, t.getYear());
  EXPECT_EQ(59, t.getSecond());
  EXPECT_FALSE(t.getUTC());
  EXPECT_FALSE(decodes<GeneralizedTime>("00"));
}

TEST(PerHostile, BooleanNeedsABitTrailingOctetsAreIgnored) {
  EXPECT_FALSE(decodes<BOOLEAN>(""));
  BOOLEAN b;
  ASSERT_TRUE(decodeAfterOneBit("C0", b));
  EXPECT_TRUE(static_cast<bool>(b));
  Demo::Params p;
  ASSERT_TRUE(decodesAs("00 00 05 08 FF FF", p));
  EXPECT_EQ(5u, p.get_slot().getValue());
}

// Pseudo-random octets, and random damage to good encodings, into the
// nested types: any answer will do, but no fault, no leak, no hang.
TEST(PerHostile, RandomOctetsNeverBreakTheDecoder) {
  uint32_t state = 12345;
  auto next = [&state] {
    state = state * 1103515245u + 12345u;
    return state >> 16;
  };
  std::vector<char> good;
  {
    Demo::Message m;
    m.set_seq(-3);
    Demo::Params& p = m.set_pdu().select_create();
    p.set_slot(17);
    p.set_name("trunk");
    Demo::Item item;
    item.set_id(4);
    item.set_label("a");
    p.set_items().push_back(item);
    p.set_flag(true);
    ASSERT_TRUE(perEncode(m, good));
  }
  unsigned decoded = 0;
  for (int round = 0; round < 20000; ++round) {
    std::vector<char> in;
    if (round % 2 == 0) {
      unsigned n = next() % 24;
      for (unsigned i = 0; i < n; ++i) in.push_back(static_cast<char>(next()));
    } else {
      in = good;
      unsigned flips = 1 + next() % 3;
      for (unsigned i = 0; i < flips; ++i) in[next() % in.size()] ^= static_cast<char>(1u << (next() % 8));
    }
    Demo::Message m;
    Demo::Batch b;
    Envelope e;
    Holder h;
    decoded += perDecode(in, m) + perDecode(in, b) + perDecode(in, e) + perDecode(in, h);
  }
  EXPECT_GT(decoded, 0u);
}
