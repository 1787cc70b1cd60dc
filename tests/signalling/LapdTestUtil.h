#pragma once
// Helpers of the link tests: frames written as hexadecimal text, a frame
// transmitter that records what the link sends, and a link that records
// what it hands up.
#include <cctype>
#include <functional>
#include <string>
#include <vector>

#include "hardware/HDLC.h"
#include "runtime/Packet.h"
#include "runtime/Protocol.h"

namespace lapdtest {

// "02 01 7F" -> a packet of those octets, with head room for a header.
inline Packet frame(const std::string& hex, unsigned headroom = 4) {
  Packet p;
  p.reserve_head(headroom);
  unsigned nibble = 0, value = 0;
  for (char c : hex) {
    if (!std::isxdigit(static_cast<unsigned char>(c))) continue;
    value = value << 4 | unsigned(std::isdigit(static_cast<unsigned char>(c)) ? c - '0' : std::tolower(c) - 'a' + 10);
    if (++nibble == 2) {
      p.put8(static_cast<unsigned char>(value));
      nibble = value = 0;
    }
  }
  return p;
}

// A packet's octets as "02 01 7F".
inline std::string hex(const Packet& p) {
  static const char digits[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned i = 0; i < p.length(); ++i) {
    if (i) out += ' ';
    out += digits[p[int(i)] >> 4];
    out += digits[p[int(i)] & 15];
  }
  return out;
}

// Records every frame offered; refuses them while `full`.
struct Wire : GenericHDLC {
  std::vector<std::string> sent;
  bool full = false;
  bool hdlc_transmit(Packet& f) override {
    if (full) return false;
    sent.push_back(hex(f));
    return true;
  }
  bool is_open() const override { return true; }
  bool is_ready() const override { return !full; }
  // The frames sent since the last call.
  std::vector<std::string> take() {
    std::vector<std::string> out;
    out.swap(sent);
    return out;
  }
};

// What a protocol layer hands up, recorded in order as text:
// "msg 08 01 ...", "up", "down <text>", "status <text>".
struct Recorder {
  std::vector<std::string> events;
  std::function<void(const std::string&)> hook;
  void add(const std::string& e) {
    events.push_back(e);
    if (hook) hook(e);
  }
  std::vector<std::string> take() {
    std::vector<std::string> out;
    out.swap(events);
    return out;
  }
};

template <class Base>
struct Recording : Base {
  template <class... A>
  explicit Recording(A... a) : Base(a...) {}
  Recorder rec;
  void on_message(Packet& p) override { rec.add("msg " + hex(p)); }
  void on_activate() override { rec.add("up"); }
  void on_deactivate(Protocol_status_ptr s) override { rec.add("down " + s->message()); }
  void on_status(Protocol_status_ptr s) override { rec.add("status " + s->message()); }
};

}  // namespace lapdtest
