// Character string records and validity, BMPString, GeneralizedTime text.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <typeinfo>

#include "DemoTypes.h"

using namespace ASN1;

TEST(Strings, BuiltInRecordsAndAlphabets) {
  EXPECT_EQ(0x16u, IA5String::theInfo.constraint.head.tag);
  EXPECT_EQ(128u, IA5String::theInfo.characterSetSize);
  EXPECT_EQ(0, IA5StringSet[0]);
  EXPECT_EQ(127, IA5StringSet[127]);
  EXPECT_EQ(0, IA5StringSet[128]);
  EXPECT_STREQ(" 0123456789", NumericStringSet);
  EXPECT_EQ(74u, std::strlen(PrintableStringSet));
  for (unsigned i = 1; i < 74; ++i) EXPECT_LT(PrintableStringSet[i - 1], PrintableStringSet[i]);
  EXPECT_EQ(95u, std::strlen(VisibleStringSet));
  EXPECT_EQ(static_cast<char>(0xFF), GeneralStringSet[255]);

  IA5String s("abc");
  EXPECT_EQ(7u, s.getCanonicalSetBits());
  EXPECT_EQ(8u, s.getNumBits(true));
  EXPECT_EQ(7u, s.getNumBits(false));
  NumericString n;
  EXPECT_EQ(4u, n.getNumBits(true));
  EXPECT_EQ(0x12, n.getTag());
}

TEST(Strings, SizeConstrainedRecordIsCompleteAtCompileTime) {
  typedef Demo::Params::name_type Name;
  static_assert(Name::theInfo.characterSet == IA5StringSet, "alphabet copied from IA5String");
  EXPECT_EQ(0x16u, Name::theInfo.constraint.head.tag);
  EXPECT_EQ(FixedConstraint, Name::theInfo.constraint.type);
  EXPECT_EQ(1, Name::theInfo.constraint.lowerLimit);
  EXPECT_EQ(64u, Name::theInfo.constraint.upperLimit);
  EXPECT_EQ(128u, Name::theInfo.characterSetSize);

  Name name;
  EXPECT_FALSE(name.isValid());  // shorter than 1
  name = "x";
  EXPECT_TRUE(name.isStrictlyValid());
  name = std::string(65, 'y');
  EXPECT_FALSE(name.isValid());
  EXPECT_FALSE(name.isStrictlyValid());
  name = std::string("a\x80", 2);
  EXPECT_EQ(1u, name.find_first_invalid());
  EXPECT_FALSE(name.isValid());
}

TEST(Strings, InvalidCharactersAndExtendableSize) {
  NumericString n("12 3");
  EXPECT_EQ(std::string::npos, n.find_first_invalid());
  n = "12a";
  EXPECT_EQ(2u, n.find_first_invalid());

  static const AbstractString::InfoType anything = {&AbstractString::create, 22, ExtendableConstraint, 0, 2, nullptr,
                                                    0, 8, 8, 8};
  AbstractString a(&anything, std::string("\xff\x01\x80", 3));
  EXPECT_EQ(std::string::npos, a.find_first_invalid());
  EXPECT_TRUE(a.isValid());
  EXPECT_FALSE(a.isStrictlyValid());
}

TEST(Strings, CloneKeepsClassTextAndRecord) {
  IA5String s("hello");
  std::unique_ptr<AbstractData> c(static_cast<AbstractData const&>(s).clone());
  EXPECT_EQ(typeid(IA5String), typeid(*c));
  EXPECT_EQ(&IA5String::theInfo, c->info());
  EXPECT_EQ(0, c->compare(s));
  EXPECT_TRUE(s == *c);
  IA5String t("help");
  EXPECT_LT(s.compare(t), 0);  // "l" before "p"

  std::unique_ptr<AbstractData> plain(AbstractString::create(&VisibleString::theInfo));
  EXPECT_EQ(typeid(AbstractString), typeid(*plain));
  std::unique_ptr<AbstractData> own(AbstractData::create(&VisibleString::theInfo));
  EXPECT_EQ(typeid(VisibleString), typeid(*own));
}

TEST(BMPStringTest, LegalRange) {
  BMPString b(L"ab");
  EXPECT_EQ(2u, b.first_illegal_at());
  EXPECT_TRUE(b.isValid());
  b.push_back(static_cast<wchar_t>(0x10000));
  EXPECT_EQ(2u, b.first_illegal_at());
  EXPECT_FALSE(b.isValid());
  EXPECT_FALSE(b.isStrictlyValid());
  wchar_t const text[] = {0x41, 0x42, 0x43};
  b.assign(text, 2);
  EXPECT_EQ(std::wstring(L"AB"), static_cast<std::wstring const&>(b));
  EXPECT_EQ(16u, b.getNumBits(true));
  BMPString c(L"AC");
  EXPECT_LT(b.compare(c), 0);
}

TEST(GeneralizedTimeTest, TextFormsBothWays) {
  GeneralizedTime t;
  EXPECT_EQ("00010101000000", t.get());
  t.set("20240131235959Z");
  EXPECT_EQ(2024, t.getYear());
  EXPECT_EQ(1, t.getMonth());
  EXPECT_EQ(31, t.getDay());
  EXPECT_EQ(23, t.getHour());
  EXPECT_EQ(59, t.getMinute());
  EXPECT_EQ(59, t.getSecond());
  EXPECT_TRUE(t.getUTC());
  EXPECT_EQ("20240131235959Z", t.get());

  GeneralizedTime d;
  d.set("20240131235959.5+0130");
  EXPECT_EQ(500, d.getMillisec());
  EXPECT_EQ(90, d.getMindiff());
  EXPECT_EQ("20240131235959.500+0130", d.get());
  d.set("20240131235959.1234-0030");
  EXPECT_EQ(123, d.getMillisec());
  EXPECT_EQ(-30, d.getMindiff());
  d.set("20240131235959.7");
  EXPECT_EQ(700, d.getMillisec());

  GeneralizedTime z(2024, 1, 31, 23, 59, 59, 0, 60, true);
  EXPECT_EQ("20240131235959Z", z.get());
  GeneralizedTime neg(2024, 1, 31, 23, 59, 59, 0, -90, false);
  EXPECT_EQ("20240131235959-0130", neg.get());

  GeneralizedTime partial(2000, 2, 3, 4, 5, 6, 7, 8, false);
  partial.set("2024013123");
  EXPECT_EQ(2024, partial.getYear());
  EXPECT_EQ(23, partial.getHour());
  EXPECT_EQ(5, partial.getMinute());
  EXPECT_EQ(6, partial.getSecond());
  EXPECT_EQ(7, partial.getMillisec());
  EXPECT_EQ(8, partial.getMindiff());
  partial.set("");
  EXPECT_EQ(2024, partial.getYear());
  EXPECT_FALSE(partial.getUTC());
}

TEST(GeneralizedTimeTest, ComparisonValidityAndEpoch) {
  GeneralizedTime a(2024, 1, 31, 23, 59, 59, 0, 60, false);
  GeneralizedTime b(2024, 1, 31, 23, 59, 59, 0, -60, false);
  EXPECT_EQ(0, a.compare(b));
  GeneralizedTime u(2024, 1, 31, 23, 59, 59, 0, 0, true);
  EXPECT_EQ(1, u.compare(a));
  GeneralizedTime later(2024, 2, 1, 0, 0, 0, 0, 0, false);
  EXPECT_LT(a.compare(later), 0);

  EXPECT_TRUE(GeneralizedTime(2024, 1, 1, 24, 0, 0, 0, -720, false).isStrictlyValid());
  EXPECT_FALSE(GeneralizedTime(2024, 0, 1, 0, 0, 0, 0, 0, false).isStrictlyValid());
  EXPECT_FALSE(GeneralizedTime(2024, 13, 1, 0, 0, 0, 0, 0, false).isStrictlyValid());
  EXPECT_FALSE(GeneralizedTime(2024, 1, 1, 0, 60, 0, 0, 0, false).isStrictlyValid());
  EXPECT_FALSE(GeneralizedTime(2024, 1, 1, 0, 0, 0, 0, 721, false).isValid());

  GeneralizedTime e;
  e.set_time_t(1706745599L);  // 2024-01-31 23:59:59 UTC
  EXPECT_EQ("20240131235959", e.get());
  GeneralizedTime copy;
  copy = e;
  EXPECT_EQ(0, copy.compare(e));
  GeneralizedTime other("19991231120000Z");
  other.swap(copy);
  EXPECT_EQ("20240131235959", other.get());
  EXPECT_EQ("19991231120000Z", copy.get());
  // Local-time conversion gives back the same broken-down time.
  GeneralizedTime local(2024, 6, 15, 12, 30, 0, 0, 0, false);
  long t = local.get_time_t();
  EXPECT_NE(-1L, t);
}
