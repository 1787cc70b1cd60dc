#include "runtime/Measure.h"

#include "runtime/Clock.h"

#include <ostream>

void Measure::begin() { start_ = Mux::microseconds(); }

void Measure::end() {
  unsigned int d = Mux::microseconds() - start_;
  if (first_) {
    first_ = false;
    min_ = max_ = cur_ = d;
    counter_ = 1;
    return;
  }
  ++counter_;
  if (d < min_) min_ = d;
  if (d > max_) max_ = d;
  cur_ = d;
}

void Measure::put(std::ostream& os) const {
  os << "min=" << min_ << " max=" << max_ << " avg=" << cur_ << " counter=" << counter_;
}

std::ostream& operator<<(std::ostream& os, const Measure& m) {
  m.put(os);
  return os;
}
