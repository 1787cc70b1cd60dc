// The loop's status report: the three statistics, the profiling points and
// the table of polled descriptor events; the names of poll bits.
#include "log/MuxDump.h"
#include "log/Profile.h"
#include "runtime/Event.h"
#include "runtime/TestClock.h"
#include "runtime/Timer.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <sstream>
#include <vector>

namespace {

TEST(PollEventAsTextTest, NamesInBitOrderWithoutLeadingBar) {
  EXPECT_EQ(PollEventAsText(0), "");
  EXPECT_EQ(PollEventAsText(POLLIN), "POLLIN");
  EXPECT_EQ(PollEventAsText(POLLOUT | POLLIN), "POLLIN|POLLOUT");
  EXPECT_EQ(PollEventAsText(POLLHUP | POLLERR | POLLNVAL), "POLLERR|POLLHUP|POLLNVAL");
  EXPECT_EQ(PollEventAsText(0x7FF),
            "POLLIN|POLLPRI|POLLOUT|POLLERR|POLLHUP|POLLNVAL|POLLRDNORM|POLLRDBAND|POLLWRNORM|POLLWRBAND|POLLMSG");
  EXPECT_EQ(PollEventAsText(0x800 | 0x2000), "");                   // bits without a name
  EXPECT_EQ(PollEventAsText(static_cast<short>(0x8400)), "POLLMSG");  // a negative short
}

struct Owner {
  int calls = 0;
  void on_event(int, short) { ++calls; }
  void on_timer() {}
  void on_dpc() {}
};

// A handler without a name: polled, never listed.
class Anonymous : public EventHandler {
public:
  void shedule_event(pollfd& entry) override { entry.fd = -1; }
  void svc_event(short) override {}
};

std::string cell(const std::string& text, size_t w) {
  size_t n = std::min(text.size(), w);
  return "|" + std::string((w - n) / 2, ' ') + text + std::string((w - n + 1) / 2, ' ');
}

std::string row(const std::vector<std::string>& cells) {
  static const size_t widths[] = {40, 30, 10, 10, 5, 60};
  std::string out;
  for (size_t i = 0; i < cells.size(); ++i) out += cell(cells[i], widths[i]);
  return out + "|\n";
}

const std::string kRule = "+" + std::string(40, '-') + "+" + std::string(30, '-') + "+" + std::string(10, '-') + "+" +
                          std::string(10, '-') + "+" + std::string(5, '-') + "+" + std::string(60, '-') + "+\n";
const std::string kZero = "min=0 max=0 avg=0 counter=0";

bool endsWith(const std::string& s, const std::string& tail) {
  return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

TEST(MuxDumpTest, StatisticsPointsAndTableOfPolledEvents) {
  Mux::TestClock clock(Mux::TestClock::Manual);
  int p[2];
  ASSERT_EQ(pipe2(p, O_NONBLOCK | O_CLOEXEC), 0);
  Fd rd(p[0]), wr(p[1]);
  ASSERT_EQ(write(wr.lowlevel_fd(), "x", 1), 1);

  Owner owner;
  Event reader;
  reader.Bind("pipe reader", &Owner::on_event, &owner);
  reader.Schedule(rd, POLLIN | POLLPRI);
  Event idle;  // no callback, never ready
  idle.Schedule(wr, POLLIN);
  Anonymous anonymous;
  anonymous.mux_attach();
  Timer timer;
  timer.set(0, &Owner::on_timer, &owner);
  Dpc dpc;
  dpc.Bind(&owner, &Owner::on_dpc);
  dpc.Activate();
  Profile::Point point("dump point");
  // The process's loop keeps its statistics for the life of the process:
  // what this test's two passes add to them.
  const unsigned dpcs = multiplexer.dpc_measure().counter();
  const unsigned events = multiplexer.event_measure().counter();
  const unsigned timers = multiplexer.timer_measure().counter();

  ASSERT_TRUE(multiplexer.run_once());
  ASSERT_TRUE(multiplexer.run_once());
  EXPECT_EQ(owner.calls, 2);
  EXPECT_EQ(reader.counter(), 2u);
  EXPECT_EQ(idle.counter(), 0u);

  // Attached after the last poll set was built: not listed.
  Event late;
  late.Bind("late", &Owner::on_event, &owner);
  late.Schedule(rd, POLLIN);

  std::ostringstream os;
  DumpMultiplexer(os, multiplexer);
  std::istringstream in(os.str());
  std::string line;
  // The loop measures hold real samples: two runs of the deferred call per
  // pass, one timer, three handlers in each of two passes.
  std::getline(in, line);
  EXPECT_EQ(line.rfind("dpc transition measurement (min/max/cur/counter): min=", 0), 0u) << line;
  EXPECT_TRUE(endsWith(line, " counter=" + std::to_string(dpcs + 4))) << line;
  std::getline(in, line);
  EXPECT_EQ(line.rfind("event transition measurement (min/max/cur/counter): min=", 0), 0u) << line;
  EXPECT_TRUE(endsWith(line, " counter=" + std::to_string(events + 6))) << line;
  std::getline(in, line);
  EXPECT_EQ(line.rfind("timer transition measurement (min/max/cur/counter): min=", 0), 0u) << line;
  EXPECT_TRUE(endsWith(line, " counter=" + std::to_string(timers + 1))) << line;
  std::getline(in, line);
  EXPECT_EQ(line, "[dump point]: " + kZero);

  std::string rest((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const std::string expected = kRule + row({"name", "events", "count", "handler", "fd", "measure"}) + kRule +
                               row({"pipe reader", "POLLIN|POLLPRI", "2", "attached",
                                    std::to_string(reader.lowlevel_fd()), kZero}) +
                               row({"Unknown", "POLLIN", "0", "unattached", std::to_string(idle.lowlevel_fd()), kZero}) +
                               kRule + "\n";
  EXPECT_EQ(rest, expected);
  EXPECT_EQ(kRule.size(), 1u + 40 + 1 + 30 + 1 + 10 + 1 + 10 + 1 + 5 + 1 + 60 + 1 + 1);
}

TEST(MuxDumpTest, EmptyLoopHasHeaderAndRulesOnly) {
  Mux::TestClock clock(Mux::TestClock::Manual);
  // A loop of its own: the process's one has the passes of other tests.
  Multiplexer empty;
  std::ostringstream os;
  DumpMultiplexer(os, empty);
  EXPECT_EQ(os.str(),
            "dpc transition measurement (min/max/cur/counter): " + kZero + "\n" +
                "event transition measurement (min/max/cur/counter): " + kZero + "\n" +
                "timer transition measurement (min/max/cur/counter): " + kZero + "\n" + kRule +
                row({"name", "events", "count", "handler", "fd", "measure"}) + kRule + kRule + "\n");
}

}  // namespace
