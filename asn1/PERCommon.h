// What the aligned PER encoder and decoder must agree on beyond the bit
// layout itself: how a record's bounds are read, which strings are short,
// which extension bits count.
#ifndef QV_ASN1_PERCOMMON_H
#define QV_ASN1_PERCOMMON_H

#include <algorithm>
#include <cstdint>

#include "asn1/Constructed.h"
#include "asn1/Primitive.h"
#include "asn1/Strings.h"

namespace ASN1 {

// The upper bound that stands for "none" in a length determinant.
const unsigned kNoUpperBound = 2147483647u;

// The bounds of a constrained value in 64 bits. A record whose lower bound
// is negative holds two signed words (-128..127); otherwise both are
// unsigned (0..4294967295), as the validity test of INTEGER reads them.
inline void valueBounds(ConstrainedObject const& c, int64_t& lower, int64_t& upper) {
  lower = c.getLowerLimit();
  upper = lower < 0 ? static_cast<int64_t>(static_cast<int>(c.getUpperLimit())) : static_cast<int64_t>(c.getUpperLimit());
}

// The value of an INTEGER read the way its record's bounds are read.
inline int64_t integerValue(INTEGER const& v) {
  if (v.getLowerLimit() < 0) return v.getValue();
  return static_cast<uint32_t>(v.getValue());
}

// A string whose characters follow the preceding bits without alignment.
inline bool isShortString(ConstrainedObject const& c, unsigned bitsPerChar) {
  return c.getConstraintType() != Unconstrained && uint64_t{c.getUpperLimit()} * bitsPerChar <= 16;
}

// Whether any extension addition this type knows is marked present.
inline bool hasKnownExtension(SEQUENCE const& v) {
  SEQUENCE::BitMap const& map = v.extensionMap();
  unsigned n = std::min(map.size(), v.info()->knownExtensions);
  for (unsigned j = 0; j < n; ++j) {
    if (map[j]) return true;
  }
  return false;
}

}  // namespace ASN1

#endif
