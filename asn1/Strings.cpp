#include "asn1/Strings.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <ostream>

#include "asn1/Visitor.h"

namespace ASN1 {

// space and the digits
const char NumericStringSet[12] = " 0123456789";

// space ' ( ) + , - . / 0-9 : = ? A-Z a-z
const char PrintableStringSet[75] =
    " '()+,-./0123456789:=?ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";

// 0x20 to 0x7E
const char VisibleStringSet[96] =
    "\040\041\042\043\044\045\046\047\050\051\052\053\054\055\056\057"
    "\060\061\062\063\064\065\066\067\070\071\072\073\074\075\076\077"
    "\100\101\102\103\104\105\106\107\110\111\112\113\114\115\116\117"
    "\120\121\122\123\124\125\126\127\130\131\132\133\134\135\136\137"
    "\140\141\142\143\144\145\146\147\150\151\152\153\154\155\156\157"
    "\160\161\162\163\164\165\166\167\170\171\172\173\174\175\176";

// 0x00 to 0x7F
const char IA5StringSet[129] =
    "\000\001\002\003\004\005\006\007\010\011\012\013\014\015\016\017"
    "\020\021\022\023\024\025\026\027\030\031\032\033\034\035\036\037"
    "\040\041\042\043\044\045\046\047\050\051\052\053\054\055\056\057"
    "\060\061\062\063\064\065\066\067\070\071\072\073\074\075\076\077"
    "\100\101\102\103\104\105\106\107\110\111\112\113\114\115\116\117"
    "\120\121\122\123\124\125\126\127\130\131\132\133\134\135\136\137"
    "\140\141\142\143\144\145\146\147\150\151\152\153\154\155\156\157"
    "\160\161\162\163\164\165\166\167\170\171\172\173\174\175\176\177";

// 0x00 to 0xFF
const char GeneralStringSet[257] =
    "\000\001\002\003\004\005\006\007\010\011\012\013\014\015\016\017"
    "\020\021\022\023\024\025\026\027\030\031\032\033\034\035\036\037"
    "\040\041\042\043\044\045\046\047\050\051\052\053\054\055\056\057"
    "\060\061\062\063\064\065\066\067\070\071\072\073\074\075\076\077"
    "\100\101\102\103\104\105\106\107\110\111\112\113\114\115\116\117"
    "\120\121\122\123\124\125\126\127\130\131\132\133\134\135\136\137"
    "\140\141\142\143\144\145\146\147\150\151\152\153\154\155\156\157"
    "\160\161\162\163\164\165\166\167\170\171\172\173\174\175\176\177"
    "\200\201\202\203\204\205\206\207\210\211\212\213\214\215\216\217"
    "\220\221\222\223\224\225\226\227\230\231\232\233\234\235\236\237"
    "\240\241\242\243\244\245\246\247\250\251\252\253\254\255\256\257"
    "\260\261\262\263\264\265\266\267\270\271\272\273\274\275\276\277"
    "\300\301\302\303\304\305\306\307\310\311\312\313\314\315\316\317"
    "\320\321\322\323\324\325\326\327\330\331\332\333\334\335\336\337"
    "\340\341\342\343\344\345\346\347\350\351\352\353\354\355\356\357"
    "\360\361\362\363\364\365\366\367\370\371\372\373\374\375\376\377";

// ---- AbstractString

AbstractData* AbstractString::create(void const* info) { return new AbstractString(info); }

AbstractString::size_type AbstractString::find_first_invalid() const {
  InfoType const* i = info();
  if (i->characterSetSize == 0) return npos;
  char const* set = i->characterSet;
  char const* setEnd = set + i->characterSetSize;
  for (size_type pos = 0; pos < size(); ++pos) {
    if (std::find(set, setEnd, (*this)[pos]) == setEnd) return pos;
  }
  return npos;
}

bool AbstractString::isValid() const {
  if (size() < static_cast<unsigned>(getLowerLimit())) return false;
  if (size() > getUpperLimit() && !extendable()) return false;
  return find_first_invalid() == npos;
}

bool AbstractString::isStrictlyValid() const {
  return static_cast<unsigned>(getLowerLimit()) <= size() && size() <= getUpperLimit() && find_first_invalid() == npos;
}

int AbstractString::do_compare(AbstractData const& other) const {
  return std::string::compare(static_cast<AbstractString const&>(other));
}
AbstractData* AbstractString::do_clone() const { return new AbstractString(*this); }
bool AbstractString::do_accept(Visitor& v) { return v.visit(*this); }
bool AbstractString::do_accept(ConstVisitor& v) const { return v.visit(*this); }

std::ostream& operator<<(std::ostream& os, AbstractString const& s) {
  return os << static_cast<std::string const&>(s);
}

// ---- BMPString

const BMPString::InfoType BMPString::theInfo = {&BMPString::create, 0x1E, Unconstrained, 0, 4294967295u, 0, 0xFFFF,
                                                16, 16};

AbstractData* BMPString::create(void const* info) { return new BMPString(info); }

BMPString::size_type BMPString::first_illegal_at() const {
  for (size_type pos = 0; pos < size(); ++pos) {
    if (!legalCharacter((*this)[pos])) return pos;
  }
  return size();
}

bool BMPString::isValid() const {
  if (size() < static_cast<unsigned>(getLowerLimit())) return false;
  if (size() > getUpperLimit() && !extendable()) return false;
  return first_illegal_at() == size();
}

bool BMPString::isStrictlyValid() const {
  return static_cast<unsigned>(getLowerLimit()) <= size() && size() <= getUpperLimit() && first_illegal_at() == size();
}

int BMPString::do_compare(AbstractData const& other) const {
  return std::wstring::compare(static_cast<BMPString const&>(other));
}
AbstractData* BMPString::do_clone() const { return new BMPString(*this); }
bool BMPString::do_accept(Visitor& v) { return v.visit(*this); }
bool BMPString::do_accept(ConstVisitor& v) const { return v.visit(*this); }

// ---- GeneralizedTime

const AbstractData::InfoType GeneralizedTime::theInfo = {&GeneralizedTime::create, 0x18};

AbstractData* GeneralizedTime::create(void const* info) { return new GeneralizedTime(info); }

GeneralizedTime::GeneralizedTime(void const* info)
    : AbstractData(info), year(1), month(1), day(1), hour(0), minute(0), second(0), millisec(0), mindiff(0), utc(false) {}

GeneralizedTime::GeneralizedTime(char const* text) : GeneralizedTime(static_cast<void const*>(&theInfo)) { set(text); }

GeneralizedTime::GeneralizedTime(int year, int month, int day, int hour, int minute, int second, int millisec,
                                 int mindiff, bool utc)
    : AbstractData(&theInfo),
      year(year),
      month(month),
      day(day),
      hour(hour),
      minute(minute),
      second(second),
      millisec(millisec),
      mindiff(mindiff),
      utc(utc) {}

GeneralizedTime& GeneralizedTime::operator=(GeneralizedTime const& o) {
  year = o.year;
  month = o.month;
  day = o.day;
  hour = o.hour;
  minute = o.minute;
  second = o.second;
  millisec = o.millisec;
  mindiff = o.mindiff;
  utc = o.utc;
  return *this;
}

void GeneralizedTime::swap(GeneralizedTime& o) {
  std::swap(year, o.year);
  std::swap(month, o.month);
  std::swap(day, o.day);
  std::swap(hour, o.hour);
  std::swap(minute, o.minute);
  std::swap(second, o.second);
  std::swap(millisec, o.millisec);
  std::swap(mindiff, o.mindiff);
  std::swap(utc, o.utc);
}

namespace {
bool isDigit(char c) { return c >= '0' && c <= '9'; }
}  // namespace

void GeneralizedTime::set(char const* text) {
  // Reading stops at the first field that does not scan; sscanf leaves the
  // fields it did not reach as they were.
  std::sscanf(text, "%4d%2d%2d%2d%2d%2d", &year, &month, &day, &hour, &minute, &second);

  std::size_t len = std::strlen(text);
  if (len > 14 && text[14] == '.') {
    // The fraction in whole milliseconds, truncated.
    int ms = 0;
    int digits = 0;
    for (char const* p = text + 15; isDigit(*p); ++p) {
      if (digits < 3) {
        ms = ms * 10 + (*p - '0');
        ++digits;
      }
    }
    for (; digits < 3; ++digits) ms *= 10;
    millisec = ms;
  }

  if (len > 0 && text[len - 1] == 'Z') {
    utc = true;
  } else if (len >= 5 && (text[len - 5] == '+' || text[len - 5] == '-')) {
    char const* d = text + len - 4;
    if (isDigit(d[0]) && isDigit(d[1]) && isDigit(d[2]) && isDigit(d[3])) {
      int minutes = ((d[0] - '0') * 10 + (d[1] - '0')) * 60 + (d[2] - '0') * 10 + (d[3] - '0');
      mindiff = text[len - 5] == '-' ? -minutes : minutes;
    }
  }
}

std::string GeneralizedTime::get() const {
  char buf[128];
  int n = std::snprintf(buf, sizeof buf, "%04d%02d%02d%02d%02d%02d", year, month, day, hour, minute, second);
  std::string text(buf, static_cast<std::size_t>(n));
  if (millisec != 0) {
    n = std::snprintf(buf, sizeof buf, ".%03d", millisec);
    text.append(buf, static_cast<std::size_t>(n));
  }
  if (utc) {
    text += 'Z';
  } else if (mindiff != 0) {
    long magnitude = mindiff < 0 ? -static_cast<long>(mindiff) : mindiff;
    n = std::snprintf(buf, sizeof buf, "%c%02ld%02ld", mindiff < 0 ? '-' : '+', magnitude / 60, magnitude % 60);
    text.append(buf, static_cast<std::size_t>(n));
  }
  return text;
}

long GeneralizedTime::get_time_t() const {
  std::tm tm = {};
  tm.tm_year = year - 1900;
  tm.tm_mon = month - 1;
  tm.tm_mday = day;
  tm.tm_hour = hour;
  tm.tm_min = minute;
  tm.tm_sec = second;
  tm.tm_isdst = -1;
  return static_cast<long>(std::mktime(&tm));
}

void GeneralizedTime::set_time_t(long t) {
  std::time_t tt = static_cast<std::time_t>(t);
  std::tm tm;
  if (gmtime_r(&tt, &tm) == nullptr) return;
  year = tm.tm_year + 1900;
  month = tm.tm_mon + 1;
  day = tm.tm_mday;
  hour = tm.tm_hour;
  minute = tm.tm_min;
  second = tm.tm_sec;
}

bool GeneralizedTime::isStrictlyValid() const {
  return year > 0 && 1 <= month && month <= 12 && 1 <= day && day <= 31 && 0 <= hour && hour <= 24 && 0 <= minute &&
         minute <= 59 && 0 <= second && second <= 59 && -720 <= mindiff && mindiff <= 720;
}

int GeneralizedTime::do_compare(AbstractData const& other) const {
  GeneralizedTime const& o = static_cast<GeneralizedTime const&>(other);
  int const mine[] = {year, month, day, hour, minute, second, millisec};
  int const theirs[] = {o.year, o.month, o.day, o.hour, o.minute, o.second, o.millisec};
  for (int k = 0; k < 7; ++k) {
    if (mine[k] != theirs[k]) return static_cast<int>(static_cast<unsigned>(mine[k]) - static_cast<unsigned>(theirs[k]));
  }
  return static_cast<int>(utc) - static_cast<int>(o.utc);
}

AbstractData* GeneralizedTime::do_clone() const { return new GeneralizedTime(*this); }
bool GeneralizedTime::do_accept(Visitor& v) { return v.visit(*this); }
bool GeneralizedTime::do_accept(ConstVisitor& v) const { return v.visit(*this); }

}  // namespace ASN1
