// The build record, the trace switches, the pid file and the signal check,
// in process.
#include "app/Process.h"
#include "app/Run.h"
#include "app/TraceCtl.h"
#include "app/Version.h"
#include "config/IniFile.h"
#include "runtime/Root.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>

namespace {

// A root of the fixed paths for one test.
class Root_ {
public:
  Root_() {
    char tmpl[] = "/tmp/qv-app-unit-XXXXXX";
    dir_ = ::mkdtemp(tmpl);
    std::filesystem::create_directories(dir_ + "/var/run");
    std::filesystem::create_directories(dir_ + "/var/log");
    ::setenv("QUORVAD_ROOT", dir_.c_str(), 1);
    Root::reload();
  }
  ~Root_() {
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
    ::unsetenv("QUORVAD_ROOT");
    Root::reload();
  }
  std::string path(const std::string& p) const { return dir_ + p; }

private:
  std::string dir_;
};

std::string slurp(const std::string& path) {
  std::ifstream in(path);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

// Captures what a stream receives while in scope.
class Capture {
public:
  explicit Capture(std::ostream& os) : os_(os), old_(os.rdbuf(text_.rdbuf())) {}
  ~Capture() { os_.rdbuf(old_); }
  std::string text() const { return text_.str(); }

private:
  std::ostream& os_;
  std::ostringstream text_;
  std::streambuf* old_;
};

// The first occurrence of a section read from a text.
struct Config {
  explicit Config(const std::string& text) {
    std::istringstream in(text);
    in >> file;
  }
  IniFile::File file;
};

}  // namespace

TEST(Version, PrintsItsTagAndNamesTypesOutOfRangeUnknown) {
  const Version& v = Version::current;
  std::ostringstream os;
  os << v << '|' << static_cast<Version::Type>(4) << '|' << static_cast<Version::Type>(-1);
  EXPECT_EQ(v.tag() + "|unknown|unknown", os.str());
  EXPECT_STREQ("U", version_suffix(static_cast<Version::Type>(4)));
  EXPECT_STREQ("U", version_suffix(static_cast<Version::Type>(-1)));
}

TEST(TraceCtl, ReadsEveryWordOfTheReader) {
  Config c(
      "[traces]\n"
      "signalling.hdlc = enabled\n"
      "signalling.lemzgw = yes\n"
      "signalling.events = 1\n"
      "monitoring.internal = enable\n");
  TraceCtl t;
  Capture err(std::cerr);
  t.Configure(c.file["traces"]);
  EXPECT_TRUE(t.signalling.hdlc);
  EXPECT_TRUE(t.signalling.lemzgw);
  EXPECT_TRUE(t.signalling.events);
  EXPECT_TRUE(t.monitoring.internal);
  EXPECT_EQ("", err.text());
}

TEST(TraceCtl, LaterOccurrencesStartAgainExceptForEvents) {
  // The second occurrence switches hdlc, lemzgw and internal off again by
  // not naming them; events keeps what the first one set.
  Config c(
      "[traces]\n"
      "signalling.hdlc = true\n"
      "signalling.lemzgw = true\n"
      "signalling.events = true\n"
      "monitoring.internal = true\n"
      "[traces]\n"
      "signalling.lemzgw = yes\n");
  TraceCtl t;
  t.Configure(c.file["traces"]);
  EXPECT_FALSE(t.signalling.hdlc);
  EXPECT_TRUE(t.signalling.lemzgw);
  EXPECT_TRUE(t.signalling.events);
  EXPECT_FALSE(t.monitoring.internal);
}

TEST(TraceCtl, InvalidWordsLeaveTheSwitchAsTheOccurrenceSetIt) {
  Config c(
      "[traces]\n"
      "signalling.events = on\n"
      "signalling.hdlc = TRUE\n"
      "monitoring.internal = \n");
  TraceCtl t;
  t.signalling.events = true;
  t.signalling.hdlc = true;
  Capture err(std::cerr);
  t.Configure(c.file["traces"]);
  EXPECT_TRUE(t.signalling.events);
  EXPECT_FALSE(t.signalling.hdlc);
  EXPECT_FALSE(t.monitoring.internal);
  EXPECT_EQ(
      "traces: optional key \"signalling.hdlc\" has invalid value=\"TRUE\", line 3. Key will be ignored.\n"
      "traces: optional key \"signalling.events\" has invalid value=\"on\", line 2. Key will be ignored.\n"
      "traces: optional key \"monitoring.internal\" has invalid value=\"\", line 4. Key will be ignored.\n",
      err.text());
}

TEST(TraceCtl, AbsentSectionChangesNothing) {
  Config c("[other]\nsignalling.hdlc = yes\n");
  TraceCtl t;
  t.signalling.hdlc = true;
  t.Configure(c.file["traces"]);
  EXPECT_TRUE(t.signalling.hdlc);
}

TEST(PidFile, HoldsThePidAndGoesWithTheObject) {
  Root_ root;
  const std::string path = root.path("/var/run/unit.pid");
  {
    Linux::Run run("unit");
    EXPECT_EQ(path, run.file_name());
    EXPECT_GE(run.fd(), 0);
    EXPECT_EQ(std::to_string(::getpid()), slurp(path));
    EXPECT_EQ(FD_CLOEXEC, ::fcntl(run.fd(), F_GETFD) & FD_CLOEXEC);
  }
  EXPECT_NE(0, ::access(path.c_str(), F_OK));
}

TEST(PidFile, ShorterPidReplacesALongerOldContents) {
  Root_ root;
  const std::string path = root.path("/var/run/unit.pid");
  std::ofstream(path) << "12345678901234567890";
  Linux::Run run("unit");
  EXPECT_EQ(std::to_string(::getpid()), slurp(path));
}

TEST(PidFile, NoDirectoryMeansNoFileAndNothingRemoved) {
  Root_ root;
  std::filesystem::remove_all(root.path("/var/run"));
  {
    Linux::Run run("unit");
    EXPECT_EQ(-1, run.fd());
    // Made meanwhile by someone else: not ours to remove.
    std::filesystem::create_directories(root.path("/var/run"));
    std::ofstream(root.path("/var/run/unit.pid")) << "1";
  }
  EXPECT_EQ("1", slurp(root.path("/var/run/unit.pid")));
}

TEST(UsageText, DescriptionsStartInColumnThirtySix) {
  std::istringstream in(sUsageText);
  std::string line;
  int optionLines = 0;
  while (std::getline(in, line)) {
    if (line.rfind("  -", 0) != 0 && line.rfind("     --", 0) != 0) continue;
    ++optionLines;
    EXPECT_NE(' ', line.at(35)) << line;
    EXPECT_EQ(' ', line.at(34)) << line;
  }
  EXPECT_EQ(5, optionLines);
}

TEST(SignalCheck, DumpsOnceForEachRequest) {
  Root_ root;
  const std::string status = root.path("/var/log/server-status");
  CheckSignals();
  EXPECT_NE(0, ::access(status.c_str(), F_OK));

  doDumpStatus = 1;
  CheckSignals();
  EXPECT_EQ(0, doDumpStatus);
  const std::string text = slurp(status);
  EXPECT_EQ(0u, text.find("server status information."));
  EXPECT_NE(std::string::npos, text.find("\nversion : T230915-1620\ndpc transition measurement"));

  ::unlink(status.c_str());
  CheckSignals();
  EXPECT_NE(0, ::access(status.c_str(), F_OK));
}

TEST(SignalCheck, UnwritableStatusFileIsReported) {
  Root_ root;
  std::filesystem::remove_all(root.path("/var/log"));
  Capture err(std::cerr);
  doDumpStatus = 1;
  CheckDumpStatus();
  EXPECT_EQ(0, doDumpStatus);
  EXPECT_EQ("dump status error\n", err.text());
}

TEST(SignalCheck, ResourceUpdateIsLoggedOncePerRequest) {
  Capture log(std::clog);
  CheckUpdateResources();
  EXPECT_EQ("", log.text());
  updateResources = 1;
  CheckSignals();
  CheckSignals();
  EXPECT_EQ(0, updateResources);
  EXPECT_EQ("update hardware resources\n", log.text());
}

TEST(Configuration, UnreadableFileGivesAnEmptyModel) {
  Root_ root;
  std::filesystem::create_directories(root.path("/etc/dir.conf"));
  IniFile::File config;
  EXPECT_FALSE(OpenConfiguration(config, root.path("/etc/dir.conf")));
  EXPECT_EQ(0, config.GetCount());
  EXPECT_FALSE(OpenConfiguration(config, root.path("/etc/missing.conf")));

  std::ofstream(root.path("/etc/ok.conf")) << "[traces]\nsignalling.hdlc = yes\n";
  EXPECT_TRUE(OpenConfiguration(config, root.path("/etc/ok.conf")));
  EXPECT_EQ(1, config["traces"].GetCount());
}
