// The radio control base on the stand-in's header-extension channel: the
// three session forms and their driver requests, a session started again on
// a new RTP descriptor, the source filter and the status timer.
#include <gtest/gtest.h>

#include <regex>

#include "board/Record.h"
#include "board/Rtp.h"
#include "rtp/LemzRadioControl.h"
#include "tests/rtp/RadioTestUtil.h"

namespace {

using namespace radiotest;
using Board::RtpExt;
using RTPSignalling::RadioControl;

// Every word of a record as the daemon passed it.
std::string recordOf(const Board::LogEntry& e) { return Board::hexText(e.in); }

std::string hostWords(std::initializer_list<uint32_t> words) {
  std::string out;
  for (uint32_t w : words) out.append(reinterpret_cast<const char*>(&w), 4);
  return Board::hexText(out);
}

TEST_F(RadioTest, OwnSessionIsCreatedAttachedAndDetached) {
  Reports reports;
  RTPSignalling::LemzRadioGWControl control(7, {rtpFd, int(getpid())}, lemzInit());
  control.Bind(&reports);
  auto create = board().logEntries({RtpExt::kCreate});
  ASSERT_EQ(create.size(), 1u);
  // u16 0x1337 in host order, u16 0, four zero words
  uint16_t etype = 0x1337;
  std::string head(reinterpret_cast<const char*>(&etype), 2);
  EXPECT_EQ(recordOf(create[0]), Board::hexText(head) + "0000" + hostWords({0, 0, 0, 0}));
  auto attach = board().logEntries({RtpExt::kAttach});
  ASSERT_EQ(attach.size(), 1u);
  EXPECT_EQ(recordOf(attach[0]), hostWords({uint32_t(rtpFd), uint32_t(getpid())}));
  ASSERT_EQ(ext().sessions().size(), 1u);
  EXPECT_NE(ext().sessions()[0].rtpSession, 0u);
  EXPECT_TRUE(control.ExtEventActive());

  // A packet from the radio reaches the control through the loop.
  ASSERT_TRUE(inject("10.0.0.9", 0x99, {0x01, 0x10, 0x00, 0x00}));
  pass();
  EXPECT_EQ(reports.got.size(), 1u);

  EXPECT_TRUE(control.RtpExtStop());
  EXPECT_EQ(requests(RtpExt::kDetach), 1u);
  EXPECT_FALSE(control.ExtEventActive());
  EXPECT_EQ(control.GetExtFd(), -1);
  EXPECT_TRUE(ext().sessions().empty()) << "the last close ends the driver session";
}

// A codec change restarts the RTP session on a new descriptor: the next
// attach must name that one, and the readiness event must still have its
// handler.
TEST_F(RadioTest, RestartAttachesTheCurrentRtpSession) {
  Reports reports;
  RTPSignalling::LemzRadioGWControl control(7, {rtpFd, int(getpid())}, lemzInit());
  control.Bind(&reports);
  ASSERT_TRUE(control.RtpExtStop());

  int restarted = Device::open("/dev/rtp", O_RDONLY | O_CLOEXEC);
  ASSERT_GE(restarted, 0);
  Device::close(rtpFd);
  int stale = rtpFd;
  rtpFd = restarted;

  // The closed number is refused by the driver, and said so.
  testing::internal::CaptureStderr();
  EXPECT_FALSE(control.RtpExtStart(false));
  std::string err = testing::internal::GetCapturedStderr();
  EXPECT_NE(err.find("attach rtp_ext session fail !!!"), std::string::npos) << err;
  auto refused = board().logEntries({RtpExt::kAttach});
  ASSERT_EQ(refused.size(), 2u);
  EXPECT_EQ(recordOf(refused[1]), hostWords({uint32_t(stale), uint32_t(getpid())}));
  EXPECT_EQ(refused[1].error, EBADF);

  control.SetAttachDescriptor(restarted);
  ASSERT_TRUE(control.RtpExtStart(false));
  auto sessions = ext().sessions();
  ASSERT_EQ(sessions.size(), 1u);
  EXPECT_NE(sessions[0].rtpSession, 0u);

  ASSERT_TRUE(inject("10.0.0.9", 0x99, {0x01, 0x10, 0x00, 0x00}));
  pass();
  EXPECT_EQ(reports.got.size(), 1u) << "the restarted session's packets reach the control";
}

TEST_F(RadioTest, CreateOnlyAndAttachForms) {
  std::regex createOnly(R"(rtp_ext \d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{6}:)");
  std::regex withId(R"(rtp_ext\[7\] \d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{6}:)");
  {
    RTPSignalling::LemzRadioGWControl control(lemzInit());
    EXPECT_EQ(requests(RtpExt::kCreate), 1u);
    EXPECT_EQ(requests(RtpExt::kAttach), 0u);
    EXPECT_TRUE(control.ExtEventActive());
    board().clearLog();
    EXPECT_TRUE(control.RtpExtStop());
    EXPECT_TRUE(control.RtpExtStart(false));
    EXPECT_TRUE(board().logLines().empty()) << "a create-only session ignores stop and restart";
    EXPECT_TRUE(std::regex_match(control.GetPrefix(), createOnly)) << control.GetPrefix();
  }
  board().clearLog();
  {
    RTPSignalling::LemzRadioGWControl control(7, Fd(::dup(rtpFd)), {1234, 5678});
    auto attach = board().logEntries({RTPSignalling::RTP_ATTACH_SESSION});
    ASSERT_EQ(attach.size(), 1u);
    EXPECT_EQ(recordOf(attach[0]), hostWords({1234, 5678}));
    EXPECT_EQ(requests(RtpExt::kCreate), 0u);
    EXPECT_EQ(control.GetExtFd(), -1);
    EXPECT_FALSE(control.ExtEventActive());
    EXPECT_TRUE(std::regex_match(control.GetPrefix(), withId)) << control.GetPrefix();
  }
}

// The attach form on the stand-in's RTP engine: a begun session joins
// another "/dev/rtp" session of this process, one only; what the engine cannot
// see or will not do is refused with the driver's errors.
TEST_F(RadioTest, TheEngineAttachesASessionOfThisProcess) {
  auto& engine = *static_cast<Board::Rtp*>(board().model("/dev/rtp"));
  auto begun = [] {
    Fd fd(Device::open("/dev/rtp", O_RDONLY | O_CLOEXEC));
    rtp_connection_params c{};
    int32_t channel[4] = {-1, -1, -1, 0};
    EXPECT_EQ(Device::requestRecord(fd.lowlevel_fd(), Board::Rtp::kBegin, &c, sizeof c), 0);
    EXPECT_EQ(Device::requestRecord(fd.lowlevel_fd(), Board::Rtp::kAddChannel, channel, sizeof channel), 0);
    return fd;
  };
  auto attach = [](int on, int fd, int pid) {
    rtp_attach_session_params a{fd, pid};
    return Device::requestRecord(on, Board::Rtp::kAttach, &a, sizeof a) < 0 ? errno : 0;
  };
  Fd other = begun(), mine = begun(), third = begun();
  const int pid = int(getpid());
  {
    RTPSignalling::LemzRadioGWControl control(7, mine, {other.lowlevel_fd(), pid});
    auto s = engine.sessions();
    ASSERT_EQ(s.size(), 3u);
    EXPECT_EQ(s[1].attached, s[0].session) << "channels 12288 and 12289";
    EXPECT_EQ(s[0].attached, 0u);
    EXPECT_NE(board().command("rtp list").find(" attached=s" + std::to_string(s[0].session) + "\n"),
              std::string::npos);
    EXPECT_EQ(attach(mine.lowlevel_fd(), other.lowlevel_fd(), pid), 0) << "the same session again";
    EXPECT_EQ(attach(mine.lowlevel_fd(), third.lowlevel_fd(), pid), EBUSY) << "a second one";
  }
  EXPECT_EQ(attach(third.lowlevel_fd(), other.lowlevel_fd(), pid + 1), ESRCH);
  EXPECT_EQ(attach(third.lowlevel_fd(), -1, pid), EBADF);
  EXPECT_EQ(attach(third.lowlevel_fd(), third.lowlevel_fd(), pid), EINVAL) << "not to itself";
  EXPECT_EQ(attach(rtpFd, other.lowlevel_fd(), pid), EINVAL) << "not begun";
  EXPECT_EQ(attach(third.lowlevel_fd(), other.lowlevel_fd(), -1), 0) << "-1: this process";
}

TEST_F(RadioTest, FailedStartsAreSaidAndLeaveAUsableControl) {
  board().failOpen("/dev/rtp_ext", ENODEV, true);
  testing::internal::CaptureStderr();
  {
    RTPSignalling::LemzRadioGWControl control(7, {rtpFd, int(getpid())}, lemzInit());
    EXPECT_FALSE(control.ExtEventActive());
    TERM::RadioModifier m;
    ASSERT_TRUE(m.setFromValueNotation(
        "lemz : { addr { session-addr \"10.0.0.1\", session-ssrc 1 }, params wm-quality : { bss-val \"0.5\" } }"));
    EXPECT_TRUE(control.SendASNToChan(m));
  }
  board().failRequest(RtpExt::kCreate, EINVAL, true);
  { RTPSignalling::LemzRadioGWControl control(7, {rtpFd, int(getpid())}, lemzInit()); }
  std::string err = testing::internal::GetCapturedStderr();
  EXPECT_NE(err.find("create rtp_ext session fail !!!"), std::string::npos) << err;
  EXPECT_NE(err.find("init rtp_ext session fail !!!"), std::string::npos) << err;
  EXPECT_TRUE(ext().sessions().empty()) << "a session that failed is closed";
}

TEST_F(RadioTest, SourceFilterFollowsAccess) {
  RTPSignalling::LemzRadioGWControl control(lemzInit());
  in_addr a{ip("10.0.0.1")}, b{ip("10.0.0.2")};
  control.UpdateAccess(false, a);
  EXPECT_EQ(requests(RtpExt::kClearFilter), 0u) << "no filter, nothing to clear";
  control.UpdateAccess(true, a);
  control.UpdateAccess(true, a);
  EXPECT_EQ(requests(RtpExt::kSetFilter), 1u);
  auto set = board().logEntries({RtpExt::kSetFilter});
  EXPECT_EQ(recordOf(set[0]), "0A00000100000000");  // network order, then 0

  // While set, the driver drops other senders.
  EXPECT_FALSE(inject("10.0.0.2", 2, {0x01, 0, 0, 0}));
  EXPECT_TRUE(inject("10.0.0.1", 1, {0x01, 0, 0, 0}));

  control.UpdateAccess(true, b);
  EXPECT_EQ(requests(RtpExt::kSetFilter), 2u);
  control.UpdateAccess(false, b);
  control.UpdateAccess(false, b);
  EXPECT_EQ(requests(RtpExt::kClearFilter), 1u);
  EXPECT_FALSE(control.FilterActive());
  EXPECT_TRUE(inject("10.0.0.2", 2, {0x01, 0, 0, 0}));
}

// The same through the board's control commands, as qvboard gives them.
TEST_F(RadioTest, ControlCommandsListInjectAndJournal) {
  Reports reports;
  RTPSignalling::LemzRadioGWControl control(7, {rtpFd, int(getpid())}, lemzInit());
  control.Bind(&reports);
  std::string s = "s" + std::to_string(session());
  std::string list = board().command("rtpext list");
  EXPECT_NE(list.find(s + " etype=0x1337 params=0,0,0,0 attached=s"), std::string::npos) << list;

  EXPECT_EQ(board().command("rtpext inject " + s + " 0x99 10.0.0.9 03240D2D"), "queued\n");
  pass();
  ASSERT_EQ(reports.got.size(), 1u);
  std::string journal = board().command("rtpext journal " + s);
  EXPECT_NE(journal.find(" in ssrc=0x00000099 addr=10.0.0.9 03240D2D\n"), std::string::npos) << journal;

  EXPECT_EQ(board().command("rtpext inject " + s + " 1 10.0.0.9 0G").rfind("error: ", 0), 0u);
  EXPECT_EQ(board().command("rtpext inject " + s + " 1 10.0.0.9 " + std::string(2 * 1025, 'A')).rfind("error: ", 0), 0u);
  EXPECT_EQ(board().command("rtpext inject " + s + " 1 10.0.0 01000000").rfind("error: ", 0), 0u);
  EXPECT_EQ(board().command("rtpext inject s999 1 10.0.0.9 01000000").rfind("error: ", 0), 0u);
  EXPECT_EQ(board().command("rtpext journal " + s + " take"), journal);
  EXPECT_EQ(board().command("rtpext journal " + s), "");
}

// A control whose status cycle asks for the next tick 10 ms on.
class QuickControl : public RadioControl {
 public:
  QuickControl() : RadioControl(lemzInit()) {}
  unsigned long ProcessRadioStatus(unsigned long now, unsigned long interval) override {
    ticks.push_back(now);
    intervals.push_back(interval);
    return 10;
  }
  std::vector<unsigned long> ticks, intervals;
};

TEST_F(RadioTest, StatusTimerRearmsWithTheReturnedInterval) {
  QuickControl control;
  unsigned start = Mux::milliseconds();
  control.SetTimerEnable(true);
  after(999);
  EXPECT_TRUE(control.ticks.empty());
  after(1);
  ASSERT_EQ(control.ticks.size(), 1u);
  EXPECT_EQ(control.ticks[0], start + 1000);
  after(9);
  EXPECT_EQ(control.ticks.size(), 1u);
  after(1);
  ASSERT_EQ(control.ticks.size(), 2u);
  EXPECT_EQ(control.ticks[1], start + 1010);
  EXPECT_EQ(control.intervals[1], 1000u) << "the stored interval stays";
  EXPECT_EQ(control.GetStatusInterval(), 1000u);

  control.SetTimerEnable(false);
  after(2000);
  EXPECT_EQ(control.ticks.size(), 2u);
  EXPECT_FALSE(control.TimerRunning());
}

}  // namespace
