#pragma once
// The timing statistic of the loop and of the profiling points.
#include <iosfwd>

// A timing statistic in microseconds. "avg" in its printed form is the most
// recent sample, not an average.
class Measure {
public:
  void begin();
  void end();
  void put(std::ostream& os) const;

  unsigned int minimum() const { return min_; }
  unsigned int maximum() const { return max_; }
  unsigned int current() const { return cur_; }
  unsigned int counter() const { return counter_; }

private:
  unsigned int min_ = 0;
  unsigned int max_ = 0;
  unsigned int cur_ = 0;
  bool first_ = true;
  unsigned int start_ = 0;
  unsigned int counter_ = 0;
};

std::ostream& operator<<(std::ostream& os, const Measure& m);
