#include "log/Profile.h"

#include "runtime/Clock.h"

namespace Profile {

Point* mRoot = nullptr;

Point::Point(const char* name) : next_(mRoot), name_(name) { mRoot = this; }

Point::~Point() {
  for (Point** link = &mRoot; *link; link = &(*link)->next_) {
    if (*link == this) {
      *link = next_;
      return;
    }
  }
}

void Point::begin() { start_ = Mux::microseconds(); }

void Point::end() {
  // Unsigned difference: right across the counter's wrap.
  const unsigned int elapsed = Mux::microseconds() - start_;
  if (first_) {
    first_ = false;
    min_ = max_ = cur_ = elapsed;
    counter_ = 1;
    return;
  }
  ++counter_;
  if (elapsed < min_) min_ = elapsed;
  if (elapsed > max_) max_ = elapsed;
  cur_ = elapsed;
}

void Point::put(std::ostream& os) const {
  os << "[" << name_ << "]: "
     << "min=" << min_ << " max=" << max_ << " avg=" << cur_ << " counter=" << counter_;
}

std::ostream& operator<<(std::ostream& os, const Point& p) {
  p.put(os);
  return os;
}

void dump(std::ostream& os) {
  for (const Point* p = mRoot; p; p = p->next()) os << *p << '\n';
}

}  // namespace Profile
