#pragma once
// Slot commands and what comes back, in value notation on one line, as the
// tests write them and as qvctl and the test link print them.
#include <string>
#include <vector>

namespace slots_test {

inline std::string trunk(unsigned slot, unsigned trunk, unsigned ts, int seq = 1) {
  return "{ seq " + std::to_string(seq) + ", slot " + std::to_string(slot) +
         ", pdu command : create : trunk : { trunk " + std::to_string(trunk) + ", timeslot " +
         std::to_string(ts) + " } }";
}

inline std::string probe(unsigned slot, int tx, int rx, int seq = 1) {
  return "{ seq " + std::to_string(seq) + ", slot " + std::to_string(slot) +
         ", pdu command : create : ext : { transmitter " + std::to_string(tx) + ", receiver " +
         std::to_string(rx) + " } }";
}

inline std::string cmd(unsigned slot, const std::string& command, int seq = 1) {
  return "{ seq " + std::to_string(seq) + ", slot " + std::to_string(slot) + ", pdu command : " + command + " }";
}

inline std::string ok(unsigned slot, int seq = 1) {
  return "{ seq " + std::to_string(seq) + ", slot " + std::to_string(slot) + ", pdu response : success : NULL }";
}

inline std::string err(unsigned slot, const std::string& cause, int seq = 1) {
  return "{ seq " + std::to_string(seq) + ", slot " + std::to_string(slot) + ", pdu response : error : " + cause +
         " }";
}

inline std::string stream(unsigned slot, const std::string& dir, int channel) {
  return "{ slot " + std::to_string(slot) + ", pdu signal : " + dir + " : " +
         (channel < 0 ? std::string("inactive : NULL") : "active : " + std::to_string(channel)) + " }";
}

// The messages that carry the text, in order.
inline std::vector<std::string> having(const std::vector<std::string>& got, const std::string& text) {
  std::vector<std::string> out;
  for (const std::string& m : got)
    if (m.find(text) != std::string::npos) out.push_back(m);
  return out;
}

}  // namespace slots_test
