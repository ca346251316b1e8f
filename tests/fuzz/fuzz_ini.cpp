// The ini parser and the typed reader on arbitrary bytes: no crash, no overread, and a
// model whose counts agree with its lists.
#include <sstream>
#include <string>

#include "foundation/IniFile.h"
#include "foundation/IniReader.h"
#include "tests/fuzz/FuzzSupport.h"

enum class Mode { a, b };
static const IniFile::Symbol<Mode> kModes[] = {{"a", Mode::a}, {"b", Mode::b}, {nullptr, Mode::a}};

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::istringstream in{std::string(fuzz::text(data, size))};
  IniFile::File file;
  in >> file;
  std::ostringstream sink;
  for (IniFile::Section& s : file) {
    int subs = 0;
    for (IniFile::SubSection& sub : s) {
      int keys = 0;
      for (IniFile::Key& k : sub) {
        int n = 0;
        for (IniFile::SubKey& v : k) {
          ++n;
          (void)v.GetBool(false);
          (void)v.GetInt(0);
          (void)v.GetFloat(0);
        }
        fuzz::require(n == k.SubKeyCount());
        ++keys;
      }
      fuzz::require(keys == sub.KeyCount());
      ++subs;
      bool flag = false;
      std::string text;
      Mode mode = Mode::a;
      short number = 0;
      IniFile::Reader reader("fuzz: ", sink);
      reader.optional.add(&flag, "flag");
      reader.optional.add(&text, "text");
      reader.optional.add(&mode, "mode", kModes);
      reader.optional.add(&number, "number");
      reader.parse(sub);
    }
    fuzz::require(subs == s.SubSectionCount());
  }
  file.Dump(sink);
  return 0;
}
