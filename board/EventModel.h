#pragma once
// What the stand-in's DSP devices ("/dev/dtmf", "/dev/dsp") share: their
// drivers speak host-order records, keep per time-slot state set by
// requests, and send fixed-size event records to every open file, which a
// test injects here.
#include <cstdint>
#include <cstring>
#include <set>
#include <string>

#include "board/Model.h"

namespace Board {

template <class T>
inline T hostField(const uint8_t* at) {
  T v;
  std::memcpy(&v, at, sizeof v);
  return v;
}

template <class T>
inline void putHostField(std::string& rec, size_t at, T v) {
  if (rec.size() < at + sizeof v) rec.resize(at + sizeof v);
  std::memcpy(&rec[at], &v, sizeof v);
}

// The loop's clock (what the daemon's timers run on) in microseconds, so
// that a test on the test clock reads exact intervals.
uint64_t loopClockUsec();

class EventModel : public Model {
 public:
  using Model::Model;

  int open(Session& s) override;
  void closed(Session& s) override;

  // Hands bytes as one record to every open file of the device; how many
  // files got it. Takes the board's lock.
  size_t injectRaw(const std::string& record);
  // Fails every open file as a dying driver would: the daemon reads an
  // error. Takes the board's lock.
  void sever();

 protected:
  size_t broadcastLocked(const std::string& record);
  // "raw HEX": the shared control command; true when it was one.
  bool rawCommand(const std::vector<std::string>& args, std::ostream& out);

 private:
  std::set<Session*> sessions_;
};

}  // namespace Board
