#pragma once
// Intrusive reference-counting pointer: the count lives in the object, as
// the public member `ref_count` (unsigned int, 0 when nobody holds it).
// The last holder destroys the object with delete (a class-level operator
// delete decides where the memory goes).
//
// The non-const operator-> is the copy-on-write point for copyable types:
// a shared object is cloned first, so the handle that changes it holds a
// private copy. Types that cannot be copied (abstract status objects) are
// handed out unchanged.
#include <type_traits>

// Dereferencing a null handle: a diagnostic line, then the terminate handler.
[[noreturn]] void SmartPtrAssertion();
[[noreturn]] void SharedPtrAssertion();

template <class T>
class Smart_pointer {
public:
  Smart_pointer() : p_(nullptr) {}
  Smart_pointer(T* p) : p_(p) { add_ref(); }
  Smart_pointer(const Smart_pointer& o) : p_(o.p_) { add_ref(); }
  template <class U, class = std::enable_if_t<std::is_convertible<U*, T*>::value>>
  Smart_pointer(const Smart_pointer<U>& o) : p_(o.get()) {
    add_ref();
  }
  ~Smart_pointer() { remove_current(); }

  Smart_pointer& operator=(const Smart_pointer& o) {
    if (o.p_ == p_) return *this;
    T* keep = o.p_;
    remove_current();
    p_ = keep;
    add_ref();
    return *this;
  }
  Smart_pointer& operator=(T* p) {
    if (p == p_) return *this;
    remove_current();
    p_ = p;
    add_ref();
    return *this;
  }

  void clean() { remove_current(); }
  bool null() const { return p_ == nullptr; }
  bool operator!() const { return null(); }
  explicit operator bool() const { return !null(); }

  const T* operator->() const {
    if (!p_) SmartPtrAssertion();
    return p_;
  }
  T* operator->() {
    if (!p_) SmartPtrAssertion();
    prepare_for_modify();
    return p_;
  }
  const T& operator*() const { return *operator->(); }

  T* get() const { return p_; }
  unsigned int use_count() const { return p_ ? p_->ref_count : 0; }

  void prepare_for_modify() {
    if constexpr (std::is_copy_constructible<T>::value && !std::is_abstract<T>::value) {
      if (p_ && p_->ref_count > 1) {
        T* copy = new T(*p_);
        --p_->ref_count;
        p_ = copy;
        p_->ref_count = 1;
      }
    }
  }

protected:
  // Gives up the current object; the handle becomes null.
  void remove_current() {
    if (!p_) return;
    if (p_->ref_count > 0) --p_->ref_count;
    if (p_->ref_count == 0) delete p_;
    p_ = nullptr;
  }

private:
  void add_ref() {
    if (p_) ++p_->ref_count;
  }

  T* p_;
};
