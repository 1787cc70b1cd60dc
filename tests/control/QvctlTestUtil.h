#pragma once
// The controller client qvctl as the tests run it: once with a whole input
// (encode, decode, a session that ends with its input), or as a session
// kept open, fed and read while the test looks at the board in between,
// its input a pipe or a terminal.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "DaemonProcess.h"

namespace qvctl_test {

inline std::string qvctlPath() { return std::string(QUORVAD_BINARY_DIR) + "/control/qvctl/qvctl"; }

struct ToolRun {
  int code = -1;
  std::string out;
  std::string err;
};

// Runs qvctl with the text as its standard input.
inline ToolRun qvctl(const std::vector<std::string>& args, const std::string& input, const std::string& dir) {
  const std::string in = dir + "/qvctl.in", out = dir + "/qvctl.out", err = dir + "/qvctl.err";
  app_test::writeFile(in, input);
  std::vector<std::string> argv{qvctlPath()};
  argv.insert(argv.end(), args.begin(), args.end());
  std::vector<char*> cargv;
  for (std::string& a : argv) cargv.push_back(&a[0]);
  cargv.push_back(nullptr);
  pid_t pid = ::fork();
  if (pid == 0) {
    int i = ::open(in.c_str(), O_RDONLY);
    int o = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    int e = ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ::dup2(i, 0);
    ::dup2(o, 1);
    ::dup2(e, 2);
    ::execv(cargv[0], cargv.data());
    ::_exit(127);
  }
  int st = 0;
  ::waitpid(pid, &st, 0);
  ToolRun r;
  r.code = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
  r.out = app_test::readFile(out);
  r.err = app_test::readFile(err);
  return r;
}

// Value-notation output folded to one line per message.
inline std::vector<std::string> messages(const std::string& out) {
  std::vector<std::string> list;
  std::string cur;
  int depth = 0;
  for (char c : out) {
    if (depth == 0 && c != '{') continue;
    cur += c;
    if (c == '{') ++depth;
    if (c == '}' && --depth == 0) {
      std::string one;
      for (char d : cur) {
        const bool blank = d == ' ' || d == '\n';
        if (!blank || (!one.empty() && one.back() != ' ')) one += blank ? ' ' : d;
      }
      list.push_back(one);
      cur.clear();
    }
  }
  return list;
}

// Where the last whole message of the output ends.
inline size_t completeEnd(const std::string& out) {
  size_t end = 0;
  int depth = 0;
  for (size_t i = 0; i < out.size(); ++i) {
    if (out[i] == '{') ++depth;
    if (out[i] == '}' && depth > 0 && --depth == 0) end = i + 1;
  }
  return end;
}

// Whether something listens on the TCP port (read from the kernel's table,
// so that no connection is made).
inline bool listening(int port) {
  std::ifstream in("/proc/net/tcp");
  std::string line;
  char want[8];
  std::snprintf(want, sizeof want, ":%04X", port);
  while (std::getline(in, line))
    if (line.find(std::string(want) + " ") != std::string::npos && line.find(" 0A ") != std::string::npos) return true;
  return false;
}

// A loopback listener for a test that stands in for the daemon; its port
// is in `port`.
inline int listenLoopback(int& port) {
  const int l = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof a;
  if (::bind(l, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(l, 1) != 0 ||
      ::getsockname(l, reinterpret_cast<sockaddr*>(&a), &len) != 0) {
    ::close(l);
    return -1;
  }
  port = ntohs(a.sin_port);
  return l;
}

// One "qvctl session" whose input the test writes as it goes: through a
// pipe, or as a person typing at a terminal (a pseudo-terminal without
// echo, whose lines reach the client one by one). `env` ("NAME=value")
// is added to the client's environment.
class QvctlSession {
public:
  explicit QvctlSession(int port, const std::vector<std::string>& extra = {}, bool terminal = false,
                        const std::vector<std::string>& env = {})
      : terminal_(terminal) {
    int in[2], out[2], err[2];
    if (terminal) {
      if (::openpty(&in[1], &in[0], nullptr, nullptr, nullptr) != 0) return;
      termios t;
      ::tcgetattr(in[0], &t);
      t.c_lflag &= ~static_cast<tcflag_t>(ECHO);
      ::tcsetattr(in[0], TCSANOW, &t);
      ::fcntl(in[0], F_SETFD, FD_CLOEXEC);
      ::fcntl(in[1], F_SETFD, FD_CLOEXEC);
    } else if (::pipe2(in, O_CLOEXEC) != 0) {
      return;
    }
    if (::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(err, O_CLOEXEC) != 0) return;
    std::vector<std::string> argv{qvctlPath(), "session", "--port", std::to_string(port), "--wait", "3000"};
    argv.insert(argv.end(), extra.begin(), extra.end());
    std::vector<char*> cargv;
    for (std::string& a : argv) cargv.push_back(&a[0]);
    cargv.push_back(nullptr);
    std::vector<std::string> envText(env);
    for (char** e = environ; *e; ++e) envText.push_back(*e);
    std::vector<char*> cenv;
    for (std::string& e : envText) cenv.push_back(&e[0]);
    cenv.push_back(nullptr);
    pid_ = ::fork();
    if (pid_ == 0) {
      ::dup2(in[0], 0);
      ::dup2(out[1], 1);
      ::dup2(err[1], 2);
      ::execve(cargv[0], cargv.data(), cenv.data());
      ::_exit(127);
    }
    ::close(in[0]);
    ::close(out[1]);
    ::close(err[1]);
    in_ = in[1];
    out_ = out[0];
    err_ = err[0];
  }
  ~QvctlSession() {
    finish();
    if (out_ >= 0) ::close(out_);
    if (err_ >= 0) ::close(err_);
  }
  QvctlSession(const QvctlSession&) = delete;
  QvctlSession& operator=(const QvctlSession&) = delete;

  // Sends the messages and returns what came back until `answers` answers
  // arrived, or `until` appears, whichever is asked (one line a message).
  std::vector<std::string> send(const std::string& text, size_t answers = 1, const std::string& until = "") {
    const ssize_t n = ::write(in_, text.data(), text.size());
    (void)n;
    return read(answers, until);
  }
  std::vector<std::string> read(size_t answers, const std::string& until = "") {
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    for (;;) {
      std::vector<std::string> got = messages(text_);
      size_t n = 0;
      bool seen = until.empty();
      for (const std::string& m : got) {
        n += m.find("pdu response") != std::string::npos;
        if (!until.empty() && m.find(until) != std::string::npos) seen = true;
      }
      if ((n >= answers && seen) || eof_ || std::chrono::steady_clock::now() > end) {
        // A message still arriving stays for the next read.
        text_.erase(0, completeEnd(text_));
        return got;
      }
      pollfd p{out_, POLLIN, 0};
      if (::poll(&p, 1, 50) == 1) {
        char buf[4096];
        const ssize_t r = ::read(out_, buf, sizeof buf);
        if (r > 0)
          text_.append(buf, static_cast<size_t>(r));
        else
          eof_ = true;
      }
    }
  }
  // Ends the input (a pipe's close, or end-of-file typed at the terminal).
  void endInput() {
    if (in_ < 0) return;
    if (terminal_) {
      const ssize_t n = ::write(in_, "\x04", 1);
      (void)n;
      return;
    }
    ::close(in_);
    in_ = -1;
  }
  // Ends the input: the client leaves once every message was answered
  // (and its stay is over). Its exit code.
  int finish() {
    endInput();
    return exitCode();
  }
  // Interrupts the client as Ctrl-C does. Its exit code.
  int interrupt() {
    if (pid_ > 0) ::kill(pid_, SIGINT);
    return exitCode();
  }
  // What the client wrote on its standard error until it ended.
  std::string errors() {
    std::string text;
    char buf[4096];
    ssize_t r;
    while (err_ >= 0 && pid_ < 0 && (r = ::read(err_, buf, sizeof buf)) > 0) text.append(buf, static_cast<size_t>(r));
    return text;
  }

private:
  int exitCode() {
    if (pid_ <= 0) return -1;
    int st = 0;
    ::waitpid(pid_, &st, 0);
    pid_ = -1;
    if (in_ >= 0) ::close(in_);
    in_ = -1;
    return WIFEXITED(st) ? WEXITSTATUS(st) : -1;
  }

  bool terminal_ = false;
  pid_t pid_ = -1;
  int in_ = -1;
  int err_ = -1;
  int out_ = -1;
  std::string text_;
  bool eof_ = false;
};

}  // namespace qvctl_test
