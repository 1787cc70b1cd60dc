// The stand-in's control commands, directly and through the qvboard
// client run as a process against the control socket.
#include <fcntl.h>
#include <linux/sockios.h>
#include <poll.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <string>

#include "board/Hal.h"
#include "board/Mcc.h"
#include "DescriptorLimit.h"
#include "board/StandInFixture.h"
#include "hardware/Device.h"

using Board::Hal;
using Board::Mcc;
using testboard::StandInTest;

namespace {

bool contains(const std::string& s, const std::string& part) {
  return s.find(part) != std::string::npos;
}

// A raw client of the control socket, non-blocking, with bounded waits.
class ControlClient {
 public:
  explicit ControlClient(const std::string& path) {
    fd_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un a{};
    a.sun_family = AF_UNIX;
    std::snprintf(a.sun_path, sizeof a.sun_path, "%s", path.c_str());
    if (fd_ >= 0 && ::connect(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) close();
    if (fd_ >= 0) ::fcntl(fd_, F_SETFL, O_NONBLOCK);
  }
  ~ControlClient() { close(); }
  void close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }
  bool ok() const { return fd_ >= 0; }
  // Sends what the socket takes now; the count.
  size_t sendNow(const std::string& text) {
    ssize_t n = ::send(fd_, text.data(), text.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
    return n > 0 ? size_t(n) : 0;
  }
  // Sends text while reading, until `answers` answers (lines ".") came in
  // whole, the board closed, or 30 s passed. Everything read.
  std::string exchange(std::string text, size_t answers) {
    std::string in;
    size_t got = 0, at = 0;
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (got < answers && std::chrono::steady_clock::now() < end) {
      pollfd p{fd_, short(POLLIN | (text.empty() ? 0 : POLLOUT)), 0};
      if (::poll(&p, 1, 1000) <= 0) continue;
      if (!text.empty() && (p.revents & POLLOUT)) text.erase(0, sendNow(text));
      char buf[65536];
      ssize_t n = ::recv(fd_, buf, sizeof buf, MSG_DONTWAIT);
      if (n == 0) {
        eof = true;
        break;
      }
      if (n < 0) continue;
      in.append(buf, size_t(n));
      for (size_t nl; (nl = in.find(".\n", at)) != std::string::npos; at = nl + 2)
        if (nl == 0 || in[nl - 1] == '\n') ++got;
    }
    return in;
  }
  // Says that nothing more will be sent.
  void finish() { ::shutdown(fd_, SHUT_WR); }
  // Bytes sent but not yet read by the board.
  int unread() const {
    int n = -1;
    ::ioctl(fd_, SIOCOUTQ, &n);
    return n;
  }
  bool eof = false;

 private:
  int fd_ = -1;
};

size_t lines(const std::string& text) {
  size_t n = 0;
  for (char c : text) n += c == '\n';
  return n;
}

// Runs qvboard with the arguments; its output and exit status.
std::pair<std::string, int> qvboard(const std::string& args) {
  std::string cmd = std::string(QVBOARD_PATH) + " " + args + " 2>&1";
  FILE* p = popen(cmd.c_str(), "r");
  if (!p) return {"", -1};
  std::string out;
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
  int st = pclose(p);
  return {out, WIFEXITED(st) ? WEXITSTATUS(st) : -1};
}

TEST_F(StandInTest, CommandsReadAndSetTheModels) {
  int fd = Device::open("/dev/hal", O_RDWR);
  ASSERT_GE(fd, 0);
  testboard::Words<2> connect({8200, 5});
  ASSERT_EQ(Device::requestRecord(fd, Hal::kConnect, connect.b, 8), 0);
  testboard::Words<1> disable({8201});
  ASSERT_EQ(Device::requestRecord(fd, Hal::kDisable, disable.b, 4), 0);

  EXPECT_EQ(board().command("hal seen 5 0x3a"), "");
  EXPECT_EQ(board().command("hal channel 8200 8202"),
            "8200 listen 5 seen 0x3A\n8201 disabled seen 0xFF\n8202 untouched seen 0xFF\n");
  EXPECT_EQ(board().command("hal channel 5"), "5 untouched seen 0x3A (set)\n");
  EXPECT_EQ(board().command("hal spi reg 1 0x33 0x85"), "");
  EXPECT_EQ(board().hal().reg(1, 0x33), 0x85);
  EXPECT_EQ(board().command("hal spi reg 1 0x33"), "0x85\n");
  EXPECT_EQ(board().command("hal spi present off"), "");
  EXPECT_FALSE(board().hal().spiPresent());
  EXPECT_EQ(board().command("hal spi"), "absent\n");
  EXPECT_EQ(board().command("hal clock"), "clock none\n");

  std::string log = board().command("log 0x80044D03");
  EXPECT_TRUE(contains(log, "0x80044D03 disable ch=8201 = 0\n")) << log;
  EXPECT_FALSE(contains(log, "connect")) << log;
  EXPECT_EQ(board().command("log clear"), "");
  EXPECT_EQ(board().command("log"), "");

  EXPECT_EQ(board().command("fail request 0x80044D03 ENODEV once hal"), "");
  EXPECT_EQ(board().command("fail list"), "request 0x80044D03 ENODEV once /dev/hal\n");
  EXPECT_EQ(Device::requestRecord(fd, Hal::kDisable, disable.b, 4), -1);
  EXPECT_EQ(errno, ENODEV);
  EXPECT_EQ(board().command("fail list"), "");
  EXPECT_EQ(board().command("fail open /dev/hal 13"), "");
  EXPECT_EQ(Device::open("/dev/hal", O_RDWR), -1);
  EXPECT_EQ(errno, EACCES);
  EXPECT_EQ(board().command("fail clear"), "");
  // A name the board does not know would never fire: refused, with the
  // names it knows (a device's path is taken as well).
  const std::string known =
      " (known: cas dsp dspdata dtmf hal maintenance mcc mctl mixer netif rtp rtpext voice)\n";
  EXPECT_EQ(board().command("fail open rtp_ext ENODEV"), "error: unknown device rtp_ext" + known);
  EXPECT_EQ(board().command("fail request 0x1 ENODEV once /dev/rtpext"), "error: unknown device /dev/rtpext" + known);
  EXPECT_EQ(board().command("fail list"), "");
  EXPECT_EQ(board().command("fail open rtpext ENODEV once"), "");
  EXPECT_EQ(board().command("fail open /dev/rtp_ext ENODEV"), "");
  EXPECT_EQ(board().command("fail list"), "open /dev/rtp_ext ENODEV always\n");
  EXPECT_EQ(board().command("fail clear"), "");

  EXPECT_TRUE(contains(board().command("sessions"), " /dev/hal O_RDWR pending=0 draining=on\n"));
  EXPECT_EQ(board().command("bogus").rfind("error: ", 0), 0u);
  EXPECT_EQ(board().command("hal channel x").rfind("error: ", 0), 0u);
  EXPECT_EQ(board().command("hal frobnicate").rfind("error: ", 0), 0u);
  EXPECT_EQ(board().command("fail request 0x1 ENOSUCH").rfind("error: ", 0), 0u);
  EXPECT_EQ(board().command("").rfind("error: ", 0), 0u);
  Device::close(fd);
}

TEST_F(StandInTest, MccCommands) {
  board().mcc().setCapacity(Mcc::Ss7, 32);
  EXPECT_EQ(board().command("mcc pool ss7 3"), "");
  EXPECT_EQ(board().mcc().capacity(Mcc::Ss7), 3u);
  int fd = Device::open("/dev/mcc/ctl", O_RDWR | O_NONBLOCK);
  testboard::Words<5> rec({Mcc::Ss7, 512, 0, 1, 4});
  ASSERT_EQ(Device::requestRecord(fd, Mcc::kAllocate, rec.b, 20), 0);
  int ch = Device::requestValue(fd, Mcc::kTimeslot, 0);
  std::string c = std::to_string(ch);
  EXPECT_TRUE(contains(board().command("mcc pools"), "ss7 capacity=3 used=1\n"));
  std::string list = board().command("mcc list");
  EXPECT_TRUE(contains(list, c + " s")) << list;
  EXPECT_TRUE(contains(list, "type=3 rxPacketSize=512 reserved=0 rxThreshold=1 txThreshold=4 "
                             "captured=0 pending=0 draining=on\n"))
      << list;

  ASSERT_EQ(Device::write(fd, "\x7E\x01", 2), 2);
  EXPECT_EQ(board().command("mcc captured " + c), "7E01\n");
  EXPECT_EQ(board().command("mcc captured " + c + " take"), "7E01\n");
  EXPECT_EQ(board().command("mcc captured " + c), "");
  EXPECT_EQ(board().command("mcc inject " + c + " 0a0B ff"), "");
  char buf[64];
  ASSERT_EQ(Device::read(fd, buf, sizeof buf), 3);
  EXPECT_EQ(std::string(buf, 3), "\x0A\x0B\xFF");
  EXPECT_EQ(board().command("mcc inject " + c + " 0a0"), "error: bad hexadecimal bytes\n");
  EXPECT_EQ(board().command("mcc inject 1 00"), "error: no channel 1\n");
  EXPECT_EQ(board().command("mcc drain " + c + " off"), "");
  EXPECT_TRUE(contains(board().command("mcc list"), "draining=off"));
  EXPECT_EQ(board().command("mcc sever " + c), "");
  EXPECT_EQ(board().command("mcc list"), "");
  Device::close(fd);
}

TEST_F(StandInTest, QvboardDrivesTheControlSocket) {
  ASSERT_FALSE(board().controlPath().empty());
  EXPECT_EQ(board().controlPath(), testboard::tempRoot() + "/var/run/standin.ctl");
  int fd = Device::open("/dev/hal", O_RDWR);
  ASSERT_GE(fd, 0);
  testboard::Words<2> connect({8300, 33});
  ASSERT_EQ(Device::requestRecord(fd, Hal::kConnect, connect.b, 8), 0);

  auto r = qvboard("hal spi reg 2 0x33 0xC5");
  EXPECT_EQ(r.second, 0) << r.first;
  EXPECT_EQ(r.first, "");
  EXPECT_EQ(board().hal().reg(2, 0x33), 0xC5);

  r = qvboard("log 0x80084D02");
  EXPECT_EQ(r.second, 0);
  EXPECT_TRUE(contains(r.first, "/dev/hal s")) << r.first;
  EXPECT_TRUE(contains(r.first, "0x80084D02 connect dst=8300 src=33 = 0\n")) << r.first;

  r = qvboard("hal channel 8300");
  EXPECT_EQ(r, std::make_pair(std::string("8300 listen 33 seen 0xFF\n"), 0));

  r = qvboard("no such command");
  EXPECT_EQ(r.second, 1);
  EXPECT_EQ(r.first.rfind("error: unknown command no", 0), 0u) << r.first;

  r = qvboard("help");
  EXPECT_EQ(r.second, 0);
  EXPECT_TRUE(contains(r.first, "mcc inject CH HEX")) << r.first;

  r = qvboard("-s " + testboard::tempRoot() + "/nowhere.ctl help");
  EXPECT_EQ(r.second, 2);
  Device::close(fd);
}

TEST_F(StandInTest, QvboardInjectsAFrameTheDaemonReads) {
  int fd = Device::open("/dev/mcc/ctl", O_RDWR | O_NONBLOCK);
  testboard::Words<5> rec({Mcc::Data, 512, 0, 1, 1});
  ASSERT_EQ(Device::requestRecord(fd, Mcc::kAllocate, rec.b, 20), 0);
  int ch = Device::requestValue(fd, Mcc::kTimeslot, 0);
  auto r = qvboard("mcc inject " + std::to_string(ch) + " 010203");
  EXPECT_EQ(r.second, 0) << r.first;
  pollfd p{fd, POLLIN, 0};
  ASSERT_EQ(::poll(&p, 1, 2000), 1);
  char buf[16];
  ASSERT_EQ(Device::read(fd, buf, sizeof buf), 3);
  EXPECT_EQ(std::string(buf, 3), "\x01\x02\x03");
  Device::close(fd);
  r = qvboard("mcc list");
  EXPECT_EQ(r, std::make_pair(std::string(""), 0));
}

// The control socket makes answers as the client reads them: a client that
// sends many long commands and reads nothing holds the board to a bounded
// amount of answer and leaves its later commands unread; a log answer shows
// the newest requests only; and the line limit is per line, so that many
// short commands in one go are all answered.
TEST_F(StandInTest, TheControlSocketStreamsItsAnswersWithinBounds) {
  int fd = Device::open("/dev/hal", O_RDWR);
  ASSERT_GE(fd, 0);
  const size_t requests = Board::StandIn::kLogAnswerLimit + 5;
  for (size_t i = 0; i < requests; ++i) {
    testboard::Words<2> connect({8200, uint32_t(i % 4096)});
    ASSERT_EQ(Device::requestRecord(fd, Hal::kConnect, connect.b, 8), 0);
  }
  Device::close(fd);

  ControlClient a(board().controlPath());
  ASSERT_TRUE(a.ok());
  const std::string log = a.exchange("log 0x80084D02\n", 1);
  ASSERT_EQ(lines(log), 1 + Board::StandIn::kLogAnswerLimit + 1);
  EXPECT_EQ(log.rfind("(5 older requests not shown)\n", 0), 0u);
  // The sixth request is the first shown.
  const size_t second = log.find('\n') + 1;
  EXPECT_TRUE(contains(log.substr(second, log.find('\n', second) - second), "connect dst=8200 src=5 = 0"));

  // 2000 commands of about 700 KB of answer each, not read: the board
  // takes the first 4096 octets of them, makes answers until 256 KiB wait,
  // and leaves the rest in the socket.
  ControlClient b(board().controlPath());
  std::string many;
  for (int i = 0; i < 2000; ++i) many += "log\n";
  ASSERT_EQ(b.sendNow(many), many.size());
  // Two round trips of another client: the board has served b since.
  EXPECT_EQ(a.exchange("fail list\n", 1), ".\n");
  EXPECT_EQ(a.exchange("fail list\n", 1), ".\n");
  EXPECT_GE(b.unread(), int(many.size() - 4096));
  b.close();

  // 20000 short commands in one go (200 KB, more than any line may be):
  // every one answered.
  std::string pipelined;
  for (int i = 0; i < 20000; ++i) pipelined += "fail list\n";
  ControlClient c(board().controlPath());
  const std::string answers = c.exchange(pipelined, 20000);
  EXPECT_FALSE(c.eof);
  std::string expected;
  for (int i = 0; i < 20000; ++i) expected += ".\n";
  EXPECT_EQ(answers, expected);

  // A client that sends its commands and ends its side gets every answer
  // before the board closes.
  ControlClient e(board().controlPath());
  ASSERT_EQ(e.sendNow(pipelined.substr(0, 2000)), 2000u);
  e.finish();
  EXPECT_EQ(e.exchange("", 201), expected.substr(0, 400));
  EXPECT_TRUE(e.eof);

  // One line longer than 64 KiB ends the connection.
  ControlClient d(board().controlPath());
  d.exchange(std::string(70000, 'x'), 1);
  EXPECT_TRUE(d.eof);
}

// Out of descriptors, a client of the control socket is closed at once
// instead of being left waiting while the board's thread spins on the
// listener; once descriptors are back, clients are served again.
TEST_F(StandInTest, OutOfDescriptorsTheControlSocketClosesNewClients) {
  DESCRIPTOR_LIMIT_SKIP_UNDER_SANITIZERS();
  ASSERT_FALSE(board().controlPath().empty());
  {
    DescriptorLimit table;
    table.give(1);
    ControlClient c(board().controlPath());
    ASSERT_TRUE(c.ok());
    c.exchange("", 1);
    EXPECT_TRUE(c.eof);
  }
  ControlClient c(board().controlPath());
  EXPECT_EQ(c.exchange("fail list\n", 1), ".\n");
}

}  // namespace
