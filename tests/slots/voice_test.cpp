// Players and recorders in this process, on the stand-in's controller
// channels, with media servers on loopback: what reaches the channel, what
// reaches the server, and the order of the signals the controller hears.
#include <signal.h>
#include <sys/stat.h>

#include <fstream>

#include "MediaServer.h"
#include "SlotsTestUtil.h"
#include "board/Hal.h"
#include "board/Mcc.h"
#include "runtime/Root.h"
#include "slots/Voice.h"

using namespace slots_test;

namespace {

std::string player(unsigned slot, const std::string& params, int seq = 1) {
  return cmd(slot, "create : voice : player : " + params, seq);
}

std::string files(const std::string& names, int repeat) {
  return "file : { name { " + names + " }, repeat " + std::to_string(repeat) + " }";
}

std::string abort0(unsigned slot) { return "{ slot " + std::to_string(slot) + ", pdu signal : abort : 0 }"; }

// Bytes 0, 1, ... 255, 0, 1, ...
std::string pattern(size_t n, unsigned seed = 0) {
  std::string s(n, '\0');
  for (size_t i = 0; i < n; ++i) s[i] = char((i + seed) & 0xFF);
  return s;
}

class VoiceTest : public SlotsTest {
 protected:
  static void SetUpTestSuite() {
    SlotsTest::SetUpTestSuite();
    signal(SIGPIPE, SIG_IGN);
    VoiceFactory::instance();
    ::mkdir(Root::path("/usr").c_str(), 0755);
    ::mkdir(Root::path("/usr/local").c_str(), 0755);
    ::mkdir(Root::path("/usr/local/voice").c_str(), 0755);
  }

  void SetUp() override {
    SlotsTest::SetUp();
    send(trunk(10, 1, 7));
  }

  void prompt(const std::string& name, const std::string& bytes) {
    std::ofstream(Root::path("/usr/local/voice/" + name), std::ios::binary) << bytes;
  }

  // What the daemon wrote on the slot's channel so far, taken.
  std::string played(unsigned n) {
    std::string all;
    for (const std::string& f : board().mcc().captured(uint32_t(slot(n)->GetTransmitChannel()), true)) all += f;
    return all;
  }
};

TEST_F(VoiceTest, AFilePlayerPlaysItsListRepeatTimes) {
  const std::string a = pattern(20000), b = pattern(300, 7);
  prompt("a.pcm", a);
  prompt("b.pcm", b);
  // The player's channel: a transparent one, on which the player writes.
  EXPECT_EQ(send(player(2, files("\"missing\", \"a.pcm\", \"b.pcm\"", 2))), std::vector<std::string>{ok(2)});
  const auto alloc = board().mcc().allocations();
  ASSERT_EQ(alloc.size(), 1u);
  EXPECT_EQ(alloc[0].params.type, 2u);
  EXPECT_EQ(alloc[0].params.rxPacketSize, 1024u);
  EXPECT_EQ(alloc[0].params.rxThreshold, 0u);
  EXPECT_EQ(alloc[0].params.txThreshold, 5u);
  const int ts = slot(2)->GetTransmitChannel();
  EXPECT_EQ(ts, int(alloc[0].channel));

  // Missing files are skipped; the list plays twice, in pieces of 8192.
  EXPECT_EQ(send(cmd(2, "connect : 10")), (std::vector<std::string>{stream(2, "transmitter", ts), ok(2)}));
  EXPECT_EQ(until("abort"), (std::vector<std::string>{stream(2, "transmitter", -1), abort0(2)}));
  EXPECT_NE(board().hal().channel(39).kind, Board::Hal::Channel::Listening);
  const auto frames = board().mcc().captured(uint32_t(ts));
  ASSERT_EQ(frames.size(), 8u);
  EXPECT_EQ(frames[0].size(), 8192u);
  EXPECT_EQ(frames[2].size(), 20000u - 2 * 8192u);
  EXPECT_EQ(played(2), a + b + a + b);

  // The ended player takes no sink again; the channel goes with the slot.
  EXPECT_EQ(send(cmd(2, "connect : 10")), std::vector<std::string>{err(2, "connectFail")});
  EXPECT_EQ(send(cmd(2, "destroy : NULL")), std::vector<std::string>{ok(2)});
  EXPECT_TRUE(pump([&] { return board().mcc().allocations().empty(); }));
  leave();
}

TEST_F(VoiceTest, AFilePlayerWithoutAFileAndOneThatPlaysForEver) {
  // A name that climbs out of the prompt directory is a missing file, even
  // when the file it names is there.
  std::ofstream(Root::path("/usr/local/secret"), std::ios::binary) << "secret";
  send(player(2, files("\"../secret\", \"x/../../secret\", \"nothing\"", 1)));
  // The connect fails; exactly one abort follows on the next pass.
  EXPECT_EQ(send(cmd(2, "connect : 10")), std::vector<std::string>{err(2, "connectFail")});
  EXPECT_EQ(collect(0), std::vector<std::string>{abort0(2)});
  EXPECT_EQ(played(2), "");

  // Repeat 0: the list starts again until the slot goes.
  prompt("c.pcm", "abc");
  send(player(3, files("\"c.pcm\"", 0)));
  send(cmd(3, "connect : 10"));
  ASSERT_TRUE(pump([&] { return board().mcc().captured(uint32_t(slot(3)->GetTransmitChannel())).size() >= 5; }));
  EXPECT_EQ(played(3).substr(0, 15), "abcabcabcabcabc");
  EXPECT_EQ(send(cmd(3, "destroy : NULL")), std::vector<std::string>{ok(3)});
  EXPECT_EQ(collect(0), std::vector<std::string>{});
  leave();
}

TEST_F(VoiceTest, ANetworkPlayerSendsTheStreamIdThenPlaysWhatTheServerSends) {
  MediaServer server;
  send(player(2, "network : { host " + server.address() + ", id 258 }"));
  const int ts = slot(2)->GetTransmitChannel();
  EXPECT_EQ(send(cmd(2, "connect : 10")), (std::vector<std::string>{stream(2, "transmitter", ts), ok(2)}));
  EXPECT_EQ(until("startPlaying"), std::vector<std::string>{"{ slot 2, pdu signal : ioctl : startPlaying : NULL }"});
  // The stream id, most significant byte first.
  ASSERT_TRUE(pump([&] { return server.poll() == 1 && server.got(0).size() == 4; }));
  EXPECT_EQ(server.got(0), std::string("\x00\x00\x01\x02", 4));

  const std::string audio = pattern(5000, 3);
  ASSERT_TRUE(server.send(0, audio));
  std::string got;
  ASSERT_TRUE(pump([&] { return (got += played(2)).size() >= audio.size(); }));
  EXPECT_EQ(got, audio);

  // A new sink after the last one left: no second connection.
  send(cmd(10, "disconnect : NULL"));
  EXPECT_EQ(send(cmd(2, "connect : 10")), std::vector<std::string>{ok(2)});
  EXPECT_EQ(server.poll(), 1u);

  // The server ends the play.
  server.close(0);
  EXPECT_EQ(until("abort"), (std::vector<std::string>{stream(2, "transmitter", -1), abort0(2)}));
  leave();
}

TEST_F(VoiceTest, ANetworkPlayerWhoseConnectionFails) {
  // Failing at once (no address to connect to): the stream is reported
  // active first, then inactive and the abort, and the connect fails.
  send(player(2, "network : { host { iaddr \"no-such-host\", port 9 }, id 1 }"));
  const int ts = slot(2)->GetTransmitChannel();
  EXPECT_EQ(send(cmd(2, "connect : 10")), (std::vector<std::string>{stream(2, "transmitter", ts),
                                                                    stream(2, "transmitter", -1), abort0(2),
                                                                    err(2, "connectFail")}));
  // Refused later: the same order, without startPlaying.
  send(player(3, "network : { host { iaddr \"127.0.0.1\", port " + std::to_string(free_port()) + " }, id 1 }"));
  std::vector<std::string> got = send(cmd(3, "connect : 10"));
  for (const std::string& m : until("abort")) got.push_back(m);
  got.erase(std::remove(got.begin(), got.end(), ok(3)), got.end());
  EXPECT_EQ(got, (std::vector<std::string>{stream(3, "transmitter", slot(3)->GetTransmitChannel()),
                                           stream(3, "transmitter", -1), abort0(3)}));

  // A server that does not answer within the time limit: its queue is
  // full, so the handshake never completes.
  MediaServer full(0);
  int waiting = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  to.sin_port = htons(uint16_t(full.port()));
  ::connect(waiting, reinterpret_cast<sockaddr*>(&to), sizeof to);
  send(player(4, "network : { host " + full.address() + ", id 1 }"));
  EXPECT_EQ(send(cmd(4, "connect : 10")),
            (std::vector<std::string>{stream(4, "transmitter", slot(4)->GetTransmitChannel()), ok(4)}));
  // The loop's clock runs on to the time limit while nothing else happens.
  EXPECT_EQ(until("abort"), (std::vector<std::string>{stream(4, "transmitter", -1), abort0(4)}));
  ::close(waiting);
  leave();
}

TEST_F(VoiceTest, ARecorderSendsTheChannelsBytesToTheServer) {
  MediaServer server;
  // Reported active right after its create, before any connection.
  std::vector<std::string> got = send(cmd(4, "create : voice : record : " + server.address()));
  const int ts = slot(4)->GetReceiveChannel();
  if (got.size() < 2) got = until("receiver");
  EXPECT_EQ(got, (std::vector<std::string>{ok(4), stream(4, "receiver", ts)}));
  const auto alloc = board().mcc().allocations();
  ASSERT_EQ(alloc.size(), 1u);
  EXPECT_EQ(alloc[0].params.rxThreshold, 5u);
  EXPECT_EQ(alloc[0].params.txThreshold, 0u);
  EXPECT_EQ(server.poll(), 0u);

  EXPECT_EQ(send(cmd(10, "connect : 4")), std::vector<std::string>{ok(10)});
  ASSERT_TRUE(pump([&] { return server.poll() == 1; }));
  const std::string audio = pattern(3000, 9);
  ASSERT_TRUE(board().mcc().inject(uint32_t(ts), audio));
  ASSERT_TRUE(pump([&] { return server.poll() && server.got(0).size() >= audio.size(); }));
  // Nothing but the channel's bytes: no header, no id.
  EXPECT_EQ(server.got(0), audio);

  // The channel ends: the record is done.
  board().mcc().sever(uint32_t(ts));
  EXPECT_EQ(until("stopRecording"), std::vector<std::string>{"{ slot 4, pdu signal : ioctl : stopRecording : "
                                                             "userRequest }"});

  // A server that refuses.
  send(cmd(5, "create : voice : record : { iaddr \"127.0.0.1\", port " + std::to_string(free_port()) + " }"));
  collect(0);
  send(trunk(11, 1, 8));
  send(cmd(11, "connect : 5"));
  EXPECT_EQ(until("stopRecording").back(), "{ slot 5, pdu signal : ioctl : stopRecording : connectionFail }");
  // Voice slots take no other command.
  EXPECT_EQ(send(cmd(5, "activate : empty : NULL")), std::vector<std::string>{err(5, "unsupported")});
  EXPECT_EQ(send(cmd(5, "ioctl : vad-disable : NULL")), std::vector<std::string>{err(5, "unsupported")});
  leave();
}

}  // namespace
