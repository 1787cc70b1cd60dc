#include "board/Dtmf.h"

#include <cerrno>
#include <sstream>

#include "board/Record.h"
#include "board/StandIn.h"

namespace Board {

Dtmf::Dtmf(StandIn& board) : EventModel(board, "/dev/dtmf", "dtmf") {}

Reply Dtmf::request(Session&, Request& r) {
  switch (r.word) {
    case kDisable: case kLmsOn: case kLmsOff: case kRejectOn: case kRejectOff: case kIvaOn:
    case kIvaOff: {
      if (r.arg != Arg::Value) return Reply::fail(EINVAL);
      Slot& s = slots_[uint32_t(r.value)];
      switch (r.word) {
        case kDisable: s.detector = false; break;
        case kLmsOn: s.lms = true; break;
        case kLmsOff: s.lms = false; break;
        case kRejectOn: s.rejection = true; break;
        case kRejectOff: s.rejection = false; break;
        case kIvaOn: s.iva = true; break;
        case kIvaOff: s.iva = false; break;
      }
      return Reply::ok();
    }
    case kConfigure: case kEnable: case kDial: case kIvaConfigure: case kSelcal:
      if (int err = checkRecord(r)) return Reply::fail(err);
      break;
    default:
      return Reply::fail(ENOTTY);
  }
  const uint8_t* p = r.record;
  const uint32_t ts = hostField<uint32_t>(p);
  Slot& s = slots_[ts];
  switch (r.word) {
    case kConfigure:
      s.configured = true;
      s.twist = hostField<uint32_t>(p + 4);
      s.ratio = hostField<uint32_t>(p + 8);
      s.silence = hostField<uint32_t>(p + 12);
      s.noise = hostField<uint32_t>(p + 16);
      break;
    case kEnable:
      s.detector = true;
      s.id = hostField<uint32_t>(p + 4);
      break;
    case kDial:
      tones_.push_back({loopClockUsec(), ts, hostField<uint16_t>(p + 4), hostField<uint16_t>(p + 6),
                        hostField<uint16_t>(p + 8), hostField<uint16_t>(p + 10)});
      break;
    case kIvaConfigure:
      s.ivaLevel = hostField<int32_t>(p + 4);
      break;
    case kSelcal:
      if (p[10] || p[11]) return Reply::fail(EINVAL);
      selcals_.push_back({ts, hostField<uint16_t>(p + 4), std::string(
                                                            reinterpret_cast<const char*>(p + 6), 4)});
      break;
  }
  return Reply::ok();
}

std::string Dtmf::describe(const LogEntry& e) const {
  std::ostringstream o;
  if (e.arg == Arg::Value) {
    const char* what = nullptr;
    switch (e.word) {
      case kDisable: what = "detector-off"; break;
      case kLmsOn: what = "lms-on"; break;
      case kLmsOff: what = "lms-off"; break;
      case kRejectOn: what = "rejection-on"; break;
      case kRejectOff: what = "rejection-off"; break;
      case kIvaOn: what = "iva-on"; break;
      case kIvaOff: what = "iva-off"; break;
    }
    if (what) {
      o << what << " ts=" << e.value;
      return o.str();
    }
    return Model::describe(e);
  }
  if (e.in.size() != wordSize(e.word)) return Model::describe(e);
  const uint8_t* p = reinterpret_cast<const uint8_t*>(e.in.data());
  o << "ts=" << hostField<uint32_t>(p);
  switch (e.word) {
    case kConfigure:
      return "configure " + o.str() + " twist=" + std::to_string(hostField<uint32_t>(p + 4)) +
             " ratio=" + std::to_string(hostField<uint32_t>(p + 8)) +
             " silence=" + std::to_string(hostField<uint32_t>(p + 12)) +
             " noise=" + std::to_string(hostField<uint32_t>(p + 16));
    case kEnable:
      return "detector-on " + o.str() + " id=" + std::to_string(hostField<uint32_t>(p + 4));
    case kDial:
      return "dial " + o.str() + " f1=" + std::to_string(hostField<uint16_t>(p + 4)) +
             " f2=" + std::to_string(hostField<uint16_t>(p + 6)) +
             " a1=" + std::to_string(hostField<uint16_t>(p + 8)) +
             " a2=" + std::to_string(hostField<uint16_t>(p + 10));
    case kIvaConfigure:
      return "iva-configure " + o.str() + " level=" + std::to_string(hostField<int32_t>(p + 4));
    case kSelcal:
      return "selcal " + o.str() + " amp=" + std::to_string(hostField<uint16_t>(p + 4)) +
             " signs=" + hexText(e.in.substr(6, 4));
  }
  return Model::describe(e);
}

Dtmf::Slot Dtmf::slot(uint32_t ts) const {
  auto g = guard();
  auto it = slots_.find(ts);
  return it == slots_.end() ? Slot() : it->second;
}

std::vector<Dtmf::Tone> Dtmf::tones(uint32_t ts) const {
  auto g = guard();
  std::vector<Tone> out;
  for (const Tone& t : tones_)
    if (t.ts == ts) out.push_back(t);
  return out;
}

std::vector<Dtmf::Selcal> Dtmf::selcals() const {
  auto g = guard();
  return selcals_;
}

size_t Dtmf::injectLocked(uint32_t ts, uint32_t code, uint32_t timestamp, int64_t id) {
  if (id < 0) {
    auto it = slots_.find(ts);
    id = it == slots_.end() ? 0 : it->second.id;
  }
  std::string rec;
  putHostField<uint32_t>(rec, 0, code);
  putHostField<uint32_t>(rec, 4, ts);
  putHostField<uint32_t>(rec, 8, timestamp);
  putHostField<uint32_t>(rec, 12, uint32_t(id));
  return broadcastLocked(rec);
}

size_t Dtmf::inject(uint32_t ts, uint32_t code, uint32_t timestamp, int64_t id) {
  auto g = guard();
  return injectLocked(ts, code, timestamp, id);
}

void Dtmf::reset() {
  auto g = guard();
  slots_.clear();
  tones_.clear();
  selcals_.clear();
}

void Dtmf::help(std::ostream& out) const {
  out << "dtmf ts TS             detector, IVA, rejection, LMS and configuration of TS\n"
         "dtmf tones TS          tone generator settings of TS with their loop-clock times\n"
         "dtmf selcal            SELCAL dials\n"
         "dtmf inject TS CODE [TIMESTAMP [ID]]  an event (ID: the detector's when absent)\n"
         "dtmf raw HEX           these bytes as one event record\n"
         "dtmf reset             forgets every time-slot, tone and dial\n";
}

bool Dtmf::command(const std::vector<std::string>& a, std::ostream& out) {
  if (a.empty()) return false;
  if (rawCommand(a, out)) return true;
  unsigned long ts, code, stamp = 0, id = 0;
  if (a[0] == "ts" && a.size() == 2) {
    if (!parseNumber(a[1], ts) || ts > 0xFFFFFFFFul) {
      out << "error: bad time-slot\n";
      return true;
    }
    auto it = slots_.find(uint32_t(ts));
    Slot s = it == slots_.end() ? Slot() : it->second;
    out << "detector " << (s.detector ? "on" : "off") << " id " << s.id << "\n";
    if (s.configured)
      out << "configured twist " << s.twist << " ratio " << s.ratio << " silence " << s.silence
          << " noise " << s.noise << "\n";
    out << "iva " << (s.iva ? "on" : "off") << " level " << s.ivaLevel << "\n"
        << "rejection " << (s.rejection ? "on" : "off") << "\n"
        << "lms " << (s.lms ? "on" : "off") << "\n";
    return true;
  }
  if (a[0] == "tones" && a.size() == 2) {
    if (!parseNumber(a[1], ts) || ts > 0xFFFFFFFFul) {
      out << "error: bad time-slot\n";
      return true;
    }
    for (const Tone& t : tones_)
      if (t.ts == ts)
        out << usecText(t.usec) << " " << t.freq1 << " " << t.freq2 << " " << t.amp1 << " "
            << t.amp2 << "\n";
    return true;
  }
  if (a[0] == "selcal" && a.size() == 1) {
    for (const Selcal& s : selcals_)
      out << s.ts << " amp " << s.amp << " signs " << hexText(s.signs) << "\n";
    return true;
  }
  if (a[0] == "inject" && a.size() >= 3 && a.size() <= 5) {
    if (!parseNumber(a[1], ts) || ts > 0xFFFFFFFFul || !parseNumber(a[2], code) ||
        code > 0xFFFFFFFFul || (a.size() > 3 && (!parseNumber(a[3], stamp) || stamp > 0xFFFFFFFFul)) ||
        (a.size() > 4 && (!parseNumber(a[4], id) || id > 0xFFFFFFFFul))) {
      out << "error: usage: dtmf inject TS CODE [TIMESTAMP [ID]]\n";
      return true;
    }
    size_t n = injectLocked(uint32_t(ts), uint32_t(code), uint32_t(stamp),
                            a.size() > 4 ? int64_t(id) : -1);
    out << "delivered to " << n << " open file(s)\n";
    return true;
  }
  if (a[0] == "reset" && a.size() == 1) {
    slots_.clear();
    tones_.clear();
    selcals_.clear();
    return true;
  }
  return false;
}

}  // namespace Board
