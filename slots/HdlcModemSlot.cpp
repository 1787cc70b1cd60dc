#include "slots/HdlcModemSlot.h"

#include <linux/sockios.h>
#include <net/if.h>
#include <sys/ioctl.h>

#include <cstring>
#include <iostream>

#include "hardware/Device.h"
#include "log/Ext.h"

namespace {

// The generic-HDLC settings types of SIOCWANDEV.
constexpr uint32_t kGetIface = 0x0001;
constexpr uint32_t kProtoHdlc = 0x2000;
constexpr uint32_t kProtoPpp = 0x2001;
// The interface settings the driver fills; word 3 is the switch channel.
constexpr size_t kIfaceSize = 128;
constexpr size_t kChannelAt = 12;

// A socket for the interface requests, closed when it goes.
struct NetSocket {
  NetSocket() : fd(Device::netSocket()) {}
  ~NetSocket() {
    if (fd >= 0) Device::close(fd);
  }
  NetSocket(const NetSocket&) = delete;
  NetSocket& operator=(const NetSocket&) = delete;
  int fd;
};

// An interface request naming the device; for SIOCWANDEV, with its
// settings type and size.
ifreq request(const std::string& device, uint32_t type = 0, uint32_t size = 0) {
  ifreq ifr;
  std::memset(&ifr, 0, sizeof ifr);
  std::strncpy(ifr.ifr_name, device.c_str(), IFNAMSIZ - 1);
  char* settings = reinterpret_cast<char*>(&ifr) + offsetof(ifreq, ifr_ifru);
  std::memcpy(settings, &type, 4);
  std::memcpy(settings + 4, &size, 4);
  return ifr;
}

}  // namespace

HdlcModemSlot::HdlcModemSlot(const TERM::ModemParams& params, const std::string& device)
    : ModemSlot(params), device_(device) {}

HdlcModemSlot::~HdlcModemSlot() {
  unbindOnce();
  pppd_kill();
  NetSocket sock;
  if (sock.fd < 0) return;
  ifreq ifr = request(device_);
  if (Device::netRequest(sock.fd, SIOCGIFFLAGS, &ifr, sizeof ifr) < 0) {
    std::cerr << ext::header(this) << "SIOCGIFFLAGS fail!!!" << std::endl;
    return;
  }
  ifr.ifr_flags = static_cast<short>(ifr.ifr_flags & ~IFF_UP);
  if (Device::netRequest(sock.fd, SIOCSIFFLAGS, &ifr, sizeof ifr) < 0) {
    std::cerr << ext::header(this) << "SIOCSIFFLAGS fail!!!" << std::endl;
    return;
  }
  uint8_t hdlc[4] = {0, 0, 0, 0};  // encoding 0, parity 0
  ifr = request(device_, kProtoHdlc, sizeof hdlc);
  if (Device::netRequest(sock.fd, SIOCWANDEV, &ifr, sizeof ifr, hdlc, sizeof hdlc) < 0)
    std::cerr << ext::header(this) << "SIOCWANDEV/IF_PROTO_HDLC fail!" << std::endl;
}

void HdlcModemSlot::unbind() { GetModemFactory().ReleaseModemSlot(this); }

bool HdlcModemSlot::IOnOutputStream() {
  initModem();
  return true;
}

bool HdlcModemSlot::IOnInputStream() {
  initModem();
  return true;
}

void HdlcModemSlot::initModem() {
  if (pppd_executing()) return;
  NetSocket sock;
  if (sock.fd < 0) return;
  uint8_t iface[kIfaceSize] = {};
  ifreq ifr = request(device_, kGetIface, sizeof iface);
  if (Device::netRequest(sock.fd, SIOCWANDEV, &ifr, sizeof ifr, iface, sizeof iface) < 0) {
    std::cerr << ext::header(this) << "SIOCWANDEV/IF_GET_IFACE fail!" << std::endl;
    return;
  }
  uint32_t channel;
  std::memcpy(&channel, iface + kChannelAt, sizeof channel);
  channel_ = static_cast<int>(channel);
  uint8_t ppp[4] = {0, 0, 0, 0};
  ifr = request(device_, kProtoPpp, sizeof ppp);
  if (Device::netRequest(sock.fd, SIOCWANDEV, &ifr, sizeof ifr, ppp, sizeof ppp) < 0) {
    std::cerr << ext::header(this) << "SIOCWANDEV/IF_PROTO_PPP fail!" << std::endl;
    return;
  }
  pppd_exec(device_.c_str(), "/usr/local/etc/ppp/ioptions");
}
