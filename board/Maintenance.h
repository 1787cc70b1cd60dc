#pragma once
// The stand-in's "/dev/maintenance": the four E1 framers. Each trunk has a
// status record that tests set (line state and error counters) and may be
// made to fail its status read with an errno; the transmit clock mask and
// the framer clock source are kept with their history.
#include <cstdint>
#include <vector>

#include "board/Model.h"

namespace Board {

class Maintenance : public Model {
 public:
  static constexpr uint32_t kStatus = 0xC0504D03;       // 80 bytes: trunk@0 in, the rest out
  static constexpr uint32_t kSetTclk = 0xC0044D0B;      // the mask as the value
  static constexpr uint32_t kClockSource = 0xC0044D0A;  // a source number as the value
  static constexpr unsigned kTrunks = 4;

  // What the status read of a trunk returns (big-endian words of the
  // record: slips@36, lossBF@40, lossCarrier@44, lossAIS@48, lossRAI@52,
  // state@76), or the errno it fails with.
  struct Status {
    uint32_t state = 0;  // 0 normal ... 6 disabled; any word may be set
    uint32_t slips = 0, lossBF = 0, lossCarrier = 0, lossAIS = 0, lossRAI = 0;
    int error = 0;
  };
  struct Change {
    uint64_t usec;
    long value;
  };

  explicit Maintenance(StandIn& board);

  // For tests; each takes the board's lock.
  Status status(unsigned trunk) const;
  void setStatus(unsigned trunk, const Status& s);
  // The mask last set, -1 before any, and every setting.
  long tclk() const;
  std::vector<Change> tclkHistory() const;
  long clockSource() const;

  Reply request(Session& s, Request& r) override;
  std::string describe(const LogEntry& e) const override;
  bool command(const std::vector<std::string>& args, std::ostream& out) override;
  void help(std::ostream& out) const override;

 private:
  void print(std::ostream& out, unsigned trunk) const;

  Status trunks_[kTrunks];
  long tclk_ = -1;
  std::vector<Change> tclkHistory_;
  long clockSource_ = -1;
};

}  // namespace Board
