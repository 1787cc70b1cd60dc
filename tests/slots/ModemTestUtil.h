#pragma once
// The modem and T.38 slots in this process with the stand-in programs
// placed under the test root ("/usr/local/sbin/pppd", the fax programs,
// "/usr/local/sbin/t38"), their scripts written per test and their logs
// read back. Children exit through the reaper (ChildWait), as in the
// daemon.
#include <net/if.h>
#include <sched.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/stat.h>

#include <cstdio>
#include <dirent.h>
#include <filesystem>
#include <fstream>

#include "SlotsTestUtil.h"
#include "runtime/ChildWait.h"
#include "slots/ModemSlot.h"
#include "slots/T38SoftSlot.h"

namespace slots_test {

inline std::string rootPath(const std::string& p) { return testboard::tempRoot() + p; }

inline void installPrograms() {
  namespace fs = std::filesystem;
  const std::string bin = std::string(QUORVAD_BINARY_DIR) + "/board/programs/standin-";
  const std::pair<const char*, const char*> programs[] = {{"pppd", "/usr/local/sbin/pppd"},
                                                          {"fax", "/usr/local/sbin/fax"},
                                                          {"fax", "/usr/local/bin/fax"},
                                                          {"t38", "/usr/local/sbin/t38"}};
  for (auto& p : programs) {
    fs::create_directories(fs::path(rootPath(p.second)).parent_path());
    fs::copy_file(bin + p.first, rootPath(p.second), fs::copy_options::overwrite_existing);
  }
  fs::create_directories(rootPath("/etc/standin"));
  fs::create_directories(rootPath("/var/log"));
}

// What the stand-in program does next ("" for its defaults).
inline void script(const std::string& program, const std::string& text) {
  std::ofstream(rootPath("/etc/standin/" + program), std::ios::trunc) << text;
}

inline std::string programLog(const std::string& program) {
  std::ifstream in(rootPath("/var/log/standin-" + program + ".log"));
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// The lines of the program's log without their pid.
inline std::vector<std::string> programLines(const std::string& program) {
  std::vector<std::string> out;
  std::istringstream in(programLog(program));
  std::string line;
  while (std::getline(in, line)) out.push_back(line.substr(line.find(' ') + 1));
  return out;
}

// The children of this process that are still there, zombies included.
inline int childCount() {
  int n = 0;
  const std::string me = std::to_string(::getpid());
  for (const auto& e : std::filesystem::directory_iterator("/proc")) {
    std::ifstream stat(e.path() / "status");
    std::string line;
    while (std::getline(stat, line))
      if (line.rfind("PPid:", 0) == 0) n += line.substr(line.find_first_not_of(" \t", 5)) == me;
  }
  return n;
}

inline int openDescriptors() {
  int n = 0;
  for (const auto& e : std::filesystem::directory_iterator("/proc/self/fd")) n += !e.path().empty();
  return n;
}

// Gives this thread (the loop's, which starts every child) a network of its
// own, so that no daemon of another test holds the bridge's fixed port;
// false where that is not allowed (the port is then waited for).
inline bool ownNetwork() {
  if (::unshare(CLONE_NEWNET) != 0) return false;
  const int s = ::socket(AF_INET, SOCK_DGRAM, 0);
  ifreq ifr{};
  std::strncpy(ifr.ifr_name, "lo", IFNAMSIZ - 1);
  const bool up = ::ioctl(s, SIOCGIFFLAGS, &ifr) == 0 && (ifr.ifr_flags |= IFF_UP, ::ioctl(s, SIOCSIFFLAGS, &ifr) == 0);
  ::close(s);
  return up;
}

class ModemTest : public SlotsTest {
 protected:
  static void SetUpTestSuite() {
    ownNetwork();
    SlotsTest::SetUpTestSuite();
    ChildWait::Activate();
    installPrograms();
    ModemFactory::instance();
    T38SoftFactory::instance();
  }

  void SetUp() override {
    SlotsTest::SetUp();
    // Children answer in real time: test time moves only when a test moves
    // it.
    clock_.reset();
    clock_.reset(new Mux::TestClock(Mux::TestClock::Manual));
    ASSERT_TRUE(pump(
        [&] {
          if (ModemFactory::instance().listening()) return true;
          clock_->advance(ModemFactory::kBindRetryMs);
          return false;
        },
        60000));
    for (const char* p : {"pppd", "fax", "t38"}) {
      script(p, "");
      std::remove(rootPath(std::string("/var/log/standin-") + p + ".log").c_str());
    }
    board().command("mctl modems 8");
    board().command("netif hdlc 4");
    ModemFactory::instance().IQuery();
  }

  void TearDown() override {
    SlotsTest::TearDown();
    // No child of one test may end in the next.
    EXPECT_TRUE(pump([] { return childCount() == 0; }));
  }

  // Runs the loop until a message containing `needle` came; everything
  // received by then.
  std::vector<std::string> until(const std::string& needle, unsigned limitMs = 5000) {
    std::vector<std::string> got;
    pump(
        [&] {
          Bytes b = peer.recv(1 << 16, 0);
          wire_.insert(wire_.end(), b.begin(), b.end());
          got = texts(wire_);
          for (const std::string& t : got)
            if (t.find(needle) != std::string::npos) return true;
          return false;
        },
        limitMs);
    wire_.clear();
    return got;
  }

  bool logHas(const std::string& program, const std::string& text) {
    return pump([&] { return programLog(program).find(text) != std::string::npos; });
  }
};

inline std::string modem(unsigned slot, const std::string& params, int seq = 1) {
  return cmd(slot, "create : modem : { " + params + " }", seq);
}

inline std::string signal(unsigned slot, const std::string& what) {
  return "{ slot " + std::to_string(slot) + ", pdu signal : " + what + " }";
}

}  // namespace slots_test
