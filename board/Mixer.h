#pragma once
// The stand-in's "/dev/mixer": the conference mixer units. Each unit has a
// number of TDM channels and mixer inputs; every output channel sums a set
// of input channels of its unit, each with a gain. A channel of a unit is
// also a channel of the time-slot switch. Every request is made on a file
// opened for it alone; records are in the host's byte order.
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "board/Model.h"

namespace Board {

class Mixer : public Model {
 public:
  static constexpr uint32_t kClear = 0x800C4D02;      // mix_slot {dev_no, type, number}
  static constexpr uint32_t kAdd = 0x801C4D03;        // {rx mix_slot, tx mix_slot, gain}
  static constexpr uint32_t kRemove = 0x801C4D04;     // {rx mix_slot, tx mix_slot, -}
  static constexpr uint32_t kTdm = 0x800C4D06;        // mix_slot; result: its switch channel
  static constexpr uint32_t kEnumerate = 0x80104D07;  // {id in/out, tdm channels, -, mixer inputs}
  // Switch channels of the units: above the shared buses, the RTP engine's
  // and the HDLC controller's channels; a block of kBlock per unit.
  static constexpr uint32_t kFirstChannel = 20480;
  static constexpr uint32_t kBlock = 128;
  static constexpr unsigned kBlocks = 32;

  struct Unit {
    int32_t id = 0;
    int32_t tdm = 0;
    int32_t inputs = 0;
    uint32_t base = 0;  // switch channel of TDM channel 0
    // output channel -> {input channel -> gain}
    std::map<int32_t, std::map<int32_t, int32_t>> routes;
  };

  explicit Mixer(StandIn& board);

  // For tests; each takes the board's lock. A unit that is set again keeps
  // its switch channels and routes; removing one forgets its routes.
  void setUnit(int32_t id, int32_t tdm, int32_t inputs);
  bool removeUnit(int32_t id);
  std::vector<Unit> units() const;
  // The routes of one output channel; empty when it sums nothing.
  std::map<int32_t, int32_t> routes(int32_t id, int32_t output) const;
  // Opens of the device so far.
  unsigned long opens() const;

  int open(Session& s) override;
  Reply request(Session& s, Request& r) override;
  std::string describe(const LogEntry& e) const override;
  bool command(const std::vector<std::string>& args, std::ostream& out) override;
  void help(std::ostream& out) const override;

 private:
  Unit* find(int32_t id);
  // The unit and channel a mix_slot names, or null when it names none.
  Unit* channel(const uint8_t* slot, int32_t& number);
  void setUnitLocked(int32_t id, int32_t tdm, int32_t inputs);

  std::vector<Unit> units_;
  unsigned long opens_ = 0;
};

}  // namespace Board
