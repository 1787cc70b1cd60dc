#pragma once
// LEMZ radio values in the controller's value notation, for the radio tests.
#include <string>

namespace radiotest {

inline std::string radioFlags(int prio, bool ptt, bool sql = false) {
  return "flags { prio " + std::to_string(prio) + ", ptt " + (ptt ? "TRUE" : "FALSE") +
         ", bss FALSE, vad-rx FALSE, vad-tx FALSE, sql " + (sql ? "TRUE" : "FALSE") +
         ", sh FALSE, pwr FALSE, rv FALSE, resv FALSE, selcall 0, li 0 }";
}

// A full LEMZ status: priority 2, channel 5 at 145.5, remote 1/2, squelch
// on, RTE n0n, channel active, group 3, receiver on standby.
inline std::string lemzStatus() {
  return "lemz : { " + radioFlags(2, false) +
         ", freq { channel 5, frequency \"145.5\" }, remote { no 1, ch 2 }, squelshe on, rte n0n,"
         " standby-state-channel active, standby-group 3, standby-state-receiver standby }";
}

}  // namespace radiotest
