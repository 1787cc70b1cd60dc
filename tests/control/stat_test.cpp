// The statistics page generator over a small tree of objects: values,
// sections, iterations, suppression and the scanner's edge cases.
#include "control/StatHtml.h"

#include <gtest/gtest.h>

#include <map>
#include <sstream>
#include <vector>

namespace {

struct Node;

struct ListIterator : Stat::IteratorBase {
  explicit ListIterator(const std::vector<Node*>& v) : items(v) {}
  bool first() override {
    i = 0;
    return valid();
  }
  bool valid() const override { return i < items.size(); }
  bool next() override {
    ++i;
    return valid();
  }
  Stat::Object& object() const override;
  const std::vector<Node*>& items;
  size_t i = 0;
};

struct Node : Stat::Object {
  Node() = default;
  Node(std::initializer_list<std::pair<const std::string, std::string>> v) : values(v) {}
  Stat::Value statistics_value(std::string const& name) const override {
    auto it = values.find(name);
    return it == values.end() ? Stat::Value() : Stat::Value(it->second);
  }
  Stat::Object* statistics_object(std::string const& name) const override {
    auto it = children.find(name);
    return it == children.end() ? nullptr : it->second;
  }
  std::unique_ptr<Stat::IteratorBase> statistics_iterator(std::string const& name) const override {
    auto it = lists.find(name);
    if (it == lists.end()) return nullptr;
    return std::unique_ptr<Stat::IteratorBase>(new ListIterator(it->second));
  }
  std::map<std::string, std::string> values;
  std::map<std::string, Node*> children;
  std::map<std::string, std::vector<Node*>> lists;
};

Stat::Object& ListIterator::object() const { return *items[i]; }

std::string render(Node& root, const std::string& page) {
  std::istringstream in(page);
  std::ostringstream out;
  EXPECT_TRUE(Stat::Html::generateV1(root, out, in));
  return out.str();
}

}  // namespace

TEST(StatPage, ValuesAndWhatIsNoValue) {
  Node root{{"name", "board-7"}, {"uptime", "12 s"}, {"pct", "%x%"}};
  EXPECT_EQ(render(root, "<h1>%name%</h1> up %uptime%."), "<h1>board-7</h1> up 12 s.");
  // Two signs in a row are text, and start no value.
  EXPECT_EQ(render(root, "load 100%% of %name%"), "load 100%% of board-7");
  // A name nobody supplies stays as it stood.
  EXPECT_EQ(render(root, "a %nothing% b"), "a %nothing% b");
  // Markers back to back; a value's text is not scanned again.
  EXPECT_EQ(render(root, "%name%%uptime%|%pct%"), "board-712 s|%x%");
  // Inside a tag nothing is replaced.
  EXPECT_EQ(render(root, "<a href=\"/%name%\">%name%</a>"), "<a href=\"/%name%\">board-7</a>");
  // An unterminated value at the end of the template is dropped.
  EXPECT_EQ(render(root, "at 50%"), "at 50");
  EXPECT_EQ(render(root, "at 50%name"), "at 50");
  EXPECT_EQ(render(root, ""), "");
}

TEST(StatPage, OtherCommentsAndTagsAreCopied) {
  Node root{{"v", "1"}};
  const std::string plain = "<!-- note --><b>bold</b><!--GENERIC--><!-GEN.x--><!--gen.x-->";
  EXPECT_EQ(render(root, plain), plain);
  // The copy of a tag ends at its ">" and values count again after it.
  EXPECT_EQ(render(root, "<p %v%>%v%"), "<p %v%>1");
  // An unterminated section marker at the end is dropped.
  EXPECT_EQ(render(root, "x<!--GEN.ab"), "x");
}

TEST(StatPage, SectionsOpenSubObjectsAndFallBackToOuterValues) {
  Node box{{"v", "inner"}};
  Node root{{"v", "outer"}, {"title", "T"}};
  root.children["box"] = &box;
  EXPECT_EQ(render(root, "<!--GEN.box-->[%v% %title%]<!--GEN.end-->%v%"), "[inner T]outer");

  // A single dash belongs to the name; what follows the two closing dashes
  // up to ">" is skipped.
  Node dashed{{"v", "d"}};
  root.children["if-0"] = &dashed;
  EXPECT_EQ(render(root, "<!--GEN.if-0-- skipped -- text -->%v%<!--GEN.end-- x>!"), "d!");
}

TEST(StatPage, AMissingSectionWritesNothingUpToItsEnd) {
  Node box{{"v", "inner"}};
  Node root{{"v", "outer"}};
  root.children["box"] = &box;
  root.lists["ports"] = {&box};
  EXPECT_EQ(render(root, "a<!--GEN.missing-->hidden %v% <!--GEN.box-->in %v%<!--GEN.end--> "
                         "<!--GEN.ports-->p<!--GEN.end-->more<!--GEN.end-->b"),
            "ab");
}

TEST(StatPage, IteratedSectionsRepeatTheirBodyPerElement) {
  Node p1{{"n", "1"}}, p2{{"n", "2"}, {"unit", "kB"}}, p3{{"n", "3"}};
  Node root{{"unit", "B"}};
  root.lists["ports"] = {&p1, &p2, &p3};
  root.lists["none"] = {};
  EXPECT_EQ(render(root, "<ul><!--GEN.ports--><li>%n% %unit%</li><!--GEN.end--></ul>"),
            "<ul><li>1 B</li><li>2 kB</li><li>3 B</li></ul>");
  EXPECT_EQ(render(root, "<ul><!--GEN.none--><li>%n%</li><!--GEN.end--></ul>!"), "<ul></ul>!");

  // Iterations inside iterations come back to the right place.
  Node a{{"c", "a"}}, b{{"c", "b"}}, c{{"c", "c"}};
  Node r1, r2;
  r1.lists["cells"] = {&a, &b};
  r2.lists["cells"] = {&c};
  root.lists["rows"] = {&r1, &r2};
  EXPECT_EQ(render(root, "<!--GEN.rows-->[<!--GEN.cells-->%c%<!--GEN.end-->]<!--GEN.end-->."), "[ab][c].");
}

TEST(StatPage, AnEndAtTheOutermostLevelEndsThePage) {
  Node root{{"v", "1"}};
  EXPECT_EQ(render(root, "before %v%<!--GEN.end-->after %v%"), "before 1");
}

TEST(StatPage, TheGeneratorCanBeDrivenDirectly) {
  Node root{{"v", "1"}};
  std::istringstream in("x %v% <!--GEN.s-->");
  std::ostringstream out;
  Stat::Html::GeneratorV1 g(root, out, in);
  const auto t1 = g.parse();
  EXPECT_EQ(t1.type, Stat::Html::GeneratorV1::Token::Value);
  EXPECT_EQ(t1.name, "v");
  const auto t2 = g.parse();
  EXPECT_EQ(t2.type, Stat::Html::GeneratorV1::Token::Section);
  EXPECT_EQ(t2.name, "s");
  EXPECT_EQ(g.parse().type, Stat::Html::GeneratorV1::Token::End);
  EXPECT_EQ(out.str(), "x  ");
  EXPECT_FALSE(Stat::Value());
  EXPECT_TRUE(Stat::Value(""));
}
