// The value-notation reader: what the printer writes reads back to an equal
// value, and bad text is a false result (failbit through the stream
// operator), never a crash or a hang.
#include <gtest/gtest.h>

#include <clocale>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "CoderTypes.h"
#include "DemoTypes.h"

using namespace ASN1;
using namespace CoderTypes;

namespace {

std::unique_ptr<SEQUENCE> make(void const* info) {
  return std::unique_ptr<SEQUENCE>(static_cast<SEQUENCE*>(AbstractData::create(info)));
}

// Prints, reads the text into a fresh value of the same record, compares.
void roundTrip(AbstractData const& v) {
  std::string text = v.asValueNotation();
  std::unique_ptr<AbstractData> back(AbstractData::create(v.info()));
  ASSERT_TRUE(back->setFromValueNotation(text)) << text;
  EXPECT_EQ(0, v.compare(*back)) << text;
  EXPECT_EQ(text, back->asValueNotation());
}

Demo::Message sampleMessage() {
  Demo::Message m;
  m.set_seq(-7);
  Demo::Params& p = m.set_pdu().select_create();
  p.set_slot(1023);
  p.set_name("trunk-1");
  p.set_mode(Demo::Mode::speak);
  Demo::Item item;
  item.set_id(4);
  item.set_label("a b,c}");
  p.set_items().push_back(item);
  item.set_id(65535);
  item.omit_label();
  p.set_items().push_back(item);
  p.set_gain_level(static_cast<unsigned>(-128));
  p.set_flag(false);
  return m;
}

template <class T>
bool reads(std::string const& text, T& v) {
  return v.setFromValueNotation(text);
}

struct LocaleGuard {
  ~LocaleGuard() { std::setlocale(LC_CTYPE, "C"); }
};

}  // namespace

TEST(Reader, PrintedValuesReadBack) {
  roundTrip(sampleMessage());
  roundTrip(Demo::Params());
  roundTrip(Demo::Batch());
  Demo::Message query;
  query.set_pdu().select_query_state(Demo::Mode::learn);
  roundTrip(query);
  Demo::Message destroy;
  destroy.set_pdu().select_destroy();
  roundTrip(destroy);

  std::unique_ptr<SEQUENCE> kinds(makeKinds());
  roundTrip(*kinds);
  // Named numbers read by name and, without a name, by number.
  field<INTEGER>(*kinds, kNamed, optNamed) = -1;
  roundTrip(*kinds);
  field<INTEGER>(*kinds, kNamed, optNamed) = -42;
  roundTrip(*kinds);
  // Empty strings, lists and bit strings; a bit string of whole octets.
  field<AbstractString>(*kinds, kText) = std::string();
  field<SEQUENCE_OF_Base>(*kinds, kList).clear();
  field<OCTET_STRING>(*kinds, kOctets).clear();
  field<BIT_STRING>(*kinds, kBits).resize(0);
  roundTrip(*kinds);
  field<BIT_STRING>(*kinds, kBits).resize(16);
  field<BIT_STRING>(*kinds, kBits).set(15);
  roundTrip(*kinds);

  std::unique_ptr<SEQUENCE> own = make(&Own);
  CHOICE& pick = field<CHOICE>(*own, 2);
  ASSERT_TRUE(pick.select(1));
  dynamic_cast<AbstractString&>(*pick.getSelection()) = std::string("w");
  field<BOOLEAN>(*own, 1, 0) = true;
  roundTrip(*own);

  std::unique_ptr<SEQUENCE> opt = make(&Opt);
  roundTrip(*opt);  // a SEQUENCE without fields prints "{\n}"
}

TEST(Reader, StreamOperator) {
  std::istringstream in("  { a 1, b 2 } { a 3 }\n");
  std::unique_ptr<SEQUENCE> first = make(&Pair), second = make(&Pair);
  in >> *first >> *second;
  EXPECT_FALSE(in.fail());
  EXPECT_EQ(3, field<INTEGER>(*second, 0).getValue());
  EXPECT_FALSE(second->hasOptionalField(0));

  // End of input alone is success.
  std::istringstream last("42");
  INTEGER i;
  last >> i;
  EXPECT_TRUE(input_success(last));
  EXPECT_TRUE(last.eof());
  EXPECT_EQ(42, i.getValue());

  // A failure sets failbit; a stream that is not good is left alone.
  std::istringstream bad("{ a x }");
  bad >> *first;
  EXPECT_TRUE(bad.fail());
  EXPECT_FALSE(input_success(bad));
  std::istringstream failed("{ a 5 }");
  failed.setstate(std::ios_base::failbit);
  failed >> *first;
  EXPECT_TRUE(failed.fail());
  EXPECT_EQ(1, field<INTEGER>(*first, 0).getValue());

  // get_from answers like print_on and leaves the state to the caller.
  std::istringstream direct("TRUE");
  BOOLEAN b;
  EXPECT_EQ(0, b.get_from(direct));
  EXPECT_TRUE(b);
  std::istringstream wrong("yes");
  EXPECT_EQ(4, b.get_from(wrong));
  EXPECT_FALSE(wrong.fail());
}

TEST(Reader, ThroughTheCoderEnvironment) {
  CoderEnv env;
  env.set_encodingRule(CoderEnv::avn);
  std::string text = sampleMessage().asValueNotation();
  Demo::Message back;
  ASSERT_TRUE(ASN1::decode(text.data(), text.data() + text.size(), &env, back, true));
  EXPECT_EQ(sampleMessage(), back);
  std::string bad = "{ pdu destroy NULL }";
  EXPECT_FALSE(ASN1::decode(bad.data(), bad.data() + bad.size(), &env, back, true));
}

TEST(Reader, WordsAreCaseSensitive) {
  Null n;
  EXPECT_TRUE(reads("NULL", n));
  EXPECT_FALSE(reads("null", n));
  EXPECT_FALSE(reads("Null", n));
  EXPECT_FALSE(reads("NULLS", n));
  BOOLEAN b;
  EXPECT_TRUE(reads("TRUE", b));
  EXPECT_TRUE(b);
  EXPECT_TRUE(reads(" FALSE", b));
  EXPECT_FALSE(b);
  for (char const* text : {"true", "False", "YES", "1", "", "TRU"}) EXPECT_FALSE(reads(text, b)) << text;

  Demo::Mode mode;
  EXPECT_TRUE(reads("standby", mode));
  EXPECT_EQ(Demo::Mode::standby, mode.asInt());
  EXPECT_FALSE(reads("Standby", mode));
  EXPECT_FALSE(reads("8", mode));  // numbers are not names
}

TEST(Reader, Integers) {
  Constrained_INTEGER<FixedConstraint, 0, 1023> slot;
  EXPECT_TRUE(reads("42", slot));
  EXPECT_EQ(42u, slot.getValue());
  EXPECT_FALSE(reads("-1", slot));  // an unsigned number has no sign
  Constrained_INTEGER<FixedConstraint, 0, 4294967295u> big;
  EXPECT_TRUE(reads("4294967295", big));
  EXPECT_EQ(4294967295u, big.getValue());
  EXPECT_FALSE(reads("4294967296", big));

  INTEGER i;
  EXPECT_TRUE(reads("-7", i));
  EXPECT_EQ(-7, i.getValue());
  EXPECT_TRUE(reads("-2147483648", i));
  EXPECT_EQ(INT32_MIN, i.getValue());
  for (char const* text : {"2147483648", "-", "x", "", "99999999999999999999"}) EXPECT_FALSE(reads(text, i)) << text;

  IntegerWithNamedNumber named(&Named);
  EXPECT_TRUE(reads("high", named));
  EXPECT_EQ(1000, named.getValue());
  EXPECT_TRUE(reads("-5", named));
  EXPECT_EQ(-5, named.getValue());
  EXPECT_FALSE(reads("medium", named));
}

TEST(Reader, ObjectIdentifiers) {
  for (char const* text : {"{ 1 2 840 }", "{ iso(1) 2 840 }", "{ iso (1) 2 840 }", "{1 2 840}", "{ iso ( 1 ) 2 840 }",
                           "{ iso(1) member-body(2) 840 }", "{ 1 2 840 113549 }"}) {
    OBJECT_IDENTIFIER oid;
    ASSERT_TRUE(reads(text, oid)) << text;
    ASSERT_LE(3u, oid.levels()) << text;
    EXPECT_EQ(1u, oid[0]);
    EXPECT_EQ(2u, oid[1]);
    EXPECT_EQ(840u, oid[2]);
  }
  OBJECT_IDENTIFIER oid;
  EXPECT_TRUE(reads("{ }", oid));
  EXPECT_EQ(0u, oid.levels());
  for (char const* text : {"{ 1 2 840", "1 2 840 }", "{ iso ( ) 2 }", "{ iso (1 2 }", "{ 1 4294967296 }", "{ -1 2 }", ""})
    EXPECT_FALSE(reads(text, oid)) << text;
}

TEST(Reader, BitAndOctetStrings) {
  BIT_STRING bits;
  ASSERT_TRUE(reads("'0101'B", bits));
  EXPECT_EQ(4u, bits.size());
  EXPECT_EQ(0x50, static_cast<unsigned char>(bits.getData()[0]));
  ASSERT_TRUE(reads("'A'H", bits));
  EXPECT_EQ(4u, bits.size());
  EXPECT_EQ(0xA0, static_cast<unsigned char>(bits.getData()[0]));
  ASSERT_TRUE(reads("'1010 1010\n1'B", bits));
  EXPECT_EQ(9u, bits.size());
  ASSERT_TRUE(reads("''B", bits));
  EXPECT_EQ(0u, bits.size());

  OCTET_STRING os;
  ASSERT_TRUE(reads("'0A 1B'H", os));
  EXPECT_EQ((std::vector<char>{'\x0a', '\x1b'}), static_cast<std::vector<char> const&>(os));
  ASSERT_TRUE(reads("'01 ab FF'H", os));
  EXPECT_EQ(3u, os.size());
  ASSERT_TRUE(reads("''H", os));
  EXPECT_TRUE(os.empty());

  for (char const* text : {"'0G'H", "'012'B", "'01'X", "'01'", "'01", "01'H", "'0\t1'H", "'-1'H", "'+1'H", "'0x'H"}) {
    EXPECT_FALSE(reads(text, os)) << text;
    EXPECT_FALSE(reads(text, bits)) << text;
  }

  std::vector<char> out{'z'};
  unsigned count = 0;
  std::string digits = "1 1";
  ASSERT_TRUE(get_from_bstring(digits, out, count));
  EXPECT_EQ(2u, count);
  EXPECT_EQ((std::vector<char>{'\xc0'}), out);
  digits = "fff";
  ASSERT_TRUE(get_from_hstring(digits, out, count));
  EXPECT_EQ(3u, count);
  EXPECT_EQ((std::vector<char>{'\xff', '\xf0'}), out);
}

TEST(Reader, Strings) {
  IA5String s;
  ASSERT_TRUE(reads("\"two\nlines, {x} : y\"", s));
  EXPECT_EQ("two\nlines, {x} : y", static_cast<std::string const&>(s));
  ASSERT_TRUE(reads("\"\"", s));
  EXPECT_TRUE(s.empty());
  EXPECT_FALSE(reads("\"open", s));
  EXPECT_FALSE(reads("bare", s));

  std::istringstream in("\"a\"\"b\"");
  std::string out;
  ASSERT_TRUE(get_string(in, out));
  EXPECT_EQ("a", out);
  ASSERT_TRUE(get_string(in, out));
  EXPECT_EQ("b", out);
  EXPECT_FALSE(get_string(in, out));

  GeneralizedTime t;
  ASSERT_TRUE(reads("\"20240131235959.5+0130\"", t));
  EXPECT_EQ("20240131235959.500+0130", t.get());
}

TEST(Reader, WideStringsFollowTheLocale) {
  LocaleGuard guard;
  BMPString w;
  ASSERT_TRUE(reads("\"plain\"", w));
  EXPECT_EQ(L"plain", static_cast<std::wstring const&>(w));
  if (std::setlocale(LC_CTYPE, "C.UTF-8") == nullptr) GTEST_SKIP() << "no C.UTF-8 locale";
  BMPString accented(L"\u00e9t\u00e9 \u20ac");
  roundTrip(accented);
  EXPECT_FALSE(reads("\"\xff\xfe\"", w));  // not UTF-8
  // What the locale cannot hold prints in the quadruple form, which does not
  // read back.
  std::setlocale(LC_CTYPE, "C");
  std::string quad = accented.asValueNotation();
  EXPECT_EQ('{', quad[0]);
  EXPECT_FALSE(reads(quad, w));
}

TEST(Reader, Choices) {
  Demo::Command cmd;
  ASSERT_TRUE(reads("destroy : NULL", cmd));
  EXPECT_TRUE(cmd.destroy_isSelected());
  ASSERT_TRUE(reads("query-state :listen", cmd));
  EXPECT_EQ(Demo::Mode::listen, cmd.get_query_state().asInt());
  for (char const* text : {"destroy: NULL", "destroy NULL", "Destroy : NULL", "remove : NULL", ": NULL", "destroy :", ""})
    EXPECT_FALSE(reads(text, cmd)) << text;
}

TEST(Reader, Lists) {
  SEQUENCE_OF<INTEGER> list;
  ASSERT_TRUE(reads("{ }", list));
  EXPECT_TRUE(list.empty());
  ASSERT_TRUE(reads("{ 1, 2 }", list));
  ASSERT_EQ(2u, list.size());
  EXPECT_EQ(2, list[1].getValue());
  ASSERT_TRUE(reads("{1,-2,3}", list));
  EXPECT_EQ(3u, list.size());
  for (char const* text : {"{ 1; 2 }", "{ 1, 2", "{ 1,", "{", "{ , }", "{ 1 2 }", "1, 2"}) EXPECT_FALSE(reads(text, list)) << text;
}

TEST(Reader, SequenceFields) {
  std::unique_ptr<SEQUENCE> pair = make(&Pair);
  ASSERT_TRUE(reads("{ a 1, b 2 }", *pair));
  EXPECT_EQ(2, field<INTEGER>(*pair, 1).getValue());
  ASSERT_TRUE(reads("{ a 1 }", *pair));
  EXPECT_FALSE(pair->hasOptionalField(0));
  ASSERT_TRUE(reads("{ a 1, }", *pair));  // a trailing comma
  ASSERT_TRUE(reads("{a 5,b 6}", *pair));
  EXPECT_EQ(5, field<INTEGER>(*pair, 0).getValue());

  for (char const* text : {"{ b 2, a 1 }",  // declaration order only
                           "{ a 1, a 2 }", "{ a 1, c 3 }", "{ a 1 b 2 }", "{ a 1, b 2", "{ a }", "{ A 1 }",
                           "{ }",  // a mandatory field cannot be left out
                           "{ b 2 }", "a 1", ""})
    EXPECT_FALSE(reads(text, *pair)) << text;

  // Only optional fields: braces alone are an empty value.
  std::unique_ptr<SEQUENCE> opt = make(&Opt);
  field<INTEGER>(*opt, 0, 0) = 3;
  ASSERT_TRUE(reads("{ }", *opt));
  EXPECT_FALSE(opt->hasOptionalField(0));
  ASSERT_TRUE(reads("{ b TRUE }", *opt));
  EXPECT_TRUE(opt->hasOptionalField(1));

  // Extension additions are read like optional fields, in order.
  Demo::Params params;
  ASSERT_TRUE(reads("{ slot 3, mode learn, flag TRUE }", params));
  EXPECT_TRUE(params.flag_isPresent());
  EXPECT_FALSE(params.gain_level_isPresent());
  EXPECT_FALSE(reads("{ slot 3, mode learn, flag TRUE, gain-level 1 }", params));
  EXPECT_FALSE(reads("{ slot 3 }", params));  // mode is mandatory
}

TEST(Reader, OpenTypes) {
  OpenData plain(new INTEGER(5, &INTEGER::theInfo), &OpenData::theInfo);
  EXPECT_FALSE(reads("5", plain));
  std::unique_ptr<AbstractData> typed(AbstractData::create(&OpenInteger));
  ASSERT_TRUE(reads("-9", *typed));
  EXPECT_EQ(-9, dynamic_cast<INTEGER&>(static_cast<OpenData&>(*typed).get_data()).getValue());
}

// Every cut of a printed message, and random damage to it, is refused or
// read without harm; nothing hangs.
TEST(Reader, DamagedTextIsSafe) {
  std::string whole = sampleMessage().asValueNotation();
  for (std::size_t n = 0; n < whole.size(); ++n) {
    Demo::Message m;
    EXPECT_FALSE(m.setFromValueNotation(whole.substr(0, n))) << n;
  }
  std::unique_ptr<SEQUENCE> kinds(makeKinds());
  std::vector<std::string> seeds = {whole, kinds->asValueNotation()};
  static char const pieces[] = "{},:'\"-0123456789aBHxTRUENUL \n";
  std::mt19937 rng(7);
  for (int round = 0; round < 5000; ++round) {
    std::string text = seeds[static_cast<std::size_t>(round) % seeds.size()];
    for (int e = 0; e < 3 && !text.empty(); ++e) {
      std::size_t at = rng() % text.size();
      switch (rng() % 3) {
        case 0: text[at] = pieces[rng() % (sizeof pieces - 1)]; break;
        case 1: text.erase(at, 1 + rng() % 4); break;
        default: text.insert(at, 1, pieces[rng() % (sizeof pieces - 1)]); break;
      }
    }
    std::unique_ptr<AbstractData> v(round % 2 == 0 ? static_cast<AbstractData*>(new Demo::Message())
                                                   : AbstractData::create(&Kinds));
    if (v->setFromValueNotation(text)) v->asValueNotation();
  }
}
