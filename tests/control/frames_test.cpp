// The client's cutting of its input into values and of the board's bytes
// into frames, whatever the chunking.
#include "control/qvctl/Frames.h"

#include <gtest/gtest.h>

using namespace qvctl;

namespace {

std::vector<std::string> split(const std::string& text, size_t chunk, bool* ok = nullptr) {
  ValueSplitter s;
  std::vector<std::string> values;
  bool good = true;
  for (size_t at = 0; at < text.size() && good; at += chunk)
    good = s.feed(text.data() + at, std::min(chunk, text.size() - at), values);
  if (ok) *ok = good && s.finish();
  return values;
}

}  // namespace

TEST(QvctlInput, ValuesAreCutAtTheirClosingBraceInAnyChunking) {
  const std::string text =
      "-- two messages\n{ seq 1, pdu command : userData : '7B7D'H } --- {not a value}\n"
      "{ a \"} {\" , b { c } }\n";
  for (size_t chunk : {1u, 2u, 3u, 7u, 1000u}) {
    bool ok = false;
    auto v = split(text, chunk, &ok);
    EXPECT_TRUE(ok) << chunk;
    ASSERT_EQ(v.size(), 2u) << chunk;
    EXPECT_EQ(v[0], "{ seq 1, pdu command : userData : '7B7D'H }");
    EXPECT_EQ(v[1], "{ a \"} {\" , b { c } }");
  }
}

TEST(QvctlInput, TextOutsideAValueOrAnOpenValueIsAnError) {
  bool ok = true;
  split("{ a } b", 100, &ok);
  EXPECT_FALSE(ok);
  split("{ a { b }", 100, &ok);
  EXPECT_FALSE(ok);
  split("- { a }", 100, &ok);
  EXPECT_FALSE(ok);
  EXPECT_TRUE(split("", 10, &ok).empty());
  EXPECT_TRUE(ok);
}

TEST(QvctlFrames, FramesAreReassembledAndBadHeadersRefused) {
  const std::vector<char> a = frame({'\x80', '\x01', '\x01', '\x40'});
  EXPECT_EQ(hex(a), "03 00 00 08 80 01 01 40");
  std::vector<char> two = a;
  two.insert(two.end(), a.begin(), a.end());
  FrameReader r;
  std::vector<std::vector<char>> got;
  for (char c : two) ASSERT_TRUE(r.feed(&c, 1, got));
  ASSERT_EQ(got.size(), 2u);
  EXPECT_EQ(hex(got[1]), "80 01 01 40");
  FrameReader bad;
  const char junk[] = {5, 0, 0, 8};
  EXPECT_FALSE(bad.feed(junk, 4, got));
  FrameReader small;
  const char tiny[] = {3, 0, 0, 3};
  EXPECT_FALSE(small.feed(tiny, 4, got));

  std::vector<char> b;
  EXPECT_TRUE(unhex("0x80:01 01 4a", b));
  EXPECT_EQ(hex(b), "80 01 01 4A");
  EXPECT_FALSE(unhex("801", b));
  EXPECT_FALSE(unhex("", b));
  EXPECT_EQ(oneLine("{\n  seq 1,\n  pdu x\n}\n"), "{ seq 1, pdu x }");
}
