#pragma once
// The daemon's ini configuration model: every occurrence of a section and of a key is kept
// with its line number, so the typed reader can report repeated and missing settings.
// The parser never rejects input; what it does not understand it skips.
#include <cstddef>
#include <iosfwd>
#include <map>
#include <string>

namespace IniFile {

class File;
class Section;
class SubSection;
class Key;
class SubKey;

// Forward iterator over one level of the model; the null pointer is the end.
template <class T>
class GenericIterator {
 public:
  explicit GenericIterator(T* p = nullptr) : p_(p) {}
  GenericIterator& operator++() {
    if (p_) p_ = p_->mNext;
    return *this;
  }
  GenericIterator operator++(int) {
    GenericIterator old = *this;
    ++*this;
    return old;
  }
  T& operator*() const { return *p_; }
  T* operator->() const { return p_; }
  bool operator!=(const GenericIterator& o) const { return p_ != o.p_; }
  bool operator==(const GenericIterator& o) const { return p_ == o.p_; }
  T* get() const { return p_; }

 private:
  T* p_;
};

// Owned children in file order, with a count. Deleting the list deletes the children.
template <class T>
struct ChildList {
  int count = 0;
  T* first = nullptr;
  T* last = nullptr;

  ChildList() = default;
  ChildList(const ChildList&) = delete;
  ChildList& operator=(const ChildList&) = delete;
  ~ChildList() { clear(); }

  T* append(T* e) {
    e->mPrev = last;
    e->mNext = nullptr;
    if (last) last->mNext = e; else first = e;
    last = e;
    ++count;
    return e;
  }
  void clear() {
    while (first) {
      T* n = first->mNext;
      delete first;
      first = n;
    }
    last = nullptr;
    count = 0;
  }
};

// One occurrence of a key: its value and the line it was written on.
class SubKey {
 public:
  SubKey(std::string value, int line) : mValue(std::move(value)), mLineNo(line) {}

  bool GetBool(bool def) const;
  void SetBool(bool v);
  int GetInt(int def) const;
  void SetInt(int v);
  float GetFloat(float def) const;
  void SetFloat(float v);
  void Dump(std::ostream& os) const;

  std::string mValue;
  int mLineNo;
  SubKey* mNext = nullptr;
  SubKey* mPrev = nullptr;
};

// A key name within one subsection, with every occurrence of it.
class Key {
 public:
  using iterator = GenericIterator<SubKey>;
  explicit Key(std::string name) : mName(std::move(name)) {}

  SubKey* NewSubKey(const std::string& value, int line) { return subkeys_.append(new SubKey(value, line)); }
  void CleanSubKeys() { subkeys_.clear(); }
  // Gives an absent key one empty occurrence (line -1), so callers can always read a value.
  void CheckEmpty();
  void Dump(std::ostream& os) const;

  int SubKeyCount() const { return subkeys_.count; }
  SubKey* FirstSubKey() const { return subkeys_.first; }
  iterator begin() const { return iterator(subkeys_.first); }
  iterator end() const { return iterator(); }

  std::string mName;
  Key* mNext = nullptr;
  Key* mPrev = nullptr;

 private:
  ChildList<SubKey> subkeys_;

 public:
  const int& mSubKeyCount = subkeys_.count;
};

// One occurrence of a section header and the keys written under it.
class SubSection {
 public:
  using iterator = GenericIterator<Key>;
  explicit SubSection(int line) : mLineNo(line) {}

  // The key of that name; an absent key is created (with no occurrence), never null.
  Key* operator[](const std::string& name);
  Key* NewKey(const std::string& name);
  SubKey* NewSubKey(const std::string& key, const std::string& value, int line) {
    return (*this)[key]->NewSubKey(value, line);
  }
  void CleanKeys();
  void Dump(std::ostream& os) const;

  int KeyCount() const { return keys_.count; }
  Key* FirstKey() const { return keys_.first; }
  iterator begin() const { return iterator(keys_.first); }
  iterator end() const { return iterator(); }

  int mLineNo;
  SubSection* mNext = nullptr;
  SubSection* mPrev = nullptr;

 private:
  ChildList<Key> keys_;
  std::map<std::string, Key*> index_;

 public:
  const int& mKeyCount = keys_.count;
};

// A section name with one subsection per header that carried it.
class Section {
 public:
  using iterator = GenericIterator<SubSection>;
  explicit Section(std::string name) : mName(std::move(name)) {}

  SubSection* NewSubSection(int line) { return subsections_.append(new SubSection(line)); }
  void CleanSubSections() { subsections_.clear(); }
  // Gives an absent section one empty subsection (line -1).
  void CheckEmpty();
  void Dump(std::ostream& os) const;

  int SubSectionCount() const { return subsections_.count; }
  SubSection* FirstSubSection() const { return subsections_.first; }
  iterator begin() const { return iterator(subsections_.first); }
  iterator end() const { return iterator(); }

  std::string mName;
  Section* mNext = nullptr;
  Section* mPrev = nullptr;

 private:
  ChildList<SubSection> subsections_;

 public:
  const int& mSubSectionCount = subsections_.count;
};

// The result of a section look-up: usable as the section's pointer (as the model hands it
// out) or as a reference (as configuring code takes it); it is never null.
class SectionRef {
 public:
  explicit SectionRef(Section* s) : s_(s) {}
  operator Section*() const { return s_; }
  operator Section&() const { return *s_; }
  Section* operator->() const { return s_; }
  Section& operator*() const { return *s_; }
  Section::iterator begin() const { return s_->begin(); }
  Section::iterator end() const { return s_->end(); }

 private:
  Section* s_;
};

// The parsed configuration file.
class File {
 public:
  using iterator = GenericIterator<Section>;
  // The longest text taken from a file; what follows is not used.
  static constexpr size_t kMaxText = 1 << 20;
  File() = default;
  explicit File(const std::string& name) { Open(name); }
  File(const File&) = delete;
  File& operator=(const File&) = delete;

  // Reads the regular file of that name; false (with its defaults) when there is none or it
  // cannot be used.
  bool Open(const std::string& name);
  bool IntOpen();
  // Parses the stream into this file, adding to what it already holds; a failing read ends
  // the text there.
  void IntOpenStream(std::istream& is);
  void Close();
  void Sync() {}

  // The section of that name; an absent section is created (with no subsection), never null.
  SectionRef operator[](const std::string& name);
  Section* NewSection(const std::string& name);
  SubSection* NewSubSection(const std::string& section, int line) {
    return (*this)[section]->NewSubSection(line);
  }
  void CleanSections();
  void Dump(std::ostream& os) const;

  bool IsOpen() const { return open_; }
  int SectionCount() const { return sections_.count; }
  Section* FirstSection() const { return sections_.first; }
  iterator begin() const { return iterator(sections_.first); }
  iterator end() const { return iterator(); }

  std::string mFileName;

 private:
  bool open_ = false;
  ChildList<Section> sections_;
  std::map<std::string, Section*> index_;

 public:
  // The counts under the names the configuring code reads them by.
  const int& mSectionCount = sections_.count;
};

// Replaces the file's contents with what the stream holds.
std::istream& operator>>(std::istream& is, File& f);

}  // namespace IniFile
