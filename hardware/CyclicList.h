#pragma once
// An intrusive, circular, doubly linked list: the receivers of the tone and
// voice-processing services derive from the node and are kept in a head of
// the same type. A node or head in no list points to itself both ways; a
// node unlinks itself when destroyed, so the list stays whole for the rest.
namespace Containers {

class CyclicList {
 public:
  template <class Ref, class Ptr>
  class TIterator {
   public:
    TIterator() : node_(nullptr) {}
    explicit TIterator(Ptr node) : node_(node) {}
    TIterator& operator++() {
      node_ = node_->next;
      return *this;
    }
    TIterator operator++(int) {
      TIterator old = *this;
      node_ = node_->next;
      return old;
    }
    Ref operator*() const { return *node_; }
    Ptr operator->() const { return node_; }
    bool operator==(const TIterator& other) const { return node_ == other.node_; }
    bool operator!=(const TIterator& other) const { return node_ != other.node_; }

   private:
    Ptr node_;
  };
  using Iterator = TIterator<CyclicList&, CyclicList*>;

  CyclicList() { InternalInit(); }
  // Leaves the node's own links as they are: it is gone.
  ~CyclicList() { InternalDel(prev, next); }
  CyclicList(const CyclicList&) = delete;
  CyclicList& operator=(const CyclicList&) = delete;

  // On a head: takes the node out of whatever list holds it and appends it.
  void AddToTail(CyclicList* node) {
    if (!node || node == this) return;
    InternalDel(node->prev, node->next);
    InternalAddToTail(node);
  }

  Iterator begin() { return Iterator(next); }
  Iterator end() { return Iterator(this); }

  CyclicList* next;
  CyclicList* prev;

 protected:
  void InternalInit() { next = prev = this; }
  static void InternalAdd(CyclicList* node, CyclicList* before, CyclicList* after) {
    after->prev = node;
    node->next = after;
    node->prev = before;
    before->next = node;
  }
  static void InternalDel(CyclicList* before, CyclicList* after) {
    after->prev = before;
    before->next = after;
  }
  void InternalAddToTail(CyclicList* node) { InternalAdd(node, prev, this); }
};

}  // namespace Containers
