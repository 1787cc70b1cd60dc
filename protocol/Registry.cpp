#include "protocol/Registry.h"

#include <algorithm>
#include <cstring>

namespace Protocol {
namespace detail {
// Generated with the types (RegistryTable.cpp in the build tree).
extern const TypeEntry typeTable[];
extern const unsigned typeTableSize;
}  // namespace detail

Registry::const_iterator Registry::begin() { return detail::typeTable; }

Registry::const_iterator Registry::end() { return detail::typeTable + detail::typeTableSize; }

std::size_t Registry::size() { return detail::typeTableSize; }

TypeEntry const* Registry::find(std::string const& name) {
  const_iterator it = std::lower_bound(begin(), end(), name, [](TypeEntry const& e, std::string const& n) {
    return std::strcmp(e.name, n.c_str()) < 0;
  });
  if (it == end() || name != it->name) return nullptr;
  return it;
}

ASN1::AbstractData* Registry::create(std::string const& name) {
  TypeEntry const* e = find(name);
  return e != nullptr ? e->create(e->info) : nullptr;
}

}  // namespace Protocol
