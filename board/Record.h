#pragma once
// Byte-order helpers for the board's records: the drivers of "/dev/hal",
// "/dev/mcc/ctl" and their neighbours speak big-endian 32-bit words.
#include <cstddef>
#include <cstdint>
#include <string>

namespace Board {

inline uint32_t getBE32(const uint8_t* p) {
  return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | uint32_t(p[3]);
}

inline void putBE32(uint8_t* p, uint32_t v) {
  p[0] = uint8_t(v >> 24);
  p[1] = uint8_t(v >> 16);
  p[2] = uint8_t(v >> 8);
  p[3] = uint8_t(v);
}

// Word i of a record kept as bytes (0 when the record is shorter).
inline uint32_t wordBE(const std::string& rec, size_t i) {
  if (rec.size() < 4 * (i + 1)) return 0;
  return getBE32(reinterpret_cast<const uint8_t*>(rec.data()) + 4 * i);
}

// The record size that a request word announces in bits 16 to 28.
inline size_t wordSize(uint32_t word) { return (word >> 16) & 0x1FFF; }

// Upper-case hexadecimal text of bytes, each byte two digits, no blanks.
std::string hexText(const std::string& bytes);

// Parses hexadecimal text ("0a0b", "0A 0B", "0x0a0b"); false on a bad digit
// or an odd count.
bool parseHex(const std::string& text, std::string& bytes);

}  // namespace Board
