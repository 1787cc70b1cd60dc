// The stand-in "/dev/mcc/ctl" reached through the access layer: channel
// allocation, frames both ways, back-pressure, pools and the end of a
// session.
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "board/Mcc.h"
#include "board/StandInFixture.h"
#include "hardware/Device.h"

using Board::Mcc;
using testboard::StandInTest;
using testboard::Words;

namespace {

class MccDevice : public StandInTest {
 protected:
  // Opens the controller and allocates a channel; its switch channel, or -1.
  int allocate(int& fd, uint32_t type, uint32_t rxPacketSize = 512) {
    fd = Device::open("/dev/mcc/ctl", O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return -1;
    Words<5> rec({type, rxPacketSize, 0, 1, 4});
    if (Device::requestRecord(fd, Mcc::kAllocate, rec.b, sizeof rec.b) != 0) return -1;
    return Device::requestValue(fd, Mcc::kTimeslot, 0);
  }
  std::string readFrame(int fd) {
    char buf[2048];
    ssize_t n = Device::read(fd, buf, sizeof buf);
    return n > 0 ? std::string(buf, size_t(n)) : std::string();
  }
};

TEST_F(MccDevice, AllocationOfAnSs7ChannelAndItsSwitchChannel) {
  int fd = Device::open("/dev/mcc/ctl", O_RDWR | O_NONBLOCK);
  ASSERT_GE(fd, 0);
  // Before allocating, the file has no channel.
  EXPECT_EQ(Device::requestValue(fd, Mcc::kTimeslot, 0), -1);
  EXPECT_EQ(errno, EINVAL);
  // {3, 512, 0, 1, 4} by hand.
  uint8_t rec[20] = {0, 0, 0, 3, 0, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0, 4};
  ASSERT_EQ(Device::requestRecord(fd, Mcc::kAllocate, rec, 20), 0);
  int ch = Device::requestValue(fd, Mcc::kTimeslot, 0);
  EXPECT_GE(ch, int(Mcc::kFirstChannel));  // never a trunk or bus channel
  // One channel per open file.
  EXPECT_EQ(Device::requestRecord(fd, Mcc::kAllocate, rec, 20), -1);
  EXPECT_EQ(errno, EBUSY);

  auto all = board().mcc().allocations();
  ASSERT_EQ(all.size(), 1u);
  EXPECT_EQ(all[0].channel, uint32_t(ch));
  EXPECT_EQ(all[0].params.type, 3u);
  EXPECT_EQ(all[0].params.rxPacketSize, 512u);
  EXPECT_EQ(all[0].params.rxThreshold, 1u);
  EXPECT_EQ(all[0].params.txThreshold, 4u);
  EXPECT_EQ(board().mcc().used(Mcc::Ss7), 1u);

  auto lines = board().logLines({Mcc::kAllocate});
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_NE(lines[0].find(" /dev/mcc/ctl s"), std::string::npos);
  EXPECT_NE(lines[0].find(" 0x40144D00 allocate type=3 rxPacketSize=512 reserved=0 "
                          "rxThreshold=1 txThreshold=4 = 0"),
            std::string::npos)
      << lines[0];
  lines = board().logLines({Mcc::kTimeslot});
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_NE(lines[1].find("timeslot = " + std::to_string(ch)), std::string::npos) << lines[1];

  // Two channels never share a switch channel.
  int fd2, ch2 = allocate(fd2, Mcc::Data);
  EXPECT_GE(ch2, int(Mcc::kFirstChannel));
  EXPECT_NE(ch2, ch);
  Device::close(fd2);
  Device::close(fd);
}

TEST_F(MccDevice, FramesBothWaysOneReadOneFrame) {
  int fd, ch = allocate(fd, Mcc::Ss7);
  ASSERT_GE(ch, 0);
  ASSERT_EQ(Device::write(fd, "abc", 3), 3);
  ASSERT_EQ(Device::write(fd, "defgh", 5), 5);
  auto sent = board().mcc().captured(uint32_t(ch), true);
  ASSERT_EQ(sent.size(), 2u);
  EXPECT_EQ(sent[0], "abc");
  EXPECT_EQ(sent[1], "defgh");
  EXPECT_TRUE(board().mcc().captured(uint32_t(ch)).empty());

  ASSERT_TRUE(board().mcc().inject(uint32_t(ch), "\x01\x02"));
  ASSERT_TRUE(board().mcc().inject(uint32_t(ch), "xyz"));
  pollfd p{fd, POLLIN, 0};
  ASSERT_EQ(::poll(&p, 1, 1000), 1);
  EXPECT_EQ(readFrame(fd), std::string("\x01\x02"));
  EXPECT_EQ(readFrame(fd), "xyz");
  char c;
  EXPECT_EQ(Device::read(fd, &c, 1), -1);
  EXPECT_EQ(errno, EAGAIN);

  // A unit is never longer than the channel's rxPacketSize.
  std::string big(1300, 'q');
  ASSERT_TRUE(board().mcc().inject(uint32_t(ch), big));
  EXPECT_EQ(readFrame(fd).size(), 512u);
  EXPECT_EQ(readFrame(fd).size(), 512u);
  EXPECT_EQ(readFrame(fd).size(), 276u);
  EXPECT_FALSE(board().mcc().inject(uint32_t(ch), ""));
  EXPECT_FALSE(board().mcc().inject(1, "x"));
  Device::close(fd);
}

TEST_F(MccDevice, BackPressureGivesEagainThenPollout) {
  int fd, ch = allocate(fd, Mcc::Ss7);
  ASSERT_GE(ch, 0);
  ASSERT_TRUE(board().mcc().setDraining(uint32_t(ch), false));
  std::string frame(512, 'f');
  size_t written = 0;
  for (; written < 100000; ++written) {
    if (Device::write(fd, frame.data(), frame.size()) < 0) break;
  }
  ASSERT_LT(written, 100000u);
  EXPECT_EQ(errno, EAGAIN);
  EXPECT_GT(written, 0u);
  pollfd p{fd, POLLOUT, 0};
  EXPECT_EQ(::poll(&p, 1, 0), 0);
  EXPECT_TRUE(board().mcc().captured(uint32_t(ch)).empty());

  ASSERT_TRUE(board().mcc().setDraining(uint32_t(ch), true));
  // The board's own thread takes the frames; the daemon's poll wakes up.
  ASSERT_EQ(::poll(&p, 1, 5000), 1);
  EXPECT_TRUE(p.revents & POLLOUT);
  ASSERT_EQ(Device::write(fd, "last", 4), 4);
  auto sent = board().mcc().captured(uint32_t(ch));
  ASSERT_EQ(sent.size(), written + 1);
  EXPECT_EQ(sent.front(), frame);
  EXPECT_EQ(sent.back(), "last");
  Device::close(fd);
}

TEST_F(MccDevice, PoolsAndTheCountsRequest) {
  Mcc& mcc = board().mcc();
  mcc.setCapacity(Mcc::Data, 5);
  mcc.setCapacity(Mcc::Bri, 2);
  mcc.setCapacity(Mcc::Transparent, 7);
  mcc.setCapacity(Mcc::Ss7, 1);
  int a, chA = allocate(a, Mcc::Ss7);
  ASSERT_GE(chA, 0);
  int b;
  EXPECT_EQ(allocate(b, Mcc::Ss7), -1);
  EXPECT_EQ(errno, ENOSPC);
  int c, chC = allocate(c, Mcc::Bri);
  ASSERT_GE(chC, 0);

  int q = Device::open("/dev/mcc/ctl", O_RDONLY);
  ASSERT_GE(q, 0);
  uint8_t counts[16];
  std::memset(counts, 0xEE, sizeof counts);
  ASSERT_EQ(Device::requestRecord(q, Mcc::kCounts, counts, 16), 0);
  const uint8_t expected[16] = {0, 0, 0, 5, 0, 0, 0, 1, 0, 0, 0, 7, 0, 0, 0, 0};
  EXPECT_EQ(std::memcmp(counts, expected, 16), 0);
  auto lines = board().logLines({Mcc::kCounts});
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_NE(lines[0].find("counts -> data=5 bri=1 transparent=7 ss7=0 = 0"), std::string::npos)
      << lines[0];

  // Closing the holder gives the channel back to the pool.
  Device::close(a);
  EXPECT_EQ(mcc.used(Mcc::Ss7), 0u);
  Words<5> rec({Mcc::Ss7, 512, 0, 1, 4});
  EXPECT_EQ(Device::requestRecord(b, Mcc::kAllocate, rec.b, 20), 0);

  // Bad parameters.
  int d = Device::open("/dev/mcc/ctl", O_RDWR);
  Words<5> badType({7, 512, 0, 1, 4});
  EXPECT_EQ(Device::requestRecord(d, Mcc::kAllocate, badType.b, 20), -1);
  EXPECT_EQ(errno, EINVAL);
  Words<5> noSize({0, 0, 0, 1, 4});
  EXPECT_EQ(Device::requestRecord(d, Mcc::kAllocate, noSize.b, 20), -1);
  EXPECT_EQ(errno, EINVAL);
  for (int fd : {b, c, q, d}) Device::close(fd);
  EXPECT_TRUE(mcc.allocations().empty());
}

TEST_F(MccDevice, TheLastCloseOfADupFreesTheChannel) {
  int fd, ch = allocate(fd, Mcc::Data);
  ASSERT_GE(ch, 0);
  int copy = ::dup(fd);
  // The dup asks on the same session: the same channel.
  EXPECT_EQ(Device::requestValue(copy, Mcc::kTimeslot, 0), ch);
  Device::close(fd);
  ASSERT_EQ(board().mcc().allocations().size(), 1u);
  ASSERT_EQ(Device::write(copy, "still", 5), 5);
  EXPECT_EQ(board().mcc().captured(uint32_t(ch)).size(), 1u);
  Device::close(copy);
  EXPECT_TRUE(board().mcc().allocations().empty());
  EXPECT_EQ(board().mcc().used(Mcc::Data), 0u);
}

TEST_F(MccDevice, ASeveredChannelReadsAsAnError) {
  int fd, ch = allocate(fd, Mcc::Data);
  ASSERT_GE(ch, 0);
  ASSERT_TRUE(board().mcc().sever(uint32_t(ch)));
  pollfd p{fd, POLLIN, 0};
  ASSERT_EQ(::poll(&p, 1, 1000), 1);
  char buf[16];
  EXPECT_EQ(Device::read(fd, buf, sizeof buf), -1);
  EXPECT_EQ(errno, EIO);
  EXPECT_EQ(Device::requestValue(fd, Mcc::kTimeslot, 0), -1);
  EXPECT_EQ(errno, EIO);
  EXPECT_EQ(Device::write(fd, "x", 1), -1);
  EXPECT_EQ(errno, EPIPE);
  EXPECT_TRUE(board().mcc().allocations().empty());
  Device::close(fd);
}

TEST_F(MccDevice, InjectedAllocateFailureOnce) {
  board().failRequest(Mcc::kAllocate, ENOMEM, true, "/dev/mcc/ctl");
  int fd;
  EXPECT_EQ(allocate(fd, Mcc::Data), -1);
  EXPECT_EQ(errno, ENOMEM);
  Words<5> rec({Mcc::Data, 512, 0, 1, 1});
  EXPECT_EQ(Device::requestRecord(fd, Mcc::kAllocate, rec.b, 20), 0);
  EXPECT_EQ(board().mcc().allocations().size(), 1u);
  Device::close(fd);
}

}  // namespace
