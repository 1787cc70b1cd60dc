// The common base of every ASN.1 value, the head of every type-information
// record and the constraint model shared by the constrained values.
//
// Records are plain aggregates that the generated tables fill field by field
// (brace elision lets a table list the words flat, head first). Every record
// kind starts with the head (create function, tag word), so any record can be
// read through `AbstractData::InfoType`; the constrained kinds continue with
// the constraint words, so strings and lists can be read through
// `ConstrainedObject::InfoType`. Each kind holds the shorter kind as its first
// member, which keeps the records standard-layout and the reads well defined.
#ifndef QV_ASN1_ABSTRACTDATA_H
#define QV_ASN1_ABSTRACTDATA_H

#include <cstddef>
#include <iosfwd>
#include <new>
#include <string>

namespace ASN1 {

class AbstractData;
class Visitor;
class ConstVisitor;

typedef AbstractData* (*CreateFun)(void const* info);

// How a size or value range is constrained.
enum ConstraintType {
  Unconstrained = 0,
  PartiallyConstrained = 1,  // lower bound only
  FixedConstraint = 2,       // lower and upper bound
  ExtendableConstraint = 3   // range with an extension marker
};

// The second template argument of every list type; the size constraint
// itself lives in the record.
struct EmptyConstraint {};

namespace detail {
// Empty allocation base; every value takes its memory from the node pool
// through AbstractData's own operator new.
template <class T>
class Allocator {};

// The node pool: a per-thread cache of heap blocks of up to 512 octets in
// sizes of 16, so building and dropping a decoded message costs no heap
// call once the cache is warm. A block may be released on any thread (it
// joins that thread's cache). Each size keeps at most `keep` blocks and
// hands any more back to the heap, and a thread's cache is emptied when the
// thread ends, so values passed between threads cost no memory for good.
// Builds with AddressSanitizer take every block from the heap, so that a
// use after free is still caught.
#if defined(__SANITIZE_ADDRESS__)
#define QV_ASN1_HEAP_NODES 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define QV_ASN1_HEAP_NODES 1
#endif
#endif

struct FreeBlock {
  FreeBlock* next;
};
// Trivially constructed, so a thread reaches its cache without a guard.
struct NodePool {
  static constexpr std::size_t grain = 16;
  static constexpr std::size_t classes = 32;
  static constexpr unsigned keep = 1024;
  FreeBlock* free[classes];
  // Blocks each list may still take: 0 until the thread's emptying at its
  // end is arranged, and again once the thread is ending.
  unsigned room[classes];
  bool open;
  bool closed;
};
extern __thread NodePool nodePool;

// The paths that leave the cache: a new block, one the cache does not take.
void* allocateFresh(std::size_t size);
void releaseSlow(void* block, std::size_t size) noexcept;

inline void* allocateNode(std::size_t size) {
#ifdef QV_ASN1_HEAP_NODES
  return ::operator new(size);
#else
  std::size_t c = (size - 1) / NodePool::grain;  // size 0 wraps to the slow path
  if (c < NodePool::classes) {
    if (FreeBlock* b = nodePool.free[c]) {
      nodePool.free[c] = b->next;
      ++nodePool.room[c];
      return b;
    }
  }
  return allocateFresh(size);
#endif
}

inline void releaseNode(void* block, std::size_t size) noexcept {
#ifdef QV_ASN1_HEAP_NODES
  (void)size;
  ::operator delete(block);
#else
  std::size_t c = size == 0 ? 0 : (size - 1) / NodePool::grain;
  if (block == nullptr || c >= NodePool::classes || nodePool.room[c] == 0) {
    releaseSlow(block, size);
    return;
  }
  FreeBlock* b = static_cast<FreeBlock*>(block);
  b->next = nodePool.free[c];
  nodePool.free[c] = b;
  --nodePool.room[c];
#endif
}

// A standard allocator over the node pool, for the containers inside values.
template <class T>
struct NodeAllocator {
  typedef T value_type;
  NodeAllocator() noexcept {}
  template <class U>
  NodeAllocator(NodeAllocator<U> const&) noexcept {}
  T* allocate(std::size_t n) { return static_cast<T*>(allocateNode(n * sizeof(T))); }
  void deallocate(T* p, std::size_t n) noexcept { releaseNode(p, n * sizeof(T)); }
  template <class U>
  bool operator==(NodeAllocator<U> const&) const noexcept { return true; }
  template <class U>
  bool operator!=(NodeAllocator<U> const&) const noexcept { return false; }
};
}  // namespace detail

// Tag word: class bits of a BER identifier octet shifted left by 16, or-ed
// with the tag number; 0 for a type without a tag of its own.
enum TagClass : unsigned {
  UniversalTagClass = 0x00,
  ApplicationTagClass = 0x40,
  ContextTagClass = 0x80,
  PrivateTagClass = 0xC0
};
constexpr unsigned makeTag(unsigned tagClass, unsigned number) { return (tagClass << 16) | number; }
constexpr unsigned contextTag(unsigned number) { return makeTag(ContextTagClass, number); }

// A create function that makes an object of the value class T bound to the
// record it is given. Generated records name `&ASN1::create_value<Type>` so
// that every value made from a record is an object of its own class.
template <class T>
AbstractData* create_value(void const* info) {
  return new T(info);
}

class AbstractData {
 public:
  struct InfoType {
    CreateFun create;
    unsigned tag;
  };

  explicit AbstractData(void const* info) : info_(info) {}
  AbstractData(AbstractData const& other) : info_(other.info_) {}
  virtual ~AbstractData() {}

  // Every value lives in the node pool; a deleting destructor hands back
  // the size of the value's own class.
  static void* operator new(std::size_t size) { return detail::allocateNode(size); }
  static void operator delete(void* block, std::size_t size) noexcept { detail::releaseNode(block, size); }
  static void* operator new(std::size_t, void* where) noexcept { return where; }
  static void operator delete(void*, void*) noexcept {}

  // A new default value of the record's type, owned by the caller; null for
  // a null record or a record without a create function.
  static AbstractData* create(void const* info) {
    if (info == nullptr) return nullptr;
    CreateFun f = static_cast<InfoType const*>(info)->create;
    return f != nullptr ? f(info) : nullptr;
  }

  AbstractData* clone() const { return do_clone(); }
  // `other` must be of the same type (same class and record).
  int compare(AbstractData const& other) const { return do_compare(other); }
  bool operator==(AbstractData const& other) const { return compare(other) == 0; }
  bool operator!=(AbstractData const& other) const { return compare(other) != 0; }

  bool accept(Visitor& v) { return do_accept(v); }
  bool accept(ConstVisitor& v) const { return do_accept(v); }

  int getTag() const { return static_cast<int>(head()->tag); }
  void const* info() const { return info_; }

  // Value notation: 0 on success, std::ios_base::failbit when the value
  // cannot be printed; the stream's state is left to the caller.
  int print_on(std::ostream& os) const;
  std::string asValueNotation() const;
  // Reads value notation (the printer's form) into this value: true, or 0,
  // when the whole value was read; on failure the value may be partly
  // assigned. get_from leaves the stream's state to the caller.
  bool setFromValueNotation(std::string const& text);
  int get_from(std::istream& is);

  // Whether the value and everything below it meet the type's constraints:
  // extensible bounds may be exceeded (isValid) or not (isStrictlyValid).
  bool isValid() const;
  bool isStrictlyValid() const;

 protected:
  // Assignment between values of one type copies the value only.
  AbstractData& operator=(AbstractData const&) { return *this; }

  InfoType const* head() const { return static_cast<InfoType const*>(info_); }

  virtual int do_compare(AbstractData const& other) const = 0;
  virtual AbstractData* do_clone() const = 0;
  virtual bool do_accept(Visitor& v) = 0;
  virtual bool do_accept(ConstVisitor& v) const = 0;

  friend class Visitor;
  friend class ConstVisitor;

 private:
  void const* info_;
};

class ConstrainedObject : public AbstractData {
 public:
  struct InfoType {
    AbstractData::InfoType head;
    ConstraintType type;
    int lowerLimit;
    unsigned upperLimit;
  };

  explicit ConstrainedObject(void const* info) : AbstractData(info) {}
  ConstrainedObject(ConstrainedObject const& other) = default;

  InfoType const* info() const { return static_cast<InfoType const*>(AbstractData::info()); }
  ConstraintType getConstraintType() const { return info()->type; }
  int getLowerLimit() const { return info()->lowerLimit; }
  unsigned getUpperLimit() const { return info()->upperLimit; }
  bool constrained() const { return info()->type != Unconstrained; }
  bool extendable() const { return info()->type == ExtendableConstraint; }

 protected:
  ConstrainedObject& operator=(ConstrainedObject const&) = default;
};

// Compares two byte ranges as unsigned octets: the difference of the first
// differing pair; -1 / 1 when only the first / second range has ended.
int lexicographic_compare_bytes(char const* b1, char const* e1, char const* b2, char const* e2);

// Bits that hold the values 0..n-1: 0 for n = 1, 32 for n = 0 or n > 2^31.
unsigned CountBits(unsigned n);

}  // namespace ASN1

#endif
