// Asynchronous copy and connect driven through the loop one pass at a time
// (manual test clock: no pass ever sleeps). Connections use loopback only.
#include "runtime/ASync.h"
#include "runtime/TestClock.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <memory>
#include <string>
#include <vector>

// Descriptors of one file (by inode) can be made to fail: reads with EIO,
// writes with a result of 0, which no ordinary kernel object gives. Every
// other descriptor goes straight to the system.
namespace {
ino_t g_read_eio_ino = 0;
ino_t g_write_zero_ino = 0;

bool is_ino(int fd, ino_t ino) {
  if (ino == 0) return false;
  struct stat st;
  return fstat(fd, &st) == 0 && st.st_ino == ino;
}

ino_t ino_of(int fd) {
  struct stat st;
  fstat(fd, &st);
  return st.st_ino;
}
}  // namespace

extern "C" ssize_t read(int fd, void* buf, size_t n) {
  if (is_ino(fd, g_read_eio_ino)) {
    errno = EIO;
    return -1;
  }
  return syscall(SYS_read, fd, buf, n);
}

extern "C" ssize_t write(int fd, const void* buf, size_t n) {
  if (is_ino(fd, g_write_zero_ino)) return 0;
  return syscall(SYS_write, fd, buf, n);
}

namespace {

using CopyStatus = ASync::Copy::Status;
using ConnStatus = ASync::Connect::Status;

struct Pipe {
  Pipe() {
    int p[2];
    if (pipe2(p, O_NONBLOCK | O_CLOEXEC) != 0) std::abort();
    rd = Fd(p[0]);
    wr = Fd(p[1]);
  }
  std::string drain() {
    std::string out;
    char buf[4096];
    long n;
    while ((n = ::read(rd.lowlevel_fd(), buf, sizeof buf)) > 0) out.append(buf, static_cast<size_t>(n));
    return out;
  }
  void put(const std::string& s) {
    if (::write(wr.lowlevel_fd(), s.data(), s.size()) != static_cast<ssize_t>(s.size())) std::abort();
  }
  Fd rd, wr;
};

class CopyTest : public ::testing::Test {
protected:
  CopyTest() : clock_(Mux::TestClock::Manual) {
    signal(SIGPIPE, SIG_IGN);
    copy_.Bind(&CopyTest::done, this);
    keep_.set(3600000, &CopyTest::idle, this);
  }
  ~CopyTest() override {
    g_read_eio_ino = 0;
    g_write_zero_ino = 0;
  }
  void done(CopyStatus::Type s) { statuses_.push_back(s); }
  // A far timer: a pass without any handler left is not a hang.
  void idle() {}
  void passes(int n) {
    for (int i = 0; i < n; ++i) multiplexer.run_once();
  }
  void flush_mask(int mask) {
    ASync::Copy::EventsParams e;
    e.flush = mask;
    copy_.set_events(e);
  }

  Mux::TestClock clock_;
  Timer keep_;
  ASync::Copy copy_;
  std::vector<int> statuses_;
};

TEST_F(CopyTest, DefaultsAndIdleSettingsReportNothing) {
  EXPECT_EQ(copy_.state(), CopyStatus::Idle);
  EXPECT_EQ(copy_.events().source, POLLIN);
  EXPECT_EQ(copy_.events().destination, POLLOUT);
  EXPECT_EQ(copy_.events().flush, 256);
  EXPECT_EQ(copy_.bufsize(), 1024u);
  flush_mask(0);
  copy_.set_bufsize(8192);
  EXPECT_EQ(copy_.bufsize(), 8192u);
  EXPECT_EQ(copy_.events().flush, 0);
  EXPECT_TRUE(statuses_.empty());
  copy_.Stop();  // idle: nothing
  EXPECT_TRUE(statuses_.empty());
}

TEST_F(CopyTest, SourceAtEndWithFlushMaskZeroCompletesAtOnce) {
  flush_mask(0);
  Pipe src, dst;
  src.wr.close();
  copy_.Start(src.rd, dst.wr);
  EXPECT_EQ(statuses_, std::vector<int>{CopyStatus::Done});
  EXPECT_EQ(copy_.count(), 0u);
  EXPECT_EQ(dst.drain(), "");
  // Completion closed the copy's duplicates: the destination has no other
  // writer than ours.
  dst.wr.close();
  char c;
  EXPECT_EQ(::read(dst.rd.lowlevel_fd(), &c, 1), 0);
}

TEST_F(CopyTest, SourceAtEndWithDefaultMaskWaitsForTheFlushEvent) {
  Pipe src, dst;
  src.wr.close();
  copy_.Start(src.rd, dst.wr);
  EXPECT_EQ(copy_.state(), CopyStatus::Flushing);
  EXPECT_TRUE(statuses_.empty());
  copy_.Stop();  // flushing: nothing
  EXPECT_EQ(copy_.state(), CopyStatus::Flushing);
  passes(1);
  EXPECT_EQ(statuses_, std::vector<int>{CopyStatus::Done});
}

TEST_F(CopyTest, CopiesWhatArrivesUntilTheEnd) {
  flush_mask(0);
  Pipe src, dst;
  src.put("hello ");
  copy_.Start(src.rd, dst.wr);
  EXPECT_EQ(copy_.state(), CopyStatus::Running);
  EXPECT_EQ(dst.drain(), "hello ");
  passes(2);
  EXPECT_TRUE(statuses_.empty());
  src.put("world");
  passes(1);
  EXPECT_EQ(dst.drain(), "world");
  src.wr.close();
  passes(1);
  EXPECT_EQ(statuses_, std::vector<int>{CopyStatus::Done});
  EXPECT_EQ(copy_.count(), 11u);
  EXPECT_EQ(copy_.state(), CopyStatus::Done);
  // Late events are ignored.
  copy_.OnDstEvent(-1, POLLOUT | POLLWRNORM);
  copy_.OnSrcEvent(-1, POLLIN);
  copy_.Stop();
  EXPECT_EQ(statuses_.size(), 1u);
}

TEST_F(CopyTest, SlowDestinationGetsEveryOctetInOrder) {
  // A file of 300000 octets into a pipe the test reads slowly.
  char path[] = "/tmp/qv-async-XXXXXX";
  int f = mkstemp(path);
  ASSERT_GE(f, 0);
  std::string data;
  for (int i = 0; i < 300000; ++i) data.push_back(static_cast<char>('a' + i % 26 + (i / 26) % 3));
  ASSERT_EQ(::write(f, data.data(), data.size()), static_cast<ssize_t>(data.size()));
  lseek(f, 0, SEEK_SET);
  Fd file(f);
  unlink(path);

  copy_.set_bufsize(8192);
  Pipe dst;
  copy_.Start(file, dst.wr);
  std::string got;
  for (int i = 0; i < 1000 && statuses_.empty(); ++i) {
    got += dst.drain();
    passes(1);
  }
  got += dst.drain();
  EXPECT_EQ(statuses_, std::vector<int>{CopyStatus::Done});
  EXPECT_EQ(copy_.count(), data.size());
  EXPECT_TRUE(got == data);
}

TEST_F(CopyTest, StopWritesWhatIsBufferedThenAppliesTheFlushRule) {
  flush_mask(0);
  Pipe src, dst;
  // Fill the destination so that the next buffer stays pending.
  std::string filler(65536, 'f');
  ssize_t filled = ::write(dst.wr.lowlevel_fd(), filler.data(), filler.size());
  ASSERT_GT(filled, 0);
  src.put("pending");
  copy_.Start(src.rd, dst.wr);
  EXPECT_EQ(copy_.state(), CopyStatus::Running);
  copy_.Stop();
  EXPECT_EQ(copy_.state(), CopyStatus::Draining);
  copy_.Stop();  // draining: nothing
  EXPECT_TRUE(statuses_.empty());
  src.put("never");  // the source is closed: this stays in the pipe
  std::string got = dst.drain();
  passes(1);
  got += dst.drain();
  EXPECT_EQ(statuses_, std::vector<int>{CopyStatus::Done});
  EXPECT_EQ(got, filler.substr(0, static_cast<size_t>(filled)) + "pending");
  EXPECT_EQ(src.drain(), "never");
}

TEST_F(CopyTest, StopWhileWaitingForTheSourceEndsTheCopy) {
  Pipe src, dst;
  copy_.Start(src.rd, dst.wr);
  copy_.Stop();
  EXPECT_EQ(copy_.state(), CopyStatus::Flushing);
  passes(1);
  EXPECT_EQ(statuses_, std::vector<int>{CopyStatus::Done});
}

TEST_F(CopyTest, SettingsChangedWhileRunningEndTheCopy) {
  Pipe src, dst;
  copy_.Start(src.rd, dst.wr);
  copy_.set_bufsize(64);
  EXPECT_EQ(statuses_, std::vector<int>{CopyStatus::Changed});
  // The copy is reusable, with the new settings.
  copy_.Start(src.rd, dst.wr);
  ASync::Copy::EventsParams e;
  copy_.set_events(e);
  EXPECT_EQ(statuses_, (std::vector<int>{CopyStatus::Changed, CopyStatus::Changed}));
  EXPECT_EQ(copy_.bufsize(), 64u);
}

TEST_F(CopyTest, DestinationWriteOfZeroFails) {
  Pipe src, dst;
  g_write_zero_ino = ino_of(dst.wr.lowlevel_fd());
  src.put("data");
  copy_.Start(src.rd, dst.wr);
  EXPECT_EQ(statuses_, std::vector<int>{CopyStatus::Failed});
  EXPECT_EQ(copy_.error(), 0);
  EXPECT_EQ(copy_.count(), 0u);
}

TEST_F(CopyTest, DestinationWriteErrorKeepsErrno) {
  Pipe src, dst;
  dst.rd.close();
  src.put("data");
  copy_.Start(src.rd, dst.wr);
  EXPECT_EQ(statuses_, std::vector<int>{CopyStatus::Failed});
  EXPECT_EQ(copy_.error(), EPIPE);
}

TEST_F(CopyTest, DestinationErrorEventsFail) {
  Pipe src, dst;
  copy_.Start(src.rd, dst.wr);
  dst.rd.close();  // the write end now polls POLLERR
  passes(1);
  EXPECT_EQ(statuses_, std::vector<int>{CopyStatus::Failed});
  EXPECT_EQ(copy_.error(), 0);
}

TEST_F(CopyTest, SourceReadErrorBeforeAnyOctetFails) {
  Pipe src, dst;
  g_read_eio_ino = ino_of(src.rd.lowlevel_fd());
  src.put("data");
  copy_.Start(src.rd, dst.wr);
  EXPECT_EQ(statuses_, std::vector<int>{CopyStatus::Failed});
  EXPECT_EQ(copy_.error(), 0);
}

TEST_F(CopyTest, SourceReadErrorAfterOctetsIsTheEnd) {
  flush_mask(0);
  Pipe src, dst;
  src.put("abc");
  copy_.Start(src.rd, dst.wr);
  EXPECT_EQ(dst.drain(), "abc");
  g_read_eio_ino = ino_of(src.rd.lowlevel_fd());
  src.put("x");  // wakes the source event; the read then fails
  passes(1);
  EXPECT_EQ(statuses_, std::vector<int>{CopyStatus::Done});
  EXPECT_EQ(copy_.count(), 3u);
}

TEST_F(CopyTest, SourceHangUpReadsTheRest) {
  flush_mask(0);
  Pipe src, dst;
  // The destination is full, so the source event waits with an empty mask.
  std::string filler(65536, 'f');
  ssize_t filled = ::write(dst.wr.lowlevel_fd(), filler.data(), filler.size());
  ASSERT_GT(filled, 0);
  src.put("tail");
  copy_.Start(src.rd, dst.wr);
  src.wr.close();  // POLLHUP on the source
  passes(1);
  EXPECT_TRUE(statuses_.empty());
  std::string got = dst.drain();
  passes(2);
  got += dst.drain();
  EXPECT_EQ(statuses_, std::vector<int>{CopyStatus::Done});
  EXPECT_EQ(got.substr(static_cast<size_t>(filled)), "tail");
}

struct SelfDestroying {
  std::unique_ptr<ASync::Copy> copy{new ASync::Copy};
  int calls = 0;
  void done(CopyStatus::Type) {
    ++calls;
    copy.reset();
  }
};

TEST_F(CopyTest, HandlerMayDestroyTheCopy) {
  SelfDestroying owner;
  owner.copy->Bind(&SelfDestroying::done, &owner);
  Pipe src, dst;
  owner.copy->Start(src.rd, dst.wr);
  src.wr.close();
  passes(2);  // end of source, then the flush event
  EXPECT_EQ(owner.calls, 1);
  EXPECT_FALSE(owner.copy);
}

// ---------------------------------------------------------------- Connect

// A loopback listener on a port of the system's choice.
struct Listener {
  explicit Listener(int backlog = 4) {
    fd = Fd(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (bind(fd.lowlevel_fd(), reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) std::abort();
    socklen_t n = sizeof a;
    getsockname(fd.lowlevel_fd(), reinterpret_cast<sockaddr*>(&a), &n);
    port = ntohs(a.sin_port);
    listen(fd.lowlevel_fd(), backlog);
  }
  std::string address() const { return "127.0.0.1:" + std::to_string(port); }
  bool pending(int timeout_ms = 100) const {
    pollfd p{fd.lowlevel_fd(), POLLIN, 0};
    return poll(&p, 1, timeout_ms) == 1;
  }
  Fd fd;
  int port = 0;
};

class ConnectTest : public ::testing::Test {
protected:
  ConnectTest() : clock_(Mux::TestClock::Manual) {
    connect_.Bind(&ConnectTest::done, this);
    keep_.set(3600000, &ConnectTest::idle, this);
  }
  void idle() {}
  void done(ConnStatus::Type s, Fd fd) {
    statuses_.push_back(s);
    fd_ = fd;
  }
  // Passes until the handler is called (the kernel answers on loopback).
  void until_done(size_t count = 1) {
    for (int i = 0; i < 200 && statuses_.size() < count; ++i) {
      multiplexer.run_once();
      if (statuses_.size() < count) usleep(1000);
    }
  }

  Mux::TestClock clock_;
  Timer keep_;
  ASync::Connect connect_;
  std::vector<int> statuses_;
  Fd fd_;
};

TEST_F(ConnectTest, SuccessHandsOverTheOnlyDescriptor) {
  Listener l;
  connect_.Start(l.address(), 5000);
  until_done();
  ASSERT_EQ(statuses_, std::vector<int>{ConnStatus::Connected});
  ASSERT_TRUE(fd_.is_valid());
  EXPECT_EQ(connect_.state(), ConnStatus::Connected);
  EXPECT_FALSE(connect_.has_socket());

  Fd peer(accept4(l.fd.lowlevel_fd(), nullptr, nullptr, SOCK_CLOEXEC));
  ASSERT_TRUE(peer.is_valid());
  ASSERT_EQ(::write(fd_.lowlevel_fd(), "hi", 2), 2);
  char buf[8];
  ASSERT_EQ(::read(peer.lowlevel_fd(), buf, sizeof buf), 2);
  // The handler held the only descriptor: closing it ends the connection.
  fd_.close();
  pollfd p{peer.lowlevel_fd(), POLLIN, 0};
  ASSERT_EQ(poll(&p, 1, 1000), 1);
  EXPECT_EQ(::read(peer.lowlevel_fd(), buf, sizeof buf), 0);

  // Stop after the end changes nothing.
  connect_.Stop();
  EXPECT_EQ(statuses_.size(), 1u);
}

TEST_F(ConnectTest, ClosedPortIsRefused) {
  int port;
  {
    Listener l;
    port = l.port;
  }
  connect_.Start("127.0.0.1:" + std::to_string(port), 5000);
  until_done();
  EXPECT_EQ(statuses_, std::vector<int>{ConnStatus::Failed});
  EXPECT_FALSE(fd_.is_valid());
  EXPECT_EQ(clock_.elapsed_ms(), 0u);  // refused, not timed out
}

// A listener whose backlog is full drops further connection requests, so a
// connect to it stays in progress.
struct FullListener : Listener {
  FullListener() : Listener(0) {
    filler = Fd(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(static_cast<unsigned short>(port));
    connect(filler.lowlevel_fd(), reinterpret_cast<sockaddr*>(&a), sizeof a);
    pollfd p{filler.lowlevel_fd(), POLLOUT, 0};
    poll(&p, 1, 1000);
  }
  Fd filler;
};

TEST_F(ConnectTest, NoAnswerFailsAtTheTimeLimit) {
  FullListener l;
  connect_.Start(l.address(), 3000);
  EXPECT_EQ(connect_.state(), ConnStatus::Connecting);
  EXPECT_TRUE(connect_.has_socket());
  multiplexer.run_once();
  clock_.advance(2999);
  multiplexer.run_once();
  EXPECT_TRUE(statuses_.empty());
  clock_.advance(1);
  multiplexer.run_once();
  EXPECT_EQ(statuses_, std::vector<int>{ConnStatus::Failed});
  EXPECT_FALSE(fd_.is_valid());
  EXPECT_FALSE(connect_.has_socket());
}

TEST_F(ConnectTest, StopDuringTheAttempt) {
  FullListener l;
  connect_.Start(l.address(), 3000);
  multiplexer.run_once();
  connect_.Stop();
  EXPECT_EQ(statuses_, std::vector<int>{ConnStatus::Stopped});
  EXPECT_FALSE(fd_.is_valid());
  EXPECT_EQ(connect_.state(), ConnStatus::Stopped);
  // Neither the timer nor the socket reports afterwards.
  clock_.advance(5000);
  multiplexer.run_once();
  connect_.Stop();
  EXPECT_EQ(statuses_.size(), 1u);
}

TEST_F(ConnectTest, RestartStopsTheRunningAttempt) {
  FullListener full;
  Listener l;
  connect_.Start(full.address(), 3000);
  connect_.Start(l.address(), 3000);
  until_done(2);
  EXPECT_EQ(statuses_, (std::vector<int>{ConnStatus::Stopped, ConnStatus::Connected}));
  clock_.advance(5000);
  multiplexer.run_once();
  EXPECT_EQ(statuses_.size(), 2u);
}

TEST_F(ConnectTest, UnusableAddressTextNeverConnects) {
  Listener l;
  const std::string port = std::to_string(l.port);
  for (const std::string& text : {"localhost:" + port, "bogus:" + port, "300.1.2.3:" + port, ":" + port,
                                  "0.0.0.0:" + port, std::string("127.0.0.1"), std::string("")}) {
    statuses_.clear();
    connect_.Start(text, 5000);
    EXPECT_EQ(statuses_, std::vector<int>{ConnStatus::Failed}) << text;
    EXPECT_FALSE(connect_.has_socket());
  }
  EXPECT_FALSE(l.pending());
}

}  // namespace
