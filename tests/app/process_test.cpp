// The daemon as a process: command line, start line, pid file, signals,
// configuration file.
#include "DaemonProcess.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

using namespace app_test;

namespace {

const std::string kUsage =
    "Usage:\n"
    " quorvad -Dh\n"
    "  -D --daemon                      run as daemon\n"
    "  -p --port                        use this port\n"
    "     --disable-clock               disable clock control\n"
    "     --version                     print version\n"
    "  -h --help                        display this information\n"
    "\n";

const std::string kStart = "Starting server [T230915-1620], port=";

struct Ended {
  int code;
  std::string out;
  std::string err;
};

// Runs the daemon with arguments that end it at once.
Ended runToEnd(const std::vector<std::string>& args, TestRoot* given = nullptr) {
  TestRoot own;
  const TestRoot& root = given ? *given : own;
  DaemonProcess p(root, args);
  const int code = p.exitCode();
  return {code, p.out(), p.err()};
}

// The whole start line of a running daemon, up to its line end.
std::string startLine(const DaemonProcess& p) {
  if (!p.waitOut("\n")) return "";
  const std::string out = p.out();
  const size_t at = out.find(kStart);
  if (at == std::string::npos) return out;
  return out.substr(at, out.find('\n', at) - at);
}

}  // namespace

TEST(CommandLine, HelpPrintsTheUsageAndEndsWithZero) {
  for (const char* opt : {"-h", "--help"}) {
    SCOPED_TRACE(opt);
    Ended e = runToEnd({opt});
    EXPECT_EQ(0, e.code);
    EXPECT_EQ(kUsage, e.out);
    EXPECT_EQ("", e.err);
  }
}

TEST(CommandLine, RefusedOptionsPrintTheParsersMessageAndTheUsageAndEndWithTwo) {
  struct Case {
    std::vector<std::string> args;
    const char* message;
  } cases[] = {
      {{"-x"}, "invalid option -- 'x'"},
      {{"--bogus"}, "unrecognized option '--bogus'"},
      // "-p" is listed in the usage but exists only as "--port".
      {{"-p", "5"}, "invalid option -- 'p'"},
      {{"--port"}, "option '--port' requires an argument"},
      {{"--daemon=1"}, "option '--daemon' doesn't allow an argument"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args[0]);
    TestRoot root;
    Ended e = runToEnd(c.args, &root);
    EXPECT_EQ(2, e.code);
    EXPECT_EQ(kUsage, e.out);
    EXPECT_NE(std::string::npos, e.err.find(c.message)) << e.err;
    EXPECT_FALSE(exists(root.pidFile()));
  }
}

TEST(CommandLine, VersionAloneEndsWithTwoAndCreatesNoPidFile) {
  TestRoot root;
  Ended e = runToEnd({"--version"}, &root);
  EXPECT_EQ(2, e.code);
  EXPECT_EQ("server version: T230915-1620\n", e.out);
  EXPECT_EQ("", e.err);
  EXPECT_FALSE(exists(root.pidFile()));
  EXPECT_TRUE(std::filesystem::is_empty(root.path("/var/run")));
}

TEST(CommandLine, VersionWithHelpInEitherOrderPrintsTheUsage) {
  for (auto args : {std::vector<std::string>{"--version", "-h"}, std::vector<std::string>{"-h", "--version"}}) {
    SCOPED_TRACE(args[0]);
    Ended e = runToEnd(args);
    EXPECT_EQ(0, e.code);
    EXPECT_EQ(kUsage, e.out);
  }
}

TEST(CommandLine, DisableClockActsWhileTheOptionsAreRead) {
  // Before a later refused option ends the process.
  Ended e = runToEnd({"--disable-clock", "-x"});
  EXPECT_EQ(2, e.code);
  const size_t line = e.err.find("clock control disabled.\n");
  const size_t refusal = e.err.find("invalid option -- 'x'");
  ASSERT_NE(std::string::npos, line) << e.err;
  ASSERT_NE(std::string::npos, refusal) << e.err;
  EXPECT_LT(line, refusal);
  EXPECT_EQ(0u, line);

  // And in a normal start, before the start line.
  TestRoot root;
  DaemonProcess p(root, {"--disable-clock"});
  ASSERT_TRUE(p.waitStarted());
  EXPECT_EQ(0u, p.err().find("clock control disabled.\n")) << p.err();
  p.signal(SIGTERM);
  EXPECT_EQ(0, p.exitCode());
}

TEST(CommandLine, PortForms) {
  struct Case {
    std::vector<std::string> args;
    const char* port;
  } cases[] = {
      {{}, "20001"},
      {{"--port", "20002"}, "20002"},
      {{"--port=20003"}, "20003"},
      // Converted as atoi does: leading digits, 0 without any.
      {{"--port=abc"}, "0"},
      {{"--port=123abc"}, "123"},
      // Arguments that are not options are ignored.
      {{"extra", "--port", "7", "more"}, "7"},
      // The last one given counts.
      {{"--port=1", "--port=2"}, "2"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.port);
    TestRoot root;
    DaemonProcess p(root, c.args);
    EXPECT_EQ(kStart + c.port, startLine(p));
    p.signal(SIGTERM);
    EXPECT_EQ(0, p.exitCode());
  }
}

TEST(Running, PidFileHoldsThePidWhileRunningAndGoesAfterSigterm) {
  TestRoot root;
  DaemonProcess p(root, {});
  ASSERT_TRUE(p.waitStarted());
  EXPECT_EQ(kStart + "20001", startLine(p));
  // The pid file is made before the start line is written.
  EXPECT_EQ(std::to_string(p.pid()), readFile(root.pidFile()));
  struct stat st;
  ASSERT_EQ(0, ::stat(root.pidFile().c_str(), &st));
  EXPECT_EQ(0644 & ~0022, static_cast<int>(st.st_mode & 0777) & ~0022);

  p.signal(SIGTERM);
  EXPECT_EQ(0, p.exitCode());
  EXPECT_FALSE(exists(root.pidFile()));
  EXPECT_NE(std::string::npos, p.err().find("Mux: terminating...\n")) << p.err();
}

TEST(Running, SigintStopsInOrderToo) {
  TestRoot root;
  DaemonProcess p(root, {});
  ASSERT_TRUE(p.waitStarted());
  EXPECT_TRUE(exists(root.pidFile()));
  p.signal(SIGINT);
  EXPECT_EQ(0, p.exitCode());
  EXPECT_FALSE(exists(root.pidFile()));
}

TEST(Running, WithoutPidDirectoryTheDaemonRunsWithoutPidFile) {
  TestRoot root(false);
  DaemonProcess p(root, {});
  ASSERT_TRUE(p.waitStarted());
  EXPECT_FALSE(exists(root.pidFile()));
  p.signal(SIGTERM);
  EXPECT_EQ(0, p.exitCode());
}

TEST(Running, AnExistingPidFileIsReplaced) {
  TestRoot root;
  writeFile(root.pidFile(), "99999999999 stale");
  DaemonProcess p(root, {});
  ASSERT_TRUE(p.waitStarted());
  EXPECT_EQ(std::to_string(p.pid()), readFile(root.pidFile()));
  p.signal(SIGTERM);
  EXPECT_EQ(0, p.exitCode());
}

TEST(Running, SigusrTwoWritesTheStatusFile) {
  TestRoot root;
  DaemonProcess p(root, {});
  ASSERT_TRUE(p.waitStarted());
  writeFile(root.statusFile(), "old contents that must go\nand more\n");
  p.signal(SIGUSR2);
  // Complete: the loop's report ends with its table and an empty line.
  auto complete = [&] {
    const std::string s = readFile(root.statusFile());
    return s.find("version : ") != std::string::npos && s.size() > 3 && s.compare(s.size() - 3, 3, "+\n\n") == 0;
  };
  ASSERT_TRUE(waitUntil(complete)) << readFile(root.statusFile());
  const std::string text = readFile(root.statusFile());
  std::istringstream status(text);
  std::string first, second, third;
  std::getline(status, first);
  std::getline(status, second);
  std::getline(status, third);
  EXPECT_EQ(0u, first.find("server status information.")) << first;
  EXPECT_EQ("version : T230915-1620", second);
  EXPECT_EQ(0u, third.find("dpc transition measurement (min/max/cur/counter): min=")) << third;
  EXPECT_EQ(std::string::npos, text.find("old contents"));

  // A second request writes it again. The first one may have been served
  // by the very first deferred-call run, before the loop took its handlers
  // into the poll set; by now they are there, and the child-reaping
  // service is among them.
  ::unlink(root.statusFile().c_str());
  p.signal(SIGUSR2);
  EXPECT_TRUE(waitUntil(complete)) << readFile(root.statusFile());
  EXPECT_NE(std::string::npos, readFile(root.statusFile()).find("ChildWaitService::OnChildEvent"))
      << readFile(root.statusFile());

  p.signal(SIGTERM);
  EXPECT_EQ(0, p.exitCode());
}

TEST(Running, StatusFileThatCannotBeOpenedIsReported) {
  TestRoot root;
  std::filesystem::remove(root.path("/var/log"));
  DaemonProcess p(root, {});
  ASSERT_TRUE(p.waitStarted());
  p.signal(SIGUSR2);
  EXPECT_TRUE(p.waitErr("dump status error\n"));
  // And it goes on running.
  p.signal(SIGTERM);
  EXPECT_EQ(0, p.exitCode());
}

TEST(Running, SighupReportsTheResourceUpdate) {
  TestRoot root;
  DaemonProcess p(root, {});
  ASSERT_TRUE(p.waitStarted());
  p.signal(SIGHUP);
  EXPECT_TRUE(p.waitErr("update hardware resources\n"));
  // Each request is acted on at once, however close to the loop's wait it
  // lands: none waits for an unrelated event.
  auto count = [&] {
    const std::string e = p.err();
    int n = 0;
    for (size_t at = e.find("update hardware resources\n"); at != std::string::npos;
         at = e.find("update hardware resources\n", at + 1))
      ++n;
    return n;
  };
  for (int i = 2; i <= 60; ++i) {
    p.signal(SIGHUP);
    ASSERT_TRUE(waitUntil([&] { return count() == i; }, 3000)) << i;
  }
  p.signal(SIGTERM);
  EXPECT_EQ(0, p.exitCode());
}

TEST(Running, SigpipeDoesNotEndTheDaemon) {
  TestRoot root;
  DaemonProcess p(root, {});
  ASSERT_TRUE(p.waitStarted());
  p.signal(SIGPIPE);
  p.signal(SIGUSR2);
  EXPECT_TRUE(waitUntil([&] { return exists(root.statusFile()); }));
  p.signal(SIGTERM);
  EXPECT_EQ(0, p.exitCode());
}

// A stop asked for during start-up, before the loop runs, must not be
// lost. The pid file is a FIFO here, so the start-up blocks in opening it
// until the test opens the other end, after it has sent the signal.
TEST(Running, SigtermDuringStartUpStopsTheDaemon) {
  for (int sig : {SIGTERM, SIGINT}) {
    SCOPED_TRACE(sig);
    TestRoot root;
    ASSERT_EQ(0, ::mkfifo(root.pidFile().c_str(), 0644));
    DaemonProcess p(root, {});
    ASSERT_TRUE(waitUntil([&] { return catches(p.pid(), SIGHUP); }));
    p.signal(sig);
    const int reader = ::open(root.pidFile().c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(reader, 0);
    EXPECT_EQ(0, p.exitCode());
    ::close(reader);
    EXPECT_NE(std::string::npos, p.out().find(kStart + "20001\n"));
    EXPECT_NE(std::string::npos, p.err().find("Mux: terminating...\n"));
  }
}

TEST(Configuration, MissingOrUnreadableFileIsAnEmptyConfiguration) {
  {
    TestRoot root;
    DaemonProcess p(root, {});
    ASSERT_TRUE(p.waitStarted());
    p.signal(SIGTERM);
    EXPECT_EQ(0, p.exitCode());
    EXPECT_EQ(std::string::npos, p.err().find("traces: "));
  }
  {
    // A directory where the file should be.
    TestRoot root;
    std::filesystem::create_directories(root.configFile());
    DaemonProcess p(root, {});
    ASSERT_TRUE(p.waitStarted());
    p.signal(SIGTERM);
    EXPECT_EQ(0, p.exitCode());
  }
}

TEST(Configuration, MalformedFileDoesNotStopTheStart) {
  static const char binary[] = "\x01\x02\xff\xfe garbage\0 with a nul\n[[[\n===\n";
  const std::string bodies[] = {
      std::string(binary, sizeof binary - 1),
      "[traces\nsignalling.hdlc = yes\n",
      "no section before this = 1\n[traces]\n=\n  = value only\nkey without value\n",
      "[traces]\r\nsignalling.hdlc = yes",  // no last line end
  };
  for (const std::string& body : bodies) {
    TestRoot root;
    writeFile(root.configFile(), body);
    DaemonProcess p(root, {});
    ASSERT_TRUE(p.waitStarted());
    p.signal(SIGTERM);
    EXPECT_EQ(0, p.exitCode());
  }
}

TEST(Configuration, TraceSwitchProblemsAreReportedWithTheReadersText) {
  TestRoot root;
  writeFile(root.configFile(),
            "[traces]\n"
            "signalling.hdlc = on\n"
            "signalling.events = yes\n"
            "signalling.lemzgw = 1\n"
            "signalling.lemzgw = 0\n"
            "[other]\n"
            "x = 1\n"
            "[traces]\n"
            "monitoring.internal = maybe\n"
            "monitoring.internal = true\n"
            "monitoring.internal = false\n");
  DaemonProcess p(root, {});
  ASSERT_TRUE(p.waitStarted());
  p.signal(SIGTERM);
  EXPECT_EQ(0, p.exitCode());
  const std::string expected =
      "traces: optional key \"signalling.hdlc\" has invalid value=\"on\", line 2. Key will be ignored.\n"
      "traces: optional key \"signalling.lemzgw\" is duplicated!\n"
      "traces:  first occurence at 4 line.\n"
      "traces:  second occurence at 5 line. Both keys will be ignored.\n"
      "traces: optional key \"monitoring.internal\" specified more than once: 9 10 11 lines. All keys will be "
      "ignored.\n";
  EXPECT_EQ(0u, p.err().find(expected)) << p.err();
}
