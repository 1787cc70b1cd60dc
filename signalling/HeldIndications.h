// Indications a link holds while it works on its own state and hands
// upwards once it is done, so that the layer above, which may send again or
// delete the link from inside a handler, never finds it half changed.
#ifndef QV_SIGNALLING_HELDINDICATIONS_H
#define QV_SIGNALLING_HELDINDICATIONS_H

#include <cstddef>
#include <utility>
#include <vector>

template <class T>
class HeldIndications {
 public:
  HeldIndications() = default;
  HeldIndications(const HeldIndications&) = delete;
  HeldIndications& operator=(const HeldIndications&) = delete;
  // The owner going away tells a flush in progress to touch nothing more.
  ~HeldIndications() {
    if (alive_) *alive_ = false;
  }

  void hold(T t) { pending_.push_back(std::move(t)); }

  // Hands every held indication to `deliver` in order, those held meanwhile
  // too. A flush from inside a handler returns at once: the outer one takes
  // what was added. False when a handler deleted the owner: nothing of it
  // may be touched then.
  template <class F>
  bool flush(F&& deliver) {
    if (flushing_) return true;
    bool alive = true;
    bool* outer = alive_;
    alive_ = &alive;
    flushing_ = true;
    for (size_t i = 0; i < pending_.size(); ++i) {
      T t = pending_[i];  // a handler may hold more and move the vector
      deliver(t);
      if (!alive) {
        if (outer) *outer = false;
        return false;
      }
    }
    pending_.clear();
    flushing_ = false;
    alive_ = outer;
    return true;
  }

 private:
  std::vector<T> pending_;
  bool flushing_ = false;
  bool* alive_ = nullptr;
};

#endif
