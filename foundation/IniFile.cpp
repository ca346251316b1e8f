#include "foundation/IniFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <istream>
#include <ostream>
#include <sstream>

#include "foundation/Fd.h"

namespace IniFile {

// ---- SubKey conversions ---------------------------------------------------------------

bool SubKey::GetBool(bool def) const {
  const std::string& v = mValue;
  if (v == "true" || v == "yes" || v == "1" || v == "on") return true;
  if (v == "false" || v == "no" || v == "0" || v == "off") return false;
  return def;
}

void SubKey::SetBool(bool v) { mValue = v ? "yes" : "no"; }

// Reads a leading decimal number as "%d" would, but a number that does not fit an int is
// taken as unreadable instead of wrapping (scanf leaves overflow undefined).
int SubKey::GetInt(int def) const {
  const char* s = mValue.c_str();
  char* end = nullptr;
  errno = 0;
  long v = std::strtol(s, &end, 10);
  if (end == s || errno == ERANGE || v < INT_MIN || v > INT_MAX) return def;
  return static_cast<int>(v);
}

void SubKey::SetInt(int v) { mValue = std::to_string(v); }

float SubKey::GetFloat(float def) const {
  const char* s = mValue.c_str();
  char* end = nullptr;
  errno = 0;
  float v = std::strtof(s, &end);
  if (end == s) return def;
  if (errno == ERANGE && std::isinf(v)) return def;
  return v;
}

void SubKey::SetFloat(float v) {
  std::ostringstream os;
  os << v;
  mValue = os.str();
}

void SubKey::Dump(std::ostream& os) const {
  os << "dumping IniFile::SubKey\n"
     << "mValue=\"" << mValue << "\"\n"
     << "mLineNo=" << mLineNo << "\n";
}

// ---- Key --------------------------------------------------------------------------------

void Key::CheckEmpty() {
  if (subkeys_.count == 0) NewSubKey("", -1);
}

void Key::Dump(std::ostream& os) const {
  os << "dumping IniFile::Key\n"
     << "mName=\"" << mName << "\"\n"
     << "mSubKeyCount=" << subkeys_.count << "\n";
  for (const SubKey* k = subkeys_.first; k; k = k->mNext) k->Dump(os);
}

// ---- SubSection -------------------------------------------------------------------------

Key* SubSection::operator[](const std::string& name) {
  auto it = index_.find(name);
  if (it != index_.end()) return it->second;
  return NewKey(name);
}

Key* SubSection::NewKey(const std::string& name) {
  Key* k = keys_.append(new Key(name));
  index_.emplace(name, k);
  return k;
}

void SubSection::CleanKeys() {
  keys_.clear();
  index_.clear();
}

void SubSection::Dump(std::ostream& os) const {
  os << "dumping IniFile::SubSection\n"
     << "mLineNo=\"" << mLineNo << "\"\n"
     << "mKeyCount=" << keys_.count << "\n";
  for (const Key* k = keys_.first; k; k = k->mNext) k->Dump(os);
}

// ---- Section ----------------------------------------------------------------------------

void Section::CheckEmpty() {
  if (subsections_.count == 0) NewSubSection(-1);
}

void Section::Dump(std::ostream& os) const {
  os << "dumping IniFile::Section\n"
     << "mName=\"" << mName << "\"\n"
     << "mSubSectionCount=" << subsections_.count << "\n";
  for (const SubSection* s = subsections_.first; s; s = s->mNext) s->Dump(os);
}

// ---- File -------------------------------------------------------------------------------

bool File::Open(const std::string& name) {
  Close();
  mFileName = name;
  return IntOpen();
}

// Only a regular file is taken, and it is opened without blocking: a pipe with no writer or a
// device would hold or never end the start-up, and a folder reads nothing. A read error ends the
// text as the end of the file would. A missing file (or folder on its path) is silently not
// there; whatever else is not used is said in one line.
bool File::IntOpen() {
  auto unused = [&](const char* why) {
    std::cerr << "ini: \"" << mFileName << "\" not used: " << why << std::endl;
    return false;
  };
  Fd fd(::open(mFileName.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
  if (!fd) return errno == ENOENT || errno == ENOTDIR ? false : unused(std::strerror(errno));
  struct stat st {};
  if (::fstat(fd.get(), &st) != 0) return unused(std::strerror(errno));
  if (!S_ISREG(st.st_mode)) return unused("not a regular file");
  std::string text;
  char buf[4096];
  for (;;) {
    const ssize_t n = ::read(fd.get(), buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      if (text.empty()) return unused(std::strerror(errno));
      std::cerr << "ini: \"" << mFileName << "\": read error after " << text.size()
                << " octets, the rest not used: " << std::strerror(errno) << std::endl;
      break;
    }
    if (n == 0) break;
    if (text.size() + static_cast<size_t>(n) > kMaxText) {
      std::cerr << "ini: \"" << mFileName << "\": longer than " << kMaxText
                << " octets, the rest not used" << std::endl;
      break;
    }
    text.append(buf, static_cast<size_t>(n));
  }
  std::istringstream in(std::move(text));
  IntOpenStream(in);
  return true;
}

void File::Close() {
  if (!open_) return;
  CleanSections();
  open_ = false;
}

SectionRef File::operator[](const std::string& name) {
  auto it = index_.find(name);
  if (it != index_.end()) return SectionRef(it->second);
  return SectionRef(NewSection(name));
}

Section* File::NewSection(const std::string& name) {
  Section* s = sections_.append(new Section(name));
  // A second section of an existing name is listed but not indexed: look-ups keep
  // finding the first, the one that holds the file's subsections.
  index_.emplace(name, s);
  return s;
}

void File::CleanSections() {
  sections_.clear();
  index_.clear();
}

void File::Dump(std::ostream& os) const {
  os << "dumping IniFile::File\n"
     << "mFileName=\"" << mFileName << "\"\n"
     << "\n"
     << "mSectionCount=" << sections_.count << "\n";
  for (const Section* s = sections_.first; s; s = s->mNext) s->Dump(os);
}

// The parser: a byte-at-a-time state machine. Carriage returns vanish wherever they are;
// a comment runs to the line feed, which the current state then handles as usual.
void File::IntOpenStream(std::istream& is) {
  enum State { Outside, SectionName, AfterHeader, LineStart, KeyName, BeforeValue, Value };
  open_ = true;

  State state = Outside;
  bool comment = false;
  int line = 1;
  std::size_t pending = 0;  // spaces seen but not yet known to be inside a name or value
  std::string section, key, value;
  SubSection* current = nullptr;

  auto store = [&] {
    // A key can only be in progress after a header, so there is always a subsection.
    if (current) current->NewSubKey(key, value, line);
    key.clear();
  };

  std::streambuf* sb = is.rdbuf();
  if (!sb) return;
  // A buffer whose read fails may throw: the text ends there, as at the end of the file.
  auto next = [&]() -> int {
    try {
      return sb->sbumpc();
    } catch (...) {
      return std::char_traits<char>::eof();
    }
  };
  for (int ci = next(); ci != std::char_traits<char>::eof(); ci = next()) {
    const char c = static_cast<char>(ci);
    if (c == '\r') continue;
    if (comment) {
      if (c != '\n') continue;
      comment = false;
    }
    switch (state) {
      case Outside:
        if (c == '#') comment = true;
        else if (c == '[') { section.clear(); state = SectionName; }
        break;
      case SectionName:
        if (c == '\n') state = Outside;
        else if (c == ']') { current = NewSubSection(section, line); state = AfterHeader; }
        else section += c;
        break;
      case AfterHeader:
        if (c == '\n') state = LineStart;
        else if (c == '#') comment = true;
        break;
      case LineStart:
        if (c == '#') comment = true;
        else if (c == ' ' || c == '\t' || c == '\n') {}
        else if (c == '[') { section.clear(); state = SectionName; }
        else { key.assign(1, c); pending = 0; state = KeyName; }
        break;
      case KeyName:
        if (c == ' ') ++pending;
        else if (c == '=') { value.clear(); pending = 0; state = BeforeValue; }
        else if (c == '\n') { key.clear(); pending = 0; state = LineStart; }
        else { key.append(pending, ' '); key += c; pending = 0; }
        break;
      case BeforeValue:
        if (c == ' ') {}
        else if (c == '#') comment = true;
        else if (c == '\n') { store(); state = LineStart; }
        else { value += c; pending = 0; state = Value; }
        break;
      case Value:
        if (c == ' ') ++pending;
        else if (c == '\n') { pending = 0; store(); state = LineStart; }
        else if (c == '#' && pending > 0) { comment = true; pending = 0; }
        else { value.append(pending, ' '); value += c; pending = 0; }
        break;
    }
    if (c == '\n') ++line;
  }
  if (state == BeforeValue || state == Value) store();
}

std::istream& operator>>(std::istream& is, File& f) {
  f.Close();
  f.mFileName.clear();
  f.IntOpenStream(is);
  return is;
}

}  // namespace IniFile
