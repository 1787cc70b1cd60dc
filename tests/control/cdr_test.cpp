// The UDP record sender, read back from loopback sockets.
#include "control/CDRSender.h"
#include "ControlTestUtil.h"

#include <gtest/gtest.h>

using namespace ctl_test;

namespace {

// A UDP socket on a loopback port of its own.
struct Receiver {
  Receiver() {
    fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    socklen_t len = sizeof a;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    port = ntohs(a.sin_port);
  }
  ~Receiver() { ::close(fd); }
  std::string at() const { return "127.0.0.1:" + std::to_string(port); }
  // The datagrams that arrive within the wait, each whole.
  std::vector<std::string> take(int wait_ms = 500) {
    std::vector<std::string> r;
    pollfd p{fd, POLLIN, 0};
    while (::poll(&p, 1, r.empty() ? wait_ms : 50) == 1) {
      char buf[70000];
      const ssize_t n = ::recv(fd, buf, sizeof buf, MSG_TRUNC);
      if (n < 0) break;
      r.push_back(std::string(buf, static_cast<size_t>(n)));
    }
    return r;
  }
  int fd;
  int port;
};

}  // namespace

TEST(CdrSender, EachDestinationGetsTheRecordAsOneDatagram) {
  CDR_Sender::Sender s;
  ASSERT_TRUE(s.valid());
  Receiver a, b;
  std::string record = "CDR 1;from=100;to=200;dur=35\n";
  const std::string copy = record;
  ASSERT_TRUE(s.SendTo(record, "  " + a.at() + "   \n\t" + b.at() + "\n"));
  EXPECT_EQ(record, copy);
  EXPECT_EQ(a.take(), std::vector<std::string>{copy});
  EXPECT_EQ(b.take(), std::vector<std::string>{copy});

  // Listed twice: twice, in order, with the empty record as an empty
  // datagram.
  std::string empty;
  ASSERT_TRUE(s.SendTo(record, a.at() + " " + a.at()));
  ASSERT_TRUE(s.SendTo(empty, a.at()));
  EXPECT_EQ(a.take(), (std::vector<std::string>{copy, copy, ""}));
}

TEST(CdrSender, NoDestinationsOrBadOnesSendNothingElsewhere) {
  CDR_Sender::Sender s;
  Receiver a;
  std::string record = "x";
  EXPECT_TRUE(s.SendTo(record, ""));
  EXPECT_TRUE(s.SendTo(record, " \n\t "));
  // A word that is no address would have gone to 0.0.0.0, this very host.
  EXPECT_TRUE(s.SendTo(record, "collector:" + std::to_string(a.port)));
  EXPECT_TRUE(a.take(100).empty());
  // Without a port the record goes to port 0, which fails; the next
  // destination is still served.
  EXPECT_TRUE(s.SendTo(record, "127.0.0.1 " + a.at()));
  EXPECT_EQ(a.take(), std::vector<std::string>{"x"});
}
