#include "asn1/AbstractData.h"

#include <ios>
#include <sstream>

#include "asn1/AVNEncoder.h"

namespace ASN1 {

namespace detail {

#ifdef QV_ASN1_HEAP_NODES

void* allocateFresh(std::size_t size) { return ::operator new(size); }
void releaseLarge(void* block) noexcept { ::operator delete(block); }

#else

__thread NodePool nodePool;

namespace {
const std::size_t kChunk = 32 * 1024;
}

void* allocateFresh(std::size_t size) {
  const std::size_t grain = NodePool::grain;
  if (size == 0) size = 1;
  if (size > grain * NodePool::classes) return ::operator new(size);
  std::size_t c = (size - 1) / grain;
  NodePool& p = nodePool;
  if (FreeBlock* b = p.free[c]) {
    p.free[c] = b->next;
    return b;
  }
  std::size_t rounded = (c + 1) * grain;
  if (static_cast<std::size_t>(p.limit - p.cursor) < rounded) {
    // The tail of the old chunk is given to the list it fits.
    std::size_t tail = static_cast<std::size_t>(p.limit - p.cursor);
    if (tail >= grain) {
      std::size_t t = tail / grain - 1;
      FreeBlock* b = reinterpret_cast<FreeBlock*>(p.cursor);
      b->next = p.free[t];
      p.free[t] = b;
    }
    p.cursor = static_cast<char*>(::operator new(kChunk));
    p.limit = p.cursor + kChunk;
  }
  void* block = p.cursor;
  p.cursor += rounded;
  return block;
}

void releaseLarge(void* block) noexcept { ::operator delete(block); }

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
