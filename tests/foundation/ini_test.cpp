#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "foundation/IniFile.h"
#include "tests/support/TempDir.h"

namespace {

std::unique_ptr<IniFile::File> parse(const std::string& text) {
  auto f = std::make_unique<IniFile::File>();
  std::istringstream in(text);
  in >> *f;
  return f;
}

// One line per subsection and per key occurrence: "[name@line]" and "key=value@line".
std::string render(const IniFile::File& f) {
  std::string out;
  for (IniFile::Section& s : f) {
    for (IniFile::SubSection& sub : s) {
      out += "[" + s.mName + "@" + std::to_string(sub.mLineNo) + "]\n";
      for (IniFile::Key& k : sub)
        for (IniFile::SubKey& v : k) out += k.mName + "=" + v.mValue + "@" + std::to_string(v.mLineNo) + "\n";
    }
  }
  return out;
}

std::string render(const std::string& text) { return render(*parse(text)); }

}  // namespace

TEST(IniFile, ByteLevelRules) {
  struct Case {
    const char* text;
    const char* model;
  } cases[] = {
      // a repeated section is a numbered subsection, a repeated key keeps every occurrence
      {"[a]\nx = 1\n[a]\nx=2\nx = 3 # c\n", "[a@1]\nx=1@2\n[a@3]\nx=2@4\nx=3@5\n"},
      // keys before the first header and a key line without "=" are dropped
      {"k=v\n[s]\n", "[s@2]\n"},
      {"[a]\nkey\n[s]\ny=1\n", "[a@1]\n[s@3]\ny=1@4\n"},
      // the last line needs no line feed; a key whose "=" ends the file has an empty value
      {"[a]\nk = v", "[a@1]\nk=v@2\n"},
      {"[a]\nk =", "[a@1]\nk=@2\n"},
      {"[a]\nk", "[a@1]\n"},
      // an unclosed header is abandoned and the keys after it are skipped until a "["
      {"[a]\nx=1\n[abc\ny=2\nz=3\n[d]\nw=4\n", "[a@1]\nx=1@2\n[d@6]\nw=4@7\n"},
      // inner spaces kept, outer spaces dropped; TAB is an ordinary byte
      {"[a]\n  big key   =   two  words  \n", "[a@1]\nbig key=two  words@2\n"},
      {"[a]\n\tk\t=\tv\t\n", "[a@1]\nk\t=\tv\t@2\n"},
      // "#" starts a comment only after a space, at a line start or before a value
      {"[a]\nx = a#b\ny = a #b\nz = # c\n#w=1\n", "[a@1]\nx=a#b@2\ny=a@3\nz=@4\n"},
      {"#[x]\n[a] trailing # text\nk=v\n", "[a@2]\nk=v@3\n"},
      {"[a]#c\nk=v\n", "[a@1]\nk=v@2\n"},
      // names keep spaces, TAB and "#" between the brackets; empty brackets name ""
      {"[ a#\tb ]\nk=v\n[]\n==1\n", "[ a#\tb @1]\nk=v@2\n[@3]\n==1@4\n"},
      // carriage returns vanish wherever they are
      {"[a]\r\nk = v\r\n", "[a@1]\nk=v@2\n"},
      {"[a\r]\nk=x\ry\n", "[a@1]\nk=xy@2\n"},
      // "=" inside a value is kept
      {"[a]\nurl = a=b = c\n", "[a@1]\nurl=a=b = c@2\n"},
      // blank lines count
      {"\n\n[a]\n\n\nk=1\n", "[a@3]\nk=1@6\n"},
      // sections interleave: each header adds a subsection to its own section
      {"[a]\nk=1\n[b]\n[a]\nk=2\n", "[a@1]\nk=1@2\n[a@4]\nk=2@5\n[b@3]\n"},
  };
  for (const Case& c : cases) EXPECT_EQ(render(c.text), c.model) << "input: " << c.text;
}

TEST(IniFile, LookUpCreatesAbsentSectionsAndKeys) {
  auto owned = parse("[a]\nk=1\n");
  IniFile::File& f = *owned;
  ASSERT_EQ(f.SectionCount(), 1);
  IniFile::Section& traces = f["traces"];
  EXPECT_EQ(traces.mSubSectionCount, 0);
  EXPECT_EQ(f.mSectionCount, 2);
  EXPECT_EQ(static_cast<IniFile::Section*>(f["traces"]), &traces);
  traces.CheckEmpty();
  ASSERT_EQ(traces.SubSectionCount(), 1);
  EXPECT_EQ(traces.FirstSubSection()->mLineNo, -1);

  IniFile::SubSection* sub = f["a"]->FirstSubSection();
  IniFile::Key* missing = (*sub)["missing"];
  EXPECT_EQ(missing->mSubKeyCount, 0);
  EXPECT_EQ(sub->mKeyCount, 2);
  missing->CheckEmpty();
  EXPECT_EQ(missing->FirstSubKey()->mValue, "");
  EXPECT_EQ(missing->FirstSubKey()->mLineNo, -1);
}

TEST(IniFile, OpenStreamAndClose) {
  vxtest::TempDir tmp("vx_ini");
  const std::string path = tmp.path() + "/server.conf";
  std::ofstream(path) << "[a]\nk=1\n";

  IniFile::File f;
  EXPECT_FALSE(f.Open(path + ".absent"));
  EXPECT_FALSE(f.IsOpen());
  EXPECT_EQ(f.SectionCount(), 0);
  ASSERT_TRUE(f.Open(path));
  EXPECT_TRUE(f.IsOpen());
  EXPECT_EQ(f.mFileName, path);
  EXPECT_EQ(render(f), "[a@1]\nk=1@2\n");

  // Parsing a stream into an open file adds to it; reading with >> replaces.
  std::istringstream more("[b]\n");
  f.IntOpenStream(more);
  EXPECT_EQ(f.SectionCount(), 2);
  std::istringstream other("[c]\n");
  other >> f;
  EXPECT_EQ(f.mFileName, "");
  EXPECT_EQ(render(f), "[c@1]\n");

  f.Close();
  EXPECT_FALSE(f.IsOpen());
  EXPECT_EQ(f.SectionCount(), 0);
  IniFile::File g(path);
  EXPECT_TRUE(g.IsOpen());
}

TEST(IniFile, Conversions) {
  IniFile::SubKey k("", 1);
  auto b = [&](const char* v, bool def) { k.mValue = v; return k.GetBool(def); };
  EXPECT_TRUE(b("on", false));
  EXPECT_TRUE(b("yes", false));
  EXPECT_FALSE(b("off", true));
  EXPECT_FALSE(b("0", true));
  EXPECT_TRUE(b("On", true));    // case matters: default
  EXPECT_FALSE(b("On", false));
  EXPECT_FALSE(b("enable", false));

  auto i = [&](const char* v) { k.mValue = v; return k.GetInt(-7); };
  EXPECT_EQ(i("12abc"), 12);
  EXPECT_EQ(i(" -3"), -3);
  EXPECT_EQ(i("abc"), -7);
  EXPECT_EQ(i(""), -7);
  EXPECT_EQ(i("2147483647"), 2147483647);
  // A number that does not fit is not read at all rather than wrapped.
  EXPECT_EQ(i("2147483648"), -7);
  EXPECT_EQ(i("-99999999999999999999"), -7);

  k.mValue = "2.5x";
  EXPECT_FLOAT_EQ(k.GetFloat(1), 2.5f);
  k.mValue = "x";
  EXPECT_FLOAT_EQ(k.GetFloat(1), 1.0f);
  k.mValue = "1e999";
  EXPECT_FLOAT_EQ(k.GetFloat(1), 1.0f);
}

TEST(IniFile, DumpText) {
  std::ostringstream os;
  parse("[s]\nk = v\n")->Dump(os);
  EXPECT_EQ(os.str(),
            "dumping IniFile::File\nmFileName=\"\"\n\nmSectionCount=1\n"
            "dumping IniFile::Section\nmName=\"s\"\nmSubSectionCount=1\n"
            "dumping IniFile::SubSection\nmLineNo=\"1\"\nmKeyCount=1\n"
            "dumping IniFile::Key\nmName=\"k\"\nmSubKeyCount=1\n"
            "dumping IniFile::SubKey\nmValue=\"v\"\nmLineNo=2\n");
}

// On a grammar where both dialects agree (unique sections and keys, no inline comments, no
// leading indentation, no TAB), the model must match Python's configparser.
TEST(IniFile, AgreesWithConfigparser) {
  vxtest::TempDir tmp("vx_inipy");
  const std::string dir = tmp.path();
  std::mt19937 rng(20260311);
  auto pick = [&](const std::string& alphabet, int lo, int hi) {
    std::string s;
    int n = std::uniform_int_distribution<int>(lo, hi)(rng);
    for (int i = 0; i < n; ++i) s += alphabet[std::uniform_int_distribution<size_t>(0, alphabet.size() - 1)(rng)];
    return s;
  };
  auto chance = [&](int percent) { return std::uniform_int_distribution<int>(0, 99)(rng) < percent; };
  const std::string name_chars = "abcdefghijklmnopqrstuvwxyzABCXYZ0123456789._-";
  const std::string value_chars = "abcdefXYZ0123456789._-/=:,;!%$@()'\"";

  std::vector<std::string> paths;
  std::string expected;
  for (int file = 0; file < 150; ++file) {
    std::string text;
    std::string model;
    const char* eol = chance(30) ? "\r\n" : "\n";
    int sections = std::uniform_int_distribution<int>(0, 4)(rng);
    for (int s = 0; s < sections; ++s) {
      if (chance(30)) text += "# note " + pick(value_chars, 0, 10) + eol;
      if (chance(30)) text += eol;
      std::string sname = "s" + std::to_string(s) + pick(name_chars, 0, 6);
      text += "[" + sname + "]" + eol;
      model += "[" + sname + "]\n";
      int keys = std::uniform_int_distribution<int>(0, 5)(rng);
      for (int k = 0; k < keys; ++k) {
        std::string key = "k" + std::to_string(k) + pick(name_chars, 0, 5);
        if (chance(20)) key += " " + pick(name_chars, 1, 4);
        std::string value;
        if (!chance(10)) {
          value = pick(value_chars, 1, 8);
          if (chance(30)) value += "  " + pick(value_chars, 1, 5);
        }
        text += key + std::string(chance(50) ? " = " : "=") + value + (chance(20) ? "   " : "");
        const bool last = k + 1 == keys && s + 1 == sections;
        const bool unended = last && chance(20);
        if (!unended) text += eol;
        model += key + "\t" + value + "\n";
        if (!unended && chance(15)) text += std::string("#") + pick(value_chars, 0, 8) + eol;
      }
    }
    std::string path = std::string(dir) + "/f" + std::to_string(file) + ".ini";
    std::ofstream(path, std::ios::binary) << text;
    paths.push_back(path);

    // Our own parse of the same text, rendered the way the helper prints.
    auto f = parse(text);
    std::string ours = "=== " + path + "\n";
    for (IniFile::Section& s : *f) {
      ours += "[" + s.mName + "]\n";
      for (IniFile::SubSection& sub : s)
        for (IniFile::Key& k : sub) ours += k.mName + "\t" + k.FirstSubKey()->mValue + "\n";
    }
    EXPECT_EQ(ours, "=== " + path + "\n" + model) << text;
    expected += ours;
  }

  std::string cmd = "python3 " VX_TEST_SOURCE_DIR "/ini_dump.py";
  for (const std::string& p : paths) cmd += " " + p;
  FILE* pipe = popen(cmd.c_str(), "r");
  ASSERT_NE(pipe, nullptr);
  std::string python;
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, pipe)) > 0) python.append(buf, n);
  EXPECT_EQ(pclose(pipe), 0);
  EXPECT_EQ(python, expected);
}
