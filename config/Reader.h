#pragma once
// Binds program variables to the keys of one section occurrence, converts
// the keys' texts into the variables' types and reports every problem on a
// stream, prefixed by the caller's text and with the file's line numbers.
//
// A required key that is missing, duplicated or invalid fails the whole
// occurrence; an optional one is reported and ignored.
#include <climits>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <iosfwd>
#include <string>
#include <type_traits>
#include <vector>

#include "config/IniFile.h"

namespace IniFile {

// One row of a name table; a table ends with a row whose name is null.
template <class T>
struct Symbol {
  const char* name;
  T value;
};

namespace Private {

class KeyValue {
 public:
  KeyValue() = default;
  KeyValue(const KeyValue&) = delete;
  KeyValue& operator=(const KeyValue&) = delete;
  virtual ~KeyValue() {}
  virtual const char* name() const = 0;

  bool parse(const std::string& text) {
    mOk = do_parse(text.c_str());
    return mOk;
  }
  bool& ok() { return mOk; }

 protected:
  // Converts the text into the bound variable; false (variable unchanged
  // where the type allows) when the text does not fit.
  virtual bool do_parse(const char* text) = 0;

 private:
  bool mOk = false;
};

bool parseBool(const char* text, bool& out);

// Enumerations: a name of the table, else a number in strtol notation
// (base 0) that takes up the whole text and fits the enumeration.
template <class T>
class TKeyValue : public KeyValue {
  static_assert(std::is_enum<T>::value, "a configuration key binds bool, std::string or an enumeration");

 public:
  TKeyValue(T* var, const char* name, const Symbol<T>* table)
      : mVar(var), mName(name ? name : ""), mTable(table) {}
  const char* name() const override { return mName; }

 protected:
  bool do_parse(const char* text) override {
    if (mTable) {
      for (const Symbol<T>* s = mTable; s->name; ++s) {
        if (std::strcmp(s->name, text) == 0) {
          *mVar = s->value;
          return true;
        }
      }
    }
    if (!*text) return false;
    typedef typename std::underlying_type<T>::type U;
    char* end = nullptr;
    errno = 0;
    long long v = std::strtoll(text, &end, 0);
    if (*end || errno == ERANGE) return false;
    if (std::is_signed<U>::value) {
      if (v < static_cast<long long>(std::numeric_limits<U>::min()) ||
          v > static_cast<long long>(std::numeric_limits<U>::max()))
        return false;
    } else {
      if (v < 0 || static_cast<unsigned long long>(v) > static_cast<unsigned long long>(std::numeric_limits<U>::max()))
        return false;
    }
    *mVar = static_cast<T>(static_cast<U>(v));
    return true;
  }

 private:
  T* mVar;
  const char* mName;
  const Symbol<T>* mTable;
};

// "true", "yes", "enabled", "enable", "1" / "false", "no", "disabled",
// "disable", "0"; the table is accepted and not used.
template <>
class TKeyValue<bool> : public KeyValue {
 public:
  TKeyValue(bool* var, const char* name, const Symbol<bool>* = nullptr) : mVar(var), mName(name ? name : "") {}
  const char* name() const override { return mName; }

 protected:
  bool do_parse(const char* text) override { return parseBool(text, *mVar); }

 private:
  bool* mVar;
  const char* mName;
};

// Any text, the empty one included.
template <>
class TKeyValue<std::string> : public KeyValue {
 public:
  TKeyValue(std::string* var, const char* name, const Symbol<std::string>* = nullptr)
      : mVar(var), mName(name ? name : "") {}
  const char* name() const override { return mName; }

 protected:
  bool do_parse(const char* text) override {
    *mVar = text;
    return true;
  }

 private:
  std::string* mVar;
  const char* mName;
};

}  // namespace Private

class Reader {
 public:
  // The bindings of one kind, in binding order; owns them.
  class Field {
   public:
    typedef std::vector<Private::KeyValue*>::const_iterator const_iterator;

    Field() = default;
    Field(const Field&) = delete;
    Field& operator=(const Field&) = delete;
    ~Field();

    // Binds a variable to a key name. The name is not copied: it must
    // outlive the Reader. The variable is not touched here. The returned
    // flag, valid for the Reader's life, tells after a reading whether the
    // key was present once and valid.
    template <class T>
    bool& add(T* var, const char* name, const Symbol<T>* table = nullptr) {
      return add(new Private::TKeyValue<T>(var, name, table));
    }
    // Takes ownership of the binding.
    bool& add(Private::KeyValue* kv);

    const_iterator begin() const { return mItems.begin(); }
    const_iterator end() const { return mItems.end(); }

   private:
    std::vector<Private::KeyValue*> mItems;
  };

  Field required;
  Field optional;

  Reader(const std::string& prefix, std::ostream& out) : mPrefix(prefix), mOut(out) {}
  Reader(const Reader&) = delete;
  Reader& operator=(const Reader&) = delete;

  // True when every required key was present exactly once and valid.
  bool operator()(SubSection& s) { return parse(s); }
  bool parse(SubSection& s);

 private:
  std::string mPrefix;
  std::ostream& mOut;
};

}  // namespace IniFile
