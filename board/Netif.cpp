#include "board/Netif.h"

#include <linux/sockios.h>
#include <net/if.h>
#include <sys/ioctl.h>

#include <cerrno>
#include <cstring>
#include <ostream>
#include <sstream>

#include "board/StandIn.h"

namespace Board {

namespace {

// The generic-HDLC settings types of SIOCWANDEV.
constexpr uint32_t kGetIface = 0x0001;
constexpr uint32_t kProtoHdlc = 0x2000;
constexpr uint32_t kProtoPpp = 0x2001;
// Where the settings type and size sit in the request.
constexpr size_t kTypeAt = 16;
constexpr size_t kSizeAt = 20;
// The word of the interface settings that holds the switch channel.
constexpr size_t kChannelWordAt = 12;

uint32_t hostWord(const uint8_t* p) {
  uint32_t v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

const char* requestName(uint32_t word) {
  switch (word) {
    case SIOCGIFINDEX:
      return "SIOCGIFINDEX";
    case SIOCGIFFLAGS:
      return "SIOCGIFFLAGS";
    case SIOCSIFFLAGS:
      return "SIOCSIFFLAGS";
    case SIOCWANDEV:
      return "SIOCWANDEV";
    default:
      return nullptr;
  }
}

}  // namespace

Netif::Netif(StandIn& board) : Model(board, kNetifPath, "netif") { setCount(4); }

std::vector<Netif::Interface> Netif::interfaces() {
  auto lock = guard();
  std::vector<Interface> out;
  for (auto& e : ifs_) out.push_back(e.second);
  return out;
}

void Netif::setCount(unsigned n) {
  ifs_.clear();
  for (unsigned k = 0; k < n && k < kMaxInterfaces; ++k) {
    Interface i;
    i.name = "hdlc" + std::to_string(k);
    i.index = nextIndex_++;
    i.flags = IFF_POINTOPOINT | IFF_UP;
    i.channel = kFirstChannel + k;
    ifs_[i.name] = i;
  }
}

Netif::Interface* Netif::find(const uint8_t* name) {
  const std::string n(reinterpret_cast<const char*>(name), strnlen(reinterpret_cast<const char*>(name), IFNAMSIZ));
  auto at = ifs_.find(n);
  return at == ifs_.end() ? nullptr : &at->second;
}

Reply Netif::request(Session&, Request& r) {
  if (!requestName(r.word)) return Reply::fail(ENOTTY);
  if (r.arg != Arg::Record) return Reply::fail(EFAULT);
  if (r.size < sizeof(ifreq)) return Reply::fail(EINVAL);
  Interface* i = find(r.record);
  if (!i) return Reply::fail(ENODEV);
  uint8_t* data = r.record + offsetof(ifreq, ifr_ifru);
  switch (r.word) {
    case SIOCGIFINDEX: {
      const int index = int(i->index);
      std::memcpy(data, &index, sizeof index);
      return Reply::ok();
    }
    case SIOCGIFFLAGS: {
      const short flags = short(i->flags);
      std::memcpy(data, &flags, sizeof flags);
      return Reply::ok();
    }
    case SIOCSIFFLAGS: {
      short flags;
      std::memcpy(&flags, data, sizeof flags);
      i->flags = uint16_t(flags);
      return Reply::ok();
    }
  }
  // SIOCWANDEV: the settings follow the request.
  const uint32_t type = hostWord(r.record + kTypeAt);
  const uint32_t size = hostWord(r.record + kSizeAt);
  uint8_t* settings = r.record + sizeof(ifreq);
  const size_t have = r.size - sizeof(ifreq);
  if (size > have) return Reply::fail(EFAULT);
  switch (type) {
    case kGetIface: {
      if (size < kChannelWordAt + 4) return Reply::fail(ENOBUFS);
      std::memset(settings, 0, size);
      std::memcpy(settings + kChannelWordAt, &i->channel, 4);
      return Reply::ok();
    }
    case kProtoPpp:
      i->proto = "ppp";
      return Reply::ok();
    case kProtoHdlc:
      if (size < 4) return Reply::fail(EINVAL);
      i->proto = "hdlc";
      return Reply::ok();
  }
  return Reply::fail(EINVAL);
}

std::string Netif::describe(const LogEntry& e) const {
  if (e.arg != Arg::Record || e.in.size() < sizeof(ifreq) || !requestName(e.word)) return Model::describe(e);
  std::ostringstream os;
  os << requestName(e.word) << " " << std::string(e.in.c_str(), strnlen(e.in.c_str(), IFNAMSIZ));
  const uint8_t* rec = reinterpret_cast<const uint8_t*>(e.in.data());
  if (e.word == SIOCWANDEV) os << " type=0x" << std::hex << hostWord(rec + kTypeAt) << std::dec;
  if (e.word == SIOCSIFFLAGS) {
    short flags;
    std::memcpy(&flags, rec + offsetof(ifreq, ifr_ifru), sizeof flags);
    os << " flags=0x" << std::hex << (unsigned(flags) & 0xFFFF) << std::dec;
  }
  return os.str();
}

void Netif::print(std::ostream& out, const Interface& i) {
  out << i.name << " index=" << i.index << " flags=0x" << std::hex << i.flags << std::dec << " proto=" << i.proto
      << " channel=" << i.channel << "\n";
}

bool Netif::command(const std::vector<std::string>& a, std::ostream& out) {
  if (a.empty()) return false;
  if (a[0] == "list" && a.size() == 1) {
    for (unsigned k = 0; k < kMaxInterfaces; ++k) {
      auto at = ifs_.find("hdlc" + std::to_string(k));
      if (at != ifs_.end()) print(out, at->second);
    }
    return true;
  }
  unsigned long n;
  if (a[0] == "hdlc" && a.size() == 2) {
    if (!parseNumber(a[1], n) || n > kMaxInterfaces)
      out << "error: usage: netif hdlc N, N at most " << kMaxInterfaces << "\n";
    else
      setCount(unsigned(n));
    return true;
  }
  if (a[0] == "flags" && a.size() == 3) {
    auto at = ifs_.find(a[1]);
    if (at == ifs_.end())
      out << "error: no interface " << a[1] << "\n";
    else if (!parseNumber(a[2], n) || n > 0xFFFF)
      out << "error: usage: netif flags NAME FLAGS\n";
    else
      at->second.flags = uint16_t(n);
    return true;
  }
  if (a[0] == "remove" && a.size() == 2) {
    if (!ifs_.erase(a[1])) out << "error: no interface " << a[1] << "\n";
    return true;
  }
  return false;
}

void Netif::help(std::ostream& out) const {
  out << "netif list                    the hdlcN interfaces: index, flags, protocol, channel\n"
         "netif hdlc N                  the board has hdlc0..hdlcN-1 (default 4)\n"
         "netif flags NAME FLAGS        set an interface's flags (0x10 point-to-point, 0x8 loopback)\n"
         "netif remove NAME             the interface vanishes\n";
}

}  // namespace Board
