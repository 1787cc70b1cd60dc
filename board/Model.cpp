#include "board/Model.h"

#include <time.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>

#include "board/Record.h"
#include "board/StandIn.h"

namespace Board {

std::string hexText(const std::string& bytes) {
  static const char digits[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(bytes.size() * 2);
  for (unsigned char c : bytes) {
    out += digits[c >> 4];
    out += digits[c & 15];
  }
  return out;
}

bool parseHex(const std::string& text, std::string& bytes) {
  std::string digits;
  size_t i = 0;
  if (text.size() >= 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) i = 2;
  for (; i < text.size(); ++i) {
    char c = text[i];
    if (c == ' ' || c == ':' || c == '-') continue;
    if (!std::isxdigit(static_cast<unsigned char>(c))) return false;
    digits += c;
  }
  if (digits.size() % 2) return false;
  bytes.clear();
  for (size_t k = 0; k < digits.size(); k += 2)
    bytes += char(std::strtoul(digits.substr(k, 2).c_str(), nullptr, 16));
  return true;
}

bool parseNumber(const std::string& text, unsigned long& out) {
  if (text.empty() || text[0] == '-' || text[0] == '+') return false;
  errno = 0;
  char* end = nullptr;
  unsigned long v = std::strtoul(text.c_str(), &end, 0);
  if (errno || *end) return false;
  out = v;
  return true;
}

bool parseSigned(const std::string& text, long& out) {
  if (text.empty()) return false;
  errno = 0;
  char* end = nullptr;
  long v = std::strtol(text.c_str(), &end, 0);
  if (errno || *end) return false;
  out = v;
  return true;
}

uint64_t wallClockUsec() {
  timespec ts;
  clock_gettime(CLOCK_REALTIME, &ts);
  return uint64_t(ts.tv_sec) * 1000000u + uint64_t(ts.tv_nsec) / 1000u;
}

std::string usecText(uint64_t usec) {
  char t[40];
  std::snprintf(t, sizeof t, "%llu.%06llu", static_cast<unsigned long long>(usec / 1000000),
                static_cast<unsigned long long>(usec % 1000000));
  return t;
}

std::string errnoName(int err) {
  const char* n = strerrorname_np(err);
  return n ? n : std::to_string(err);
}

bool parseErrno(const std::string& text, int& err) {
  unsigned long v;
  if (parseNumber(text, v)) {
    if (v == 0 || v > 4095) return false;
    err = int(v);
    return true;
  }
  for (int i = 1; i < 256; ++i) {
    const char* n = strerrorname_np(i);
    if (n && text == n) {
      err = i;
      return true;
    }
  }
  return false;
}

int checkRecord(const Request& r) {
  if (r.arg != Arg::Record) return EFAULT;  // a value taken for a pointer
  if (!r.record) return EFAULT;
  size_t want = wordSize(r.word);
  if (want && r.size != want) return EINVAL;
  return 0;
}

std::string LogEntry::text() const {
  char w[16];
  std::snprintf(w, sizeof w, "0x%08X", word);
  std::ostringstream out;
  out << usecText(usec) << ' ' << (model ? model->path() : "?") << " s" << session << ' ' << w << ' '
      << (model ? model->describe(*this) : std::string()) << " = " << result;
  if (error) out << ' ' << errnoName(error) << " (" << std::strerror(error) << ")";
  if (injected) out << " [injected]";
  return out.str();
}

std::string Model::describe(const LogEntry& e) const {
  if (e.arg == Arg::Value) return "value=" + std::to_string(e.value);
  std::string s = "record=" + hexText(e.in);
  if (!e.out.empty()) s += " -> " + hexText(e.out);
  return s;
}

bool Model::command(const std::vector<std::string>&, std::ostream&) { return false; }

std::unique_lock<std::mutex> Model::guard() const {
  return std::unique_lock<std::mutex>(board_.mutex());
}

}  // namespace Board
