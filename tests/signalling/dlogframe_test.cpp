// The D-channel trace: texts worked out by hand from the LAPD address and
// control octets and the Q.931 message layout. Frames sit in buffers of
// exactly their size, so that a read past the end shows under the
// sanitizers.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "signalling/DlogFrame.h"

namespace {

std::string trace(std::vector<unsigned char> f, int direction) {
  std::vector<char> out(ISDN::kLogBufSize, 'x');
  ISDN::dlogframe(f.empty() ? nullptr : f.data(), unsigned(f.size()), direction, out.data());
  return std::string(out.data());
}

TEST(DlogFrame, AddressAndFrameClass) {
  // RR (control 01) on TEI 64 (octet 2 = 64 << 1 | 1).
  EXPECT_EQ(trace({0x02, 0x81, 0x01}, 1), " 02 81 01\nframe network->user SFrame tei = 64 (01 )\n");
  // TEI 127 with SAPI 63 (octet 1 = 63 << 2 | C/R): TEI management.
  EXPECT_EQ(trace({0xFE, 0xFF, 0x03, 0x0F, 0x12, 0x34, 0x02, 0x81}, 1),
            " FE FF 03 0F 12 34 02 81\nframe network->user tei management:\n");
  EXPECT_EQ(trace({0x40, 0xFF, 0x03}, 0), " 40 FF 03\nframe user->network unknown sapi 16 broadcast\n");
  EXPECT_EQ(trace({0x02, 0xFF, 0x13}, 0), " 02 FF 13\nframe user->network no UI broadcast\n");
  EXPECT_EQ(trace({0x04, 0x81, 0x00}, 0), " 04 81 00\nframe user->network unknown sapi = 1; tei = 64\n");
  // I frames need the 4-octet header before any message.
  EXPECT_EQ(trace({0x02, 0x81, 0x00, 0x00}, 1),
            " 02 81 00 00\nframe network->user IFrame tei = 64\nframe too short\n");
  EXPECT_EQ(trace({0x02, 0x81, 0x00, 0x00, 0x09}, 1),
            " 02 81 00 00 09\nframe network->user IFrame tei = 64\nUnknown protocol 9!");
  EXPECT_EQ(trace({0x02, 0x81}, 1), "");
}

TEST(DlogFrame, SetupWithItsElements) {
  std::vector<unsigned char> f = {
      0x02, 0x81, 0x00, 0x00,                    // I frame to TEI 64
      0x08, 0x01, 0x81, 0x05,                    // Q.931, call reference 1 (to the caller), SETUP
      0xA1,                                      // Sending complete
      0x04, 0x03, 0x80, 0x90, 0xA3,              // Bearer capability: speech, 64 kbit/s, A-law
      0x18, 0x01, 0x89,                          // Channel identification: B1, exclusive
      0x70, 0x04, 0x81, '1', '2', '3',           // Called party number
      0x6C, 0x05, 0x01, 0x81, '5', '6', '7',     // Calling party number with octet 3a
      0x28, 0x03, 'A', 'B', 'C',                 // Display
  };
  EXPECT_EQ(trace(f, 1),
            " 02 81 00 00 08 01 81 05 A1 04 03 80 90 A3 18 01 89 70 04 81 31 32 33 6C 05 01 81 35 36 37"
            " 28 03 41 42 43\n"
            "frame network->user IFrame tei = 64\n"
            "callref 1 called size 31 message type SETUP\n"
            "  Sending complete\n"
            "  Bearer capability\n"
            "    octet 3  10000000\n"
            "    octet 4  10010000\n"
            "    octet 5  10100011\n"
            "  Channel identification\n"
            "    octet 3 10001001\n"
            "  Called party number\n"
            "    octet 3 10000001\n"
            "    number digits 123\n"
            "  Calling party number\n"
            "    octet 3 00000001\n"
            "    octet 3a 10000001\n"
            "    number digits 567\n"
            "  Display\n"
            "   \"ABC\"\n");
}

TEST(DlogFrame, DisconnectWithCauseDiagnosticsAndOctetGroups) {
  std::vector<unsigned char> f = {
      0x00, 0x81, 0x02, 0x02,              // I frame from TEI 64, N(S) 1, N(R) 1
      0x08, 0x01, 0x01, 0x45,              // call reference 1 (from the caller), DISCONNECT
      0x08, 0x04, 0xE2, 0xBE, 0x05, 0x85,  // Cause: coding 11, location 0010, value 0x3E, diagnostic
      0x1E, 0x03, 0x01, 0x02, 0x88,        // Progress indicator: octets 3, 3a, 4
      0x73, 0x01, 0x00,                    // not a known element
  };
  EXPECT_EQ(trace(f, 0),
            " 00 81 02 02 08 01 01 45 08 04 E2 BE 05 85 1E 03 01 02 88 73 01 00\n"
            "frame user->network IFrame tei = 64\n"
            "callref 1 caller size 18 message type DISCONNECT\n"
            "  Cause\n"
            "    coding 11 location 0010\n"
            "  cause value 3e : Inconsistency in designated outgoing access information and subscriber class  \n"
            "    diag attribute 5  rej 5 \n"
            "  Progress indicator\n"
            "    octet 3  00000001\n"
            "    octet 3a 00000010\n"
            "    octet 4  10001000\n"
            "  attribute 73 attribute size 1\n");
}

TEST(DlogFrame, NeverReadsPastTheFrameNorWritesPastTheBuffer) {
  // A UI broadcast whose Display claims 16 octets and has 2.
  EXPECT_EQ(trace({0x02, 0xFF, 0x03, 0x08, 0x00, 0x05, 0x28, 0x10, 'A', 'B'}, 1),
            " 02 FF 03 08 00 05 28 10 41 42\nframe network->user broadcast\n"
            "callref 0 caller size 7 message type SETUP\n  Display\n   \"AB\"\n");
  // Elements cut after their identifier or length octet.
  for (unsigned char id : {0x04, 0x08, 0x1C, 0x6C, 0x70, 0x18, 0x1E}) {
    std::vector<unsigned char> f = {0x02, 0x81, 0x00, 0x00, 0x08, 0x01, 0x81, 0x05, id, 0x7F};
    EXPECT_NE(trace(f, 1).find("message type SETUP\n"), std::string::npos);
    f.pop_back();
    EXPECT_NE(trace(f, 1).find("message type SETUP\n"), std::string::npos);
  }
  // 400 octets of hex dump fill the buffer and are cut at 1023 characters.
  std::vector<unsigned char> big(400, 0x02);
  std::string t = trace(big, 1);
  EXPECT_EQ(t.size(), ISDN::kLogBufSize - 1);
  EXPECT_EQ(t.substr(0, 6), " 02 02");
}

}  // namespace
