#include "board/Dsp.h"

#include <cerrno>
#include <cstdlib>
#include <sstream>

#include "board/Record.h"
#include "board/StandIn.h"

namespace Board {

namespace {

// The feature bit whose activation id an event of the type carries.
uint32_t featureOf(uint32_t type) {
  switch (type) {
    case Dsp::kVAD: return 0x1;
    case Dsp::kSD: return 0x2;
    case Dsp::kBSS: return 0x10;
  }
  return 0;
}

// A payload word: a signed or unsigned number, or a float when it has a
// decimal point (its bits).
bool parseWord(const std::string& t, uint32_t& out) {
  if (t.find('.') != std::string::npos) {
    char* end = nullptr;
    float f = std::strtof(t.c_str(), &end);
    if (*end) return false;
    std::memcpy(&out, &f, sizeof out);
    return true;
  }
  long v;
  if (!parseSigned(t, v) || v < -2147483648L || v > 4294967295L) return false;
  out = uint32_t(v);
  return true;
}

}  // namespace

Dsp::Dsp(StandIn& board) : EventModel(board, "/dev/dsp", "dsp") {}

Reply Dsp::request(Session&, Request& r) {
  if (r.word == kVersion) {
    if (r.arg != Arg::Value) return Reply::fail(EINVAL);
    return Reply::ok(version_);
  }
  if (r.word != kConfigure && r.word != kEnable && r.word != kDisable) return Reply::fail(ENOTTY);
  if (int err = checkRecord(r)) return Reply::fail(err);
  const uint8_t* p = r.record;
  Slot& s = slots_[hostField<uint32_t>(p)];
  const uint32_t mask = hostField<uint32_t>(p + 8);
  switch (r.word) {
    case kConfigure:
      s.config[hostField<uint32_t>(p + 4)] = std::string(reinterpret_cast<const char*>(p + 8), 12);
      break;
    case kEnable:
      s.enabled |= mask;
      for (uint32_t bit = 1; bit; bit <<= 1)
        if (mask & bit) s.ids[bit] = hostField<uint32_t>(p + 4);
      break;
    case kDisable:
      s.enabled &= ~mask;
      break;
  }
  return Reply::ok();
}

std::string Dsp::describe(const LogEntry& e) const {
  if (e.word == kVersion && e.arg == Arg::Value) return "version -> " + std::to_string(e.result);
  if (e.arg != Arg::Record || e.in.size() != wordSize(e.word)) return Model::describe(e);
  const uint8_t* p = reinterpret_cast<const uint8_t*>(e.in.data());
  std::ostringstream o;
  o << "ts=" << hostField<uint32_t>(p);
  switch (e.word) {
    case kConfigure:
      return "configure " + o.str() + " kind=" + std::to_string(hostField<uint32_t>(p + 4)) +
             " bytes=" + hexText(e.in.substr(8));
    case kEnable:
    case kDisable:
      o << " id=" << hostField<uint32_t>(p + 4) << " mask=0x" << std::hex
        << hostField<uint32_t>(p + 8);
      return (e.word == kEnable ? "enable " : "disable ") + o.str();
  }
  return Model::describe(e);
}

void Dsp::setVersion(long version) {
  auto g = guard();
  version_ = version;
}

Dsp::Slot Dsp::slot(uint32_t ts) const {
  auto g = guard();
  auto it = slots_.find(ts);
  return it == slots_.end() ? Slot() : it->second;
}

size_t Dsp::injectLocked(uint32_t ts, uint32_t type, uint32_t a, uint32_t b, uint32_t c,
                         int64_t id) {
  if (id < 0) {
    id = 0;
    auto it = slots_.find(ts);
    uint32_t bit = featureOf(type);
    if (it != slots_.end() && it->second.ids.count(bit)) id = it->second.ids[bit];
  }
  std::string rec;
  putHostField<uint32_t>(rec, 0, ts);
  putHostField<uint32_t>(rec, 4, uint32_t(id));
  putHostField<uint32_t>(rec, 8, type);
  putHostField<uint32_t>(rec, 12, a);
  putHostField<uint32_t>(rec, 16, b);
  putHostField<uint32_t>(rec, 20, c);
  return broadcastLocked(rec);
}

size_t Dsp::inject(uint32_t ts, uint32_t type, uint32_t a, uint32_t b, uint32_t c, int64_t id) {
  auto g = guard();
  return injectLocked(ts, type, a, b, c, id);
}

size_t Dsp::injectScore(uint32_t ts, float score, int64_t id) {
  uint32_t bits;
  std::memcpy(&bits, &score, sizeof bits);
  return inject(ts, kBSS, bits, 0, 0, id);
}

void Dsp::reset() {
  auto g = guard();
  slots_.clear();
  version_ = 2;
}

void Dsp::help(std::ostream& out) const {
  out << "dsp version [N]        API version the driver reports / sets it\n"
         "dsp ts TS              configuration and enabled features of TS\n"
         "dsp inject TS TYPE A [B [C [ID]]]  an event (words may be floats: 0.5; ID: the feature's)\n"
         "dsp raw HEX            these bytes as one event record\n"
         "dsp reset              forgets every time-slot\n";
}

bool Dsp::command(const std::vector<std::string>& a, std::ostream& out) {
  if (a.empty()) return false;
  if (rawCommand(a, out)) return true;
  unsigned long ts;
  if (a[0] == "version" && a.size() <= 2) {
    long v;
    if (a.size() == 2) {
      if (!parseSigned(a[1], v)) out << "error: bad version\n";
      else version_ = v;
      return true;
    }
    out << version_ << "\n";
    return true;
  }
  if (a[0] == "ts" && a.size() == 2) {
    if (!parseNumber(a[1], ts) || ts > 0xFFFFFFFFul) {
      out << "error: bad time-slot\n";
      return true;
    }
    auto it = slots_.find(uint32_t(ts));
    Slot s = it == slots_.end() ? Slot() : it->second;
    out << "enabled 0x" << std::hex << s.enabled << std::dec << "\n";
    for (auto& i : s.ids) out << "feature 0x" << std::hex << i.first << std::dec << " id " << i.second << "\n";
    for (auto& c : s.config) out << "config " << c.first << " " << hexText(c.second) << "\n";
    return true;
  }
  if (a[0] == "inject" && a.size() >= 4 && a.size() <= 7) {
    uint32_t type = 0, w[3] = {0, 0, 0};
    unsigned long id = 0;
    bool ok = parseNumber(a[1], ts) && ts <= 0xFFFFFFFFul && parseWord(a[2], type);
    for (size_t i = 3; ok && i < a.size() && i < 6; ++i) ok = parseWord(a[i], w[i - 3]);
    if (ok && a.size() == 7) ok = parseNumber(a[6], id) && id <= 0xFFFFFFFFul;
    if (!ok) {
      out << "error: usage: dsp inject TS TYPE A [B [C [ID]]]\n";
      return true;
    }
    size_t n = injectLocked(uint32_t(ts), type, w[0], w[1], w[2], a.size() == 7 ? int64_t(id) : -1);
    out << "delivered to " << n << " open file(s)\n";
    return true;
  }
  if (a[0] == "reset" && a.size() == 1) {
    slots_.clear();
    version_ = 2;
    return true;
  }
  return false;
}

}  // namespace Board
