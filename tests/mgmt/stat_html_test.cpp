// Statistics pages from templates: whole pages against golden files, and the template syntax's
// corner cases one by one.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>

#include "tests/mgmt/StatTree.h"
#include "monitoring/StatHtml.h"

namespace {

using Node = vxtest::StatNode;

std::string generate(Stat::Object& root, const std::string& text) {
  std::istringstream in(text);
  std::ostringstream out;
  Stat::Html::generateV1(root, out, in);
  return out.str();
}

std::string read_file(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  EXPECT_TRUE(f.good()) << path;
  std::ostringstream s;
  s << f.rdbuf();
  return s.str();
}

std::string page(Stat::Object& root) {
  std::ifstream in(VX_TEST_SOURCE_DIR "/pages/board.tmpl", std::ios::binary);
  std::ostringstream out;
  Stat::Html::generateV1(root, out, in);
  return out.str();
}

TEST(StatHtml, BoardPageMatchesItsGoldenFile) {
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
  EXPECT_EQ(page(root), read_file(VX_TEST_SOURCE_DIR "/pages/board.html"));
}

TEST(StatHtml, BarePageLeavesEverySectionOut) {
  Node root;
  root.values = {{"name", "gw-8"}};
  EXPECT_EQ(page(root), read_file(VX_TEST_SOURCE_DIR "/pages/board-bare.html"));
}

TEST(StatHtml, TextThatIsNoMarkerIsCopiedUnchanged) {
  Node root;
  root.values = {{"x", "X"}};
  for (const char* text : {"<html><body><p class=\"a\">plain &amp; simple</p></body></html>\n", "100%% ok",
                           "<p %x%>", "<!-x %x%>", "<!--GEx %x%>", "<!x>", "a < b %x%>", "<!-- note -->", ""})
    EXPECT_EQ(generate(root, text), text);
  // The character that breaks a marker may itself close the tag.
  EXPECT_EQ(generate(root, "<>%x% <!->%x%"), "<>X <!->X");
}

TEST(StatHtml, ValuesComeFromTheInnermostObjectThatHasThem) {
  Node root, child;
  root.values = {{"a", "root-a"}, {"b", "root-b"}};
  child.values = {{"a", "child-a"}};
  root.children["c"] = &child;
  EXPECT_EQ(generate(root, "%a%<!--GEN.c-->[%a% %b% %zz%]<!--GEN.end-->%a%"), "root-a[child-a root-b %zz%]root-a");
}

TEST(StatHtml, SkippedSectionsWriteNothingUpToTheirEnd) {
  Node root, child;
  root.values = {{"a", "A"}};
  root.children["known"] = &child;
  root.lists["none"] = {};
  EXPECT_EQ(generate(root, "1<!--GEN.unknown-->x%a%<!--GEN.known-->y<!--GEN.end-->z<!--GEN.end-->2"), "12");
  EXPECT_EQ(generate(root, "1<!--GEN.none-->x<!--GEN.end-->2"), "12");
  // A skipped section that never ends takes the rest of the template with it.
  EXPECT_EQ(generate(root, "1<!--GEN.unknown-->x%a% <b>"), "1");
  // Nothing is looked up for it either.
  root.value_lookups = 0;
  generate(root, "<!--GEN.unknown-->%a%%a%<!--GEN.end-->");
  EXPECT_EQ(root.value_lookups, 0);
}

TEST(StatHtml, MarkerNamesAndComments) {
  Node root, child;
  child.values = {{"v", "V"}};
  root.children["a-b"] = &child;
  EXPECT_EQ(generate(root, "<!--GEN.a-b-->%v%<!--GEN.end-- closes a-b -->."), "V.");
  EXPECT_EQ(generate(root, "<!--GEN.a-b-- a - comment -- with dashes -->%v%<!--GEN.end-->."), "V.");
}

TEST(StatHtml, ListsRepeatTheirSectionPerElement) {
  Node root, a, b, c;
  a.values = {{"n", "a"}};
  b.values = {{"n", "b"}};
  c.values = {{"n", "c"}};
  a.lists["sub"] = {&b, &c};
  root.lists["l"] = {&a, &b};
  EXPECT_EQ(generate(root, "<!--GEN.l-->(%n%:<!--GEN.sub-->%n%<!--GEN.end-->)<!--GEN.end-->."), "(a:bc)(b:).");
  // Without an end the section runs to the template's end, once per element.
  EXPECT_EQ(generate(root, "<!--GEN.l-->[%n%]"), "[a][b]");
}

// Whatever follows the last marker is part of the page, an unfinished marker included.
TEST(StatHtml, TheTailAfterTheLastMarkerIsWritten) {
  Node root;
  root.values = {{"x", "X"}};
  EXPECT_EQ(generate(root, "a%x%tail\n"), "aXtail\n");
  EXPECT_EQ(generate(root, "<!--GEN.end-->tail %x%"), "tail X");  // an end with nothing to close
  for (const char* text : {"a %x", "50%", "a <!--GEN.fo", "a <!--GEN.x- -", "a <!--GEN.x-- note", "a <!--G", "<"})
    EXPECT_EQ(generate(root, text), text);
}

TEST(StatHtml, ATreeThatContainsItselfStopsAtTheDepthLimit) {
  Node root;
  root.values = {{"x", "."}};
  root.children["self"] = &root;
  std::string text, expect;
  for (int i = 0; i < 200; ++i) text += "<!--GEN.self-->%x%";
  for (int i = 0; i < 200; ++i) text += "<!--GEN.end-->";
  text += "!";
  const std::string out = generate(root, text);
  EXPECT_EQ(out, std::string(Stat::Html::GeneratorV1::kMaxDepth, '.') + "!");
}

TEST(StatHtml, ValueConvertsToTrueOnlyWhenValid) {
  EXPECT_FALSE(Stat::Value());
  EXPECT_TRUE(Stat::Value(""));
  EXPECT_EQ(Stat::Value("t").text(), "t");
}

}  // namespace
