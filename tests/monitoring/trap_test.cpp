// The SNMPv2c trap encoder: a whole message against the octets worked out
// by hand from RFC 1901 and RFC 3416 (BER of X.690), the order rules of the
// context, and the message read by net-snmp's own trap receiver.
#include "monitoring/Trap.h"
#include "control/ControlTestUtil.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>

using namespace SnmpTrap;

namespace {

std::string hexOf(const Context& c) {
  return ctl_test::hex(ctl_test::Bytes(c.buffer, c.buffer + c.length));
}

// sysUpTime.0 = 4660 ticks, snmpTrapOID.0 = coldStart: the two bindings
// every SNMPv2 trap begins with.
void addStandardBindings(Context& c) {
  uint32_t upTime[16], trapOid[16];
  ASSERT_EQ(parse_oid(upTime, 16, "1.3.6.1.2.1.1.3.0"), 9);
  ASSERT_EQ(parse_oid(trapOid, 16, ".1.3.6.1.6.3.1.1.4.1.0"), 11);
  const long ticks = 0x1234;
  ASSERT_EQ(trap_pack_add(&c, upTime, 9, 0x43, &ticks, sizeof ticks), 0);
  const unsigned long coldStart[] = {1, 3, 6, 1, 6, 3, 1, 1, 5, 1};
  ASSERT_EQ(trap_pack_add(&c, trapOid, 11, 0x06, coldStart, sizeof coldStart), 0);
}

}  // namespace

TEST(SnmpTrap, AMessageWithTheTwoStandardBindingsByHand) {
  Context c;
  snmp_session_seed(&c, 0x12345678);
  trap_init(&c, nullptr);
  // (0x12345678 x 850009 + 991873) mod 2^32 = 0x15A57239, & 0x7FFFFFFF, | 1.
  EXPECT_EQ(c.requestId, 0x15A57239u);
  ASSERT_EQ(trap_pack_begin(&c), 0);
  addStandardBindings(c);
  ASSERT_EQ(trap_pack_end(&c), 0);
  EXPECT_EQ(c.state, uint32_t(Context::Closed));
  EXPECT_EQ(hexOf(c),
            // Message SEQUENCE, 76 octets of content, in the fixed long form.
            "30 82 00 4C "
            // version 1 (SNMPv2c), community "marlow"
            "02 01 01 04 06 6D 61 72 6C 6F 77 "
            // SNMPv2-Trap-PDU [7], 61 octets; request-id; error-status 0;
            // error-index 0
            "A7 82 00 3D 02 04 15 A5 72 39 02 01 00 02 01 00 "
            // variable-bindings SEQUENCE, 45 octets
            "30 82 00 2D "
            // { 1.3.6.1.2.1.1.3.0, TimeTicks 4660 }: 14 octets
            "30 82 00 0E 06 08 2B 06 01 02 01 01 03 00 43 02 12 34 "
            // { 1.3.6.1.6.3.1.1.4.1.0, OID 1.3.6.1.6.3.1.1.5.1 }: 23 octets
            "30 82 00 17 06 0A 2B 06 01 06 03 01 01 04 01 00 06 09 2B 06 01 06 03 01 01 05 01");
}

TEST(SnmpTrap, TheContextTakesItsStepsInOrderOnly) {
  Context c;
  snmp_session_seed(&c, 0);
  trap_init(&c, "public");
  EXPECT_EQ(c.requestId, 0x000F2281u);  // 991873, already odd
  uint32_t id[] = {1, 3, 6, 1};
  const long v = 1;
  EXPECT_EQ(trap_pack_add(&c, id, 4, 0x02, &v, sizeof v), -1) << "before the message is opened";
  EXPECT_EQ(trap_pack_end(&c), -1);
  ASSERT_EQ(trap_pack_begin(&c), 0);
  EXPECT_EQ(trap_pack_begin(&c), -1) << "opened twice";
  ASSERT_EQ(trap_pack_end(&c), 0);
  // No binding: the list's header says 0 octets.
  EXPECT_EQ(hexOf(c), "30 82 00 1E 02 01 01 04 06 70 75 62 6C 69 63 A7 82 00 0F 02 03 0F 22 81 02 01 00 02 01 00 "
                      "30 82 00 00");
  EXPECT_EQ(trap_pack_add(&c, id, 4, 0x02, &v, sizeof v), -1) << "after the close";
  EXPECT_EQ(trap_pack_end(&c), -1);

  // A binding the encoder refuses (an INTEGER of the wrong size) leaves the
  // context unable to take more or to close.
  trap_init(&c, nullptr);
  ASSERT_EQ(trap_pack_begin(&c), 0);
  const char shortInt = 1;
  EXPECT_EQ(trap_pack_add(&c, id, 4, 0x02, &shortInt, 1), -1);
  EXPECT_EQ(trap_pack_add(&c, id, 4, 0x02, &v, sizeof v), -1);
  EXPECT_EQ(trap_pack_end(&c), -1);

  // A binding that does not fit the buffer.
  trap_init(&c, nullptr);
  ASSERT_EQ(trap_pack_begin(&c), 0);
  const std::string text(900, 'x');  // 913 octets a binding, 2013 free
  EXPECT_EQ(trap_pack_add(&c, id, 4, 0x04, text.data(), text.size()), 0);
  EXPECT_EQ(trap_pack_add(&c, id, 4, 0x04, text.data(), text.size()), 0);
  EXPECT_EQ(trap_pack_add(&c, id, 4, 0x04, text.data(), text.size()), -1);
  EXPECT_EQ(trap_pack_end(&c), -1);

  // A community is cut to 31 characters.
  trap_init(&c, std::string(40, 'c').c_str());
  EXPECT_EQ(std::string(c.community), std::string(31, 'c'));
}

TEST(SnmpTrap, ParseOid) {
  uint32_t out[4];
  EXPECT_EQ(parse_oid(out, 4, "1..3.6.1.2.1"), 4);
  EXPECT_EQ(out[1], 3u);
  EXPECT_EQ(out[3], 1u);
  EXPECT_EQ(parse_oid(out, 0, "1.3"), 0);
  EXPECT_EQ(parse_oid(nullptr, 4, "1.3"), 0);
  const std::string longText = std::string(126, '.') + "12";
  EXPECT_EQ(parse_oid(out, 4, longText.c_str()), 1);
  EXPECT_EQ(out[0], 1u) << "only 127 characters are read";
  EXPECT_GT(get_uptime(), 0);
}

// net-snmp's trap receiver on loopback reads the message; bounded by its
// own time limit, so it stops even if the test does not.
TEST(SnmpTrap, TheTrapReceiverReadsIt) {
  if (::access("/usr/sbin/snmptrapd", X_OK) != 0) GTEST_SKIP() << "no snmptrapd";
  char dir[] = "/tmp/qv-trap-XXXXXX";
  ASSERT_NE(::mkdtemp(dir), nullptr);
  const std::string conf = std::string(dir) + "/snmptrapd.conf", out = std::string(dir) + "/out";
  std::ofstream(conf) << "disableAuthorization yes\n";
  const int port = ctl_test::free_port();
  const std::string listen = "udp:127.0.0.1:" + std::to_string(port);
  pid_t pid = ::fork();
  if (pid == 0) {
    const int fd = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ::dup2(fd, 1);
    ::dup2(fd, 2);
    ::execl("/usr/bin/timeout", "timeout", "10", "/usr/sbin/snmptrapd", "-f", "-Lo", "-C", "-c", conf.c_str(),
            "-On", "-m", "", "-M", dir, "-p", (std::string(dir) + "/pid").c_str(), listen.c_str(),
            static_cast<char*>(nullptr));
    ::_exit(127);
  }
  auto output = [&] {
    std::ifstream in(out);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  };
  auto waitFor = [&](const std::string& text) {
    for (int i = 0; i < 400; ++i) {
      if (output().find(text) != std::string::npos) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
  };
  ASSERT_TRUE(waitFor("NET-SNMP version")) << output();

  Context c;
  snmp_session_seed(&c, 99);
  trap_init(&c, nullptr);
  ASSERT_EQ(trap_pack_begin(&c), 0);
  addStandardBindings(c);
  uint32_t name[16];
  const int n = parse_oid(name, 16, "1.3.6.1.2.1.1.5.0");
  const std::string text = "gateway 7";
  ASSERT_EQ(trap_pack_add(&c, name, size_t(n), 0x04, text.data(), text.size()), 0);
  ASSERT_EQ(trap_pack_end(&c), 0);
  const int s = ::socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(uint16_t(port));
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(::sendto(s, c.buffer, c.length, 0, reinterpret_cast<sockaddr*>(&a), sizeof a), ssize_t(c.length));
  ::close(s);

  EXPECT_TRUE(waitFor("\"gateway 7\"")) << output();
  const std::string got = output();
  EXPECT_NE(got.find(".1.3.6.1.2.1.1.3.0 = Timeticks: (4660)"), std::string::npos) << got;
  EXPECT_NE(got.find(".1.3.6.1.6.3.1.1.4.1.0 = OID: .1.3.6.1.6.3.1.1.5.1"), std::string::npos) << got;
  ::kill(pid, SIGTERM);
  int st;
  ::waitpid(pid, &st, 0);
  std::system(("rm -rf " + std::string(dir)).c_str());
}
