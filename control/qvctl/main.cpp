// qvctl: a controller for the board, for people and for tests.
//
//   qvctl encode TYPE            one value of TYPE in value notation on
//                                standard input -> its aligned-PER bytes
//   qvctl decode TYPE HEX        aligned-PER bytes -> the value in value
//                                notation
//   qvctl session [--host H] [--port P] [--wait MS]
//                                sends each LGCP::Message read from standard
//                                input in a TPKT frame and prints every
//                                message the board sends, until the input
//                                has ended and every message sent has had
//                                its answer (at most MS milliseconds after
//                                the end of the input)
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
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

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
    "       qvctl session [--host H] [--port P] [--wait MS]";

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

long nowMs() {
  timeval tv;
  ::gettimeofday(&tv, nullptr);
  return tv.tv_sec * 1000L + tv.tv_usec / 1000;
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

int cmdSession(const std::string& host, const std::string& port, long waitMs) {
  std::string error;
  const int fd = connectTo(host, port, error);
  if (fd < 0) return fail(error);
  struct Closer {
    int fd;
    ~Closer() { ::close(fd); }
  } closer{fd};

  qvctl::ValueSplitter input;
  qvctl::FrameReader frames;
  bool inputDone = false;
  long inputEnd = 0;
  unsigned sent = 0;
  unsigned answers = 0;
  for (;;) {
    if (inputDone && answers >= sent) return 0;
    pollfd p[2] = {{fd, POLLIN, 0}, {0, static_cast<short>(inputDone ? 0 : POLLIN), 0}};
    int timeout = -1;
    if (inputDone) {
      const long left = inputEnd + waitMs - nowMs();
      if (left <= 0) return fail("no answer to " + std::to_string(sent - answers) + " of " + std::to_string(sent) +
                                 " message(s)");
      timeout = static_cast<int>(left);
    }
    const int r = ::poll(p, inputDone ? 1 : 2, timeout);
    if (r < 0 && errno != EINTR) return fail(std::string("poll: ") + std::strerror(errno));
    if (r <= 0) continue;

    if (p[0].revents) {
      char buf[4096];
      ssize_t n = ::recv(fd, buf, sizeof buf, 0);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return fail("the board closed the connection");
      std::vector<std::vector<char>> payloads;
      if (!frames.feed(buf, static_cast<size_t>(n), payloads)) return fail("a bad TPKT frame from the board");
      for (const auto& payload : payloads) {
        LGCP::Message m;
        if (!decode(payload, m)) return fail("a message from the board does not decode: " + qvctl::hex(payload));
        std::string text;
        if (!print(m, text)) return fail("a message from the board cannot be printed: " + qvctl::hex(payload));
        std::cout << text << std::flush;
        if (m.get_pdu().response_isSelected()) ++answers;
      }
    }

    if (!inputDone && p[1].revents) {
      char buf[4096];
      ssize_t n = ::read(0, buf, sizeof buf);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) return fail(std::string("reading the input: ") + std::strerror(errno));
      std::vector<std::string> texts;
      if (n == 0) {
        inputDone = true;
        inputEnd = nowMs();
        if (!input.finish()) return fail("the input ends inside a value");
      } else if (!input.feed(buf, static_cast<size_t>(n), texts)) {
        return fail("the input holds text outside a value: " + input.error());
      }
      for (const std::string& text : texts) {
        LGCP::Message m;
        if (!readValue(text, m)) return fail("not an LGCP::Message: " + qvctl::oneLine(text));
        std::vector<char> bytes;
        if (!encode(m, bytes)) return fail("the message cannot be encoded: " + qvctl::oneLine(text));
        if (bytes.size() > qvctl::kMaxPayload) return fail("the message is too long for one frame");
        if (!sendAll(fd, qvctl::frame(bytes))) return fail(std::string("sending: ") + std::strerror(errno));
        ++sent;
      }
    }
  }
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
    std::string host = "127.0.0.1";
    std::string port = "20001";
    long waitMs = 5000;
    for (size_t i = 1; i < args.size(); ++i) {
      const std::string& a = args[i];
      if ((a == "--host" || a == "--port" || a == "--wait") && i + 1 < args.size()) {
        const std::string& v = args[++i];
        if (a == "--host") {
          host = v;
        } else {
          char* end = nullptr;
          const long n = std::strtol(v.c_str(), &end, 10);
          if (v.empty() || *end || n < 0 || (a == "--port" && (n < 1 || n > 65535)))
            return usage("bad number for " + a + ": " + v);
          if (a == "--port")
            port = v;
          else
            waitMs = n;
        }
      } else {
        return usage("unknown option " + a);
      }
    }
    return cmdSession(host, port, waitMs);
  }
  return usage("unknown command " + cmd);
}
