// The edges of the codec and RTP error texts, the RTP record printers and
// the intrusive cyclic list.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "hardware/CyclicList.h"
#include "hardware/Utils.h"

namespace {

// Only the edges of the tables: the last entries and what lies past them.
TEST(CodecText, EdgesOfTheTable) {
  EXPECT_STREQ(GetCodecAsStr(0), "unknown");
  EXPECT_STREQ(GetCodecAsStr(8), "conf");
  EXPECT_STREQ(GetCodecAsStr(9), "invalid");
  EXPECT_STREQ(GetCodecAsStr(-1), "invalid");
  EXPECT_STREQ(GetCodecAsStr(1 << 30), "invalid");
}

TEST(RtpErrorText, GapsAndUnlistedCodesShareOneBuffer) {
  EXPECT_STREQ(RTPStrError(0x3000122), "Don't send this packet now");  // the last listed
  // Gaps of the table, the code past its end and negative codes.
  EXPECT_STREQ(RTPStrError(0x300010D), "Unknown RTP Error 50331917");
  EXPECT_STREQ(RTPStrError(0x3000001), "Unknown RTP Error 50331649");
  const char* a = RTPStrError(0x3000123);
  EXPECT_STREQ(a, "Unknown RTP Error 50331939");
  EXPECT_STREQ(RTPStrError(-5), "Unknown RTP Error -5");
  EXPECT_STREQ(a, "Unknown RTP Error -5");  // one buffer for all of them
  EXPECT_STREQ(RTPStrError(-2147483647 - 1), "Unknown RTP Error -2147483648");
}

TEST(RtpErr, PrintsTheErrnoOfItsMaking) {
  errno = EBADF;
  RtpErr e(0x3000104);
  errno = 0;
  EXPECT_EQ(e.err, EBADF);
  EXPECT_EQ(e.code, 0x3000104);
  std::ostringstream out;
  e.Put(out);
  EXPECT_EQ(out.str(), std::strerror(EBADF));
  std::ostringstream out2;
  out2 << e;
  EXPECT_EQ(out2.str(), out.str());
}

TEST(RtpPrinters, ExactText) {
  rtp_connection_params p{};
  p.rx_pt = 8;
  p.tx_pt = 18;
  p.packet_factor = 2;
  p.ssrc = 4000000000u;
  // The fields are read at their offsets.
  const auto* raw = reinterpret_cast<const unsigned char*>(&p);
  uint16_t at14;
  std::memcpy(&at14, raw + 14, 2);
  EXPECT_EQ(at14, 8);
  std::ostringstream out;
  out << p;
  EXPECT_EQ(out.str(),
            "  rtp_connection_params\n  {\n   packet_factor = 2\n   rx_pt = 8\n   tx_pt = 18\n"
            "   ssrc = 4000000000\n  }\n");

  std::ostringstream a, b, c, d;
  a << rtp_attach_session_params{7, 1234};
  EXPECT_EQ(a.str(), "  rtp_attach_session_params\n  {\n   fd_rtp = 7\n   pid_rtp = 1234\n  }\n");
  b << rtp_ext_attach_session_params{-1, 99};
  EXPECT_EQ(b.str(), "  rtp_ext_attach_session_params\n  {\n   fd_rtp = -1\n   pid_rtp = 99\n  }\n");
  rtp_ext_init_params init{};
  init.etype = 0x1337;
  c << init;
  EXPECT_EQ(c.str(), "  rtp_ext_init_params\n  {\n   etype = 4919\n  }\n");
  d << rtp_channel_info{8200, -1, 3};
  EXPECT_EQ(d.str(), "rtp_channel_info { tdm=8200 dev_no=-1 chn=3 }");
}

struct Item : Containers::CyclicList {
  explicit Item(int v) : value(v) {}
  int value;
};

std::vector<int> values(Containers::CyclicList& head) {
  std::vector<int> out;
  for (auto it = head.begin(); it != head.end(); ++it) out.push_back(static_cast<Item&>(*it).value);
  return out;
}

TEST(CyclicList, AppendMoveAndIterateOldestFirst) {
  Containers::CyclicList head;
  EXPECT_TRUE(head.begin() == head.end());
  EXPECT_EQ(head.next, &head);
  EXPECT_EQ(head.prev, &head);

  Item a(1), b(2), c(3);
  EXPECT_EQ(a.next, &a);
  head.AddToTail(&a);
  head.AddToTail(&b);
  head.AddToTail(&c);
  EXPECT_EQ(values(head), (std::vector<int>{1, 2, 3}));
  // Appending the tail again changes nothing; appending another moves it.
  head.AddToTail(&c);
  EXPECT_EQ(values(head), (std::vector<int>{1, 2, 3}));
  head.AddToTail(&a);
  EXPECT_EQ(values(head), (std::vector<int>{2, 3, 1}));
  EXPECT_EQ(head.prev, &a);
  EXPECT_EQ(a.next, &head);

  // A node moves from one list to another.
  Containers::CyclicList other;
  other.AddToTail(&b);
  EXPECT_EQ(values(head), (std::vector<int>{3, 1}));
  EXPECT_EQ(values(other), (std::vector<int>{2}));
  head.AddToTail(nullptr);
  head.AddToTail(&head);
  EXPECT_EQ(values(head), (std::vector<int>{3, 1}));
}

TEST(CyclicList, DestroyedNodesLeaveTheRestWhole) {
  Containers::CyclicList head;
  auto a = std::make_unique<Item>(1);
  auto b = std::make_unique<Item>(2);
  auto c = std::make_unique<Item>(3);
  head.AddToTail(a.get());
  head.AddToTail(b.get());
  head.AddToTail(c.get());
  b.reset();
  EXPECT_EQ(values(head), (std::vector<int>{1, 3}));
  c.reset();
  EXPECT_EQ(values(head), (std::vector<int>{1}));
  EXPECT_EQ(head.prev, a.get());
  a.reset();
  EXPECT_TRUE(head.begin() == head.end());
  EXPECT_EQ(head.prev, &head);

  // A node in no list goes without touching anything.
  {
    Item lone(9);
  }
  Item d(4);
  head.AddToTail(&d);
  EXPECT_EQ(values(head), (std::vector<int>{4}));

  // Iterators: default, copy, postfix.
  Containers::CyclicList::Iterator none;
  Containers::CyclicList::Iterator it = head.begin();
  Containers::CyclicList::Iterator was = it++;
  EXPECT_TRUE(was != it);
  EXPECT_TRUE(it == head.end());
  EXPECT_TRUE(none != it);
}

}  // namespace
