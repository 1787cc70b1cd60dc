// SEQUENCE presence maps and the optional-index space, CHOICE selection,
// SEQUENCE OF containers, open types, deep copy and comparison.
#include <gtest/gtest.h>

#include <memory>
#include <typeinfo>

#include "DemoTypes.h"

using namespace ASN1;

namespace {

// Built during static initialisation, before main: the records it reads live
// in another translation unit and need no start-up code of their own.
Demo::Batch staticBatch;

Demo::Params sampleParams() {
  Demo::Params p;
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
  return p;
}

}  // namespace

TEST(Sequence, NewValueHasMandatoryFieldsOnly) {
  Demo::Params p;
  ASSERT_EQ(6u, p.fieldCount());
  EXPECT_NE(nullptr, p.getField(0));
  EXPECT_EQ(nullptr, p.getField(1));
  EXPECT_NE(nullptr, p.getField(2));
  for (unsigned k = 3; k < 6; ++k) EXPECT_EQ(nullptr, p.getField(k)) << k;
  for (unsigned k = 0; k < 6; ++k) EXPECT_FALSE(p.hasOptionalField(k)) << k;
  EXPECT_EQ(2u, p.optionalMap().size());
  EXPECT_EQ(0u, p.extensionMap().size());
  // Fields made from their records are objects of the accessors' classes.
  EXPECT_EQ(typeid(Demo::Params::slot_type), typeid(*p.getField(0)));
  EXPECT_EQ(typeid(Demo::Mode), typeid(*p.getField(2)));
  EXPECT_EQ(0u, p.get_slot().getValue());
}

// Root fields live one after another in one block of their SEQUENCE (an
// optional one from when it is included); a copy makes each field on its
// own, and values of both kinds move between SEQUENCEs by swap and
// assignment without being freed twice or lost (checked by the sanitizers).
TEST(Sequence, FieldsInTheBlockAndOnTheirOwn) {
  using Demo::Params;
  Params p;
  p.set_slot(3);
  p.set_name("a");
  char const* slot = reinterpret_cast<char const*>(p.getField(0));
  unsigned const nameAt = ASN1::next_place<Params::slot_type>(ASN1::slot_bytes(6));
  EXPECT_EQ(slot + (nameAt - ASN1::slot_bytes(6)), reinterpret_cast<char const*>(p.getField(1)));
  EXPECT_EQ(slot + (ASN1::next_place<Params::name_type>(nameAt) - ASN1::slot_bytes(6)),
            reinterpret_cast<char const*>(p.getField(2)));

  Params copy(p);
  EXPECT_TRUE(copy == p);
  copy.set_items().push_back(Demo::Item());
  p.omit_name();
  p.set_name("b");  // the field kept its place
  EXPECT_EQ(slot + (nameAt - ASN1::slot_bytes(6)), reinterpret_cast<char const*>(p.getField(1)));
  copy.swap(p);
  EXPECT_EQ("b", static_cast<std::string const&>(copy.get_name()));
  EXPECT_EQ(1u, p.get_items().size());
  p.set_name("c");
  copy = p;
  EXPECT_TRUE(copy == p);
  Params fresh;
  fresh.swap(copy);
  EXPECT_EQ("c", static_cast<std::string const&>(fresh.get_name()));
  EXPECT_FALSE(copy.name_isPresent());
}

TEST(Sequence, PresenceBitsOfOptionalFieldsAndAdditions) {
  Demo::Params p;
  p.set_items();
  EXPECT_TRUE(p.items_isPresent());
  EXPECT_FALSE(p.name_isPresent());
  // Optional root field 1 is the second bit of the first byte.
  EXPECT_EQ(static_cast<char>(0x40), p.optionalMap().bytes()[0]);

  // The second addition (optional index 3 = 2 optional roots + 1) grows the
  // extension map to two bits; the first addition stays absent.
  p.set_flag(true);
  EXPECT_EQ(2u, p.extensionMap().size());
  EXPECT_FALSE(p.extensionMap()[0]);
  EXPECT_TRUE(p.extensionMap()[1]);
  EXPECT_EQ(static_cast<char>(0x40), p.extensionMap().bytes()[0]);
  EXPECT_TRUE(p.flag_isPresent());
  EXPECT_FALSE(p.gain_level_isPresent());
  EXPECT_EQ(nullptr, p.getField(4));
  EXPECT_EQ(typeid(BOOLEAN), typeid(*p.getField(5)));

  p.set_gain_level(static_cast<unsigned>(-5));
  EXPECT_TRUE(p.gain_level_isPresent());
  EXPECT_EQ(static_cast<char>(0xC0), p.extensionMap().bytes()[0]);
  EXPECT_TRUE(p.get_gain_level().isStrictValid());

  // Removing keeps the value object; including again brings back the value.
  p.omit_flag();
  EXPECT_FALSE(p.flag_isPresent());
  EXPECT_NE(nullptr, p.getField(5));
  p.includeOptionalField(3, 5);
  EXPECT_TRUE(p.flag_isPresent());
  EXPECT_TRUE(p.get_flag());

  // Far beyond the known additions, the map grows with zero bits between.
  p.includeOptionalField(2 + 9, 5);
  EXPECT_EQ(10u, p.extensionMap().size());
  for (unsigned j = 2; j < 9; ++j) EXPECT_FALSE(p.extensionMap()[j]) << j;
  EXPECT_TRUE(p.extensionMap()[9]);
  p.removeOptionalField(100);  // beyond the map: no effect
  EXPECT_EQ(10u, p.extensionMap().size());
}

TEST(Sequence, BitMapBounds) {
  SEQUENCE::BitMap m;
  m.resize(3);
  m.set(3);
  m.set(10);
  EXPECT_EQ(0, m.bytes()[0]);
  EXPECT_FALSE(m[3]);
  m.set(2);
  EXPECT_EQ(static_cast<char>(0x20), m.bytes()[0]);
  m.resize(9);
  EXPECT_EQ(2u, m.bytes().size());
  EXPECT_TRUE(m[2]);
  m.clear(2);
  EXPECT_FALSE(m[2]);
  SEQUENCE::BitMap n;
  n.swap(m);
  EXPECT_EQ(9u, n.size());
  EXPECT_EQ(0u, m.size());
}

// A map of more than 64 bits leaves its in-place octets and comes back to
// them; the bits travel both ways and cut-off bits stay cut off.
TEST(Sequence, BitMapGrowsPastItsInPlaceOctetsAndBack) {
  SEQUENCE::BitMap m;
  m.resize(60);
  m.set(3);
  m.set(59);
  m.resize(100);
  m.set(90);
  EXPECT_EQ(13u, m.bytes().size());
  EXPECT_TRUE(m[3]);
  EXPECT_TRUE(m[59]);
  EXPECT_EQ(static_cast<char>(0x10), m.bytes()[0]);  // bit 3
  EXPECT_EQ(static_cast<char>(0x20), m.bytes()[11]);  // bit 90: octet 11 under 0x80 >> 2
  SEQUENCE::BitMap copy(m);
  m.resize(10);
  EXPECT_EQ(2u, m.bytes().size());
  m.resize(100);
  EXPECT_TRUE(m[3]);
  EXPECT_FALSE(m[59]);
  EXPECT_FALSE(m[90]);
  EXPECT_TRUE(copy[90]);
  m.swap(copy);
  EXPECT_TRUE(m[59]);
  EXPECT_FALSE(copy[59]);
}

TEST(Sequence, TagWordsPerTagMode) {
  static const void* const infos[3] = {&INTEGER::theInfo, &BOOLEAN::theInfo, &INTEGER::theInfo};
  static const int ids[3] = {-1, -1, -1};
  static const char* const names[3] = {"a", "b", "c"};
  static const unsigned table[3] = {0x400001, 0x400002, 0x400003};
  static const SEQUENCE::InfoType automatic = {&SEQUENCE::create, 16, false, infos, ids, 3, 0, 0, nullptr, nullptr,
                                               names, nullptr};
  static const SEQUENCE::InfoType own = {&SEQUENCE::create, 16, false, infos, ids, 3, 0, 0, nullptr,
                                         &SEQUENCE::defaultTag, names, nullptr};
  static const SEQUENCE::InfoType explicitTags = {&SEQUENCE::create, 16, false, infos, ids, 3, 0, 0, nullptr, table,
                                                  names, nullptr};
  SEQUENCE a(&automatic), o(&own), e(&explicitTags);
  EXPECT_EQ(0, a.tagMode());
  EXPECT_EQ(0x800002u, a.getFieldTag(2));
  EXPECT_EQ(2, o.tagMode());
  EXPECT_EQ(2u, o.getFieldTag(2));
  EXPECT_EQ(1u, o.getFieldTag(1));
  EXPECT_EQ(1, e.tagMode());
  EXPECT_EQ(0x400003u, e.getFieldTag(2));
  EXPECT_EQ(16, a.getTag());
}

TEST(Sequence, DefaultExtensionsExistFromConstruction) {
  static const void* const infos[3] = {&INTEGER::theInfo, &BOOLEAN::theInfo, &INTEGER::theInfo};
  static const int ids[3] = {-1, 0, 0};
  static const char* const names[3] = {"a", "b", "c"};
  static const char present[1] = {0x40};
  static const SEQUENCE::InfoType info = {&SEQUENCE::create, 16, true, infos, ids, 1, 2, 0, present, nullptr, names, nullptr};
  SEQUENCE s(&info);
  EXPECT_EQ(2u, s.extensionMap().size());
  EXPECT_EQ(nullptr, s.getField(1));
  ASSERT_NE(nullptr, s.getField(2));
  EXPECT_TRUE(s.hasOptionalField(1));
}

TEST(Sequence, DeepCopyOfNestedValues) {
  Demo::Message m;
  m.set_seq(7);
  m.set_pdu().select_create(sampleParams());

  Demo::Message copy(m);
  EXPECT_TRUE(copy == m);
  EXPECT_EQ(0, copy.compare(m));
  // Nothing is shared: every level is a new object of the same class.
  EXPECT_NE(m.getField(1), copy.getField(1));
  EXPECT_NE(&m.get_pdu().get_create(), &copy.get_pdu().get_create());
  EXPECT_NE(&m.get_pdu().get_create().get_items()[0], &copy.get_pdu().get_create().get_items()[0]);
  EXPECT_EQ(typeid(Demo::Item), typeid(copy.get_pdu().get_create().get_items()[1]));
  EXPECT_EQ(typeid(Demo::Params::name_type), typeid(copy.get_pdu().get_create().get_name()));

  // Changing the copy deep down leaves the original as it was.
  copy.ref_pdu().ref_create().set_name("trunk-2");
  EXPECT_EQ("trunk-1", static_cast<std::string const&>(m.get_pdu().get_create().get_name()));
  EXPECT_GT(copy.compare(m), 0);
  EXPECT_TRUE(copy != m);

  std::unique_ptr<Demo::Message> clone(m.clone());
  EXPECT_EQ(typeid(Demo::Message), typeid(*clone));
  EXPECT_TRUE(*clone == m);

  // Assignment replaces the whole tree.
  copy = m;
  EXPECT_TRUE(copy == m);
  Demo::Message empty;
  copy = empty;
  EXPECT_FALSE(copy.seq_isPresent());
  EXPECT_EQ(-1, copy.get_pdu().currentSelection());
  copy.swap(m);
  EXPECT_TRUE(copy.seq_isPresent());
  EXPECT_FALSE(m.seq_isPresent());
}

TEST(Sequence, ComparisonStopsAtFirstDifference) {
  Demo::Params a = sampleParams();
  Demo::Params b = sampleParams();
  EXPECT_EQ(0, a.compare(b));

  // A present optional field ranks above an absent one.
  b.omit_name();
  EXPECT_EQ(1, a.compare(b));
  EXPECT_EQ(-1, b.compare(a));
  // Absent in both: equal there, whatever the held objects say.
  a.omit_name();
  a.includeOptionalField(0, 1);
  a.set_name("zzz");
  a.omit_name();
  EXPECT_EQ(0, a.compare(b));

  // The first root field decides before later ones.
  a.set_slot(18);
  b.set_mode(Demo::Mode::active);
  EXPECT_EQ(1, a.compare(b));

  // In the additions alike.
  Demo::Params c = sampleParams(), d = sampleParams();
  c.set_gain_level(3);
  EXPECT_EQ(1, c.compare(d));
  d.set_gain_level(5);
  EXPECT_LT(c.compare(d), 0);
  d.set_gain_level(3);
  d.set_flag(false);
  EXPECT_GT(c.compare(d), 0);
}

TEST(Choice, SelectionAndReselection) {
  Demo::Command c;
  EXPECT_EQ(-1, c.currentSelection());
  EXPECT_EQ(nullptr, c.getSelection());
  EXPECT_EQ(2u, c.getNumChoices());
  EXPECT_TRUE(c.extendable());

  Demo::Params& p = c.select_create();
  p.set_slot(3);
  EXPECT_TRUE(c.create_isSelected());
  EXPECT_EQ(typeid(Demo::Params), typeid(*c.getSelection()));
  EXPECT_STREQ("create", c.getSelectionName());
  EXPECT_EQ(0x800000u, c.getSelectionTag());

  // select with the current id keeps the held value.
  EXPECT_TRUE(c.select(0));
  EXPECT_EQ(3u, c.get_create().get_slot().getValue());

  // Re-selecting another alternative replaces the value.
  c.select_query_state(Demo::Mode::standby);
  EXPECT_TRUE(c.query_state_isSelected());
  EXPECT_EQ(2, c.currentSelection());
  EXPECT_EQ(Demo::Mode::standby, c.get_query_state());
  EXPECT_STREQ("query-state", c.getSelectionName());

  // select by id makes a new default value.
  EXPECT_TRUE(c.select(0));
  EXPECT_EQ(0u, c.get_create().get_slot().getValue());
  EXPECT_TRUE(c.select(1));
  EXPECT_EQ(typeid(Null), typeid(*c.getSelection()));

  // Ids that name nothing leave -2 and no selection.
  EXPECT_FALSE(c.select(3));
  EXPECT_EQ(-2, c.currentSelection());
  EXPECT_TRUE(c.isUnknownSelection());
  EXPECT_EQ(nullptr, c.getSelection());
  c.select(1);
  EXPECT_FALSE(c.select(-1));
  EXPECT_EQ(-2, c.currentSelection());
  EXPECT_EQ(nullptr, c.getSelection());
}

TEST(Choice, ComparisonCopyAndConstructors) {
  Demo::Command none1, none2;
  EXPECT_EQ(0, none1.compare(none2));

  Demo::Command a(Demo::Command::destroy::id, Null());
  Demo::Command b(Demo::Command::query_state::id, Demo::Mode::learn);
  EXPECT_EQ(-1, a.compare(b));
  EXPECT_EQ(1, b.compare(a));
  EXPECT_EQ(-2, none1.compare(a));

  Demo::Command c(b);
  EXPECT_EQ(0, c.compare(b));
  c.select_query_state(Demo::Mode::active);
  EXPECT_GT(c.compare(b), 0);
  c = a;
  EXPECT_EQ(1, c.currentSelection());
  EXPECT_EQ(0, c.compare(a));
  c.swap(b);
  EXPECT_EQ(2, c.currentSelection());
  EXPECT_EQ(1, b.currentSelection());

  std::unique_ptr<AbstractData> copy(c.clone());
  EXPECT_EQ(typeid(Demo::Command), typeid(*copy));
  EXPECT_EQ(typeid(Demo::Mode), typeid(*static_cast<CHOICE&>(*copy).getSelection()));
}

TEST(Choice, SetIdByTag) {
  Demo::Command c;
  EXPECT_TRUE(c.setID(1, ContextTagClass));  // automatic tags: number = index
  EXPECT_EQ(1, c.currentSelection());
  EXPECT_FALSE(c.setID(7, ContextTagClass));
  EXPECT_EQ(-2, c.currentSelection());

  // A tagged CHOICE whose first alternative is an untagged CHOICE.
  static const void* const innerInfos[2] = {&BOOLEAN::theInfo, &INTEGER::theInfo};
  static const char* const innerNames[2] = {"flag", "number"};
  static const unsigned innerTags[2] = {1, 2};
  static const CHOICE::InfoType inner = {&CHOICE::create, 0, false, innerInfos, 2, 2, innerTags, innerNames};
  static const void* const outerInfos[3] = {&inner, &Null::theInfo, &OCTET_STRING::theInfo};
  static const char* const outerNames[3] = {"inner", "none", "octets"};
  static const unsigned outerTags[3] = {0, 5, 0x800004};
  static const CHOICE::InfoType outer = {&CHOICE::create, 0, false, outerInfos, 3, 3, outerTags, outerNames};

  CHOICE o(&outer);
  EXPECT_TRUE(o.setID(4, ContextTagClass));
  EXPECT_EQ(2, o.currentSelection());
  EXPECT_EQ(0x800004u, o.getSelectionTag());
  EXPECT_TRUE(o.setID(2, UniversalTagClass));  // INTEGER, inside the inner CHOICE
  EXPECT_EQ(0, o.currentSelection());
  CHOICE const& in = static_cast<CHOICE const&>(*o.getSelection());
  EXPECT_EQ(1, in.currentSelection());
  EXPECT_EQ(typeid(INTEGER), typeid(*in.getSelection()));

  // A tag that no alternative carries, nor the inner CHOICE's: no position
  // that names nothing stays behind.
  EXPECT_FALSE(o.setID(9, ApplicationTagClass));
  EXPECT_EQ(-2, o.currentSelection());
  EXPECT_EQ(nullptr, o.getSelection());
  EXPECT_EQ("", o.asValueNotation());

  static const unsigned plainTags[2] = {1, 5};
  static const void* const plainInfos[2] = {&BOOLEAN::theInfo, &Null::theInfo};
  static const CHOICE::InfoType plain = {&CHOICE::create, 0, false, plainInfos, 2, 2, plainTags, outerNames};
  CHOICE p(&plain);
  p.setID(5, UniversalTagClass);
  EXPECT_EQ(1, p.currentSelection());
  EXPECT_FALSE(p.setID(9, UniversalTagClass));  // would leave position 2, past the table
  EXPECT_EQ(-2, p.currentSelection());
  EXPECT_EQ(nullptr, p.getSelection());
}

TEST(SequenceOf, ContainerOperations) {
  Demo::Params::items_type list;
  EXPECT_TRUE(list.empty());
  EXPECT_EQ(16, list.getTag());
  list.resize(3);
  ASSERT_EQ(3u, list.size());
  EXPECT_EQ(typeid(Demo::Item), typeid(list[2]));
  unsigned n = 0;
  for (Demo::Params::items_type::iterator it = list.begin(); it != list.end(); ++it) (*it).set_id(10 + n++);
  EXPECT_EQ(12u, list[2].get_id().getValue());

  // erase through the typed iterator; the later elements move forward.
  Demo::Params::items_type::iterator next = list.erase(list.begin());
  EXPECT_EQ(11u, (*next).get_id().getValue());
  EXPECT_EQ(2u, list.size());

  Demo::Item x;
  x.set_id(99);
  list.insert(list.SEQUENCE_OF_Base::begin() + 1, 2, x);
  ASSERT_EQ(4u, list.size());
  EXPECT_EQ(11u, list[0].get_id().getValue());
  EXPECT_EQ(99u, list[1].get_id().getValue());
  EXPECT_EQ(99u, list[2].get_id().getValue());
  EXPECT_EQ(12u, list[3].get_id().getValue());

  // Inserting a range of the list into itself copies it first.
  SEQUENCE_OF_Base const& base = list;
  list.insert(list.SEQUENCE_OF_Base::begin(), base.begin(), base.begin() + 2);
  ASSERT_EQ(6u, list.size());
  EXPECT_EQ(11u, list[0].get_id().getValue());
  EXPECT_EQ(99u, list[1].get_id().getValue());
  EXPECT_EQ(11u, list[2].get_id().getValue());

  list.erase(list.SEQUENCE_OF_Base::begin() + 1, list.SEQUENCE_OF_Base::end());
  ASSERT_EQ(1u, list.size());

  unsigned seen = 0;
  Demo::Params::items_type const& cl = list;
  for (Demo::Params::items_type::const_iterator it = cl.begin(); it != cl.end(); it++) seen += (*it).get_id().getValue();
  EXPECT_EQ(11u, seen);

  list.resize(0);
  EXPECT_TRUE(list.empty());
  list.push_back(x);
  list.clear();
  EXPECT_EQ(0u, list.size());
}

TEST(SequenceOf, CopyAndComparison) {
  typedef SEQUENCE_OF<INTEGER> Ints;
  Ints a, b;
  EXPECT_EQ(0, a.compare(b));
  a.push_back(INTEGER(1, &INTEGER::theInfo));
  b.push_back(INTEGER(1, &INTEGER::theInfo));
  b.push_back(INTEGER(2, &INTEGER::theInfo));
  EXPECT_EQ(-1, a.compare(b));
  EXPECT_EQ(1, b.compare(a));
  Ints c(b);
  EXPECT_EQ(0, c.compare(b));
  c[1] = 5;
  EXPECT_EQ(2, b[1].getValue());
  EXPECT_GT(c.compare(b), 0);
  a = c;
  EXPECT_EQ(0, a.compare(c));
  std::unique_ptr<Ints> d(c.clone());
  EXPECT_EQ(typeid(Ints), typeid(*d));
  EXPECT_EQ(5, (*d)[1].getValue());

  SET_OF<IA5String> set;
  EXPECT_EQ(17, set.getTag());
  set.push_back(IA5String("x"));
  std::unique_ptr<AbstractData> setCopy(set.clone());
  EXPECT_EQ(typeid(SET_OF<IA5String>), typeid(*setCopy));

  // A list made from a record is a typed list with typed elements.
  std::unique_ptr<AbstractData> made(AbstractData::create(&Ints::theInfo));
  EXPECT_EQ(typeid(Ints), typeid(*made));
  std::unique_ptr<AbstractData> e(static_cast<SEQUENCE_OF_Base&>(*made).createElement());
  EXPECT_EQ(typeid(INTEGER), typeid(*e));
}

TEST(OpenType, HoldsValueOrOctets) {
  OpenData empty;
  EXPECT_TRUE(empty.isEmpty());
  OpenData withValue(new INTEGER(3, &INTEGER::theInfo), &OpenData::theInfo);
  EXPECT_TRUE(withValue.has_data());
  EXPECT_FALSE(withValue.has_buf());
  OpenData withOctets;
  withOctets.grab(new std::vector<char>(2, 'a'));
  EXPECT_TRUE(withOctets.has_buf());
  withOctets.grab(new std::vector<char>(1, 'b'));
  EXPECT_EQ(1u, withOctets.get_buf().size());

  EXPECT_EQ(0, empty.compare(OpenData()));
  EXPECT_EQ(1, withValue.compare(withOctets));
  EXPECT_EQ(-1, withOctets.compare(withValue));
  EXPECT_EQ(-1, empty.compare(withOctets));
  OpenData other;
  other.grab(new std::vector<char>(1, 'c'));
  EXPECT_LT(withOctets.compare(other), 0);

  OpenData copy(withValue);
  EXPECT_NE(&copy.get_data(), &withValue.get_data());
  EXPECT_EQ(0, copy.compare(withValue));
  copy = withOctets;
  EXPECT_FALSE(copy.has_data());
  EXPECT_EQ(0, copy.compare(withOctets));

  static const TypeConstrainedOpenData::InfoType info = {&TypeConstrainedOpenData::create, 0, &BOOLEAN::theInfo};
  std::unique_ptr<AbstractData> typed(AbstractData::create(&info));
  TypeConstrainedOpenData& t = static_cast<TypeConstrainedOpenData&>(*typed);
  ASSERT_TRUE(t.has_data());
  EXPECT_EQ(typeid(BOOLEAN), typeid(t.get_data()));
  std::unique_ptr<AbstractData> tc(t.clone());
  EXPECT_EQ(typeid(TypeConstrainedOpenData), typeid(*tc));
}

TEST(SequenceOf, MandatoryListInAStaticValue) {
  ASSERT_NE(nullptr, staticBatch.getField(0));
  EXPECT_EQ(typeid(Demo::Batch::items_type), typeid(*staticBatch.getField(0)));
  staticBatch.ref_items().resize(2);
  EXPECT_EQ(typeid(Demo::Item), typeid(staticBatch.get_items()[1]));
  EXPECT_EQ("{\n  items {\n    {\n      id 0\n    },\n    {\n      id 0\n    }\n  }\n}",
            staticBatch.asValueNotation());
  staticBatch.ref_items().clear();
}
