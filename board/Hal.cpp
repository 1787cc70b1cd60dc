#include "board/Hal.h"

#include <cerrno>
#include <cstdio>
#include <sstream>

#include "board/Mcc.h"
#include "board/Record.h"
#include "board/StandIn.h"

namespace Board {

namespace {

std::string hex2(unsigned v) {
  char b[8];
  std::snprintf(b, sizeof b, "0x%02X", v & 0xFF);
  return b;
}

// Longest chain of listening channels followed to find a byte: a loop in
// the switch graph must not hang the board.
constexpr int kMaxHops = 32;
// Most channels one "hal channel" command lists.
constexpr uint32_t kMaxListed = 4096;

}  // namespace

Hal::Hal(StandIn& board) : Model(board, "/dev/hal", "hal") {
  for (auto& framer : regs_) framer[kSpiLineStatus] = kSpiLineUp;
}

uint8_t Hal::seenLocked(uint32_t n, int depth) const {
  auto o = seenOverride_.find(n);
  if (o != seenOverride_.end()) return o->second;
  auto c = channels_.find(n);
  if (c == channels_.end()) return kIdleByte;
  switch (c->second.kind) {
    case Channel::Driven:
      return c->second.byte;
    case Channel::Listening:
      return depth < kMaxHops ? seenLocked(c->second.source, depth + 1) : kIdleByte;
    default:
      return kIdleByte;
  }
}

Reply Hal::request(Session&, Request& r) {
  switch (r.word) {
    case kConnect:
    case kDisable:
    case kDrive:
    case kRead:
    case kClockSelect:
    case kSpiRead:
    case kSpiWrite:
    case kDip:
    case kPower:
    case kLed:
      if (int err = checkRecord(r)) return Reply::fail(err);
      break;
    default:
      return Reply::fail(ENOTTY);
  }
  uint8_t* p = r.record;
  switch (r.word) {
    case kConnect: {
      Channel& c = channels_[getBE32(p)];
      c.kind = Channel::Listening;
      c.source = getBE32(p + 4);
      board_.mcc().heardLocked(getBE32(p), c.source);
      return Reply::ok();
    }
    case kDisable:
      channels_[getBE32(p)].kind = Channel::Disabled;
      return Reply::ok();
    case kDrive: {
      uint32_t byte = getBE32(p + 4);
      if (byte > 255) return Reply::fail(EINVAL);
      Channel& c = channels_[getBE32(p)];
      c.kind = Channel::Driven;
      c.byte = uint8_t(byte);
      return Reply::ok();
    }
    case kRead:
      putBE32(p + 4, seenLocked(getBE32(p), 0));
      return Reply::ok();
    case kClockSelect:
      clock_ = getBE32(p);
      clockHistory_.push_back({wallClockUsec(), getBE32(p)});
      return Reply::ok();
    case kSpiRead:
    case kSpiWrite:
      if (!spiPresent_) return Reply::fail(ENODEV);
      if (p[0] >= kSpiChannels) return Reply::fail(EINVAL);
      if (r.word == kSpiRead) return Reply::ok(regs_[p[0]][p[1]]);
      regs_[p[0]][p[1]] = p[2];
      return Reply::ok();
    case kDip:
      p[0] = dip_;
      return Reply::ok();
    case kPower:
      p[0] = power_;
      return Reply::ok();
    case kLed:
      leds_.push_back(p[0]);
      return Reply::ok();
  }
  return Reply::fail(ENOTTY);
}

std::string Hal::describe(const LogEntry& e) const {
  const std::string& in = e.in;
  std::ostringstream o;
  auto sized = [&](size_t n) { return e.arg == Arg::Record && in.size() == n; };
  switch (e.word) {
    case kConnect:
      if (!sized(8)) break;
      o << "connect dst=" << wordBE(in, 0) << " src=" << wordBE(in, 1);
      return o.str();
    case kDisable:
      if (!sized(4)) break;
      o << "disable ch=" << wordBE(in, 0);
      return o.str();
    case kDrive:
      if (!sized(8)) break;
      o << "drive ch=" << wordBE(in, 0) << " byte=" << hex2(wordBE(in, 1));
      if (wordBE(in, 1) > 255) o << " (" << wordBE(in, 1) << ")";
      return o.str();
    case kRead:
      if (!sized(8)) break;
      o << "read ch=" << wordBE(in, 0) << " value=" << wordBE(in, 1);
      if (!e.error) o << " -> " << hex2(wordBE(e.out.empty() ? in : e.out, 1));
      return o.str();
    case kClockSelect:
      if (!sized(4)) break;
      o << "clock-select value=" << wordBE(in, 0);
      return o.str();
    case kSpiRead:
      if (!sized(3)) break;
      o << "spi-read ch=" << unsigned(uint8_t(in[0])) << " reg=" << hex2(uint8_t(in[1]));
      if (!e.error) o << " -> " << hex2(unsigned(e.result));
      return o.str();
    case kSpiWrite:
      if (!sized(3)) break;
      o << "spi-write ch=" << unsigned(uint8_t(in[0])) << " reg=" << hex2(uint8_t(in[1]))
        << " value=" << hex2(uint8_t(in[2]));
      return o.str();
    case kDip:
    case kPower:
      if (!sized(1)) break;
      o << (e.word == kDip ? "dip" : "power");
      if (!e.error && !e.out.empty()) o << " -> " << hex2(uint8_t(e.out[0]));
      return o.str();
    case kLed:
      if (!sized(1)) break;
      o << "led value=" << hex2(uint8_t(in[0]));
      return o.str();
  }
  return Model::describe(e);
}

void Hal::printChannel(std::ostream& out, uint32_t n) const {
  out << n << ' ';
  auto c = channels_.find(n);
  Channel ch = c == channels_.end() ? Channel() : c->second;
  switch (ch.kind) {
    case Channel::Untouched: out << "untouched"; break;
    case Channel::Disabled: out << "disabled"; break;
    case Channel::Listening: out << "listen " << ch.source; break;
    case Channel::Driven: out << "drive " << hex2(ch.byte); break;
  }
  out << " seen " << hex2(seenLocked(n, 0));
  if (seenOverride_.count(n)) out << " (set)";
  out << '\n';
}

Hal::Channel Hal::channel(uint32_t n) const {
  auto g = guard();
  auto c = channels_.find(n);
  return c == channels_.end() ? Channel() : c->second;
}

bool Hal::sourceLocked(uint32_t n, uint32_t& src) const {
  auto c = channels_.find(n);
  if (c == channels_.end() || c->second.kind != Channel::Listening) return false;
  src = c->second.source;
  return true;
}

std::vector<uint32_t> Hal::listenersLocked(uint32_t src) const {
  std::vector<uint32_t> out;
  for (const auto& e : channels_)
    if (e.second.kind == Channel::Listening && e.second.source == src) out.push_back(e.first);
  return out;
}

uint8_t Hal::seen(uint32_t n) const {
  auto g = guard();
  return seenLocked(n, 0);
}

void Hal::setSeen(uint32_t n, int byte) {
  auto g = guard();
  if (byte < 0) seenOverride_.erase(n);
  else seenOverride_[n] = uint8_t(byte);
}

long Hal::clock() const {
  auto g = guard();
  return clock_;
}

std::vector<Hal::ClockChange> Hal::clockHistory() const {
  auto g = guard();
  return clockHistory_;
}

void Hal::setSpiPresent(bool present) {
  auto g = guard();
  spiPresent_ = present;
}

bool Hal::spiPresent() const {
  auto g = guard();
  return spiPresent_;
}

uint8_t Hal::reg(unsigned ch, unsigned reg) const {
  auto g = guard();
  return ch < kSpiChannels && reg < 256 ? regs_[ch][reg] : 0;
}

void Hal::setReg(unsigned ch, unsigned reg, uint8_t value) {
  auto g = guard();
  if (ch < kSpiChannels && reg < 256) regs_[ch][reg] = value;
}

void Hal::setDip(uint8_t v) {
  auto g = guard();
  dip_ = v;
}

void Hal::setPower(uint8_t v) {
  auto g = guard();
  power_ = v;
}

uint8_t Hal::dip() const {
  auto g = guard();
  return dip_;
}

uint8_t Hal::power() const {
  auto g = guard();
  return power_;
}

std::vector<uint8_t> Hal::ledHistory() const {
  auto g = guard();
  return leds_;
}

void Hal::help(std::ostream& out) const {
  out << "hal channel N [M]      switch state and byte seen of channels N to M\n"
         "hal seen N BYTE|clear  channel N reads as BYTE / as what it carries\n"
         "hal clock              selected clock value and its history\n"
         "hal spi                whether the HAL has SPI\n"
         "hal spi present on|off SPI requests succeed / fail with ENODEV\n"
         "hal spi reg CH REG [VALUE]  reads or sets a framer register\n"
         "hal spi dump CH        the 256 registers of framer CH\n"
         "hal dip [BYTE]         the DIP switch byte, or sets it\n"
         "hal power [BYTE]       the power supply byte, or sets it\n"
         "hal led                the framer LED byte and every write, oldest first\n";
}

bool Hal::command(const std::vector<std::string>& a, std::ostream& out) {
  auto num = [](const std::string& t, unsigned long max, unsigned long& v) {
    return parseNumber(t, v) && v <= max;
  };
  unsigned long n, m, v;
  if (a.empty()) return false;
  if (a[0] == "channel" && (a.size() == 2 || a.size() == 3)) {
    if (!num(a[1], 0xFFFFFFFFul, n) || (a.size() == 3 && !num(a[2], 0xFFFFFFFFul, m))) {
      out << "error: bad channel\n";
      return true;
    }
    if (a.size() == 2) m = n;
    if (m < n || m - n >= kMaxListed) {
      out << "error: give at most " << kMaxListed << " channels, lowest first\n";
      return true;
    }
    for (unsigned long c = n; c <= m; ++c) printChannel(out, uint32_t(c));
    return true;
  }
  if (a[0] == "seen" && a.size() == 3) {
    if (!num(a[1], 0xFFFFFFFFul, n)) {
      out << "error: bad channel\n";
    } else if (a[2] == "clear") {
      seenOverride_.erase(uint32_t(n));
    } else if (num(a[2], 255, v)) {
      seenOverride_[uint32_t(n)] = uint8_t(v);
    } else {
      out << "error: bad byte " << a[2] << "\n";
    }
    return true;
  }
  if (a[0] == "clock" && a.size() == 1) {
    if (clock_ < 0) out << "clock none\n";
    else out << "clock " << clock_ << "\n";
    for (const ClockChange& c : clockHistory_) {
      out << usecText(c.usec) << " " << c.value << "\n";
    }
    return true;
  }
  if ((a[0] == "dip" || a[0] == "power") && (a.size() == 1 || a.size() == 2)) {
    uint8_t& b = a[0] == "dip" ? dip_ : power_;
    if (a.size() == 1) out << hex2(b) << "\n";
    else if (num(a[1], 255, v)) b = uint8_t(v);
    else out << "error: bad byte " << a[1] << "\n";
    return true;
  }
  if (a[0] == "led" && a.size() == 1) {
    if (leds_.empty()) out << "led none\n";
    else out << "led " << hex2(leds_.back()) << "\n";
    for (uint8_t b : leds_) out << hex2(b) << "\n";
    return true;
  }
  if (a[0] == "spi") {
    if (a.size() == 1) {
      out << (spiPresent_ ? "present" : "absent") << "\n";
      return true;
    }
    if (a[1] == "present" && a.size() == 3 && (a[2] == "on" || a[2] == "off")) {
      spiPresent_ = a[2] == "on";
      return true;
    }
    if (a[1] == "reg" && (a.size() == 4 || a.size() == 5)) {
      if (!num(a[2], kSpiChannels - 1, n) || !num(a[3], 255, m) ||
          (a.size() == 5 && !num(a[4], 255, v))) {
        out << "error: usage: hal spi reg CH(0-7) REG(0-255) [VALUE(0-255)]\n";
        return true;
      }
      if (a.size() == 5) regs_[n][m] = uint8_t(v);
      else out << hex2(regs_[n][m]) << "\n";
      return true;
    }
    if (a[1] == "dump" && a.size() == 3) {
      if (!num(a[2], kSpiChannels - 1, n)) {
        out << "error: bad SPI channel\n";
        return true;
      }
      for (unsigned row = 0; row < 256; row += 16) {
        out << hex2(row) << ':';
        for (unsigned k = 0; k < 16; ++k) out << ' ' << hex2(regs_[n][row + k]).substr(2);
        out << '\n';
      }
      return true;
    }
  }
  return false;
}

}  // namespace Board
