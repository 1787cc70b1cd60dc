#include "board/E1Cas.h"

#include <cerrno>
#include <sstream>

#include "board/Record.h"
#include "board/StandIn.h"

namespace Board {

namespace {

constexpr uint32_t kEnable = 0, kDisable = 1;

}  // namespace

E1Cas::E1Cas(StandIn& board) : Model(board, "/dev/e1-cas", "cas") {}

int E1Cas::open(Session& s) {
  sessions_.insert(&s);
  return 0;
}

void E1Cas::closed(Session& s) { sessions_.erase(&s); }

Reply E1Cas::request(Session&, Request& r) {
  switch (r.word) {
    case kOpen:
    case kClose: {
      if (r.arg != Arg::Value) return Reply::fail(EINVAL);
      if (r.value < 0 || r.value >= long(kTrunks)) return Reply::fail(EINVAL);
      const unsigned t = unsigned(r.value);
      if (r.word == kOpen) {
        open_[t] = true;
        return Reply::ok();
      }
      if (!open_[t]) return Reply::fail(EINVAL);
      open_[t] = false;
      for (Slot& s : slots_[t]) s.enabled = false;
      return Reply::ok();
    }
    case kSet:
    case kGet:
    case kCtl: {
      if (int err = checkRecord(r)) return Reply::fail(err);
      const uint32_t t = getBE32(r.record), ts = getBE32(r.record + 4);
      if (!validSlot(t, ts) || !open_[t]) return Reply::fail(EINVAL);
      Slot& s = slots_[t][ts];
      uint8_t* bits = r.record + 8;
      if (r.word == kCtl) {
        const uint32_t op = getBE32(r.record + 12);
        if (op == kEnable) {
          s.enabled = true;
          s.tx = bits[1] & 0x0F;
        } else if (op == kDisable) {
          s.enabled = false;
        } else {
          return Reply::fail(EINVAL);
        }
        return Reply::ok();
      }
      if (r.word == kSet) s.tx = bits[1] & 0x0F;
      bits[0] = s.rx;
      bits[1] = s.tx;
      return Reply::ok();
    }
  }
  return Reply::fail(ENOTTY);
}

int E1Cas::setRxLocked(unsigned trunk, unsigned ts, uint8_t bits) {
  if (!validSlot(trunk, ts)) return -1;
  Slot& s = slots_[trunk][ts];
  s.rx = bits & 0x0F;
  if (!open_[trunk] || !s.enabled) return 0;
  uint8_t rec[12] = {};
  putBE32(rec, trunk);
  putBE32(rec + 4, ts);
  rec[8] = s.rx;
  rec[9] = s.tx;
  for (Session* session : sessions_) session->deliver(std::string(reinterpret_cast<char*>(rec), sizeof rec));
  return int(sessions_.size());
}

bool E1Cas::isOpen(unsigned trunk) const {
  auto g = guard();
  return trunk < kTrunks && open_[trunk];
}

E1Cas::Slot E1Cas::slot(unsigned trunk, unsigned ts) const {
  auto g = guard();
  return trunk < kTrunks && ts < kSlots ? slots_[trunk][ts] : Slot();
}

int E1Cas::setRx(unsigned trunk, unsigned ts, uint8_t bits) {
  board_.sync();  // files the daemon closed before are not told
  auto g = guard();
  return setRxLocked(trunk, ts, bits);
}

void E1Cas::sever() {
  auto g = guard();
  // A severed session leaves the set through closed().
  std::set<Session*> all = sessions_;
  for (Session* s : all) s->sever();
}

std::string E1Cas::describe(const LogEntry& e) const {
  std::ostringstream o;
  auto bits = [&](const std::string& rec) {
    o << " rx=" << unsigned(uint8_t(rec[8])) << " tx=" << unsigned(uint8_t(rec[9]));
  };
  switch (e.word) {
    case kOpen:
    case kClose:
      if (e.arg != Arg::Value) break;
      o << (e.word == kOpen ? "open" : "close") << " trunk=" << e.value;
      return o.str();
    case kSet:
    case kGet:
      if (e.arg != Arg::Record || e.in.size() != 12) break;
      o << (e.word == kSet ? "set" : "get") << " trunk=" << wordBE(e.in, 0) << " ts=" << wordBE(e.in, 1);
      if (e.word == kSet) o << " tx=" << unsigned(uint8_t(e.in[9]));
      if (!e.error && e.out.size() == 12) {
        o << " ->";
        bits(e.out);
      }
      return o.str();
    case kCtl:
      if (e.arg != Arg::Record || e.in.size() != 16) break;
      if (wordBE(e.in, 3) == kEnable)
        o << "enable trunk=" << wordBE(e.in, 0) << " ts=" << wordBE(e.in, 1) << " tx=" << unsigned(uint8_t(e.in[9]));
      else
        o << "disable(" << wordBE(e.in, 3) << ") trunk=" << wordBE(e.in, 0) << " ts=" << wordBE(e.in, 1);
      return o.str();
  }
  return Model::describe(e);
}

void E1Cas::printSlot(std::ostream& out, unsigned t, unsigned ts) const {
  const Slot& s = slots_[t][ts];
  out << t << "/" << ts << (s.enabled ? " enabled" : " disabled") << " tx " << unsigned(s.tx) << " rx "
      << unsigned(s.rx) << "\n";
}

void E1Cas::help(std::ostream& out) const {
  out << "cas                    trunks with CAS open and their enabled time-slots\n"
         "cas slot T TS          state and bits of time-slot TS of trunk T\n"
         "cas rx T TS BITS       received ABCD bits (0-15); the daemon reads the change\n"
         "                       when the time-slot is enabled on an open trunk\n";
}

bool E1Cas::command(const std::vector<std::string>& a, std::ostream& out) {
  if (a.empty()) {
    for (unsigned t = 0; t < kTrunks; ++t) {
      if (!open_[t]) continue;
      out << "trunk " << t << " open\n";
      for (unsigned ts = 0; ts < kSlots; ++ts)
        if (slots_[t][ts].enabled) printSlot(out, t, ts);
    }
    return true;
  }
  unsigned long t, ts, bits;
  const bool slotArgs = a.size() >= 3 && parseNumber(a[1], t) && parseNumber(a[2], ts) &&
                        t <= 0xFFFFFFFFul && ts <= 0xFFFFFFFFul && validSlot(uint32_t(t), uint32_t(ts));
  if (a[0] == "slot" && a.size() == 3) {
    if (!slotArgs) out << "error: no CAS time-slot " << a[1] << "/" << a[2] << "\n";
    else printSlot(out, unsigned(t), unsigned(ts));
    return true;
  }
  if (a[0] == "rx" && a.size() == 4) {
    if (!slotArgs) {
      out << "error: no CAS time-slot " << a[1] << "/" << a[2] << "\n";
    } else if (!parseNumber(a[3], bits) || bits > 15) {
      out << "error: bad bits " << a[3] << " (0-15)\n";
    } else {
      const int told = setRxLocked(unsigned(t), unsigned(ts), uint8_t(bits));
      if (told == 0) out << "kept: the time-slot is not enabled on an open trunk\n";
      else out << "sent to " << told << " open file(s)\n";
    }
    return true;
  }
  return false;
}

}  // namespace Board
