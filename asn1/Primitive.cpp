#include "asn1/Primitive.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "asn1/Visitor.h"

namespace ASN1 {

// ---- Null

const AbstractData::InfoType Null::theInfo = {&Null::create, 5};

AbstractData* Null::create(void const* info) { return new Null(info); }
int Null::do_compare(AbstractData const&) const { return 0; }
AbstractData* Null::do_clone() const { return new Null(*this); }
bool Null::do_accept(Visitor& v) { return v.visit(*this); }
bool Null::do_accept(ConstVisitor& v) const { return v.visit(*this); }

// ---- BOOLEAN

const AbstractData::InfoType BOOLEAN::theInfo = {&BOOLEAN::create, 1};

AbstractData* BOOLEAN::create(void const* info) { return new BOOLEAN(info); }
int BOOLEAN::do_compare(AbstractData const& other) const {
  return static_cast<int>(value) - static_cast<int>(static_cast<BOOLEAN const&>(other).value);
}
AbstractData* BOOLEAN::do_clone() const { return new BOOLEAN(*this); }
bool BOOLEAN::do_accept(Visitor& v) { return v.visit(*this); }
bool BOOLEAN::do_accept(ConstVisitor& v) const { return v.visit(*this); }

// ---- INTEGER

const ConstrainedObject::InfoType INTEGER::theInfo = {&INTEGER::create, 2, Unconstrained, 0, 4294967295u};

AbstractData* INTEGER::create(void const* info) { return new INTEGER(info); }

int INTEGER::do_compare(AbstractData const& other) const {
  // Wrapping difference: zero exactly when the values are equal.
  unsigned d = static_cast<unsigned>(value) - static_cast<unsigned>(static_cast<INTEGER const&>(other).value);
  return static_cast<int>(d);
}
AbstractData* INTEGER::do_clone() const { return new INTEGER(*this); }
bool INTEGER::do_accept(Visitor& v) { return v.visit(*this); }
bool INTEGER::do_accept(ConstVisitor& v) const { return v.visit(*this); }

bool INTEGER::isStrictValid() const {
  int lower = getLowerLimit();
  if (lower >= 0) {
    unsigned u = static_cast<unsigned>(value);
    return static_cast<unsigned>(lower) <= u && u <= getUpperLimit();
  }
  // A negative lower bound: both bounds are signed numbers.
  long long upper = static_cast<int>(getUpperLimit());
  return lower <= value && value <= upper;
}

bool INTEGER::isValid() const { return isStrictValid() || getConstraintType() == ExtendableConstraint; }

// ---- IntegerWithNamedNumber

bool IntegerWithNamedNumber::getName(std::string& out) const {
  InfoType const* i = info();
  NameEntry const* end = i->nameEntries + i->entryCount;
  NameEntry const* it = std::lower_bound(i->nameEntries, end, getValue(), NameEntryCmp());
  if (it == end || it->value != getValue()) return false;
  out = it->name;
  return true;
}

bool IntegerWithNamedNumber::setFromName(std::string const& name) {
  InfoType const* i = info();
  for (unsigned k = 0; k < i->entryCount; ++k) {
    if (name == i->nameEntries[k].name) {
      setValue(i->nameEntries[k].value);
      return true;
    }
  }
  return false;
}

AbstractData* IntegerWithNamedNumber::do_clone() const { return new IntegerWithNamedNumber(*this); }
bool IntegerWithNamedNumber::do_accept(Visitor& v) { return v.visit(*this); }
bool IntegerWithNamedNumber::do_accept(ConstVisitor& v) const { return v.visit(*this); }

// ---- ENUMERATED

bool enumEntryValue(char const* entry, unsigned& identifierLength, int& value) {
  char const* eq = std::strchr(entry, '=');
  if (eq == nullptr) {
    identifierLength = static_cast<unsigned>(std::strlen(entry));
    return false;
  }
  identifierLength = static_cast<unsigned>(eq - entry);
  char* end = nullptr;
  errno = 0;
  long v = std::strtol(eq + 1, &end, 10);
  if (end == eq + 1 || errno != 0 || v < INT_MIN || v > INT_MAX) return false;
  value = static_cast<int>(v);
  return true;
}

AbstractData* ENUMERATED::create(void const* info) { return new ENUMERATED(info); }

char const* ENUMERATED::getName() const {
  char const* found = nullptr;
  forEachName(info(), [&](char const* entry, unsigned, int v) {
    if (v != value) return false;
    found = entry;
    return true;
  });
  return found;
}

bool ENUMERATED::getIdentifier(std::string& out) const {
  return forEachName(info(), [&](char const* entry, unsigned len, int v) {
    if (v != value) return false;
    out.assign(entry, len);
    return true;
  });
}

bool ENUMERATED::setFromName(std::string const& name) {
  int found = 0;
  bool ok = forEachName(info(), [&](char const* entry, unsigned len, int v) {
    if (name.compare(0, std::string::npos, entry, len) != 0 && name != entry) return false;
    found = v;
    return true;
  });
  value = ok ? found : static_cast<int>(static_cast<unsigned>(getMaximum()) + 1u);
  return ok;
}

int ENUMERATED::do_compare(AbstractData const& other) const {
  return static_cast<int>(static_cast<unsigned>(value) -
                          static_cast<unsigned>(static_cast<ENUMERATED const&>(other).value));
}
AbstractData* ENUMERATED::do_clone() const { return new ENUMERATED(*this); }
bool ENUMERATED::do_accept(Visitor& v) { return v.visit(*this); }
bool ENUMERATED::do_accept(ConstVisitor& v) const { return v.visit(*this); }

// ---- BIT_STRING

const ConstrainedObject::InfoType BIT_STRING::theInfo = {&BIT_STRING::create, 3, Unconstrained, 0, 4294967295u};

AbstractData* BIT_STRING::create(void const* info) { return new BIT_STRING(info); }

void BIT_STRING::resize(unsigned bits) {
  bitData.resize((static_cast<std::size_t>(bits) + 7) / 8, 0);
  // Bits cut off in the last kept byte must neither come back on a later
  // growth nor travel as the padding of an encoding.
  if (bits % 8 != 0) bitData.back() = static_cast<char>(bitData.back() & (0xFF00u >> (bits % 8)));
  totalBits = bits;
}

bool BIT_STRING::operator[](unsigned i) const {
  if (i >= totalBits) return false;
  return (static_cast<unsigned char>(bitData[i / 8]) & (0x80u >> (i % 8))) != 0;
}

void BIT_STRING::set(unsigned i) {
  if (i < totalBits) bitData[i / 8] = static_cast<char>(bitData[i / 8] | (0x80u >> (i % 8)));
}

void BIT_STRING::clear(unsigned i) {
  if (i < totalBits) bitData[i / 8] = static_cast<char>(bitData[i / 8] & ~(0x80u >> (i % 8)));
}

bool BIT_STRING::isStrictlyValid() const {
  return static_cast<unsigned>(getLowerLimit()) <= totalBits && totalBits <= getUpperLimit();
}

bool BIT_STRING::isValid() const {
  if (totalBits < static_cast<unsigned>(getLowerLimit())) return false;
  return getConstraintType() != FixedConstraint || totalBits <= getUpperLimit();
}

int BIT_STRING::do_compare(AbstractData const& other) const {
  BIT_STRING const& o = static_cast<BIT_STRING const&>(other);
  std::size_t n = std::min(bitData.size(), o.bitData.size());
  for (std::size_t i = 0; i < n; ++i) {
    unsigned a = static_cast<unsigned char>(bitData[i]);
    unsigned b = static_cast<unsigned char>(o.bitData[i]);
    if (a != b) {
      unsigned d = a ^ b;
      return static_cast<int>(a & d) - static_cast<int>(b & d);
    }
  }
  return static_cast<int>(totalBits - o.totalBits);
}
AbstractData* BIT_STRING::do_clone() const { return new BIT_STRING(*this); }
bool BIT_STRING::do_accept(Visitor& v) { return v.visit(*this); }
bool BIT_STRING::do_accept(ConstVisitor& v) const { return v.visit(*this); }

// ---- OCTET_STRING

const ConstrainedObject::InfoType OCTET_STRING::theInfo = {&OCTET_STRING::create, 4, Unconstrained, 0, 4294967295u};

AbstractData* OCTET_STRING::create(void const* info) { return new OCTET_STRING(info); }

bool OCTET_STRING::isStrictlyValid() const {
  std::size_t n = size();
  return static_cast<unsigned>(getLowerLimit()) <= n && n <= getUpperLimit();
}

bool OCTET_STRING::isValid() const {
  std::size_t n = size();
  if (n < static_cast<unsigned>(getLowerLimit())) return false;
  return getConstraintType() != FixedConstraint || n <= getUpperLimit();
}

int OCTET_STRING::do_compare(AbstractData const& other) const {
  OCTET_STRING const& o = static_cast<OCTET_STRING const&>(other);
  return lexicographic_compare_bytes(data(), data() + size(), o.data(), o.data() + o.size());
}
AbstractData* OCTET_STRING::do_clone() const { return new OCTET_STRING(*this); }
bool OCTET_STRING::do_accept(Visitor& v) { return v.visit(*this); }
bool OCTET_STRING::do_accept(ConstVisitor& v) const { return v.visit(*this); }

// ---- OBJECT_IDENTIFIER

const AbstractData::InfoType OBJECT_IDENTIFIER::theInfo = {&OBJECT_IDENTIFIER::create, 6};

AbstractData* OBJECT_IDENTIFIER::create(void const* info) { return new OBJECT_IDENTIFIER(info); }

namespace {
void writeSubidentifier(std::vector<char>& out, unsigned v) {
  int shift = 28;
  while (shift > 0 && (v >> shift) == 0) shift -= 7;
  for (; shift > 0; shift -= 7) out.push_back(static_cast<char>(0x80 | ((v >> shift) & 0x7F)));
  out.push_back(static_cast<char>(v & 0x7F));
}
}  // namespace

bool OBJECT_IDENTIFIER::encodeCommon(std::vector<char>& out) const {
  out.clear();
  if (value.size() < 2 || value[0] > 2) return false;
  if (value[0] < 2 ? value[1] >= 40 : value[1] > 0xFFFFFFFFu - 80) return false;
  out.reserve(value.size());
  writeSubidentifier(out, value[0] * 40 + value[1]);
  for (std::size_t i = 2; i < value.size(); ++i) writeSubidentifier(out, value[i]);
  return true;
}

bool OBJECT_IDENTIFIER::decodeCommon(char const* data, unsigned length) {
  value.clear();
  if (length == 0) return false;
  value.reserve(static_cast<std::size_t>(length) + 1);
  value.push_back(0);
  unsigned i = 0;
  while (i < length) {
    unsigned v = 0;
    unsigned char byte;
    do {
      if (i == length) return false;  // the last octet still announced more
      // A subidentifier that does not fit 32 bits is refused rather than
      // read as a wrong arc.
      if (v > (0xFFFFFFFFu >> 7)) return false;
      byte = static_cast<unsigned char>(data[i++]);
      v = (v << 7) | (byte & 0x7Fu);
    } while (byte & 0x80);
    value.push_back(v);
  }
  unsigned x = value[1];
  if (x < 40) {
    value[0] = 0;
  } else if (x < 80) {
    value[0] = 1;
    value[1] = x - 40;
  } else {
    value[0] = 2;
    value[1] = x - 80;
  }
  return true;
}

int OBJECT_IDENTIFIER::do_compare(AbstractData const& other) const {
  OBJECT_IDENTIFIER const& o = static_cast<OBJECT_IDENTIFIER const&>(other);
  std::size_t n = std::min(value.size(), o.value.size());
  for (std::size_t i = 0; i < n; ++i) {
    if (value[i] != o.value[i]) return static_cast<int>(value[i] - o.value[i]);
  }
  return static_cast<int>(levels() - o.levels());
}
AbstractData* OBJECT_IDENTIFIER::do_clone() const { return new OBJECT_IDENTIFIER(*this); }
bool OBJECT_IDENTIFIER::do_accept(Visitor& v) { return v.visit(*this); }
bool OBJECT_IDENTIFIER::do_accept(ConstVisitor& v) const { return v.visit(*this); }

}  // namespace ASN1
