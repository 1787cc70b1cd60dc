#pragma once
// The configuration file in memory: sections and key lines, every
// occurrence of a header and of a key kept separately, in file order and
// with its line number, so that a reader can tell a missing key from a
// duplicated one and point at the lines.
//
// Lookups by name create what is missing: a caller can always look a
// section or a key up and then ask how many occurrences it has.
#include <iosfwd>
#include <map>
#include <string>

namespace IniFile {

class File;
class Section;
class SubSection;
class Key;
class SubKey;
struct ListOps;

// Walks one level's children in creation order.
template <class T>
class GenericIterator {
 public:
  explicit GenericIterator(T* p = nullptr) : mPtr(p) {}
  GenericIterator& operator++() {
    mPtr = mPtr->mNext;
    return *this;
  }
  GenericIterator operator++(int) {
    GenericIterator old(*this);
    mPtr = mPtr->mNext;
    return old;
  }
  T& operator*() const { return *mPtr; }
  T* operator->() const { return mPtr; }
  bool operator!=(const GenericIterator& o) const { return mPtr != o.mPtr; }
  bool operator==(const GenericIterator& o) const { return mPtr == o.mPtr; }

 private:
  T* mPtr;
};

// One occurrence of a key line.
class SubKey {
 public:
  SubKey(const std::string& value, int line) : mValue(value), mLineNo(line) {}
  SubKey(const SubKey&) = delete;
  SubKey& operator=(const SubKey&) = delete;

  std::string& GetStr() { return mValue; }
  const std::string& GetStr() const { return mValue; }
  int GetLineNo() const { return mLineNo; }

  // "true", "yes", "1", "on" / "false", "no", "0", "off"; case matters.
  bool GetBool(bool def) const;
  void SetBool(bool v);
  int GetInt(int def) const;
  void SetInt(int v);
  float GetFloat(float def) const;
  void SetFloat(float v);

  void Dump(std::ostream& os) const;

 private:
  friend class Key;
  friend class GenericIterator<SubKey>;
  friend struct ListOps;
  std::string mValue;
  int mLineNo;
  SubKey* mNext = nullptr;
  SubKey* mPrev = nullptr;
};

// All occurrences of one key name inside one occurrence of a section.
class Key {
 public:
  typedef GenericIterator<SubKey> iterator;

  explicit Key(const std::string& name) : mName(name) {}
  ~Key() { CleanSubKeys(); }
  Key(const Key&) = delete;
  Key& operator=(const Key&) = delete;

  const std::string& GetName() const { return mName; }
  SubKey* NewSubKey(const std::string& value, int line);
  void CleanSubKeys();
  // Gives the key an empty occurrence (line -1) when it has none.
  void CheckEmpty();
  SubKey* GetFirstSubKey();
  SubKey* GetLastSubKey();
  std::string& GetStr();
  int GetCount() const { return mSubKeyCount; }

  void Dump(std::ostream& os) const;
  iterator begin() const { return iterator(mFirst); }
  iterator end() const { return iterator(); }

 private:
  friend class SubSection;
  friend class GenericIterator<Key>;
  friend struct ListOps;
  std::string mName;
  int mSubKeyCount = 0;
  SubKey* mFirst = nullptr;
  SubKey* mLast = nullptr;
  Key* mNext = nullptr;
  Key* mPrev = nullptr;
};

// One occurrence of a section header and the key lines after it.
class SubSection {
 public:
  typedef GenericIterator<Key> iterator;

  explicit SubSection(int line) : mLineNo(line) {}
  ~SubSection() { CleanKeys(); }
  SubSection(const SubSection&) = delete;
  SubSection& operator=(const SubSection&) = delete;

  Key& operator[](const std::string& name);
  Key* NewKey(const std::string& name);
  SubKey* NewSubKey(const std::string& key, const std::string& value, int line);
  void CleanKeys();
  int GetLineNo() const { return mLineNo; }
  int GetCount() const { return mKeyCount; }

  void Dump(std::ostream& os) const;
  iterator begin() const { return iterator(mFirst); }
  iterator end() const { return iterator(); }

 private:
  friend class Section;
  friend class GenericIterator<SubSection>;
  friend struct ListOps;
  int mLineNo;
  int mKeyCount = 0;
  Key* mFirst = nullptr;
  Key* mLast = nullptr;
  SubSection* mNext = nullptr;
  SubSection* mPrev = nullptr;
  std::map<std::string, Key*> mKeys;
};

// All occurrences of one section name.
class Section {
 public:
  typedef GenericIterator<SubSection> iterator;

  explicit Section(const std::string& name) : mName(name) {}
  ~Section() { CleanSubSections(); }
  Section(const Section&) = delete;
  Section& operator=(const Section&) = delete;

  const std::string& GetName() const { return mName; }
  SubSection* NewSubSection(int line);
  void CleanSubSections();
  // Gives the section an occurrence (line -1) when it has none, so that a
  // reader can report its required keys as missing.
  void CheckEmpty();
  int GetCount() const { return mSubSectionCount; }

  void Dump(std::ostream& os) const;
  iterator begin() const { return iterator(mFirst); }
  iterator end() const { return iterator(); }

 private:
  friend class File;
  friend class GenericIterator<Section>;
  friend struct ListOps;
  std::string mName;
  int mSubSectionCount = 0;
  SubSection* mFirst = nullptr;
  SubSection* mLast = nullptr;
  Section* mNext = nullptr;
  Section* mPrev = nullptr;
};

// The whole file. There is no writing back: Sync() does nothing.
class File {
 public:
  typedef GenericIterator<Section> iterator;

  File() = default;
  explicit File(const std::string& name) { Open(name); }
  ~File();
  File(const File&) = delete;
  File& operator=(const File&) = delete;

  // False when the file cannot be opened; an empty file is an empty model.
  bool Open(const std::string& name);
  void Close();
  void Sync() {}
  bool IsOpen() const { return mOpen; }
  const std::string& GetFileName() const { return mFileName; }
  int GetCount() const { return mSectionCount; }

  Section& operator[](const std::string& name);
  Section* NewSection(const std::string& name);
  SubSection* NewSubSection(const std::string& name, int line);
  void CleanSections();

  void Dump(std::ostream& os) const;
  iterator begin() const { return iterator(mFirst); }
  iterator end() const { return iterator(); }

  friend std::istream& operator>>(std::istream& is, File& f);

 private:
  void IntOpenStream(std::istream& is);

  std::string mFileName;
  bool mOpen = false;
  int mSectionCount = 0;
  Section* mFirst = nullptr;
  Section* mLast = nullptr;
  std::map<std::string, Section*> mSections;
};

std::istream& operator>>(std::istream& is, File& f);

}  // namespace IniFile
