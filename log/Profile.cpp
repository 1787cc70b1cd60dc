#include "log/Profile.h"

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

void Point::put(std::ostream& os) const {
  os << "[" << name_ << "]: " << measure_;
}

std::ostream& operator<<(std::ostream& os, const Point& p) {
  p.put(os);
  return os;
}

void dump(std::ostream& os) {
  for (const Point* p = mRoot; p; p = p->next()) os << *p << '\n';
}

}  // namespace Profile
