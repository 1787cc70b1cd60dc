// Every generated protocol type by its full name ("LGCP::Message"): its
// constant record, a create function that builds a default value of the
// type's own class, and its kind. The table itself is generated with the
// types; the controller client reaches the types by name through it.
#ifndef QV_PROTOCOL_REGISTRY_H
#define QV_PROTOCOL_REGISTRY_H

#include <cstddef>
#include <string>

#include "asn1/AbstractData.h"

namespace Protocol {

enum class TypeKind { Sequence, Choice, Enumerated };

struct TypeEntry {
  char const* name;        // module and type name joined by "::"
  void const* info;        // the type's record (X::theInfo)
  ASN1::CreateFun create;  // a new default value of class X, owned by the caller
  TypeKind kind;
};

class Registry {
 public:
  typedef TypeEntry const* const_iterator;

  // Every type, sorted by name.
  static const_iterator begin();
  static const_iterator end();
  static std::size_t size();

  // The entry of the named type; null when there is none.
  static TypeEntry const* find(std::string const& name);
  // A new default value of the named type, owned by the caller; null when
  // there is no such type.
  static ASN1::AbstractData* create(std::string const& name);
};

}  // namespace Protocol

#endif
