// A stand-in for pppd and its authentication plug-in, for boards without
// them: it writes its command line to its log, and, when the script names
// a user, connects to the daemon's bridge (127.0.0.1:52000) as the plug-in
// does, sends the auth request of its session (N for the device
// "/dev/mdmN", -1 for an hdlc interface), logs every record it receives
// and, after the IP record, sends the script's accounting figures.
//
// Script ("<root>/etc/standin/pppd"):
//   exit CODE            end at once with CODE
//   user NAME            act as the plug-in with this user...
//   password WORD        ...and password
//   acct W1 ... W9       accounting words after the IP record: octets out
//                        high/low, in high/low, packets out high/low, in
//                        high/low, session time
//   hup ignore|exit CODE what SIGHUP does (default: exit 0)
#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>

#include <cstring>

#include "Script.h"

namespace {

const standin::Log* g_log = nullptr;
std::string g_hupLine;
int g_hupCode = -1;  // -1: ignore

void onHup(int) {
  g_log->write(g_hupLine);
  if (g_hupCode >= 0) ::_exit(g_hupCode);
}

void put32(std::vector<unsigned char>& r, size_t at, uint32_t v) {
  r[at] = uint8_t(v >> 24);
  r[at + 1] = uint8_t(v >> 16);
  r[at + 2] = uint8_t(v >> 8);
  r[at + 3] = uint8_t(v);
}

uint32_t get32(const unsigned char* p) { return (uint32_t(p[0]) << 24) | (p[1] << 16) | (p[2] << 8) | p[3]; }

bool sendAll(int fd, const std::vector<unsigned char>& r) {
  size_t done = 0;
  while (done < r.size()) {
    ssize_t n = ::send(fd, r.data() + done, r.size() - done, MSG_NOSIGNAL);
    if (n <= 0) return false;
    done += size_t(n);
  }
  return true;
}

bool readAll(int fd, unsigned char* p, size_t n) {
  while (n) {
    ssize_t k = ::read(fd, p, n);
    if (k < 0 && errno == EINTR) continue;
    if (k <= 0) return false;
    p += k;
    n -= size_t(k);
  }
  return true;
}

uint32_t sessionOf(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    if (std::strncmp(argv[i], "/dev/mdm", 8) == 0) return uint32_t(std::atoi(argv[i] + 8));
  }
  return 0xFFFFFFFF;
}

int connectBridge() {
  for (int tries = 0; tries < 200; ++tries) {
    int s = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(52000);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0) return s;
    ::close(s);
    ::usleep(10000);
  }
  return -1;
}

void plugIn(const standin::Log& log, std::map<std::string, std::string>& sc, uint32_t session) {
  const int s = connectBridge();
  if (s < 0) {
    log.line("bridge unreachable");
    return;
  }
  std::vector<unsigned char> auth(140, 0);
  put32(auth, 0, 140);
  put32(auth, 4, 1);
  put32(auth, 8, session);
  std::strncpy(reinterpret_cast<char*>(&auth[12]), sc["user"].c_str(), 63);
  std::strncpy(reinterpret_cast<char*>(&auth[76]), sc["password"].c_str(), 63);
  if (!sendAll(s, auth)) return;
  log.line("auth sent");
  unsigned char rec[512];
  while (readAll(s, rec, 4)) {
    const uint32_t len = get32(rec);
    if (len < 4 || len > 512 || !readAll(s, rec + 4, len - 4)) break;
    log.line("recv " + standin::hex(rec, len));
    if (len < 12 || get32(rec + 4) != 3 || !sc.count("acct")) continue;
    std::vector<unsigned char> acct(64, 0);
    put32(acct, 0, 64);
    put32(acct, 4, 4);
    put32(acct, 8, session);
    std::istringstream words(sc["acct"]);
    uint32_t w;
    for (size_t at = 24; at <= 56 && (words >> w); at += 4) put32(acct, at, w);
    if (sendAll(s, acct)) log.line("acct sent");
  }
  log.line("bridge closed");
}

}  // namespace

int main(int argc, char** argv) {
  standin::Log log("pppd");
  g_log = &log;
  auto sc = standin::script("pppd");
  g_hupLine = std::to_string(::getpid()) + " hup\n";
  g_hupCode = 0;
  std::istringstream hup(sc["hup"]);
  std::string mode;
  hup >> mode;
  if (mode == "ignore") g_hupCode = -1;
  if (mode == "exit") hup >> g_hupCode;
  struct sigaction sa {};
  sa.sa_handler = onHup;
  ::sigaction(SIGHUP, &sa, nullptr);
  // Never outlive a test that forgot it.
  ::alarm(120);
  // Only now: a test that saw this line may send SIGHUP.
  log.start(argc, argv);
  if (sc.count("exit")) return std::atoi(sc["exit"].c_str());

  if (sc.count("user")) plugIn(log, sc, sessionOf(argc, argv));
  for (;;) ::pause();
}
