#include "board/RtpExt.h"

#include <arpa/inet.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <sstream>

#include "board/Record.h"
#include "board/StandIn.h"

namespace Board {

namespace {

// The records of this driver are in host byte order.
uint32_t hostWord(const uint8_t* p) {
  uint32_t v;
  std::memcpy(&v, p, 4);
  return v;
}

void putHostWord(uint8_t* p, uint32_t v) { std::memcpy(p, &v, 4); }

std::string dotted(uint32_t networkOrder) {
  in_addr a;
  a.s_addr = networkOrder;
  char t[INET_ADDRSTRLEN] = "";
  inet_ntop(AF_INET, &a, t, sizeof t);
  return t;
}

std::string hex32(uint32_t v) {
  char t[16];
  std::snprintf(t, sizeof t, "0x%08X", v);
  return t;
}

}  // namespace

std::string RtpExt::Packet::text() const {
  std::ostringstream o;
  o << usecText(usec) << (way == Way::Out ? " out " : way == Way::In ? " in " : " dropped ");
  if (way != Way::Out) o << "ssrc=" << hex32(ssrc) << " addr=" << dotted(addr) << ' ';
  o << hexText(bytes);
  return o.str();
}

RtpExt::RtpExt(StandIn& board) : Model(board, "/dev/rtp_ext", "rtpext") {}

Session* RtpExt::find(unsigned session) {
  auto it = open_.find(session);
  return it == open_.end() ? nullptr : it->second;
}

int RtpExt::open(Session& s) {
  s.data = std::make_unique<Channel>();
  open_[s.id()] = &s;
  return 0;
}

void RtpExt::closed(Session& s) {
  open_.erase(s.id());
  s.data.reset();
}

Reply RtpExt::request(Session& s, Request& r) {
  Channel* c = of(s);
  switch (r.word) {
    case kCreate: {
      if (int err = checkRecord(r)) return Reply::fail(err);
      if (c->created) return Reply::fail(EBUSY);
      uint16_t etype;
      std::memcpy(&etype, r.record, 2);
      c->created = true;
      c->etype = etype;
      for (int i = 0; i < 4; ++i) c->params[i] = hostWord(r.record + 4 + 4 * i);
      return Reply::ok();
    }
    case kAttach:
      return attach(s, r);
    case kDetach:
      if (r.arg != Arg::Value) return Reply::fail(EINVAL);
      if (!c->rtpSession) return Reply::fail(EINVAL);
      c->rtpSession = 0;
      return Reply::ok();
    case kPacketInfo:
      return packetInfo(s, r);
    case kSetFilter:
      if (int err = checkRecord(r)) return Reply::fail(err);
      if (!c->created) return Reply::fail(EINVAL);
      c->filter = true;
      std::memcpy(&c->filterAddr, r.record, 4);  // network order as passed
      return Reply::ok();
    case kClearFilter:
      if (r.arg != Arg::Value) return Reply::fail(EINVAL);
      if (!c->created) return Reply::fail(EINVAL);
      c->filter = false;
      c->filterAddr = 0;
      return Reply::ok();
  }
  return Reply::fail(ENOTTY);
}

Reply RtpExt::attach(Session& s, Request& r) {
  if (int err = checkRecord(r)) return Reply::fail(err);
  Channel* c = of(s);
  if (!c->created) return Reply::fail(EINVAL);
  if (c->rtpSession) return Reply::fail(EBUSY);
  int fd = int(hostWord(r.record));
  int pid = int(hostWord(r.record + 4));
  // Only sessions of this process are visible: its own pid, or -1 for "mine".
  if (pid != -1 && pid != int(::getpid())) return Reply::fail(ESRCH);
  Session* rtp = board_.sessionOfLocked(fd);
  if (!rtp || rtp->model().path() != kRtpPath) return Reply::fail(EBADF);
  c->rtpSession = rtp->id();
  return Reply::ok();
}

// Describes the packet the next read returns. Every read is preceded by this
// request, so a packet described before is the one the last read took.
Reply RtpExt::packetInfo(Session& s, Request& r) {
  if (int err = checkRecord(r)) return Reply::fail(err);
  Channel* c = of(s);
  if (!c->pending.empty() && c->pending.front().described) c->pending.pop_front();
  if (c->pending.empty()) return Reply::fail(EAGAIN);
  Pending& p = c->pending.front();
  p.described = true;
  putHostWord(r.record, p.ssrc);
  std::memcpy(r.record + 4, &p.addr, 4);
  putHostWord(r.record + 8, 0);
  return Reply::ok();
}

void RtpExt::received(Session& s, std::string&& frame) {
  Channel* c = of(s);
  if (!c || !c->created) {
    ++strayWrites_;
    return;
  }
  c->journal.push_back(Packet{Way::Out, wallClockUsec(), 0, 0, std::move(frame)});
  if (c->journal.size() > kJournalLimit) c->journal.pop_front();
}

bool RtpExt::injectLocked(Session& s, uint32_t ssrc, uint32_t addr, const std::string& bytes) {
  Channel* c = of(s);
  bool pass = !c->filter || c->filterAddr == addr;
  c->journal.push_back(Packet{pass ? Way::In : Way::Dropped, wallClockUsec(), ssrc, addr, bytes});
  if (c->journal.size() > kJournalLimit) c->journal.pop_front();
  if (!pass) return false;
  c->pending.push_back(Pending{ssrc, addr, false});
  s.deliver(bytes);
  return true;
}

bool RtpExt::inject(unsigned session, uint32_t ssrc, uint32_t addr, const std::string& bytes) {
  board_.sync();
  auto g = guard();
  Session* s = find(session);
  if (!s || !of(*s)->created || bytes.empty() || bytes.size() > kMaxPacket) return false;
  return injectLocked(*s, ssrc, addr, bytes);
}

std::vector<RtpExt::Packet> RtpExt::journal(unsigned session, bool take) {
  board_.sync();
  auto g = guard();
  Session* s = find(session);
  if (!s) return {};
  auto& j = of(*s)->journal;
  std::vector<Packet> out(j.begin(), j.end());
  if (take) j.clear();
  return out;
}

std::vector<RtpExt::Info> RtpExt::sessions() {
  board_.sync();
  auto g = guard();
  std::vector<Info> out;
  for (auto& e : open_) {
    Channel* c = of(*e.second);
    Info i{e.first, c->created, c->etype, {}, c->rtpSession, c->filter, c->filterAddr,
           c->pending.size(), c->journal.size()};
    std::memcpy(i.params, c->params, sizeof i.params);
    out.push_back(i);
  }
  return out;
}

std::string RtpExt::describe(const LogEntry& e) const {
  std::ostringstream o;
  const uint8_t* in = reinterpret_cast<const uint8_t*>(e.in.data());
  switch (e.word) {
    case kCreate:
      if (e.arg != Arg::Record || e.in.size() != 20) break;
      uint16_t etype;
      std::memcpy(&etype, in, 2);
      o << "create etype=0x" << std::hex << etype << std::dec << " params=" << hostWord(in + 4) << ','
        << hostWord(in + 8) << ',' << hostWord(in + 12) << ',' << hostWord(in + 16);
      return o.str();
    case kAttach:
      if (e.arg != Arg::Record || e.in.size() != 8) break;
      o << "attach fd=" << int(hostWord(in)) << " pid=" << int(hostWord(in + 4));
      return o.str();
    case kDetach:
      return "detach";
    case kPacketInfo: {
      if (e.arg != Arg::Record || e.in.size() != 12) break;
      if (e.error) return "packet info";
      const std::string& out = e.out.empty() ? e.in : e.out;
      const uint8_t* p = reinterpret_cast<const uint8_t*>(out.data());
      uint32_t addr;
      std::memcpy(&addr, p + 4, 4);
      return "packet info -> ssrc=" + hex32(hostWord(p)) + " addr=" + dotted(addr);
    }
    case kSetFilter: {
      if (e.arg != Arg::Record || e.in.size() != 8) break;
      uint32_t addr;
      std::memcpy(&addr, in, 4);
      return "filter addr=" + dotted(addr);
    }
    case kClearFilter:
      return "clear filter";
  }
  return Model::describe(e);
}

void RtpExt::help(std::ostream& out) const {
  out << "rtpext list                          extension sessions\n"
         "rtpext inject S SSRC ADDR HEX        a packet from ADDR for the daemon on session S\n"
         "rtpext journal S [take]              packets of session S both ways\n";
}

bool RtpExt::command(const std::vector<std::string>& a, std::ostream& out) {
  if (a.empty()) return false;
  if (a[0] == "list" && a.size() == 1) {
    for (auto& e : open_) {
      Channel* c = of(*e.second);
      out << "s" << e.first;
      if (!c->created) {
        out << " not created\n";
        continue;
      }
      out << " etype=0x" << std::hex << c->etype << std::dec << " params=" << c->params[0] << ','
          << c->params[1] << ',' << c->params[2] << ',' << c->params[3];
      if (c->rtpSession) out << " attached=s" << c->rtpSession;
      if (c->filter) out << " filter=" << dotted(c->filterAddr);
      out << " waiting=" << c->pending.size() << " journal=" << c->journal.size() << "\n";
    }
    if (strayWrites_) out << "writes without a session: " << strayWrites_ << "\n";
    return true;
  }
  unsigned long id = 0;
  auto session = [&](const std::string& t) -> Session* {
    std::string n = t.size() > 1 && t[0] == 's' ? t.substr(1) : t;
    Session* s = parseNumber(n, id) && id <= 0xFFFFFFFFul ? find(unsigned(id)) : nullptr;
    if (!s) out << "error: no session " << t << "\n";
    return s;
  };
  if (a[0] == "inject" && a.size() == 5) {
    Session* s = session(a[1]);
    if (!s) return false;
    unsigned long ssrc = 0;
    in_addr addr;
    std::string bytes;
    if (!parseNumber(a[2], ssrc) || ssrc > 0xFFFFFFFFul) {
      out << "error: bad SSRC " << a[2] << "\n";
      return false;
    }
    if (inet_pton(AF_INET, a[3].c_str(), &addr) != 1) {
      out << "error: bad address " << a[3] << "\n";
      return false;
    }
    if (!parseHex(a[4], bytes) || bytes.empty() || bytes.size() > kMaxPacket) {
      out << "error: bad packet " << a[4] << "\n";
      return false;
    }
    if (!of(*s)->created) {
      out << "error: session " << a[1] << " has no extension session\n";
      return false;
    }
    out << (injectLocked(*s, uint32_t(ssrc), addr.s_addr, bytes) ? "queued\n" : "dropped by the source filter\n");
    return true;
  }
  if (a[0] == "journal" && (a.size() == 2 || (a.size() == 3 && a[2] == "take"))) {
    Session* s = session(a[1]);
    if (!s) return false;
    auto& j = of(*s)->journal;
    for (auto& p : j) out << p.text() << "\n";
    if (a.size() == 3) j.clear();
    return true;
  }
  return false;
}

}  // namespace Board
