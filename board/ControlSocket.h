#pragma once
// The stand-in board's control socket: a Unix stream socket at
// Root::path("/var/run/standin.ctl") that takes one command per line and
// sends each answer followed by a line ".".
//
// Answers go out as they are made: a command's answer is asked for in
// pieces (Answer) only while what the client has not read yet stays under
// kPendingLimit, and the next command is not read before. So a client that
// sends many commands and reads slowly costs the board a bounded amount,
// and kLineLimit bounds one line, not the backlog of lines behind it.
// Served by the board's thread alone.
#include <poll.h>

#include <chrono>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "runtime/Accept.h"

namespace Board {

class StandIn;

// The answer to one command, given out piece by piece.
class Answer {
 public:
  virtual ~Answer() = default;
  // Appends about budget bytes or more (whole lines) of the answer to out;
  // false once the answer is complete.
  virtual bool more(std::string& out, size_t budget) = 0;
  // The whole answer at once.
  std::string all();
};

// An answer known whole from the start.
class TextAnswer : public Answer {
 public:
  explicit TextAnswer(std::string text) : text_(std::move(text)) {}
  bool more(std::string& out, size_t) override {
    out += text_;
    text_.clear();
    return false;
  }

 private:
  std::string text_;
};

class ControlSocket {
 public:
  // What one client may have waiting to be read before the board stops
  // making its answers.
  static constexpr size_t kPendingLimit = 256 * 1024;
  // The longest command line.
  static constexpr size_t kLineLimit = 64 * 1024;
  // Commands of one client run in one turn, so that a client that keeps
  // sending does not keep the thread from the device sessions.
  static constexpr int kCommandsPerTurn = 64;

  explicit ControlSocket(StandIn& board) : board_(board) {}
  ~ControlSocket() { close(); }
  ControlSocket(const ControlSocket&) = delete;
  ControlSocket& operator=(const ControlSocket&) = delete;

  // Listens at path (its directories made as needed); false, said on
  // standard error, when it cannot.
  bool open(const std::string& path);
  // Stops listening, removes the socket file and drops the clients.
  void close();
  const std::string& path() const { return path_; }

  // Adds the entries to poll to fds; the longest wait the socket allows in
  // milliseconds (-1: no limit).
  int prepare(std::vector<pollfd>& fds);
  // Serves the entries prepare() added, found from first on.
  void service(const std::vector<pollfd>& fds, size_t first);

 private:
  struct Client {
    std::string in, out;
    std::unique_ptr<Answer> answer;
    bool eof = false;
    // Whether a command read earlier waits for its turn.
    bool waiting() const { return !answer && out.size() < kPendingLimit && in.find('\n') != std::string::npos; }
  };

  void acceptAll();
  // False when the client is done with or broke the rules.
  bool serve(int fd, Client& c);
  bool flush(int fd, Client& c);

  StandIn& board_;
  int listen_ = -1;
  std::string path_;
  std::map<int, Client> clients_;
  SpareAccept accept_;
  // While out of descriptors with none to give up: when to listen again.
  std::chrono::steady_clock::time_point resume_{};
  bool paused_ = false;
};

}  // namespace Board
