#pragma once
// Intrusive doubly linked lists: the element carries its own links, so
// putting an object into a list or taking it out never allocates. The loop
// moves its handlers and timers between lists on every pass, and the packet
// pool keeps its free buffers this way.
//
// An element type T derives from F_dual_list_item<T>; one object can be in
// at most one list of that type at a time. The list owns nothing and checks
// nothing: removing an element that is not in the list is a caller error.
#include <cstddef>
#include <iterator>

template <class T>
class F_dual_list;

template <class T>
class F_dual_list_item {
public:
  constexpr F_dual_list_item() : next(nullptr), prev(nullptr) {}
  // Copying an element does not copy its membership.
  F_dual_list_item(const F_dual_list_item&) : next(nullptr), prev(nullptr) {}
  F_dual_list_item& operator=(const F_dual_list_item&) { return *this; }

  T* get_next() const { return next; }
  T* get_prev() const { return prev; }

private:
  friend class F_dual_list<T>;
  T* next;
  T* prev;
};

template <class T>
class F_dual_list {
public:
  class iterator {
  public:
    using iterator_category = std::forward_iterator_tag;
    using value_type = T*;
    using difference_type = int;
    using pointer = T**;
    using reference = T*;

    iterator() : cur(nullptr) {}
    explicit iterator(T* e) : cur(e) {}

    iterator& operator++() {
      cur = item(cur)->next;
      return *this;
    }
    iterator operator++(int) {
      iterator old(*this);
      ++*this;
      return old;
    }
    T* operator*() const { return cur; }
    T* operator->() const { return cur; }
    bool operator!=(const iterator& o) const { return cur != o.cur; }
    bool operator==(const iterator& o) const { return cur == o.cur; }
    bool good() const { return cur != nullptr; }
    bool operator!() const { return cur == nullptr; }

  private:
    T* cur;
  };

  constexpr F_dual_list() : head(nullptr), tail(nullptr), count_(0) {}
  F_dual_list(T* array, unsigned n) : head(nullptr), tail(nullptr), count_(0) { init(array, n); }
  F_dual_list(const F_dual_list&) = delete;
  F_dual_list& operator=(const F_dual_list&) = delete;

  // Links the n consecutive objects of array in array order.
  void init(T* array, unsigned n) {
    head = tail = nullptr;
    count_ = 0;
    for (unsigned i = 0; i < n; ++i) insert_to_tail(&array[i]);
  }

  T* insert_to_head(T* e) {
    item(e)->prev = nullptr;
    item(e)->next = head;
    if (head) item(head)->prev = e;
    head = e;
    if (!tail) tail = e;
    ++count_;
    return e;
  }

  T* insert_to_tail(T* e) {
    item(e)->next = nullptr;
    item(e)->prev = tail;
    if (tail) item(tail)->next = e;
    tail = e;
    if (!head) head = e;
    ++count_;
    return e;
  }
  T* push_back(T* e) { return insert_to_tail(e); }

  T* insert_after(T* pos, T* e) {
    item(e)->next = item(pos)->next;
    item(e)->prev = pos;
    if (item(pos)->next)
      item(item(pos)->next)->prev = e;
    else
      tail = e;
    item(pos)->next = e;
    ++count_;
    return e;
  }

  T* remove(T* e) {
    if (item(e)->prev)
      item(item(e)->prev)->next = item(e)->next;
    else
      head = item(e)->next;
    if (item(e)->next)
      item(item(e)->next)->prev = item(e)->prev;
    else
      tail = item(e)->prev;
    --count_;
    return e;
  }

  T* remove_from_head() {
    T* e = head;
    if (!e) return nullptr;
    head = item(e)->next;
    if (head)
      item(head)->prev = nullptr;
    else
      tail = nullptr;
    --count_;
    return e;
  }

  T* remove_from_tail() {
    T* e = tail;
    if (!e) return nullptr;
    tail = item(e)->prev;
    if (tail)
      item(tail)->next = nullptr;
    else
      head = nullptr;
    --count_;
    return e;
  }

  iterator begin() const { return iterator(head); }
  iterator end() const { return iterator(); }
  iterator last() const { return iterator(tail); }
  T* first_item() const { return head; }
  T* last_item() const { return tail; }
  unsigned count() const { return count_; }
  unsigned size() const { return count_; }
  bool empty() const { return count_ == 0; }

  // An exchange of the whole contents, not a concatenation: called on an
  // empty list it moves the other's contents in constant time.
  void merge(F_dual_list& other) {
    T* h = head;
    T* t = tail;
    unsigned c = count_;
    head = other.head;
    tail = other.tail;
    count_ = other.count_;
    other.head = h;
    other.tail = t;
    other.count_ = c;
  }

  // Linear membership test, for callers that are not sure.
  bool contains(const T* e) const {
    for (T* c = head; c; c = item(c)->next)
      if (c == e) return true;
    return false;
  }

protected:
  static F_dual_list_item<T>* item(T* e) { return static_cast<F_dual_list_item<T>*>(e); }

  T* head;
  T* tail;
  unsigned count_;
};

// Ordered by T::compare(const T*) (negative: sorts before), ascending; an
// element goes after every element that compares equal to it, so equal
// keys keep their insertion order.
template <class T>
class F_sorted_list : public F_dual_list<T> {
public:
  T* insert_to_tail_by_grown(T* e) {
    T* c = this->tail;
    while (c && c->compare(e) > 0) c = F_dual_list<T>::item(c)->get_prev();
    if (c) return this->insert_after(c, e);
    return this->insert_to_head(e);
  }
};
