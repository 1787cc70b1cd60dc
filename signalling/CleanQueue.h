#pragma once
// A fixed ring of N handles (packets) that never allocates: put at the
// tail, append in front of the head, take from either end. A slot that is
// taken is reset at once, so the queue keeps no buffer alive that it handed
// out.
template <class T, unsigned N>
class CleanQueue {
 public:
  CleanQueue() = default;
  CleanQueue(const CleanQueue&) = delete;
  CleanQueue& operator=(const CleanQueue&) = delete;

  bool put(const T& v) {
    if (count_ >= N) return false;
    slots_[tail_] = v;
    tail_ = next(tail_);
    ++count_;
    return true;
  }
  // The new entry is the next one taken.
  bool append(const T& v) {
    if (count_ >= N) return false;
    head_ = prev(head_);
    slots_[head_] = v;
    ++count_;
    return true;
  }
  bool get(T* out) {
    if (count_ == 0) return false;
    if (out) *out = slots_[head_];
    slots_[head_] = T();
    head_ = next(head_);
    --count_;
    return true;
  }
  bool get(T& out) { return get(&out); }
  // Takes the newest entry.
  bool get_last(T* out) {
    if (count_ == 0) return false;
    tail_ = prev(tail_);
    if (out) *out = slots_[tail_];
    slots_[tail_] = T();
    --count_;
    return true;
  }
  // Copies the oldest entry when given somewhere to put it.
  bool preview(T* out) const {
    if (count_ == 0) return false;
    if (out) *out = slots_[head_];
    return true;
  }
  // Forgets every entry; a handle left in a slot goes when the slot is
  // next written or the queue dies.
  void clear() { head_ = tail_ = count_ = 0; }
  unsigned count() const { return count_; }
  unsigned size() const { return N; }
  bool empty() const { return count_ == 0; }

 private:
  static unsigned next(unsigned i) { return i >= N - 1 ? 0 : i + 1; }
  static unsigned prev(unsigned i) { return i == 0 ? N - 1 : i - 1; }

  T slots_[N];
  unsigned head_ = 0;
  unsigned tail_ = 0;
  unsigned count_ = 0;
};
