#include "config/IniFile.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

void load(IniFile::File& f, const std::string& text) {
  std::istringstream in(text);
  in >> f;
}

// Every occurrence of one key in one occurrence of a section, as
// "value@line" texts.
std::vector<std::string> occurrences(IniFile::SubSection& s, const std::string& key) {
  std::vector<std::string> out;
  for (IniFile::SubKey& k : s[key]) out.push_back(k.GetStr() + "@" + std::to_string(k.GetLineNo()));
  return out;
}

IniFile::SubSection& nth(IniFile::Section& s, int n) {
  auto it = s.begin();
  while (n--) ++it;
  return *it;
}

typedef std::vector<std::string> Texts;

}  // namespace

TEST(IniFileParser, RepeatedSectionsAndKeysKeepEveryOccurrence) {
  IniFile::File f;
  load(f,
       "[a]\n"       // 1
       "k=1\n"       // 2
       "[b]\n"       // 3
       "x=y\n"       // 4
       "[a]\n"       // 5
       "k=2\n"       // 6
       "k=3\n");     // 7
  EXPECT_TRUE(f.IsOpen());
  EXPECT_EQ(f.GetCount(), 2);
  IniFile::Section& a = f["a"];
  ASSERT_EQ(a.GetCount(), 2);
  EXPECT_EQ(nth(a, 0).GetLineNo(), 1);
  EXPECT_EQ(nth(a, 1).GetLineNo(), 5);
  EXPECT_EQ(occurrences(nth(a, 0), "k"), Texts({"1@2"}));
  EXPECT_EQ(occurrences(nth(a, 1), "k"), Texts({"2@6", "3@7"}));
  EXPECT_EQ(f["b"].GetCount(), 1);
  // sections in order of first appearance
  Texts names;
  for (IniFile::Section& s : f) names.push_back(s.GetName());
  EXPECT_EQ(names, Texts({"a", "b"}));
}

TEST(IniFileParser, BlanksAroundKeysAndValuesAreTrimmedInnerOnesKept) {
  IniFile::File f;
  load(f, "[s]\n   my  key   =  one two   # a note\n");
  IniFile::SubSection& s = nth(f["s"], 0);
  EXPECT_EQ(s.GetCount(), 1);
  EXPECT_EQ(occurrences(s, "my  key"), Texts({"one two@2"}));
}

TEST(IniFileParser, CommentsStartAtLineStartAfterEqualsAndAfterABlankInAValue) {
  IniFile::File f;
  load(f,
       "# leading comment [x]\n"  // 1: not a header
       "[s] trailing text # and a comment\n"  // 2
       "glued=a#b\n"                          // 3
       "spaced=a #b\n"                        // 4
       "empty1=#x\n"                          // 5
       "empty2=   # x\n"                      // 6
       "  # k=v\n"                            // 7: comment line
       "k#ey=v\n");                           // 8: "#" is ordinary in a key name
  EXPECT_EQ(f.GetCount(), 1);
  IniFile::SubSection& s = nth(f["s"], 0);
  EXPECT_EQ(s.GetLineNo(), 2);
  EXPECT_EQ(occurrences(s, "glued"), Texts({"a#b@3"}));
  EXPECT_EQ(occurrences(s, "spaced"), Texts({"a@4"}));
  EXPECT_EQ(occurrences(s, "empty1"), Texts({"@5"}));
  EXPECT_EQ(occurrences(s, "empty2"), Texts({"@6"}));
  EXPECT_EQ(occurrences(s, "k#ey"), Texts({"v@8"}));
  EXPECT_EQ(s.GetCount(), 5);
}

TEST(IniFileParser, TabsAreSkippedOnlyAtLineStart) {
  IniFile::File f;
  load(f, "[s]\n\t \tkey\t=\tv\t\n");
  IniFile::SubSection& s = nth(f["s"], 0);
  Texts keys;
  for (IniFile::Key& k : s) keys.push_back(k.GetName());
  EXPECT_EQ(keys, Texts({"key\t"}));
  EXPECT_EQ(s["key\t"].GetStr(), "\tv\t");
}

TEST(IniFileParser, CarriageReturnsAreIgnoredAnywhere) {
  IniFile::File crlf, lf;
  load(crlf, "[s]\r\nk = v\r\nw=x\ry\r\n");
  load(lf, "[s]\nk = v\nw=xy\n");
  std::ostringstream a, b;
  crlf.Dump(a);
  lf.Dump(b);
  EXPECT_EQ(a.str(), b.str());
  EXPECT_EQ(occurrences(nth(crlf["s"], 0), "w"), Texts({"xy@3"}));
}

TEST(IniFileParser, LineWithoutEqualsLeavesNoTraceAndAHeaderFollowsNormally) {
  IniFile::File f;
  load(f, "[s]\njust words\n[t]\nk=v\n");
  EXPECT_EQ(nth(f["s"], 0).GetCount(), 0);
  EXPECT_EQ(occurrences(nth(f["t"], 0), "k"), Texts({"v@4"}));
}

TEST(IniFileParser, UnterminatedHeaderIsDroppedWithItsKeys) {
  IniFile::File f;
  load(f, "[s]\na=1\n[broken\nb=2\n[t]\nc=3\n");
  EXPECT_EQ(f.GetCount(), 2);
  EXPECT_EQ(nth(f["s"], 0).GetCount(), 1);
  EXPECT_EQ(occurrences(nth(f["t"], 0), "c"), Texts({"3@6"}));
  // "b" went nowhere; looking "broken" up creates it empty
  EXPECT_EQ(f["broken"].GetCount(), 0);
}

TEST(IniFileParser, HeaderNamesAreTakenVerbatim) {
  IniFile::File f;
  load(f, "[ a [b #c ]\nk=v\n");
  EXPECT_EQ(f.begin()->GetName(), " a [b #c ");
}

TEST(IniFileParser, KeysBeforeAnyHeaderAreIgnored) {
  IniFile::File f;
  load(f, "k=v\n[s]\n");
  EXPECT_EQ(f.GetCount(), 1);
  EXPECT_EQ(nth(f["s"], 0).GetCount(), 0);
}

TEST(IniFileParser, LastLineWithoutLineEndIsStored) {
  {
    IniFile::File f;
    load(f, "[s]\nk = v w  ");
    EXPECT_EQ(occurrences(nth(f["s"], 0), "k"), Texts({"v w@2"}));
  }
  {
    IniFile::File f;
    load(f, "[s]\n\nk =");
    EXPECT_EQ(occurrences(nth(f["s"], 0), "k"), Texts({"@3"}));
  }
  {
    IniFile::File f;
    load(f, "[s]\nk");  // a key name without "=" is dropped
    EXPECT_EQ(nth(f["s"], 0).GetCount(), 0);
  }
  {
    IniFile::File f;
    load(f, "[s]\nk=v #note");  // the comment runs into the end
    EXPECT_EQ(occurrences(nth(f["s"], 0), "k"), Texts({"v@2"}));
  }
}

TEST(IniFileParser, QuotesAndBytesAbove127AreOrdinary) {
  IniFile::File f;
  load(f, "[s]\n\"k\"=\"a b\"\nu=\xc3\xa9\xff\n");
  IniFile::SubSection& s = nth(f["s"], 0);
  EXPECT_EQ(s["\"k\""].GetStr(), "\"a b\"");
  EXPECT_EQ(s["u"].GetStr(), "\xc3\xa9\xff");
}

TEST(IniFileModel, LookupCreatesMissingEntries) {
  IniFile::File f;
  IniFile::Section& s = f["none"];
  EXPECT_EQ(f.GetCount(), 1);
  EXPECT_EQ(s.GetCount(), 0);
  s.CheckEmpty();
  ASSERT_EQ(s.GetCount(), 1);
  IniFile::SubSection& sub = *s.begin();
  EXPECT_EQ(sub.GetLineNo(), -1);
  IniFile::Key& k = sub["missing"];
  EXPECT_EQ(k.GetCount(), 0);
  EXPECT_EQ(k.GetStr(), "");
  EXPECT_EQ(k.GetCount(), 1);
  EXPECT_EQ(k.GetFirstSubKey()->GetLineNo(), -1);
  EXPECT_EQ(k.GetFirstSubKey(), k.GetLastSubKey());
  s.CheckEmpty();  // already has one
  EXPECT_EQ(s.GetCount(), 1);
}

TEST(IniFileModel, ReadingAgainReplacesTheModel) {
  IniFile::File f;
  load(f, "[a]\nk=1\n");
  load(f, "[b]\nk=2\n");
  EXPECT_EQ(f.GetCount(), 1);
  EXPECT_EQ(f.begin()->GetName(), "b");
}

TEST(IniFileModel, OpenReadsAFileAndFailsOnAMissingOne) {
  char path[] = "/tmp/qv_inifile_XXXXXX";
  int fd = mkstemp(path);
  ASSERT_GE(fd, 0);
  const std::string text = "[s]\nk=v\n";
  ASSERT_EQ(write(fd, text.data(), text.size()), static_cast<ssize_t>(text.size()));
  close(fd);

  IniFile::File f(path);
  EXPECT_TRUE(f.IsOpen());
  EXPECT_EQ(f.GetFileName(), path);
  EXPECT_EQ(f["s"].begin()->operator[]("k").GetStr(), "v");

  std::remove(path);
  EXPECT_FALSE(f.Open(path));
  EXPECT_FALSE(f.IsOpen());
  EXPECT_EQ(f.GetCount(), 0);
  EXPECT_EQ(f.GetFileName(), path);

  IniFile::File empty;
  char path2[] = "/tmp/qv_inifile_XXXXXX";
  fd = mkstemp(path2);
  close(fd);
  EXPECT_TRUE(empty.Open(path2));
  EXPECT_EQ(empty.GetCount(), 0);
  std::remove(path2);
}

TEST(IniFileModel, AFileThatCannotBeReadIsNotOpenAndThrowsNothing) {
  char dir[] = "/tmp/qv_inifile_dir_XXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  IniFile::File f;
  bool opened = true;
  EXPECT_NO_THROW(opened = f.Open(dir));
  EXPECT_FALSE(opened);
  EXPECT_FALSE(f.IsOpen());
  EXPECT_EQ(f.GetCount(), 0);
  rmdir(dir);
}

TEST(IniFileSubKey, TypedAccess) {
  IniFile::SubKey k("yes", 1);
  EXPECT_TRUE(k.GetBool(false));
  for (const char* w : {"true", "yes", "1", "on"}) {
    k.GetStr() = w;
    EXPECT_TRUE(k.GetBool(false)) << w;
  }
  for (const char* w : {"false", "no", "0", "off"}) {
    k.GetStr() = w;
    EXPECT_FALSE(k.GetBool(true)) << w;
  }
  for (const char* w : {"Yes", "TRUE", "", "enabled", " yes"}) {
    k.GetStr() = w;
    EXPECT_TRUE(k.GetBool(true)) << w;
    EXPECT_FALSE(k.GetBool(false)) << w;
  }
  k.SetBool(true);
  EXPECT_EQ(k.GetStr(), "yes");
  k.SetBool(false);
  EXPECT_EQ(k.GetStr(), "no");

  k.GetStr() = "12abc";
  EXPECT_EQ(k.GetInt(-1), 12);
  k.GetStr() = "  -7";
  EXPECT_EQ(k.GetInt(0), -7);
  k.GetStr() = "x1";
  EXPECT_EQ(k.GetInt(5), 5);
  k.GetStr() = "99999999999";  // beyond int
  EXPECT_EQ(k.GetInt(5), 5);
  k.SetInt(-42);
  EXPECT_EQ(k.GetStr(), "-42");

  k.GetStr() = "2.5e1x";
  EXPECT_FLOAT_EQ(k.GetFloat(0), 25.0f);
  k.GetStr() = "abc";
  EXPECT_FLOAT_EQ(k.GetFloat(1.5f), 1.5f);
  k.SetFloat(0.1f);
  EXPECT_EQ(k.GetStr(), "0.1");
  k.SetFloat(1234567.0f);
  EXPECT_EQ(k.GetStr(), "1.23457e+06");
}

TEST(IniFileModel, DumpTexts) {
  IniFile::File f;
  load(f, "[s]\nk=v\nk=w\n");
  std::ostringstream os;
  f.Dump(os);
  EXPECT_EQ(os.str(),
            "dumping IniFile::File\n"
            "mFileName=\"\"\n"
            "\n"
            "mSectionCount=1\n"
            "dumping IniFile::Section\n"
            "mName=\"s\"\n"
            "mSubSectionCount=1\n"
            "dumping IniFile::SubSection\n"
            "mLineNo=\"1\"\n"
            "mKeyCount=1\n"
            "dumping IniFile::Key\n"
            "mName=\"k\"\n"
            "mSubKeyCount=2\n"
            "dumping IniFile::SubKey\n"
            "mValue=\"v\"\n"
            "mLineNo=2\n"
            "dumping IniFile::SubKey\n"
            "mValue=\"w\"\n"
            "mLineNo=3\n");
}
