#pragma once
// A sequence number modulo M + 1 (M = 127: the numbers of Q.921 and Q.703),
// with the window test both links need: (a <= b) <= c is true when b lies
// in the window from a to c, counted forward from a with wrap.
template <class T, T M>
class Cyclic {
 public:
  Cyclic() = default;
  Cyclic(T v) : v_(v & M) {}  // NOLINT: numbers from the wire convert freely

  operator T() const { return v_; }
  Cyclic operator+(const Cyclic& o) const { return Cyclic(T(v_ + o.v_)); }
  Cyclic operator-(const Cyclic& o) const { return Cyclic(T(v_ - o.v_)); }
  Cyclic& operator++() {
    v_ = v_ >= M ? 0 : v_ + 1;
    return *this;
  }
  Cyclic operator++(int) {
    Cyclic old = *this;
    ++*this;
    return old;
  }
  Cyclic& operator--() {
    v_ = v_ == 0 ? M : v_ - 1;
    return *this;
  }

  // The left half of a window test: (low <= high) <= x.
  struct LessEqPair {
    Cyclic low, high;
    // x lies at or beyond the far end of the window low..high, that is high
    // lies within low..x.
    bool operator<=(const Cyclic& x) const { return T((x - low).v_) >= T((high - low).v_); }
  };
  LessEqPair operator<=(const Cyclic& high) const { return LessEqPair{*this, high}; }

 private:
  T v_ = 0;
};

// Whether b lies in the window a..c (both ends included), modulo 128.
inline bool inWindow(Cyclic<unsigned, 127> a, Cyclic<unsigned, 127> b, Cyclic<unsigned, 127> c) {
  return (a <= b) <= c;
}
