#pragma once
// The same few insertion helpers for every subsystem, so that log lines
// look alike: an object's prefix, quoted values, hexadecimal bytes and
// numbers, a one-line summary, and text tables for the status dump.
// Each helper is a small value holding pointers only; nothing is formatted
// until it is inserted, within the same statement.
#include <ostream>
#include <sstream>
#include <string>
#include <vector>

namespace ext {

// Writes what T::PutHeader writes: the object's identification ending in
// ": ", to be followed by the message text.
template <class T>
class OutObjHeader {
 public:
  explicit OutObjHeader(const T* obj) : mObj(obj) {}
  void Put(std::ostream& os) const { mObj->PutHeader(os); }

 private:
  const T* mObj;
};

template <class T>
class OutShortInfo {
 public:
  explicit OutShortInfo(const T* obj) : mObj(obj) {}
  void Put(std::ostream& os) const { mObj->PutShortInfo(os); }

 private:
  const T* mObj;
};

template <class T>
class OutQuoted {
 public:
  explicit OutQuoted(const T& value) : mValue(&value) {}
  void Put(std::ostream& os) const { os << '"' << *mValue << '"'; }

 private:
  const T* mValue;
};

// Every byte as two upper-case hexadecimal digits followed by a space.
class OutBufInHex {
 public:
  OutBufInHex(const unsigned char* begin, const unsigned char* end) : mBegin(begin), mEnd(end) {}
  void Put(std::ostream& os) const;

 private:
  const unsigned char* mBegin;
  const unsigned char* mEnd;
};

// "0x" and the value in upper-case hexadecimal, zero-padded to the width.
class OutUnsignedInHex {
 public:
  OutUnsignedInHex(unsigned value, unsigned width) : mValue(value), mWidth(width) {}
  void Put(std::ostream& os) const;

 private:
  unsigned mValue;
  unsigned mWidth;
};

template <class T>
OutObjHeader<T> header(const T* obj) {
  return OutObjHeader<T>(obj);
}
template <class T>
OutShortInfo<T> shortinfo(const T* obj) {
  return OutShortInfo<T>(obj);
}
template <class T>
OutQuoted<T> quoted(const T& value) {
  return OutQuoted<T>(value);
}
OutBufInHex hex(const char* data, unsigned length);
OutBufInHex hex(const unsigned char* begin, const unsigned char* end);
OutUnsignedInHex hex(unsigned value, unsigned width);

template <class T>
std::ostream& operator<<(std::ostream& os, const OutObjHeader<T>& o) {
  o.Put(os);
  return os;
}
template <class T>
std::ostream& operator<<(std::ostream& os, const OutShortInfo<T>& o) {
  o.Put(os);
  return os;
}
template <class T>
std::ostream& operator<<(std::ostream& os, const OutQuoted<T>& o) {
  o.Put(os);
  return os;
}
inline std::ostream& operator<<(std::ostream& os, const OutBufInHex& o) {
  o.Put(os);
  return os;
}
inline std::ostream& operator<<(std::ostream& os, const OutUnsignedInHex& o) {
  o.Put(os);
  return os;
}

// A text table drawn with ASCII rules. Cells are centred in their column
// (the odd space on the right); a text longer than its column is written
// whole. A row still open is completed with blank cells by the next rule,
// gap or the end of the statement that wrote into it:
//
//   std::cout << table << ext::delimeter << ext::beginrow
//             << "name" << ext::nextrow << 42 << ext::nextrow;
class Table {
 public:
  // Collects one cell's text; writes it as a cell on ext::nextrow. Its
  // end completes the open row.
  class Sentry {
   public:
    Sentry(std::ostream& os, Table& table) : mOs(os), mTable(table) {}
    Sentry(const Sentry&) = delete;
    Sentry& operator=(const Sentry&) = delete;
    ~Sentry() { mTable.finalize(mOs); }

    template <class T>
    Sentry& operator<<(const T& value) {
      mCell << value;
      return *this;
    }
    Sentry& operator<<(Sentry& (*manip)(Sentry&)) { return manip(*this); }

    // The buffered text as the next cell; the buffer is emptied.
    void row();
    void resetrow() { mTable.resetrow(); }
    void delimeter() { mTable.delimeter(mOs); }

   private:
    std::ostream& mOs;
    Table& mTable;
    std::ostringstream mCell;
  };

  Table() = default;
  explicit Table(int w1) { add(w1); }
  Table(int w1, int w2) : Table(w1) { add(w2); }
  Table(int w1, int w2, int w3) : Table(w1, w2) { add(w3); }
  Table(int w1, int w2, int w3, int w4) : Table(w1, w2, w3) { add(w4); }
  Table(int w1, int w2, int w3, int w4, int w5) : Table(w1, w2, w3, w4) { add(w5); }
  Table(int w1, int w2, int w3, int w4, int w5, int w6) : Table(w1, w2, w3, w4, w5) { add(w6); }
  Table(int w1, int w2, int w3, int w4, int w5, int w6, int w7) : Table(w1, w2, w3, w4, w5, w6) { add(w7); }

  // A negative width counts as 0.
  void add(int width) { mWidths.push_back(width < 0 ? 0 : width); }
  void init() { resetrow(); }
  void resetrow() {
    mColumn = 0;
    mRowOpen = false;
  }

  void row(std::ostream& os, const std::string& text);
  void delimeter(std::ostream& os);
  void gap(std::ostream& os);
  void finalize(std::ostream& os);

 private:
  void rule(std::ostream& os, char edge, char fill);

  std::vector<int> mWidths;
  unsigned mColumn = 0;
  bool mRowOpen = false;
};

inline Table::Sentry operator<<(std::ostream& os, Table& table) { return Table::Sentry(os, table); }

Table::Sentry& nextrow(Table::Sentry& s);
Table::Sentry& beginrow(Table::Sentry& s);
Table::Sentry& delimeter(Table::Sentry& s);

}  // namespace ext
