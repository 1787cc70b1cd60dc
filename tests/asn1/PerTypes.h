// More hand-written types in the generated shape, for the aligned PER
// tests: constrained records of every width class, a closed and a small
// open enumeration, a three-way CHOICE, and "newer" versions of the demo
// types (an extra extension addition, an extra extension alternative) whose
// encodings the older types must read.
//
//   Small  ::= ENUMERATED { a, b, c, d, ... }
//   Closed ::= ENUMERATED { x, y, z }
//   Tri    ::= CHOICE { a NULL, b BOOLEAN, c INTEGER (0..7) }
//   ParamsV2 ::= Params plus the addition  extra INTEGER (0..255)
//   CommandV2 ::= Command plus the extension alternative  reset BOOLEAN
//   Envelope ::= SEQUENCE { cmd Command, tail INTEGER (0..255) }
//   EnvelopeV2 ::= SEQUENCE { cmd CommandV2, tail INTEGER (0..255) }
//   Holder ::= SEQUENCE { p Params, tail INTEGER (0..255) }
//   Sink   ::= SEQUENCE { one field of most other kinds, ..., more OCTET STRING }
#ifndef QV_TESTS_ASN1_PERTYPES_H
#define QV_TESTS_ASN1_PERTYPES_H

#include "DemoTypes.h"
#include "asn1/Generated.h"

namespace PerTest {

using ASN1::ExtendableConstraint;
using ASN1::FixedConstraint;
using ASN1::PartiallyConstrained;

typedef ASN1::Constrained_INTEGER<FixedConstraint, 0, 1> Int0to1;
typedef ASN1::Constrained_INTEGER<FixedConstraint, 1, 50> Int1to50;
typedef ASN1::Constrained_INTEGER<FixedConstraint, 0, 255> Int0to255;
typedef ASN1::Constrained_INTEGER<FixedConstraint, -128, 127> IntMinus128to127;
typedef ASN1::Constrained_INTEGER<FixedConstraint, 0, 1023> Int0to1023;
typedef ASN1::Constrained_INTEGER<FixedConstraint, 20, 1000> Int20to1000;
typedef ASN1::Constrained_INTEGER<FixedConstraint, 0, 65535> Int0to65535;
typedef ASN1::Constrained_INTEGER<FixedConstraint, 0, 65536> Int0to65536;
typedef ASN1::Constrained_INTEGER<FixedConstraint, 0, 4294967295u> Int0to4G;
typedef ASN1::Constrained_INTEGER<FixedConstraint, 112000, 399975> IntFreq;
typedef ASN1::Constrained_INTEGER<FixedConstraint, 7, 7> Int7;
typedef ASN1::Constrained_INTEGER<PartiallyConstrained, 0, 4294967295u> IntFrom0;
typedef ASN1::Constrained_INTEGER<PartiallyConstrained, -10, 4294967295u> IntFromMinus10;
typedef ASN1::Constrained_INTEGER<ExtendableConstraint, 0, 255> IntExt0to255;

typedef ASN1::SizeConstrainedString<ASN1::IA5String, FixedConstraint, 1, 64> Name1to64;
typedef ASN1::SizeConstrainedString<ASN1::IA5String, FixedConstraint, 0, 2> Tiny0to2;
typedef ASN1::SizeConstrainedString<ASN1::IA5String, ExtendableConstraint, 1, 4> IA5Ext1to4;

// OCTET STRING records with their own size constraints.
extern const ASN1::ConstrainedObject::InfoType OctetsFixed2;      // SIZE (2)
extern const ASN1::ConstrainedObject::InfoType OctetsUpTo8;       // SIZE (0..8)
extern const ASN1::ConstrainedObject::InfoType OctetsExt1to4;     // SIZE (1..4, ...)
extern const ASN1::ConstrainedObject::InfoType OctetsUpTo20000;   // SIZE (0..20000)
extern const ASN1::ConstrainedObject::InfoType BitsUpTo32;        // BIT STRING SIZE (0..32)
extern const ASN1::SEQUENCE_OF_Base::InfoType BoolsUpTo3;         // SEQUENCE (SIZE (0..3)) OF BOOLEAN
extern const ASN1::TypeConstrainedOpenData::InfoType BoolOpenType; // an open type carrying a BOOLEAN

class Small : public ASN1::ENUMERATED {
 public:
  enum NamedNumber : int { a = 0, b = 1, c = 2, d = 3 };
  static const InfoType theInfo;
  Small() : ENUMERATED(&theInfo) {}
  explicit Small(void const* info) : ENUMERATED(info) {}
  Small(NamedNumber v) : ENUMERATED(&theInfo) { setFromInt(v); }

 protected:
  ASN1::AbstractData* do_clone() const override { return new Small(*this); }
};

class Closed : public ASN1::ENUMERATED {
 public:
  enum NamedNumber : int { x = 0, y = 1, z = 2 };
  static const InfoType theInfo;
  Closed() : ENUMERATED(&theInfo) {}
  explicit Closed(void const* info) : ENUMERATED(info) {}
  Closed(NamedNumber v) : ENUMERATED(&theInfo) { setFromInt(v); }

 protected:
  ASN1::AbstractData* do_clone() const override { return new Closed(*this); }
};

class Tri : public ASN1::CHOICE {
 public:
  typedef ASN1::Constrained_INTEGER<FixedConstraint, 0, 7> c_type;
  static const void* const selectionInfos[3];
  static const char* const selectionNames[3];
  static const InfoType theInfo;

  Tri() : CHOICE(&theInfo) {}
  explicit Tri(void const* info) : CHOICE(info) {}
  ASN1::BOOLEAN& select_b() { return select_as<ASN1::BOOLEAN>(1); }
  c_type& select_c() { return select_as<c_type>(2); }
  c_type const& get_c() const { return selection_as<c_type>(); }

 protected:
  ASN1::AbstractData* do_clone() const override { return new Tri(*this); }
};

class ParamsV2 : public ASN1::SEQUENCE {
 public:
  typedef Int0to255 extra_type;
  static const void* const fieldInfos[7];
  static const int fieldIds[7];
  static const char* const fieldNames[7];
  static const InfoType theInfo;

  ParamsV2() : SEQUENCE(&theInfo) {}
  explicit ParamsV2(void const* info) : SEQUENCE(info) {}
  void set_slot(unsigned v) { field_as<Demo::Params::slot_type>(0) = v; }
  void set_mode(Demo::Mode::NamedNumber v) { field_as<Demo::Mode>(2) = v; }
  void set_flag(bool v) { include_as<ASN1::BOOLEAN>(3, 5) = v; }
  void set_extra(unsigned v) { include_as<extra_type>(4, 6) = v; }

 protected:
  ASN1::AbstractData* do_clone() const override { return new ParamsV2(*this); }
};

class CommandV2 : public ASN1::CHOICE {
 public:
  static const void* const selectionInfos[4];
  static const char* const selectionNames[4];
  static const InfoType theInfo;

  CommandV2() : CHOICE(&theInfo) {}
  explicit CommandV2(void const* info) : CHOICE(info) {}
  ASN1::BOOLEAN& select_reset() { return select_as<ASN1::BOOLEAN>(3); }
  Demo::Mode& select_query_state() { return select_as<Demo::Mode>(2); }

 protected:
  ASN1::AbstractData* do_clone() const override { return new CommandV2(*this); }
};

// SEQUENCE { <first> <First>, tail INTEGER (0..255) }
template <class First>
class PairOf : public ASN1::SEQUENCE {
 public:
  static const void* const fieldInfos[2];
  static const int fieldIds[2];
  static const char* const fieldNames[2];
  static const InfoType theInfo;

  PairOf() : SEQUENCE(&theInfo) {}
  explicit PairOf(void const* info) : SEQUENCE(info) {}
  First& ref_first() { return field_as<First>(0); }
  First const& get_first() const { return field_as<First>(0); }
  Int0to255 const& get_tail() const { return field_as<Int0to255>(1); }
  void set_tail(unsigned v) { field_as<Int0to255>(1) = v; }

 protected:
  ASN1::AbstractData* do_clone() const override { return new PairOf(*this); }
};

template <class First>
const void* const PairOf<First>::fieldInfos[2] = {&First::theInfo, &Int0to255::theInfo};
template <class First>
const int PairOf<First>::fieldIds[2] = {-1, -1};
template <class First>
const char* const PairOf<First>::fieldNames[2] = {"first", "tail"};
template <class First>
inline constexpr ASN1::FieldPlace pairPlaces[2] = {ASN1::place_at<First>(0),
                                            ASN1::place_at<Int0to255>(ASN1::next_place<First>(0))};
template <class First>
inline constexpr ASN1::FieldBlock pairBlock =
    ASN1::block_of(pairPlaces<First>, ASN1::next_place<Int0to255>(ASN1::next_place<First>(0)));
template <class First>
const ASN1::SEQUENCE::InfoType PairOf<First>::theInfo = {
    &ASN1::create_value<PairOf<First> >, 16, false, fieldInfos, fieldIds, 2, 0, 0, nullptr, nullptr, fieldNames,
    &pairBlock<First>};

// Most remaining kinds in one value, for the fuzz target.
class Sink : public ASN1::SEQUENCE {
 public:
  enum { numFields = 15 };
  static const void* const fieldInfos[16];
  static const int fieldIds[16];
  static const char* const fieldNames[16];
  static const InfoType theInfo;

  Sink() : SEQUENCE(&theInfo) {}
  explicit Sink(void const* info) : SEQUENCE(info) {}
  template <class T>
  T& field(unsigned index) {
    return field_as<T>(index);
  }
  template <class T>
  T& include(unsigned optionalIndex, unsigned index) {
    return include_as<T>(optionalIndex, index);
  }

 protected:
  ASN1::AbstractData* do_clone() const override { return new Sink(*this); }
};

typedef PairOf<Demo::Command> Envelope;
typedef PairOf<CommandV2> EnvelopeV2;
typedef PairOf<Demo::Params> Holder;
typedef PairOf<ParamsV2> HolderV2;

}  // namespace PerTest

#endif
