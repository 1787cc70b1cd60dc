// Value notation, to the character, and the log stream's state after a
// value that cannot be printed.
#include <gtest/gtest.h>

#include <clocale>
#include <cstring>
#include <ios>
#include <sstream>
#include <string>

#include "DemoTypes.h"

using namespace ASN1;

namespace {

std::string print(AbstractData const& v) {
  std::ostringstream os;
  os << v;
  EXPECT_TRUE(os.good());
  return os.str();
}

Demo::Message sampleMessage() {
  Demo::Message m;
  m.set_seq(7);
  Demo::Params& p = m.set_pdu().select_create();
  p.set_slot(17);
  p.set_name("trunk-1");
  p.set_mode(Demo::Mode::listen);
  Demo::Item item;
  item.set_id(4);
  item.set_label("a");
  p.set_items().push_back(item);
  item.set_id(5);
  item.omit_label();
  p.set_items().push_back(item);
  p.set_flag(true);
  return m;
}

// Restores the "C" character-type locale when a test leaves.
struct LocaleGuard {
  ~LocaleGuard() { std::setlocale(LC_CTYPE, "C"); }
};

}  // namespace

TEST(Printer, NestedMessage) {
  EXPECT_EQ(
      "{\n"
      "  seq 7,\n"
      "  pdu create : {\n"
      "    slot 17,\n"
      "    name \"trunk-1\",\n"
      "    mode listen,\n"
      "    items {\n"
      "      {\n"
      "        id 4,\n"
      "        label \"a\"\n"
      "      },\n"
      "      {\n"
      "        id 5\n"
      "      }\n"
      "    },\n"
      "    flag TRUE\n"
      "  }\n"
      "}",
      print(sampleMessage()));
}

TEST(Printer, AdditionsHyphenatedNamesAndEnumerations) {
  Demo::Params p;
  p.set_gain_level(static_cast<unsigned>(-5));
  p.set_mode(Demo::Mode::active);
  EXPECT_EQ(
      "{\n"
      "  slot 0,\n"
      "  mode active,\n"
      "  gain-level -5\n"
      "}",
      print(p));

  Demo::Command c(Demo::Command::query_state::id, Demo::Mode::speak);
  EXPECT_EQ("query-state : speak", print(c));
  // A value without a name prints as its number.
  c.select_query_state().setFromInt(5);
  EXPECT_EQ("query-state : 5", print(c));
  c.select_query_state().setFromInt(-3);
  EXPECT_EQ("query-state : -3", print(c));
  Demo::Command d(Demo::Command::destroy::id, Null());
  EXPECT_EQ("destroy : NULL", print(d));
}

TEST(Printer, SequenceLayoutFromTheRecords) {
  static const void* const innerInfos[1] = {&BOOLEAN::theInfo};
  static const int innerIds[1] = {-1};
  static const char* const innerNames[1] = {"c"};
  static const SEQUENCE::InfoType inner = {&SEQUENCE::create, 16, false, innerInfos, innerIds, 1, 0, 0, nullptr,
                                           nullptr, innerNames, nullptr};
  static const void* const outerInfos[2] = {&INTEGER::theInfo, &inner};
  static const int outerIds[2] = {-1, -1};
  static const char* const outerNames[2] = {"a", "b"};
  static const SEQUENCE::InfoType outer = {&SEQUENCE::create, 16, false, outerInfos, outerIds, 2, 0, 0, nullptr,
                                           nullptr, outerNames, nullptr};
  SEQUENCE s(&outer);
  static_cast<INTEGER&>(*s.getField(0)) = 1;
  static_cast<BOOLEAN&>(*static_cast<SEQUENCE&>(*s.getField(1)).getField(0)) = true;
  EXPECT_EQ("{\n  a 1,\n  b {\n    c TRUE\n  }\n}", print(s));

  static const SEQUENCE::InfoType none = {&SEQUENCE::create, 16, false, nullptr, nullptr, 0, 0, 0, nullptr, nullptr,
                                          nullptr, nullptr};
  EXPECT_EQ("{\n}", print(SEQUENCE(&none)));

  SEQUENCE_OF<INTEGER> ints;
  EXPECT_EQ("{\n}", print(ints));
  ints.push_back(INTEGER(1, &INTEGER::theInfo));
  ints.push_back(INTEGER(2, &INTEGER::theInfo));
  EXPECT_EQ("{\n  1,\n  2\n}", print(ints));
}

TEST(Printer, PrimitiveKinds) {
  EXPECT_EQ("NULL", print(Null()));
  EXPECT_EQ("FALSE", print(BOOLEAN()));
  EXPECT_EQ("-5", print(INTEGER(-5, &INTEGER::theInfo)));
  Constrained_INTEGER<FixedConstraint, 0, 4294967295u> big(4294967295u);
  EXPECT_EQ("4294967295", print(big));
  Constrained_INTEGER<FixedConstraint, -128, 127> small;
  small.setValue(-128);
  EXPECT_EQ("-128", print(small));

  std::vector<char> octets = {0x01, static_cast<char>(0xAB), static_cast<char>(0xFF)};
  EXPECT_EQ("'01 ab ff'H", print(OCTET_STRING(octets, &OCTET_STRING::theInfo)));
  EXPECT_EQ("''H", print(OCTET_STRING()));

  BIT_STRING bits;
  bits.resize(3);
  bits.set(0);
  bits.set(2);
  EXPECT_EQ("'101'B", print(bits));

  OBJECT_IDENTIFIER oid;
  oid.append(1);
  oid.append(3);
  oid.append(6);
  EXPECT_EQ("{ 1 3 6 }", print(oid));

  EXPECT_EQ("\"say \"hi\"\"", print(IA5String("say \"hi\"")));
  EXPECT_EQ("\"20240131235959Z\"", print(GeneralizedTime("20240131235959Z")));

  OpenData open(new BOOLEAN(true), &OpenData::theInfo);
  EXPECT_EQ("TRUE", print(open));
  OpenData raw;
  raw.grab(new std::vector<char>(2, '\x10'));
  EXPECT_EQ("'10 10'H", print(raw));
}

TEST(Printer, NumbersStayDecimalWhateverTheStreamFlags) {
  std::ostringstream os;
  os << std::hex << std::showbase;
  os << INTEGER(255, &INTEGER::theInfo);
  EXPECT_EQ("255", os.str());
}

TEST(Printer, BMPStringByLocale) {
  LocaleGuard guard;
  std::setlocale(LC_CTYPE, "C");
  EXPECT_EQ("\"AB\"", print(BMPString(L"AB")));
  wchar_t const cyr[] = {L'A', static_cast<wchar_t>(0x410), 0};
  EXPECT_EQ("{{ 0, 0, 0, 65}, { 0, 0, 4, 16}}", print(BMPString(cyr)));

  // Two octets per character in UTF-8: the whole text comes out.
  if (std::setlocale(LC_CTYPE, "C.UTF-8") == nullptr) GTEST_SKIP() << "no C.UTF-8 locale";
  wchar_t const two[] = {static_cast<wchar_t>(0x410), static_cast<wchar_t>(0x411), 0};
  EXPECT_EQ("\"\xD0\x90\xD0\x91\"", print(BMPString(two)));
}

TEST(PrinterFailure, UnselectedChoiceSetsFailbit) {
  Demo::Message bad;
  std::ostringstream os;
  os << "before " << bad;
  EXPECT_TRUE(os.fail());
  EXPECT_FALSE(os.bad());
  os << "after";
  EXPECT_EQ("before {\n  pdu ", os.str());

  EXPECT_EQ(static_cast<int>(std::ios_base::failbit), bad.print_on(os));
  std::string text;
  EXPECT_FALSE(valueNotation(bad, text));
  EXPECT_FALSE(valueNotation(OpenData(), text));

  std::ostringstream failed;
  failed.setstate(std::ios_base::failbit);
  failed << sampleMessage();
  EXPECT_EQ("", failed.str());

  std::ostringstream throwing;
  throwing.exceptions(std::ios_base::failbit);
  EXPECT_THROW(throwing << bad, std::ios_base::failure);
}

TEST(PrinterFailure, CostsOneLineOnly) {
  std::ostringstream log;
  Demo::Message bad;
  Demo::Message good;
  good.set_pdu().select_destroy();
  log << "send fail: encode error!" << bad << endLine;
  EXPECT_TRUE(log.good());
  log << "next " << good << endLine;
  log << "last" << endLine;
  EXPECT_EQ(
      "send fail: encode error!{\n  pdu \n"
      "next {\n  pdu destroy : NULL\n}\n"
      "last\n",
      log.str());
}
