#pragma once
// What the stand-in programs share: where they read what a test wants of
// them ("<root>/etc/standin/<program>", one "key value..." per line) and
// where they say what they did ("<root>/var/log/standin-<program>.log",
// one line per event, each beginning with the process id).
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace standin {

inline std::string root() {
  const char* r = std::getenv("QUORVAD_ROOT");
  std::string s = r ? r : "";
  while (!s.empty() && s.back() == '/') s.pop_back();
  return s;
}

// The script's lines by their first word; the rest of the line as given.
inline std::map<std::string, std::string> script(const std::string& program) {
  std::map<std::string, std::string> out;
  std::ifstream in(root() + "/etc/standin/" + program);
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream words(line);
    std::string key, rest;
    words >> key;
    std::getline(words >> std::ws, rest);
    if (!key.empty()) out[key] = rest;
  }
  return out;
}

// One line to the log, in one write, so that a signal handler may use it
// too (the text is built beforehand).
class Log {
 public:
  explicit Log(const std::string& program)
      : fd_(::open((root() + "/var/log/standin-" + program + ".log").c_str(),
                   O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644)) {}
  void line(const std::string& text) const {
    const std::string l = std::to_string(::getpid()) + " " + text + "\n";
    write(l);
  }
  // Async-signal-safe: a prepared line.
  void write(const std::string& l) const {
    if (fd_ >= 0) {
      ssize_t n = ::write(fd_, l.data(), l.size());
      (void)n;
    }
  }
  void start(int argc, char** argv) const {
    std::string s = "start";
    for (int i = 0; i < argc; ++i) s += std::string(" ") + argv[i];
    line(s);
  }

 private:
  int fd_;
};

inline std::string hex(const unsigned char* p, size_t n) {
  static const char digits[] = "0123456789ABCDEF";
  std::string s;
  for (size_t i = 0; i < n; ++i) {
    s += digits[p[i] >> 4];
    s += digits[p[i] & 15];
  }
  return s;
}

}  // namespace standin
