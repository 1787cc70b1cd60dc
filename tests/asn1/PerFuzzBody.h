// The property the PER fuzz target checks, shared with the test that
// replays every input the fuzzer ever found (tests/asn1/regressions/).
//
// The first octet picks one of the nested test types, the rest is decoded
// into it. Decoding may fail; it must not fault or leak. A value that
// decodes and encodes again must decode from its own encoding to an equal
// value, which encodes to the same octets.
#ifndef QV_TESTS_ASN1_PERFUZZBODY_H
#define QV_TESTS_ASN1_PERFUZZBODY_H

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "PerTypes.h"
#include "asn1/ASN1.h"

namespace PerTest {

inline std::unique_ptr<ASN1::AbstractData> fuzzValue(unsigned selector) {
  switch (selector % 6) {
    case 0:
      return std::unique_ptr<ASN1::AbstractData>(new Demo::Message);
    case 1:
      return std::unique_ptr<ASN1::AbstractData>(new Demo::Batch);
    case 2:
      return std::unique_ptr<ASN1::AbstractData>(new Envelope);
    case 3:
      return std::unique_ptr<ASN1::AbstractData>(new Holder);
    case 4:
      return std::unique_ptr<ASN1::AbstractData>(new EnvelopeV2);
    default:
      return std::unique_ptr<ASN1::AbstractData>(new Sink);
  }
}

// False when the round trip property is broken.
inline bool perFuzzOne(uint8_t const* data, std::size_t size) {
  if (size == 0) return true;
  std::unique_ptr<ASN1::AbstractData> value = fuzzValue(data[0]);
  char const* begin = reinterpret_cast<char const*>(data + 1);
  ASN1::CoderEnv env;
  env.set_encodingRule(ASN1::CoderEnv::per_Aligned);
  if (!ASN1::decode(begin, begin + (size - 1), &env, *value, true)) return true;

  // Whatever decoded can be checked and printed without fault.
  (void)value->isValid();
  (void)value->asValueNotation();

  std::vector<char> first;
  if (!ASN1::encode(*value, &env, std::back_inserter(first))) return true;
  std::unique_ptr<ASN1::AbstractData> again = fuzzValue(data[0]);
  if (!ASN1::decode(first.data(), first.data() + first.size(), &env, *again, true)) return false;
  if (again->compare(*value) != 0) return false;
  std::vector<char> second;
  if (!ASN1::encode(*again, &env, std::back_inserter(second))) return false;
  return first == second;
}

}  // namespace PerTest

#endif
