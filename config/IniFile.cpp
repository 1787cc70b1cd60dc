#include "config/IniFile.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <fstream>
#include <istream>
#include <ostream>
#include <sstream>

namespace IniFile {

struct ListOps {
template <class T>
static void append(T*& first, T*& last, T* item) {
  item->mPrev = last;
  item->mNext = nullptr;
  if (last)
    last->mNext = item;
  else
    first = item;
  last = item;
}

template <class T>
static void destroyAll(T*& first, T*& last) {
  while (first) {
    T* next = first->mNext;
    delete first;
    first = next;
  }
  last = nullptr;
}
};

namespace {
using L = ListOps;
}  // namespace

// ---------------------------------------------------------------- SubKey

bool SubKey::GetBool(bool def) const {
  if (mValue == "true" || mValue == "yes" || mValue == "1" || mValue == "on") return true;
  if (mValue == "false" || mValue == "no" || mValue == "0" || mValue == "off") return false;
  return def;
}

void SubKey::SetBool(bool v) { mValue = v ? "yes" : "no"; }

int SubKey::GetInt(int def) const {
  // Read like "%d" (leading white space, sign, digits, anything after is
  // ignored), but a number beyond int gives the default instead of an
  // undefined value.
  const char* s = mValue.c_str();
  char* end = nullptr;
  errno = 0;
  long v = std::strtol(s, &end, 10);
  if (end == s) return def;
  if (errno == ERANGE || v < INT_MIN || v > INT_MAX) return def;
  return static_cast<int>(v);
}

void SubKey::SetInt(int v) { mValue = std::to_string(v); }

float SubKey::GetFloat(float def) const {
  float v = 0;
  if (std::sscanf(mValue.c_str(), "%f", &v) != 1) return def;
  return v;
}

void SubKey::SetFloat(float v) {
  std::ostringstream os;
  os << v;
  mValue = os.str();
}

void SubKey::Dump(std::ostream& os) const {
  os << "dumping IniFile::SubKey" << '\n'
     << "mValue=\"" << mValue << "\"" << '\n'
     << "mLineNo=" << mLineNo << '\n';
}

// ------------------------------------------------------------------- Key

SubKey* Key::NewSubKey(const std::string& value, int line) {
  SubKey* k = new SubKey(value, line);
  L::append(mFirst, mLast, k);
  ++mSubKeyCount;
  return k;
}

void Key::CleanSubKeys() {
  L::destroyAll(mFirst, mLast);
  mSubKeyCount = 0;
}

void Key::CheckEmpty() {
  if (!mFirst) NewSubKey(std::string(), -1);
}

SubKey* Key::GetFirstSubKey() {
  CheckEmpty();
  return mFirst;
}

SubKey* Key::GetLastSubKey() {
  CheckEmpty();
  return mLast;
}

std::string& Key::GetStr() { return GetFirstSubKey()->GetStr(); }

void Key::Dump(std::ostream& os) const {
  os << "dumping IniFile::Key" << '\n'
     << "mName=\"" << mName << "\"" << '\n'
     << "mSubKeyCount=" << mSubKeyCount << '\n';
  for (const SubKey* k = mFirst; k; k = k->mNext) k->Dump(os);
}

// ------------------------------------------------------------ SubSection

Key& SubSection::operator[](const std::string& name) {
  auto it = mKeys.find(name);
  if (it != mKeys.end()) return *it->second;
  return *NewKey(name);
}

Key* SubSection::NewKey(const std::string& name) {
  Key* k = new Key(name);
  L::append(mFirst, mLast, k);
  ++mKeyCount;
  // A second key of an existing name would be unreachable by name; the
  // map keeps the first, as lookups always have.
  mKeys.emplace(name, k);
  return k;
}

SubKey* SubSection::NewSubKey(const std::string& key, const std::string& value, int line) {
  return (*this)[key].NewSubKey(value, line);
}

void SubSection::CleanKeys() {
  mKeys.clear();
  L::destroyAll(mFirst, mLast);
  mKeyCount = 0;
}

void SubSection::Dump(std::ostream& os) const {
  os << "dumping IniFile::SubSection" << '\n'
     << "mLineNo=\"" << mLineNo << "\"" << '\n'
     << "mKeyCount=" << mKeyCount << '\n';
  for (const Key* k = mFirst; k; k = k->mNext) k->Dump(os);
}

// --------------------------------------------------------------- Section

SubSection* Section::NewSubSection(int line) {
  SubSection* s = new SubSection(line);
  L::append(mFirst, mLast, s);
  ++mSubSectionCount;
  return s;
}

void Section::CleanSubSections() {
  L::destroyAll(mFirst, mLast);
  mSubSectionCount = 0;
}

void Section::CheckEmpty() {
  if (!mFirst) NewSubSection(-1);
}

void Section::Dump(std::ostream& os) const {
  os << "dumping IniFile::Section" << '\n'
     << "mName=\"" << mName << "\"" << '\n'
     << "mSubSectionCount=" << mSubSectionCount << '\n';
  for (const SubSection* s = mFirst; s; s = s->mNext) s->Dump(os);
}

// ------------------------------------------------------------------ File

File::~File() {
  Close();
  CleanSections();
}

bool File::Open(const std::string& name) {
  Close();
  mFileName = name;
  std::ifstream in(name, std::ios::in | std::ios::binary);
  if (!in.is_open()) return mOpen;
  try {
    IntOpenStream(in);
  } catch (const std::exception&) {
    // The stream library reports a read error (a directory, an I/O error)
    // by throwing from the buffer: the file counts as never opened.
    Close();
    CleanSections();
    mOpen = false;
  }
  return mOpen;
}

std::istream& operator>>(std::istream& is, File& f) {
  f.Close();
  f.mFileName.clear();
  f.IntOpenStream(is);
  return is;
}

void File::Close() {
  if (!mOpen) return;
  CleanSections();
  mOpen = false;
}

Section& File::operator[](const std::string& name) {
  auto it = mSections.find(name);
  if (it != mSections.end()) return *it->second;
  return *NewSection(name);
}

Section* File::NewSection(const std::string& name) {
  Section* s = new Section(name);
  L::append(mFirst, mLast, s);
  ++mSectionCount;
  mSections.emplace(name, s);
  return s;
}

SubSection* File::NewSubSection(const std::string& name, int line) {
  return (*this)[name].NewSubSection(line);
}

void File::CleanSections() {
  mSections.clear();
  L::destroyAll(mFirst, mLast);
  mSectionCount = 0;
}

void File::Dump(std::ostream& os) const {
  os << "dumping IniFile::File" << '\n'
     << "mFileName=\"" << mFileName << "\"" << '\n'
     << '\n'
     << "mSectionCount=" << mSectionCount << '\n';
  for (const Section* s = mFirst; s; s = s->mNext) s->Dump(os);
}

// The parser is driven byte by byte, so it needs no line buffer and has no
// limit on line length. It never reports an error: whatever does not fit
// the grammar is dropped.
void File::IntOpenStream(std::istream& is) {
  enum State { Outside, SectionName, AfterHeader, LineStart, KeyName, BeforeValue, Value };
  State state = Outside;
  int line = 1;
  std::string section, key, value;
  int blanks = 0;
  SubSection* current = nullptr;
  bool comment = false;

  mOpen = true;

  auto storeKey = [&]() {
    if (current) current->NewSubKey(key, value, line);
    key.clear();
  };

  std::streambuf* sb = is.rdbuf();
  if (!sb) {
    is.setstate(std::ios::badbit);
    return;
  }
  for (;;) {
    int got = sb->sbumpc();
    if (got == std::char_traits<char>::eof()) break;
    const unsigned char c = static_cast<unsigned char>(got);

    if (c == '\r') continue;
    if (comment) {
      if (c != '\n') continue;
      comment = false;
    }

    switch (state) {
      case Outside:
        if (c == '#') {
          comment = true;
        } else if (c == '[') {
          section.clear();
          state = SectionName;
        }
        break;

      case SectionName:
        if (c == '\n') {
          state = Outside;
        } else if (c == ']') {
          current = NewSubSection(section, line);
          state = AfterHeader;
        } else {
          section += static_cast<char>(c);
        }
        break;

      case AfterHeader:
        if (c == '\n')
          state = LineStart;
        else if (c == '#')
          comment = true;
        break;

      case LineStart:
        if (c == '#') {
          comment = true;
        } else if (c == ' ' || c == '\t' || c == '\n') {
          // nothing
        } else if (c == '[') {
          section.clear();
          state = SectionName;
        } else {
          key.assign(1, static_cast<char>(c));
          blanks = 0;
          state = KeyName;
        }
        break;

      case KeyName:
        if (c == ' ') {
          ++blanks;
        } else if (c == '=') {
          value.clear();
          state = BeforeValue;
        } else if (c == '\n') {
          key.clear();
          blanks = 0;
          state = LineStart;
        } else {
          key.append(blanks, ' ');
          blanks = 0;
          key += static_cast<char>(c);
        }
        break;

      case BeforeValue:
        if (c == ' ') {
          // nothing
        } else if (c == '#') {
          comment = true;
        } else if (c == '\n') {
          storeKey();
          state = LineStart;
        } else {
          value.assign(1, static_cast<char>(c));
          blanks = 0;
          state = Value;
        }
        break;

      case Value:
        if (c == ' ') {
          ++blanks;
        } else if (c == '#') {
          if (blanks) {
            blanks = 0;
            comment = true;
          } else {
            value += '#';
          }
        } else if (c == '\n') {
          blanks = 0;
          storeKey();
          state = LineStart;
        } else {
          value.append(blanks, ' ');
          blanks = 0;
          value += static_cast<char>(c);
        }
        break;
    }

    if (c == '\n') ++line;
  }

  if (state == BeforeValue || state == Value) storeKey();
  // The whole stream was read; reaching its end is no failure.
  is.setstate(std::ios::eofbit);
}

}  // namespace IniFile
