#pragma once
// The stand-in's "/dev/dtmf": the tone DSP. Per time-slot it keeps the
// DTMF detector (on, and the id of its activation) and its configuration,
// the IVA detector and its level, DTMF rejection and the echo canceller;
// every tone generator setting is kept with the loop-clock time it was made
// at, and every SELCAL dial. Tests inject 16-byte event records carrying
// the time-slot's current detector id or any other.
#include <cstdint>
#include <map>
#include <vector>

#include "board/EventModel.h"

namespace Board {

class Dtmf : public EventModel {
 public:
  // Request words (type 'B'); "value" words take the time-slot itself.
  static constexpr uint32_t kConfigure = 0x40144202;     // {ts, twist, ratio, silence, noise}
  static constexpr uint32_t kEnable = 0x40084203;        // {ts, id}
  static constexpr uint32_t kDisable = 0x40044204;       // value
  static constexpr uint32_t kDial = 0x400C4205;          // {ts, u16 f1, f2, a1, a2}
  static constexpr uint32_t kLmsOn = 0x40044206;         // value
  static constexpr uint32_t kLmsOff = 0x40044207;        // value
  static constexpr uint32_t kRejectOn = 0x40044209;      // value
  static constexpr uint32_t kRejectOff = 0x4004420A;     // value
  static constexpr uint32_t kIvaOn = 0x4004420B;         // value
  static constexpr uint32_t kIvaOff = 0x4004420C;        // value
  static constexpr uint32_t kIvaConfigure = 0x4008420D;  // {ts, i32 level dB}
  static constexpr uint32_t kSelcal = 0x400C420E;        // {ts, u16 amp, 4 signs, 2 zero}
  static constexpr size_t kEventSize = 16;               // {code, ts, timestamp, id}

  struct Slot {
    bool detector = false;
    uint32_t id = 0;  // of the last activation
    bool configured = false;
    uint32_t twist = 0, ratio = 0, silence = 0, noise = 0;
    bool iva = false;
    int32_t ivaLevel = 0;
    bool rejection = false;
    bool lms = false;
  };
  // One generator setting; (0, 0, 0, 0) is off.
  struct Tone {
    uint64_t usec;  // loop clock
    uint32_t ts;
    uint16_t freq1, freq2, amp1, amp2;
  };
  struct Selcal {
    uint32_t ts;
    uint16_t amp;
    std::string signs;
  };

  explicit Dtmf(StandIn& board);

  // For tests; each takes the board's lock.
  Slot slot(uint32_t ts) const;
  // The time-slot's generator settings, oldest first.
  std::vector<Tone> tones(uint32_t ts) const;
  std::vector<Selcal> selcals() const;
  // An event record to every open file; id < 0: the time-slot's current
  // detector id. How many files got it.
  size_t inject(uint32_t ts, uint32_t code, uint32_t timestamp = 0, int64_t id = -1);
  // Forgets every time-slot, tone and SELCAL dial.
  void reset();

  Reply request(Session& s, Request& r) override;
  std::string describe(const LogEntry& e) const override;
  bool command(const std::vector<std::string>& args, std::ostream& out) override;
  void help(std::ostream& out) const override;

 private:
  size_t injectLocked(uint32_t ts, uint32_t code, uint32_t timestamp, int64_t id);

  std::map<uint32_t, Slot> slots_;
  std::vector<Tone> tones_;
  std::vector<Selcal> selcals_;
};

}  // namespace Board
