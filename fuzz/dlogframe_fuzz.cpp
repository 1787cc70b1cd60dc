// libFuzzer target: arbitrary octets as a D-channel frame into the trace
// printer, both directions. The frame sits in a buffer of exactly its size.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "signalling/DlogFrame.h"

extern "C" int LLVMFuzzerTestOneInput(uint8_t const* data, std::size_t size) {
  std::vector<unsigned char> frame(data, data + size);
  char out[ISDN::kLogBufSize + 1];
  out[ISDN::kLogBufSize] = 0x5A;
  for (int direction = 0; direction < 2; ++direction) {
    ISDN::dlogframe(frame.empty() ? nullptr : frame.data(), unsigned(frame.size()), direction, out);
    if (std::strlen(out) >= ISDN::kLogBufSize || out[ISDN::kLogBufSize] != 0x5A) std::abort();
  }
  return 0;
}
