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

// What is wrong with a frame sent by one side by the rules of Q.921, or ""
// when nothing is: address with its extension bits, SAPI 0 or 63, a known
// control field with the length its class allows, and the C/R bit of a
// command or response from that side (commands from the network carry 1).
inline std::string q921Fault(const Packet& f, bool fromNetwork) {
  const unsigned n = f.null() ? 0 : f.length();
  if (n < 3) return "shorter than address and control";
  if (f[0] & 1) return "address octet 1 with EA set";
  if (!(f[1] & 1)) return "address octet 2 without EA";
  const unsigned sapi = f[0] >> 2, tei = f[1] >> 1, control = f[2];
  const bool cr = f[0] & 2;
  if (sapi != 0 && sapi != 63) return "SAPI neither 0 nor 63";
  bool command;
  if ((control & 1) == 0) {
    if (n < 5 || n > 4 + 260) return "I frame without information or longer than N201";
    command = true;
  } else if ((control & 3) == 1) {
    if (control != 0x01 && control != 0x05 && control != 0x09) return "unknown S frame";
    if (n != 4) return "S frame of the wrong length";
    // Either sense is fine; check the N(R) octet only.
    return "";
  } else {
    switch (control & ~0x10u) {
      case 0x6F: case 0x43: command = true; break;    // SABME, DISC
      case 0x63: case 0x0F: command = false; break;   // UA, DM
      case 0x03:                                      // UI
        if (n < 4) return "UI frame without information";
        if (sapi == 63) {
          if (tei != 127 || n != 8 || f[3] != 0x0F) return "TEI management message malformed";
          if (f[6] < 1 || f[6] > 7 || !(f[7] & 1)) return "TEI management type or Ai malformed";
        }
        command = true;
        break;
      default: return "U frame this link never sends";
    }
    if ((control & 0x03) == 0x03 && (control & ~0x10u) != 0x03 && n != 3) return "U frame with information";
  }
  if (cr != (fromNetwork == command)) return "C/R bit of the wrong sense";
  return "";
}

// Records every frame offered; refuses them while `full`.
struct Wire : GenericHDLC {
  std::vector<std::string> sent;
  std::vector<std::string> faults;  // frames that break Q.921
  bool network = false;             // whose frames these are
  bool full = false;
  bool hdlc_transmit(Packet& f) override {
    if (full) return false;
    std::string fault = q921Fault(f, network);
    if (!fault.empty()) faults.push_back(fault + ": " + hex(f));
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
