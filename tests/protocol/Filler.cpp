#include "Filler.h"

#include <climits>
#include <cstdint>
#include <memory>
#include <typeinfo>
#include <vector>

namespace ProtocolTest {

using namespace ASN1;

namespace {

class Fill {
 public:
  explicit Fill(unsigned variant) : variant(variant), state(variant * 2654435761u + 12345u) {}

  void value(AbstractData& v, int topSelection) {
    if (SEQUENCE* s = dynamic_cast<SEQUENCE*>(&v)) return sequence(*s);
    if (CHOICE* c = dynamic_cast<CHOICE*>(&v)) return choice(*c, topSelection);
    if (SEQUENCE_OF_Base* l = dynamic_cast<SEQUENCE_OF_Base*>(&v)) return list(*l);
    if (ENUMERATED* e = dynamic_cast<ENUMERATED*>(&v)) return enumerated(*e);
    if (INTEGER* i = dynamic_cast<INTEGER*>(&v)) return integer(*i);
    if (BOOLEAN* b = dynamic_cast<BOOLEAN*>(&v)) {
      *b = variant == 0 || (variant != 1 && next() % 2 == 0);
      return;
    }
    if (OCTET_STRING* o = dynamic_cast<OCTET_STRING*>(&v)) {
      unsigned n = variant == 1 ? 0 : variant == 0 ? 3 : next() % 5;
      o->clear();
      for (unsigned k = 0; k < n; ++k) o->push_back(static_cast<char>(0x7E + 0x41 * k));
      return;
    }
    if (AbstractString* s = dynamic_cast<AbstractString*>(&v)) return text(*s);
    if (OBJECT_IDENTIFIER* id = dynamic_cast<OBJECT_IDENTIFIER*>(&v)) {
      unsigned const arcs[] = {1, 3, 6, 1, 4, 1, 200000};
      unsigned n = variant == 1 ? 2 : variant == 0 ? 7 : 2 + next() % 6;
      *id = OBJECT_IDENTIFIER(id->info());
      for (unsigned k = 0; k < n; ++k) id->append(arcs[k]);
      return;
    }
    // NULL: nothing to fill.
  }

 private:
  unsigned next() {
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    return state;
  }

  bool present() { return variant == 0 || (variant != 1 && next() % 3 != 0); }

  void sequence(SEQUENCE& s) {
    SEQUENCE::InfoType const* info = s.info();
    for (unsigned i = 0; i < info->numFields; ++i) {
      int id = info->fieldIds[i];
      if (id == -1) continue;
      if (present())
        s.includeOptionalField(static_cast<unsigned>(id), i);
      else
        s.removeOptionalField(static_cast<unsigned>(id));
    }
    for (unsigned j = 0; j < info->knownExtensions; ++j) {
      if (present())
        s.includeOptionalField(info->numOptional + j, info->numFields + j);
      else
        s.removeOptionalField(info->numOptional + j);
    }
    for (unsigned i = 0; i < s.fieldCount(); ++i) {
      int id = i < info->numFields ? info->fieldIds[i] : static_cast<int>(info->numOptional + i - info->numFields);
      if (id == -1 || s.hasOptionalField(static_cast<unsigned>(id))) value(*s.getField(i), -1);
    }
  }

  void choice(CHOICE& c, int topSelection) {
    unsigned total = c.getTotalChoices();
    int id = topSelection >= 0 ? topSelection : static_cast<int>((variant + next()) % total);
    AbstractData* alt = c.setSelection(id, AbstractData::create(c.info()->selectionInfos[id]));
    value(*alt, -1);
  }

  void list(SEQUENCE_OF_Base& l) {
    unsigned n = variant == 1 ? 0 : variant == 0 ? 2 : next() % 3;
    l.clear();
    for (unsigned k = 0; k < n; ++k) {
      AbstractData* e = l.createElement();
      l.push_back(e);
      value(*e, -1);
    }
  }

  void enumerated(ENUMERATED& e) {
    // Named, codable values only: a negative value has no encoding.
    std::vector<int> values;
    ENUMERATED::forEachName(e.info(), [&values](char const*, unsigned, int v) {
      if (v >= 0) values.push_back(v);
      return false;
    });
    if (values.empty()) return;
    std::size_t k = variant == 0 ? values.size() - 1 : variant == 1 ? 0 : next() % values.size();
    e.setFromInt(values[k]);
  }

  void integer(INTEGER& i) {
    if (i.getConstraintType() == FixedConstraint) {
      long long lo = i.getLowerLimit();
      long long hi = lo < 0 ? static_cast<long long>(static_cast<int>(i.getUpperLimit()))
                            : static_cast<long long>(i.getUpperLimit());
      long long v = variant == 0 ? hi : variant == 1 ? lo : lo + static_cast<long long>(next() % (hi - lo + 1));
      i.setValue(static_cast<int>(v));
      return;
    }
    int const samples[] = {0, 1, -1, 127, 128, -128, -129, 255, 256, 65535, 65536, -65536, INT_MAX, INT_MIN};
    i.setValue(variant == 0 ? INT_MAX : variant == 1 ? 0 : samples[next() % (sizeof samples / sizeof samples[0])]);
  }

  void text(AbstractString& s) {
    unsigned lo = static_cast<unsigned>(s.getLowerLimit());
    unsigned hi = s.getConstraintType() == Unconstrained ? 8u : s.getUpperLimit();
    unsigned n = variant == 0 ? (hi < 8 ? hi : 8) : variant == 1 ? lo : lo + next() % ((hi < 8 ? hi : 8) - lo + 1);
    s.clear();
    for (unsigned k = 0; k < n; ++k) s.push_back(static_cast<char>(' ' + (k * 7 + variant) % 95));
  }

  unsigned variant;
  std::uint32_t state;
};

bool ownClasses(AbstractData const& v, std::string const& path, std::string& where) {
  std::unique_ptr<AbstractData> made(AbstractData::create(v.info()));
  if (!made || typeid(*made) != typeid(v) || typeid(v) == typeid(SEQUENCE) || typeid(v) == typeid(CHOICE) ||
      typeid(v) == typeid(ENUMERATED) || typeid(v) == typeid(SEQUENCE_OF_Base) || typeid(v) == typeid(AbstractString)) {
    where = path + " (" + typeid(v).name() + ")";
    return false;
  }
  if (SEQUENCE const* s = dynamic_cast<SEQUENCE const*>(&v)) {
    for (unsigned i = 0; i < s->fieldCount(); ++i) {
      AbstractData const* f = s->getField(i);
      if (f != nullptr && !ownClasses(*f, path + "." + s->getFieldName(static_cast<int>(i)), where)) return false;
    }
  } else if (CHOICE const* c = dynamic_cast<CHOICE const*>(&v)) {
    if (c->getSelection() != nullptr && !ownClasses(*c->getSelection(), path + ":" + c->getSelectionName(), where))
      return false;
  } else if (SEQUENCE_OF_Base const* l = dynamic_cast<SEQUENCE_OF_Base const*>(&v)) {
    for (AbstractData const* e : *l) {
      if (!ownClasses(*e, path + "[]", where)) return false;
    }
  }
  return true;
}

template <class F>
void walk(AbstractData const& v, F const& f) {
  f(v);
  if (SEQUENCE const* s = dynamic_cast<SEQUENCE const*>(&v)) {
    SEQUENCE::InfoType const* info = s->info();
    for (unsigned i = 0; i < s->fieldCount(); ++i) {
      int id = i < info->numFields ? info->fieldIds[i] : static_cast<int>(info->numOptional + i - info->numFields);
      if (id == -1 || s->hasOptionalField(static_cast<unsigned>(id))) walk(*s->getField(i), f);
    }
  } else if (CHOICE const* c = dynamic_cast<CHOICE const*>(&v)) {
    if (c->getSelection() != nullptr) walk(*c->getSelection(), f);
  } else if (SEQUENCE_OF_Base const* l = dynamic_cast<SEQUENCE_OF_Base const*>(&v)) {
    for (AbstractData const* e : *l) walk(*e, f);
  }
}

}  // namespace

void fill(AbstractData& value, unsigned variant, int topSelection) { Fill(variant).value(value, topSelection); }

bool hasUnselectedChoice(AbstractData const& value) {
  bool found = false;
  walk(value, [&found](AbstractData const& v) {
    CHOICE const* c = dynamic_cast<CHOICE const*>(&v);
    if (c != nullptr && c->currentSelection() < 0) found = true;
  });
  return found;
}

bool allOwnClasses(AbstractData const& value, std::string& where) { return ownClasses(value, "", where); }

void countSelections(AbstractData const& value, void (*seen)(void const* record, int id)) {
  walk(value, [seen](AbstractData const& v) {
    if (CHOICE const* c = dynamic_cast<CHOICE const*>(&v)) seen(c->info(), c->currentSelection());
  });
}

}  // namespace ProtocolTest
