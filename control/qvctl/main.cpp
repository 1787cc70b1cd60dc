// qvctl: a controller for the board, for people and for tests.
//
//   qvctl encode TYPE            one value of TYPE in value notation on
//                                standard input -> its aligned-PER bytes
//   qvctl decode TYPE HEX        aligned-PER bytes -> the value in value
//                                notation
//   qvctl session [--host H] [--port P] [--wait MS] [--stay MS|forever]
//                                sends each LGCP::Message read from standard
//                                input in a TPKT frame and prints every
//                                message the board sends, until the input
//                                has ended and every message sent has had
//                                its answer (at most MS milliseconds after
//                                the end of the input); with --stay, it
//                                stays connected and goes on printing for
//                                MS milliseconds more, or until interrupted
//                                (SIGINT, SIGTERM), which ends a session at
//                                any time; a session that has sent no
//                                command for a minute pings, so that the
//                                board keeps the link, and does not print
//                                the answer
//
// A session's input that does not read as a message is reported with its
// line and column and what was expected there. At a terminal the session
// goes on with the next line; otherwise that text and everything after it
// is not sent, and the session ends once what was sent before has had its
// answers.
//
// TYPE is a full type name such as LGCP::Message. Errors are one line on
// standard error and a non-zero exit: 2 for a wrong command line, 1 for
// anything else.
#include "asn1/AVNDecoder.h"
#include "asn1/AVNEncoder.h"
#include "asn1/CoderEnv.h"
#include "control/qvctl/Frames.h"
#include "protocol/LGCP/LGCP.h"
#include "protocol/Registry.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <iterator>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

namespace {

const char kUsage[] =
    "usage: qvctl encode TYPE\n"
    "       qvctl decode TYPE HEX\n"
    "       qvctl session [--host H] [--port P] [--wait MS] [--stay MS|forever]";

int fail(const std::string& text) {
  std::cerr << "qvctl: " << text << std::endl;
  return 1;
}

int usage(const std::string& text) {
  std::cerr << "qvctl: " << text << std::endl << kUsage << std::endl;
  return 2;
}

std::unique_ptr<ASN1::AbstractData> make(const std::string& type) {
  return std::unique_ptr<ASN1::AbstractData>(Protocol::Registry::create(type));
}

bool encode(const ASN1::AbstractData& v, std::vector<char>& out) {
  ASN1::CoderEnv env;
  env.set_encodingRule(ASN1::CoderEnv::per_Aligned);
  return ASN1::encode(v, &env, std::back_inserter(out));
}

bool decode(const std::vector<char>& in, ASN1::AbstractData& v) {
  ASN1::CoderEnv env;
  env.set_encodingRule(ASN1::CoderEnv::per_Aligned);
  return ASN1::decode(in.data(), in.data() + in.size(), &env, v, true);
}

// The value in value notation and a line end; false when the printer
// cannot print it (a CHOICE alternative of a newer schema, whose contents
// were skipped).
bool print(const ASN1::AbstractData& v, std::string& text) {
  if (!ASN1::valueNotation(v, text)) return false;
  text += '\n';
  return true;
}

std::string readAll(std::istream& is) {
  std::ostringstream s;
  s << is.rdbuf();
  return s.str();
}

// Reads the whole text as one value; false when it does not read or text
// other than blanks follows it.
bool readValue(const std::string& text, ASN1::AbstractData& v) {
  std::istringstream is(text);
  is >> v;
  if (!ASN1::input_success(is)) return false;
  is.clear();
  std::string rest;
  is >> rest;
  return rest.empty();
}

int cmdEncode(const std::string& type) {
  auto v = make(type);
  if (!v) return fail("unknown type " + type);
  if (!readValue(readAll(std::cin), *v)) return fail("the input is not one value of " + type);
  std::vector<char> bytes;
  if (!encode(*v, bytes)) return fail("the value of " + type + " cannot be encoded");
  std::cout << qvctl::hex(bytes) << std::endl;
  return std::cout ? 0 : fail("writing the bytes failed");
}

int cmdDecode(const std::string& type, const std::string& hexText) {
  auto v = make(type);
  if (!v) return fail("unknown type " + type);
  std::vector<char> bytes;
  if (!qvctl::unhex(hexText, bytes)) return fail("not hexadecimal bytes: " + hexText);
  if (!decode(bytes, *v)) return fail("the bytes do not decode as " + type);
  std::string text;
  if (!print(*v, text)) return fail("the value of " + type + " cannot be printed");
  std::cout << text << std::flush;
  return std::cout ? 0 : fail("writing the value failed");
}

int connectTo(const std::string& host, const std::string& port, std::string& error) {
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* res = nullptr;
  int rc = ::getaddrinfo(host.c_str(), port.c_str(), &hints, &res);
  if (rc != 0) {
    error = "cannot resolve " + host + ": " + gai_strerror(rc);
    return -1;
  }
  int fd = ::socket(res->ai_family, res->ai_socktype | SOCK_CLOEXEC, res->ai_protocol);
  if (fd < 0 || ::connect(fd, res->ai_addr, res->ai_addrlen) != 0) {
    error = "cannot connect to " + host + ":" + port + ": " + std::strerror(errno);
    if (fd >= 0) ::close(fd);
    fd = -1;
  }
  ::freeaddrinfo(res);
  if (fd >= 0) {
    const int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  }
  return fd;
}

// On the monotonic clock, so that a step of the wall clock neither holds
// back a keep-alive nor cuts a wait short.
long nowMs() {
  timespec ts;
  ::clock_gettime(CLOCK_MONOTONIC, &ts);
  return ts.tv_sec * 1000L + ts.tv_nsec / 1000000;
}

bool sendAll(int fd, const std::vector<char>& frame) {
  size_t off = 0;
  while (off < frame.size()) {
    ssize_t n = ::send(fd, frame.data() + off, frame.size() - off, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    off += static_cast<size_t>(n);
  }
  return true;
}

// The word of `text` at `at`, for saying what the reader found there.
std::string wordAt(const std::string& text, size_t at) {
  if (at >= text.size()) return "the end of the value";
  const std::string delimiters = ",{}:";
  if (delimiters.find(text[at]) != std::string::npos) return text.substr(at, 1);
  size_t end = at;
  while (end < text.size() && delimiters.find(text[end]) == std::string::npos && text[end] != ' ' &&
         text[end] != '\t' && text[end] != '\r' && text[end] != '\n')
    ++end;
  return text.substr(at, end - at);
}

std::string where(unsigned line, unsigned column) {
  return "line " + std::to_string(line) + ", column " + std::to_string(column);
}

std::string where(const qvctl::Piece& piece, size_t offset) {
  unsigned line, column;
  qvctl::position(piece, offset, line, column);
  return where(line, column);
}

// One piece of the input as a frame to send, and whether it is a command;
// false with the reason, which says where in the input it lies.
bool prepare(const qvctl::Piece& piece, std::vector<char>& frame, bool& command, std::string& why) {
  if (piece.stray) {
    why = where(piece, 0) + ": text outside a value: " + piece.text;
    return false;
  }
  LGCP::Message m;
  std::istringstream is(piece.text);
  ASN1::AVNDecoder reader(is);
  if (!m.accept(reader)) {
    const size_t at = reader.stoppedAt() < 0 ? piece.text.size() : static_cast<size_t>(reader.stoppedAt());
    why = where(piece, at) + ": not an LGCP::Message: ";
    if (!reader.expected().empty()) why += "expected " + reader.expected() + ", ";
    why += "found " + wordAt(piece.text, at);
    return false;
  }
  std::vector<char> bytes;
  if (!encode(m, bytes)) {
    why = where(piece, 0) + ": the message cannot be encoded: " + qvctl::oneLine(piece.text);
    return false;
  }
  if (bytes.size() > qvctl::kMaxPayload) {
    why = where(piece, 0) + ": the message is too long for one frame";
    return false;
  }
  frame = qvctl::frame(bytes);
  command = m.get_pdu().command_isSelected();
  return true;
}

volatile sig_atomic_t interrupted = 0;

void onInterrupt(int) { interrupted = 1; }

// SIGINT and SIGTERM end the session; they are taken only while waiting,
// so that one arriving at any other moment still ends the wait at once.
// A SIGINT the caller had ignored (a job started in the background) stays
// ignored. The mask to wait with is `waitMask`.
void catchInterrupts(sigset_t& waitMask) {
  sigset_t both;
  sigemptyset(&both);
  sigaddset(&both, SIGINT);
  sigaddset(&both, SIGTERM);
  ::sigprocmask(SIG_BLOCK, &both, &waitMask);
  sigdelset(&waitMask, SIGINT);
  sigdelset(&waitMask, SIGTERM);
  struct sigaction act {};
  act.sa_handler = onInterrupt;
  sigemptyset(&act.sa_mask);
  struct sigaction old {};
  ::sigaction(SIGINT, &act, &old);
  if (old.sa_handler == SIG_IGN) ::sigaction(SIGINT, &old, nullptr);
  ::sigaction(SIGTERM, &act, nullptr);
}

// The daemon drops a controller from which no command came for two
// minutes, so a session that has sent none for half that period pings,
// whatever it waits for: a person at a terminal, a pipe that pauses, the
// answers, a stay.
const long kKeepAliveMs = 60000;

// The period; tests, which cannot wait a minute, set a shorter one in
// QVCTL_KEEPALIVE_MS.
long keepAlivePeriod() {
  const char* text = std::getenv("QVCTL_KEEPALIVE_MS");
  if (!text || !*text) return kKeepAliveMs;
  char* end = nullptr;
  const long ms = std::strtol(text, &end, 10);
  return *end || ms <= 0 ? kKeepAliveMs : ms;
}

// The keep-alive has neither seq nor slot, so its answer is a success
// without either; one of those while a keep-alive is unanswered is taken
// as its answer. A message of the session's own without seq or slot may
// get the same answer first; the one printed for it then reads the same,
// and the session still ends only once both have come.
std::vector<char> keepAliveFrame() {
  LGCP::Message m;
  std::vector<char> bytes;
  readValue("{ pdu command : ping : NULL }", m);
  encode(m, bytes);
  return qvctl::frame(bytes);
}

bool answersKeepAlive(const LGCP::Message& m) {
  return !m.seq_isPresent() && !m.slot_isPresent() && m.get_pdu().response_isSelected() &&
         m.get_pdu().get_response().success_isSelected();
}

struct SessionOptions {
  std::string host = "127.0.0.1";
  std::string port = "20001";
  long waitMs = 5000;
  long stayMs = 0;  // -1: until interrupted
  long keepAliveMs = kKeepAliveMs;
};

// One connection to the board, fed from standard input.
class Session {
public:
  Session(int fd, const SessionOptions& o) : fd_(fd), o_(o), interactive_(::isatty(0) == 1) {}

  // The exit code.
  int run(const sigset_t& waitMask) {
    for (;;) {
      timespec timeout{};
      int code = next(timeout);
      if (code >= 0) return code;
      pollfd p[2] = {{fd_, POLLIN, 0}, {0, POLLIN, 0}};
      const int r = ::ppoll(p, inputDone_ ? 1 : 2, &timeout, &waitMask);
      if (r < 0 && errno != EINTR) return fail(std::string("poll: ") + std::strerror(errno));
      if (r <= 0) continue;
      if (p[0].revents && (code = fromBoard()) >= 0) return code;
      if (!inputDone_ && p[1].revents && (code = fromInput()) >= 0) return code;
    }
  }

private:
  // The exit code when the session is over, else -1 and how long to wait.
  int next(timespec& ts) {
    const long now = nowMs();
    long left = -1;
    if (interrupted) return answers_ < sent_ ? unanswered() : done();
    if (!inputDone_) {
      // Only the keep-alive bounds the wait.
    } else if (answers_ < sent_) {
      left = inputEnd_ + o_.waitMs - now;
      if (left <= 0) return unanswered();
    } else {
      // What was refused without a terminal ended the session early: it
      // does not stay.
      if (o_.stayMs == 0 || (refused_ && !interactive_)) return done();
      if (stayEnd_ == 0) stayEnd_ = now + o_.stayMs;
      if (o_.stayMs > 0 && stayEnd_ <= now) return done();
      if (o_.stayMs > 0) left = stayEnd_ - now;
    }
    if (now - lastCommand_ >= o_.keepAliveMs) {
      if (!sendAll(fd_, ping_)) return fail(std::string("sending: ") + std::strerror(errno));
      lastCommand_ = now;
      ++keepAlives_;
    }
    const long ping = lastCommand_ + o_.keepAliveMs - now;
    left = left < 0 ? ping : std::min(left, ping);
    ts.tv_sec = left / 1000;
    ts.tv_nsec = left % 1000 * 1000000;
    return -1;
  }

  int done() const { return refused_ ? 1 : 0; }
  int unanswered() const {
    return fail("no answer to " + std::to_string(sent_ - answers_) + " of " + std::to_string(sent_) + " message(s)");
  }

  // Prints what the board sent; the exit code when the session cannot go
  // on, else -1.
  int fromBoard() {
    char buf[4096];
    ssize_t n = ::recv(fd_, buf, sizeof buf, 0);
    if (n < 0 && errno == EINTR) return -1;
    if (n <= 0) return fail("the board closed the connection");
    std::vector<std::vector<char>> payloads;
    if (!frames_.feed(buf, static_cast<size_t>(n), payloads))
      return fail("a bad TPKT frame from the board");
    for (const auto& payload : payloads) {
      LGCP::Message m;
      if (!decode(payload, m))
        return fail("a message from the board does not decode: " + qvctl::hex(payload));
      const bool answer = m.get_pdu().response_isSelected();
      if (keepAlives_ > 0 && answersKeepAlive(m)) {
        --keepAlives_;
        continue;
      }
      std::string text;
      if (!print(m, text))
        return fail("a message from the board cannot be printed: " + qvctl::hex(payload));
      std::cout << text << std::flush;
      if (answer) ++answers_;
    }
    return -1;
  }

  // Sends what the input holds; the exit code when the session cannot go
  // on, else -1.
  int fromInput() {
    char buf[4096];
    ssize_t n = ::read(0, buf, sizeof buf);
    if (n < 0 && errno == EINTR) return -1;
    if (n < 0) return fail(std::string("reading the input: ") + std::strerror(errno));
    std::vector<qvctl::Piece> pieces;
    bool open = false;
    if (n == 0) {
      open = !input_.finish(pieces);
      endInput();
    } else {
      input_.feed(buf, static_cast<size_t>(n), pieces);
    }
    for (const qvctl::Piece& piece : pieces) {
      std::vector<char> frame;
      bool command = false;
      std::string why;
      if (!prepare(piece, frame, command, why)) {
        fail(why);
        ++refused_;
        if (interactive_) continue;
        endInput();
        break;
      }
      if (!sendAll(fd_, frame)) return fail(std::string("sending: ") + std::strerror(errno));
      // Only a command keeps the daemon's heartbeat from running out.
      if (command) lastCommand_ = nowMs();
      ++sent_;
    }
    if (open) {
      fail("the input ends inside the value that begins at " + where(input_.open().line, input_.open().column));
      ++refused_;
    }
    return -1;
  }

  void endInput() {
    inputDone_ = true;
    inputEnd_ = nowMs();
  }

  const int fd_;
  const SessionOptions o_;
  const bool interactive_;
  const std::vector<char> ping_ = keepAliveFrame();
  qvctl::ValueSplitter input_;
  qvctl::FrameReader frames_;
  bool inputDone_ = false;
  long inputEnd_ = 0;
  long stayEnd_ = 0;
  long lastCommand_ = nowMs();
  unsigned keepAlives_ = 0;
  unsigned sent_ = 0;
  unsigned answers_ = 0;
  unsigned refused_ = 0;
};

int cmdSession(const SessionOptions& o) {
  std::string error;
  const int fd = connectTo(o.host, o.port, error);
  if (fd < 0) return fail(error);
  struct Closer {
    int fd;
    ~Closer() { ::close(fd); }
  } closer{fd};
  sigset_t waitMask;
  catchInterrupts(waitMask);
  return Session(fd, o).run(waitMask);
}

}  // namespace

int main(int argc, char* argv[]) {
  std::vector<std::string> args(argv + 1, argv + argc);
  if (args.empty()) return usage("a command is needed");
  const std::string cmd = args[0];
  if (cmd == "encode") {
    if (args.size() != 2) return usage("encode takes one type name");
    return cmdEncode(args[1]);
  }
  if (cmd == "decode") {
    if (args.size() < 3) return usage("decode takes a type name and the bytes");
    std::string hexText;
    for (size_t i = 2; i < args.size(); ++i) hexText += args[i];
    return cmdDecode(args[1], hexText);
  }
  if (cmd == "session") {
    SessionOptions o;
    o.keepAliveMs = keepAlivePeriod();
    for (size_t i = 1; i < args.size(); ++i) {
      const std::string& a = args[i];
      if ((a == "--host" || a == "--port" || a == "--wait" || a == "--stay") && i + 1 < args.size()) {
        const std::string& v = args[++i];
        if (a == "--host") {
          o.host = v;
        } else if (a == "--stay" && v == "forever") {
          o.stayMs = -1;
        } else {
          char* end = nullptr;
          const long n = std::strtol(v.c_str(), &end, 10);
          if (v.empty() || *end || n < 0 || (a == "--port" && (n < 1 || n > 65535)))
            return usage("bad number for " + a + ": " + v);
          if (a == "--port")
            o.port = v;
          else if (a == "--wait")
            o.waitMs = n;
          else
            o.stayMs = n;
        }
      } else {
        return usage("unknown option " + a);
      }
    }
    return cmdSession(o);
  }
  return usage("unknown command " + cmd);
}
