// The simple value classes: NULL, BOOLEAN, INTEGER (with its constrained and
// named-number forms), ENUMERATED, BIT STRING, OCTET STRING and OBJECT
// IDENTIFIER. Setters never check ranges; validity is asked separately.
#ifndef QV_ASN1_PRIMITIVE_H
#define QV_ASN1_PRIMITIVE_H

#include <algorithm>
#include <string>
#include <vector>

#include "asn1/AbstractData.h"

namespace ASN1 {

class Null : public AbstractData, detail::Allocator<Null> {
 public:
  static const AbstractData::InfoType theInfo;
  static AbstractData* create(void const* info);

  Null() : AbstractData(&theInfo) {}
  explicit Null(void const* info) : AbstractData(info) {}
  Null(Null const&) = default;
  Null& operator=(Null const&) = default;

 protected:
  int do_compare(AbstractData const& other) const override;
  AbstractData* do_clone() const override;
  bool do_accept(Visitor& v) override;
  bool do_accept(ConstVisitor& v) const override;
};

class BOOLEAN : public AbstractData, detail::Allocator<BOOLEAN> {
 public:
  static const AbstractData::InfoType theInfo;
  static AbstractData* create(void const* info);

  explicit BOOLEAN(void const* info = &theInfo) : AbstractData(info), value(false) {}
  BOOLEAN(bool b, void const* info = &theInfo) : AbstractData(info), value(b) {}
  BOOLEAN(BOOLEAN const&) = default;
  BOOLEAN& operator=(BOOLEAN const& other) {
    value = other.value;
    return *this;
  }
  BOOLEAN& operator=(bool b) {
    value = b;
    return *this;
  }
  operator bool() const { return value; }

 protected:
  int do_compare(AbstractData const& other) const override;
  AbstractData* do_clone() const override;
  bool do_accept(Visitor& v) override;
  bool do_accept(ConstVisitor& v) const override;

 private:
  bool value;
};

class INTEGER : public ConstrainedObject, detail::Allocator<INTEGER> {
 public:
  static const ConstrainedObject::InfoType theInfo;
  static AbstractData* create(void const* info);

  explicit INTEGER(void const* info = &theInfo) : ConstrainedObject(info), value(0) {}
  INTEGER(int v, void const* info) : ConstrainedObject(info), value(v) {}
  INTEGER(INTEGER const&) = default;
  INTEGER& operator=(INTEGER const& other) {
    value = other.value;
    return *this;
  }
  INTEGER& operator=(int v) {
    value = v;
    return *this;
  }
  void setValue(int v) { value = v; }
  int getValue() const { return value; }
  bool operator==(INTEGER const& other) const { return value == other.value; }
  bool operator!=(INTEGER const& other) const { return value != other.value; }
  using AbstractData::operator==;
  using AbstractData::operator!=;

  // lowerLimit <= value <= upperLimit, unsigned when the lower limit is not
  // negative (ranges up to 4294967295), signed otherwise.
  bool isStrictValid() const;
  bool isStrictlyValid() const { return isStrictValid(); }
  bool isValid() const;

 protected:
  int do_compare(AbstractData const& other) const override;
  AbstractData* do_clone() const override;
  bool do_accept(Visitor& v) override;
  bool do_accept(ConstVisitor& v) const override;

 private:
  int value;
};

// A range-constrained INTEGER with its own record; the value is seen as
// unsigned (ranges reach 4294967295).
template <ConstraintType type, int lower, unsigned upper>
class Constrained_INTEGER : public INTEGER {
 public:
  static const ConstrainedObject::InfoType theInfo;

  Constrained_INTEGER() : INTEGER(&theInfo) {}
  explicit Constrained_INTEGER(void const* info) : INTEGER(info) {}
  explicit Constrained_INTEGER(unsigned v) : INTEGER(static_cast<int>(v), &theInfo) {}
  Constrained_INTEGER(Constrained_INTEGER const&) = default;
  Constrained_INTEGER& operator=(Constrained_INTEGER const&) = default;
  Constrained_INTEGER& operator=(unsigned v) {
    setValue(static_cast<int>(v));
    return *this;
  }
  unsigned getValue() const { return static_cast<unsigned>(INTEGER::getValue()); }
  Constrained_INTEGER* clone() const { return static_cast<Constrained_INTEGER*>(do_clone()); }

 protected:
  AbstractData* do_clone() const override { return new Constrained_INTEGER(*this); }
};

template <ConstraintType type, int lower, unsigned upper>
inline constexpr ConstrainedObject::InfoType Constrained_INTEGER<type, lower, upper>::theInfo = {
    &create_value<Constrained_INTEGER<type, lower, upper> >, 2, type, lower, upper};

template <ConstraintType type, int lower, unsigned upper>
unsigned operator+(unsigned n, Constrained_INTEGER<type, lower, upper> const& v) {
  return n + v.getValue();
}

class IntegerWithNamedNumber : public INTEGER {
 public:
  struct NameEntry {
    int value;
    char const* name;
  };
  struct InfoType {
    ConstrainedObject::InfoType constraint;
    NameEntry const* nameEntries;  // sorted by ascending value
    unsigned entryCount;
  };
  struct NameEntryCmp {
    bool operator()(NameEntry const& e, int v) const { return e.value < v; }
  };

  explicit IntegerWithNamedNumber(void const* info) : INTEGER(info) {}
  IntegerWithNamedNumber(int v, void const* info) : INTEGER(v, info) {}
  IntegerWithNamedNumber(IntegerWithNamedNumber const&) = default;
  IntegerWithNamedNumber& operator=(IntegerWithNamedNumber const&) = default;
  using INTEGER::operator=;

  InfoType const* info() const { return static_cast<InfoType const*>(AbstractData::info()); }
  bool getName(std::string& out) const;
  bool setFromName(std::string const& name);

 protected:
  // A copy keeps its class, so it still prints by name.
  AbstractData* do_clone() const override;
  bool do_accept(Visitor& v) override;
  bool do_accept(ConstVisitor& v) const override;
};

class ENUMERATED : public AbstractData, detail::Allocator<ENUMERATED> {
 public:
  // `names` lists the items in declaration order. An item written
  // "name=value" carries that value; any other item takes the previous
  // item's value plus one (the first 0). Values may repeat and need not be
  // dense, so the table is read by walking it, never by indexing it with a
  // value; `numNames` bounds that walk.
  struct InfoType {
    AbstractData::InfoType head;
    bool extendable;
    int maxEnumValue;
    char const* const* names;
    unsigned numNames;
  };
  static AbstractData* create(void const* info);

  explicit ENUMERATED(void const* info) : AbstractData(info), value(0) {}
  ENUMERATED(ENUMERATED const&) = default;
  ENUMERATED& operator=(ENUMERATED const& other) {
    value = other.value;
    return *this;
  }

  InfoType const* info() const { return static_cast<InfoType const*>(AbstractData::info()); }
  void setFromInt(int v) { value = v; }
  int asInt() const { return value; }
  int getMaximum() const { return info()->maxEnumValue; }
  bool extendable() const { return info()->extendable; }

  // The table entry of the first item whose value is the stored value, as
  // the table holds it (it may end in "=value"); null when no item has it.
  char const* getName() const;
  // The identifier alone of that item (the printer's text); false when no
  // item has the value.
  bool getIdentifier(std::string& out) const;
  // Accepts the identifier alone or the whole entry; without a match the
  // value becomes maxEnumValue + 1 and the answer is false.
  bool setFromName(std::string const& name);

  bool isStrictlyValid() const { return value <= getMaximum(); }
  bool isValid() const { return extendable() || isStrictlyValid(); }

  // Walks a name table: calls f(entry, identifierLength, value) for each
  // item in order until f answers true; answers whether one did.
  template <class F>
  static bool forEachName(InfoType const* info, F f);

 protected:
  int do_compare(AbstractData const& other) const override;
  AbstractData* do_clone() const override;
  bool do_accept(Visitor& v) override;
  bool do_accept(ConstVisitor& v) const override;

 private:
  int value;
};

// Parses the "=value" part of a name-table entry; answers false when the
// entry carries no value of its own.
bool enumEntryValue(char const* entry, unsigned& identifierLength, int& value);

template <class F>
bool ENUMERATED::forEachName(InfoType const* info, F f) {
  int next = 0;
  for (unsigned i = 0; i < info->numNames; ++i) {
    char const* entry = info->names[i];
    if (entry == nullptr) break;
    unsigned len = 0;
    int v = next;
    if (!enumEntryValue(entry, len, v)) v = next;
    if (f(entry, len, v)) return true;
    next = static_cast<int>(static_cast<unsigned>(v) + 1u);
  }
  return false;
}

class BIT_STRING : public ConstrainedObject, detail::Allocator<BIT_STRING> {
 public:
  static const ConstrainedObject::InfoType theInfo;
  static AbstractData* create(void const* info);

  explicit BIT_STRING(void const* info = &theInfo) : ConstrainedObject(info), totalBits(0) {}
  BIT_STRING(BIT_STRING const&) = default;
  BIT_STRING& operator=(BIT_STRING const& other) {
    totalBits = other.totalBits;
    bitData = other.bitData;
    return *this;
  }

  unsigned size() const { return totalBits; }
  void resize(unsigned bits);
  // Bit i lives in byte i/8 under 0x80 >> (i % 8); 0 beyond the size.
  bool operator[](unsigned i) const;
  void set(unsigned i);
  void clear(unsigned i);
  std::vector<char> const& getData() const { return bitData; }
  std::vector<char>& getData() { return bitData; }

  bool isStrictlyValid() const;
  bool isValid() const;

 protected:
  int do_compare(AbstractData const& other) const override;
  AbstractData* do_clone() const override;
  bool do_accept(Visitor& v) override;
  bool do_accept(ConstVisitor& v) const override;

 private:
  unsigned totalBits;
  std::vector<char> bitData;
};

// The octets live in the node pool like the value itself; a caller still
// reads and fills them as a vector of char, and they convert to and compare
// with a plain std::vector<char>.
class OCTET_STRING : public ConstrainedObject,
                     public std::vector<char, detail::NodeAllocator<char> >,
                     detail::Allocator<OCTET_STRING> {
  typedef std::vector<char, detail::NodeAllocator<char> > Octets;

 public:
  static const ConstrainedObject::InfoType theInfo;
  static AbstractData* create(void const* info);

  OCTET_STRING() : ConstrainedObject(&theInfo) {}
  explicit OCTET_STRING(void const* info) : ConstrainedObject(info) {}
  OCTET_STRING(unsigned n, char fill, void const* info) : ConstrainedObject(info), Octets(n, fill) {}
  OCTET_STRING(std::vector<char> const& octets, void const* info)
      : ConstrainedObject(info), Octets(octets.begin(), octets.end()) {}
  OCTET_STRING(OCTET_STRING const&) = default;
  OCTET_STRING& operator=(OCTET_STRING const& other) {
    Octets::operator=(other);
    return *this;
  }
  OCTET_STRING& operator=(std::vector<char> const& octets) {
    Octets::assign(octets.begin(), octets.end());
    return *this;
  }
  operator std::string() const { return std::string(data(), size()); }
  operator std::vector<char>() const { return std::vector<char>(begin(), end()); }

  friend bool operator==(OCTET_STRING const& a, std::vector<char> const& b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin());
  }
  friend bool operator==(std::vector<char> const& a, OCTET_STRING const& b) { return b == a; }
  friend bool operator!=(OCTET_STRING const& a, std::vector<char> const& b) { return !(a == b); }
  friend bool operator!=(std::vector<char> const& a, OCTET_STRING const& b) { return !(b == a); }

  using ConstrainedObject::info;
  using AbstractData::compare;
  using AbstractData::operator==;
  using AbstractData::operator!=;

  bool isStrictlyValid() const;
  bool isValid() const;

 protected:
  int do_compare(AbstractData const& other) const override;
  AbstractData* do_clone() const override;
  bool do_accept(Visitor& v) override;
  bool do_accept(ConstVisitor& v) const override;
};

class OBJECT_IDENTIFIER : public AbstractData, detail::Allocator<OBJECT_IDENTIFIER> {
 public:
  static const AbstractData::InfoType theInfo;
  static AbstractData* create(void const* info);

  explicit OBJECT_IDENTIFIER(void const* info = &theInfo) : AbstractData(info) {}
  OBJECT_IDENTIFIER(OBJECT_IDENTIFIER const&) = default;
  OBJECT_IDENTIFIER& operator=(OBJECT_IDENTIFIER const& other) {
    value = other.value;
    return *this;
  }

  unsigned levels() const { return static_cast<unsigned>(value.size()); }
  unsigned operator[](unsigned i) const { return value[i]; }
  void append(unsigned arc) { value.push_back(arc); }

  // The contents octets of the identifier (first two arcs combined, then
  // each arc base 128). False, with `out` emptied, for an identifier the
  // octets cannot express, which would come back as another value: fewer
  // than two arcs, a first arc above 2, a second arc of 40 or more under a
  // first arc of 0 or 1, or first two arcs whose sum does not fit 32 bits.
  bool encodeCommon(std::vector<char>& out) const;
  // Reads contents octets; false for none at all, or for a truncated or
  // oversized subidentifier.
  bool decodeCommon(char const* data, unsigned length);

  bool isStrictlyValid() const { return !value.empty(); }
  bool isValid() const { return !value.empty(); }

 protected:
  int do_compare(AbstractData const& other) const override;
  AbstractData* do_clone() const override;
  bool do_accept(Visitor& v) override;
  bool do_accept(ConstVisitor& v) const override;

 private:
  std::vector<unsigned> value;
};

}  // namespace ASN1

#endif
