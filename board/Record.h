#pragma once
// Byte-order helpers for the board's records: the drivers of "/dev/hal",
// "/dev/mcc/ctl" and their neighbours speak big-endian 32-bit words.
#include <cstddef>
#include <cstdint>
#include <string>

#include "runtime/ByteOrder.h"

namespace Board {

using ByteOrder::getBE32;
using ByteOrder::putBE32;

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
