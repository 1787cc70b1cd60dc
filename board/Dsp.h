#pragma once
// The stand-in's "/dev/dsp": the voice-processing DSP. It answers the API
// version query with a settable version, keeps per time-slot the last
// configuration of each kind and the enabled features with the id of each
// one's activation. Tests inject 24-byte event records of any type and
// payload, carrying the feature's current id or any other.
#include <cstdint>
#include <map>
#include <string>

#include "board/EventModel.h"

namespace Board {

class Dsp : public EventModel {
 public:
  static constexpr uint32_t kVersion = 0x40046404;    // argument 0; result: API version
  static constexpr uint32_t kConfigure = 0x40146401;  // {ts, kind, 12 bytes}
  static constexpr uint32_t kEnable = 0x400C6402;     // {ts, id, mask}
  static constexpr uint32_t kDisable = 0x400C6403;    // {ts, 0, mask}
  static constexpr size_t kEventSize = 24;            // {ts, id, type, a, b, c}
  // Event types.
  static constexpr uint32_t kVAD = 0x1, kSD = 0x2, kBSS = 0x10, kTone = 0x100, kFlags = 0x200;

  struct Slot {
    std::map<uint32_t, std::string> config;  // kind -> bytes 8 to 19
    uint32_t enabled = 0;                    // feature mask
    std::map<uint32_t, uint32_t> ids;        // feature bit -> id of its activation
  };

  explicit Dsp(StandIn& board);

  // For tests; each takes the board's lock.
  void setVersion(long version);
  Slot slot(uint32_t ts) const;
  // An event record to every open file; id < 0: the id of the feature of
  // the type (0 for types without one). How many files got it.
  size_t inject(uint32_t ts, uint32_t type, uint32_t a, uint32_t b = 0, uint32_t c = 0,
                int64_t id = -1);
  size_t injectScore(uint32_t ts, float score, int64_t id = -1);
  // Forgets every time-slot; the version goes back to 2.
  void reset();

  Reply request(Session& s, Request& r) override;
  std::string describe(const LogEntry& e) const override;
  bool command(const std::vector<std::string>& args, std::ostream& out) override;
  void help(std::ostream& out) const override;

 private:
  size_t injectLocked(uint32_t ts, uint32_t type, uint32_t a, uint32_t b, uint32_t c, int64_t id);

  long version_ = 2;
  std::map<uint32_t, Slot> slots_;
};

}  // namespace Board
