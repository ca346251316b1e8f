#include "foundation/IniReader.h"

#include <cstring>
#include <ostream>

#include "foundation/IniFile.h"

namespace IniFile {

namespace Private {

bool TKeyValue<bool>::do_parse(const char* text) {
  static const struct {
    const char* word;
    bool value;
  } words[] = {{"true", true},     {"false", false},     {"yes", true},    {"no", false},
               {"enabled", true},  {"disabled", false},  {"enable", true}, {"disable", false},
               {"1", true},        {"0", false}};
  for (const auto& w : words) {
    if (std::strcmp(w.word, text) == 0) {
      *var_ = w.value;
      return true;
    }
  }
  return false;
}

}  // namespace Private

Reader::Field::~Field() {
  for (Private::KeyValue* kv : items_) delete kv;
}

bool& Reader::Field::add(Private::KeyValue* kv) {
  items_.push_back(kv);
  return kv->set;
}

bool Reader::parse_one(SubSection& sub, Private::KeyValue& kv, bool is_required) {
  std::ostream& os = *out_;
  const char* kind = is_required ? "required key" : "optional key";
  auto start = [&] { os << header_ << kind << " \"" << kv.name() << "\""; };

  Key* key = sub[kv.name()];
  const int n = key->SubKeyCount();
  SubKey* first = key->FirstSubKey();
  if (n == 0) {
    if (is_required) {
      start();
      os << " not present, line " << sub.mLineNo << "\n";
      return false;
    }
    return true;
  }
  if (n == 1) {
    kv.set = kv.do_parse(first->mValue.c_str());
    if (kv.set) return true;
    start();
    os << " has invalid value=\"" << first->mValue << "\", line " << first->mLineNo
       << (is_required ? "" : ". Key will be ignored.") << "\n";
    return false;
  }
  if (n == 2) {
    start();
    os << " is duplicated!\n";
    os << header_ << " first occurence at " << first->mLineNo << " line.\n";
    os << header_ << " second occurence at " << first->mNext->mLineNo << " line."
       << (is_required ? "" : " Both keys will be ignored.") << "\n";
    return false;
  }
  start();
  os << " specified more than once:";
  for (SubKey* k = first; k; k = k->mNext) os << ' ' << k->mLineNo;
  os << (is_required ? " lines" : " lines. All keys will be ignored.") << "\n";
  return false;
}

bool Reader::parse(SubSection& sub) {
  for (Private::KeyValue* kv : required.items()) {
    if (!parse_one(sub, *kv, true)) return false;
  }
  for (Private::KeyValue* kv : optional.items()) {
    kv->set = false;
    parse_one(sub, *kv, false);
  }
  return true;
}

}  // namespace IniFile
