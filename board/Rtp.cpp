#include "board/Rtp.h"

#include <arpa/inet.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <sstream>

#include "board/EventModel.h"
#include "board/Record.h"
#include "board/StandIn.h"

namespace Board {

namespace {

// A host-order field of a record kept as bytes (0 past its end).
template <class T>
T field(const std::string& rec, size_t at) {
  T v{};
  if (rec.size() >= at + sizeof v) std::memcpy(&v, rec.data() + at, sizeof v);
  return v;
}

// The connection record: offsets of the driver's layout.
Rtp::Connection connectionOf(const std::string& rec) {
  Rtp::Connection c;
  c.dstAddr = field<uint32_t>(rec, 0);
  c.dstPort = field<uint16_t>(rec, 4);
  c.srcAddr = field<uint32_t>(rec, 8);
  c.srcPort = field<uint16_t>(rec, 12);
  c.rxPt = field<uint16_t>(rec, 14);
  c.txPt = field<uint16_t>(rec, 16);
  c.packetFactor = field<uint16_t>(rec, 18);
  c.vad = field<uint8_t>(rec, 20);
  c.rate = field<uint8_t>(rec, 21);
  c.ssrc = field<uint32_t>(rec, 24);
  c.ttl = field<int32_t>(rec, 36);
  c.tos = field<int32_t>(rec, 40);
  return c;
}

std::string address(uint32_t netOrder) {
  char t[INET_ADDRSTRLEN] = "?";
  in_addr a;
  a.s_addr = netOrder;
  inet_ntop(AF_INET, &a, t, sizeof t);
  return t;
}

void print(std::ostream& o, const Rtp::Connection& c) {
  o << "dst=" << address(c.dstAddr) << ":" << c.dstPort << " src=" << address(c.srcAddr) << ":"
    << c.srcPort << " rx=" << c.rxPt << " tx=" << c.txPt << " pf=" << c.packetFactor
    << " vad=" << unsigned(c.vad) << " rate=" << unsigned(c.rate) << " ssrc=" << c.ssrc
    << " ttl=" << c.ttl << " tos=" << c.tos;
}

void print(std::ostream& o, const Rtp::SessionInfo& s) {
  o << "s" << s.session << " channel=" << s.channel;
  if (!s.begun) {
    o << " not begun";
    return;
  }
  o << " ";
  print(o, s.connection);
  o << " bss=" << s.bss << " input=" << (s.inputOn ? "on" : "off");
  if (s.attached) o << " attached=s" << s.attached;
  if (s.pd) o << " pd timeout=" << s.pdTimeout;
  if (!s.teardown.empty()) {
    o << " teardown";
    for (uint32_t w : s.teardown) o << " " << (w & 0xFF);
  }
}

std::string eventRecord(uint32_t type, uint32_t value, uint32_t timeout) {
  std::string rec(Rtp::kEventSize, '\0');
  std::memcpy(&rec[0], &type, 4);
  std::memcpy(&rec[4], &value, 4);
  std::memcpy(&rec[8], &timeout, 4);
  return rec;
}

}  // namespace

Rtp::Rtp(StandIn& board) : Model(board, "/dev/rtp", "rtp") {}

Session* Rtp::find(int32_t channel) {
  auto it = channels_.find(channel);
  return it == channels_.end() ? nullptr : it->second;
}

Reply Rtp::addChannel(Session& s, Request& r) {
  if (int err = checkRecord(r)) return Reply::fail(err);
  if (!s.data || !of(s)->info.begun) return Reply::fail(EINVAL);
  SessionInfo& info = of(s)->info;
  if (info.channel >= 0) return Reply::fail(EBUSY);  // one channel per session
  int32_t want = hostField<int32_t>(r.record);
  int32_t ch = want;
  if (want < 0) {
    if (channels_.size() >= capacity_) return Reply::fail(ENOSPC);
    ch = kFirstChannel;
    while (channels_.count(ch)) ++ch;
  } else if (want < kFirstChannel || want >= kFirstChannel + int32_t(kMaxChannels)) {
    return Reply::fail(EINVAL);
  } else if (channels_.count(want)) {
    return Reply::fail(EBUSY);
  }
  info.channel = ch;
  info.bss = hostField<uint32_t>(r.record + 12);
  channels_[ch] = &s;
  std::memcpy(r.record, &ch, sizeof ch);
  return Reply::ok();
}

// Attaches the session to another, named by a process's descriptor of it.
// Only sessions of this process are visible: its own pid, or -1 for "mine".
// Attaching to the same session again changes nothing; to another, once
// attached, is refused.
Reply Rtp::attach(Session& s, Request& r) {
  if (int err = checkRecord(r)) return Reply::fail(err);
  SessionInfo& info = of(s)->info;
  if (!info.begun) return Reply::fail(EINVAL);
  int fd = hostField<int32_t>(r.record);
  int pid = hostField<int32_t>(r.record + 4);
  if (pid != -1 && pid != int(::getpid())) return Reply::fail(ESRCH);
  Session* other = board_.sessionOfLocked(fd);
  if (!other || &other->model() != this) return Reply::fail(EBADF);
  if (other == &s) return Reply::fail(EINVAL);
  if (info.attached && info.attached != other->id()) return Reply::fail(EBUSY);
  info.attached = other->id();
  return Reply::ok();
}

Reply Rtp::request(Session& s, Request& r) {
  if (!s.data) s.data = std::make_unique<State>();
  SessionInfo& info = of(s)->info;
  info.session = s.id();
  switch (r.word) {
    case kBegin:
      if (int err = checkRecord(r)) return Reply::fail(err);
      if (info.begun) return Reply::fail(EBUSY);
      info.begun = true;
      info.connection = connectionOf(std::string(reinterpret_cast<char*>(r.record), r.size));
      return Reply::ok();
    case kAddChannel:
      return addChannel(s, r);
    case kAttach:
      return attach(s, r);
    case kInputOn:
    case kInputOff:
      if (info.channel < 0) return Reply::fail(EINVAL);
      info.inputOn = r.word == kInputOn;
      return Reply::ok();
    case kTeardown1:
    case kTeardown2:
    case kTeardown3:
      if (!info.begun) return Reply::fail(EINVAL);
      info.teardown.push_back(r.word);
      return Reply::ok();
    case kSetPd:
      if (int err = checkRecord(r)) return Reply::fail(err);
      if (info.channel < 0) return Reply::fail(EINVAL);
      info.pd = true;
      info.pdTimeout = hostField<uint32_t>(r.record + 8);
      return Reply::ok();
    case kResetPd:
      if (int err = checkRecord(r)) return Reply::fail(err);
      if (info.channel < 0) return Reply::fail(EINVAL);
      info.pd = false;
      info.pdTimeout = 0;
      return Reply::ok();
  }
  return Reply::fail(ENOTTY);
}

void Rtp::closed(Session& s) {
  if (!s.data) return;
  int32_t ch = of(s)->info.channel;
  if (ch >= 0) channels_.erase(ch);
  s.data.reset();
}

bool Rtp::injectLocked(int32_t channel, const std::string& record) {
  Session* s = find(channel);
  if (!s || record.empty()) return false;
  s->deliver(record);
  return true;
}

std::vector<Rtp::SessionInfo> Rtp::sessions() {
  board_.sync();
  auto g = guard();
  std::vector<SessionInfo> out;
  for (auto& e : channels_) out.push_back(of(*e.second)->info);
  return out;
}

bool Rtp::session(int32_t channel, SessionInfo& out) {
  board_.sync();
  auto g = guard();
  Session* s = find(channel);
  if (s) out = of(*s)->info;
  return s != nullptr;
}

bool Rtp::inject(int32_t channel, uint32_t type, uint32_t value, uint32_t timeout) {
  auto g = guard();
  return injectLocked(channel, eventRecord(type, value, timeout));
}

bool Rtp::injectRaw(int32_t channel, const std::string& bytes) {
  auto g = guard();
  return injectLocked(channel, bytes);
}

bool Rtp::sever(int32_t channel) {
  auto g = guard();
  Session* s = find(channel);
  if (s) s->sever();
  return s != nullptr;
}

void Rtp::setCapacity(unsigned channels) {
  auto g = guard();
  capacity_ = channels < kMaxChannels ? channels : kMaxChannels;
}

std::string Rtp::describe(const LogEntry& e) const {
  std::ostringstream o;
  const std::string& out = e.out.empty() ? e.in : e.out;
  switch (e.word) {
    case kBegin:
      if (e.arg != Arg::Record || e.in.size() != 44) break;
      o << "begin ";
      print(o, connectionOf(e.in));
      return o.str();
    case kAddChannel:
      if (e.arg != Arg::Record || e.in.size() != 16) break;
      o << "add channel tdm=" << field<int32_t>(e.in, 0) << " bss=" << field<uint32_t>(e.in, 12);
      if (!e.error) o << " -> tdm=" << field<int32_t>(out, 0);
      return o.str();
    case kAttach:
      if (e.arg != Arg::Record || e.in.size() != 8) break;
      o << "attach fd=" << field<int32_t>(e.in, 0) << " pid=" << field<int32_t>(e.in, 4);
      return o.str();
    case kInputOn:
      return "input on";
    case kInputOff:
      return "input off";
    case kTeardown1:
    case kTeardown2:
    case kTeardown3:
      o << "teardown " << (e.word & 0xFF);
      return o.str();
    case kSetPd:
      if (e.arg != Arg::Record || e.in.size() != 36) break;
      o << "set pd timeout=" << field<uint32_t>(e.in, 8);
      return o.str();
    case kResetPd:
      if (e.arg != Arg::Record || e.in.size() != 4) break;
      o << "reset pd " << field<uint32_t>(e.in, 0);
      return o.str();
  }
  return Model::describe(e);
}

void Rtp::help(std::ostream& out) const {
  out << "rtp list               sessions holding a channel\n"
         "rtp pool [N]           channels the engine can give\n"
         "rtp event CH TYPE VALUE TIMEOUT   an event record for channel CH's session\n"
         "rtp raw CH HEX         any bytes as one record for channel CH's session\n"
         "rtp sever CH           fail channel CH's session (the daemon reads an error)\n";
}

bool Rtp::command(const std::vector<std::string>& a, std::ostream& out) {
  if (a.empty()) return false;
  long ch = 0;
  auto channel = [&](const std::string& t) {
    if (parseSigned(t, ch) && find(int32_t(ch))) return true;
    out << "error: no session on channel " << t << "\n";
    return false;
  };
  if (a[0] == "list" && a.size() == 1) {
    for (auto& e : channels_) {
      print(out, of(*e.second)->info);
      out << "\n";
    }
    return true;
  }
  if (a[0] == "pool" && a.size() <= 2) {
    unsigned long n = 0;
    if (a.size() == 1)
      out << "capacity=" << capacity_ << " used=" << channels_.size() << "\n";
    else if (!parseNumber(a[1], n) || n > kMaxChannels)
      out << "error: usage: rtp pool [N], N at most " << kMaxChannels << "\n";
    else
      capacity_ = unsigned(n);
    return true;
  }
  if (a[0] == "event" && a.size() == 5) {
    if (!channel(a[1])) return true;
    unsigned long t, v, to;
    if (!parseNumber(a[2], t) || !parseNumber(a[3], v) || !parseNumber(a[4], to) ||
        t > 0xFFFFFFFFul || v > 0xFFFFFFFFul || to > 0xFFFFFFFFul)
      out << "error: usage: rtp event CH TYPE VALUE TIMEOUT\n";
    else
      injectLocked(int32_t(ch), eventRecord(uint32_t(t), uint32_t(v), uint32_t(to)));
    return true;
  }
  if (a[0] == "sever" && a.size() == 2) {
    if (channel(a[1])) find(int32_t(ch))->sever();
    return true;
  }
  if (a[0] == "raw" && a.size() >= 3) {
    if (!channel(a[1])) return true;
    std::string hex, bytes;
    for (size_t i = 2; i < a.size(); ++i) hex += a[i];
    if (!parseHex(hex, bytes) || bytes.empty()) out << "error: bad hexadecimal bytes\n";
    else injectLocked(int32_t(ch), bytes);
    return true;
  }
  return false;
}

}  // namespace Board
