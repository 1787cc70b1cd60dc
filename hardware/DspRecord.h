#pragma once
// What the tone and voice-processing services share: their records are in
// the host's byte order (fields copied in and out, never cast in place, so
// alignment does not matter), and a failed request's log line ends with the
// error suffix ` errno="<system error text>"`.
#include <poll.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <iostream>

#include "hardware/Device.h"
#include "runtime/Event.h"
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

// The event reader of both services: reads records of `size` bytes (at
// most 32) from the event's device until none is left, handing each whole
// one to handle. A short record is dropped with a line. A device that fails
// or reads end of file is let go of, with one line, rather than polled dead
// for ever; the services' configuration opens it again.
template <class Handle>
void readEventRecords(Event& event, short revents, size_t size, const char* name, Handle handle) {
  // A hang-up or an error is read too: the read tells what became of the
  // device.
  if (!(revents & (POLLIN | POLLERR | POLLHUP))) return;
  while (event.IsActive()) {
    uint8_t rec[32];
    ssize_t n = Device::read(event.lowlevel_fd(), rec, size);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return;
    if (n <= 0) {
      Errno e(n < 0 ? errno : EIO);
      std::cerr << "fail to read from " << name << ": " << e << std::endl;
      event.Release();
      return;
    }
    if (size_t(n) < size) {
      std::cerr << name << ": short event record of " << n << " bytes, dropped" << std::endl;
      continue;
    }
    handle(rec);
  }
}

}  // namespace Hardware
