// The socket stream layer on a real loopback TCP connection.
#include "control/StrmProtocol.h"
#include "ControlTestUtil.h"
#include "runtime/TestClock.h"

#include <gtest/gtest.h>
#include <sys/ioctl.h>

#include <cstring>

using namespace ctl_test;

namespace {

struct StrmHarness : ProtocolsFamily {
  StrmHarness() {
    strm = new StrmProtocol;
    strm->service_name("test");
    add_protocol_tail(strm);
  }
  void on_message(Packet& p) override { up.push_back(Bytes(p.data(), p.data() + p.length())); }
  void on_activated(Protocol*) override { activated = true; }
  void on_deactivated(Protocol*, Protocol_status_ptr s) override {
    status.push_back(s->message());
    ok.push_back(s->success());
  }
  void write(const Bytes& b) {
    Packet p;
    prepare_head(p);
    std::memcpy(p.put(b.size()), b.data(), b.size());
    message(p);
  }

  StrmProtocol* strm;
  bool activated = false;
  std::vector<Bytes> up;
  std::vector<std::string> status;
  std::vector<bool> ok;
};

struct Connected : ::testing::Test {
  void SetUp() override {
    int fd = -1;
    tcp_pair(fd, peer);
    h.strm->attach(Fd(fd));
    h.activate();
  }
  Capture cap;
  Peer peer;
  StrmHarness h;
};

}  // namespace

TEST(Strm, ActivationWithoutASocketFails) {
  StrmHarness h;
  h.activate();
  EXPECT_FALSE(h.activated);
  ASSERT_EQ(h.status.size(), 1u);
  EXPECT_EQ(h.status[0], "fd not attached");
  EXPECT_FALSE(h.ok[0]);
}

TEST_F(Connected, ReceivedBytesGoUpOneChunkPerEvent) {
  EXPECT_TRUE(h.activated);
  ASSERT_TRUE(peer.send(bytes("hello")));
  ASSERT_TRUE(pump([&] { return !h.up.empty(); }));
  EXPECT_EQ(h.up[0], bytes("hello"));
  // Nothing pending: a spurious wake-up reads nothing and keeps the link.
  h.strm->on_event(h.strm->lowlevel_fd(), POLLIN);
  EXPECT_EQ(h.up.size(), 1u);
  EXPECT_TRUE(h.strm->opened());
  EXPECT_TRUE(h.status.empty());
  EXPECT_EQ(h.strm->get_read_measure().counter(), 2u);
}

TEST_F(Connected, HangUpWithDataPendingLosesTheData) {
  ASSERT_TRUE(peer.send(bytes("late")));
  usleep(20000);
  h.strm->on_event(h.strm->lowlevel_fd(), POLLIN | POLLHUP);
  EXPECT_TRUE(h.up.empty());
  EXPECT_FALSE(h.strm->opened());
  ASSERT_EQ(h.status.size(), 1u);
  EXPECT_EQ(h.status[0].rfind("pollhup: ", 0), 0u) << h.status[0];
  EXPECT_FALSE(h.ok[0]);
  EXPECT_TRUE(peer.closed());
}

TEST_F(Connected, PeerCloseIsAReadError) {
  peer.close();
  ASSERT_TRUE(pump([&] { return !h.status.empty(); }));
  EXPECT_EQ(h.status[0], "read error: connection closed by peer");
  EXPECT_FALSE(h.ok[0]);
  EXPECT_FALSE(h.strm->opened());
}

TEST_F(Connected, AResetIsAReadErrorWithItsText) {
  peer.abort();
  ASSERT_TRUE(pump([&] { return !h.status.empty(); }));
  EXPECT_TRUE(h.status[0] == "read error: Connection reset by peer" ||
              h.status[0].rfind("pollerr: ", 0) == 0 || h.status[0].rfind("pollhup: ", 0) == 0)
      << h.status[0];
}

TEST_F(Connected, WritesGoOutWholeAndOrderlyDeactivationCloses) {
  Bytes big(60000);
  for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<unsigned char>(i * 7);
  h.write(bytes("abc"));
  h.write(big);
  Bytes got = peer.recv(3 + big.size());
  ASSERT_EQ(got.size(), 3 + big.size());
  EXPECT_EQ(Bytes(got.begin(), got.begin() + 3), bytes("abc"));
  EXPECT_EQ(Bytes(got.begin() + 3, got.end()), big);
  EXPECT_EQ(h.strm->get_write_measure().counter(), 2u);

  h.deactivate();
  ASSERT_EQ(h.status.size(), 1u);
  EXPECT_EQ(h.status[0], "success");
  EXPECT_TRUE(h.ok[0]);
  EXPECT_TRUE(peer.closed());
}

TEST_F(Connected, QueueFiguresComeFromTheSystemRequests) {
  EXPECT_FALSE(h.strm->outq_is_free());  // Linux reports queued bytes
  EXPECT_GT(h.strm->sendbuf_space(), 0);
  EXPECT_GT(h.strm->recvbuf_space(), 0);
  EXPECT_EQ(h.strm->outq_space(), 0);
  EXPECT_EQ(h.strm->free_space(), h.strm->sendbuf_space());
  ASSERT_TRUE(peer.send(bytes("12345")));
  usleep(20000);
  EXPECT_EQ(h.strm->inq_space(), 5);
}

TEST(Strm, APeerThatStopsReadingTimesTheWriteOutAfterOneSecond) {
  Capture cap;
  Peer peer;
  int fd = -1;
  tcp_pair(fd, peer, 4096);
  const int small = 4096;
  ::setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &small, sizeof small);
  StrmHarness h;
  h.strm->attach(Fd(fd));
  h.activate();
  Bytes chunk(60000, 0x42);
  // On the test clock: the wait for room jumps the clock by what it waits.
  Mux::TestClock clock;
  for (int i = 0; i < 50 && h.status.empty(); ++i) h.write(chunk);
  ASSERT_EQ(h.status.size(), 1u);
  EXPECT_EQ(h.status[0], "write timeout");
  EXPECT_EQ(clock.elapsed_ms(), 1000u);
  EXPECT_EQ(h.strm->GetOverflowCounter(), 1u);
  EXPECT_FALSE(h.strm->opened());
  const std::string e = cap.err();
  EXPECT_EQ(e.rfind("SockStream[test]: write timeout, sendbuf=", 0), 0u) << e;
  EXPECT_NE(e.find(", recvbuf="), std::string::npos);
  EXPECT_NE(e.find(", free="), std::string::npos);
  EXPECT_NE(e.find(", inq=0, outq="), std::string::npos) << e;
  EXPECT_EQ(e.find("error="), std::string::npos);
}

TEST(Strm, AWriteToAResetConnectionIsAWriteError) {
  Capture cap;
  Peer peer;
  int fd = -1;
  tcp_pair(fd, peer);
  StrmHarness h;
  h.strm->attach(Fd(fd));
  h.activate();
  peer.abort();
  usleep(20000);
  h.write(bytes("x"));
  ASSERT_EQ(h.status.size(), 1u);
  EXPECT_EQ(h.status[0].rfind("write error: ", 0), 0u) << h.status[0];
  EXPECT_EQ(h.strm->GetOverflowCounter(), 1u);
  const std::string e = cap.err();
  EXPECT_EQ(e.rfind("SockStream[test]: write error, sendbuf=", 0), 0u) << e;
  EXPECT_NE(e.find(", error="), std::string::npos);
}
