// Test helpers that walk any generated value through its records alone, so
// that one test covers every type of the registry.
#ifndef QV_TESTS_PROTOCOL_FILLER_H
#define QV_TESTS_PROTOCOL_FILLER_H

#include <string>

#include "asn1/ASN1.h"

namespace ProtocolTest {

// Fills `value` in place with values its records allow. Variant 0 makes
// every optional field and addition present, lists of two elements and the
// largest values; variant 1 leaves every optional field absent, lists empty
// and the smallest values; other variants mix both, driven by the variant as
// a seed. A CHOICE at the top selects `topSelection` when it is not -1, else
// the alternatives rotate with the variant; nested CHOICEs rotate too.
void fill(ASN1::AbstractData& value, unsigned variant, int topSelection = -1);

// Whether some CHOICE in the value has nothing selected (such a value can be
// neither printed nor encoded).
bool hasUnselectedChoice(ASN1::AbstractData const& value);

// Checks that every value in the tree is an object of the class its record
// creates and never a bare runtime base object; on failure `where` names
// the path to the first offender.
bool allOwnClasses(ASN1::AbstractData const& value, std::string& where);

// Counts the CHOICE alternatives selected anywhere in the value, keyed by the
// CHOICE record and the alternative index.
void countSelections(ASN1::AbstractData const& value, void (*seen)(void const* record, int id));

}  // namespace ProtocolTest

#endif
