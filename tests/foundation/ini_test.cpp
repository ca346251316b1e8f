// The ini file model and the typed reader of its keys.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "foundation/IniFile.h"
#include "foundation/IniReader.h"
#include "foundation/Traces.h"
#include "tests/support/CaptureStreams.h"
#include "tests/support/RunTool.h"
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

IniFile::SubSection& first(IniFile::File& f, const char* name = "s") { return *f[name]->FirstSubSection(); }

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
      // the last line needs no line feed (the parser comparison holds the rest of that)
      {"[a]\nk =", "[a@1]\nk=@2\n"},
      // an unclosed header is abandoned and the keys after it are skipped until a "["
      {"[a]\nx=1\n[abc\ny=2\nz=3\n[d]\nw=4\n", "[a@1]\nx=1@2\n[d@6]\nw=4@7\n"},
      // inner spaces kept, outer spaces dropped; TAB is an ordinary byte
      {"[a]\n  big key   =   two  words  \n", "[a@1]\nbig key=two  words@2\n"},
      {"[a]\n\tk\t=\tv\t\n", "[a@1]\nk\t=\tv\t@2\n"},
      // "#" starts a comment only after a space, at a line start or before a value
      {"[a]\nx = a#b\ny = a #b\nz = # c\n#w=1\n", "[a@1]\nx=a#b@2\ny=a@3\nz=@4\n"},
      {"#[x]\n[a] trailing # text\nk=v\n", "[a@2]\nk=v@3\n"},
      // names keep spaces, TAB and "#" between the brackets; empty brackets name ""
      {"[ a#\tb ]\nk=v\n[]\n==1\n", "[ a#\tb @1]\nk=v@2\n[@3]\n==1@4\n"},
      // carriage returns vanish wherever they are
      {"[a\r]\nk=x\ry\n", "[a@1]\nk=xy@2\n"},
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
  EXPECT_FALSE(f.Open(path + ".absent") || f.IsOpen());
  ASSERT_TRUE(f.Open(path) && f.IsOpen());
  EXPECT_EQ(render(f), "[a@1]\nk=1@2\n");
  // Reading with >> replaces.
  std::istringstream other("[c]\n");
  other >> f;
  EXPECT_EQ(f.mFileName, "");
  EXPECT_EQ(render(f), "[c@1]\n");
  f.Close();
  EXPECT_FALSE(f.IsOpen() || f.SectionCount() != 0);
}

// A buffer that serves its text, then fails its next read by throwing, as a file buffer does.
class FailingBuf : public std::streambuf {
 public:
  explicit FailingBuf(std::string text) : text_(std::move(text)) { setg(text_.data(), text_.data(), text_.data() + text_.size()); }

 protected:
  int_type underflow() override { throw std::ios_base::failure("underflow error reading the file"); }

 private:
  std::string text_;
};

TEST(IniFile, AReadThatFailsEndsTheTextAsTheEndOfTheFileWould) {
  FailingBuf buf("[a]\nk=1\nj=2");
  std::istream in(&buf);
  IniFile::File f;
  in >> f;
  EXPECT_EQ(render(f), "[a@1]\nk=1@2\nj=2@3\n");

  // A file buffer on a file whose reads fail (EIO): nothing, and nothing thrown.
  std::ifstream mem("/proc/self/mem", std::ios::binary);
  ASSERT_TRUE(mem.is_open());
  mem >> f;
  EXPECT_EQ(render(f), "");
}

TEST(IniFile, OnlyARegularFileThatCanBeReadIsTakenAndNothingBlocks) {
  vxtest::TempDir tmp("vx_inibad");
  vxtest::CaptureStreams cap;
  const std::string dir = tmp.path() + "/folder", fifo = tmp.path() + "/fifo", link = tmp.path() + "/link";
  ASSERT_EQ(::mkdir(dir.c_str(), 0755), 0);
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);  // no writer: a blocking open would wait for ever
  IniFile::File f;
  for (const std::string& path : {dir, fifo, std::string("/dev/zero"), std::string("/proc/self/mem")}) {
    cap.clear();
    EXPECT_FALSE(f.Open(path) || f.IsOpen()) << path;
    const std::string said = cap.err.str();
    EXPECT_EQ(said.rfind("ini: \"" + path + "\" not used: ", 0), 0u) << said;
    EXPECT_EQ(std::count(said.begin(), said.end(), '\n'), 1) << said;
  }
  EXPECT_NE(cap.err.str().find("Input/output error"), std::string::npos);

  // A link to a regular file is that file; text past the bound is not used, and said so.
  std::ofstream(dir + "/big") << std::string(IniFile::File::kMaxText - 8, '#') << "\n[a]\nk=1\n[b]\nk=2\n";
  ASSERT_EQ(::symlink((dir + "/big").c_str(), link.c_str()), 0);
  cap.clear();
  ASSERT_TRUE(f.Open(link));
  EXPECT_EQ(f[std::string("a")]->SubSectionCount(), 1);
  EXPECT_EQ(f[std::string("b")]->SubSectionCount(), 0);
  EXPECT_NE(cap.err.str().find("octets, the rest not used"), std::string::npos);
}

// On a grammar where both dialects agree (unique sections and keys, no inline comments, no
// leading indentation, no TAB), the model must match Python's configparser.
TEST(IniFile, AgreesWithConfigparser) {
  vxtest::TempDir tmp("vx_inipy");
  std::mt19937 rng(20260311);
  auto chance = [&](int percent) { return std::uniform_int_distribution<int>(0, 99)(rng) < percent; };
  auto pick = [&](const std::string& alphabet, int lo, int hi) {
    std::string s;
    for (int n = std::uniform_int_distribution<int>(lo, hi)(rng); n > 0; --n)
      s += alphabet[std::uniform_int_distribution<size_t>(0, alphabet.size() - 1)(rng)];
    return s;
  };
  const std::string name_chars = "abcdefghijklmnopqrstuvwxyzABCXYZ0123456789._-";
  const std::string value_chars = "abcdefXYZ0123456789._-/=:,;!%$@()'\"";
  std::string cmd = "python3 " VX_TEST_SOURCE_DIR "/ini_dump.py", expected;
  for (int file = 0; file < 150; ++file) {
    std::string text, model;
    const char* eol = chance(30) ? "\r\n" : "\n";
    const int sections = std::uniform_int_distribution<int>(0, 4)(rng);
    for (int s = 0; s < sections; ++s) {
      if (chance(30)) text += "# note " + pick(value_chars, 0, 10) + eol;
      if (chance(30)) text += eol;
      std::string sname = "s" + std::to_string(s) + pick(name_chars, 0, 6);
      text += "[" + sname + "]" + eol;
      model += "[" + sname + "]\n";
      const int keys = std::uniform_int_distribution<int>(0, 5)(rng);
      for (int k = 0; k < keys; ++k) {
        std::string key = "k" + std::to_string(k) + pick(name_chars, 0, 5), value;
        if (chance(20)) key += " " + pick(name_chars, 1, 4);
        if (!chance(10)) value = pick(value_chars, 1, 8) + (chance(30) ? "  " + pick(value_chars, 1, 5) : "");
        text += key + (chance(50) ? " = " : "=") + value + (chance(20) ? "   " : "");
        const bool unended = k + 1 == keys && s + 1 == sections && chance(20);
        if (!unended) text += eol;
        model += key + "\t" + value + "\n";
        if (!unended && chance(15)) text += "#" + pick(value_chars, 0, 8) + eol;
      }
    }
    const std::string path = tmp.path() + "/f" + std::to_string(file) + ".ini";
    std::ofstream(path, std::ios::binary) << text;
    cmd += " " + path;
    // Our own parse of the same text, rendered the way the helper prints.
    std::string ours = "=== " + path + "\n";
    auto f = parse(text);
    for (IniFile::Section& s : *f) {
      ours += "[" + s.mName + "]\n";
      for (IniFile::SubSection& sub : s)
        for (IniFile::Key& k : sub) ours += k.mName + "\t" + k.FirstSubKey()->mValue + "\n";
    }
    EXPECT_EQ(ours, "=== " + path + "\n" + model) << text;
    expected += ours;
  }
  EXPECT_EQ(vxtest::run(cmd), expected);
}

enum class Addr { local = 1, global = 2 };
const IniFile::Symbol<Addr> kAddr[] = {{"local", Addr::local}, {"global", Addr::global}, {nullptr, Addr::local}};

// Valid values are converted; an invalid one never changes the variable, whatever its type, and
// numbers are range-checked.
TEST(IniReader, ValuesAreConvertedAndInvalidOnesIgnored) {
  auto p = parse(
      "[s]\nflag = enabled\nname = a b\nmode = global\nnum = 0x10\nneg = -5\n"
      "bflag = On\nbmode = 12ab\nsmall = 300\nbig = 99999999999999999999\nu = -1\nempty =\n");
  bool flag = false, bflag = true;
  std::string name;
  Addr mode = Addr::local, num = Addr::local, bmode = Addr::global, empty = Addr::global;
  short neg = 0;
  signed char small = 7;
  long big = 7;
  unsigned u = 7;
  std::ostringstream err;
  IniFile::Reader r("comp: ", err);
  bool& flag_set = r.required.add(&flag, "flag");
  r.required.add(&name, "name"), r.optional.add(&mode, "mode", kAddr);
  bool& num_set = r.optional.add(&num, "num", kAddr);
  r.optional.add(&neg, "neg");
  bool& bflag_set = r.optional.add(&bflag, "bflag");
  r.optional.add(&bmode, "bmode", kAddr), r.optional.add(&small, "small"), r.optional.add(&big, "big");
  r.optional.add(&u, "u"), r.optional.add(&empty, "empty", kAddr);
  EXPECT_TRUE(r.parse(first(*p)));
  EXPECT_TRUE(flag_set && num_set && flag && !bflag_set && bflag);
  EXPECT_EQ(name, "a b");
  EXPECT_TRUE(mode == Addr::global && bmode == Addr::global && empty == Addr::global);
  EXPECT_EQ(static_cast<int>(num), 16);
  EXPECT_EQ(neg, -5);
  EXPECT_EQ(small + big + u, 21u);
  // One report per ignored key, lines 7 to 12.
  const std::string e = err.str();
  EXPECT_TRUE(e.starts_with("comp: optional key \"bflag\" has invalid value=\"On\", line 7. Key will be ignored.\n"));
  EXPECT_EQ(std::count(e.begin(), e.end(), '\n'), 6) << e;
}

TEST(IniReader, BoolWords) {
  const struct {
    const char* word;
    bool valid, value;
  } cases[] = {{"true", 1, 1}, {"yes", 1, 1},      {"enabled", 1, 1}, {"enable", 1, 1}, {"1", 1, 1},
               {"false", 1, 0}, {"no", 1, 0},      {"disabled", 1, 0}, {"disable", 1, 0}, {"0", 1, 0},
               {"on", 0, 0},   {"off", 0, 0},      {"True", 0, 0},    {"", 0, 0},        {" yes", 0, 0}};
  for (const auto& c : cases)
    for (bool start : {false, true}) {
      bool v = start;
      EXPECT_EQ(IniFile::Private::TKeyValue<bool>(&v, "k").do_parse(c.word), c.valid) << c.word;
      EXPECT_EQ(v, c.valid ? c.value : start) << c.word;
    }
}

TEST(IniReader, OptionalProblemsAreReportedButDoNotFail) {
  auto p = parse("[s]\n\na = 1\nb = 1\nb = 0\n\n\na = 0\nc = 1\nc = 1\nc = 0\n");
  bool a = true, b = true, c = true, d = true;
  std::ostringstream err;
  IniFile::Reader r("traces: ", err);
  bool& a_set = r.optional.add(&a, "a");
  r.optional.add(&b, "b"), r.optional.add(&c, "c");
  bool& d_set = r.optional.add(&d, "d");
  d_set = true;
  EXPECT_TRUE(r.parse(first(*p)));
  EXPECT_FALSE(a_set || d_set);
  EXPECT_TRUE(a && b && c && d);
  EXPECT_EQ(err.str(),
            "traces: optional key \"a\" is duplicated!\n"
            "traces:  first occurence at 3 line.\n"
            "traces:  second occurence at 8 line. Both keys will be ignored.\n"
            "traces: optional key \"b\" is duplicated!\n"
            "traces:  first occurence at 4 line.\n"
            "traces:  second occurence at 5 line. Both keys will be ignored.\n"
            "traces: optional key \"c\" specified more than once: 9 10 11 lines. All keys will be ignored.\n");
}

TEST(IniReader, FirstRequiredProblemEndsTheParse) {
  struct Case {
    const char* text;
    const char* message;
  } cases[] = {
      {"\n\n[s]\nother = 1\n", "x: required key \"r\" not present, line 3\n"},
      {"[s]\nr = maybe\n", "x: required key \"r\" has invalid value=\"maybe\", line 2\n"},
      {"[s]\nr = 1\nr = 0\n",
       "x: required key \"r\" is duplicated!\nx:  first occurence at 2 line.\nx:  second occurence at 3 line.\n"},
      {"[s]\nr = 1\nr = 0\nr=1\n", "x: required key \"r\" specified more than once: 2 3 4 lines\n"},
  };
  for (const Case& c : cases) {
    auto p = parse(c.text);
    bool r = false, later = false, opt = false;
    std::ostringstream err;
    IniFile::Reader reader("x: ", err);
    reader.required.add(&r, "r"), reader.required.add(&later, "later"), reader.optional.add(&opt, "opt");
    EXPECT_FALSE(reader.parse(first(*p)));
    EXPECT_EQ(err.str(), c.message);
    // The keys after the failing one were never looked up, so never created.
    EXPECT_EQ((*p)["s"]->FirstSubSection()->KeyCount(), c.text[0] == '\n' ? 2 : 1) << c.text;
  }
}

// Every occurrence of the section is read in turn, so the last one decides; a bad value is
// reported and leaves its channel off.
TEST(Traces, ConfiguredFromEveryOccurrenceOfTheSection) {
  const struct {
    const char* text;
    std::vector<TraceCtl::Channel> on;
    std::string err;
  } cases[] = {
      {"[other]\nsignalling.hdlc = yes\n", {}, ""},
      {"[traces]\nsignalling.hdlc = yes\nmonitoring.internal = 1\n",
       {TraceCtl::SignallingHdlc, TraceCtl::MonitoringInternal}, ""},
      {"[traces]\nsignalling.hdlc = true\n[traces]\nsignalling.isdn = true\n", {TraceCtl::SignallingIsdn}, ""},
      {"[traces]\nsignalling.hdlc = on\n", {},
       "traces: optional key \"signalling.hdlc\" has invalid value=\"on\", line 2. Key will be ignored.\n"},
  };
  for (const auto& c : cases) {
    auto p = parse(c.text);
    TraceCtl t;
    vxtest::CaptureStreams streams;
    t.Configure((*p)["traces"]);
    EXPECT_EQ(streams.err.str(), c.err) << c.text;
    std::vector<TraceCtl::Channel> on;
    for (int ch = 0; ch <= TraceCtl::MonitoringInternal; ++ch)
      if (t.on(static_cast<TraceCtl::Channel>(ch))) on.push_back(static_cast<TraceCtl::Channel>(ch));
    EXPECT_EQ(on, c.on) << c.text;
  }
}

}  // namespace
