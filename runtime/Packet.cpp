#include "runtime/Packet.h"

#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <exception>
#include <iostream>
#include <new>

// ---------------------------------------------------------------- assertions

void SmartPtrAssertion() {
  std::clog << "SMART POINTER ASSERTION!" << std::endl;
  std::terminate();
}

void SharedPtrAssertion() {
  std::clog << "SHARED POINTER ASSERTION!" << std::endl;
  std::terminate();
}

// ---------------------------------------------------------------- _Packet

_Packet::_Packet(const _Packet& other)
    : ref_count(0),
      fdata(buffer + (other.fdata - other.buffer)),
      ftail(buffer + (other.ftail - other.buffer)) {
  if (other.window_valid() && other.ftail > other.fdata)
    std::memcpy(fdata, other.fdata, static_cast<size_t>(other.ftail - other.fdata));
}

void* _Packet::operator new(size_t) {
  void* p = PacketPool::allocate();
  if (!p) throw std::bad_alloc();
  return p;
}

void _Packet::operator delete(void* p) { PacketPool::deallocate(static_cast<_Packet*>(p)); }

bool _Packet::window_valid() const {
  auto b = reinterpret_cast<std::uintptr_t>(begin());
  auto e = reinterpret_cast<std::uintptr_t>(end());
  auto d = reinterpret_cast<std::uintptr_t>(fdata);
  auto t = reinterpret_cast<std::uintptr_t>(ftail);
  return b <= d && d <= t && t <= e;
}

// ---------------------------------------------------------------- queries

namespace {
const _Packet* peek(const Packet& p) { return p.get(); }
}  // namespace

unsigned int Packet::length() const {
  if (null()) return 0;
  return _length();
}

unsigned int Packet::_length() const {
  const Packet& self = *this;
  return static_cast<unsigned int>(self->ftail - self->fdata);
}

unsigned int Packet::_headroom() const {
  const Packet& self = *this;
  return static_cast<unsigned int>(self->fdata - self->begin());
}

unsigned int Packet::_tailroom() const {
  const Packet& self = *this;
  return static_cast<unsigned int>(self->end() - self->ftail);
}

unsigned int Packet::tailroom() const {
  passert(!null(), "null packet");
  return _tailroom();
}

unsigned char* Packet::data() {
  passert(!null(), "null packet");
  return (*this)->fdata;
}

unsigned char* Packet::tail() {
  passert(!null(), "null packet");
  return (*this)->ftail;
}

unsigned char& Packet::operator[](int i) {
  passert(!null(), "null packet");
  passert(i >= 0 && static_cast<unsigned int>(i) < length(), "index out of range");
  return (*this)->fdata[i];
}

const unsigned char& Packet::operator[](int i) const {
  passert(!null(), "null packet");
  passert(i >= 0 && static_cast<unsigned int>(i) < length(), "index out of range");
  return peek(*this)->fdata[i];
}

// ---------------------------------------------------------------- window

unsigned char* Packet::put(unsigned int n) {
  passert(!null(), "null packet");
  passert(n <= _tailroom(), "len<=_tailroom()");
  _Packet* p = operator->();
  unsigned char* old = p->ftail;
  p->ftail += n;
  check("put");
  return old;
}

unsigned char* Packet::push(unsigned int n) {
  passert(!null(), "null packet");
  passert(n <= _headroom(), "len<=_headroom()");
  _Packet* p = operator->();
  p->fdata -= n;
  check("push");
  return p->fdata;
}

unsigned char* Packet::pull(unsigned int n) {
  passert(!null(), "null packet");
  passert(n <= _length(), "len<=_length()");
  _Packet* p = operator->();
  unsigned char* old = p->fdata;
  p->fdata += n;
  return old;
}

unsigned char* Packet::trim(unsigned int n) {
  passert(!null(), "null packet");
  passert(n <= _length(), "len<=_length()");
  _Packet* p = operator->();
  p->ftail -= n;
  check("trim");
  return p->ftail;
}

// ---------------------------------------------------------------- fixed width

unsigned char* Packet::put8(unsigned char b) {
  unsigned char* at = put(1);
  *at = b;
  return at;
}

unsigned char* Packet::put16(unsigned short v) {
  unsigned char* at = put8(static_cast<unsigned char>(v & 255));
  put8(static_cast<unsigned char>(v >> 8));
  return at;
}

unsigned char* Packet::put16_b(unsigned short v) {
  unsigned char* at = put8(static_cast<unsigned char>(v >> 8));
  put8(static_cast<unsigned char>(v & 255));
  return at;
}

unsigned char* Packet::push8(unsigned char b) {
  unsigned char* at = push(1);
  *at = b;
  return at;
}

unsigned char* Packet::push16_b(unsigned short v) {
  push8(static_cast<unsigned char>(v & 255));
  return push8(static_cast<unsigned char>(v >> 8));
}

unsigned char Packet::pull8() {
  passert(!null(), "null packet");
  if (length() == 0) return 0;
  return *pull(1);
}

unsigned short Packet::pull16() { return pull16_l(); }

unsigned short Packet::pull16_l() {
  passert(!null(), "null packet");
  unsigned int low = pull8();
  unsigned int high = pull8();
  return static_cast<unsigned short>(high * 256 + low);
}

unsigned short Packet::pull16_b() {
  passert(!null(), "null packet");
  unsigned int high = pull8();
  unsigned int low = pull8();
  return static_cast<unsigned short>(high * 256 + low);
}

// ---------------------------------------------------------------- strings

unsigned int Packet::put(const std::string& s) {
  // The length travels in one byte: a longer string would corrupt the frame.
  passert(s.size() <= 255, "string length>255");
  put8(static_cast<unsigned char>(s.size()));
  for (char c : s) put8(static_cast<unsigned char>(c));
  return static_cast<unsigned int>(s.size());
}

std::string Packet::pull_string() {
  unsigned int n = pull8();
  std::string s;
  s.reserve(n);
  for (unsigned int i = 0; i < n; ++i) s.push_back(static_cast<char>(pull8()));
  return s;
}

unsigned int Packet::put(const Packet& other) {
  if (other.null()) return 0;
  const unsigned int n = other.length();
  for (unsigned int i = 0; i < n; ++i) put8(other[static_cast<int>(i)]);
  return n;
}

Packet Packet::sub(unsigned int len, unsigned int start) {
  passert(!null(), "null packet");
  passert(start <= _length(), "start<=_length()");
  // Compared without the sum, which a huge len would wrap.
  passert(len <= _length() - start, "start+len<=_length()");
  Packet r(*this);
  _Packet* p = r.operator->();
  p->fdata += start;
  p->ftail = p->fdata + len;
  return r;
}

// ---------------------------------------------------------------- room

void Packet::reserve_head(unsigned int n) {
  passert(n <= packet_max_size, "length>packet_max_size");
  if (null()) {
    Smart_pointer<_Packet>::operator=(new _Packet);
    passert(!null(), "allocation fail");
    _Packet* p = operator->();
    p->fdata = p->ftail = p->begin() + n;
    return;
  }
  // Callers reserve before they put data; data already there moves with
  // the window, so the tail room must take it.
  passert(n <= _tailroom(), "new_len>packet_max_size");
  _Packet* p = operator->();
  const size_t len = static_cast<size_t>(p->ftail - p->fdata);
  if (len) std::memmove(p->fdata + n, p->fdata, len);
  p->fdata += n;
  p->ftail += n;
}

void Packet::reserve_tail(unsigned int n) {
  passert(n <= packet_max_size, "len>packet_max_size");
  if (null()) {
    Smart_pointer<_Packet>::operator=(new _Packet);
    passert(!null(), "allocation fail");
    _Packet* p = operator->();
    p->fdata = p->ftail = p->end() - n;
    return;
  }
  passert(n <= _headroom(), "_tailroom()+len <= packet_max_size");
  _Packet* p = operator->();
  const size_t len = static_cast<size_t>(p->ftail - p->fdata);
  if (len) std::memmove(p->fdata - n, p->fdata, len);
  p->fdata -= n;
  p->ftail -= n;
}

// ---------------------------------------------------------------- diagnostics

void Packet::check(const char* op) const {
  const _Packet* p = peek(*this);
  if (!p) check_fail("after \"%s\" packet is null", op);
  auto b = reinterpret_cast<std::uintptr_t>(p->begin());
  auto e = reinterpret_cast<std::uintptr_t>(p->end());
  auto d = reinterpret_cast<std::uintptr_t>(p->fdata);
  auto t = reinterpret_cast<std::uintptr_t>(p->ftail);
  if (d < b || d > e) check_fail("after \"%s\" fdata invalid", op);
  if (t < b || t > e) check_fail("after \"%s\" ftail invalid", op);
  if (d > t) check_fail("after \"%s\" fdata>ftail", op);
}

void Packet::check_fail(const char* format, ...) {
  char text[256];
  va_list ap;
  va_start(ap, format);
  std::vsnprintf(text, sizeof text, format, ap);
  va_end(ap);
  std::clog << "packet check fail" << '\n' << text << '\n' << "terminate." << std::endl;
  std::terminate();
}

void Packet::passert(bool cond, const std::string& msg) const {
  if (cond) return;
  std::clog << "PACKET ASSERTION FAILED!" << '\n' << msg << '\n' << PacketInfo(*this) << std::flush;
  std::terminate();
}

std::string Packet::text() const {
  const _Packet* p = peek(*this);
  if (!p) return "(null)";
  if (!p->window_valid()) return "(bad)";
  std::string out;
  char hex[4];
  for (const unsigned char* c = p->fdata; c < p->ftail; ++c) {
    if (c != p->fdata) out.push_back(' ');
    std::snprintf(hex, sizeof hex, "%02X", *c);
    out += hex;
  }
  return out;
}

bool Packet::dump(std::ostream& os) const {
  if (null()) return false;
  os << "head=" << _headroom() << ", " << "data=" << _length() << ", " << "tail=" << _tailroom();
  return true;
}

bool Packet::dump_context(std::ostream& os) const {
  const _Packet* p = peek(*this);
  if (!p || !p->window_valid()) return false;
  if (p->fdata == p->ftail) return true;
  os << "dump:";
  char hex[4];
  for (const unsigned char* c = p->fdata; c < p->ftail; ++c) {
    std::snprintf(hex, sizeof hex, "%x", *c);
    os << ' ' << hex;
  }
  return true;
}

std::ostream& operator<<(std::ostream& os, const Packet& p) { return os << p.text(); }

// ---------------------------------------------------------------- PacketInfo

PacketInfo::PacketInfo(const Packet& packet) {
  const _Packet* p = packet.get();
  if (!p) return;
  null_ = false;
  head_ = static_cast<unsigned int>(p->fdata - p->begin());
  length_ = static_cast<unsigned int>(p->ftail - p->fdata);
  tail_ = static_cast<unsigned int>(p->end() - p->ftail);
  valid_ = p->window_valid();
  if (valid_ && length_ > 0) bytes_.assign(p->fdata, p->ftail);
}

void PacketInfo::put(std::ostream& os) const {
  if (null_) {
    os << "(null)" << '\n';
    return;
  }
  os << "head=" << head_ << ", " << "data=" << length_ << ", " << "tail=" << tail_ << '\n';
  if (!valid_) {
    os << "can't dump packet: wrong pointers" << '\n';
    return;
  }
  if (length_ == 0) return;
  os << "dump:" << '\n';
  char hex[4];
  for (unsigned char c : bytes_) {
    std::snprintf(hex, sizeof hex, "%x", c);
    os << ' ' << hex;
  }
  os << '\n';
}

std::ostream& operator<<(std::ostream& os, const PacketInfo& info) {
  info.put(os);
  return os;
}
