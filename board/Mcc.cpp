#include "board/Mcc.h"

#include <cerrno>
#include <sstream>

#include "board/Hal.h"
#include "board/Record.h"
#include "board/StandIn.h"

namespace Board {

namespace {

const char* const kTypeNames[] = {"data", "bri", "transparent", "ss7"};

bool parseType(const std::string& t, Mcc::Type& out) {
  for (unsigned i = 0; i < Mcc::Types; ++i) {
    if (t == kTypeNames[i] || t == std::to_string(i)) {
      out = Mcc::Type(i);
      return true;
    }
  }
  return false;
}

void printParams(std::ostream& o, const Mcc::Params& p) {
  o << "type=" << p.type << " rxPacketSize=" << p.rxPacketSize << " reserved=" << p.reserved
    << " rxThreshold=" << p.rxThreshold << " txThreshold=" << p.txThreshold;
}

}  // namespace

Mcc::Mcc(StandIn& board) : Model(board, "/dev/mcc/ctl", "mcc") {}

Session* Mcc::find(uint32_t channel) {
  auto it = channels_.find(channel);
  return it == channels_.end() ? nullptr : it->second;
}

Reply Mcc::request(Session& s, Request& r) {
  switch (r.word) {
    case kAllocate: {
      if (int err = checkRecord(r)) return Reply::fail(err);
      if (s.data) return Reply::fail(EBUSY);  // one channel per open file
      Params p;
      p.type = getBE32(r.record);
      p.rxPacketSize = getBE32(r.record + 4);
      p.reserved = getBE32(r.record + 8);
      p.rxThreshold = getBE32(r.record + 12);
      p.txThreshold = getBE32(r.record + 16);
      if (p.type >= Types || p.rxPacketSize == 0 || p.rxPacketSize > kMaxPacket)
        return Reply::fail(EINVAL);
      if (used_[p.type] >= capacity_[p.type]) return Reply::fail(ENOSPC);
      uint32_t ch = kFirstChannel;
      while (ch < kFirstChannel + kChannelRange && channels_.count(ch)) ++ch;
      if (ch == kFirstChannel + kChannelRange) return Reply::fail(ENOSPC);
      auto c = std::make_unique<Channel>();
      c->params = p;
      c->channel = ch;
      s.data = std::move(c);
      channels_[ch] = &s;
      ++used_[p.type];
      return Reply::ok();
    }
    case kTimeslot:
      if (r.arg != Arg::Value) return Reply::fail(EINVAL);
      if (!s.data) return Reply::fail(EINVAL);  // nothing allocated on this file
      return Reply::ok(of(s)->channel);
    case kCounts:
      if (int err = checkRecord(r)) return Reply::fail(err);
      for (unsigned t = 0; t < Types; ++t)
        putBE32(r.record + 4 * t, used_[t] < capacity_[t] ? capacity_[t] - used_[t] : 0);
      return Reply::ok();
  }
  return Reply::fail(ENOTTY);
}

void Mcc::received(Session& s, std::string&& frame) {
  if (!s.data) {
    ++unallocatedWrites_;  // the controller has no channel to send it on
    return;
  }
  Channel* c = of(s);
  ++c->written;
  if (c->params.type == Ss7) c->last = frame;
  if (c->dropEvery && c->written % c->dropEvery == 0) {
    ++c->dropped;
    return;
  }
  if (c->joined) {
    if (Session* peer = find(c->peer)) {
      size_t unit = of(*peer)->params.rxPacketSize;
      peer->deliver(frame.size() > unit ? frame.substr(0, unit) : std::move(frame));
      return;
    }
  }
  if (overLineLocked(s, frame)) return;
  c->captured.push_back(std::move(frame));
}

namespace {

// What an SS7 channel puts on the line after a unit: the unit itself for a
// FISU or an LSSU, a FISU with its sequence octets for an MSU (LI above 2).
std::string repetition(const std::string& unit) {
  if (unit.size() < 3) return std::string();
  if ((static_cast<unsigned char>(unit[2]) & 0x3F) <= 2) return unit;
  return unit.substr(0, 2) + std::string(1, '\0');
}

}  // namespace

Session* Mcc::listenerLocked(uint32_t timeslot) {
  const Hal& hal = board_.hal();
  for (auto& e : channels_) {
    uint32_t src;
    if (hal.sourceLocked(e.first, src) && src == timeslot) return e.second;
  }
  return nullptr;
}

bool Mcc::overLineLocked(Session& s, std::string& frame) {
  if (lines_.empty()) return false;
  Channel* c = of(s);
  for (uint32_t timeslot : board_.hal().listenersLocked(c->channel)) {
    auto it = lines_.find(timeslot);
    if (it == lines_.end()) continue;
    Line& l = it->second;
    ++l.carried;
    const bool lost = l.lose && l.carried % l.lose == 0;
    const bool damaged = !lost && l.corrupt && l.carried % l.corrupt == 0;
    l.lost += lost;
    l.corrupted += damaged;
    if (lost || damaged) {
      if (c->params.type != Ss7) return true;
      frame = repetition(frame);
      if (frame.empty()) return true;
    }
    if (Session* to = listenerLocked(l.to)) {
      size_t unit = of(*to)->params.rxPacketSize;
      to->deliver(frame.size() > unit ? frame.substr(0, unit) : frame);
    }
    return true;  // a line that nobody listens to carries it away too
  }
  return false;
}

void Mcc::heardLocked(uint32_t timeslot, uint32_t source) {
  auto it = lines_.find(timeslot);
  Session* from = find(source);
  if (it == lines_.end() || !from || of(*from)->params.type != Ss7) return;
  const std::string unit = repetition(of(*from)->last);
  if (unit.empty()) return;
  if (Session* to = listenerLocked(it->second.to)) {
    size_t size = of(*to)->params.rxPacketSize;
    to->deliver(unit.substr(0, size));
  }
}

bool Mcc::loop(uint32_t a, uint32_t b, unsigned lose, unsigned corrupt) {
  board_.sync();
  auto g = guard();
  return loopLocked(a, b, lose, corrupt).empty();
}

std::string Mcc::loopLocked(uint32_t a, uint32_t b, unsigned lose, unsigned corrupt) {
  if (a == b) return "a time-slot cannot be looped to itself";
  for (uint32_t end : {a, b}) {
    auto it = lines_.find(end);
    if (it != lines_.end() && it->second.to != (end == a ? b : a))
      return "time-slot " + std::to_string(end) + " is looped to " + std::to_string(it->second.to);
  }
  Line& ab = lines_[a];
  Line& ba = lines_[b];
  ab.to = b, ba.to = a;
  ab.lose = ba.lose = lose;
  ab.corrupt = ba.corrupt = corrupt;
  return std::string();
}

void Mcc::unloop(uint32_t a) {
  auto g = guard();
  auto it = lines_.find(a);
  if (it == lines_.end()) return;
  lines_.erase(it->second.to);
  lines_.erase(it);
}

std::vector<Mcc::LineStats> Mcc::lines() {
  board_.sync();
  auto g = guard();
  std::vector<LineStats> out;
  for (auto& e : lines_)
    out.push_back({e.first, e.second.to, e.second.lose, e.second.corrupt, e.second.carried, e.second.lost,
                   e.second.corrupted});
  return out;
}

void Mcc::closed(Session& s) {
  if (!s.data) return;
  Channel* c = of(s);
  channels_.erase(c->channel);
  --used_[c->params.type];
  s.data.reset();
}

bool Mcc::injectLocked(uint32_t channel, const std::string& bytes) {
  Session* s = find(channel);
  if (!s || bytes.empty()) return false;
  size_t unit = of(*s)->params.rxPacketSize;
  for (size_t pos = 0; pos < bytes.size(); pos += unit) s->deliver(bytes.substr(pos, unit));
  return true;
}

std::vector<Mcc::Allocation> Mcc::allocations() {
  board_.sync();
  auto g = guard();
  std::vector<Allocation> out;
  for (auto& e : channels_) {
    Channel* c = of(*e.second);
    out.push_back({e.first, e.second->id(), c->params, c->captured.size(), e.second->pending(),
                   e.second->draining()});
  }
  return out;
}

std::vector<std::string> Mcc::captured(uint32_t channel, bool take) {
  board_.sync();
  auto g = guard();
  Session* s = find(channel);
  if (!s) return {};
  auto& q = of(*s)->captured;
  std::vector<std::string> out(q.begin(), q.end());
  if (take) q.clear();
  return out;
}

bool Mcc::inject(uint32_t channel, const std::string& bytes) {
  board_.sync();
  auto g = guard();
  return injectLocked(channel, bytes);
}

bool Mcc::setDraining(uint32_t channel, bool on) {
  auto g = guard();
  Session* s = find(channel);
  if (s) s->setDraining(on);
  return s != nullptr;
}

bool Mcc::sever(uint32_t channel) {
  auto g = guard();
  Session* s = find(channel);
  if (s) s->sever();
  return s != nullptr;
}

bool Mcc::join(uint32_t a, uint32_t b) {
  board_.sync();
  auto g = guard();
  Session* sa = find(a);
  Session* sb = find(b);
  if (!sa || !sb) return false;
  of(*sa)->joined = of(*sb)->joined = true;
  of(*sa)->peer = b;
  of(*sb)->peer = a;
  return true;
}

bool Mcc::dropEvery(uint32_t channel, unsigned n) {
  auto g = guard();
  Session* s = find(channel);
  if (s) of(*s)->dropEvery = n;
  return s != nullptr;
}

unsigned long Mcc::dropped(uint32_t channel) {
  board_.sync();
  auto g = guard();
  Session* s = find(channel);
  return s ? of(*s)->dropped : 0;
}

void Mcc::setCapacity(Type t, unsigned n) {
  auto g = guard();
  if (t < Types) capacity_[t] = n;
}

unsigned Mcc::capacity(Type t) {
  auto g = guard();
  return t < Types ? capacity_[t] : 0;
}

unsigned Mcc::used(Type t) {
  board_.sync();
  auto g = guard();
  return t < Types ? used_[t] : 0;
}

std::string Mcc::describe(const LogEntry& e) const {
  std::ostringstream o;
  switch (e.word) {
    case kAllocate:
      if (e.arg != Arg::Record || e.in.size() != 20) break;
      o << "allocate ";
      printParams(o, Params{wordBE(e.in, 0), wordBE(e.in, 1), wordBE(e.in, 2), wordBE(e.in, 3),
                            wordBE(e.in, 4)});
      return o.str();
    case kTimeslot:
      if (e.arg != Arg::Value) break;
      return "timeslot";
    case kCounts: {
      if (e.arg != Arg::Record || e.in.size() != 16) break;
      o << "counts";
      if (e.error) return o.str();
      const std::string& r = e.out.empty() ? e.in : e.out;
      o << " -> data=" << wordBE(r, 0) << " bri=" << wordBE(r, 1)
        << " transparent=" << wordBE(r, 2) << " ss7=" << wordBE(r, 3);
      return o.str();
    }
  }
  return Model::describe(e);
}

void Mcc::help(std::ostream& out) const {
  out << "mcc pools              capacity and use of each channel type\n"
         "mcc pool TYPE N        capacity of data|bri|transparent|ss7\n"
         "mcc list               allocated channels (by switch channel)\n"
         "mcc inject CH HEX      bytes for the daemon to read on channel CH\n"
         "mcc captured CH [take] frames the daemon sent on channel CH\n"
         "mcc drain CH on|off    take the daemon's frames / hold them back\n"
         "mcc sever CH           fail channel CH (the daemon reads an error)\n"
         "mcc loop A B [lose N] [corrupt N]  loop trunk time-slots A and B (switch channels)\n"
         "mcc unloop A           end the loop of time-slot A\n"
         "mcc lines              looped time-slots and what each way carried\n";
}

bool Mcc::command(const std::vector<std::string>& a, std::ostream& out) {
  if (a.empty()) return false;
  unsigned long ch = 0;
  auto channel = [&](const std::string& t) {
    if (parseNumber(t, ch) && ch <= 0xFFFFFFFFul && find(uint32_t(ch))) return true;
    out << "error: no channel " << t << "\n";
    return false;
  };
  if (a[0] == "pools" && a.size() == 1) {
    for (unsigned t = 0; t < Types; ++t)
      out << kTypeNames[t] << " capacity=" << capacity_[t] << " used=" << used_[t] << "\n";
    if (unallocatedWrites_) out << "frames written without a channel: " << unallocatedWrites_ << "\n";
    return true;
  }
  if (a[0] == "pool" && a.size() == 3) {
    Type t;
    unsigned long n;
    if (!parseType(a[1], t) || !parseNumber(a[2], n) || n > kChannelRange)
      out << "error: usage: mcc pool data|bri|transparent|ss7 N\n";
    else
      capacity_[t] = unsigned(n);
    return true;
  }
  if (a[0] == "list" && a.size() == 1) {
    for (auto& e : channels_) {
      Channel* c = of(*e.second);
      out << e.first << " s" << e.second->id() << " ";
      printParams(out, c->params);
      out << " captured=" << c->captured.size() << " pending=" << e.second->pending()
          << " draining=" << (e.second->draining() ? "on" : "off") << "\n";
    }
    return true;
  }
  if (a[0] == "inject" && a.size() >= 3) {
    if (!channel(a[1])) return true;
    std::string hex, bytes;
    for (size_t i = 2; i < a.size(); ++i) hex += a[i];
    if (!parseHex(hex, bytes) || bytes.empty()) out << "error: bad hexadecimal bytes\n";
    else injectLocked(uint32_t(ch), bytes);
    return true;
  }
  if (a[0] == "captured" && (a.size() == 2 || (a.size() == 3 && a[2] == "take"))) {
    if (!channel(a[1])) return true;
    auto& q = of(*find(uint32_t(ch)))->captured;
    for (const std::string& f : q) out << hexText(f) << "\n";
    if (a.size() == 3) q.clear();
    return true;
  }
  if (a[0] == "drain" && a.size() == 3 && (a[2] == "on" || a[2] == "off")) {
    if (channel(a[1])) find(uint32_t(ch))->setDraining(a[2] == "on");
    return true;
  }
  if (a[0] == "loop" && a.size() >= 3 && a.size() % 2 == 1) {
    unsigned long ta, tb, lose = 0, corrupt = 0, n;
    bool good = parseNumber(a[1], ta) && parseNumber(a[2], tb) && ta < 8192 && tb < 8192;
    for (size_t i = 3; good && i < a.size(); i += 2) {
      good = parseNumber(a[i + 1], n) && n <= 0xFFFFFFFFul;
      if (a[i] == "lose") lose = n;
      else if (a[i] == "corrupt") corrupt = n;
      else good = false;
    }
    if (!good) {
      out << "error: usage: mcc loop A B [lose N] [corrupt N]\n";
      return true;
    }
    std::string e = loopLocked(uint32_t(ta), uint32_t(tb), unsigned(lose), unsigned(corrupt));
    if (!e.empty()) out << "error: " << e << "\n";
    return true;
  }
  if (a[0] == "unloop" && a.size() == 2) {
    unsigned long t;
    auto it = parseNumber(a[1], t) ? lines_.find(uint32_t(t)) : lines_.end();
    if (it == lines_.end()) {
      out << "error: time-slot " << a[1] << " is not looped\n";
      return true;
    }
    lines_.erase(it->second.to);
    lines_.erase(it);
    return true;
  }
  if (a[0] == "lines" && a.size() == 1) {
    for (auto& e : lines_)
      out << e.first << " -> " << e.second.to << " lose=" << e.second.lose << " corrupt=" << e.second.corrupt
          << " carried=" << e.second.carried << " lost=" << e.second.lost << " corrupted=" << e.second.corrupted
          << "\n";
    return true;
  }
  if (a[0] == "sever" && a.size() == 2) {
    if (channel(a[1])) find(uint32_t(ch))->sever();
    return true;
  }
  return false;
}

}  // namespace Board
