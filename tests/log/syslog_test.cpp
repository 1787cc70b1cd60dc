// The system-log client against a receiver of the test's own: message
// format, batches, the 1023 cut, the switch to a stream socket, and a
// receiver that stops reading.
#include "log/SysLog.h"
#include "log/LogTestUtil.h"
#include "runtime/TestClock.h"

#include <gtest/gtest.h>

#include <fstream>
#include <ostream>

using log_test::Receiver;
using log_test::split;

namespace {

// 1970-01-05 09:05:07 UTC: a day of month below 10 shows the blank padding.
const long kSeconds = 4 * 86400 + 9 * 3600 + 5 * 60 + 7;
const std::string kStamp = "Jan  5 09:05:07 ";

class SysLogTest : public ::testing::Test {
protected:
  SysLogTest() : clock_(Mux::TestClock::Manual, kSeconds) { root_.mkdirs("dev"); }
  std::string log_path() const { return root_.path("dev/log"); }

  rt_test::TempRoot root_;
  log_test::UtcZone zone_;
  Mux::TestClock clock_;
};

TEST_F(SysLogTest, MessageFormatPriorityAndFacility) {
  Receiver rx(log_path());
  SysLogManager m;
  EXPECT_EQ(m.identity(), "syslog-vx");
  m.openlog("qv-test", LOG_NDELAY, 0);
  ASSERT_TRUE(m.connected());
  EXPECT_EQ(m.socket_type(), SOCK_DGRAM);

  m.syslog(29, "hello %d", 5);
  m.syslog(LOG_ERR, "no facility");              // the default user (8) is added
  m.syslog(LOG_LOCAL2 | LOG_DEBUG, "%s", "%d");  // text taken as it is
  EXPECT_EQ(m.queued_messages(), 3);
  EXPECT_TRUE(rx.nothing());
  EXPECT_GT(m.sendmsg(), 0);
  EXPECT_EQ(m.queued_messages(), 0);
  EXPECT_EQ(m.queued_bytes(), 0u);

  std::string d;
  ASSERT_TRUE(rx.receive(d));
  EXPECT_EQ(d, "<29>" + kStamp + "qv-test: hello 5" + std::string(1, '\0') + "<11>" + kStamp +
                   "qv-test: no facility" + std::string(1, '\0') + "<151>" + kStamp + "qv-test: %d" +
                   std::string(1, '\0'));
  EXPECT_EQ(m.sendmsg(), 0);  // nothing queued, nothing sent
  EXPECT_TRUE(rx.nothing());
}

TEST_F(SysLogTest, DefaultFacilityPidAndEmptyIdentity) {
  Receiver rx(log_path());
  SysLogManager m;
  m.openlog("id", LOG_NDELAY | LOG_PID, LOG_LOCAL0);
  m.syslog(LOG_WARNING, "a");
  m.openlog(nullptr, LOG_NDELAY, 3);  // bits outside the facility field: ignored
  m.syslog(LOG_WARNING, "b");
  m.openlog("", LOG_NDELAY, 0);
  m.syslog(LOG_WARNING, "c");
  m.sendmsg();
  std::string d;
  ASSERT_TRUE(rx.receive(d));
  auto msgs = split(d);
  ASSERT_EQ(msgs.size(), 3u);
  EXPECT_EQ(msgs[0], "<132>" + kStamp + "id[" + std::to_string(getpid()) + "]: a");
  EXPECT_EQ(msgs[1], "<132>" + kStamp + "id: b");
  EXPECT_EQ(msgs[2], "<132>" + kStamp + "c");
}

TEST_F(SysLogTest, StampFollowsTheLoopClock) {
  Receiver rx(log_path());
  SysLogManager m;
  m.openlog("t", LOG_NDELAY, 0);
  clock_.set(1700000000, 999999);  // 2023-11-14 22:13:20 UTC
  m.syslog(30, "x");
  m.sendmsg();
  std::string d;
  ASSERT_TRUE(rx.receive(d));
  EXPECT_EQ(split(d).at(0), "<30>Nov 14 22:13:20 t: x");
}

TEST_F(SysLogTest, MaskedLevelIsNeitherFormattedNorSent) {
  Receiver rx(log_path());
  SysLogManager m;
  m.openlog("t", LOG_NDELAY, 0);
  EXPECT_EQ(m.setlogmask(0xFF & ~(1 << LOG_DEBUG)), 255);
  m.syslog(31, "debug");
  EXPECT_EQ(m.queued_messages(), 0);
  m.syslog(30, "info");
  EXPECT_EQ(m.queued_messages(), 1);
  m.sendmsg();
  std::string d;
  ASSERT_TRUE(rx.receive(d));
  EXPECT_EQ(split(d).size(), 1u);
}

TEST_F(SysLogTest, LongTextIsCutTo1023Characters) {
  Receiver rx(log_path());
  SysLogManager m;
  m.openlog("t", LOG_NDELAY, 0);
  m.syslog(29, "%s", std::string(2000, 'y').c_str());
  EXPECT_EQ(m.queued_bytes(), 1024u);
  m.sendmsg();
  std::string d;
  ASSERT_TRUE(rx.receive(d));
  ASSERT_EQ(d.size(), 1024u);
  EXPECT_EQ(d.back(), '\0');
  const std::string head = "<29>" + kStamp + "t: ";
  EXPECT_EQ(d.substr(0, head.size()), head);
  EXPECT_EQ(d.substr(head.size(), 1023 - head.size()), std::string(1023 - head.size(), 'y'));

  // An identity that fills the buffer leaves no room for the rest.
  m.openlog(std::string(1500, 'i').c_str(), LOG_NDELAY, 0);
  m.syslog(29, "text");
  m.sendmsg();
  ASSERT_TRUE(rx.receive(d));
  ASSERT_EQ(d.size(), 1024u);
  EXPECT_EQ(d.find("text"), std::string::npos);
}

TEST_F(SysLogTest, BatchLeavesPastTheHighWaterMark) {
  Receiver rx(log_path());
  SysLogManager m;
  m.openlog("t", LOG_NDELAY, 0);
  const std::string text(1500, 'z');  // every message 1024 bytes with its zero
  for (int i = 0; i < 12; ++i) m.syslog(29, "%s", text.c_str());
  EXPECT_EQ(m.queued_bytes(), 12u * 1024);  // 12288: not past the mark
  EXPECT_TRUE(rx.nothing());
  m.syslog(29, "%s", text.c_str());
  EXPECT_EQ(m.queued_messages(), 0);
  std::string d;
  ASSERT_TRUE(rx.receive(d));
  EXPECT_EQ(d.size(), 13u * 1024);
  EXPECT_EQ(split(d).size(), 13u);
}

TEST_F(SysLogTest, BatchLeavesAt256Messages) {
  Receiver rx(log_path());
  SysLogManager m;
  m.openlog("t", LOG_NDELAY, 0);
  for (int i = 0; i < 255; ++i) m.syslog(29, "%d", i);
  EXPECT_EQ(m.queued_messages(), 255);
  EXPECT_TRUE(rx.nothing());
  m.syslog(29, "last");
  EXPECT_EQ(m.queued_messages(), 0);
  std::string d;
  ASSERT_TRUE(rx.receive(d));
  auto msgs = split(d);
  ASSERT_EQ(msgs.size(), 256u);
  EXPECT_EQ(msgs[0], "<29>" + kStamp + "t: 0");
  EXPECT_EQ(msgs[254], "<29>" + kStamp + "t: 254");
  EXPECT_EQ(msgs[255], "<29>" + kStamp + "t: last");
}

TEST_F(SysLogTest, StreamSocketAfterProtocolTypeError) {
  Receiver rx(log_path(), SOCK_STREAM);
  SysLogManager m;
  m.openlog("t", LOG_NDELAY, 0);
  ASSERT_TRUE(m.connected());
  EXPECT_EQ(m.socket_type(), SOCK_STREAM);
  m.syslog(29, "one");
  m.syslog(29, "two");
  EXPECT_GT(m.sendmsg(), 0);
  std::string d;
  ASSERT_TRUE(rx.receive(d));
  EXPECT_EQ(split(d), (std::vector<std::string>{"<29>" + kStamp + "t: one", "<29>" + kStamp + "t: two"}));

  // closelog goes back to the datagram kind and drops what was queued.
  m.syslog(29, "dropped");
  m.closelog();
  EXPECT_FALSE(m.connected());
  EXPECT_EQ(m.fd(), -1);
  EXPECT_EQ(m.socket_type(), SOCK_DGRAM);
  EXPECT_EQ(m.queued_messages(), 0);
  EXPECT_EQ(m.identity(), "syslog-vx");
}

TEST_F(SysLogTest, NoReceiverNeitherBlocksNorFails) {
  SysLogManager m;
  m.openlog("t", LOG_NDELAY, 0);
  EXPECT_FALSE(m.connected());
  EXPECT_EQ(m.fd(), -1);
  for (int i = 0; i < 10; ++i) m.syslog(29, "lost %d", i);
  EXPECT_EQ(m.sendmsg(), 0);
  EXPECT_EQ(m.fd(), -1);

  // The next message after the receiver appears connects and goes out.
  Receiver rx(log_path());
  m.syslog(29, "found");
  EXPECT_TRUE(m.connected());
  m.sendmsg();
  std::string d;
  ASSERT_TRUE(rx.receive(d));
  EXPECT_EQ(split(d).at(0), "<29>" + kStamp + "t: found");
}

TEST_F(SysLogTest, ReceiverThatStopsReadingDoesNotStall) {
  Receiver rx(log_path());
  // In a child with a time limit: a blocking send would hang it.
  int rc = log_test::run_child(
      [] {
        SysLogManager m;
        m.openlog("t", LOG_NDELAY, 0);
        if (!m.connected()) return 3;
        int failed = 0;
        for (int i = 0; i < 2000; ++i) {
          m.syslog(29, "%s", std::string(900, 'q').c_str());
          if (m.sendmsg() < 0) ++failed;
          if (m.queued_messages() != 0) return 4;
        }
        return failed > 0 ? 0 : 5;
      },
      20000);
  EXPECT_EQ(rc, 0);
  // What the receiver holds arrived whole.
  std::string d;
  int got = 0;
  while (rx.receive(d, 0)) {
    ++got;
    EXPECT_EQ(split(d).size(), 1u);
  }
  EXPECT_GT(got, 0);
  EXPECT_LT(got, 2000);
}

TEST_F(SysLogTest, FailedSendReconnectsAndQueuesTheMessageAgain) {
  Receiver rx(log_path());
  SysLogManager m;
  m.openlog("t", LOG_NDELAY, 0);
  ASSERT_TRUE(m.connected());
  // Another sender fills the receiver's queue.
  int other = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  sockaddr_un a{};
  a.sun_family = AF_UNIX;
  std::strncpy(a.sun_path, log_path().c_str(), sizeof a.sun_path - 1);
  ASSERT_EQ(connect(other, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
  int filler = 0;
  while (send(other, "f", 2, MSG_DONTWAIT) == 2) ++filler;
  close(other);

  const std::string text(1500, 'r');
  for (int i = 0; i < 12; ++i) m.syslog(29, "%s", text.c_str());
  // The 13th message sends the batch: the send fails, the batch is dropped,
  // the client reconnects and queues this message alone.
  m.syslog(29, "again");
  EXPECT_TRUE(m.connected());
  EXPECT_EQ(m.queued_messages(), 1);

  std::string d;
  for (int i = 0; i < filler; ++i) ASSERT_TRUE(rx.receive(d, 0));
  EXPECT_TRUE(rx.nothing());
  EXPECT_GT(m.sendmsg(), 0);
  ASSERT_TRUE(rx.receive(d));
  EXPECT_EQ(split(d), std::vector<std::string>{"<29>" + kStamp + "t: again"});
}

// Without a receiver a message is written to the console when asked.
TEST_F(SysLogTest, ConsoleFallbackWithoutReceiver) {
  const std::string console = root_.path("dev/console");
  { std::ofstream(console.c_str()); }
  SysLogManager m;
  m.openlog("t", LOG_NDELAY | LOG_CONS, 0);
  EXPECT_FALSE(m.connected());
  m.syslog(29, "nobody %s", "listens");
  EXPECT_FALSE(m.connected());
  EXPECT_EQ(rt_test::read_file(console), kStamp + "t: nobody listens\r\n");

  // Without the option the console stays untouched.
  m.openlog(nullptr, LOG_NDELAY, 0);
  m.syslog(29, "quiet");
  EXPECT_EQ(rt_test::read_file(console), kStamp + "t: nobody listens\r\n");
}

// The system's log daemon restarts: a new socket is bound at the same path.
// What a flush sends while nobody listens is lost; later lines reach the
// new receiver, whichever kind of socket it is.
TEST_F(SysLogTest, ReceiverRestartLosesOnlyWhatWasSentMeanwhile) {
  for (int type : {SOCK_DGRAM, SOCK_STREAM}) {
    SCOPED_TRACE(type == SOCK_DGRAM ? "datagram" : "stream");
    SysLogManager m;
    std::string d;
    {
      Receiver first(log_path(), type);
      m.openlog("t", LOG_NDELAY, 0);
      ASSERT_TRUE(m.connected());
      m.syslog(29, "before");
      EXPECT_GT(m.sendmsg(), 0);
      ASSERT_TRUE(first.receive(d));
      EXPECT_EQ(split(d), std::vector<std::string>{"<29>" + kStamp + "t: before"});
    }
    m.syslog(29, "meanwhile");
    EXPECT_LT(m.sendmsg(), 0);

    Receiver second(log_path(), type);
    m.syslog(29, "after");
    EXPECT_GT(m.sendmsg(), 0);
    ASSERT_TRUE(second.receive(d));
    EXPECT_EQ(split(d), std::vector<std::string>{"<29>" + kStamp + "t: after"});
  }
}

// ---------------------------------------------------------------- stream buffers

class ManagedBufTest : public SysLogTest {
protected:
  ManagedBufTest() : rx_(log_path()) { syslogManager.openlog("qv-test", LOG_NDELAY, 0); }
  ~ManagedBufTest() override { syslogManager.closelog(); }
  std::vector<std::string> next() {
    std::string d;
    if (!rx_.receive(d)) return {"<nothing>"};
    return split(d);
  }
  std::string msg(const std::string& text, int pri = 29) { return "<" + std::to_string(pri) + ">" + kStamp + "qv-test: " + text; }
  Receiver rx_;
};

TEST_F(ManagedBufTest, OneFlushIsOneDatagram) {
  ManagedSysLogStreamBuf buf(LOG_DAEMON >> 3, LOG_NOTICE);
  EXPECT_EQ(buf.priority(), 29);
  std::ostream os(&buf);
  os << "word\n\nsecond\n" << std::flush;
  EXPECT_EQ(next(), (std::vector<std::string>{msg("word"), msg(""), msg("second")}));
  EXPECT_TRUE(rx_.nothing());

  // Text after the last line end goes too; a "%" is an ordinary character.
  os << "a 100%s\nb" << std::flush;
  EXPECT_EQ(next(), (std::vector<std::string>{msg("a 100%s"), msg("b")}));
}

TEST_F(ManagedBufTest, TextWithoutLineEndWaits) {
  ManagedSysLogStreamBuf buf(LOG_DAEMON >> 3, LOG_ERR);
  std::ostream os(&buf);
  os << "part" << std::flush;
  EXPECT_TRUE(rx_.nothing());
  os << " whole" << std::endl;
  EXPECT_EQ(next(), std::vector<std::string>{msg("part whole", 27)});
}

TEST_F(ManagedBufTest, LongLineLeavesWhenTheBufferFills) {
  ManagedSysLogStreamBuf buf(LOG_DAEMON >> 3, LOG_DEBUG);
  std::ostream os(&buf);
  os << std::string(20000, 'x') << std::flush;
  // The first 16383 characters leave as one message, cut on the wire.
  auto first = next();
  ASSERT_EQ(first.size(), 1u);
  EXPECT_EQ(first[0].size(), 1023u);
  EXPECT_EQ(first[0].substr(0, 4), "<31>");
  EXPECT_TRUE(rx_.nothing());  // the rest waits for a line end
  os << "\n" << std::flush;
  auto second = next();
  ASSERT_EQ(second.size(), 1u);
  // 3617 characters more, cut again.
  EXPECT_EQ(second[0], msg(std::string(1023 - msg("").size(), 'x'), 31));
}

TEST_F(ManagedBufTest, SetbufBelowTwoChangesNothing) {
  ManagedSysLogStreamBuf buf(LOG_DAEMON >> 3, LOG_NOTICE);
  std::ostream os(&buf);
  char tiny[1];
  EXPECT_EQ(buf.pubsetbuf(tiny, 1), &buf);
  os << "still\n" << std::flush;
  EXPECT_EQ(next(), std::vector<std::string>{msg("still")});

  // A small area: two usable bytes, lines leave as it fills.
  EXPECT_EQ(buf.pubsetbuf(new char[3], 3), &buf);
  os << "abcd" << std::flush;
  EXPECT_EQ(next(), std::vector<std::string>{msg("ab")});
  os << "\n" << std::flush;
  EXPECT_EQ(next(), std::vector<std::string>{msg("cd")});
}

TEST_F(ManagedBufTest, UnflushedTextIsLostAtDestruction) {
  {
    ManagedSysLogStreamBuf buf(LOG_DAEMON >> 3, LOG_NOTICE);
    std::ostream os(&buf);
    os << "never\n";
  }
  EXPECT_TRUE(rx_.nothing());
}

}  // namespace
