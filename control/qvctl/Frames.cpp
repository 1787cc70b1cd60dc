#include "control/qvctl/Frames.h"

#include <cctype>

namespace qvctl {

std::string hex(const std::vector<char>& bytes) {
  static const char digits[] = "0123456789ABCDEF";
  std::string s;
  for (size_t i = 0; i < bytes.size(); ++i) {
    const unsigned char b = static_cast<unsigned char>(bytes[i]);
    if (i) s += ' ';
    s += digits[b >> 4];
    s += digits[b & 15];
  }
  return s;
}

bool unhex(const std::string& text, std::vector<char>& bytes) {
  std::string t = text;
  if (t.size() >= 2 && t[0] == '0' && (t[1] == 'x' || t[1] == 'X')) t = t.substr(2);
  std::string digits;
  for (char c : t) {
    if (c == ' ' || c == ':' || c == '\t' || c == '\n') continue;
    if (!std::isxdigit(static_cast<unsigned char>(c))) return false;
    digits += c;
  }
  if (digits.empty() || digits.size() % 2) return false;
  bytes.clear();
  for (size_t i = 0; i < digits.size(); i += 2)
    bytes.push_back(static_cast<char>(std::stoi(digits.substr(i, 2), nullptr, 16)));
  return true;
}

std::string oneLine(const std::string& text) {
  std::string out;
  for (char c : text) {
    const bool blank = c == ' ' || c == '\n' || c == '\r' || c == '\t';
    if (blank) {
      if (!out.empty() && out.back() != ' ') out += ' ';
    } else {
      out += c;
    }
  }
  while (!out.empty() && out.back() == ' ') out.pop_back();
  return out;
}

std::vector<char> frame(const std::vector<char>& payload) {
  const size_t len = payload.size() + 4;
  std::vector<char> f;
  f.reserve(len);
  f.push_back(3);
  f.push_back(0);
  f.push_back(static_cast<char>((len >> 8) & 0xFF));
  f.push_back(static_cast<char>(len & 0xFF));
  for (char c : payload) f.push_back(c);
  return f;
}

bool FrameReader::feed(const char* data, size_t n, std::vector<std::vector<char>>& payloads) {
  buffer_.insert(buffer_.end(), data, data + n);
  size_t at = 0;
  while (buffer_.size() - at >= 4) {
    const unsigned char* h = reinterpret_cast<const unsigned char*>(buffer_.data() + at);
    if (h[0] != 3 || h[1] != 0) return false;
    const size_t len = static_cast<size_t>(h[2]) * 256 + h[3];
    if (len < 4) return false;
    if (buffer_.size() - at < len) break;
    payloads.emplace_back(buffer_.begin() + at + 4, buffer_.begin() + at + len);
    at += len;
  }
  buffer_.erase(buffer_.begin(), buffer_.begin() + at);
  return true;
}

void position(const Piece& piece, size_t offset, unsigned& line, unsigned& column) {
  line = piece.line;
  column = piece.column;
  for (size_t i = 0; i < offset && i < piece.text.size(); ++i) {
    if (piece.text[i] == '\n') {
      ++line;
      column = 1;
    } else {
      ++column;
    }
  }
}

void ValueSplitter::feed(const char* data, size_t n, std::vector<Piece>& pieces) {
  for (size_t i = 0; i < n; ++i) take(data[i], pieces);
}

bool ValueSplitter::finish(std::vector<Piece>& pieces) {
  if (mode_ == Text && depth_ == 0 && last_ == '-') {
    current_ = Piece{"-", dashLine_, dashColumn_, true};
    mode_ = Stray;
  }
  if (mode_ == Stray) endStray(pieces);
  return depth_ == 0;
}

void ValueSplitter::endStray(std::vector<Piece>& pieces) {
  while (!current_.text.empty() && (current_.text.back() == ' ' || current_.text.back() == '\t' ||
                                    current_.text.back() == '\r'))
    current_.text.pop_back();
  pieces.push_back(current_);
  current_ = Piece();
  mode_ = Text;
}

void ValueSplitter::take(char c, std::vector<Piece>& pieces) {
  const unsigned line = line_, column = column_;
  if (c == '\n') {
    ++line_;
    column_ = 1;
  } else {
    ++column_;
  }
  const char prev = last_;
  last_ = c;
  switch (mode_) {
    case DoubleQuoted:
      current_.text += c;
      if (c == '"') mode_ = Text;
      return;
    case SingleQuoted:
      current_.text += c;
      if (c == '\'') mode_ = Text;
      return;
    case Comment:
      if (c == '\n') {
        mode_ = Text;
        if (depth_ > 0) current_.text += c;
      }
      return;
    case Stray:
      if (c == '\n')
        endStray(pieces);
      else
        current_.text += c;
      return;
    case Text:
      break;
  }
  if (c == '-' && prev == '-') {
    // The first '-' went into the value, or waited between values.
    mode_ = Comment;
    last_ = 0;
    if (depth_ > 0 && !current_.text.empty() && current_.text.back() == '-') current_.text.pop_back();
    return;
  }
  if (depth_ == 0) {
    if (prev == '-') {
      // The waiting '-' begins no comment: it and the rest of its line
      // stand outside any value.
      current_ = Piece{"-", dashLine_, dashColumn_, true};
      mode_ = Stray;
      if (c == '\n')
        endStray(pieces);
      else
        current_.text += c;
      return;
    }
    if (c == ' ' || c == '\t' || c == '\r' || c == '\n') return;
    if (c == '-') {
      dashLine_ = line;
      dashColumn_ = column;
      return;
    }
    if (c != '{') {
      current_ = Piece{std::string(1, c), line, column, true};
      mode_ = Stray;
      return;
    }
    current_ = Piece{"", line, column, false};
  }
  current_.text += c;
  if (c == '"') mode_ = DoubleQuoted;
  if (c == '\'') mode_ = SingleQuoted;
  if (c == '{') ++depth_;
  if (c == '}' && --depth_ == 0) {
    pieces.push_back(current_);
    current_ = Piece();
  }
}

}  // namespace qvctl
