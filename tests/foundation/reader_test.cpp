#include <gtest/gtest.h>

#include <memory>
#include <sstream>
#include <string>

#include "foundation/IniFile.h"
#include "foundation/IniReader.h"
#include "foundation/Traces.h"
#include "tests/support/CaptureStreams.h"

namespace {

enum class Addr { local = 1, global = 2 };
const IniFile::Symbol<Addr> kAddr[] = {{"local", Addr::local}, {"global", Addr::global}, {nullptr, Addr::local}};

struct Parsed {
  std::unique_ptr<IniFile::File> file = std::make_unique<IniFile::File>();
  IniFile::SubSection& sub(const char* name = "s") { return *(*file)[name]->FirstSubSection(); }
};

Parsed parse(const std::string& text) {
  Parsed p;
  std::istringstream in(text);
  in >> *p.file;
  return p;
}

}  // namespace

TEST(IniReader, ValidKeysAreConverted) {
  Parsed p = parse("[s]\nflag = enabled\nname = a b\nmode = global\nnum = 0x10\nneg = -5\n");
  bool flag = false;
  std::string name;
  Addr mode = Addr::local;
  Addr num = Addr::local;
  short neg = 0;
  std::ostringstream err;
  IniFile::Reader r("comp: ", err);
  bool& flag_set = r.required.add(&flag, "flag");
  r.required.add(&name, "name");
  r.optional.add(&mode, "mode", kAddr);
  bool& num_set = r.optional.add(&num, "num", kAddr);
  r.optional.add(&neg, "neg");
  EXPECT_TRUE(r.parse(p.sub()));
  EXPECT_EQ(err.str(), "");
  EXPECT_TRUE(flag_set);
  EXPECT_TRUE(num_set);
  EXPECT_TRUE(flag);
  EXPECT_EQ(name, "a b");
  EXPECT_EQ(mode, Addr::global);
  EXPECT_EQ(static_cast<int>(num), 16);
  EXPECT_EQ(neg, -5);
}

TEST(IniReader, BoolWords) {
  const char* yes[] = {"true", "yes", "enabled", "enable", "1"};
  const char* no[] = {"false", "no", "disabled", "disable", "0"};
  for (const char* w : yes) {
    bool v = false;
    EXPECT_TRUE(IniFile::Private::TKeyValue<bool>(&v, "k").do_parse(w)) << w;
    EXPECT_TRUE(v) << w;
  }
  for (const char* w : no) {
    bool v = true;
    EXPECT_TRUE(IniFile::Private::TKeyValue<bool>(&v, "k").do_parse(w)) << w;
    EXPECT_FALSE(v) << w;
  }
  for (const char* w : {"on", "off", "True", "", " yes"}) {
    bool v = true;
    EXPECT_FALSE(IniFile::Private::TKeyValue<bool>(&v, "k").do_parse(w)) << w;
    EXPECT_TRUE(v) << w;
  }
}

// An invalid value never changes the variable, whatever its type; numbers are range-checked.
TEST(IniReader, InvalidValuesLeaveVariablesUnchanged) {
  Parsed p = parse("[s]\nflag = On\nmode = 12ab\nsmall = 300\nbig = 99999999999999999999\nu = -1\nempty =\n");
  bool flag = true;
  Addr mode = Addr::global;
  signed char small = 7;
  long big = 7;
  unsigned u = 7;
  Addr empty = Addr::global;
  std::ostringstream err;
  IniFile::Reader r("comp: ", err);
  bool& flag_set = r.optional.add(&flag, "flag");
  r.optional.add(&mode, "mode", kAddr);
  r.optional.add(&small, "small");
  r.optional.add(&big, "big");
  r.optional.add(&u, "u");
  r.optional.add(&empty, "empty", kAddr);
  EXPECT_TRUE(r.parse(p.sub()));
  EXPECT_FALSE(flag_set);
  EXPECT_TRUE(flag);
  EXPECT_EQ(mode, Addr::global);
  EXPECT_EQ(small, 7);
  EXPECT_EQ(big, 7);
  EXPECT_EQ(u, 7u);
  EXPECT_EQ(empty, Addr::global);
  EXPECT_EQ(err.str(),
            "comp: optional key \"flag\" has invalid value=\"On\", line 2. Key will be ignored.\n"
            "comp: optional key \"mode\" has invalid value=\"12ab\", line 3. Key will be ignored.\n"
            "comp: optional key \"small\" has invalid value=\"300\", line 4. Key will be ignored.\n"
            "comp: optional key \"big\" has invalid value=\"99999999999999999999\", line 5. Key will be ignored.\n"
            "comp: optional key \"u\" has invalid value=\"-1\", line 6. Key will be ignored.\n"
            "comp: optional key \"empty\" has invalid value=\"\", line 7. Key will be ignored.\n");
}

TEST(IniReader, OptionalProblemsAreReportedButDoNotFail) {
  Parsed p = parse("[s]\n\na = 1\nb = 1\nb = 0\n\n\na = 0\nc = 1\nc = 1\nc = 0\n");
  bool a = true, b = true, c = true, d = true;
  std::ostringstream err;
  IniFile::Reader r("traces: ", err);
  bool& a_set = r.optional.add(&a, "a");
  r.optional.add(&b, "b");
  r.optional.add(&c, "c");
  bool& d_set = r.optional.add(&d, "d");
  d_set = true;
  EXPECT_TRUE(r.parse(p.sub()));
  EXPECT_FALSE(a_set);
  EXPECT_FALSE(d_set);
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
    Parsed p = parse(c.text);
    bool r = false, later = false, opt = false;
    std::ostringstream err;
    IniFile::Reader reader("x: ", err);
    reader.required.add(&r, "r");
    reader.required.add(&later, "later");
    reader.optional.add(&opt, "opt");
    EXPECT_FALSE(reader.parse(p.sub()));
    EXPECT_EQ(err.str(), c.message);
    // The keys after the failing one were never looked up, so never created.
    EXPECT_EQ((*p.file)["s"]->FirstSubSection()->KeyCount(), c.text[0] == '\n' ? 2 : 1) << c.text;
  }
}

TEST(Traces, ConfiguredFromEveryOccurrenceOfTheSection) {
  auto configure = [](const std::string& text, std::string* err_text = nullptr) {
    Parsed p = parse(text);
    TraceCtl t;
    vxtest::CaptureStreams streams;
    t.Configure((*p.file)["traces"]);
    if (err_text) *err_text = streams.err.str();
    return t;
  };
  std::string err;
  TraceCtl none = configure("[other]\nsignalling.hdlc = yes\n", &err);
  EXPECT_FALSE(none.signalling_hdlc());
  EXPECT_EQ(err, "");

  TraceCtl two = configure("[traces]\nsignalling.hdlc = yes\nmonitoring.internal = 1\n");
  EXPECT_TRUE(two.signalling_hdlc());
  EXPECT_TRUE(two.monitoring_internal());
  EXPECT_FALSE(two.signalling_isdn() || two.signalling_lemzgw() || two.signalling_events());

  TraceCtl last = configure("[traces]\nsignalling.hdlc = true\n[traces]\nsignalling.isdn = true\n");
  EXPECT_FALSE(last.signalling_hdlc());
  EXPECT_TRUE(last.on(TraceCtl::SignallingIsdn));

  TraceCtl bad = configure("[traces]\nsignalling.hdlc = on\n", &err);
  EXPECT_FALSE(bad.signalling_hdlc());
  EXPECT_EQ(err, "traces: optional key \"signalling.hdlc\" has invalid value=\"on\", line 2. Key will be ignored.\n");
}

TEST(Traces, BlockWritesEnterAndLeave) {
  std::ostringstream os;
  {
    Trace::Block on(true, "scope", os);
    Trace::Block off(false, "quiet", os);
  }
  EXPECT_EQ(os.str(), "Enter scope\nLeave scope\n");
}
