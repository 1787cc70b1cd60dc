#include "log/Ext.h"

#include <algorithm>

namespace ext {

void OutBufInHex::Put(std::ostream& os) const {
  const std::ios::fmtflags saved = os.flags();
  os.fill('0');
  for (const unsigned char* p = mBegin; p != mEnd; ++p) {
    os.flags(std::ios::hex | std::ios::right | std::ios::uppercase);
    os.width(2);
    os << static_cast<unsigned>(*p);
    os << " ";
  }
  os.fill(' ');
  os.flags(saved);
}

void OutUnsignedInHex::Put(std::ostream& os) const {
  const std::ios::fmtflags saved = os.flags();
  os.fill('0');
  os.flags(std::ios::hex | std::ios::right | std::ios::uppercase);
  os << "0x";
  os.width(mWidth);
  os << mValue;
  os.fill(' ');
  os.flags(saved);
}

OutBufInHex hex(const char* data, unsigned length) {
  const unsigned char* begin = reinterpret_cast<const unsigned char*>(data);
  return OutBufInHex(begin, data ? begin + length : begin);
}

OutBufInHex hex(const unsigned char* begin, const unsigned char* end) { return OutBufInHex(begin, end); }

OutUnsignedInHex hex(unsigned value, unsigned width) { return OutUnsignedInHex(value, width); }

void Table::row(std::ostream& os, const std::string& text) {
  if (mColumn >= mWidths.size()) return;
  mRowOpen = true;
  const std::size_t w = static_cast<std::size_t>(mWidths[mColumn]);
  const std::size_t n = std::min(text.size(), w);
  os << '|' << std::string((w - n) / 2, ' ') << text << std::string((w - n + 1) / 2, ' ');
  if (++mColumn == mWidths.size()) {
    os << '|' << '\n';
    mRowOpen = false;
  }
}

void Table::finalize(std::ostream& os) {
  if (!mRowOpen) return;
  while (mColumn < mWidths.size()) row(os, " ");
}

void Table::rule(std::ostream& os, char edge, char fill) {
  finalize(os);
  if (mWidths.empty()) return;
  for (int w : mWidths) os << edge << std::string(static_cast<std::size_t>(w), fill);
  os << edge << '\n';
}

void Table::delimeter(std::ostream& os) { rule(os, '+', '-'); }

void Table::gap(std::ostream& os) { rule(os, '|', ' '); }

void Table::Sentry::row() {
  mTable.row(mOs, mCell.str());
  mCell.str(std::string());
}

Table::Sentry& nextrow(Table::Sentry& s) {
  s.row();
  return s;
}

Table::Sentry& beginrow(Table::Sentry& s) {
  s.resetrow();
  return s;
}

Table::Sentry& delimeter(Table::Sentry& s) {
  s.delimeter();
  return s;
}

}  // namespace ext
