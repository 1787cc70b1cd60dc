#pragma once
// Entry and exit lines around a scope, for ad-hoc tracing:
//
//   Trace::Block trace(traces.enabled, "Slot::Configure", std::clog);
#include <ostream>

namespace Trace {

class Block {
public:
  Block(bool enabled, const char* name, std::ostream& stream) : enabled_(enabled), name_(name), stream_(stream) {
    if (enabled_) stream_ << "Enter " << name_ << std::endl;
  }
  ~Block() {
    if (enabled_) stream_ << "Leave " << name_ << std::endl;
  }
  Block(const Block&) = delete;
  Block& operator=(const Block&) = delete;

private:
  bool enabled_;
  const char* name_;
  std::ostream& stream_;
};

}  // namespace Trace
