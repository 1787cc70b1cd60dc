// The client's cutting of its input into values and of the board's bytes
// into frames, whatever the chunking.
#include "control/qvctl/Frames.h"

#include <gtest/gtest.h>

using namespace qvctl;

namespace {

// The pieces as "line:column text", strays marked with a '!'.
std::vector<std::string> split(const std::string& text, size_t chunk, bool* ok = nullptr) {
  ValueSplitter s;
  std::vector<Piece> pieces;
  for (size_t at = 0; at < text.size(); at += chunk) s.feed(text.data() + at, std::min(chunk, text.size() - at), pieces);
  const bool closed = s.finish(pieces);
  if (ok) *ok = closed;
  std::vector<std::string> out;
  for (const Piece& p : pieces)
    out.push_back(std::to_string(p.line) + ":" + std::to_string(p.column) + (p.stray ? " !" : " ") + p.text);
  return out;
}

}  // namespace

TEST(QvctlInput, ValuesAreCutAtTheirClosingBraceInAnyChunking) {
  const std::string text =
      "-- two messages\n{ seq 1, pdu command : userData : '7B7D'H } --- {not a value}\n"
      "  { a \"} {\" , -- b\n b { c } }\n";
  for (size_t chunk : {1u, 2u, 3u, 7u, 1000u}) {
    bool ok = false;
    auto v = split(text, chunk, &ok);
    EXPECT_TRUE(ok) << chunk;
    EXPECT_EQ(v, (std::vector<std::string>{"2:1 { seq 1, pdu command : userData : '7B7D'H }",
                                           "3:3 { a \"} {\" , \n b { c } }"}))
        << chunk;
  }
}

// Text outside a value is a piece of its own up to the end of its line, in
// its place among the values; the reading goes on after it.
TEST(QvctlInput, TextOutsideAValueIsAPieceOfItsLine) {
  bool ok = false;
  EXPECT_EQ(split("{ a } b c \n{ d }\n - { e }\n-", 100, &ok),
            (std::vector<std::string>{"1:1 { a }", "1:7 !b c", "2:1 { d }", "3:2 !- { e }", "4:1 !-"}));
  EXPECT_TRUE(ok);
  EXPECT_TRUE(split("", 10, &ok).empty());
  EXPECT_TRUE(ok);
  ValueSplitter s;
  std::vector<Piece> pieces;
  s.feed("{ a }\n  { b {", 13, pieces);
  EXPECT_FALSE(s.finish(pieces));
  EXPECT_EQ(pieces.size(), 1u);
  EXPECT_EQ(s.open().line, 2u);
  EXPECT_EQ(s.open().column, 3u);

  // Where an offset into a piece lies in the input.
  unsigned line = 0, column = 0;
  const Piece p{"{ a,\n  b }", 4, 6, false};
  position(p, 2, line, column);
  EXPECT_EQ(std::to_string(line) + ":" + std::to_string(column), "4:8");
  position(p, 7, line, column);
  EXPECT_EQ(std::to_string(line) + ":" + std::to_string(column), "5:3");
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
