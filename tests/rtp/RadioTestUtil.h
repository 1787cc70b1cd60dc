#pragma once
// A radio control on the stand-in board, driven one loop pass at a time on
// a manual test clock, with the header-extension channel's journal and a
// slot stand-in that keeps the reports.
#include <gtest/gtest.h>
#include <unistd.h>

#include <arpa/inet.h>
#include <fcntl.h>

#include <memory>
#include <string>
#include <vector>

#include "board/RtpExt.h"
#include "board/StandInFixture.h"
#include "hardware/Device.h"
#include "rtp/RadioControl.h"
#include "runtime/Multiplexer.h"
#include "runtime/TestClock.h"

namespace radiotest {

using Bytes = std::vector<uint8_t>;

// Reports of a control, as the slot would send them.
struct Reports : RTPSignalling::IRadioControlNotify {
  std::vector<TERM::RtpRadioRequest> got;
  std::vector<int> codes;
  void RadioControlNotify(TERM::RtpRadioRequest const& r) override { got.push_back(r); }
  void RadioControlNotify(int code) override { codes.push_back(code); }
};

inline uint32_t ip(const char* dotted) { return inet_addr(dotted); }

inline rtp_ext_init_params lemzInit() { return rtp_ext_init_params{RTPSignalling::ETYPE_LEMZ, 0, {0, 0, 0, 0}}; }

class RadioTest : public testboard::StandInTest {
 protected:
  void SetUp() override {
    StandInTest::SetUp();
    rtpFd = Device::open("/dev/rtp", O_RDONLY | O_CLOEXEC);
    ASSERT_GE(rtpFd, 0);
  }
  void TearDown() override {
    if (rtpFd >= 0) Device::close(rtpFd);
  }

  Board::RtpExt& ext() { return *static_cast<Board::RtpExt*>(board().model("/dev/rtp_ext")); }

  // The newest extension session (the control's own).
  unsigned session() {
    auto all = ext().sessions();
    return all.empty() ? 0 : all.back().session;
  }

  // The packets the daemon wrote since the last call.
  std::vector<Bytes> sent() {
    std::vector<Bytes> out;
    for (auto& p : ext().journal(session(), true))
      if (p.way == Board::RtpExt::Way::Out) out.emplace_back(p.bytes.begin(), p.bytes.end());
    return out;
  }

  bool inject(const char* from, uint32_t ssrc, const Bytes& bytes) {
    return ext().inject(session(), ssrc, ip(from), std::string(bytes.begin(), bytes.end()));
  }

  size_t requests(uint32_t word) { return board().logEntries({word}).size(); }

  void pass() { multiplexer.run_once(); }
  // Moves the clock by ms and runs one pass.
  void after(unsigned ms) {
    clock.advance(ms);
    multiplexer.run_once();
  }

  Mux::TestClock clock{Mux::TestClock::Manual};
  int rtpFd = -1;
};

}  // namespace radiotest
