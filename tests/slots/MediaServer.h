#pragma once
// A media server on loopback for the players and the recorder, polled by
// the test between passes of the loop: it accepts connections, keeps what
// each one sent and sends it what the test says; everything non-blocking.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>
#include <vector>

namespace slots_test {

class MediaServer {
 public:
  // backlog 0 with one connection waiting: the next handshake stalls.
  explicit MediaServer(int backlog = 8) {
    listen_ = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(listen_, reinterpret_cast<sockaddr*>(&a), sizeof a);
    ::listen(listen_, backlog);
    socklen_t len = sizeof a;
    ::getsockname(listen_, reinterpret_cast<sockaddr*>(&a), &len);
    port_ = ntohs(a.sin_port);
  }
  ~MediaServer() {
    for (Conn& c : conns_) ::close(c.fd);
    ::close(listen_);
  }
  MediaServer(const MediaServer&) = delete;
  MediaServer& operator=(const MediaServer&) = delete;

  int port() const { return port_; }
  std::string address() const { return "{ iaddr \"127.0.0.1\", port " + std::to_string(port_) + " }"; }

  // Takes waiting connections and reads what came; returns the number of
  // connections accepted so far.
  size_t poll() {
    for (int fd; (fd = ::accept4(listen_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC)) >= 0;)
      conns_.push_back(Conn{fd, {}});
    char buf[4096];
    for (Conn& c : conns_)
      for (ssize_t n; c.fd >= 0 && (n = ::read(c.fd, buf, sizeof buf)) > 0;) c.got.append(buf, size_t(n));
    return conns_.size();
  }
  // What connection i sent so far.
  const std::string& got(size_t i) const { return conns_.at(i).got; }
  // Sends everything (the test's amounts fit the socket buffers).
  bool send(size_t i, const std::string& bytes) {
    return ::send(conns_.at(i).fd, bytes.data(), bytes.size(), MSG_NOSIGNAL) == ssize_t(bytes.size());
  }
  void close(size_t i) {
    ::close(conns_.at(i).fd);
    conns_.at(i).fd = -1;
  }

 private:
  struct Conn {
    int fd;
    std::string got;
  };
  int listen_ = -1;
  int port_ = 0;
  std::vector<Conn> conns_;
};

}  // namespace slots_test
