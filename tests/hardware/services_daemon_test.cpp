// The board control services of the running daemon on its stand-in board,
// driven by a controller over loopback, with the board set and read through
// its own control client.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdlib>

#include "DaemonProcess.h"
#include "control/ServerTestUtil.h"

using app_test::DaemonProcess;
using app_test::TestRoot;
using ctl_test::Bytes;

namespace {

// A controller that keeps every frame the daemon sent, raw and as text.
class Controller {
 public:
  bool connect(int port) {
    return app_test::waitUntil([&] { return peer_.connect(port); }, 5000);
  }
  void send(const std::string& text) { EXPECT_TRUE(peer_.send(ctl_test::frameOf(text))); }
  // Reads for the time given, or until a frame holds the text.
  bool readUntil(const std::string& text, int ms) {
    const unsigned start = ctl_test::now_ms();
    for (;;) {
      for (size_t i = seen_; i < frames_.size(); ++i)
        if (texts_[i].find(text) != std::string::npos) {
          seen_ = i + 1;
          return true;
        }
      seen_ = frames_.size();
      const int left = ms - int(ctl_test::now_ms() - start);
      if (left <= 0) return false;
      Bytes b = peer_.recv(1, left < 50 ? left : 50);
      wire_.insert(wire_.end(), b.begin(), b.end());
      split();
    }
  }
  // The raw frame of the answer to seq (on slot, when given).
  std::string answer(int seq, int slot = -1) {
    const std::string want = "{ seq " + std::to_string(seq) +
                             (slot < 0 ? "" : ", slot " + std::to_string(slot)) + ", pdu response";
    if (!readUntil(want, 5000)) return "no answer";
    return ctl_test::hex(frames_[seen_ - 1]);
  }
  size_t count(const std::string& text) const {
    size_t n = 0;
    for (const std::string& t : texts_) n += t.find(text) != std::string::npos;
    return n;
  }
  const std::vector<Bytes>& frames() const { return frames_; }
  const std::vector<std::string>& texts() const { return texts_; }

 private:
  void split() {
    while (wire_.size() >= 4) {
      const size_t len = (size_t(wire_[2]) << 8) | wire_[3];
      if (len < 4 || wire_.size() < len) return;
      frames_.emplace_back(wire_.begin(), wire_.begin() + long(len));
      texts_.push_back(ctl_test::text(Bytes(wire_.begin() + 4, wire_.begin() + long(len))));
      wire_.erase(wire_.begin(), wire_.begin() + long(len));
    }
  }
  ctl_test::Peer peer_;
  Bytes wire_;
  std::vector<Bytes> frames_;
  std::vector<std::string> texts_;
  size_t seen_ = 0;
};

class ServicesDaemon : public ::testing::Test {
 protected:
  void SetUp() override { ::setenv("QUORVAD_BOARD", "standin", 1); }
  void TearDown() override { ::unsetenv("QUORVAD_BOARD"); }
  void launch(std::vector<std::string> extra = {}) {
    port = ctl_test::free_port();
    extra.insert(extra.begin(), {"--port", std::to_string(port)});
    daemon.reset(new DaemonProcess(root, extra));
    ASSERT_TRUE(daemon->waitStarted()) << daemon->err();
  }
  void start(std::vector<std::string> extra = {}) {
    launch(extra);
    ASSERT_TRUE(ctl.connect(port));
  }
  std::string board(const std::string& cmd) { return app_test::qvboard(root.dir(), cmd); }

  TestRoot root;
  int port = 0;
  std::unique_ptr<DaemonProcess> daemon;
  Controller ctl;
};

std::string hex2(unsigned b) {
  char t[4];
  std::snprintf(t, sizeof t, "%02X", b);
  return t;
}

}  // namespace

TEST_F(ServicesDaemon, BusTestPassesFailsOnACorruptChannelAndClockCfgSetsTheClock) {
  start();
  srandom(1);
  unsigned p[3];
  for (unsigned& b : p) b = unsigned(random() & 0xFF);

  ctl.send("{ seq 1, pdu command : testBpc : { bus 0, seed 1, mode write : NULL, timeslot-start 0, "
           "timeslot-length 3 } }");
  // {seq 1, success}: presence 1 0, seq length 01 value 01, response 01, success 0.
  EXPECT_EQ(ctl.answer(1), "03 00 00 08 80 01 01 40");
  EXPECT_EQ(board("hal channel 8192 8194"), "8192 drive 0x" + hex2(p[0]) + " seen 0x" + hex2(p[0]) +
                                                "\n8193 drive 0x" + hex2(p[1]) + " seen 0x" + hex2(p[1]) +
                                                "\n8194 drive 0x" + hex2(p[2]) + " seen 0x" + hex2(p[2]) + "\n");

  EXPECT_EQ(board("hal seen 8193 " + std::to_string(p[1] ^ 0xFF)), "");
  ctl.send("{ seq 2, pdu command : testBpc : { bus 0, seed 1, mode write : NULL, timeslot-start 0, "
           "timeslot-length 3 } }");
  // busError is 10 of 0..12: response 01, error 1, no extension 0, 1010.
  EXPECT_EQ(ctl.answer(2), "03 00 00 08 80 01 02 6A");
  EXPECT_TRUE(daemon->waitErr("bus 0: write failed on channel 1 write " + hex2(p[1]) + "  written " +
                              hex2(p[1] ^ 0xFF) + " \n"))
      << daemon->err();

  ctl.send("{ seq 3, pdu command : clockCfg : { clkSel0 external, bextEn enabled, source 2 } }");
  EXPECT_EQ(ctl.answer(3), "03 00 00 08 80 01 03 40");
  const std::string clock = board("hal clock");
  // Free-running on connection, then the ordered source.
  EXPECT_EQ(clock.substr(0, 8), "clock 2\n");
  EXPECT_NE(clock.find(" 4\n"), std::string::npos);
  EXPECT_TRUE(daemon->waitErr("clkctl: clock source = f2\n"));
}

TEST_F(ServicesDaemon, DisabledClockControlRefusesClockCfg) {
  start({"--disable-clock"});
  ctl.send("{ seq 1, pdu command : clockCfg : { clkSel0 internal, bextEn enabled, source 0 } }");
  // unsupported is 6 of 0..12: 01 1 0 0110.
  EXPECT_EQ(ctl.answer(1), "03 00 00 08 80 01 01 66");
  EXPECT_EQ(board("hal clock"), "clock none\n");
  EXPECT_NE((daemon->out() + daemon->err()).find("clock control disabled.\n"), std::string::npos);
}

TEST_F(ServicesDaemon, TrunkStatusCasAndSpiStatusInRealTime) {
  launch();
  // The framers' state, set before the controller comes.
  EXPECT_EQ(board("maintenance trunk 2 state 3 lossAIS 7"),
            "trunk 2 state 3 slips 0 lossBF 0 lossCarrier 0 lossAIS 7 lossRAI 0\n");
  EXPECT_EQ(board("hal spi reg 1 0x33 0x85"), "");
  ASSERT_TRUE(ctl.connect(port));
  const std::string ais = "trunk 2, state ais, slips 0, lossBF 0, lossCarrier 0, lossAIS 7, lossRAI 0, name \"\", "
                          "clockMaster FALSE, type e1";
  ASSERT_TRUE(ctl.readUntil(ais, 3000));

  ctl.send("{ seq 1, pdu command : ioctl : cas : { channel { path 1, timeslot 3 }, cmd open : 5 } }");
  EXPECT_EQ(ctl.answer(1), "03 00 00 08 80 01 01 40");
  EXPECT_EQ(board("cas slot 1 3"), "1/3 enabled tx 5 rx 0\n");
  // An ioctl that names a slot is the slots' business, never the trunks'.
  ctl.send("{ seq 2, slot 9, pdu command : ioctl : cas : { channel { path 2, timeslot 4 }, cmd open : 5 } }");
  // seq and slot present (11), seq 01 02, slot 9 in two octets, response
  // 01, error 1, no extension 0, slotNotExists 3 of 0..12: 0011.
  EXPECT_EQ(ctl.answer(2, 9), "03 00 00 0A C0 01 02 00 09 63");
  EXPECT_EQ(board("cas slot 2 4"), "2/4 disabled tx 0 rx 0\n");
  EXPECT_EQ(board("cas rx 1 3 9"), "sent to 1 open file(s)\n");
  ASSERT_TRUE(ctl.readUntil("{ pdu signal : cas : { channel { path 1, timeslot 3 }, rx 9, tx 5 } }", 3000));
  // path 1, timeslot 3, rx 9, tx 5 after the choice bits 23 80.
  EXPECT_EQ(ctl_test::hex(ctl.frames().back()), "03 00 00 0E 23 80 01 01 01 03 01 09 01 05");

  // Every second: the four trunks again, and the eight framers.
  ASSERT_TRUE(ctl.readUntil("trunk 1, state rai, slips 0, lossBF 0, lossCarrier 0, lossAIS 0, lossRAI 0, "
                            "name \"\", clockMaster FALSE, type bri",
                            3000));
  EXPECT_GE(ctl.count(ais), 2u);

  // The HAL loses its SPI: the framers go silent with the line, the
  // trunks do not.
  EXPECT_EQ(board("hal spi present off"), "");
  ASSERT_TRUE(daemon->waitErr("spi: hal without spi\n", 3000));
  ctl.readUntil("never", 300);  // what was on its way already
  const size_t bri = ctl.count("type bri"), e1 = ctl.count(ais);
  ctl.readUntil("never", 2200);
  EXPECT_EQ(ctl.count("type bri"), bri);
  EXPECT_GE(ctl.count(ais), e1 + 2);
}
