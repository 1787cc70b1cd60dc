// libFuzzer target: hostile octets into the aligned PER decoder of nested
// message types, and the round trip of whatever decodes.
#include <cstdint>
#include <cstdlib>

#include "asn1/PerFuzzBody.h"  // tests/asn1/

extern "C" int LLVMFuzzerTestOneInput(uint8_t const* data, std::size_t size) {
  if (!PerTest::perFuzzOne(data, size)) std::abort();
  return 0;
}
