#pragma once
// The stand-in board: the drivers of the board's character devices, modelled
// inside the daemon's own process for machines without the board.
//
// The access layer (hardware/Device.h) is its only caller in the daemon:
// an open gives the daemon one end of a SOCK_SEQPACKET socket pair, so its
// reads, writes, poll and dup work unchanged; driver requests are answered
// here by a direct call into the device's model under one lock, and the
// session is found by the inode of the descriptor (dups share it).
//
// A thread of the board's own serves the other ends (reading the frames the
// daemon writes, delivering queued frames, noticing the last close) and the
// control socket Root::path("/var/run/standin.ctl"), through which a user or
// a test reads the request log and the models and injects state and
// failures, one text command per line (see command()).
//
// The board's code is spread by concern: StandIn.cpp (the models, driver
// requests and their log), Sessions.cpp (the device sessions), Thread.cpp
// (the board's thread), ControlSocket.cpp (the socket server), Commands.cpp
// (the control commands) and Failures.cpp (failure injection).
#include <sys/types.h>

#include <pthread.h>

#include <deque>
#include <set>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "board/ControlSocket.h"
#include "board/Model.h"

namespace Board {

class Hal;
class Mcc;

class StandIn {
 public:
  // The fixed path of the control socket, placed under the root.
  static constexpr const char* kControlPath = "/var/run/standin.ctl";
  // Requests kept in the log; older ones are dropped (and counted).
  static constexpr size_t kLogLimit = 100000;
  // Lines of the log one answer shows, the newest; the others are counted.
  static constexpr size_t kLogAnswerLimit = 10000;

  // The board of this process, made (with its thread and control socket) on
  // first use.
  static StandIn& instance();

  // --- the access layer's side -------------------------------------------
  // Opens a device by its board path: a descriptor, or -1 with errno
  // (ENOENT for a device that is not modelled).
  int open(const char* path, int flags);
  // A driver request on fd. handled is false (and nothing happens) when fd
  // is not a stand-in session; otherwise the driver's result, errno set.
  int request(int fd, uint32_t word, Arg arg, long value, void* record, size_t size,
              bool& handled);

  // --- tests and the control socket ---------------------------------------
  // Runs one control command and returns its answer lines (each ending in
  // "\n"; errors begin with "error: "). The socket sends the same text
  // followed by a line ".".
  std::string command(const std::string& line);
  // The same answer, given out piece by piece (see Answer).
  std::unique_ptr<Answer> answer(const std::string& line);

  // The log as text lines, optionally only the given request words.
  std::vector<std::string> logLines(const std::vector<uint32_t>& words = {});
  std::vector<LogEntry> logEntries(const std::vector<uint32_t>& words = {});
  void clearLog();

  // Failure injection. An open of path fails with err; a request word (on
  // the given device, or any device when empty) fails with err. once: only
  // the next matching call.
  void failOpen(const std::string& path, int err, bool once);
  void failRequest(uint32_t word, int err, bool once, const std::string& device = "");
  void clearFailures();

  // Brings the models up to date with what the daemon did before this call:
  // frames it wrote are received, last closes are noticed.
  void sync();

  // Sessions currently open: {id, device path}.
  std::vector<std::pair<unsigned, std::string>> sessions();

  Model* model(const std::string& pathOrName);
  Hal& hal();
  Mcc& mcc();

  // Where the control socket listens ("" when it could not be made).
  std::string controlPath() const;

  // Registers a device model under its board path. Called while the board
  // is built (board/Models.cpp); a later device is one more model class.
  void add(std::unique_ptr<Model> m);

  std::mutex& mutex() { return mutex_; }

  // With the lock held (from a model): the session of a descriptor of this
  // process, or null when it names none (closed, or not a stand-in device).
  // Drivers that take another session's descriptor number resolve it here.
  Session* sessionOfLocked(int fd);

  ~StandIn();

 private:
  friend class Session;
  friend class LogAnswer;
  struct Failure {
    int error;
    bool once;
  };

  StandIn();
  void startThread();
  void stopThread();
  void run();
  void wake();
  // With the lock held: handles what each end has to say, without waiting.
  void serviceLocked();
  void buryLocked() { graveyard_.clear(); }
  void serviceEnd(Session& s, short revents);
  void endLocked(Session& s);
  void flushLocked(Session& s);
  std::unique_ptr<Answer> commandLocked(const std::vector<std::string>& args);
  std::string failCommandLocked(const std::vector<std::string>& args);
  std::unique_ptr<Answer> logAnswerLocked(const std::vector<std::string>& args);
  // With the lock held: the failure injected for an open of path or a
  // request word on a device, taken when it was for once; false if none.
  bool injectedOpenLocked(const std::string& path, int& err);
  bool injectedRequestLocked(const std::string& device, uint32_t word, int& err);
  void pushLogLocked(LogEntry&& e);
  void clearLogLocked();
  // Closes the board's end of a cut session (see Sessions.cpp).
  static void closeEnd(int fd);
  bool matches(const LogEntry& e, const std::vector<uint32_t>& words) const;
  static void* threadMain(void* arg);

  std::mutex mutex_;
  std::map<std::string, std::unique_ptr<Model>> models_;  // by path
  std::unordered_map<ino_t, std::unique_ptr<Session>> sessions_;
  std::vector<std::unique_ptr<Session>> graveyard_;  // ended, freed at a safe point
  std::set<ino_t> severed_;   // daemon ends whose session the board cut
  std::vector<int> toClose_;  // board ends, closed by the thread between polls
  unsigned nextSession_ = 1;

  std::deque<LogEntry> log_;
  uint64_t logFirst_ = 0;  // the number of log_.front() among all requests
  uint64_t dropped_ = 0;
  std::map<std::string, Failure> openFailures_;
  std::map<std::pair<std::string, uint32_t>, Failure> requestFailures_;

  int wake_ = -1;     // eventfd
  ControlSocket control_{*this};  // only served by the thread
  bool threadRunning_ = false;
  bool stop_ = false;
  pthread_t thread_{};
};

}  // namespace Board
