// Statistics page templates from outside: any text expands without fault against an object
// tree with values, children, lists and a child cycle, from a seekable stream or a one-way one.
#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <streambuf>
#include <string>

#include "monitoring/StatHtml.h"
#include "tests/mgmt/StatTree.h"

namespace {

using Node = vxtest::StatNode;

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
