// Every generated type, reached by name through the registry: it is there
// once, default-constructs as its own class, prints, copies deeply and
// compares.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <typeinfo>

#include "Filler.h"
#include "protocol/LGCP/LGCP.h"
#include "protocol/MON/MON.h"
#include "protocol/Registry.h"
#include "protocol/TERM/TERM.h"

using Protocol::Registry;
using Protocol::TypeEntry;
using Protocol::TypeKind;

namespace {

std::unique_ptr<ASN1::AbstractData> make(TypeEntry const& e) { return std::unique_ptr<ASN1::AbstractData>(e.create(e.info)); }

unsigned alternatives(TypeEntry const& e) {
  return static_cast<ASN1::CHOICE::InfoType const*>(e.info)->totalChoices;
}

}  // namespace

TEST(Registry, HoldsEveryTypeOnceSortedByName) {
  ASSERT_EQ(503u, Registry::size());
  unsigned kinds[3] = {0, 0, 0};
  std::set<void const*> records;
  for (auto it = Registry::begin(); it != Registry::end(); ++it) {
    if (it != Registry::begin()) {
      EXPECT_LT(std::strcmp((it - 1)->name, it->name), 0) << it->name;
    }
    ++kinds[static_cast<int>(it->kind)];
    EXPECT_TRUE(records.insert(it->info).second) << it->name;
    EXPECT_EQ(it, Registry::find(it->name));
  }
  EXPECT_EQ(287u, kinds[static_cast<int>(TypeKind::Sequence)]);
  EXPECT_EQ(109u, kinds[static_cast<int>(TypeKind::Choice)]);
  EXPECT_EQ(107u, kinds[static_cast<int>(TypeKind::Enumerated)]);
}

TEST(Registry, FindsByFullNameOnly) {
  TypeEntry const* m = Registry::find("LGCP::Message");
  ASSERT_NE(nullptr, m);
  EXPECT_EQ(&LGCP::Message::theInfo, m->info);
  EXPECT_EQ(&MON::Message::theInfo, Registry::find("MON::Message")->info);
  EXPECT_EQ(&TERM::RtpParams::theInfo, Registry::find("TERM::RtpParams")->info);
  EXPECT_EQ(nullptr, Registry::find("Message"));
  EXPECT_EQ(nullptr, Registry::find("LGCP.Message"));
  EXPECT_EQ(nullptr, Registry::find("LGCP::Messag"));
  EXPECT_EQ(nullptr, Registry::find(""));
  EXPECT_EQ(nullptr, Registry::create("LGCP::Nothing"));

  std::unique_ptr<ASN1::AbstractData> v(Registry::create("LGCP::Message"));
  ASSERT_NE(nullptr, dynamic_cast<LGCP::Message*>(v.get()));
}

// Each record creates an object of the class its accessors name, down to
// every field, alternative and list element.
TEST(Registry, EveryValueIsItsOwnClass) {
  for (TypeEntry const& e : Registry()) {
    std::unique_ptr<ASN1::AbstractData> v = make(e);
    ASSERT_NE(nullptr, v) << e.name;
    EXPECT_EQ(e.info, v->info()) << e.name;
    std::string where;
    EXPECT_TRUE(ProtocolTest::allOwnClasses(*v, where)) << e.name << where;
    ProtocolTest::fill(*v, 0);
    EXPECT_TRUE(ProtocolTest::allOwnClasses(*v, where)) << e.name << where;
    std::unique_ptr<ASN1::AbstractData> copy(v->clone());
    EXPECT_TRUE(ProtocolTest::allOwnClasses(*copy, where)) << e.name << where;
  }
}

// A default value prints unless a CHOICE in it has nothing selected; a
// filled one always prints, and what prints is what the copy prints.
// A field made at its place in its SEQUENCE's block is an object of the
// class its record makes, of the kind the place says, and only the number
// kinds are passed over when the block goes.
TEST(Registry, EveryFieldPlaceMakesWhatItsRecordMakes) {
  unsigned placed = 0;
  for (auto it = Registry::begin(); it != Registry::end(); ++it) {
    if (it->kind != TypeKind::Sequence) continue;
    auto const* info = static_cast<ASN1::SEQUENCE::InfoType const*>(it->info);
    ASN1::FieldBlock const* block = info->fieldBlock;
    ASSERT_NE(nullptr, block) << it->name;
    unsigned const n = info->numFields + info->knownExtensions;
    EXPECT_LE(block->size, ASN1::maxFieldBlock) << it->name;
    // Types with mandatory fields make them in straight-line code.
    bool const anyMandatory = std::count(info->fieldIds, info->fieldIds + info->numFields, -1) != 0;
    EXPECT_EQ(anyMandatory, block->makeMandatory != nullptr) << it->name;
    unsigned end = ASN1::slot_bytes(n);
    for (unsigned k = 0; k < n; ++k) {
      ASN1::FieldPlace const& place = block->places[k];
      std::unique_ptr<ASN1::AbstractData> made(ASN1::AbstractData::create(info->fieldInfos[k]));
      ASSERT_NE(nullptr, made) << it->name << " " << k;
      ASN1::AbstractData* v = made.get();
      ASN1::FieldPlace::Kind kind = dynamic_cast<ASN1::INTEGER*>(v)      ? ASN1::FieldPlace::Integer
                                    : dynamic_cast<ASN1::BOOLEAN*>(v)    ? ASN1::FieldPlace::Boolean
                                    : dynamic_cast<ASN1::ENUMERATED*>(v) ? ASN1::FieldPlace::Enumerated
                                    : dynamic_cast<ASN1::Null*>(v)       ? ASN1::FieldPlace::Nothing
                                    : dynamic_cast<ASN1::SEQUENCE*>(v)   ? ASN1::FieldPlace::Sequence
                                    : dynamic_cast<ASN1::CHOICE*>(v)     ? ASN1::FieldPlace::Choice
                                                                         : ASN1::FieldPlace::Other;
      EXPECT_EQ(kind, place.kind) << it->name << " " << k;
      if (!place.inBlock) {
        EXPECT_EQ(0u, (block->placed >> k) & 1) << it->name << " " << k;
        continue;
      }
      ++placed;
      EXPECT_LT(k, info->numFields) << it->name << ": an addition has a place";
      EXPECT_EQ(k < 64, ((block->placed >> k) & 1) != 0) << it->name << " " << k;
      // Places follow one another inside the block.
      EXPECT_LE(end, place.offset) << it->name << " " << k;
      EXPECT_LT(place.offset, block->size) << it->name << " " << k;
      end = place.offset + 1;
      alignas(std::max_align_t) char room[ASN1::maxFieldBlock];
      ASN1::AbstractData* there = place.make(room, info->fieldInfos[k]);
      EXPECT_EQ(static_cast<void*>(room), static_cast<void*>(there));
      EXPECT_EQ(typeid(*made), typeid(*there)) << it->name << " " << k;
      EXPECT_TRUE(*made == *there) << it->name << " " << k;
      if (place.plain) {
        EXPECT_TRUE(kind == ASN1::FieldPlace::Integer || kind == ASN1::FieldPlace::Boolean ||
                    kind == ASN1::FieldPlace::Enumerated || kind == ASN1::FieldPlace::Nothing)
            << it->name << " " << k;
      }
      there->~AbstractData();
    }
  }
  EXPECT_GT(placed, 500u);
}

TEST(Registry, DefaultAndFilledValuesPrint) {
  for (TypeEntry const& e : Registry()) {
    std::unique_ptr<ASN1::AbstractData> v = make(e);
    std::string text;
    EXPECT_EQ(!ProtocolTest::hasUnselectedChoice(*v), ASN1::valueNotation(*v, text)) << e.name;
    if (e.kind == TypeKind::Choice) {
      EXPECT_EQ(-1, static_cast<ASN1::CHOICE&>(*v).currentSelection());
    }
    if (e.kind == TypeKind::Enumerated) {
      EXPECT_EQ(0, static_cast<ASN1::ENUMERATED&>(*v).asInt());
    }
    for (unsigned variant = 0; variant < 4; ++variant) {
      ProtocolTest::fill(*v, variant);
      ASSERT_TRUE(ASN1::valueNotation(*v, text)) << e.name << " variant " << variant;
      std::unique_ptr<ASN1::AbstractData> copy(v->clone());
      std::string again;
      ASSERT_TRUE(ASN1::valueNotation(*copy, again));
      EXPECT_EQ(text, again) << e.name;
    }
  }
}

TEST(Registry, CopiesAreDeepAndCompareEqual) {
  for (TypeEntry const& e : Registry()) {
    std::unique_ptr<ASN1::AbstractData> filled = make(e);
    std::unique_ptr<ASN1::AbstractData> empty = make(e);
    ProtocolTest::fill(*filled, 0);
    ProtocolTest::fill(*empty, 1);
    std::unique_ptr<ASN1::AbstractData> copy(filled->clone());
    EXPECT_TRUE(*copy == *filled) << e.name;
    std::string before;
    ASSERT_TRUE(ASN1::valueNotation(*filled, before));
    // Refilling the copy leaves the original alone.
    ProtocolTest::fill(*copy, 1);
    std::string after;
    ASSERT_TRUE(ASN1::valueNotation(*filled, after));
    EXPECT_EQ(before, after) << e.name;
    EXPECT_TRUE(*copy == *empty) << e.name;
    // Variant 0 and 1 differ for every type but one whose only content is
    // NULL alternatives or a single-valued enumeration.
    std::string b;
    ASSERT_TRUE(ASN1::valueNotation(*empty, b));
    if (before != b) {
      EXPECT_TRUE(*filled != *empty) << e.name;
    }
  }
}

// Every alternative of every CHOICE can be selected, and what is selected
// is the alternative asked for.
TEST(Registry, EveryAlternativeSelects) {
  unsigned total = 0;
  for (TypeEntry const& e : Registry()) {
    if (e.kind != TypeKind::Choice) continue;
    for (unsigned id = 0; id < alternatives(e); ++id) {
      std::unique_ptr<ASN1::AbstractData> v = make(e);
      ProtocolTest::fill(*v, id, static_cast<int>(id));
      ASN1::CHOICE& c = static_cast<ASN1::CHOICE&>(*v);
      EXPECT_EQ(static_cast<int>(id), c.currentSelection()) << e.name;
      std::string text;
      ASSERT_TRUE(ASN1::valueNotation(*v, text)) << e.name << " " << id;
      EXPECT_EQ(0u, text.find(std::string(c.getSelectionName()) + " : ")) << text;
      ++total;
    }
  }
  // Alternatives of all 109 CHOICE types.
  EXPECT_EQ(568u, total);
}
