// The two SEQUENCE walks with their hook results, the const visitor's
// defaults, and the coder environment's rule dispatch.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "DemoTypes.h"

using namespace ASN1;

namespace {

// Records the hooks a reading walk calls.
class ReadRecorder : public ConstVisitor {
 public:
  std::vector<std::string> calls;
  int failAtField = -1;

 protected:
  bool do_visit(AbstractData const&) override {
    calls.push_back("value");
    return true;
  }
  bool preVisitExtensionRoots(SEQUENCE const&) override {
    calls.push_back("pre");
    return true;
  }
  bool visitExtensionRoot(SEQUENCE const&, int i) override {
    calls.push_back("root " + std::to_string(i));
    return i != failAtField;
  }
  bool preVisitExtensions(SEQUENCE const&) override {
    calls.push_back("preExt");
    return true;
  }
  bool visitKnownExtension(SEQUENCE const&, int i) override {
    calls.push_back("ext " + std::to_string(i));
    return true;
  }
  bool afterVisitSequence(SEQUENCE const&) override {
    calls.push_back("after");
    return true;
  }
};

// A changing walk whose hook results the test chooses.
class WriteRecorder : public Visitor {
 public:
  std::vector<std::string> calls;
  int preRoots = 3;
  int rootResult = 2;
  int stopAtField = -1;
  int preExt = 3;
  int extResult = 3;

 protected:
  bool do_visit(Null&) override { return true; }
  bool do_visit(BOOLEAN&) override { return true; }
  bool do_visit(INTEGER&) override {
    calls.push_back("integer");
    return true;
  }
  bool do_visit(ENUMERATED&) override { return true; }
  bool do_visit(OBJECT_IDENTIFIER&) override { return true; }
  bool do_visit(OCTET_STRING&) override { return true; }
  bool do_visit(BIT_STRING&) override { return true; }
  bool do_visit(AbstractString&) override { return true; }
  bool do_visit(BMPString&) override { return true; }
  bool do_visit(CHOICE&) override { return true; }
  bool do_visit(SEQUENCE_OF_Base&) override { return true; }
  bool do_visit(OpenData&) override { return true; }
  bool do_revisit(OpenData&) override { return true; }
  bool do_visit(TypeConstrainedOpenData&) override { return true; }
  bool do_visit(GeneralizedTime&) override { return true; }

  int preVisitExtensionRoots(SEQUENCE&) override {
    calls.push_back("pre");
    return preRoots;
  }
  int visitExtensionRoot(SEQUENCE&, int i, int opt) override {
    calls.push_back("root " + std::to_string(i) + "/" + std::to_string(opt));
    return i == stopAtField ? 1 : rootResult;
  }
  int preVisitExtensions(SEQUENCE&) override {
    calls.push_back("preExt");
    return preExt;
  }
  int visitKnownExtension(SEQUENCE&, int i, int opt) override {
    calls.push_back("ext " + std::to_string(i) + "/" + std::to_string(opt));
    return extResult;
  }
  bool visitUnknownExtensions(SEQUENCE&) override {
    calls.push_back("unknown");
    return true;
  }
};

typedef std::vector<std::string> Calls;

}  // namespace

TEST(ConstWalk, PresentRootFieldsOnlyWithoutExtensions) {
  Demo::Item item;
  ReadRecorder r;
  EXPECT_TRUE(item.accept(r));
  EXPECT_EQ((Calls{"pre", "root 0", "after"}), r.calls);

  item.set_label("x");
  ReadRecorder r2;
  EXPECT_TRUE(item.accept(r2));
  EXPECT_EQ((Calls{"pre", "root 0", "root 1", "after"}), r2.calls);

  ReadRecorder r3;
  r3.failAtField = 0;
  EXPECT_FALSE(item.accept(r3));
  EXPECT_EQ((Calls{"pre", "root 0"}), r3.calls);
}

TEST(ConstWalk, PresentAdditionsAfterTheRoot) {
  Demo::Params p;
  p.set_items();
  p.set_flag(true);  // the second addition only
  ReadRecorder r;
  EXPECT_TRUE(p.accept(r));
  EXPECT_EQ((Calls{"pre", "root 0", "root 2", "root 3", "preExt", "ext 5", "after"}), r.calls);
}

TEST(ChangingWalk, HookResultsSteerTheWalk) {
  Demo::Params p;
  WriteRecorder all;
  EXPECT_TRUE(p.accept(all));
  EXPECT_EQ((Calls{"pre", "root 0/-1", "root 1/0", "root 2/-1", "root 3/1", "preExt", "ext 4/2", "ext 5/3",
                   "unknown"}),
            all.calls);

  WriteRecorder rootsOnly;
  rootsOnly.preRoots = 2;
  EXPECT_TRUE(p.accept(rootsOnly));
  EXPECT_EQ((Calls{"pre", "root 0/-1", "root 1/0", "root 2/-1", "root 3/1"}), rootsOnly.calls);

  WriteRecorder finished;
  finished.preRoots = 1;
  EXPECT_TRUE(p.accept(finished));
  EXPECT_EQ((Calls{"pre"}), finished.calls);

  WriteRecorder failed;
  failed.preRoots = 0;
  EXPECT_FALSE(p.accept(failed));

  WriteRecorder stop;
  stop.stopAtField = 0;
  EXPECT_TRUE(p.accept(stop));
  EXPECT_EQ((Calls{"pre", "root 0/-1"}), stop.calls);

  WriteRecorder rootFails;
  rootFails.rootResult = 0;
  EXPECT_FALSE(p.accept(rootFails));
  EXPECT_EQ(2u, rootFails.calls.size());

  WriteRecorder extStops;
  extStops.extResult = 1;
  EXPECT_TRUE(p.accept(extStops));
  EXPECT_EQ("ext 4/2", extStops.calls.back());

  WriteRecorder noExt;
  noExt.preExt = 2;
  EXPECT_TRUE(p.accept(noExt));
  EXPECT_EQ("preExt", noExt.calls.back());
  noExt.preExt = 0;
  EXPECT_FALSE(p.accept(noExt));
}

TEST(ChangingWalk, NamedNumberIntegerReachesTheIntegerEntry) {
  static const IntegerWithNamedNumber::NameEntry entries[] = {{1, "one"}};
  static const IntegerWithNamedNumber::InfoType info = {&INTEGER::create, 2, Unconstrained, 0, 4294967295u, entries,
                                                        1};
  IntegerWithNamedNumber v(1, &info);
  WriteRecorder w;
  EXPECT_TRUE(v.accept(w));
  EXPECT_EQ((Calls{"integer"}), w.calls);

  ReadRecorder r;
  EXPECT_TRUE(static_cast<AbstractData const&>(v).accept(r));
  EXPECT_EQ((Calls{"value"}), r.calls);
  ReadRecorder r2;
  EXPECT_TRUE(static_cast<AbstractData const&>(Demo::Mode()).accept(r2));
  EXPECT_EQ((Calls{"value"}), r2.calls);
}

TEST(ChangingWalk, EnvironmentIsCarried) {
  CoderEnv env;
  class EnvProbe : public Visitor {
   public:
    explicit EnvProbe(CoderEnv* e) : Visitor(e) {}
    bool do_visit(Null&) override { return true; }
    bool do_visit(BOOLEAN&) override { return true; }
    bool do_visit(INTEGER&) override { return true; }
    bool do_visit(ENUMERATED&) override { return true; }
    bool do_visit(OBJECT_IDENTIFIER&) override { return true; }
    bool do_visit(OCTET_STRING&) override { return true; }
    bool do_visit(BIT_STRING&) override { return true; }
    bool do_visit(AbstractString&) override { return true; }
    bool do_visit(BMPString&) override { return true; }
    bool do_visit(CHOICE&) override { return true; }
    bool do_visit(SEQUENCE_OF_Base&) override { return true; }
    bool do_visit(OpenData&) override { return true; }
    bool do_revisit(OpenData&) override { return true; }
    bool do_visit(TypeConstrainedOpenData&) override { return true; }
    bool do_visit(GeneralizedTime&) override { return true; }
  } probe(&env);
  EXPECT_EQ(&env, probe.get_env());
  // The default per-field hooks fail.
  Demo::Item item;
  EXPECT_FALSE(item.accept(probe));
}

TEST(CoderEnvironment, RuleDispatch) {
  Demo::Message m;
  m.set_seq(3);
  m.set_pdu().select_destroy();
  std::vector<char> out;

  CoderEnv unset;
  EXPECT_FALSE(encode(m, &unset, std::back_inserter(out)));
  EXPECT_TRUE(out.empty());

  CoderEnv env;
  env.set_encodingRule(7);
  EXPECT_FALSE(encode(m, &env, std::back_inserter(out)));
  EXPECT_TRUE(out.empty());
  char const bytes[] = {0x40, 0x00};
  Demo::Message before(m);
  EXPECT_FALSE(decode(bytes, bytes + 2, &env, m, true));
  EXPECT_TRUE(m == before);

  env.set_encodingRule(CoderEnv::avn);
  EXPECT_EQ(CoderEnv::avn, env.get_encodingRule());
  out.assign(1, '>');
  EXPECT_TRUE(encode(m, &env, std::back_inserter(out)));
  EXPECT_EQ(">{\n  seq 3,\n  pdu destroy : NULL\n}", std::string(out.begin(), out.end()));

  // A value that cannot be printed writes nothing.
  Demo::Message unselected;
  out.clear();
  EXPECT_FALSE(encode(unselected, &env, std::back_inserter(out)));
  EXPECT_TRUE(out.empty());
  EXPECT_TRUE(env.modules().empty());
}
