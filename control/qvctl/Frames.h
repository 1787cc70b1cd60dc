#pragma once
// The client's side of the controller link: TPKT frames both ways, byte
// texts in hexadecimal, and the cutting of a stream of value-notation text
// into single values.
#include <cstddef>
#include <string>
#include <vector>

namespace qvctl {

const size_t kMaxPayload = 0xFFFF - 4;

// "80 01 01 18": upper-case pairs, one blank between.
std::string hex(const std::vector<char>& bytes);
// Pairs of hexadecimal digits; blanks, colons and a leading 0x are allowed.
bool unhex(const std::string& text, std::vector<char>& bytes);
// The text with line ends and runs of blanks folded to one blank.
std::string oneLine(const std::string& text);

std::vector<char> frame(const std::vector<char>& payload);

// Reassembles frames from received chunks; false on a frame that does not
// start with 03 00 or is shorter than its header.
class FrameReader {
public:
  bool feed(const char* data, size_t n, std::vector<std::vector<char>>& payloads);

private:
  std::vector<char> buffer_;
};

// One piece of the input: a whole value, or text that stands outside any
// value (from its first character to the end of its line), with the line
// and column (from 1) where it begins.
struct Piece {
  std::string text;
  unsigned line = 0;
  unsigned column = 0;
  bool stray = false;
};

// The line and column of the character `offset` into a piece's text.
void position(const Piece& piece, size_t offset, unsigned& line, unsigned& column);

// Cuts text into top-level braced values ("{ ... }"), wherever the chunks
// end. Quoted strings ("..." and '...'H/B) and comments from "--" to the
// end of the line are skipped while matching braces; a comment's line end
// is kept inside a value, so that lines and columns still count.
class ValueSplitter {
public:
  // Appends the values and stray texts completed by this chunk, in order.
  void feed(const char* data, size_t n, std::vector<Piece>& pieces);
  // At the end of the input: appends a stray text of the last line; false
  // when the input ended inside a value, which then is `open()`.
  bool finish(std::vector<Piece>& pieces);
  const Piece& open() const { return current_; }

private:
  enum Mode { Text, DoubleQuoted, SingleQuoted, Comment, Stray };
  void take(char c, std::vector<Piece>& pieces);
  void endStray(std::vector<Piece>& pieces);

  Piece current_;
  int depth_ = 0;
  Mode mode_ = Text;
  char last_ = 0;
  unsigned line_ = 1;
  unsigned column_ = 1;
  // Where a '-' between values stands while it is not known whether it
  // begins a comment.
  unsigned dashLine_ = 0;
  unsigned dashColumn_ = 0;
};

}  // namespace qvctl
