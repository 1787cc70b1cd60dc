#include "board/Maintenance.h"

#include <cerrno>
#include <cstring>
#include <sstream>

#include "board/Record.h"
#include "board/StandIn.h"

namespace Board {

namespace {

constexpr size_t kOffSlips = 36, kOffState = 76;
const char* const kFields[] = {"slips", "lossBF", "lossCarrier", "lossAIS", "lossRAI"};

uint32_t* field(Maintenance::Status& s, const std::string& name) {
  uint32_t* f[] = {&s.slips, &s.lossBF, &s.lossCarrier, &s.lossAIS, &s.lossRAI};
  for (size_t i = 0; i < 5; ++i)
    if (name == kFields[i]) return f[i];
  if (name == "state") return &s.state;
  return nullptr;
}

}  // namespace

Maintenance::Maintenance(StandIn& board) : Model(board, "/dev/maintenance", "maintenance") {}

Reply Maintenance::request(Session&, Request& r) {
  switch (r.word) {
    case kStatus: {
      if (int err = checkRecord(r)) return Reply::fail(err);
      const uint32_t trunk = getBE32(r.record);
      if (trunk >= kTrunks) return Reply::fail(EINVAL);
      const Status& s = trunks_[trunk];
      if (s.error) return Reply::fail(s.error);
      std::memset(r.record + 4, 0, r.size - 4);
      const uint32_t counters[] = {s.slips, s.lossBF, s.lossCarrier, s.lossAIS, s.lossRAI};
      for (size_t i = 0; i < 5; ++i) putBE32(r.record + kOffSlips + 4 * i, counters[i]);
      putBE32(r.record + kOffState, s.state);
      return Reply::ok();
    }
    case kSetTclk:
    case kClockSource:
      // The driver takes the argument itself: a pointer would be read as a
      // number it does not know.
      if (r.arg != Arg::Value) return Reply::fail(EINVAL);
      if (r.word == kClockSource) {
        clockSource_ = r.value;
      } else {
        tclk_ = r.value;
        tclkHistory_.push_back({wallClockUsec(), r.value});
      }
      return Reply::ok();
  }
  return Reply::fail(ENOTTY);
}

std::string Maintenance::describe(const LogEntry& e) const {
  std::ostringstream o;
  switch (e.word) {
    case kStatus: {
      if (e.arg != Arg::Record || e.in.size() != 80) break;
      o << "status trunk=" << wordBE(e.in, 0);
      if (e.error || e.out.size() != 80) return o.str();
      o << " -> state=" << wordBE(e.out, kOffState / 4);
      for (size_t i = 0; i < 5; ++i) o << ' ' << kFields[i] << '=' << wordBE(e.out, kOffSlips / 4 + i);
      return o.str();
    }
    case kSetTclk:
      if (e.arg != Arg::Value) break;
      o << "tclk mask=0x" << std::hex << e.value;
      return o.str();
    case kClockSource:
      if (e.arg != Arg::Value) break;
      o << "clock-source value=" << e.value;
      return o.str();
  }
  return Model::describe(e);
}

void Maintenance::print(std::ostream& out, unsigned t) const {
  const Status& s = trunks_[t];
  out << "trunk " << t << " state " << s.state << " slips " << s.slips << " lossBF " << s.lossBF
      << " lossCarrier " << s.lossCarrier << " lossAIS " << s.lossAIS << " lossRAI " << s.lossRAI;
  if (s.error) out << " fail " << errnoName(s.error);
  out << '\n';
}

Maintenance::Status Maintenance::status(unsigned trunk) const {
  auto g = guard();
  return trunk < kTrunks ? trunks_[trunk] : Status();
}

void Maintenance::setStatus(unsigned trunk, const Status& s) {
  auto g = guard();
  if (trunk < kTrunks) trunks_[trunk] = s;
}

long Maintenance::tclk() const {
  auto g = guard();
  return tclk_;
}

std::vector<Maintenance::Change> Maintenance::tclkHistory() const {
  auto g = guard();
  return tclkHistory_;
}

long Maintenance::clockSource() const {
  auto g = guard();
  return clockSource_;
}

void Maintenance::help(std::ostream& out) const {
  out << "maintenance trunk T [FIELD VALUE]...  status of E1 trunk T (0-3); FIELD is state,\n"
         "                                      slips, lossBF, lossCarrier, lossAIS or lossRAI\n"
         "maintenance trunk T fail ERRNO|clear  its status read fails / succeeds\n"
         "maintenance tclk                      transmit clock mask and its history\n";
}

bool Maintenance::command(const std::vector<std::string>& a, std::ostream& out) {
  if (a.empty()) return false;
  if (a[0] == "tclk" && a.size() == 1) {
    if (tclk_ < 0) out << "tclk none\n";
    else out << "tclk 0x" << std::hex << tclk_ << std::dec << "\n";
    if (clockSource_ >= 0) out << "clock-source " << clockSource_ << "\n";
    for (const Change& c : tclkHistory_) out << usecText(c.usec) << " 0x" << std::hex << c.value << std::dec << "\n";
    return true;
  }
  if (a[0] != "trunk" || a.size() < 2) return false;
  unsigned long t;
  if (!parseNumber(a[1], t) || t >= kTrunks) {
    out << "error: no trunk " << a[1] << " (0-" << kTrunks - 1 << ")\n";
    return true;
  }
  Status s = trunks_[t];
  if (a.size() == 4 && a[2] == "fail") {
    if (a[3] == "clear") s.error = 0;
    else if (!parseErrno(a[3], s.error)) {
      out << "error: bad errno " << a[3] << "\n";
      return true;
    }
  } else {
    if (a.size() % 2) {
      out << "error: usage: maintenance trunk T [FIELD VALUE]...\n";
      return true;
    }
    for (size_t i = 2; i + 1 < a.size(); i += 2) {
      uint32_t* f = field(s, a[i]);
      unsigned long v;
      if (!f || !parseNumber(a[i + 1], v) || v > 0xFFFFFFFFul) {
        out << "error: bad field or value: " << a[i] << " " << a[i + 1] << "\n";
        return true;
      }
      *f = uint32_t(v);
    }
  }
  trunks_[t] = s;
  print(out, unsigned(t));
  return true;
}

}  // namespace Board
