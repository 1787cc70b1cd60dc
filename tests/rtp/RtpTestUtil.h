#pragma once
// What the RTP slot tests share: a UDP socket standing for the RTP peer's
// RTCP port, the create command of an RTP slot towards it, and the RTCP
// packets the slot must send, worked out by hand from RFC 3550.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <string>
#include <vector>

namespace rtp_test {

using Bytes = std::vector<uint8_t>;

// A UDP socket on the loopback address, on a port the system picked.
class UdpPeer {
 public:
  UdpPeer() {
    fd_ = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a);
    socklen_t n = sizeof a;
    ::getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &n);
    port_ = ntohs(a.sin_port);
  }
  ~UdpPeer() { ::close(fd_); }
  UdpPeer(const UdpPeer&) = delete;
  UdpPeer& operator=(const UdpPeer&) = delete;

  unsigned port() const { return port_; }
  // The next datagram, waiting at most ms; empty when none came. from: the
  // sender's port.
  Bytes recv(int ms = 3000, unsigned* from = nullptr) {
    pollfd p{fd_, POLLIN, 0};
    if (::poll(&p, 1, ms) != 1) return {};
    uint8_t buf[2048];
    sockaddr_in a{};
    socklen_t n = sizeof a;
    ssize_t got = ::recvfrom(fd_, buf, sizeof buf, 0, reinterpret_cast<sockaddr*>(&a), &n);
    if (from) *from = ntohs(a.sin_port);
    return got > 0 ? Bytes(buf, buf + got) : Bytes();
  }

 private:
  int fd_ = -1;
  unsigned port_ = 0;
};

// A UDP port nobody holds now (the system's pick, given back at once).
inline unsigned freeUdpPort() {
  UdpPeer p;
  return p.port();
}

// The create command of an RTP slot whose peer's RTCP port is rtcpPort
// (its RTP port one below) and whose own RTP port is localPort - 1.
inline std::string createRtp(unsigned slot, unsigned rtcpPort, unsigned localPort, int seq = 1,
                             const std::string& payload = "ptG711-Alaw", const std::string& more = "") {
  return "{ seq " + std::to_string(seq) + ", slot " + std::to_string(slot) +
         ", pdu command : create : rtp : { codecRTP { payload " + payload +
         ", dhost { iaddr \"127.0.0.1\", port " + std::to_string(rtcpPort - 1) +
         " }, shost { iaddr \"127.0.0.1\", port " + std::to_string(localPort - 1) + " }" + more +
         ", ssrc 305419896 }, txPayload " + payload + ", rxPayload " + payload + " } }";
}

// SSRC 0x12345678 (305419896).
// SDES: V=2 SC=1, type 202; CNAME (1) of 14 octets, EMAIL (3) and PHONE (4)
// empty; 8 + 16 + 2 + 2 = 28, the end of the list and padding to 32:
// 8 words, length 7.
inline Bytes sdes() {
  Bytes b = {0x81, 0xCA, 0x00, 0x07, 0x12, 0x34, 0x56, 0x78, 0x01, 0x0E};
  for (char c : std::string("Kavrel Sonmark")) b.push_back(uint8_t(c));
  for (uint8_t c : {0x03, 0x00, 0x04, 0x00, 0x00, 0x00, 0x00, 0x00}) b.push_back(c);
  return b;
}

// BYE: V=2 SC=1, type 203; the SSRC, the reason's length 11 and its text:
// 20 octets, 5 words, length 4, no padding.
inline Bytes bye() {
  Bytes b = {0x81, 0xCB, 0x00, 0x04, 0x12, 0x34, 0x56, 0x78, 0x0B};
  for (char c : std::string("session end")) b.push_back(uint8_t(c));
  return b;
}

}  // namespace rtp_test
