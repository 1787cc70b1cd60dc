#pragma once
// Small network and process services: the IPv4 endpoint value, the board's
// interface list, the host name, process lookup by name, a time stamp for
// log lines and the terminal switches of the console.
#include <netinet/in.h>
#include <sys/socket.h>

#include <cstdint>
#include <iosfwd>
#include <list>
#include <string>
#include <vector>

namespace INet4 {

// An IPv4 address and port. It is the system's sockaddr_in itself, so that
// socket calls take it directly.
class Addr : public sockaddr_in {
 public:
  Addr() { Reset(); }
  Addr(const Addr& other) : sockaddr_in(other) {}
  Addr(const sockaddr_in& other) : sockaddr_in(other) {}
  explicit Addr(const std::string& text) {
    Reset();
    Assign(text, nullptr);
  }
  Addr& operator=(const Addr& other) {
    sockaddr_in::operator=(other);
    return *this;
  }
  // Without Reset(): a text without a port keeps the old port.
  Addr& operator=(const std::string& text) {
    Assign(text, nullptr);
    return *this;
  }

  void Reset();

  // "a.b.c.d[:port]". A port after the first ":" is stored (low 16 bits)
  // and given back through `port`, which gets -1 when the text has none;
  // the port is set even when the address part is invalid. The address
  // changes only when its part parses, and the result says whether it
  // did: a caller must not use an address whose text did not parse.
  bool Assign(const char* text, int* port);
  bool Assign(const std::string& text, int* port) { return Assign(text.c_str(), port); }
  // The address in network byte order, taken as it is.
  void Assign(unsigned long networkOrder);

  unsigned short port() const;
  void port(unsigned short p);

  // Address and port only; family and filler do not count.
  bool IsEqual(const Addr& other) const;
  bool operator==(const Addr& other) const { return IsEqual(other); }
  bool operator!=(const Addr& other) const { return !IsEqual(other); }

  operator sockaddr*() { return reinterpret_cast<sockaddr*>(static_cast<sockaddr_in*>(this)); }
  operator const sockaddr*() const { return reinterpret_cast<const sockaddr*>(static_cast<const sockaddr_in*>(this)); }
  socklen_t size() const { return sizeof(sockaddr_in); }

  // Dotted address in the system library's own buffer, overwritten by its
  // next call.
  const char* GetStrAddr() const;
  // "a.b.c.d:port".
  std::string GetString() const;
  void Put(std::ostream& os) const;
  // The 4 address bytes in network order.
  std::vector<char> GetVector() const;
};

std::ostream& operator<<(std::ostream& os, const Addr& a);

}  // namespace INet4

namespace Net {

// Which interfaces ifconfig lists; the bits select, they do not exclude,
// and 0 lists all.
typedef unsigned int ifconfig_mode_t;
const ifconfig_mode_t IFC_NOT_LOOPBACK = 1;  // name is not "lo"
const ifconfig_mode_t IFC_LINK_LOCAL = 2;    // 169.254.0.0/16
const ifconfig_mode_t IFC_PRIVATE = 4;       // 192.168.0.0/16, 172.16.0.0/12, 10.0.0.0/8

// The choice of one interface record: its name and its IPv4 address in
// host byte order.
bool ifconfig_chosen(const char* name, std::uint32_t hostAddr, ifconfig_mode_t mode);

// Appends the address of every chosen IPv4 interface; their number, or -1
// when the socket or the interface list cannot be had. At most 16 records
// are examined.
int ifconfig(std::list<INet4::Addr>& out, ifconfig_mode_t mode);
// Appends the name of every chosen interface whose flags hold all of
// `flags`; their number, or -1.
int ifconfig(std::list<std::string>& out, ifconfig_mode_t mode, unsigned int flags);

// Empty on failure.
std::string hostname();
// The result of sethostname.
int hostname(const std::string& name);

}  // namespace Net

// The id of a running process whose command name is `name`, trying `pid`
// first, so that a caller remembering the last id finds an unchanged
// process without a scan; -1 when there is none. The kernel cuts command
// names to 15 characters, so longer names never match.
int find_proc_by_name(const char* name, int pid);

// The local time as "%d/%m %H:%M:%S"; nothing when the clock cannot be read.
std::ostream& timestamp(std::ostream& os);

namespace Console {
// Standard input to non-canonical mode without echo; signals stay on.
void SwitchToBinaryMode();
void SwitchToNonBlockMode();
}  // namespace Console
