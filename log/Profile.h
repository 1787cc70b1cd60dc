#pragma once
// Named run-time statistics in microseconds (minimum, maximum, latest
// sample, count), kept in one list and printed in the status dump. The
// points are static objects of the code they measure:
//
//   static Profile::Point point("Tpkt_protocol::message");
//   point.begin(); ... point.end();
#include <ostream>

#include "runtime/Measure.h"

namespace Profile {

class Point {
public:
  // The name is not copied: it must outlive the point.
  explicit Point(const char* name);
  ~Point();
  Point(const Point&) = delete;
  Point& operator=(const Point&) = delete;

  void begin() { measure_.begin(); }
  void end() { measure_.end(); }
  // "[name]: min=.. max=.. avg=.. counter=.." without a line end; "avg" is
  // the latest sample.
  void put(std::ostream& os) const;

  const char* name() const { return name_; }
  unsigned int minimum() const { return measure_.minimum(); }
  unsigned int maximum() const { return measure_.maximum(); }
  unsigned int current() const { return measure_.current(); }
  unsigned int counter() const { return measure_.counter(); }
  Point* next() const { return next_; }

private:
  Point* next_;
  const char* name_;
  Measure measure_;
};

// The most recently constructed point; the list runs to older ones.
extern Point* mRoot;

std::ostream& operator<<(std::ostream& os, const Point& p);

// Every point, newest first, one line each.
void dump(std::ostream& os);

}  // namespace Profile
