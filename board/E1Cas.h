#pragma once
// The stand-in's "/dev/e1-cas": channel-associated signalling of the four
// E1 trunks. CAS is opened and closed per trunk; on an open trunk each
// time-slot (1-31, not 16) is enabled with transmit ABCD bits or disabled,
// and its received and transmitted bits are read. A test sets the received
// bits of a time-slot; when that time-slot is enabled on an open trunk,
// every open file of the device reads the change as one 12-byte record
// {u32 trunk, u32 time-slot, u8 rx, u8 tx, 2 reserved}, big-endian.
#include <cstdint>
#include <set>
#include <vector>

#include "board/Model.h"

namespace Board {

class E1Cas : public Model {
 public:
  static constexpr uint32_t kOpen = 0x80044300;   // the trunk as the value
  static constexpr uint32_t kClose = 0x80044301;  // the trunk as the value
  static constexpr uint32_t kSet = 0xC00C4302;    // record: set tx
  static constexpr uint32_t kGet = 0xC00C4303;    // record: rx and tx filled
  static constexpr uint32_t kCtl = 0xC0104304;    // record + u32 0 enable / 1 disable
  static constexpr unsigned kTrunks = 4;
  static constexpr unsigned kSlots = 32;
  static constexpr unsigned kSignallingSlot = 16;

  struct Slot {
    bool enabled = false;
    uint8_t tx = 0;
    uint8_t rx = 0;
  };

  explicit E1Cas(StandIn& board);

  // For tests; each takes the board's lock.
  bool isOpen(unsigned trunk) const;
  Slot slot(unsigned trunk, unsigned ts) const;
  // Sets the received bits of a time-slot; the number of open files told
  // of the change (0 when the time-slot is not enabled on an open trunk),
  // -1 for a trunk or time-slot that has no CAS.
  int setRx(unsigned trunk, unsigned ts, uint8_t bits);
  // Fails every open file as a dying driver would (the daemon reads an
  // error); CAS state is kept.
  void sever();

  int open(Session& s) override;
  void closed(Session& s) override;
  Reply request(Session& s, Request& r) override;
  std::string describe(const LogEntry& e) const override;
  bool command(const std::vector<std::string>& args, std::ostream& out) override;
  void help(std::ostream& out) const override;

 private:
  static bool validSlot(uint32_t trunk, uint32_t ts) {
    return trunk < kTrunks && ts >= 1 && ts < kSlots && ts != kSignallingSlot;
  }
  int setRxLocked(unsigned trunk, unsigned ts, uint8_t bits);
  void printSlot(std::ostream& out, unsigned trunk, unsigned ts) const;

  bool open_[kTrunks] = {};
  Slot slots_[kTrunks][kSlots];
  std::set<Session*> sessions_;
};

}  // namespace Board
