#pragma once
// The board's hdlcN network interfaces as the stand-in keeps them: the
// interface requests a daemon makes on a socket (SIOCGIFINDEX,
// SIOCGIFFLAGS, SIOCSIFFLAGS and the generic-HDLC SIOCWANDEV) reach this
// model instead of the kernel. Each interface has an index, its flags, a
// protocol (raw HDLC or synchronous PPP) and the switch channel its
// controller works on.
//
// A request comes as one record: the system's struct ifreq, followed for
// SIOCWANDEV by the settings buffer its header points at (the access layer
// packs and unpacks them).
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "board/Model.h"

namespace Board {

// The board path under which the access layer opens the interface socket.
constexpr const char* kNetifPath = "netif";

class Netif : public Model {
 public:
  // Switch channels of the interfaces' controllers.
  static constexpr uint32_t kFirstChannel = 28672;
  static constexpr unsigned kMaxInterfaces = 256;

  struct Interface {
    std::string name;
    unsigned index = 0;
    uint16_t flags = 0;
    std::string proto = "hdlc";  // "hdlc" or "ppp"
    uint32_t channel = 0;
  };

  explicit Netif(StandIn& board);

  // For tests, under the board's lock.
  std::vector<Interface> interfaces();
  // hdlc0..hdlc(n-1), point-to-point and up, raw HDLC.
  void setCount(unsigned n);

  Reply request(Session& s, Request& r) override;
  std::string describe(const LogEntry& e) const override;
  bool command(const std::vector<std::string>& args, std::ostream& out) override;
  void help(std::ostream& out) const override;

 private:
  Interface* find(const uint8_t* name);
  static void print(std::ostream& out, const Interface& i);

  std::map<std::string, Interface> ifs_;
  unsigned nextIndex_ = 10;
};

}  // namespace Board
