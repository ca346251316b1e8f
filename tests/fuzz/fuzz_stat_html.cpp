// Statistics page templates from outside: any text expands without fault against an object
// tree with values, children, lists and a child cycle, from a seekable stream or a one-way one.
#include <cstdint>
#include <cstdlib>
#include <map>
#include <memory>
#include <sstream>
#include <streambuf>
#include <string>
#include <vector>

#include "monitoring/StatHtml.h"

namespace {

struct Node : Stat::Object {
  std::map<std::string, std::string> values;
  std::map<std::string, Node*> children;
  std::map<std::string, std::vector<Node*>> lists;

  Stat::Value statistics_value(std::string const& name) const override {
    auto v = values.find(name);
    return v == values.end() ? Stat::Value() : Stat::Value(v->second);
  }
  Stat::Object* statistics_object(std::string const& name) const override {
    auto c = children.find(name);
    return c == children.end() ? nullptr : c->second;
  }
  struct Walk : Stat::Iterator {
    explicit Walk(const std::vector<Node*>& l) : list(l) {}
    bool valid() const override { return at < list.size(); }
    void next() override { ++at; }
    Stat::Object* get() const override { return list[at]; }
    const std::vector<Node*>& list;
    std::size_t at = 0;
  };
  std::unique_ptr<Stat::Iterator> statistics_iterator(std::string const& name) const override {
    auto l = lists.find(name);
    return l == lists.end() ? nullptr : std::make_unique<Walk>(l->second);
  }
};

// A stream that cannot be rewound.
struct OneWay : std::streambuf {
  OneWay(const char* b, const char* e) { setg(const_cast<char*>(b), const_cast<char*>(b), const_cast<char*>(e)); }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0 || size > 4096) return 0;
  static Node root, leaf, other;
  static bool built = false;
  if (!built) {
    built = true;
    root.values = {{"a", "A"}, {"b", "%b%"}};
    leaf.values = {{"a", "leaf"}, {"x", "<!--GEN.end-->"}};
    root.children = {{"c", &root}, {"k", &leaf}};
    // Lists lead down only: a list that led back up would repeat without bound by design.
    root.lists = {{"l", {&leaf, &other, &leaf}}, {"e", {}}};
    leaf.lists = {{"l", {&other, &other}}};
  }
  const char* first = reinterpret_cast<const char*>(data + 1);
  const std::string text(first, size - 1);
  std::ostringstream out;
  if (data[0] & 1) {
    std::istringstream in(text);
    Stat::Html::generateV1(root, out, in);
  } else {
    OneWay buffer(first, first + text.size());
    std::istream in(&buffer);
    Stat::Html::generateV1(root, out, in);
  }
  // Text with nothing that could start a marker is copied as it is.
  if (text.find_first_of("<%") == std::string::npos && out.str() != text) std::abort();
  return 0;
}
