// Big-endian 32-bit words, the byte order of the board's records, for both
// the daemon's device layer and the stand-in board that answers it.
#ifndef QV_RUNTIME_BYTEORDER_H
#define QV_RUNTIME_BYTEORDER_H

#include <cstdint>

namespace ByteOrder {

inline uint32_t getBE32(const uint8_t* p) {
  return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | uint32_t(p[3]);
}

inline void putBE32(uint8_t* p, uint32_t v) {
  p[0] = uint8_t(v >> 24);
  p[1] = uint8_t(v >> 16);
  p[2] = uint8_t(v >> 8);
  p[3] = uint8_t(v);
}

}  // namespace ByteOrder

#endif
