// Hand-written records for the coder tests: every value kind in one
// SEQUENCE, and the tagging forms the demo types (all automatic) do not use.
//
//   Kinds ::= SEQUENCE {                 -- automatic tags
//     n NULL, b BOOLEAN, i INTEGER, u INTEGER (0..4294967295), e Mode,
//     oid OBJECT IDENTIFIER, bits BIT STRING, octets OCTET STRING,
//     text IA5String, wide BMPString, time GeneralizedTime,
//     list SEQUENCE OF INTEGER,
//     set SET OF IA5String OPTIONAL, alt Command OPTIONAL,
//     named INTEGER { low(-1), zero(0), high(1000) } OPTIONAL,
//     open TYPE-IDENTIFIER.&Type (INTEGER) OPTIONAL }
//   Scalar ::= CHOICE { num INTEGER, word IA5String }   -- universal tags
//   Own ::= SEQUENCE { num INTEGER, flag BOOLEAN OPTIONAL, pick Scalar }  -- own tags
//   Wide ::= SEQUENCE { a [APPLICATION 200] INTEGER, b [PRIVATE 31] BOOLEAN OPTIONAL,
//                       c Scalar OPTIONAL }   -- tag table, 0 for the untagged CHOICE
//   Pair ::= SEQUENCE { a INTEGER, b INTEGER OPTIONAL }   -- automatic
//   Opt ::= SEQUENCE { a INTEGER OPTIONAL, b BOOLEAN OPTIONAL }  -- automatic
#ifndef QV_TESTS_ASN1_CODERTYPES_H
#define QV_TESTS_ASN1_CODERTYPES_H

#include "asn1/Generated.h"

namespace CoderTypes {

enum KindsField {
  kN, kB, kI, kU, kE, kOid, kBits, kOctets, kText, kWide, kTime, kList, kSet, kAlt, kNamed, kOpen, kCount
};
// Optional indexes of Kinds' optional fields.
enum KindsOptional { optSet, optAlt, optNamed, optOpen };

extern const ASN1::SEQUENCE::InfoType Kinds;
extern const ASN1::CHOICE::InfoType Scalar;
extern const ASN1::SEQUENCE::InfoType Own;
extern const ASN1::SEQUENCE::InfoType Wide;
extern const ASN1::SEQUENCE::InfoType Pair;
extern const ASN1::SEQUENCE::InfoType Opt;
extern const ASN1::SEQUENCE_OF_Base::InfoType OptList;  // SEQUENCE OF Opt
extern const ASN1::IntegerWithNamedNumber::InfoType Named;
extern const ASN1::TypeConstrainedOpenData::InfoType OpenInteger;
// INTEGER with the universal tag numbers 31 and 128 (multi-octet identifiers).
extern const ASN1::ConstrainedObject::InfoType Tag31Integer;
extern const ASN1::ConstrainedObject::InfoType Tag128Integer;

// Field `index` of a SEQUENCE as class T, marking an optional one present.
template <class T>
T& field(ASN1::SEQUENCE& s, unsigned index, int optionalIndex = -1) {
  if (optionalIndex >= 0) s.includeOptionalField(static_cast<unsigned>(optionalIndex), index);
  return dynamic_cast<T&>(*s.getField(index));
}

// A Kinds value with every field, optional ones included, set to something
// other than its default.
ASN1::SEQUENCE* makeKinds();

}  // namespace CoderTypes

#endif
