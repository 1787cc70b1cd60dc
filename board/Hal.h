#pragma once
// The stand-in's "/dev/hal": the TDM switch (every channel listens to a
// source, drives a constant byte, or is disabled), the byte seen on each
// channel, the clock source selection, the SPI framer registers, and the
// board's DIP switches, power supply state and E1 framer LEDs.
#include <cstdint>
#include <unordered_map>
#include <vector>

#include "board/Model.h"

namespace Board {

class Hal : public Model {
 public:
  // Request words, records of big-endian 32-bit words unless noted.
  static constexpr uint32_t kConnect = 0x80084D02;      // {dst, src}
  static constexpr uint32_t kDisable = 0x80044D03;      // {ch}
  static constexpr uint32_t kDrive = 0xC0084D04;        // {ch, byte}
  static constexpr uint32_t kRead = 0xC0084D05;         // {ch, 255} -> {ch, byte seen}
  static constexpr uint32_t kClockSelect = 0x80044301;  // {value}
  static constexpr uint32_t kSpiRead = 0xC0034203;      // bytes {ch, reg, 0xFF}, result = value
  static constexpr uint32_t kSpiWrite = 0xC0034204;     // bytes {ch, reg, value}
  static constexpr uint32_t kDip = 0xC0014205;         // byte: DIP switches -> state
  static constexpr uint32_t kPower = 0xC0014206;       // byte: -> power supply state
  static constexpr uint32_t kLed = 0xC0014207;         // byte: framer LED bits
  static constexpr unsigned kSpiChannels = 8;
  // A framer's line status register, and what it holds until a test sets
  // it: carrier, frame and no alarm, the line up.
  static constexpr unsigned kSpiLineStatus = 0x33;
  static constexpr uint8_t kSpiLineUp = 0xC5;
  // What a channel that nobody drives is read as.
  static constexpr uint8_t kIdleByte = 0xFF;

  struct Channel {
    enum Kind { Untouched, Disabled, Listening, Driven };
    Kind kind = Untouched;
    uint32_t source = 0;  // Listening
    uint8_t byte = 0;     // Driven
  };
  struct ClockChange {
    uint64_t usec;
    uint32_t value;
  };

  explicit Hal(StandIn& board);

  // For tests; each takes the board's lock.
  Channel channel(uint32_t n) const;
  // For other models, with the board's lock held: the source channel n
  // listens to (false when it listens to none), and every channel that
  // listens to src.
  bool sourceLocked(uint32_t n, uint32_t& src) const;
  std::vector<uint32_t> listenersLocked(uint32_t src) const;
  // The byte a read request of the channel returns.
  uint8_t seen(uint32_t n) const;
  // Makes channel n read as byte (0-255) whatever it carries; -1 undoes it.
  void setSeen(uint32_t n, int byte);
  // The selected clock value, -1 before any selection, and every selection.
  long clock() const;
  std::vector<ClockChange> clockHistory() const;
  void setSpiPresent(bool present);
  bool spiPresent() const;
  uint8_t reg(unsigned ch, unsigned reg) const;
  void setReg(unsigned ch, unsigned reg, uint8_t value);

  // The DIP switch and power supply bytes the board reads; every LED byte
  // written, oldest first.
  void setDip(uint8_t v);
  void setPower(uint8_t v);
  uint8_t dip() const;
  uint8_t power() const;
  std::vector<uint8_t> ledHistory() const;

  Reply request(Session& s, Request& r) override;
  std::string describe(const LogEntry& e) const override;
  bool command(const std::vector<std::string>& args, std::ostream& out) override;
  void help(std::ostream& out) const override;

 private:
  uint8_t seenLocked(uint32_t n, int depth) const;
  void printChannel(std::ostream& out, uint32_t n) const;

  std::unordered_map<uint32_t, Channel> channels_;
  std::unordered_map<uint32_t, uint8_t> seenOverride_;
  long clock_ = -1;
  std::vector<ClockChange> clockHistory_;
  bool spiPresent_ = true;
  uint8_t regs_[kSpiChannels][256] = {};
  uint8_t dip_ = 0;
  uint8_t power_ = 3;
  std::vector<uint8_t> leds_;
};

}  // namespace Board
