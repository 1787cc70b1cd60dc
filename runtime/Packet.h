#pragma once
// The buffer every protocol layer builds, passes and parses frames in: a
// handle with shared, copy-on-write ownership of a 65536-byte buffer from a
// pool of 1024. The data window has head room in front (where lower layers
// push their headers) and tail room behind (where payload is put).
//
// Every contract breach (null handle, no room, index out of range, a window
// outside its buffer) is fatal: a diagnostic block on the standard log
// stream, then the standard terminate handler. Only the fixed-width reads
// are lenient: bytes past the end of the data read as 0.
#include "runtime/List.h"
#include "runtime/SmartPointer.h"

#include <cstddef>
#include <iosfwd>
#include <string>
#include <vector>

const unsigned int packet_max_size = 65536;

struct Dummy_critical_section {
  void lock() {}
  void unlock() {}
};

// A fixed pool of N objects of T handed out first in, first out. The slots
// live in static storage that is touched only when a slot is first used,
// so an idle process does not hold the pool's memory.
template <class T, unsigned N, class CS>
class List_allocator {
public:
  struct List_storage : F_dual_list_item<List_storage> {
    alignas(T) unsigned char object[sizeof(T)];
  };

  // Raw memory for one T, or null when all N are in use.
  static T* allocate() {
    cs_.lock();
    List_storage* s = nullptr;
    if (fresh_ < N) {
      // Slots never used stand, in array order, before every returned one.
      s = new (&slots()[fresh_]) List_storage;
      ++fresh_;
    } else {
      s = free_.remove_from_head();
    }
    cs_.unlock();
    return s ? reinterpret_cast<T*>(s->object) : nullptr;
  }

  static void deallocate(T* p) {
    if (!p) return;
    cs_.lock();
    size_t index = static_cast<size_t>(reinterpret_cast<unsigned char*>(p) - storage_) / sizeof(List_storage);
    free_.insert_to_tail(&slots()[index]);
    cs_.unlock();
  }

  static unsigned capacity() { return N; }
  static unsigned in_use() { return fresh_ - free_.count(); }

private:
  static List_storage* slots() { return reinterpret_cast<List_storage*>(storage_); }

  alignas(List_storage) static unsigned char storage_[N * sizeof(List_storage)];
  static unsigned fresh_;
  static F_dual_list<List_storage> free_;
  static CS cs_;
};

template <class T, unsigned N, class CS>
alignas(typename List_allocator<T, N, CS>::List_storage) unsigned char List_allocator<T, N, CS>::storage_[N * sizeof(
    typename List_allocator<T, N, CS>::List_storage)];
template <class T, unsigned N, class CS>
unsigned List_allocator<T, N, CS>::fresh_ = 0;
template <class T, unsigned N, class CS>
F_dual_list<typename List_allocator<T, N, CS>::List_storage> List_allocator<T, N, CS>::free_;
template <class T, unsigned N, class CS>
CS List_allocator<T, N, CS>::cs_;

// The shared buffer.
class _Packet {
public:
  _Packet() : ref_count(0), fdata(buffer + packet_max_size), ftail(buffer + packet_max_size) {}
  // Same window offsets in the new buffer; only the window's bytes copied.
  _Packet(const _Packet& other);
  _Packet& operator=(const _Packet&) = delete;
  ~_Packet() {}

  // Pool memory; std::bad_alloc when all buffers are in use.
  static void* operator new(size_t);
  static void operator delete(void* p);

  unsigned char* begin() { return buffer; }
  unsigned char* end() { return buffer + packet_max_size; }
  const unsigned char* begin() const { return buffer; }
  const unsigned char* end() const { return buffer + packet_max_size; }
  bool window_valid() const;

  unsigned int ref_count;
  unsigned char* fdata;
  unsigned char* ftail;
  unsigned char buffer[packet_max_size];
};

using PacketPool = List_allocator<_Packet, 1024, Dummy_critical_section>;

class Packet : public Smart_pointer<_Packet> {
public:
  Packet() = default;

  void clear() { clean(); }
  bool null() const { return Smart_pointer<_Packet>::null(); }
  unsigned int length() const;
  unsigned int _length() const;
  bool empty() const { return length() == 0; }
  bool operator<(unsigned int n) const { return length() < n; }
  unsigned int _headroom() const;
  unsigned int _tailroom() const;
  unsigned int tailroom() const;

  unsigned char* data();
  unsigned char* tail();
  unsigned char& operator[](int i);
  const unsigned char& operator[](int i) const;

  unsigned char* put(unsigned int n);
  unsigned char* push(unsigned int n);
  unsigned char* pull(unsigned int n);
  unsigned char* trim(unsigned int n);

  unsigned char* put8(unsigned char b);
  unsigned char* put16(unsigned short v);
  unsigned char* put16_b(unsigned short v);
  unsigned char* push8(unsigned char b);
  unsigned char* push16_b(unsigned short v);
  unsigned char pull8();
  unsigned short pull16();
  unsigned short pull16_l();
  unsigned short pull16_b();

  // Length byte, then the characters; at most 255 characters.
  unsigned int put(const std::string& s);
  std::string pull_string();
  unsigned int put(const Packet& other);
  // Bytes start .. start+len-1 as a private packet; this one unchanged.
  Packet sub(unsigned int len, unsigned int start);

  void reserve_head(unsigned int n);
  void reserve_tail(unsigned int n);

  void check(const char* op) const;
  [[noreturn]] static void check_fail(const char* format, ...) __attribute__((format(printf, 1, 2)));
  void passert(bool cond, const std::string& msg) const;

  std::string text() const;
  bool dump(std::ostream& os) const;
  bool dump_context(std::ostream& os) const;
};

std::ostream& operator<<(std::ostream& os, const Packet& p);

// A diagnostic snapshot of a packet, taken by value.
class PacketInfo {
public:
  explicit PacketInfo(const Packet& p);
  void put(std::ostream& os) const;

private:
  bool null_ = true;
  bool valid_ = false;
  unsigned int head_ = 0;
  unsigned int length_ = 0;
  unsigned int tail_ = 0;
  std::vector<unsigned char> bytes_;
};

std::ostream& operator<<(std::ostream& os, const PacketInfo& info);
