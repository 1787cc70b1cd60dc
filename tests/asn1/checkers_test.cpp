// Validity (isValid, isStrictlyValid) and the invalid tracer's texts and
// paths.
#include <gtest/gtest.h>

#include <sstream>

#include "PerTypes.h"
#include "asn1/ASN1.h"

using namespace ASN1;
using namespace PerTest;

namespace {

typedef Constrained_INTEGER<ExtendableConstraint, 10, 20> IntExt10to20;
const SEQUENCE_OF_Base::InfoType BoolsExtUpTo1 = {
    &create_value<SEQUENCE_OF_Base>, 16, ExtendableConstraint, 0, 1, &BOOLEAN::theInfo};

std::string trace(AbstractData const& v) {
  std::ostringstream os;
  bool ok = trace_invalid(os, "P", v);
  std::string text = os.str();
  if (ok) return text.empty() ? "valid" : "valid but wrote " + text;
  return text;
}

}  // namespace

TEST(Checkers, IntegerBounds) {
  Int0to255 over(256u);
  EXPECT_FALSE(over.AbstractData::isValid());
  EXPECT_FALSE(over.AbstractData::isStrictlyValid());
  EXPECT_EQ("P The INTEGER value 256 is greater than upper bound 255\n", trace(over));

  // Extensible: valid beyond the upper bound, never strictly, and the
  // tracer is silent about it; below the lower bound it is traced.
  IntExt0to255 ext(256u);
  EXPECT_TRUE(ext.AbstractData::isValid());
  EXPECT_FALSE(ext.AbstractData::isStrictlyValid());
  EXPECT_EQ("valid", trace(ext));
  IntExt10to20 low(5u);
  EXPECT_EQ("P The INTEGER value 5 is smaller than lower bound 10\n", trace(low));

  IntMinus128to127 gain;
  gain.setValue(-5);
  EXPECT_TRUE(gain.AbstractData::isStrictlyValid());
  gain.setValue(-129);
  EXPECT_EQ("P The INTEGER value -129 is smaller than lower bound -128\n", trace(gain));
  EXPECT_TRUE(Int0to4G(4294967295u).AbstractData::isStrictlyValid());
}

TEST(Checkers, Enumerated) {
  Demo::Mode m;
  m.setFromInt(17);
  EXPECT_TRUE(m.AbstractData::isValid());
  EXPECT_FALSE(m.AbstractData::isStrictlyValid());
  EXPECT_EQ("P This ENUMERATED has invalid value 17\n", trace(m));
  Closed c;
  c.setFromInt(3);
  EXPECT_FALSE(c.AbstractData::isValid());
  c.setFromInt(-1);
  EXPECT_TRUE(c.AbstractData::isStrictlyValid());
}

TEST(Checkers, StringsAndIdentifiers) {
  OCTET_STRING big(9, 'x', &OctetsExt1to4);
  EXPECT_TRUE(big.AbstractData::isValid());
  EXPECT_FALSE(big.AbstractData::isStrictlyValid());
  EXPECT_EQ("valid", trace(big));  // the upper bound is traced for fixed bounds only
  OCTET_STRING wrong(3, 'x', &OctetsFixed2);
  EXPECT_EQ("P This OCTET STRING has size 3 greater than its upper bound 2\n", trace(wrong));
  BIT_STRING bits(&BitsUpTo32);
  bits.resize(33);
  EXPECT_EQ("P This BIT STRING has size 33 greater than its upper bound 32\n", trace(bits));

  EXPECT_EQ("P This AbstractString has size 0 smaller than its lower bound 1\n", trace(Name1to64("")));
  IA5String high("a\x80");
  EXPECT_FALSE(high.AbstractData::isValid());
  EXPECT_EQ("P The character '\x80' is not valid for the string\n", trace(high));
  BMPString wide(L"a\x10000");
  EXPECT_EQ("P The character '65536' is not valid for the string\n", trace(wide));

  OBJECT_IDENTIFIER oid;
  EXPECT_FALSE(oid.AbstractData::isValid());
  EXPECT_EQ("P This OBJECT IDENTIFIER is not assigned\n", trace(oid));
}

TEST(Checkers, TimeAndOpenTypes) {
  GeneralizedTime t("20241331000000Z");
  EXPECT_FALSE(t.AbstractData::isValid());
  EXPECT_EQ("P This GeneralizedTime is not valid\n", trace(t));
  EXPECT_EQ("valid", trace(GeneralizedTime("20240131235959Z")));

  OpenData empty;
  EXPECT_FALSE(empty.isValid());
  EXPECT_FALSE(empty.AbstractData::isStrictlyValid());
  EXPECT_EQ("P This Open Type does not contain any valid data\n", trace(empty));
  OpenData raw;
  raw.grab(new std::vector<char>(1, 'x'));
  EXPECT_TRUE(raw.isValid());
  EXPECT_TRUE(raw.isStrictlyValid());
  OpenData holding(new Int0to255(300u), &OpenData::theInfo);
  EXPECT_FALSE(holding.isValid());
  EXPECT_EQ("P The INTEGER value 300 is greater than upper bound 255\n", trace(holding));
}

TEST(Checkers, Choices) {
  Demo::Command c;
  EXPECT_FALSE(c.isValid());
  EXPECT_EQ("P This CHOICE is not selected\n", trace(c));
  c.select_query_state(Demo::Mode::speak);
  EXPECT_TRUE(c.isValid());  // a known extension alternative of an extensible type
  EXPECT_FALSE(c.isStrictlyValid());
  EXPECT_EQ("valid", trace(c));
  c.select(-2);
  EXPECT_FALSE(c.isValid());
  EXPECT_EQ("P This selection is not understood by this decoder\n", trace(c));
  Tri t;
  t.select_c() = 9u;
  EXPECT_FALSE(t.AbstractData::isValid());
  EXPECT_EQ("P.c The INTEGER value 9 is greater than upper bound 7\n", trace(t));
}

TEST(Checkers, ListsAndPaths) {
  Demo::Batch batch;
  Demo::Item item;
  for (unsigned id : {1u, 2u, 70000u, 3u}) {
    item.set_id(id);
    batch.ref_items().push_back(item);
  }
  EXPECT_FALSE(batch.isValid());
  EXPECT_FALSE(batch.isStrictlyValid());
  EXPECT_EQ("P.items[2].id The INTEGER value 70000 is greater than upper bound 65535\n", trace(batch));

  Demo::Message m;
  EXPECT_EQ("P.pdu This CHOICE is not selected\n", trace(m));
  m.set_pdu().select_create().set_slot(2000);
  EXPECT_EQ("P.pdu.create.slot The INTEGER value 2000 is greater than upper bound 1023\n", trace(m));
  m.set_pdu().ref_create().set_slot(20);
  m.set_pdu().ref_create().set_gain_level(static_cast<unsigned>(-5));
  EXPECT_TRUE(m.isStrictlyValid());
  EXPECT_EQ("valid", trace(m));

  SEQUENCE_OF_Base four(&BoolsUpTo3);
  for (int i = 0; i < 4; ++i) four.push_back(new BOOLEAN(true));
  EXPECT_FALSE(four.isValid());
  EXPECT_EQ("P This SEQUENCE OF has size 4 greater than its upper bound 3\n", trace(four));
  SEQUENCE_OF_Base two(&BoolsExtUpTo1);
  two.push_back(new BOOLEAN(true));
  two.push_back(new BOOLEAN(false));
  EXPECT_TRUE(two.isValid());
  EXPECT_FALSE(two.isStrictlyValid());
}

TEST(Checkers, TracerTextStreams) {
  InvalidTracer tracer;
  Closed c;
  c.setFromInt(7);
  EXPECT_FALSE(c.accept(tracer));
  std::ostringstream os;
  os << tracer;
  EXPECT_EQ(" This ENUMERATED has invalid value 7", os.str());
}
