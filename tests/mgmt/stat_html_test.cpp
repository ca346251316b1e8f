// Statistics pages from templates: whole pages against golden files, and the template syntax's
// corner cases as a table.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>

#include "monitoring/StatHtml.h"
#include "tests/mgmt/StatTree.h"

namespace {

using Node = vxtest::StatNode;

std::string generate(Stat::Object& root, std::istream&& in) {
  std::ostringstream out;
  Stat::Html::generateV1(root, out, in);
  return out.str();
}
std::string generate(Stat::Object& root, const std::string& text) { return generate(root, std::istringstream(text)); }
std::string page(Stat::Object& root) {
  return generate(root, std::ifstream(VX_TEST_SOURCE_DIR "/pages/board.tmpl", std::ios::binary));
}
std::string golden(const char* name) {
  std::ostringstream s;
  s << std::ifstream(std::string(VX_TEST_SOURCE_DIR "/pages/") + name, std::ios::binary).rdbuf();
  return s.str();
}

TEST(StatHtml, PagesMatchTheirGoldenFiles) {
  Node root, board, pool, t0, t1, ais, rai;
  root.values = {{"name", "gw-7"}, {"uptime", "3 days"}};
  board.values = {{"serial", "SN123"}, {"firmware", "2.4"}};
  pool.values = {{"free", "12"}, {"total", "16"}};
  t0.values = {{"index", "0"}, {"state", "up"}};
  t0.lists["alarms"] = {};
  t1.values = {{"index", "1"}, {"state", "LOS"}};
  ais.values = {{"text", "AIS"}};
  rai.values = {{"text", "RAI"}};
  t1.lists["alarms"] = {&ais, &rai};
  root.children = {{"board", &board}, {"dsp-pool", &pool}};
  root.lists = {{"trunks", {&t0, &t1}}, {"empty-list", {}}};
  EXPECT_EQ(page(root), golden("board.html"));
  Node bare;
  bare.values = {{"name", "gw-8"}};
  EXPECT_EQ(page(bare), golden("board-bare.html"));
}

TEST(StatHtml, TemplateSyntax) {
  Node root, child, a, b, c;
  root.values = {{"x", "X"}, {"a", "root-a"}, {"b", "root-b"}};
  child.values = {{"a", "child-a"}, {"v", "V"}};
  a.values = {{"n", "a"}};
  b.values = {{"n", "b"}};
  c.values = {{"n", "c"}};
  a.lists["sub"] = {&b, &c};
  root.children = {{"c", &child}, {"a-b", &child}};
  root.lists = {{"l", {&a, &b}}, {"none", {}}};
  const std::pair<std::string, std::string> rows[] = {
      // Text that is no marker is copied unchanged, whatever the template ends with.
      {"<html><body><p class=\"a\">plain &amp; simple</p></body></html>\n", ""},
      {"100%% ok", ""}, {"<p %x%>", ""}, {"<!-x %x%>", ""}, {"<!--GEx %x%>", ""}, {"<!x>", ""}, {"a < b %x%>", ""},
      {"<!-- note -->", ""}, {"", ""}, {"a %x", ""}, {"50%", ""}, {"a <!--GEN.fo", ""}, {"a <!--GEN.x- -", ""},
      {"a <!--GEN.x-- note", ""}, {"a <!--G", ""}, {"<", ""},
      // A tag runs to the next '>', even when the character that breaks a marker is one.
      {"<>%x%<!--GEN.no-->> %x% <!->%x%>%x%", "<>%x%<!--GEN.no-->> X <!->%x%>X"},
      {"a%x%tail\n", "aXtail\n"},
      {"a%x%<!--GEN.end-->tail %x%", "aX"},  // an end with no section open ends the page
      {"%a%<!--GEN.c-->[%a% %b% %zz%]<!--GEN.end-->%a%", "root-a[child-a root-b %zz%]root-a"},
      {"<!--GEN.a-b-->%v%<!--GEN.end-- closes a-b -->.", "V."},
      {"<!--GEN.a-b-- a - comment -- with dashes -->%v%<!--GEN.end-->.", "V."},
      {"<!--GEN.l-->(%n%:<!--GEN.sub-->%n%<!--GEN.end-->)<!--GEN.end-->.", "(a:bc)(b:)."},
      {"<!--GEN.l-->[%n%]", "[a][b]"},  // without an end: to the template's end, once per element
      // Skipped sections write nothing up to their end, nested ones included, or to the end.
      {"1<!--GEN.unknown-->x%a%<!--GEN.c-->y<!--GEN.end-->z<!--GEN.end-->2", "12"},
      {"1<!--GEN.none-->x<!--GEN.end-->2", "12"},
      {"1<!--GEN.unknown-->x%a% <b>", "1"},
  };
  for (auto const& [text, expect] : rows) EXPECT_EQ(generate(root, text), expect.empty() ? text : expect) << text;
  root.value_lookups = 0;
  generate(root, "<!--GEN.unknown-->%a%%a%<!--GEN.end-->");
  EXPECT_EQ(root.value_lookups, 0);
  EXPECT_FALSE(Stat::Value());
  EXPECT_TRUE(Stat::Value(""));
}

TEST(StatHtml, ATreeThatContainsItselfStopsAtTheDepthLimit) {
  Node root;
  root.values = {{"x", "."}};
  root.children["self"] = &root;
  std::string text;
  for (int i = 0; i < 200; ++i) text += "<!--GEN.self-->%x%";
  for (int i = 0; i < 200; ++i) text += "<!--GEN.end-->";
  EXPECT_EQ(generate(root, text + "!"), std::string(Stat::Html::GeneratorV1::kMaxDepth, '.') + "!");
}

}  // namespace
