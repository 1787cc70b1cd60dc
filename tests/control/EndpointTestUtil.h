#pragma once
// Helpers of the outgoing-link tests: the log streams captured line by
// line with the loop's time of each line, a listener that records what it
// hears, and a driver of the loop on a manual test clock.
#include "control/Service.h"
#include "runtime/Clock.h"
#include "runtime/Multiplexer.h"
#include "ControlTestUtil.h"

#include <unistd.h>

#include <functional>
#include <iostream>
#include <streambuf>
#include <string>
#include <vector>

namespace ctl_test {

// cout, cerr and clog into one list of lines, each stamped with the loop's
// clock (Mux::milliseconds) when its end arrived.
class StampedLog {
public:
  struct Line {
    char stream;  // 'o' cout, 'e' cerr, 'l' clog
    unsigned ms;
    std::string text;
  };

  StampedLog() : out_(this, 'o'), err_(this, 'e'), log_(this, 'l') {
    oldOut_ = std::cout.rdbuf(&out_);
    oldErr_ = std::cerr.rdbuf(&err_);
    oldLog_ = std::clog.rdbuf(&log_);
  }
  ~StampedLog() {
    std::cout.rdbuf(oldOut_);
    std::cerr.rdbuf(oldErr_);
    std::clog.rdbuf(oldLog_);
  }

  const std::vector<Line>& lines() const { return lines_; }
  // Lines that begin with prefix.
  std::vector<Line> starting(const std::string& prefix) const {
    std::vector<Line> r;
    for (const Line& l : lines_)
      if (l.text.compare(0, prefix.size(), prefix) == 0) r.push_back(l);
    return r;
  }
  size_t count(const std::string& prefix) const { return starting(prefix).size(); }
  // The loop times of the lines that begin with prefix, relative to base.
  std::vector<unsigned> times(const std::string& prefix, unsigned base) const {
    std::vector<unsigned> r;
    for (const Line& l : starting(prefix)) r.push_back(l.ms - base);
    return r;
  }
  std::string all() const {
    std::string s;
    for (const Line& l : lines_) s += std::string(1, l.stream) + " " + std::to_string(l.ms) + " " + l.text + "\n";
    return s;
  }
  void clear() { lines_.clear(); }

private:
  class Buf : public std::streambuf {
  public:
    Buf(StampedLog* owner, char stream) : owner_(owner), stream_(stream) {}

  protected:
    int overflow(int c) override {
      if (c == traits_type::eof()) return 0;
      if (c == '\n') {
        owner_->lines_.push_back(Line{stream_, Mux::milliseconds(), pending_});
        pending_.clear();
      } else {
        pending_ += static_cast<char>(c);
      }
      return c;
    }

  private:
    StampedLog* owner_;
    char stream_;
    std::string pending_;
  };

  std::vector<Line> lines_;
  Buf out_, err_, log_;
  std::streambuf* oldOut_;
  std::streambuf* oldErr_;
  std::streambuf* oldLog_;
};

struct LinkRecorder : Control::Notify {
  void OnConnect() override {
    events.push_back("connect");
    times.push_back(Mux::milliseconds());
  }
  void OnDisconnect() override {
    events.push_back(std::string("disconnect:") + Control::GetTextNotation(endpoint->GetState()));
    times.push_back(Mux::milliseconds());
  }
  void OnMessage(const char* data, int length) override { messages.push_back(Bytes(data, data + length)); }
  Control::Service* endpoint = nullptr;
  std::vector<std::string> events;
  std::vector<unsigned> times;
  std::vector<Bytes> messages;
};

// Runs passes of the loop (on a manual clock they never wait) until pred
// holds, giving the kernel a moment between passes; false after about two
// seconds of real time. Something must be armed or attached meanwhile.
inline bool settle(const std::function<bool()>& pred) {
  for (int i = 0; i < 4000; ++i) {
    if (pred()) return true;
    multiplexer.run_once();
    ::usleep(500);
  }
  return pred();
}

}  // namespace ctl_test
