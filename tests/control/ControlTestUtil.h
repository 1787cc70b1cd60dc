#pragma once
// Helpers of the controller-link tests: captured log streams, a loopback
// TCP peer driven by plain blocking calls, and a pump that runs the loop
// until a condition holds.
#include "runtime/Multiplexer.h"
#include "runtime/Timer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <functional>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

namespace ctl_test {

using Bytes = std::vector<unsigned char>;

inline std::string hex(const Bytes& b) {
  static const char* d = "0123456789ABCDEF";
  std::string s;
  for (size_t i = 0; i < b.size(); ++i) {
    if (i) s += ' ';
    s += d[b[i] >> 4];
    s += d[b[i] & 15];
  }
  return s;
}

inline Bytes bytes(const std::string& s) { return Bytes(s.begin(), s.end()); }

// The three log streams into strings for the life of the object.
class Capture {
public:
  Capture()
      : out_(std::cout.rdbuf(outBuf_.rdbuf())),
        err_(std::cerr.rdbuf(errBuf_.rdbuf())),
        log_(std::clog.rdbuf(logBuf_.rdbuf())) {}
  ~Capture() {
    std::cout.rdbuf(out_);
    std::cerr.rdbuf(err_);
    std::clog.rdbuf(log_);
  }
  std::string out() const { return outBuf_.str(); }
  std::string err() const { return errBuf_.str(); }
  std::string log() const { return logBuf_.str(); }
  void clear() {
    outBuf_.str("");
    errBuf_.str("");
    logBuf_.str("");
  }

private:
  std::ostringstream outBuf_, errBuf_, logBuf_;
  std::streambuf* out_;
  std::streambuf* err_;
  std::streambuf* log_;
};

inline unsigned now_ms() {
  timeval tv;
  gettimeofday(&tv, nullptr);
  return static_cast<unsigned>(tv.tv_sec * 1000 + tv.tv_usec / 1000);
}

// Runs passes of the loop (each waiting at most 10 ms) until pred holds or
// the real time limit passes.
inline bool pump(const std::function<bool()>& pred, unsigned limit_ms = 5000) {
  struct Tick {
    void fire() {}
  } tick;
  Timer t;
  const unsigned start = now_ms();
  while (!pred()) {
    if (now_ms() - start > limit_ms) return false;
    t.set(10, &Tick::fire, &tick);
    multiplexer.run_once();
  }
  return true;
}

// A loopback port nobody listens on at the moment.
inline int free_port() {
  int s = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a);
  socklen_t len = sizeof a;
  ::getsockname(s, reinterpret_cast<sockaddr*>(&a), &len);
  ::close(s);
  return ntohs(a.sin_port);
}

// One TCP peer with blocking calls and bounded waits.
class Peer {
public:
  Peer() = default;
  explicit Peer(int fd) : fd_(fd) {}
  ~Peer() { close(); }
  Peer(const Peer&) = delete;
  Peer& operator=(const Peer&) = delete;

  bool connect(int port, int rcvbuf = 0) {
    close();
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (rcvbuf) ::setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &rcvbuf, sizeof rcvbuf);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<unsigned short>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return ::connect(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
  }
  void close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }
  // Closes with a reset instead of an orderly close.
  void abort() {
    linger l{1, 0};
    ::setsockopt(fd_, SOL_SOCKET, SO_LINGER, &l, sizeof l);
    close();
  }
  bool send(const Bytes& b) {
    return ::send(fd_, b.data(), b.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(b.size());
  }
  // Whatever arrives within the wait; stops early once `want` bytes came.
  Bytes recv(size_t want, int wait_ms = 2000) {
    Bytes out;
    const unsigned start = now_ms();
    while (out.size() < want) {
      // A wait of 0 still looks once.
      int left = wait_ms - static_cast<int>(now_ms() - start);
      if (left < 0) left = 0;
      pollfd p{fd_, POLLIN, 0};
      if (::poll(&p, 1, left) <= 0) break;
      unsigned char buf[4096];
      ssize_t n = ::recv(fd_, buf, sizeof buf, 0);
      if (n <= 0) {
        eof_ = n == 0;
        break;
      }
      out.insert(out.end(), buf, buf + n);
    }
    return out;
  }
  // True when the other side closed (orderly or by reset) within the wait.
  bool closed(int wait_ms = 2000) {
    const unsigned start = now_ms();
    for (;;) {
      int left = wait_ms - static_cast<int>(now_ms() - start);
      if (left <= 0) return false;
      pollfd p{fd_, POLLIN, 0};
      if (::poll(&p, 1, left) <= 0) return false;
      unsigned char buf[4096];
      ssize_t n = ::recv(fd_, buf, sizeof buf, 0);
      if (n <= 0) return true;
    }
  }
  // Waits for the other side to close, running the loop meanwhile.
  bool closed_pumping(unsigned limit_ms = 5000) {
    bool c = false;
    pump([&] {
      pollfd p{fd_, POLLIN, 0};
      if (::poll(&p, 1, 0) == 1) {
        unsigned char buf[4096];
        if (::recv(fd_, buf, sizeof buf, MSG_DONTWAIT) <= 0) c = true;
      }
      return c;
    }, limit_ms);
    return c;
  }
  // Receives while running the loop, for a server in the same process.
  Bytes recv_pumping(size_t want, unsigned limit_ms = 3000) {
    Bytes out;
    pump([&] {
      Bytes b = recv(want - out.size(), 0);
      out.insert(out.end(), b.begin(), b.end());
      return out.size() >= want || eof_;
    }, limit_ms);
    return out;
  }
  int fd() const { return fd_; }
  bool eof() const { return eof_; }
  int local_port() const {
    sockaddr_in a{};
    socklen_t len = sizeof a;
    ::getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len);
    return ntohs(a.sin_port);
  }

private:
  int fd_ = -1;
  bool eof_ = false;
};

// A connected loopback pair: `a` for the code under test, `b` for the test.
inline void tcp_pair(int& a, Peer& b, int brcvbuf = 0) {
  int l = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ::bind(l, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
  ::listen(l, 1);
  socklen_t len = sizeof addr;
  ::getsockname(l, reinterpret_cast<sockaddr*>(&addr), &len);
  b.connect(ntohs(addr.sin_port), brcvbuf);
  a = ::accept4(l, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
  ::close(l);
}

// Keeps single passes of the loop from its hang abort.
struct Keep : TimerEvent {
  Keep() { schedule(3600000); }
  void fire() override {}
};

}  // namespace ctl_test
