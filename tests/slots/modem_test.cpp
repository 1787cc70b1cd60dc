// Modem slots and the authentication bridge in this process, on the
// stand-in board, with the stand-in pppd (and its plug-in) and fax
// programs as real children: the command lines they get, the records on
// the bridge worked out by hand, the destroy that waits for the child, and
// the interfaces of digital modems.
#include <arpa/inet.h>
#include <signal.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <fstream>

#include "ModemTestUtil.h"

using namespace slots_test;

namespace {

const char kAuth[] = "modemProceeding : auth";

std::string trunkSlot(unsigned slot, unsigned ts, int seq) { return trunk(slot, 0, ts, seq); }

bool contains(const std::vector<std::string>& got, const std::string& line) {
  return std::find(got.begin(), got.end(), line) != got.end();
}

TEST_F(ModemTest, PppDataCallFromLoginToHangup) {
  script("pppd", "user alice\npassword secret\nacct 0 1000 0 2000 0 10 0 20 300\n");
  send(trunkSlot(1, 1, 1));
  collect(0);
  EXPECT_EQ(send(modem(3, "cid \"5551234\", cdid \"100\"", 2)), std::vector<std::string>{ok(3, 2)});
  // The first stream sets the modem up: answer mode, pppd on its device;
  // its streams are reported while the connect runs.
  std::vector<std::string> got = send(cmd(1, "connect : 3", 3));
  EXPECT_EQ(got, (std::vector<std::string>{stream(3, "transmitter", 24576), stream(3, "receiver", 24576), ok(1, 3)}));
  got = until(kAuth);
  EXPECT_TRUE(contains(got, signal(3, "modemProceeding : auth : { username \"alice\", password \"secret\" }")))
      << ::testing::PrintToString(got);
  EXPECT_EQ(programLines("pppd").front(),
            "start /usr/local/sbin/pppd file /usr/local/etc/ppp/aoptions /dev/mdm0 remotenumber 5551234");
  const std::string modems = board().command("mctl list");
  EXPECT_EQ(modems.rfind("0 ch=24576 s", 0), 0u) << modems;
  EXPECT_NE(modems.find(" mask=- params=- mode=answer\n"), std::string::npos) << modems;
  EXPECT_EQ(board().command("hal channel 24576"), "24576 listen 1 seen 0xFF\n");

  // The controller lets the user in: accept, then the IP record, to the
  // plug-in of session 0. The gateway is no address: 255.255.255.255.
  EXPECT_EQ(send(cmd(3,
                     "activate : modem : { remoteAddr \"10.0.0.1\", netmask \"255.255.255.0\", gateway \"gw\", "
                     "dns \"8.8.4.4\", mtu 1500 }",
                     4)),
            std::vector<std::string>{ok(3, 4)});
  EXPECT_TRUE(logHas("pppd", "recv 00000010000000020000000000000001\n"));
  EXPECT_TRUE(logHas("pppd", "recv 00000024" "00000003" "00000000" "00000000" "0A000001" "FFFFFF00" "FFFFFFFF"
                             "08080404" "000005DC\n"));
  got = until("acct");
  EXPECT_TRUE(contains(got, signal(3, "modemProceeding : acct : { octetsOut { low 1000, high 0 }, octetsIn { low "
                                      "2000, high 0 }, packetsOut { low 10, high 0 }, packetsIn { low 20, high 0 }, "
                                      "time { low 300, high 0 } }")))
      << ::testing::PrintToString(got);

  // pppd goes on SIGHUP; only then is the destroy answered, and the modem
  // is free again.
  EXPECT_EQ(send(cmd(3, "destroy : NULL", 5)), std::vector<std::string>{ok(3, 5)});
  EXPECT_TRUE(logHas("pppd", " hup\n"));
  EXPECT_EQ(board().command("mctl list"), "");
  EXPECT_TRUE(pump([] { return ModemFactory::instance().authClients().empty(); }));
  EXPECT_TRUE(pump([] { return ModemFactory::instance().modems().empty(); }));
}

TEST_F(ModemTest, DestroyWaitsFiveSecondsForAChildThatIgnoresHangup) {
  script("pppd", "hup ignore\n");
  send(trunkSlot(1, 1, 1));
  collect(0);
  // With execargs, the program and those strings only.
  send(modem(3, "cid \"1\", cdid \"\", execargs { \"call\", \"isp\" }", 2));
  send(cmd(1, "connect : 3", 3));
  ASSERT_TRUE(logHas("pppd", "start"));
  EXPECT_EQ(programLines("pppd").front(), "start /usr/local/sbin/pppd call isp");

  EXPECT_EQ(send(cmd(3, "destroy : NULL", 4), 0), std::vector<std::string>{});
  ASSERT_TRUE(logHas("pppd", " hup\n"));
  clock_->advance(ModemSlot::kTerminateTimeoutMs - 1);
  EXPECT_EQ(collect(0), std::vector<std::string>{});
  EXPECT_EQ(childCount(), 1);
  clock_->advance(1);
  EXPECT_EQ(collect(1), std::vector<std::string>{ok(3, 4)});
  EXPECT_TRUE(pump([] { return childCount() == 0; }));
  EXPECT_EQ(slot(3), nullptr);
}

TEST_F(ModemTest, AChildThatEndsByItselfIsAnAbortWithItsRawStatus) {
  script("pppd", "exit 3\n");
  send(trunkSlot(1, 1, 1));
  collect(0);
  send(modem(3, "cid \"\", cdid \"\"", 2));
  send(cmd(1, "connect : 3", 3));
  std::vector<std::string> got = until("abort");
  EXPECT_EQ(got.back(), signal(3, "abort : 768"));
  // No "remotenumber" for an empty cid.
  EXPECT_EQ(programLines("pppd").front(), "start /usr/local/sbin/pppd file /usr/local/etc/ppp/aoptions /dev/mdm0");

  // A program that cannot be started: the child's exit code 2.
  send(trunkSlot(2, 2, 4));
  collect(0);
  send(modem(4, "cid \"\", cdid \"\", originate NULL, execfile \"/usr/local/sbin/nowhere\"", 5));
  send(cmd(2, "connect : 4", 6));
  got = until("abort");
  EXPECT_EQ(got.back(), signal(4, "abort : 512"));
  EXPECT_NE(board().command("mctl list").find("mode=originate"), std::string::npos);
  // Ended: destroyed at once.
  EXPECT_EQ(send(cmd(4, "destroy : NULL", 7)), std::vector<std::string>{ok(4, 7)});
}

TEST_F(ModemTest, FaxTransferReportsItsPagesThenAborts) {
  script("fax", "pages 3\n");
  send(trunkSlot(1, 1, 1));
  collect(0);
  board().command("netif hdlc 0");  // no interface: a DSP modem for this ddm
  ModemFactory::instance().IQuery();
  send(modem(4, "cid \"\", cdid \"\", ddm { ddmV120 }, dmp { { offset 7, value -2 } }, fax NULL, "
                "execargs { \"send\", \"doc.tif\" }",
             2));
  send(cmd(1, "connect : 4", 3));
  std::vector<std::string> got = until("abort");
  ASSERT_GE(got.size(), 2u);
  EXPECT_EQ(got[got.size() - 2], signal(4, "modemProceeding : acct : { octetsOut { low 0, high 0 }, octetsIn { low "
                                           "3, high 0 }, packetsOut { low 0, high 0 }, packetsIn { low 0, high 0 }, "
                                           "time { low 0, high 0 } }"));
  EXPECT_EQ(got.back(), signal(4, "abort : 768"));
  EXPECT_EQ(programLines("fax").front(), "start /usr/local/sbin/fax -m 0 send doc.tif");
  // V.120 alone sets no mode bit; the parameter goes through as given.
  const std::string requests = board().command("log 0xBB16 0xBB3A 0xBB38");
  EXPECT_NE(requests.find("modes modem=0 mask=0 = 0\n"), std::string::npos) << requests;
  EXPECT_NE(requests.find("reset-params modem=0 = 0\n"), std::string::npos) << requests;
  EXPECT_NE(requests.find("param modem=0 offset=7 value=-2 = 0\n"), std::string::npos) << requests;
  // The program got the modem by its number; the slot holds it until it is
  // destroyed.
  const std::string held = board().command("mctl list");
  EXPECT_EQ(held.rfind("0 ch=24576 s", 0), 0u) << held;
  EXPECT_NE(held.find(" mask=0 params=7:-2 mode=-\n"), std::string::npos) << held;

  // Without execargs and without originate: the receiver, a second later,
  // on a modem of its own.
  send(modem(5, "cid \"\", cdid \"\", fax NULL", 4));
  send(cmd(5, "connect : 1", 5));
  ASSERT_TRUE(logHas("fax", "receive /var/fax-"));
  const std::string line = programLines("fax").back();
  EXPECT_EQ(line.rfind("start /usr/local/bin/fax -m 1 receive /var/fax-", 0), 0u) << line;
  EXPECT_EQ(line.size(), std::string("start /usr/local/bin/fax -m 1 receive /var/fax-HH-MM-SS.g3").size()) << line;
  EXPECT_EQ(send(cmd(4, "destroy : NULL", 6)), std::vector<std::string>{ok(4, 6)});
  EXPECT_EQ(board().command("mctl list").rfind("1 ch=24577 ", 0), 0u);
}

// Running: there, and not a zombie.
bool running(int pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string text;
  std::getline(stat, text);
  const size_t end = text.rfind(')');
  return end != std::string::npos && end + 2 < text.size() && text[end + 2] != 'Z';
}

TEST_F(ModemTest, AFaxReceiverDeafToHangupHoldsItsModemUntilItIsKilled) {
  script("fax", "wait\nhup ignore\n");
  send(trunkSlot(1, 1, 1));
  collect(0);
  send(modem(5, "cid \"\", cdid \"\", fax NULL", 2));
  send(cmd(1, "connect : 5", 3));
  ASSERT_TRUE(logHas("fax", "receive /var/fax-"));
  const int receiver = std::stoi(programLog("fax"));

  EXPECT_EQ(send(cmd(5, "destroy : NULL", 4), 0), std::vector<std::string>{});
  clock_->advance(ModemSlot::kTerminateTimeoutMs - 1);
  EXPECT_EQ(collect(0), std::vector<std::string>{});
  EXPECT_TRUE(running(receiver));
  EXPECT_EQ(board().command("mctl list").rfind("0 ch=24576 ", 0), 0u);
  clock_->advance(1);
  EXPECT_EQ(collect(1), std::vector<std::string>{ok(5, 4)});
  EXPECT_FALSE(running(receiver));
  EXPECT_EQ(board().command("mctl list"), "");
}

TEST_F(ModemTest, AControllerLeavingKillsTheChildWithoutWaitingAndTheModemGoesWithItsEnd) {
  script("pppd", "hup ignore\n");
  send(trunkSlot(1, 1, 1));
  collect(0);
  send(modem(3, "cid \"\", cdid \"\"", 2));
  send(cmd(1, "connect : 3", 3));
  ASSERT_TRUE(logHas("pppd", "start"));

  // The departure's pause spent on the test clock, the slot is deleted
  // with its pppd still there: killed once, and not waited for. SIGCHLD
  // is held back meanwhile (this thread is the only one that takes it), so
  // the end of the killed pppd cannot be reported before the look below.
  sigset_t chld, old;
  sigemptyset(&chld);
  sigaddset(&chld, SIGCHLD);
  ASSERT_EQ(::pthread_sigmask(SIG_BLOCK, &chld, &old), 0);
  ::testing::internal::CaptureStderr();
  leave();
  const std::string err = ::testing::internal::GetCapturedStderr();
  const std::string held = board().command("mctl list");
  ::pthread_sigmask(SIG_SETMASK, &old, nullptr);
  EXPECT_EQ(slot(3), nullptr);
  const std::string killing = "3:dsp-modem: pppd isn't terminated, killing ...\n";
  EXPECT_NE(err.find(killing), std::string::npos) << err;
  EXPECT_EQ(err.find(killing), err.rfind(killing)) << err;
  // pppd works modem 0 until its end is reported.
  EXPECT_EQ(held.rfind("0 ch=24576 ", 0), 0u) << held;
  EXPECT_TRUE(pump([&] { return board().command("mctl list").empty(); }));
  EXPECT_EQ(childCount(), 0);
}

TEST_F(ModemTest, DigitalModemRunsPppOnAFreeHdlcInterface) {
  script("pppd", "user bob\npassword pw\n");
  send(trunkSlot(1, 1, 1));
  collect(0);
  // A DSP modem not yet set up has no session: session -1 is not its own.
  send(modem(5, "cid \"\", cdid \"\"", 2));
  send(modem(6, "cid \"77\", cdid \"\", ddm { ddm8BIT }", 3));
  std::vector<std::string> got = send(cmd(1, "connect : 6", 4));
  EXPECT_EQ(got, (std::vector<std::string>{stream(6, "receiver", 28672), ok(1, 4)}));
  // Every digital modem is session -1 to the plug-in.
  got = until(kAuth);
  EXPECT_TRUE(contains(got, signal(6, "modemProceeding : auth : { username \"bob\", password \"pw\" }")))
      << ::testing::PrintToString(got);
  EXPECT_EQ(programLines("pppd").front(), "start /usr/local/sbin/pppd file /usr/local/etc/ppp/ioptions hdlc0 "
                                          "remotenumber 77");
  const std::string held = board().command("netif list");
  EXPECT_NE(held.find(" flags=0x11 proto=ppp channel=28672\nhdlc1 "), std::string::npos) << held;
  // The held interface is not offered again, however its flags look.
  ModemFactory::instance().IQuery();
  EXPECT_EQ(ModemFactory::instance().freeHdlc(), (std::list<std::string>{"hdlc1", "hdlc2", "hdlc3"}));

  EXPECT_EQ(send(cmd(6, "destroy : NULL", 5)), std::vector<std::string>{ok(6, 5)});
  // Down, back to raw HDLC, free again.
  const std::string list = board().command("netif list");
  EXPECT_NE(list.find("flags=0x10 proto=hdlc channel=28672"), std::string::npos) << list;
  EXPECT_EQ(ModemFactory::instance().freeHdlc(), (std::list<std::string>{"hdlc1", "hdlc2", "hdlc3", "hdlc0"}));
}

// A plug-in connection of our own: bytes exactly as we choose to split them.
struct PlugIn {
  PlugIn() {
    fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(ModemFactory::kAuthPort);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ok = ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
  }
  ~PlugIn() { ::close(fd); }
  void send(const std::string& bytes) { ASSERT_EQ(::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL), ssize_t(bytes.size())); }
  int fd;
  bool ok;
};

std::string be(uint32_t v) { return std::string{char(v >> 24), char(v >> 16), char(v >> 8), char(v)}; }

// {140, 1, session}, the user at 12 and the password at 76, NUL-padded.
std::string authRecord(uint32_t session, const std::string& user, const std::string& password) {
  std::string r = be(140) + be(1) + be(session) + user;
  r.resize(76, '\0');
  r += password;
  r.resize(140, '\0');
  return r;
}

TEST_F(ModemTest, BridgeReassemblesRecordsAndDropsTheMalformed) {
  send(trunkSlot(1, 1, 1));
  collect(0);
  send(modem(3, "cid \"\", cdid \"\", execfile \"/usr/local/sbin/nowhere\"", 2));
  send(cmd(1, "connect : 3", 3));
  until("abort");  // set up as modem 0; its pppd could not start

  PlugIn p;
  ASSERT_TRUE(p.ok);
  ASSERT_TRUE(pump([] { return ModemFactory::instance().authClients().size() == 1; }));
  // Split inside the length word; then two records in one segment.
  const std::string first = authRecord(0, "u1", "p1");
  p.send(first.substr(0, 2));
  collect(0);
  p.send(first.substr(2, 1));
  collect(0);
  p.send(first.substr(3) + authRecord(0, "u2", "p2"));
  std::vector<std::string> got = until("u2");
  EXPECT_TRUE(contains(got, signal(3, "modemProceeding : auth : { username \"u1\", password \"p1\" }")));
  EXPECT_TRUE(contains(got, signal(3, "modemProceeding : auth : { username \"u2\", password \"p2\" }")));

  // A record shorter than its header is dropped, not taken for a repeat of
  // the last one; one of 139 bytes is no auth request; a session no slot
  // has reaches nobody. The connection stays.
  std::string short8 = be(8) + be(1);
  std::string auth139 = authRecord(0, "u9", "p9");
  auth139.replace(0, 4, be(139));
  auth139.resize(139);
  p.send(short8 + auth139 + authRecord(5, "u5", "p5") + authRecord(0, "u3", "p3"));
  got = until("u3");
  EXPECT_EQ(got, std::vector<std::string>{signal(3, "modemProceeding : auth : { username \"u3\", password \"p3\" }")});

  // An impossible length ends the connection and the client with it.
  p.send(be(513));
  EXPECT_TRUE(pump([] { return ModemFactory::instance().authClients().empty(); }));
  char c;
  EXPECT_EQ(::recv(p.fd, &c, 1, 0), 0);
}

TEST_F(ModemTest, T38SlotFeedsItsDaemonFromTheControllerChannel) {
  script("t38", "read 1\nexit 5\n");
  std::string args;
  for (int i = 0; i < 30; ++i) args += std::string(i ? ", " : "") + "\"a" + std::to_string(i) + "\"";
  std::vector<std::string> got =
      send(cmd(7,
               "create : t38soft : { dhost { iaddr \"192.168.1.5\", port 4000 }, shost { iaddr \"10.1.1.1\", port "
               "5000 }, rx-packet-size 160, rx-threshold 1, tx-threshold 1, args { " + args + " } }"));
  collect(0);
  const std::string channels = board().command("mcc list");
  ASSERT_EQ(channels.rfind("16384 ", 0), 0u) << channels;
  ASSERT_TRUE(logHas("t38", "start"));
  std::string expected = "start /usr/local/sbin/t38 --child --remote 192.168.1.5/4000/5000";
  for (int i = 0; i < 27; ++i) expected += " a" + std::to_string(i);
  EXPECT_EQ(programLines("t38").front(), expected);

  // What the board delivers on the channel, the daemon reads as its input.
  EXPECT_EQ(board().command("mcc inject 16384 0102FF"), "");
  ASSERT_TRUE(logHas("t38", "read 0102FF\n"));
  got = until("abort");
  EXPECT_EQ(got.back(), signal(7, "abort : 1280"));
  EXPECT_EQ(send(cmd(7, "destroy : NULL", 2)), std::vector<std::string>{ok(7, 2)});

  const std::string create = "create : t38soft : { dhost { iaddr \"192.168.1.5\", port 4000 }, shost { iaddr \"\", "
                             "port 5000 }, rx-packet-size 160, rx-threshold 1, tx-threshold 1, args { } }";
  // No switch channel: the allocated channel goes back with its descriptor.
  EXPECT_EQ(board().command("fail request 0x20004D02 EIO once"), "");
  EXPECT_EQ(send(cmd(8, create, 3)), std::vector<std::string>{err(8, "insufficientResources", 3)});
  EXPECT_EQ(board().command("mcc list"), "");
  // A daemon that cannot be started: exit code 1005, seen as 237.
  std::filesystem::remove(rootPath("/usr/local/sbin/t38"));
  send(cmd(9, create, 4));
  got = until("abort");
  installPrograms(testboard::tempRoot());
  EXPECT_EQ(got.back(), signal(9, "abort : 60672"));
}

TEST_F(ModemTest, T38InstanceQueryIsBounded) {
  script("t38", "instances 8\n");
  EXPECT_EQ(T38SoftFactory::instance().QueryNumOfInstances(), 8u);
  script("t38", "instances -\n");
  EXPECT_EQ(T38SoftFactory::instance().QueryNumOfInstances(), 0u);
  // A program that never answers costs the loop at most its bound.
  clock_.reset();
  clock_.reset(new Mux::TestClock);
  script("t38", "instances hang\n");
  const std::uint64_t before = clock_->elapsed_ms();
  EXPECT_EQ(T38SoftFactory::instance().QueryNumOfInstances(), 0u);
  EXPECT_LE(clock_->elapsed_ms() - before, std::uint64_t(T38SoftFactory::kQueryTimeoutMs) + 10);
}

}  // namespace
