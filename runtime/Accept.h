#pragma once
// accept() on a listener whose process may be out of descriptors.
//
// A failing accept with EMFILE or ENFILE leaves the connection queued and
// the listener readable, so a loop that watches the listener would call
// it again at once, for ever. A spare descriptor is kept for that moment:
// given up, it lets the waiting connection be taken and closed at once (the
// peer sees its connection end instead of hanging), and is then taken back.
// When even that fails, or memory is short, the caller stops watching the
// listener for kPauseMs. Each run of exhaustion is reported once when it
// begins and once when it ends.
#include <sys/socket.h>

#include <cstddef>

class SpareAccept {
public:
  // How long a listener is left alone when no connection could be taken.
  static constexpr unsigned kPauseMs = 1000;

  enum class Outcome {
    Accepted,   // the descriptor is returned
    Empty,      // nothing is waiting (also during a shortage)
    Dropped,    // out of descriptors: one waiting connection was closed
    Exhausted,  // out of descriptors or memory, nothing taken: pause
    Failed,     // this connection failed (errno); others may follow
  };

  SpareAccept();
  ~SpareAccept();
  SpareAccept(const SpareAccept&) = delete;
  SpareAccept& operator=(const SpareAccept&) = delete;

  // accept4(listener, addr, len, flags); the new descriptor, or -1 with
  // the outcome that says why.
  int accept(int listener, sockaddr* addr, socklen_t* len, int flags, Outcome& outcome);

  // After accept(): whether this call began a run of exhaustion, or ended
  // one (and how many connections were dropped in it).
  bool began() const { return began_; }
  bool ended() const { return ended_; }
  size_t dropped() const { return reported_dropped_; }
  bool exhausted() const { return exhausted_; }

private:
  void takeSpare();
  void endRun();

  int spare_ = -1;
  bool exhausted_ = false;
  bool began_ = false;
  bool ended_ = false;
  size_t dropped_ = 0;
  size_t reported_dropped_ = 0;
};
