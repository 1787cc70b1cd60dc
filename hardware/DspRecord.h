#pragma once
// What the tone and voice-processing services share: their records are in
// the host's byte order (fields copied in and out, never cast in place, so
// alignment does not matter), and a failed request's log line ends with the
// error suffix ` errno="<system error text>"`.
#include <cstdint>
#include <cstring>
#include <ostream>

#include "runtime/Fd.h"

namespace Hardware {

template <class T>
inline void putHost(uint8_t* at, T value) {
  std::memcpy(at, &value, sizeof value);
}

template <class T>
inline T getHost(const uint8_t* at) {
  T value;
  std::memcpy(&value, at, sizeof value);
  return value;
}

// Captures errno when made; prints ` errno="..."`.
struct ErrnoSuffix {
  Errno err;
};

inline std::ostream& operator<<(std::ostream& out, ErrnoSuffix const& e) {
  return out << " errno=\"" << e.err << '"';
}

}  // namespace Hardware
