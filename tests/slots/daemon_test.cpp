// The slot commands end to end: the built daemon on the stand-in board,
// driven by qvctl over loopback, its switch read back through qvboard
// while the controller is still connected.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdio>

#include "DaemonController.h"
#include "Messages.h"

using namespace slots_test;

namespace {

struct SlotDaemonTest : DaemonTest {
  std::vector<std::string> run(const std::string& input) {
    Controller s(port);
    size_t n = 0;
    for (size_t at = input.find("pdu command"); at != std::string::npos; at = input.find("pdu command", at + 1)) ++n;
    std::vector<std::string> got = s.send(input, n);
    EXPECT_EQ(s.finish(), 0);
    return got;
  }
};

TEST_F(SlotDaemonTest, TheMainRoad) {
  Controller c(port);
  EXPECT_EQ(c.send("{ seq 1, pdu command : query : NULL }\n", 1, "pdu signal : query").size(), 2u);

  EXPECT_EQ(c.send(trunk(5, 2, 5) + "\n", 1, "receiver"),
            (std::vector<std::string>{ok(5), stream(5, "transmitter", 69), stream(5, "receiver", 69)}));
  EXPECT_EQ(c.send(trunk(6, 2, 6, 2) + "\n", 1, "receiver"),
            (std::vector<std::string>{ok(6, 2), stream(6, "transmitter", 70), stream(6, "receiver", 70)}));

  EXPECT_EQ(c.send(cmd(5, "connect : 6", 3) + "\n"), std::vector<std::string>{ok(5, 3)});
  EXPECT_EQ(app_test::qvboard(root.dir(), "hal channel 70"), "70 listen 69 seen 0xFF\n");
  EXPECT_EQ(c.send(cmd(6, "disconnect : NULL", 4) + "\n"), std::vector<std::string>{ok(6, 4)});
  EXPECT_EQ(app_test::qvboard(root.dir(), "hal channel 70"), "70 drive 0xD5 seen 0xD5\n");

  // The held time-slot goes to the new slot; the old number is free.
  EXPECT_EQ(c.send(trunk(7, 2, 5, 5) + "\n", 1, "receiver").front(), ok(7, 5));
  EXPECT_TRUE(daemon->waitErr("trunk-slot: two slots require the same timeslot, remove old.\n old slot 05:trunk\n"));
  EXPECT_EQ(c.send(cmd(5, "destroy : NULL", 6) + "\n"), std::vector<std::string>{err(5, "slotNotExists", 6)});

  // Every cause the wire can reach.
  EXPECT_EQ(c.send(cmd(7, "connect : 9", 7) + "\n" + cmd(7, "activate : empty : NULL", 8) + "\n" +
                       trunk(8, 4, 0, 9) + "\n",
                   3),
            (std::vector<std::string>{err(7, "slotNotExists", 7), err(7, "unsupported", 8),
                                      err(8, "insufficientResources", 9)}));
  EXPECT_EQ(app_test::qvboard(root.dir(), "fail request 0x80084D02 EIO once"), "");
  EXPECT_EQ(c.send(cmd(7, "connect : 6", 10) + "\n"), std::vector<std::string>{err(7, "connectFail", 10)});
  EXPECT_EQ(c.send(cmd(7, "connect : 6", 11) + "\n"), std::vector<std::string>{ok(7, 11)});
  EXPECT_EQ(app_test::qvboard(root.dir(), "fail request 0xC0084D04 EIO once"), "");
  EXPECT_EQ(c.send(cmd(6, "disconnect : NULL", 12) + "\n"), std::vector<std::string>{err(6, "disconnectFail", 12)});
  EXPECT_EQ(c.send(cmd(7, "connect : 6", 13) + "\n"), std::vector<std::string>{ok(7, 13)});
  EXPECT_EQ(app_test::qvboard(root.dir(), "hal channel 70"), "70 listen 69 seen 0xFF\n");

  // The controller leaves: every slot goes, and with it every path.
  EXPECT_EQ(c.finish(), 0);
  EXPECT_TRUE(app_test::waitUntil([&] { return app_test::qvboard(root.dir(), "hal channel 70") == "70 drive 0xD5 seen 0xD5\n"; }));
  EXPECT_TRUE(daemon->waitErr("mux: disconnect slot 06:trunk [70]\n"));
  EXPECT_EQ(run(cmd(6, "destroy : NULL") + "\n" + cmd(7, "destroy : NULL", 2) + "\n"),
            (std::vector<std::string>{err(6, "slotNotExists"), err(7, "slotNotExists", 2)}));
}

TEST_F(SlotDaemonTest, SighupReportsTheResourcesToTheController) {
  Controller c(port);
  EXPECT_EQ(c.send("{ seq 1, pdu command : ping : NULL }\n").size(), 1u);
  daemon->signal(SIGHUP);
  const std::vector<std::string> got = c.read(0, "pdu signal : query");
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0].rfind("{ pdu signal : query : { boardMajor 0, boardMinor 0, rtp-g729 32,", 0), 0u) << got[0];
}

TEST_F(SlotDaemonTest, BusChannelsAndMccDataChannels) {
  Controller c(port);
  std::vector<std::string> got = c.send("{ seq 1, pdu command : query : NULL }\n", 1, "pdu signal : query");
  ASSERT_EQ(got.size(), 2u);
  EXPECT_NE(got[1].find("mcc-data 32, mcc-bri 16, mcc-trans 64, echoBus { },"), std::string::npos) << got[1];

  // A map slot both ways on the shared buses, joined to a trunk time-slot.
  c.send(trunk(5, 2, 5, 2) + "\n", 1, "receiver");
  EXPECT_EQ(c.send(cmd(6, "create : map : { transmitter { bus 1, channel 3 }, receiver { bus 0, channel 5 } }", 3) +
                       "\n",
                   1, "transmitter"),
            (std::vector<std::string>{ok(6, 3), stream(6, "receiver", 8197), stream(6, "transmitter", 8323)}));
  EXPECT_EQ(c.send(cmd(5, "connect : 6", 4) + "\n" + cmd(6, "connect : 5", 5) + "\n", 2),
            (std::vector<std::string>{ok(5, 4), ok(6, 5)}));
  EXPECT_EQ(app_test::qvboard(root.dir(), "hal channel 8197"), "8197 listen 69 seen 0xFF\n");
  EXPECT_EQ(app_test::qvboard(root.dir(), "hal channel 69"), "69 listen 8323 seen 0xFF\n");

  // A newer map slot takes the receive channel: the old one goes, its
  // receive channel disabled and the trunk left without its source.
  EXPECT_EQ(c.send(cmd(7, "create : map : { receiver { bus 0, channel 5 } }", 6) + "\n", 1, "receiver"),
            (std::vector<std::string>{ok(7, 6), stream(7, "receiver", 8197)}));
  EXPECT_TRUE(daemon->waitErr("map-slot: two slots require the same ipc-slot, remove old.\n"
                              "new slot na:map <-> old slot 06:map\n"));
  EXPECT_EQ(app_test::qvboard(root.dir(), "hal channel 69"), "69 drive 0xD5 seen 0xD5\n");
  EXPECT_EQ(app_test::qvboard(root.dir(), "hal channel 8197"), "8197 disabled seen 0xFF\n");

  // One channel both ways: answered, and the daemon lives on.
  EXPECT_EQ(c.send(cmd(8, "create : map : { transmitter { bus 2, channel 1 }, receiver { bus 2, channel 1 } }", 7) +
                       "\n" + cmd(6, "destroy : NULL", 8) + "\n",
                   2, "slotNotExists"),
            (std::vector<std::string>{ok(8, 7), stream(8, "receiver", 8449), stream(8, "transmitter", 8449),
                                      err(6, "slotNotExists", 8)}));

  // An MCC data channel: what the board receives comes to the controller,
  // what the controller sends goes out on the channel.
  EXPECT_EQ(c.send(cmd(9, "create : mcc : { type data, mode standard }", 9) + "\n"), std::vector<std::string>{ok(9, 9)});
  EXPECT_EQ(app_test::qvboard(root.dir(), "mcc list").rfind("16384 s", 0), 0u);
  EXPECT_EQ(app_test::qvboard(root.dir(), "mcc inject 16384 7E0102FF"), "");
  EXPECT_EQ(c.read(0, "userData"), std::vector<std::string>{"{ slot 9, pdu signal : userData : '7e 01 02 ff'H }"});
  EXPECT_EQ(c.send(cmd(9, "userData : '0A0B0C'H", 10) + "\n"), std::vector<std::string>{ok(9, 10)});
  EXPECT_TRUE(app_test::waitUntil([&] { return app_test::qvboard(root.dir(), "mcc captured 16384") == "0A0B0C\n"; }));

  // No channel left of the type: refused.
  EXPECT_EQ(app_test::qvboard(root.dir(), "mcc pool data 1"), "");
  EXPECT_EQ(c.send(cmd(10, "create : mcc : { type data, mode standard }", 11) + "\n"),
            std::vector<std::string>{err(10, "insufficientResources", 11)});
  EXPECT_TRUE(daemon->waitErr("mcc: MCC_ALLOCATE fail: No space left on device\n"));
  EXPECT_EQ(c.finish(), 0);
}

TEST_F(SlotDaemonTest, MixerPortsAndAFilePlayer) {
  Controller c(port);
  EXPECT_EQ(app_test::qvboard(root.dir(), "mixer unit 2 16 4"), "");
  std::vector<std::string> got = c.send("{ seq 1, pdu command : query : NULL }\n", 1, "pdu signal : query");
  ASSERT_EQ(got.size(), 2u);
  EXPECT_NE(got[1].find("mixer { { unit 2, tdm_inputs 16, tdm_outputs 16, mixer_inputs 4, dpu_per_mixer 770, "
                        "dpu_per_ec 17, dpu_per_lms 24 } }"),
            std::string::npos)
      << got[1];
  EXPECT_EQ(c.send(cmd(3, "create : mixerOut : { unit 2, channel tdm : 1, inputs { { channel tdm : 0, gain 99 } } }") +
                   "\n"),
            std::vector<std::string>{ok(3)});
  EXPECT_EQ(app_test::qvboard(root.dir(), "mixer units"), "unit 2 tdm=16 inputs=4 channels=20480-20495\n  out 1 <- 0*99\n");

  // A prompt of 10000 bytes played once onto a trunk time-slot, then the end.
  ::mkdir((root.dir() + "/usr").c_str(), 0755);
  ::mkdir((root.dir() + "/usr/local").c_str(), 0755);
  ::mkdir((root.dir() + "/usr/local/voice").c_str(), 0755);
  FILE* f = std::fopen((root.dir() + "/usr/local/voice/hello").c_str(), "wb");
  ASSERT_NE(f, nullptr);
  for (int i = 0; i < 10000; ++i) std::fputc(0x55, f);
  std::fclose(f);
  c.send(trunk(5, 2, 5, 2) + "\n", 1, "receiver");
  EXPECT_EQ(c.send(cmd(4, "create : voice : player : file : { name { \"hello\" }, repeat 1 }", 3) + "\n"),
            std::vector<std::string>{ok(4, 3)});
  EXPECT_EQ(c.send(cmd(4, "connect : 5", 4) + "\n", 1, "abort"),
            (std::vector<std::string>{stream(4, "transmitter", 16384), ok(4, 4), stream(4, "transmitter", -1),
                                      "{ slot 4, pdu signal : abort : 0 }"}));
  const std::string captured = app_test::qvboard(root.dir(), "mcc captured 16384");
  // Read in pieces of 8192: each is one frame on the channel.
  EXPECT_EQ(captured, std::string(2 * 8192, '5') + "\n" + std::string(2 * 1808, '5') + "\n");
  EXPECT_EQ(c.finish(), 0);
}

}  // namespace
