#include "asn1/AbstractData.h"

#include <ios>
#include <sstream>

#include "asn1/AVNEncoder.h"

namespace ASN1 {

namespace detail {

#ifdef QV_ASN1_HEAP_NODES

void* allocateFresh(std::size_t size) { return ::operator new(size); }
void releaseSlow(void* block, std::size_t) noexcept { ::operator delete(block); }

#else

__thread NodePool nodePool;

namespace {

// Empties the cache of a thread that ends.
struct PoolCloser {
  ~PoolCloser() {
    NodePool& p = nodePool;
    p.open = false;
    p.closed = true;
    for (std::size_t c = 0; c < NodePool::classes; ++c) {
      while (FreeBlock* b = p.free[c]) {
        p.free[c] = b->next;
        ::operator delete(b);
      }
      p.room[c] = 0;
    }
  }
};

// The first time a thread caches a block, its emptying is arranged.
void openPool() {
  NodePool& p = nodePool;
  if (p.open || p.closed) return;
  static thread_local PoolCloser closer;
  (void)closer;
  p.open = true;
  for (std::size_t c = 0; c < NodePool::classes; ++c) p.room[c] = NodePool::keep;
}

}  // namespace

void* allocateFresh(std::size_t size) {
  const std::size_t grain = NodePool::grain;
  if (size == 0) size = 1;
  if (size > grain * NodePool::classes) return ::operator new(size);
  openPool();
  // Rounded up to its size class, so that any later request of the class
  // can take the block from the cache.
  return ::operator new(((size - 1) / grain + 1) * grain);
}

void releaseSlow(void* block, std::size_t size) noexcept {
  if (block == nullptr) return;
  std::size_t c = size == 0 ? 0 : (size - 1) / NodePool::grain;
  NodePool& p = nodePool;
  if (c < NodePool::classes && !p.open) openPool();
  if (c >= NodePool::classes || p.room[c] == 0) {
    ::operator delete(block);
    return;
  }
  releaseNode(block, size);  // the list has room now
}

#endif

}  // namespace detail

int AbstractData::print_on(std::ostream& os) const {
  AVNEncoder encoder(os);
  return accept(encoder) ? 0 : static_cast<int>(std::ios_base::failbit);
}

std::string AbstractData::asValueNotation() const {
  std::ostringstream os;
  print_on(os);
  return os.str();
}

int lexicographic_compare_bytes(char const* b1, char const* e1, char const* b2, char const* e2) {
  for (; b1 != e1 && b2 != e2; ++b1, ++b2) {
    if (*b1 != *b2) return static_cast<int>(static_cast<unsigned char>(*b1)) - static_cast<unsigned char>(*b2);
  }
  if (b1 == e1) return b2 == e2 ? 0 : -1;
  return 1;
}

unsigned CountBits(unsigned n) {
  if (n == 0) return 32;
  for (unsigned b = 0; b < 32; ++b) {
    if ((1ull << b) >= n) return b;
  }
  return 32;
}

}  // namespace ASN1
