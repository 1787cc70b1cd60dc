// Daemon mode in a child process: the process detaches, its streams go to
// a system-log receiver under the test's root (or to log files), and the
// root still holds after the working directory moved to "/".
#include "log/Daemon.h"
#include "log/LogTestUtil.h"
#include "log/SysLog.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iostream>
#include <regex>

using log_test::Receiver;
using log_test::split;

namespace {

const char* kHeader = R"(<(\d+)>[A-Z][a-z]{2} [ 1-3]\d \d\d:\d\d:\d\d qvd-test: )";

// The priority and text of one message; empty priority when the header is
// not the system-log form.
std::pair<std::string, std::string> parse(const std::string& m) {
  std::smatch r;
  if (!std::regex_search(m, r, std::regex(std::string("^") + kHeader))) return {"", m};
  return {r[1].str(), m.substr(static_cast<size_t>(r.length(0)))};
}

TEST(DaemonTest, SystemLogModeSendsEveryStreamLineByLine) {
  rt_test::TempRoot root;
  root.mkdirs("dev");
  Receiver rx(root.path("dev/log"));

  int rc = log_test::run_child(
      [] {
        Daemon::Params p;
        if (p.mode != 0 || p.keepDirectory || p.name != "unknown") return 9;
        p.name = "qvd-test";
        Daemon::Init(p);
        // From here on this is the detached process.
        Daemon::Params other;
        other.mode = 1;
        Daemon::Init(other);  // later calls do nothing
        char cwd[256] = "";
        if (!getcwd(cwd, sizeof cwd)) cwd[0] = 0;
        std::cout << "word\n\nsecond\n" << std::flush;
        std::cerr << "error line" << std::endl;
        std::clog << "debug line" << std::endl;
        std::cout << "cwd=" << cwd << " sid=" << (getsid(0) == getpid()) << std::endl;
        // Raw writes on the standard descriptors reach the socket too.
        if (write(1, "raw", 3) != 3) _exit(7);
        _exit(0);
        return 0;
      },
      10000);
  // daemon() ends the child at once; the detached grandchild does the rest.
  ASSERT_EQ(rc, 0);

  std::string d;
  ASSERT_TRUE(rx.receive(d, 5000));
  auto m = split(d);
  ASSERT_EQ(m.size(), 3u) << d;
  EXPECT_EQ(parse(m[0]), std::make_pair(std::string("29"), std::string("word")));
  EXPECT_EQ(parse(m[1]), std::make_pair(std::string("29"), std::string("")));
  EXPECT_EQ(parse(m[2]), std::make_pair(std::string("29"), std::string("second")));
  ASSERT_TRUE(rx.receive(d, 5000));
  EXPECT_EQ(split(d).size(), 1u);
  EXPECT_EQ(parse(split(d).at(0)), std::make_pair(std::string("27"), std::string("error line")));
  ASSERT_TRUE(rx.receive(d, 5000));
  EXPECT_EQ(parse(split(d).at(0)), std::make_pair(std::string("31"), std::string("debug line")));
  ASSERT_TRUE(rx.receive(d, 5000));
  EXPECT_EQ(parse(split(d).at(0)), std::make_pair(std::string("29"), std::string("cwd=/ sid=1")));
  ASSERT_TRUE(rx.receive(d, 5000));
  EXPECT_EQ(d, "raw");
}

TEST(DaemonTest, LogFileModeWritesTheStreamsIntoTheDirectory) {
  rt_test::TempRoot root;
  root.mkdirs("logs");
  const std::string dir = root.path("logs");
  int rc = log_test::run_child(
      [dir] {
        Daemon::Params p;
        p.mode = 1;
        p.keepDirectory = true;
        p.name = dir;
        Daemon::Init(p);
        std::cout << "out line" << std::endl;
        std::cerr << "err line" << std::endl;
        std::clog << "log line" << std::endl;
        std::ofstream mark(dir + "/done");
        mark << "1";
        mark.close();
        // exit() ends the daemon state: the streams let go of the file.
        std::exit(0);
        return 0;
      },
      10000);
  ASSERT_EQ(rc, 0);

  // Wait for the detached process to finish.
  std::string contents;
  for (int i = 0; i < 500; ++i) {
    std::string cmd = "cat '" + dir + "'/*.log 2>/dev/null";
    FILE* f = popen(cmd.c_str(), "r");
    contents.clear();
    char buf[512];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, f)) > 0) contents.append(buf, n);
    pclose(f);
    if (contents.find("log line") != std::string::npos) break;
    usleep(10000);
  }
  std::regex line(R"(\d\d:\d\d:\d{5,6}: out line\n\d\d:\d\d:\d{5,6}: err line\n\d\d:\d\d:\d{5,6}: log line\n)");
  EXPECT_TRUE(std::regex_match(contents, line)) << contents;
}

}  // namespace
