// Bus channel, ext, echo and MCC data slots in this process, on the
// stand-in board: their streams, their switch channels read back from the
// board, map displacement, and controller data both ways through the
// stand-in's controller channels.
#include "SlotsTestUtil.h"
#include "board/Hal.h"
#include "board/Mcc.h"
#include "slots/EchoSlot.h"
#include "slots/ExtSlot.h"
#include "slots/MapSlot.h"
#include "slots/MccSlot.h"

using namespace slots_test;
using Board::Hal;
using Board::Mcc;

namespace {

std::string map(unsigned slot, const std::string& params, int seq = 1) {
  return cmd(slot, "create : map : { " + params + " }", seq);
}

std::string ext(unsigned slot, long tx, long rx, int seq = 1) {
  return cmd(slot, "create : ext : { transmitter " + std::to_string(tx) + ", receiver " + std::to_string(rx) + " }",
             seq);
}

std::string mcc(unsigned slot, const std::string& type, const std::string& mode, int seq = 1) {
  return cmd(slot, "create : mcc : { type " + type + ", mode " + mode + " }", seq);
}

// As the value notation prints an octet string: "7e 00 ff".
std::string hex(const std::string& bytes) {
  static const char d[] = "0123456789abcdef";
  std::string out;
  for (unsigned char c : bytes) {
    if (!out.empty()) out += ' ';
    out += d[c >> 4];
    out += d[c & 15];
  }
  return out;
}

std::string userData(unsigned slot, const std::string& bytes) {
  return "{ slot " + std::to_string(slot) + ", pdu signal : userData : '" + hex(bytes) + "'H }";
}

// An echo factory that found the buses it is told.
struct FoundEchoBuses : EchoFactory {
  explicit FoundEchoBuses(std::initializer_list<int> buses) {
    for (int b : buses) present_[b] = true;
  }
};

class BusSlotsTest : public SlotsTest {
 protected:
  static void SetUpTestSuite() {
    SlotsTest::SetUpTestSuite();
    // As start-up makes them; ext now heads the probes.
    MapFactory::instance();
    ExtFactory::instance();
    MccFactory::instance();
    EchoFactory::instance();
  }

  void SetUp() override {
    SlotsTest::SetUp();
    board().mcc().setCapacity(Mcc::Data, 32);
    board().mcc().setCapacity(Mcc::Ss7, 32);
  }

  Hal::Channel ch(uint32_t n) { return board().hal().channel(n); }

  // The only controller channel allocated.
  uint32_t mccChannel() {
    auto a = board().mcc().allocations();
    return a.size() == 1 ? a[0].channel : 0;
  }
};

TEST_F(BusSlotsTest, MapSlotsOnTheSharedBuses) {
  send(trunk(1, 2, 5));
  // A transmitter only (bus 1 channel 3): a source, never a sink.
  EXPECT_EQ(send(map(2, "transmitter { bus 1, channel 3 }")),
            (std::vector<std::string>{ok(2), stream(2, "transmitter", 8323)}));
  EXPECT_EQ(send(cmd(1, "connect : 2")), std::vector<std::string>{err(1, "connectFail")});
  EXPECT_EQ(send(cmd(2, "connect : 1")), std::vector<std::string>{ok(2)});
  EXPECT_EQ(ch(69).kind, Hal::Channel::Listening);
  EXPECT_EQ(ch(69).source, 8323u);

  // Both directions, receiver first.
  EXPECT_EQ(send(map(3, "transmitter { bus 15, channel 127 }, receiver { bus 0, channel 5 }")),
            (std::vector<std::string>{ok(3), stream(3, "receiver", 8197), stream(3, "transmitter", 10239)}));
  EXPECT_EQ(send(cmd(1, "connect : 3")), std::vector<std::string>{ok(1)});
  EXPECT_EQ(ch(8197).source, 69u);

  // Destroyed: its receive channel is disabled, its transmit channel left.
  EXPECT_EQ(send(cmd(3, "destroy : NULL")), std::vector<std::string>{ok(3)});
  EXPECT_EQ(ch(8197).kind, Hal::Channel::Disabled);
  EXPECT_EQ(HwMux::instance()->sourceOf(8197), HwMux::kDisabled);
  EXPECT_EQ(MapFactory::instance().holder(5), nullptr);
  EXPECT_EQ(MapFactory::instance().holder(2047), nullptr);
  EXPECT_EQ(MapFactory::instance().holder(131), slot(2));
}

TEST_F(BusSlotsTest, AHeldSharedChannelGoesToTheNewestMapSlot) {
  send(trunk(1, 2, 5));
  send(map(2, "transmitter { bus 1, channel 3 }, receiver { bus 1, channel 4 }"));
  send(map(3, "transmitter { bus 2, channel 0 }"));
  send(cmd(1, "connect : 2"));
  send(cmd(3, "connect : 1"));

  // Its receiver is slot 2's transmitter, its transmitter slot 3's: both
  // go, unannounced, with their links and paths.
  testing::internal::CaptureStderr();
  EXPECT_EQ(send(map(4, "transmitter { bus 2, channel 0 }, receiver { bus 1, channel 3 }")),
            (std::vector<std::string>{ok(4), stream(4, "receiver", 8323), stream(4, "transmitter", 8448)}));
  const std::string said = testing::internal::GetCapturedStderr();
  EXPECT_NE(said.find("map-slot: two slots require the same ipc-slot, remove old.\n"
                     "new slot na:map <-> old slot 02:map\n"),
            std::string::npos)
      << said;
  EXPECT_NE(said.find("new slot na:map <-> old slot 03:map\n"), std::string::npos) << said;
  EXPECT_EQ(said.find("internal error"), std::string::npos) << said;
  EXPECT_EQ(slot(2), nullptr);
  EXPECT_EQ(slot(3), nullptr);
  EXPECT_TRUE(slot(1)->GetSinks().empty());
  EXPECT_EQ(slot(1)->GetSource(), nullptr);
  EXPECT_EQ(ch(69).kind, Hal::Channel::Driven);
  EXPECT_EQ(ch(8324).kind, Hal::Channel::Disabled);
  EXPECT_EQ(MapFactory::instance().holder(131), slot(4));
  EXPECT_EQ(MapFactory::instance().holder(132), nullptr);
  EXPECT_EQ(MapFactory::instance().holder(256), slot(4));
  EXPECT_EQ(send(cmd(2, "destroy : NULL")), std::vector<std::string>{err(2, "slotNotExists")});

  // One channel both ways: the slot holds it once and survives its own
  // create; its destroy frees the channel without complaint.
  testing::internal::CaptureStderr();
  EXPECT_EQ(send(map(5, "transmitter { bus 3, channel 9 }, receiver { bus 3, channel 9 }")),
            (std::vector<std::string>{ok(5), stream(5, "receiver", 8585), stream(5, "transmitter", 8585)}));
  EXPECT_EQ(send(cmd(5, "connect : 1")), std::vector<std::string>{ok(5)});
  EXPECT_EQ(ch(69).source, 8585u);
  EXPECT_EQ(send(cmd(5, "destroy : NULL")), std::vector<std::string>{ok(5)});
  EXPECT_EQ(testing::internal::GetCapturedStderr().find("map-slot"), std::string::npos);
  EXPECT_EQ(MapFactory::instance().holder(393), nullptr);
  EXPECT_EQ(ch(8585).kind, Hal::Channel::Disabled);
}

TEST_F(BusSlotsTest, AnExtReceiverTakesASourceOnlyWhileActivated) {
  send(trunk(1, 2, 5));
  EXPECT_EQ(send(ext(2, 5, 6)), (std::vector<std::string>{ok(2), stream(2, "transmitter", 8197)}));
  EXPECT_EQ(send(cmd(1, "connect : 2")), std::vector<std::string>{err(1, "connectFail")});

  EXPECT_EQ(send(cmd(2, "activate : empty : NULL")), (std::vector<std::string>{stream(2, "receiver", 8198), ok(2)}));
  EXPECT_EQ(ch(8198).kind, Hal::Channel::Driven);
  EXPECT_EQ(ch(8198).byte, 0xD5);
  EXPECT_EQ(send(cmd(1, "connect : 2")), std::vector<std::string>{ok(1)});
  EXPECT_EQ(ch(8198).source, 69u);
  // Activated again, it keeps what it hears.
  EXPECT_EQ(send(cmd(2, "activate : empty : NULL")), std::vector<std::string>{ok(2)});
  EXPECT_EQ(ch(8198).kind, Hal::Channel::Listening);

  EXPECT_EQ(send(cmd(2, "deactivate : NULL")), (std::vector<std::string>{stream(2, "receiver", -1), ok(2)}));
  EXPECT_EQ(slot(2)->GetSource(), nullptr);
  EXPECT_TRUE(slot(1)->GetSinks().empty());
  EXPECT_EQ(ch(8198).kind, Hal::Channel::Disabled);
  EXPECT_EQ(send(cmd(1, "connect : 2")), std::vector<std::string>{err(1, "connectFail")});

  send(cmd(2, "activate : empty : NULL"));
  send(cmd(1, "connect : 2"));
  EXPECT_EQ(send(cmd(2, "destroy : NULL")), std::vector<std::string>{ok(2)});
  EXPECT_EQ(ch(8198).kind, Hal::Channel::Disabled);

  // Numbers past the channels an int holds name no channel, and the switch
  // refuses them.
  EXPECT_EQ(send(ext(3, 2147483647, 2147483600)),
            (std::vector<std::string>{ok(3), "{ slot 3, pdu signal : transmitter : active : -1 }"}));
  EXPECT_EQ(send(cmd(3, "connect : 1")), std::vector<std::string>{err(3, "connectFail")});
}

TEST_F(BusSlotsTest, ExtNumbersBelowTheBusNameNoChannel) {
  // Trunk 0 time-slot 5 is switch channel 5, 8192 - 8187; it hears slot 1.
  send(trunk(4, 0, 5));
  send(trunk(1, 2, 5));
  EXPECT_EQ(send(cmd(1, "connect : 4")), std::vector<std::string>{ok(1)});
  ASSERT_EQ(ch(5).kind, Hal::Channel::Listening);
  ASSERT_EQ(ch(5).source, 69u);

  EXPECT_EQ(send(ext(2, 0, -8187)), (std::vector<std::string>{ok(2), stream(2, "transmitter", 8192)}));
  EXPECT_EQ(send(cmd(2, "activate : empty : NULL")),
            (std::vector<std::string>{"{ slot 2, pdu signal : receiver : active : -1 }", ok(2)}));
  EXPECT_EQ(send(cmd(1, "connect : 2")), std::vector<std::string>{err(1, "connectFail")});
  EXPECT_EQ(send(cmd(2, "destroy : NULL")), std::vector<std::string>{ok(2)});
  EXPECT_EQ(ch(5).kind, Hal::Channel::Listening);
  EXPECT_EQ(ch(5).source, 69u);

  // As far below as an int goes; the transmitter can feed nothing.
  EXPECT_EQ(send(ext(3, -9000, -2147483647 - 1)),
            (std::vector<std::string>{ok(3), "{ slot 3, pdu signal : transmitter : active : -1 }"}));
  EXPECT_EQ(send(cmd(3, "connect : 1")), std::vector<std::string>{err(3, "connectFail")});
  EXPECT_EQ(ch(5).source, 69u);
}

TEST_F(BusSlotsTest, EchoBuses) {
  // None found: every echo create is refused and none is reported.
  EXPECT_EQ(send(cmd(1, "create : echo : { bus 0, channel 1 }")), std::vector<std::string>{err(1, "insufficientResources")});
  std::vector<std::string> got = send("{ seq 2, pdu command : query : NULL }", 1);
  ASSERT_EQ(got.size(), 2u);
  EXPECT_NE(got[1].find("echoBus { }"), std::string::npos) << got[1];

  FoundEchoBuses found{0, 15};
  // Only 0 to 15 name a bus.
  EXPECT_EQ(send(cmd(1, "create : echo : { bus -1, channel 1 }", 1) + "\n" +
                     cmd(1, "create : echo : { bus 16, channel 1 }", 2) + "\n" +
                     cmd(1, "create : echo : { bus -2147483648, channel 1 }", 3) + "\n" +
                     cmd(1, "create : echo : { bus 1, channel 1 }", 4),
                 4),
            (std::vector<std::string>{err(1, "insufficientResources", 1), err(1, "insufficientResources", 2),
                                      err(1, "insufficientResources", 3), err(1, "insufficientResources", 4)}));
  EXPECT_EQ(send(cmd(1, "create : echo : { bus 15, channel 3 }")),
            (std::vector<std::string>{ok(1), stream(1, "transmitter", 483), stream(1, "receiver", 483)}));
  got = send("{ seq 2, pdu command : query : NULL }", 1);
  ASSERT_EQ(got.size(), 2u);
  EXPECT_NE(got[1].find("echoBus { 0, 15 }"), std::string::npos) << got[1];
  send(cmd(1, "destroy : NULL"));
}

TEST_F(BusSlotsTest, MccDataBothWays) {
  EXPECT_EQ(send(mcc(4, "data", "standard")), std::vector<std::string>{ok(4)});
  const uint32_t c = mccChannel();
  ASSERT_NE(c, 0u);
  auto log = board().logEntries({Mcc::kAllocate});
  ASSERT_EQ(log.size(), 1u);
  EXPECT_EQ(log[0].in, std::string("\0\0\0\0" "\0\0\x02\0" "\0\0\0\0" "\0\0\0\x01" "\0\0\0\x01", 20));

  // Each frame read is one signal of exactly its bytes; 700 bytes arrive
  // as the channel's units of 512 and 188.
  std::string big;
  for (int i = 0; i < 700; ++i) big += char(i * 7);
  ASSERT_TRUE(board().mcc().inject(c, std::string("\x7E\x00\xFF", 3)));
  ASSERT_TRUE(board().mcc().inject(c, big));
  EXPECT_EQ(until(hex(big.substr(512))),
            (std::vector<std::string>{userData(4, std::string("\x7E\x00\xFF", 3)), userData(4, big.substr(0, 512)),
                                      userData(4, big.substr(512))}));

  // Commands go out as one frame each; an empty one sends nothing.
  EXPECT_EQ(send(cmd(4, "userData : '0102'H", 1) + "\n" + cmd(4, "userData : ''H", 2) + "\n" +
                     cmd(4, "userData : 'FF'H", 3),
                 3),
            (std::vector<std::string>{ok(4, 1), ok(4, 2), ok(4, 3)}));
  EXPECT_EQ(board().mcc().captured(c), (std::vector<std::string>{"\x01\x02", "\xFF"}));

  // Its switch channel connects like any other.
  send(trunk(1, 2, 5));
  EXPECT_EQ(send(cmd(4, "connect : 1")), (std::vector<std::string>{stream(4, "transmitter", int(c)), ok(4)}));
  EXPECT_EQ(ch(69).source, c);

  // A failed write is logged and still answered success.
  board().mcc().setDraining(c, false);
  std::string fill(4000, 'x');
  std::vector<char> frame(fill.begin(), fill.end());
  testing::internal::CaptureStderr();
  for (int i = 0; i < 200; ++i) slot(4)->IUserData(frame);
  EXPECT_NE(testing::internal::GetCapturedStderr().find("mcc: 04:MCC: userData write fail: "), std::string::npos);
  board().mcc().setDraining(c, true);

  // Destroyed: the channel goes back to its pool.
  EXPECT_EQ(send(cmd(4, "destroy : NULL")), std::vector<std::string>{ok(4)});
  EXPECT_TRUE(pump([&] { return board().mcc().allocations().empty(); }));
}

TEST_F(BusSlotsTest, MccAllocationAndCounts) {
  // bri in ss7 mode is an ss7 channel.
  EXPECT_EQ(send(mcc(4, "bri", "ss7")), std::vector<std::string>{ok(4)});
  auto a = board().mcc().allocations();
  ASSERT_EQ(a.size(), 1u);
  EXPECT_EQ(a[0].params.type, 3u);

  board().mcc().setCapacity(Mcc::Data, 0);
  testing::internal::CaptureStderr();
  EXPECT_EQ(send(mcc(5, "data", "standard")), std::vector<std::string>{err(5, "insufficientResources")});
  EXPECT_NE(testing::internal::GetCapturedStderr().find("mcc: MCC_ALLOCATE fail: "), std::string::npos);

  // The resources report counts what the controller has left.
  board().mcc().setCapacity(Mcc::Data, 7);
  board().mcc().setCapacity(Mcc::Bri, 5);
  board().mcc().setCapacity(Mcc::Transparent, 3);
  std::vector<std::string> got = send("{ seq 2, pdu command : query : NULL }", 1);
  ASSERT_EQ(got.size(), 2u);
  EXPECT_NE(got[1].find("mcc-data 7, mcc-bri 5, mcc-trans 3,"), std::string::npos) << got[1];

  // Without the device: no channels, and creates refused.
  board().command("fail open mcc ENOENT");
  got = send("{ seq 3, pdu command : query : NULL }", 1);
  ASSERT_EQ(got.size(), 2u);
  EXPECT_NE(got[1].find("mcc-data 0, mcc-bri 0, mcc-trans 0,"), std::string::npos) << got[1];
  testing::internal::CaptureStderr();
  EXPECT_EQ(send(mcc(5, "transparent", "standard")), std::vector<std::string>{err(5, "insufficientResources")});
  EXPECT_NE(testing::internal::GetCapturedStderr().find("mcc: fail to open MCC device: No such file or directory"),
            std::string::npos);
  board().mcc().setCapacity(Mcc::Bri, 16);
  board().mcc().setCapacity(Mcc::Transparent, 64);
}

TEST_F(BusSlotsTest, AFailedMccChannelIsReportedOnceAndNotPolledAgain) {
  send(mcc(4, "data", "standard"));
  const uint32_t c = mccChannel();
  ASSERT_TRUE(board().mcc().inject(c, "ab"));
  ASSERT_TRUE(board().mcc().sever(c));
  testing::internal::CaptureStderr();
  // The frame that came before the failure still arrives.
  EXPECT_EQ(until("userData"), std::vector<std::string>{userData(4, "ab")});
  collect(0);
  collect(0);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "mcc: 04:MCC: read error: Input/output error\n");
  EXPECT_EQ(send(cmd(4, "userData : '01'H")), std::vector<std::string>{ok(4)});
  EXPECT_EQ(send(cmd(4, "destroy : NULL")), std::vector<std::string>{ok(4)});
}

}  // namespace
