// Controller link throughput: ping/success round trips per second from one
// controller to the real daemon over loopback, against a bare TPKT echo
// server measured in the same run (the floor any framing server could
// reach on this machine), and the idle daemon's resident memory.
//
//   build-bench/bench/bench_control
//
// Targets: the daemon reaches at least 75% of the echo server's rate; the
// idle daemon stays within 8 MiB resident.
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>

namespace {

const unsigned char kPing[] = {0x03, 0x00, 0x00, 0x08, 0x80, 0x01, 0x01, 0x18};

int freePort() {
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

// Retries while the daemon is still starting.
int connectTo(int port) {
  for (int attempt = 0; attempt < 200; ++attempt) {
    int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<unsigned short>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0) {
      const int one = 1;
      ::setsockopt(s, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
      return s;
    }
    ::close(s);
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return -1;
}

bool readAll(int fd, unsigned char* buf, size_t n) {
  size_t got = 0;
  while (got < n) {
    ssize_t r = ::recv(fd, buf + got, n - got, 0);
    if (r <= 0) return false;
    got += static_cast<size_t>(r);
  }
  return true;
}

// One frame out, one 8-byte frame back.
bool roundTrip(int fd) {
  unsigned char answer[8];
  return ::send(fd, kPing, sizeof kPing, MSG_NOSIGNAL) == static_cast<ssize_t>(sizeof kPing) &&
         readAll(fd, answer, sizeof answer);
}

// A bare TPKT echo server on its own thread: reads each frame whole and
// writes it back.
class EchoServer {
public:
  EchoServer() : port_(freePort()) {
    listen_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int one = 1;
    ::setsockopt(listen_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<unsigned short>(port_));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(listen_, reinterpret_cast<sockaddr*>(&a), sizeof a);
    ::listen(listen_, 1);
    thread_ = std::thread([this] { serve(); });
  }
  ~EchoServer() {
    ::shutdown(listen_, SHUT_RDWR);
    thread_.join();
    ::close(listen_);
  }
  int port() const { return port_; }

private:
  void serve() {
    int c = ::accept(listen_, nullptr, nullptr);
    if (c < 0) return;
    const int one = 1;
    ::setsockopt(c, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    unsigned char buf[65536];
    while (readAll(c, buf, 4)) {
      const size_t len = static_cast<size_t>(buf[2]) * 256 + buf[3];
      if (buf[0] != 3 || len < 4 || !readAll(c, buf + 4, len - 4)) break;
      if (::send(c, buf, len, MSG_NOSIGNAL) != static_cast<ssize_t>(len)) break;
    }
    ::close(c);
  }
  int port_;
  int listen_;
  std::thread thread_;
};

// The built daemon under a root of its own.
class Daemon {
public:
  Daemon() : port_(freePort()) {
    char tmpl[] = "/tmp/qv-bench-XXXXXX";
    root_ = ::mkdtemp(tmpl);
    for (const char* d : {"/var", "/var/run", "/var/log", "/usr", "/usr/local", "/usr/local/etc", "/dev"})
      ::mkdir((root_ + d).c_str(), 0755);
    const std::string path = std::string(QUORVAD_BINARY_DIR) + "/app/quorvad";
    const std::string portText = std::to_string(port_);
    pid_ = ::fork();
    if (pid_ == 0) {
      ::setenv("QUORVAD_ROOT", root_.c_str(), 1);
      FILE* n = std::fopen("/dev/null", "w");
      if (n) {
        ::dup2(fileno(n), 1);
        ::dup2(fileno(n), 2);
      }
      ::execl(path.c_str(), path.c_str(), "--port", portText.c_str(), static_cast<char*>(nullptr));
      ::_exit(127);
    }
  }
  ~Daemon() {
    ::kill(pid_, SIGTERM);
    int st;
    ::waitpid(pid_, &st, 0);
    std::string cmd = "rm -rf '" + root_ + "'";
    if (std::system(cmd.c_str()) != 0) std::perror("rm");
  }
  int port() const { return port_; }
  // VmRSS in KiB; -1 when unknown.
  long rssKiB() const {
    std::ifstream in("/proc/" + std::to_string(pid_) + "/status");
    std::string line;
    while (std::getline(in, line))
      if (line.rfind("VmRSS:", 0) == 0) return std::atol(line.c_str() + 6);
    return -1;
  }

private:
  int port_;
  std::string root_;
  pid_t pid_;
};

int daemonLink = -1;
int echoLink = -1;
double daemonRate = 0;
double echoRate = 0;

void runRoundTrips(benchmark::State& state, int fd, double& rate) {
  if (fd < 0) {
    state.SkipWithError("no connection");
    return;
  }
  const auto t0 = std::chrono::steady_clock::now();
  for (auto _ : state) {
    if (!roundTrip(fd)) {
      state.SkipWithError("round trip failed");
      return;
    }
  }
  const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  rate = s > 0 ? static_cast<double>(state.iterations()) / s : 0;
  state.counters["round_trips_per_s"] = benchmark::Counter(static_cast<double>(state.iterations()),
                                                           benchmark::Counter::kIsRate);
}

void BM_EchoServerRoundTrip(benchmark::State& state) { runRoundTrips(state, echoLink, echoRate); }
void BM_DaemonPingRoundTrip(benchmark::State& state) { runRoundTrips(state, daemonLink, daemonRate); }

BENCHMARK(BM_EchoServerRoundTrip)->UseRealTime()->MinTime(2.0);
BENCHMARK(BM_DaemonPingRoundTrip)->UseRealTime()->MinTime(2.0);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  Daemon daemon;
  EchoServer echo;
  // Let the daemon settle, then take its idle footprint before any
  // controller connects.
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  const long idleKiB = daemon.rssKiB();
  daemonLink = connectTo(daemon.port());
  echoLink = connectTo(echo.port());

  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  if (daemonLink >= 0) ::close(daemonLink);
  if (echoLink >= 0) ::close(echoLink);

  std::printf("\nbare TPKT echo server: %.0f round trips/s\n", echoRate);
  std::printf("daemon ping/success:   %.0f round trips/s\n", daemonRate);
  if (echoRate > 0) std::printf("ratio:                 %.1f%% (target >= 75%%)\n", 100.0 * daemonRate / echoRate);
  std::printf("idle daemon resident:  %ld KiB = %.2f MiB (target <= 8 MiB)\n", idleKiB, idleKiB / 1024.0);
  return 0;
}
