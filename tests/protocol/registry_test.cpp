// Every generated type, reached by name through the registry: it is there
// once, default-constructs as its own class, prints, copies deeply and
// compares.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <set>
#include <sstream>
#include <string>

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
