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

// Cuts text into top-level braced values ("{ ... }"), wherever the chunks
// end. Quoted strings ("..." and '...'H/B) and comments from "--" to the
// end of the line are skipped while matching braces.
class ValueSplitter {
public:
  // False when text other than blanks or comments stands between values.
  bool feed(const char* data, size_t n, std::vector<std::string>& values);
  // False when the input ended inside a value.
  bool finish() const { return depth_ == 0 && current_.find_first_not_of(" \t\r\n") == std::string::npos; }
  const std::string& error() const { return error_; }

private:
  enum Mode { Text, DoubleQuoted, SingleQuoted, Comment };
  std::string current_;
  int depth_ = 0;
  Mode mode_ = Text;
  char last_ = 0;
  std::string error_;
};

}  // namespace qvctl
