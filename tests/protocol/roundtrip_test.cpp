// Every type through aligned PER: default values (where they are codable)
// and filled values, every alternative of every CHOICE selected at least
// once, optional fields and additions present and absent. A slip in a
// record (a presence index, an extensible flag, a count) breaks the trip.
#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "Coding.h"
#include "Filler.h"
#include "protocol/Registry.h"

using Protocol::Registry;
using Protocol::TypeEntry;
using Protocol::TypeKind;
using ProtocolTest::decodePER;
using ProtocolTest::encodePER;

namespace {

std::set<std::pair<void const*, int> >& selected() {
  static std::set<std::pair<void const*, int> > s;
  return s;
}

void noteSelection(void const* record, int id) { selected().insert(std::make_pair(record, id)); }

// Whether every constrained number in the value lies in its range (a new
// value may hold 0 outside a range such as 1..3, which cannot be encoded).
bool numbersInRange(ASN1::AbstractData const& v) {
  if (ASN1::INTEGER const* i = dynamic_cast<ASN1::INTEGER const*>(&v)) return i->isStrictValid();
  if (ASN1::SEQUENCE const* s = dynamic_cast<ASN1::SEQUENCE const*>(&v)) {
    for (unsigned k = 0; k < s->fieldCount(); ++k) {
      ASN1::AbstractData const* f = s->getField(k);
      if (f != nullptr && !numbersInRange(*f)) return false;
    }
  }
  if (ASN1::CHOICE const* c = dynamic_cast<ASN1::CHOICE const*>(&v)) {
    if (c->getSelection() != nullptr) return numbersInRange(*c->getSelection());
  }
  return true;
}

// Encode, decode into a new value of the type, compare, encode again.
void roundTrip(TypeEntry const& e, ASN1::AbstractData const& v, std::string const& what) {
  std::vector<char> out;
  ASSERT_TRUE(encodePER(v, out)) << e.name << " " << what << "\n" << v;
  std::unique_ptr<ASN1::AbstractData> back(e.create(e.info));
  ASSERT_TRUE(decodePER(out, *back)) << e.name << " " << what << " " << ProtocolTest::hex(out) << "\n" << v;
  EXPECT_TRUE(*back == v) << e.name << " " << what << "\n" << v << "\n" << *back;
  std::vector<char> again;
  ASSERT_TRUE(encodePER(*back, again)) << e.name << " " << what;
  EXPECT_EQ(out, again) << e.name << " " << what;
  std::string text;
  EXPECT_TRUE(ASN1::valueNotation(*back, text)) << e.name << " " << what;
}

}  // namespace

TEST(RoundTrip, DefaultValues) {
  unsigned coded = 0;
  for (TypeEntry const& e : Registry()) {
    std::unique_ptr<ASN1::AbstractData> v(e.create(e.info));
    std::vector<char> out;
    bool codable = !ProtocolTest::hasUnselectedChoice(*v) && numbersInRange(*v);
    ASSERT_EQ(codable, encodePER(*v, out)) << e.name;
    if (!codable) continue;
    roundTrip(e, *v, "default");
    ++coded;
  }
  // Every enumeration and every SEQUENCE without a mandatory CHOICE or a
  // range that excludes 0 below it.
  EXPECT_GT(coded, 250u);
}

TEST(RoundTrip, FilledValues) {
  selected().clear();
  for (TypeEntry const& e : Registry()) {
    unsigned variants = 6;
    if (e.kind == TypeKind::Choice) {
      unsigned total = static_cast<ASN1::CHOICE::InfoType const*>(e.info)->totalChoices;
      if (total > variants) variants = total;
    }
    for (unsigned variant = 0; variant < variants; ++variant) {
      std::unique_ptr<ASN1::AbstractData> v(e.create(e.info));
      int top = e.kind == TypeKind::Choice ? static_cast<int>(variant % static_cast<ASN1::CHOICE::InfoType const*>(
                                                                              e.info)->totalChoices)
                                           : -1;
      ProtocolTest::fill(*v, variant, top);
      ProtocolTest::countSelections(*v, &noteSelection);
      roundTrip(e, *v, "variant " + std::to_string(variant));
      if (HasFatalFailure()) return;
    }
  }
  // Every alternative of every CHOICE went through the coders.
  for (TypeEntry const& e : Registry()) {
    if (e.kind != TypeKind::Choice) continue;
    unsigned total = static_cast<ASN1::CHOICE::InfoType const*>(e.info)->totalChoices;
    for (unsigned id = 0; id < total; ++id) {
      EXPECT_EQ(1u, selected().count(std::make_pair(e.info, static_cast<int>(id)))) << e.name << " " << id;
    }
  }
}
