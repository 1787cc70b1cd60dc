#pragma once
// What a device model of the stand-in board is made of: the sessions
// (one per open of the device, shared by every dup of its descriptor), the
// driver requests they receive and the replies a model gives.
//
// Every virtual operation of Model runs with the board's lock held, on
// whichever thread reached the board (the daemon's for requests and opens,
// the stand-in's own thread for frames and last closes, a test's or the
// control socket's for commands), so a model needs no lock of its own.
// The operations a model offers to tests take the lock themselves
// (Model::Guard).
#include <sys/types.h>

#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <ostream>
#include <string>
#include <vector>

namespace Board {

class StandIn;
class Model;

// How the daemon passed the request's argument: the value itself, or a
// pointer to a record of a given size.
enum class Arg { Value, Record };

struct Request {
  uint32_t word = 0;
  Arg arg = Arg::Value;
  long value = 0;           // Arg::Value
  uint8_t* record = nullptr;  // Arg::Record: in and out
  size_t size = 0;
};

// A driver's answer: the request's return value, or -1 with an errno.
struct Reply {
  long result = 0;
  int error = 0;
  static Reply ok(long r = 0) { return Reply{r, 0}; }
  static Reply fail(int e) { return Reply{-1, e}; }
};

// One open of a device. The daemon holds one end of a SOCK_SEQPACKET pair
// (and any dups of it); the board holds the other.
class Session {
 public:
  // What a model keeps per open file (a channel allocation, a modem...).
  struct Data {
    virtual ~Data() = default;
  };

  unsigned id() const { return id_; }
  Model& model() const { return *model_; }
  int flags() const { return flags_; }
  bool ended() const { return ended_; }

  // Hands one frame or event record to the daemon: one read of its end
  // returns exactly these bytes. Order is kept; what the end cannot take now
  // goes out as soon as it can.
  void deliver(std::string frame);
  size_t pending() const { return out_.size(); }

  // Whether the board reads what the daemon writes. While it does not, the
  // end's buffer fills and the daemon's writes fail with EAGAIN; resuming
  // gives the daemon POLLOUT again.
  void setDraining(bool on);
  bool draining() const { return draining_; }

  // Cuts the session as a failing driver would: the daemon reads end of file
  // (the access layer turns it into EIO) and the model forgets the session.
  void sever();

  std::unique_ptr<Data> data;

 private:
  friend class StandIn;
  StandIn* board_ = nullptr;
  Model* model_ = nullptr;
  unsigned id_ = 0;
  int flags_ = 0;
  int end_ = -1;      // the board's end
  ino_t ino_ = 0;     // inode of the daemon's end
  bool draining_ = true;
  bool ended_ = false;
  std::deque<std::string> out_;
};

// One recorded driver request.
struct LogEntry {
  uint64_t usec = 0;  // wall clock, microseconds
  const Model* model = nullptr;
  unsigned session = 0;
  uint32_t word = 0;
  Arg arg = Arg::Value;
  long value = 0;
  std::string in;   // the record as passed
  std::string out;  // the record as returned (read-direction words only)
  long result = 0;
  int error = 0;
  bool injected = false;  // the failure came from an injection

  // "1712345678.123456 /dev/hal s1 0x80044D03 disable ch=8192 = 0"
  std::string text() const;
};

class Model {
 public:
  Model(StandIn& board, std::string path, std::string name)
      : board_(board), path_(std::move(path)), name_(std::move(name)) {}
  virtual ~Model() = default;
  Model(const Model&) = delete;
  Model& operator=(const Model&) = delete;

  // The board path the daemon opens ("/dev/hal") and the short name used by
  // control commands ("hal").
  const std::string& path() const { return path_; }
  const std::string& name() const { return name_; }

  // A new open: 0, or an errno to refuse it.
  virtual int open(Session&) { return 0; }
  // A driver request on the session.
  virtual Reply request(Session& s, Request& r) = 0;
  // Whether the board first takes note of what the daemon did before a
  // request (frames written, last closes), as a driver sees a close at once:
  // for models whose requests depend on other sessions (pools). Costs a
  // poll over every session, so not for the switch's hot path.
  virtual bool syncBeforeRequest() const { return false; }
  // One frame the daemon wrote.
  virtual void received(Session&, std::string&&) {}
  // The last dup was closed (or the session was severed).
  virtual void closed(Session&) {}
  // The request's record decoded as text, for the log.
  virtual std::string describe(const LogEntry& e) const;
  // A control command addressed to the model (args[0] is the first word
  // after the model's name); false when the command is unknown.
  virtual bool command(const std::vector<std::string>& args, std::ostream& out);
  // One line per command, for "help".
  virtual void help(std::ostream&) const {}

 protected:
  // Takes the board's lock, for the model's own test operations.
  std::unique_lock<std::mutex> guard() const;
  StandIn& board_;

 private:
  std::string path_;
  std::string name_;
};

// Checks the argument kind and size against what the word announces.
// Returns 0 when they fit, else the errno a driver would give.
int checkRecord(const Request& r);

// Parses a number in C notation (decimal, 0x hexadecimal); false on junk.
bool parseNumber(const std::string& text, unsigned long& out);
bool parseSigned(const std::string& text, long& out);

// The wall clock in microseconds, and its text "seconds.micro".
uint64_t wallClockUsec();
std::string usecText(uint64_t usec);

// "EINVAL" for EINVAL; a number when the value has no name.
std::string errnoName(int err);
// An errno by name ("ENODEV") or number; false on junk.
bool parseErrno(const std::string& text, int& err);

}  // namespace Board
