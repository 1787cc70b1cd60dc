#include "config/Reader.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>

namespace {

enum Mode : int { ModeOff = 0, ModeOn = 1, ModeAuto = 7 };
const IniFile::Symbol<Mode> modeNames[] = {{"off", ModeOff}, {"on", ModeOn}, {"auto", ModeAuto}, {nullptr, ModeOff}};

enum class Small : unsigned char { A = 0, B = 255 };

struct Config {
  IniFile::File file;
  std::ostringstream log;

  explicit Config(const std::string& text) {
    std::istringstream in(text);
    in >> file;
  }
  IniFile::SubSection& section(const std::string& name, int n = 0) {
    IniFile::Section& s = file[name];
    auto it = s.begin();
    while (n--) ++it;
    return *it;
  }
};

}  // namespace

TEST(IniReader, RequiredKeysPresentOnceAreConverted) {
  Config c("[link]\nhost = 10.0.0.1\nenabled = enable\nmode = auto\nempty =\n");
  std::string host, empty = "x";
  bool enabled = false;
  Mode mode = ModeOff;
  IniFile::Reader r("snmpagent: ", c.log);
  bool& hostOk = r.required.add(&host, "host");
  bool& enabledOk = r.required.add(&enabled, "enabled");
  bool& modeOk = r.required.add(&mode, "mode", modeNames);
  bool& emptyOk = r.required.add(&empty, "empty");
  EXPECT_FALSE(hostOk);
  EXPECT_TRUE(r(c.section("link")));
  EXPECT_EQ(c.log.str(), "");
  EXPECT_EQ(host, "10.0.0.1");
  EXPECT_TRUE(enabled);
  EXPECT_EQ(mode, ModeAuto);
  EXPECT_EQ(empty, "");
  EXPECT_TRUE(hostOk && enabledOk && modeOk && emptyOk);
}

TEST(IniReader, RequiredKeyMissingReportsTheHeaderLine) {
  Config c("\n\n[link]\nother=1\n");
  std::string host = "keep";
  IniFile::Reader r("snmpagent: ", c.log);
  r.required.add(&host, "host");
  EXPECT_FALSE(r(c.section("link")));
  EXPECT_EQ(c.log.str(), "snmpagent: required key \"host\" not present, line 3\n");
  EXPECT_EQ(host, "keep");

  // an occurrence made up for an absent section
  IniFile::Section& none = c.file["absent"];
  none.CheckEmpty();
  c.log.str("");
  EXPECT_FALSE(r(*none.begin()));
  EXPECT_EQ(c.log.str(), "snmpagent: required key \"host\" not present, line -1\n");
}

TEST(IniReader, RequiredKeyInvalidOrRepeatedFailsWithTheLines) {
  {
    Config c("[s]\nflag = on\n");
    bool flag = true;
    IniFile::Reader r("p: ", c.log);
    bool& ok = r.required.add(&flag, "flag");
    EXPECT_FALSE(r(c.section("s")));
    EXPECT_FALSE(ok);
    EXPECT_TRUE(flag);
    EXPECT_EQ(c.log.str(), "p: required key \"flag\" has invalid value=\"on\", line 2\n");
  }
  {
    Config c("[s]\nk=1\n\nk=2\n");
    std::string k;
    IniFile::Reader r("p: ", c.log);
    r.required.add(&k, "k");
    EXPECT_FALSE(r(c.section("s")));
    EXPECT_EQ(c.log.str(),
              "p: required key \"k\" is duplicated!\n"
              "p:  first occurence at 2 line.\n"
              "p:  second occurence at 4 line.\n");
    EXPECT_EQ(k, "");
  }
  {
    Config c("[s]\nk=1\nk=2\nk=3\n#\nk=4\n");
    std::string k;
    IniFile::Reader r("p: ", c.log);
    r.required.add(&k, "k");
    EXPECT_FALSE(r(c.section("s")));
    EXPECT_EQ(c.log.str(), "p: required key \"k\" specified more than once: 2 3 4 6 lines\n");
  }
}

TEST(IniReader, FirstFailingRequiredKeyStopsTheReading) {
  Config c("[s]\na=yes\nb=maybe\nc=no\no=yes\n");
  bool a = false, b = false, cc = true, o = false;
  IniFile::Reader r("", c.log);
  bool& aOk = r.required.add(&a, "a");
  bool& bOk = r.required.add(&b, "b");
  bool& cOk = r.required.add(&cc, "c");
  bool& oOk = r.optional.add(&o, "o");
  EXPECT_FALSE(r(c.section("s")));
  EXPECT_EQ(c.log.str(), "required key \"b\" has invalid value=\"maybe\", line 3\n");
  EXPECT_TRUE(a);
  EXPECT_TRUE(aOk);
  EXPECT_FALSE(bOk);
  EXPECT_TRUE(cc);  // not looked at
  EXPECT_FALSE(cOk);
  EXPECT_FALSE(o);
  EXPECT_FALSE(oOk);
}

TEST(IniReader, OptionalKeyProblemsAreReportedAndIgnored) {
  Config c(
      "[traces]\n"                 // 1
      "signalling.hdlc = on\n"     // 2
      "signalling.events=yes\n"    // 3
      "signalling.events=no\n"     // 4
      "monitoring.internal=1\n"    // 5
      "monitoring.internal=0\n"    // 6
      "monitoring.internal=1\n"    // 7
      "good = disabled\n");        // 8
  bool hdlc = true, events = true, internal = false, good = true, absent = true;
  IniFile::Reader r("traces: ", c.log);
  bool& hdlcOk = r.optional.add(&hdlc, "signalling.hdlc");
  bool& eventsOk = r.optional.add(&events, "signalling.events");
  bool& internalOk = r.optional.add(&internal, "monitoring.internal");
  bool& goodOk = r.optional.add(&good, "good");
  bool& absentOk = r.optional.add(&absent, "absent");
  EXPECT_TRUE(r(c.section("traces")));
  EXPECT_EQ(c.log.str(),
            "traces: optional key \"signalling.hdlc\" has invalid value=\"on\", line 2. Key will be ignored.\n"
            "traces: optional key \"signalling.events\" is duplicated!\n"
            "traces:  first occurence at 3 line.\n"
            "traces:  second occurence at 4 line. Both keys will be ignored.\n"
            "traces: optional key \"monitoring.internal\" specified more than once: 5 6 7 lines. All keys will be "
            "ignored.\n");
  EXPECT_TRUE(hdlc);
  EXPECT_TRUE(events);
  EXPECT_FALSE(internal);
  EXPECT_FALSE(good);
  EXPECT_TRUE(absent);
  EXPECT_FALSE(hdlcOk || eventsOk || internalOk || absentOk);
  EXPECT_TRUE(goodOk);
}

TEST(IniReader, BoolWordsAreExactAndCaseSensitive) {
  for (const char* w : {"true", "yes", "enabled", "enable", "1"}) {
    bool v = false;
    IniFile::Private::TKeyValue<bool> kv(&v, "k", nullptr);
    EXPECT_TRUE(kv.parse(w)) << w;
    EXPECT_TRUE(v) << w;
  }
  for (const char* w : {"false", "no", "disabled", "disable", "0"}) {
    bool v = true;
    IniFile::Private::TKeyValue<bool> kv(&v, "k", nullptr);
    EXPECT_TRUE(kv.parse(w)) << w;
    EXPECT_FALSE(v) << w;
  }
  for (const char* w : {"on", "off", "True", "YES", "", "2", "yes "}) {
    bool v = true;
    IniFile::Private::TKeyValue<bool> kv(&v, "k", nullptr);
    EXPECT_FALSE(kv.parse(w)) << w;
    EXPECT_FALSE(kv.ok()) << w;
    EXPECT_TRUE(v) << w;
  }
}

TEST(IniReader, EnumerationsByNameOrByNumber) {
  struct Case {
    const char* text;
    bool ok;
    Mode expect;
  };
  const Case cases[] = {
      {"on", true, ModeOn},     {"auto", true, ModeAuto}, {"0x7", true, ModeAuto}, {"07", true, ModeAuto},
      {"1", true, ModeOn},      {"-1", true, Mode(-1)},   {"7x", false, ModeOn},   {"", false, ModeOn},
      {"On", false, ModeOn},    {"08", false, ModeOn},    {"99999999999999999999", false, ModeOn},
  };
  for (const Case& t : cases) {
    Mode m = ModeOn;
    IniFile::Private::TKeyValue<Mode> kv(&m, "mode", modeNames);
    EXPECT_EQ(kv.parse(t.text), t.ok) << t.text;
    EXPECT_EQ(m, t.expect) << t.text;
  }
  // without a table only numbers apply
  Mode m = ModeOff;
  IniFile::Private::TKeyValue<Mode> bare(&m, "mode", nullptr);
  EXPECT_FALSE(bare.parse("on"));
  EXPECT_TRUE(bare.parse("0x1"));
  EXPECT_EQ(m, ModeOn);
  // a number the enumeration cannot hold is refused
  Small s = Small::A;
  IniFile::Private::TKeyValue<Small> small(&s, "s", nullptr);
  EXPECT_FALSE(small.parse("256"));
  EXPECT_FALSE(small.parse("-1"));
  EXPECT_TRUE(small.parse("0xff"));
  EXPECT_EQ(s, Small::B);
}

TEST(IniReader, TwoBindingsOfOneKeyReadTheSameOccurrence) {
  Config c("[s]\nmode=0x1\n");
  std::string text;
  Mode mode = ModeOff;
  IniFile::Reader r("", c.log);
  r.required.add(&text, "mode");
  r.optional.add(&mode, "mode", modeNames);
  EXPECT_TRUE(r(c.section("s")));
  EXPECT_EQ(text, "0x1");
  EXPECT_EQ(mode, ModeOn);
  EXPECT_EQ(c.log.str(), "");
}

TEST(IniReader, OneReaderOverSeveralOccurrences) {
  Config c("[agent]\nhost=a\n[agent]\nport=2\n[agent]\nhost=c\n");
  std::string host;
  IniFile::Reader r("snmpagent: ", c.log);
  bool& ok = r.required.add(&host, "host");
  std::string results;
  for (IniFile::SubSection& s : c.file["agent"]) {
    bool good = r(s);
    results += std::string(good ? "+" : "-") + (ok ? "1" : "0") + host + " ";
  }
  EXPECT_EQ(results, "+1a -0a +1c ");
  EXPECT_EQ(c.log.str(), "snmpagent: required key \"host\" not present, line 3\n");
  // the lookup left an empty key in the model
  auto second = ++c.file["agent"].begin();
  EXPECT_EQ((*second)["host"].GetCount(), 0);
}
