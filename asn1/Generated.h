// How generated protocol types are declared over the runtime's records.
//
// tests/asn1/DemoTypes.h and DemoTypes.cpp are the worked example: copy their
// shape. The rules that matter:
//
// 1. Every value made from a record is an object of the class the accessors
//    name. So every record's create word is `&ASN1::create_value<Class>`,
//    every class has a constructor from `void const* info`, and every class
//    overrides `do_clone()` with `return new Class(*this);` (a copy keeps its
//    class too). Accessors then reach fields through `field_as<T>(slot)`,
//    `include_as<T>(optionalIndex, slot)` (SEQUENCE), `select_as<T>(id)` and
//    `selection_as<T>()` (CHOICE), which check the class in debug builds.
//
// 2. Records are aggregates, defined in the type's .cpp file with constant
//    initialisers only (the words may be written flat, in the order of the
//    record's struct); no start-up code fills anything:
//    - SEQUENCE (ASN1::SEQUENCE::InfoType): create, tag 16, extendable,
//      fieldInfos, fieldIds, numFields (root fields), knownExtensions,
//      numOptional (optional root fields), defaultExtensions (nullptr), tags
//      (nullptr: automatic), fieldNames, fieldBlock. fieldInfos and
//      fieldNames list the root fields, then the additions; fieldIds holds -1
//      for a mandatory root field, k for the k-th optional root field, 0 for
//      an addition. The optional index of the j-th addition is
//      numOptional + j: pass it to include_as / hasOptionalField /
//      removeOptionalField. fieldBlock (nullptr: every field made on its own)
//      points to a constant `ASN1::block_of(places, size, make)`: one
//      `ASN1::place_at<T>(offset)` per root field, offsets chained from
//      `ASN1::slot_bytes(count)` with `ASN1::next_place<T>`, the last of
//      them the size; `ASN1::place_of<T>()` for an addition; and optionally
//      a function that makes every mandatory field with `ASN1::make_field`.
//    - CHOICE (ASN1::CHOICE::InfoType): create, tag 0, extendable,
//      selectionInfos, numChoices (root alternatives), totalChoices (root
//      plus known additions), tags (nullptr), selectionNames. Give every
//      alternative a tag type `struct x { enum Id { id = index }; };`; as such
//      names hide base members (an alternative called `create` or `info`),
//      qualify base calls where a name may clash.
//    - ENUMERATED (ASN1::ENUMERATED::InfoType): create, tag 10, extendable,
//      maxEnumValue (largest item value), names, numNames (entries of the
//      names table: always its length, never derived from maxEnumValue).
//      Name-table entries are "name" or, for an item with an explicit value,
//      "name=value". Declare `enum NamedNumber : int` (a fixed underlying
//      type keeps unnamed values such as 3 well defined), add
//      `using ASN1::AbstractData::operator==;` next to
//      `bool operator==(NamedNumber) const` so both comparisons resolve.
//    - SEQUENCE OF / SET OF: no record of your own; the field type is
//      `ASN1::SEQUENCE_OF<T, ASN1::EmptyConstraint>` (or SET_OF), whose
//      constant record names T::theInfo as its element record.
//    - INTEGER (lo..hi): `ASN1::Constrained_INTEGER<ASN1::FixedConstraint,
//      lo, hi>` (record built in: create, tag 2, 2, lo, hi).
//    - IA5String (SIZE (lo..hi)): a nested `struct field { typedef
//      ASN1::SizeConstrainedString<ASN1::IA5String, ASN1::FixedConstraint,
//      lo, hi> value_type; };` whose record copies the IA5String alphabet at
//      compile time.
//    - Plain INTEGER, BOOLEAN, NULL, OCTET STRING, IA5String, OBJECT
//      IDENTIFIER: the runtime classes and their theInfo records.
//
// 3. Classes add no data members. Accessors check nothing: callers test
//    x_isPresent() / x_isSelected() first.
#ifndef QV_ASN1_GENERATED_H
#define QV_ASN1_GENERATED_H

#include "asn1/ASN1.h"

#endif
