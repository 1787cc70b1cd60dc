#include "config/Reader.h"

#include <cstring>
#include <ostream>

namespace IniFile {
namespace Private {

bool parseBool(const char* text, bool& out) {
  static const char* const yes[] = {"true", "yes", "enabled", "enable", "1"};
  static const char* const no[] = {"false", "no", "disabled", "disable", "0"};
  for (const char* w : yes)
    if (std::strcmp(w, text) == 0) {
      out = true;
      return true;
    }
  for (const char* w : no)
    if (std::strcmp(w, text) == 0) {
      out = false;
      return true;
    }
  return false;
}

}  // namespace Private

Reader::Field::~Field() {
  for (Private::KeyValue* kv : mItems) delete kv;
}

bool& Reader::Field::add(Private::KeyValue* kv) {
  mItems.push_back(kv);
  return kv->ok();
}

bool Reader::parse(SubSection& s) {
  // A Reader may be run on several occurrences: every flag describes the
  // latest reading only.
  for (Private::KeyValue* kv : required) kv->ok() = false;
  for (Private::KeyValue* kv : optional) kv->ok() = false;

  for (Private::KeyValue* kv : required) {
    Key& key = s[kv->name()];
    const int count = key.GetCount();
    if (count == 1) {
      SubKey* sk = key.GetFirstSubKey();
      if (!kv->parse(sk->GetStr())) {
        mOut << mPrefix << "required key \"" << kv->name() << "\" has invalid value=\"" << sk->GetStr() << "\","
             << " line " << sk->GetLineNo() << '\n';
        return false;
      }
    } else if (count == 0) {
      mOut << mPrefix << "required key \"" << kv->name() << "\" not present, line " << s.GetLineNo() << '\n';
      return false;
    } else if (count == 2) {
      mOut << mPrefix << "required key \"" << kv->name() << "\" is duplicated!" << '\n'
           << mPrefix << " first occurence at " << key.GetFirstSubKey()->GetLineNo() << " line." << '\n'
           << mPrefix << " second occurence at " << key.GetLastSubKey()->GetLineNo() << " line." << '\n';
      return false;
    } else {
      mOut << mPrefix << "required key \"" << kv->name() << "\" specified more than once:";
      for (const SubKey& sk : key) mOut << ' ' << sk.GetLineNo();
      mOut << " lines" << '\n';
      return false;
    }
  }

  for (Private::KeyValue* kv : optional) {
    Key& key = s[kv->name()];
    const int count = key.GetCount();
    if (count == 0) continue;
    if (count == 1) {
      SubKey* sk = key.GetFirstSubKey();
      if (!kv->parse(sk->GetStr()))
        mOut << mPrefix << "optional key \"" << kv->name() << "\" has invalid value=\"" << sk->GetStr() << "\","
             << " line " << sk->GetLineNo() << ". Key will be ignored." << '\n';
    } else if (count == 2) {
      mOut << mPrefix << "optional key \"" << kv->name() << "\" is duplicated!" << '\n'
           << mPrefix << " first occurence at " << key.GetFirstSubKey()->GetLineNo() << " line." << '\n'
           << mPrefix << " second occurence at " << key.GetLastSubKey()->GetLineNo()
           << " line. Both keys will be ignored." << '\n';
    } else {
      mOut << mPrefix << "optional key \"" << kv->name() << "\" specified more than once:";
      for (const SubKey& sk : key) mOut << ' ' << sk.GetLineNo();
      mOut << " lines." << " All keys will be ignored." << '\n';
    }
  }
  return true;
}

}  // namespace IniFile
