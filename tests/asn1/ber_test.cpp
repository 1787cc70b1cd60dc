// BER octets worked out by hand from the tag, length and contents rules,
// decoded back; and the decoder's refusal of truncated, oversized and
// malformed input.
#include <gtest/gtest.h>

#include <cstdio>
#include <iterator>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "CoderTypes.h"
#include "DemoTypes.h"

using namespace ASN1;
using namespace CoderTypes;

namespace {

std::vector<char> ber(AbstractData const& v) {
  std::vector<char> out;
  BEREncoder encoder(out);
  EXPECT_TRUE(v.accept(encoder));
  return out;
}

std::string hex(std::vector<char> const& octets) {
  std::string s;
  char buf[4];
  for (char c : octets) {
    std::snprintf(buf, sizeof buf, s.empty() ? "%02X" : " %02X", static_cast<unsigned char>(c));
    s += buf;
  }
  return s;
}

std::vector<char> octets(std::string const& text) {
  std::vector<char> out;
  unsigned v;
  int n;
  for (char const* p = text.c_str(); std::sscanf(p, "%2x%n", &v, &n) == 1; p += n) out.push_back(static_cast<char>(v));
  return out;
}

bool decode(std::vector<char> const& in, AbstractData& v) {
  BERDecoder decoder(in.data(), in.data() + in.size());
  return v.accept(decoder);
}

bool decode(std::string const& text, AbstractData& v) { return decode(octets(text), v); }

std::unique_ptr<SEQUENCE> make(void const* info) {
  return std::unique_ptr<SEQUENCE>(static_cast<SEQUENCE*>(AbstractData::create(info)));
}

// Encodes, checks the octets, decodes into a fresh value of the same record
// and checks that it equals the original.
template <class T>
void roundTrip(T const& v, std::string const& expected) {
  std::vector<char> out = ber(v);
  EXPECT_EQ(expected, hex(out));
  EXPECT_EQ(out.size(), getObjectLength(v, static_cast<unsigned>(v.getTag())));
  std::unique_ptr<AbstractData> back(AbstractData::create(v.info()));
  ASSERT_TRUE(decode(out, *back)) << expected;
  EXPECT_EQ(0, v.compare(*back)) << expected;
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

}  // namespace

TEST(BER, IntegerOctets) {
  roundTrip(INTEGER(0, &INTEGER::theInfo), "02 01 00");
  roundTrip(INTEGER(255, &INTEGER::theInfo), "02 02 00 FF");
  roundTrip(INTEGER(-1, &INTEGER::theInfo), "02 01 FF");
  roundTrip(INTEGER(127, &INTEGER::theInfo), "02 01 7F");
  roundTrip(INTEGER(128, &INTEGER::theInfo), "02 02 00 80");
  roundTrip(INTEGER(-128, &INTEGER::theInfo), "02 01 80");
  roundTrip(INTEGER(-129, &INTEGER::theInfo), "02 02 FF 7F");
  roundTrip(INTEGER(0x800000, &INTEGER::theInfo), "02 04 00 80 00 00");
  roundTrip(INTEGER(INT32_MIN, &INTEGER::theInfo), "02 04 80 00 00 00");
  // The unsigned face of a 0..4294967295 value travels as its 32 bits.
  Constrained_INTEGER<FixedConstraint, 0, 4294967295u> big(4294967295u);
  roundTrip(big, "02 01 FF");

  EXPECT_EQ(1, getIntegerDataLength(0));
  EXPECT_EQ(2, getIntegerDataLength(32767));
  EXPECT_EQ(3, getIntegerDataLength(32768));
  EXPECT_EQ(3, getIntegerDataLength(-32769));
  EXPECT_EQ(4, getIntegerDataLength(INT32_MAX));
}

TEST(BER, SimpleKinds) {
  roundTrip(Null(), "05 00");
  roundTrip(BOOLEAN(true), "01 01 FF");
  roundTrip(BOOLEAN(false), "01 01 00");

  OBJECT_IDENTIFIER oid;
  for (unsigned arc : {1u, 2u, 840u, 113549u}) oid.append(arc);
  roundTrip(oid, "06 06 2A 86 48 86 F7 0D");

  OCTET_STRING os(std::vector<char>{'\x01', '\xab', '\xff'}, &OCTET_STRING::theInfo);
  roundTrip(os, "04 03 01 AB FF");
  roundTrip(IA5String("ab"), "16 02 61 62");
  roundTrip(BMPString(L"A\x20AC"), "1E 04 00 41 20 AC");
  roundTrip(GeneralizedTime("20240131235959Z"), "18 0F 32 30 32 34 30 31 33 31 32 33 35 39 35 39 5A");

  // ENUMERATED goes as its number, sign included.
  Demo::Mode mode(Demo::Mode::active);
  roundTrip(mode, "0A 01 10");
}

TEST(BER, EnumerationReadsBackSigned) {
  Demo::Mode mode;
  mode.setFromInt(-1);
  EXPECT_EQ("0A 01 FF", hex(ber(mode)));
  Demo::Mode back;
  ASSERT_TRUE(decode("0A 01 FF", back));
  EXPECT_EQ(-1, back.asInt());
  ASSERT_TRUE(decode("0A 02 FF 7F", back));
  EXPECT_EQ(-129, back.asInt());
  EXPECT_FALSE(decode("0A 00", back));
}

TEST(BER, BitStrings) {
  BIT_STRING empty;
  roundTrip(empty, "03 01 00");
  BIT_STRING back;
  back.resize(5);
  ASSERT_TRUE(decode("03 01 00", back));
  EXPECT_EQ(0u, back.size());

  BIT_STRING eight;
  eight.resize(8);
  eight.set(0);
  eight.set(7);
  roundTrip(eight, "03 02 00 81");

  BIT_STRING three;
  three.resize(3);
  three.set(0);
  three.set(2);
  roundTrip(three, "03 02 05 A0");

  BIT_STRING nine;
  nine.resize(9);
  nine.set(8);
  roundTrip(nine, "03 03 07 00 80");
}

TEST(BER, MultiOctetTagNumbers) {
  INTEGER t31(5, &Tag31Integer);
  roundTrip(t31, "1F 1F 01 05");
  INTEGER t128(5, &Tag128Integer);
  roundTrip(t128, "1F 81 00 01 05");
  // A tag number of 31 does not pass for 128 or the other way round.
  INTEGER other(&Tag31Integer);
  EXPECT_FALSE(decode("1F 81 00 01 05", other));

  std::unique_ptr<SEQUENCE> wide = make(&Wide);
  field<INTEGER>(*wide, 0) = 5;
  field<BOOLEAN>(*wide, 1, 0) = true;
  roundTrip(*wide, "30 09 5F 81 48 01 05 DF 1F 01 FF");
  CHOICE& c = field<CHOICE>(*wide, 2, 1);
  ASSERT_TRUE(c.select(0));
  dynamic_cast<INTEGER&>(*c.getSelection()) = 3;
  roundTrip(*wide, "30 0C 5F 81 48 01 05 DF 1F 01 FF 02 01 03");
}

TEST(BER, LongLengths) {
  OCTET_STRING os128(128, 'x', &OCTET_STRING::theInfo);
  std::vector<char> out = ber(os128);
  ASSERT_EQ(131u, out.size());
  EXPECT_EQ("04 81 80", hex(std::vector<char>(out.begin(), out.begin() + 3)));
  EXPECT_EQ(131u, getObjectLength(os128, 4));
  EXPECT_EQ(128u, getObjectLength(os128, 0));
  EXPECT_EQ(128u, getDataLength(os128));
  OCTET_STRING back;
  ASSERT_TRUE(decode(out, back));
  EXPECT_EQ(os128, back);

  OCTET_STRING os256(256, 'y', &OCTET_STRING::theInfo);
  out = ber(os256);
  ASSERT_EQ(260u, out.size());
  EXPECT_EQ("04 82 01 00", hex(std::vector<char>(out.begin(), out.begin() + 4)));
  EXPECT_EQ(260u, getObjectLength(os256, 4));
  ASSERT_TRUE(decode(out, back));
  EXPECT_EQ(os256, back);

  // A SEQUENCE's header counts what its fields write.
  Demo::Batch batch;
  Demo::Item item;
  item.set_label(std::string(200, 'z'));
  batch.ref_items().push_back(item);
  out = ber(batch);
  EXPECT_EQ(out.size(), getObjectLength(batch, 16));
  EXPECT_EQ("30 81 D4 A0 81 D1 30 81 CE 80 01 00 81 81 C8", hex(std::vector<char>(out.begin(), out.begin() + 15)));
  Demo::Batch batchBack;
  ASSERT_TRUE(decode(out, batchBack));
  EXPECT_EQ(batch, batchBack);

  // The 0x80 length octet reads as length 0.
  Null n;
  EXPECT_TRUE(decode("05 80", n));
}

TEST(BER, ConstructedTypes) {
  Demo::Item item;
  item.set_id(4);
  item.set_label("a");
  roundTrip(item, "30 06 80 01 04 81 01 61");
  item.omit_label();
  roundTrip(Demo::Item(item), "30 03 80 01 04");

  Demo::Batch batch;
  Demo::Item one;
  one.set_id(1);
  batch.ref_items().push_back(one);
  roundTrip(batch, "30 07 A0 05 30 03 80 01 01");

  // A CHOICE field under an automatic tag is a constructed wrapper around
  // its alternative's own tag.
  Demo::Message msg;
  msg.set_seq(7);
  msg.set_pdu().select_destroy();
  roundTrip(msg, "30 07 80 01 07 A1 02 81 00");

  Demo::Message query;
  query.set_pdu().select_query_state(Demo::Mode::active);
  roundTrip(query, "30 05 A1 03 82 01 10");

  // Extension additions follow the root fields without any marker.
  Demo::Params params;
  params.set_slot(17);
  params.set_mode(Demo::Mode::listen);
  params.set_gain_level(static_cast<unsigned>(-5));
  params.set_flag(true);
  roundTrip(params, "30 0C 80 01 11 82 01 02 84 01 FB 85 01 FF");

  // Untagged alternatives of a CHOICE with its own tags, inside a SEQUENCE
  // whose fields keep their own tags.
  std::unique_ptr<SEQUENCE> own = make(&Own);
  field<INTEGER>(*own, 0) = 5;
  CHOICE& pick = field<CHOICE>(*own, 2);
  ASSERT_TRUE(pick.select(0));
  dynamic_cast<INTEGER&>(*pick.getSelection()) = 3;
  roundTrip(*own, "30 06 02 01 05 02 01 03");
  field<BOOLEAN>(*own, 1, 0) = true;
  ASSERT_TRUE(pick.select(1));
  dynamic_cast<AbstractString&>(*pick.getSelection()) = std::string("a");
  roundTrip(*own, "30 09 02 01 05 01 01 FF 16 01 61");

  roundTrip(sampleMessage(),
            "30 28 80 01 07 A1 23 A0 21 80 01 11 81 07 74 72 75 6E 6B 2D 31 82 01 02 A3 0D 30 06 80 01 04 81 01 61 30 "
            "03 80 01 05 85 01 FF");
}

TEST(BER, EveryKindRoundTrips) {
  std::unique_ptr<SEQUENCE> kinds(makeKinds());
  std::vector<char> out = ber(*kinds);
  EXPECT_EQ(out.size(), getObjectLength(*kinds, 16));
  std::unique_ptr<SEQUENCE> back = make(&Kinds);
  ASSERT_TRUE(decode(out, *back));
  EXPECT_EQ(0, kinds->compare(*back));
  EXPECT_EQ(kinds->asValueNotation(), back->asValueNotation());

  // The type-constrained open type wraps its value's complete encoding.
  std::vector<char> open = ber(*kinds->getField(kOpen));
  EXPECT_EQ("02 01 4D", hex(open));
  EXPECT_NE(std::string::npos, hex(out).find("AF 03 02 01 4D"));
}

TEST(BER, OpenTypeWithRawOctets) {
  OpenData raw;
  raw.grab(new std::vector<char>(octets("02 01 05")));
  EXPECT_EQ("02 01 05", hex(ber(raw)));
  OpenData back;
  ASSERT_TRUE(decode("02 01 05", back));
  ASSERT_TRUE(back.has_buf());
  EXPECT_EQ(raw, back);

  // The held octets decode into the held value.
  OpenData both(new INTEGER(&INTEGER::theInfo), &OpenData::theInfo);
  both.grab(new std::vector<char>(octets("02 01 05")));
  BERDecoder decoder(nullptr, nullptr);
  ASSERT_TRUE(decoder.revisit(both));
  EXPECT_EQ(5, dynamic_cast<INTEGER&>(both.get_data()).getValue());
  EXPECT_FALSE(decoder.revisit(back));  // octets but no value

  OpenData empty;
  std::vector<char> out;
  BEREncoder encoder(out);
  EXPECT_FALSE(empty.accept(encoder));
}

TEST(BER, PrimitiveOrConstructed) {
  PrimitiveChecker checker;
  EXPECT_TRUE(INTEGER().accept(checker));
  EXPECT_FALSE(Demo::Item().accept(checker));
  EXPECT_FALSE(Demo::Batch().get_items().accept(checker));
  Demo::Command cmd;
  cmd.select_create();
  EXPECT_FALSE(cmd.accept(checker));
  cmd.select_destroy();
  EXPECT_TRUE(cmd.accept(checker));
}

TEST(BER, DecoderLeniencies) {
  // A mandatory field whose tag does not match is left absent and decoding
  // goes on.
  Demo::Item item;
  ASSERT_TRUE(decode("30 03 81 01 61", item));
  EXPECT_EQ(0u, item.get_id().getValue());
  EXPECT_EQ("a", static_cast<std::string const&>(item.get_label()));

  // An empty SEQUENCE, also as the last octets of the input.
  std::unique_ptr<SEQUENCE> opt = make(&Opt);
  field<INTEGER>(*opt, 0, 0) = 9;
  ASSERT_TRUE(decode("30 00", *opt));
  EXPECT_FALSE(opt->hasOptionalField(0));
  EXPECT_FALSE(opt->hasOptionalField(1));
  SEQUENCE_OF_Base list(&OptList);
  ASSERT_TRUE(decode("30 07 30 03 81 01 FF 30 00", list));
  ASSERT_EQ(2u, list.size());
  EXPECT_TRUE(static_cast<SEQUENCE*>(*list.begin())->hasOptionalField(1));
  EXPECT_FALSE(static_cast<SEQUENCE*>(*(list.begin() + 1))->hasOptionalField(1));

  // Octets after the known fields inside a SEQUENCE, and after the value,
  // are skipped.
  ASSERT_TRUE(decode("30 06 80 01 04 99 01 00 FF FF", item));
  EXPECT_EQ(4u, item.get_id().getValue());
  EXPECT_FALSE(item.label_isPresent());
}

TEST(BER, RefusedInput) {
  INTEGER i;
  EXPECT_FALSE(decode("02 00", i));           // no contents
  EXPECT_FALSE(decode("02", i));              // no length
  EXPECT_FALSE(decode("", i));                // nothing
  EXPECT_FALSE(decode("02 02 01", i));        // contents cut short
  EXPECT_FALSE(decode("04 01 00", i));        // wrong tag
  EXPECT_FALSE(decode("1F 84 80 80 00", i));  // tag number beyond 65535
  EXPECT_FALSE(decode("1F 81", i));           // tag number cut short

  // Lengths are bounded by the input before anything is sized from them.
  OCTET_STRING os;
  EXPECT_FALSE(decode("04 84 FF FF FF FF 00", os));
  EXPECT_FALSE(decode("04 84 7F FF FF FF", os));
  EXPECT_FALSE(decode("04 85 00 00 00 00 01 00", os));  // five length octets
  EXPECT_FALSE(decode("04 82 01", os));                 // length octets cut short
  EXPECT_TRUE(decode("04 84 00 00 00 01 AA", os));      // four are fine
  EXPECT_EQ(1u, os.size());
  IA5String text;
  EXPECT_FALSE(decode("16 83 10 00 00 41 42", text));
  BMPString wide;
  EXPECT_FALSE(decode("1E 84 7F FF FF FE 00 41", wide));
  GeneralizedTime time;
  EXPECT_FALSE(decode("18 84 7F FF FF FF 32", time));
  OBJECT_IDENTIFIER oid;
  EXPECT_FALSE(decode("06 84 7F FF FF FF 2A", oid));

  BIT_STRING bits;
  EXPECT_FALSE(decode("03 00", bits));
  EXPECT_FALSE(decode("03 02 08 00", bits));  // more than 7 unused bits
  EXPECT_FALSE(decode("03 01 03", bits));     // unused bits without data
  EXPECT_FALSE(decode("03 84 7F FF FF FF 00", bits));

  // Constructed values: lists and SEQUENCEs whose parts overrun them.
  Demo::Batch batch;
  EXPECT_FALSE(decode("30 84 7F FF FF FF A0 00", batch));
  EXPECT_FALSE(decode("30 07 A0 05 30 03 80 02 01", batch));
  Demo::Item item;
  EXPECT_FALSE(decode("30 03 80 02 04 05", item));     // field runs past the SEQUENCE
  EXPECT_FALSE(decode("30 05 80 01 04 81 05", item));  // optional field cut short
  EXPECT_FALSE(decode("31 03 80 01 04", item));        // SET tag for a SEQUENCE
  SEQUENCE_OF_Base list(&OptList);
  EXPECT_FALSE(decode("30 03 30 02 80 01 00", list));  // element runs past the list

  // A CHOICE alternative no tag of the type selects.
  Demo::Message msg;
  EXPECT_FALSE(decode("30 04 A1 02 85 00", msg));
  EXPECT_FALSE(decode("30 04 A1 02 01 00", msg));  // universal class under automatic tags
  EXPECT_FALSE(decode("30 04 A1 03 81 00", msg));  // wrapper longer than the input
  EXPECT_FALSE(decode("30 05 A1 02 81 02 00", msg));  // alternative longer than its wrapper
  std::unique_ptr<SEQUENCE> own = make(&Own);
  EXPECT_FALSE(decode("30 06 02 01 05 04 01 03", *own));
}

TEST(BER, EveryTruncationRefused) {
  std::vector<char> whole = ber(sampleMessage());
  for (std::size_t n = 0; n < whole.size(); ++n) {
    Demo::Message m;
    std::vector<char> cut(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(n));
    EXPECT_FALSE(decode(cut, m)) << n;
  }
}

// Corrupted encodings of every kind never crash and never read outside the
// input (the sanitizer build watches). A valid value that decodes is coded
// again; whatever is coded again decodes to the same value. (An alternative
// of an extensible CHOICE that the type does not know decodes, but its
// octets are not kept, so the value is not valid and cannot be coded.)
TEST(BER, CorruptedInputIsSafe) {
  std::unique_ptr<SEQUENCE> kinds(makeKinds());
  std::vector<std::vector<char> > seeds = {ber(sampleMessage()), ber(*kinds)};
  std::mt19937 rng(20240131);
  int decoded = 0, encodedAgain = 0;
  for (int round = 0; round < 20000; ++round) {
    std::vector<char> in = seeds[static_cast<std::size_t>(round) % seeds.size()];
    int edits = 1 + static_cast<int>(rng() % 4);
    for (int e = 0; e < edits && !in.empty(); ++e) {
      std::size_t at = rng() % in.size();
      switch (rng() % 4) {
        case 0: in[at] = static_cast<char>(rng()); break;
        case 1: in[at] = static_cast<char>(in[at] ^ (1 << (rng() % 8))); break;
        case 2: in.resize(at); break;
        default: in.insert(in.begin() + static_cast<std::ptrdiff_t>(at), static_cast<char>(0x80 | rng())); break;
      }
    }
    auto fresh = [&] {
      return std::unique_ptr<AbstractData>(round % 2 == 0 ? static_cast<AbstractData*>(new Demo::Message())
                                                          : AbstractData::create(&Kinds));
    };
    std::unique_ptr<AbstractData> v = fresh();
    if (!decode(in, *v)) continue;
    ++decoded;
    std::vector<char> again;
    BEREncoder encoder(again);
    const bool encoded = v->accept(encoder);
    if (v->isValid()) {
      ASSERT_TRUE(encoded) << round << ": " << hex(in);
    }
    if (!encoded) continue;
    ++encodedAgain;
    std::unique_ptr<AbstractData> back = fresh();
    ASSERT_TRUE(decode(again, *back)) << round << ": " << hex(again);
    EXPECT_EQ(v->asValueNotation(), back->asValueNotation()) << round << ": " << hex(in);
  }
  // Most mutations still decode (about 3500 of the 20000 here), and most of
  // those are coded again: the checks above are not vacuous.
  EXPECT_GT(decoded, 2000);
  EXPECT_GT(encodedAgain, 2000);
}

TEST(BER, ThroughTheCoderEnvironment) {
  CoderEnv env;
  env.set_encodingRule(CoderEnv::ber);
  Demo::Message msg = sampleMessage();
  std::vector<char> out;
  ASSERT_TRUE(ASN1::encode(msg, &env, std::back_inserter(out)));
  EXPECT_EQ(ber(msg), out);
  Demo::Message back;
  ASSERT_TRUE(ASN1::decode(out.data(), out.data() + out.size(), &env, back, false));
  EXPECT_EQ(msg, back);

  // A value that cannot be coded leaves the output as it was.
  Demo::Message unselected;
  std::vector<char> kept{'k'};
  EXPECT_FALSE(ASN1::encode(unselected, &env, std::back_inserter(kept)));
  EXPECT_EQ(1u, kept.size());
}
