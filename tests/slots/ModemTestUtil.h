#pragma once
// The modem and T.38 slots in this process with the stand-in programs
// placed under the test root; children exit through the reaper
// (ChildWait), as in the daemon.
#include "ProgramsTestUtil.h"
#include "SlotsTestUtil.h"
#include "hardware/HwMux.h"
#include "runtime/ChildWait.h"
#include "slots/ModemSlot.h"
#include "slots/T38SoftSlot.h"

namespace slots_test {

inline void script(const std::string& program, const std::string& text) {
  script(testboard::tempRoot(), program, text);
}
inline std::string programLog(const std::string& program) { return programLog(testboard::tempRoot(), program); }
inline std::vector<std::string> programLines(const std::string& program) {
  return programLines(testboard::tempRoot(), program);
}
inline std::string rootPath(const std::string& p) { return testboard::tempRoot() + p; }

class ModemTest : public SlotsTest {
 protected:
  static void SetUpTestSuite() {
    ownNetwork();
    SlotsTest::SetUpTestSuite();
    ChildWait::Activate();
    installPrograms(testboard::tempRoot());
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
    // What an earlier case left on the trunk time-slots (an ended
    // connection leaves its sink idle) is not this case's.
    for (int ch = 0; ch < 32; ++ch) HwMux::instance()->Disable(ch);
    board().command("mctl modems 8");
    board().command("netif hdlc 4");
    ModemFactory::instance().IQuery();
  }

  void TearDown() override {
    SlotsTest::TearDown();
    // No child of one test may end in the next, nor a modem stay held for
    // one (its end reported in the next test would free it there).
    EXPECT_TRUE(pump([&] { return childCount() == 0 && board().command("mctl list").empty(); }));
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
