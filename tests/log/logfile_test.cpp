// Hourly log files on the test clock, profiling points and trace blocks.
#include "log/LogFile.h"
#include "log/LogTestUtil.h"
#include "log/Profile.h"
#include "log/Trace.h"
#include "runtime/TestClock.h"

#include <gtest/gtest.h>

#include <ostream>
#include <sstream>
#include <sys/stat.h>

namespace {

// 2026-03-06 10:00:00 UTC.
const long kTenOClock = 1772791200;

class LogFileTest : public ::testing::Test {
protected:
  LogFileTest() : clock_(Mux::TestClock::Manual, kTenOClock) {}
  std::string file(const std::string& name) const { return rt_test::read_file(root_.path(name)); }
  bool exists(const std::string& name) const {
    struct stat st;
    return stat(root_.path(name).c_str(), &st) == 0;
  }

  rt_test::TempRoot root_;
  log_test::UtcZone zone_;
  Mux::TestClock clock_;
};

TEST_F(LogFileTest, LinesOfOneFlushShareTheirPrefix) {
  clock_.set(kTenOClock + 12 * 60 + 34, 42);
  {
    LogFileStreamBuf buf(root_.dir());
    EXPECT_EQ(buf.file_name(), root_.path("2026_03_06-10.log"));
    EXPECT_TRUE(buf.is_open());
    std::ostream os(&buf);
    os << "one\ntwo\n" << std::flush;
    clock_.advance_us(123456);
    os << std::string(40, 'L') << std::endl;
  }
  EXPECT_EQ(file("2026_03_06-10.log"), "12:34:00042: one\n12:34:00042: two\n12:34:123498: " + std::string(40, 'L') + "\n");
}

TEST_F(LogFileTest, LineSplitByAFlushContinuesWithoutPrefix) {
  {
    LogFileStreamBuf buf(root_.dir());
    std::ostream os(&buf);
    os << "abc" << std::flush;
    clock_.advance(1000);
    os << "def\nghi\n" << std::flush;
    clock_.advance(1000);
    os << "jk" << std::flush << "l\n" << std::flush;
  }
  EXPECT_EQ(file("2026_03_06-10.log"), "00:00:00000: abcdef\n00:01:00000: ghi\n00:02:00000: jkl\n");
}

TEST_F(LogFileTest, HourChangeOpensTheNextFile) {
  clock_.set(kTenOClock + 3599, 0);  // 10:59:59
  {
    LogFileStreamBuf buf(root_.dir());
    std::ostream os(&buf);
    os << "before" << std::endl;
    clock_.advance(2000);  // 11:00:01
    os << "after" << std::endl;
    EXPECT_EQ(buf.file_name(), root_.path("2026_03_06-11.log"));
    // The hour's file was closed, so its text is all there already.
    EXPECT_EQ(file("2026_03_06-10.log"), "59:59:00000: before\n");
  }
  EXPECT_EQ(file("2026_03_06-11.log"), "00:01:00000: after\n");
}

TEST_F(LogFileTest, SameHourNextDayIsAnotherFile) {
  {
    LogFileStreamBuf buf(root_.dir());
    std::ostream os(&buf);
    os << "day one" << std::endl;
    clock_.advance(24u * 3600 * 1000);
    os << "day two" << std::endl;
  }
  EXPECT_EQ(file("2026_03_06-10.log"), "00:00:00000: day one\n");
  EXPECT_EQ(file("2026_03_07-10.log"), "00:00:00000: day two\n");
}

TEST_F(LogFileTest, RestartWithinTheHourAppends) {
  {
    LogFileStreamBuf buf(root_.dir());
    std::ostream os(&buf);
    os << "first run" << std::endl;
  }
  clock_.advance(60000);
  {
    LogFileStreamBuf buf(root_.dir());
    std::ostream os(&buf);
    os << "second run" << std::endl;
  }
  EXPECT_EQ(file("2026_03_06-10.log"), "00:00:00000: first run\n01:00:00000: second run\n");
}

TEST_F(LogFileTest, LongLineHasOnePrefixAndUnflushedTextIsLost) {
  {
    LogFileStreamBuf buf(root_.dir());
    std::ostream os(&buf);
    os << std::string(100, 'x') << std::endl << "tail";  // more than the put area
  }
  // Written in pieces as the 16-character area filled; "tail" was still in
  // the area.
  EXPECT_EQ(file("2026_03_06-10.log"), "00:00:00000: " + std::string(100, 'x') + "\n");
}

TEST_F(LogFileTest, SetbufBelowTwoChangesNothing) {
  {
    LogFileStreamBuf buf(root_.dir());
    std::ostream os(&buf);
    char tiny[1];
    EXPECT_EQ(buf.pubsetbuf(tiny, 1), &buf);
    os << "ok" << std::endl;
    // A larger area of the caller's becomes the buffer's own.
    buf.pubsetbuf(new char[64], 64);
    os << std::string(50, 'y') << std::endl;
  }
  EXPECT_EQ(file("2026_03_06-10.log"), "00:00:00000: ok\n00:00:00000: " + std::string(50, 'y') + "\n");
}

TEST_F(LogFileTest, LongDirectoryAndMissingDirectory) {
  std::string rel = std::string(200, 'd') + "/" + std::string(200, 'e');
  root_.mkdirs(rel);
  {
    LogFileStreamBuf buf(root_.path(rel));
    std::ostream os(&buf);
    os << "deep" << std::endl;
  }
  EXPECT_EQ(file(rel + "/2026_03_06-10.log"), "00:00:00000: deep\n");

  // A directory that does not exist: text is dropped, nothing fails, and
  // the next hour tries again.
  LogFileStreamBuf buf(root_.path("missing"));
  EXPECT_FALSE(buf.is_open());
  std::ostream os(&buf);
  os << "dropped" << std::endl;
  EXPECT_TRUE(os.good());
  root_.mkdirs("missing");
  clock_.advance(3600000);
  os << "kept" << std::endl;
  EXPECT_TRUE(buf.is_open());
  buf.NewFile();  // closes, so the text is in the file
  EXPECT_EQ(file("missing/2026_03_06-11.log"), "00:00:00000: kept\n");
}

// ---------------------------------------------------------------- profiling

TEST(ProfileTest, PointKeepsMinMaxLatestAndCount) {
  Mux::TestClock clock(Mux::TestClock::Manual);
  Profile::Point p("step");
  std::ostringstream os;
  os << p;
  EXPECT_EQ(os.str(), "[step]: min=0 max=0 avg=0 counter=0");
  for (unsigned us : {5u, 3u, 9u}) {
    p.begin();
    clock.advance_us(us);
    p.end();
  }
  os.str("");
  os << p;
  EXPECT_EQ(os.str(), "[step]: min=3 max=9 avg=9 counter=3");
}

TEST(ProfileTest, ElapsedTimeAcrossTheCounterWrap) {
  Mux::TestClock clock(Mux::TestClock::Manual);
  clock.set(4294, 967290);  // microseconds() reads 2^32 - 6
  Profile::Point p("wrap");
  p.begin();
  clock.advance_us(10);
  p.end();
  EXPECT_EQ(p.current(), 10u);
}

TEST(ProfileTest, DumpListsNewestFirstAndUnlinksOnDestruction) {
  std::ostringstream os;
  Profile::dump(os);
  EXPECT_EQ(os.str(), "");
  Profile::Point a("A");
  auto* b = new Profile::Point("B");
  auto* c = new Profile::Point("C");
  os.str("");
  Profile::dump(os);
  EXPECT_EQ(os.str(),
            "[C]: min=0 max=0 avg=0 counter=0\n"
            "[B]: min=0 max=0 avg=0 counter=0\n"
            "[A]: min=0 max=0 avg=0 counter=0\n");
  // A point from the middle leaves the others linked.
  delete b;
  os.str("");
  Profile::dump(os);
  EXPECT_EQ(os.str(), "[C]: min=0 max=0 avg=0 counter=0\n[A]: min=0 max=0 avg=0 counter=0\n");
  delete c;
  EXPECT_EQ(Profile::mRoot, &a);
}

TEST(TraceTest, EnterAndLeaveLines) {
  std::ostringstream os;
  {
    Trace::Block t(true, "Slot::Configure", os);
    os << "inside\n";
  }
  EXPECT_EQ(os.str(), "Enter Slot::Configure\ninside\nLeave Slot::Configure\n");
  os.str("");
  { Trace::Block t(false, "quiet", os); }
  EXPECT_EQ(os.str(), "");
}

}  // namespace
