#pragma once
// Typed reading of one ini subsection: variables are bound to key names as required or
// optional fields, and parse() converts each value and reports missing, invalid and
// repeated keys with their line numbers under the component's log header.
#include <cerrno>
#include <cstdlib>
#include <iostream>
#include <limits>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

namespace IniFile {

class SubSection;

// One entry of a name-to-value table; a table ends with an entry whose name is null.
template <class T>
struct Symbol {
  const char* name;
  T value;
};

namespace Private {

// The binding of one key name to one variable.
class KeyValue {
 public:
  KeyValue() = default;
  KeyValue(const KeyValue&) = delete;
  KeyValue& operator=(const KeyValue&) = delete;
  virtual ~KeyValue() = default;
  virtual const char* name() const = 0;
  // Converts the text into the bound variable; false (variable untouched) when invalid.
  virtual bool do_parse(const char* text) = 0;

  bool set = false;  // the key was given once and its value was valid
};

// Enumerations and integers: a symbol of the table, else a whole number in base 0
// (decimal, 0x hexadecimal, 0 octal) that fits the variable's type.
template <class T>
class TKeyValue : public KeyValue {
  static_assert(std::is_enum_v<T> || std::is_integral_v<T>, "no binding for this type");

 public:
  TKeyValue(T* var, const char* name, const Symbol<T>* table) : var_(var), name_(name), table_(table) {}
  const char* name() const override { return name_; }

  bool do_parse(const char* text) override {
    for (const Symbol<T>* s = table_; s && s->name; ++s) {
      if (std::string_view(s->name) == text) {
        *var_ = s->value;
        return true;
      }
    }
    using U = typename std::conditional_t<std::is_enum_v<T>, std::underlying_type<T>, std::type_identity<T>>::type;
    if (*text == '\0') return false;
    char* end = nullptr;
    errno = 0;
    if constexpr (std::is_signed_v<U>) {
      long long v = std::strtoll(text, &end, 0);
      if (*end != '\0' || errno == ERANGE) return false;
      if (v < static_cast<long long>(std::numeric_limits<U>::min()) ||
          v > static_cast<long long>(std::numeric_limits<U>::max()))
        return false;
      *var_ = static_cast<T>(static_cast<U>(v));
    } else {
      // strtoull would quietly wrap a negative number; refuse a sign instead.
      const char* p = text;
      while (*p == ' ' || *p == '\t' || *p == '\n' || *p == '\v' || *p == '\f' || *p == '\r') ++p;
      if (*p == '-') return false;
      unsigned long long v = std::strtoull(text, &end, 0);
      if (*end != '\0' || errno == ERANGE || v > std::numeric_limits<U>::max()) return false;
      *var_ = static_cast<T>(static_cast<U>(v));
    }
    return true;
  }

 private:
  T* var_;
  const char* name_;
  const Symbol<T>* table_;
};

// Booleans: the fixed words true/false, yes/no, enabled/disabled, enable/disable, 1/0.
template <>
class TKeyValue<bool> : public KeyValue {
 public:
  TKeyValue(bool* var, const char* name, const void* = nullptr) : var_(var), name_(name) {}
  const char* name() const override { return name_; }
  bool do_parse(const char* text) override;

 private:
  bool* var_;
  const char* name_;
};

// Text: the whole value, always valid.
template <>
class TKeyValue<std::string> : public KeyValue {
 public:
  TKeyValue(std::string* var, const char* name, const void* = nullptr) : var_(var), name_(name) {}
  const char* name() const override { return name_; }
  bool do_parse(const char* text) override {
    *var_ = text;
    return true;
  }

 private:
  std::string* var_;
  const char* name_;
};

}  // namespace Private

// Reads one subsection into bound variables; lives for one parse() call.
class Reader {
 public:
  // An ordered list of owned bindings.
  class Field {
   public:
    Field() = default;
    Field(const Field&) = delete;
    Field& operator=(const Field&) = delete;
    ~Field();

    // Binds a variable to a key name (which must outlive the reader); the returned flag
    // tells, after parse(), whether the key was given once with a valid value.
    template <class T>
    bool& add(T* var, const char* name, const Symbol<T>* table = nullptr) {
      return add(new Private::TKeyValue<T>(var, name, table));
    }
    bool& add(Private::KeyValue* kv);

    const std::vector<Private::KeyValue*>& items() const { return items_; }

   private:
    std::vector<Private::KeyValue*> items_;
  };

  explicit Reader(const std::string& header, std::ostream& out = std::cerr) : header_(header), out_(&out) {}

  // True when every required key was present once and valid; the first failing required
  // key ends the parse. Optional problems are reported but never fail it.
  bool parse(SubSection& sub);

  Field required;
  Field optional;

 private:
  // Reports and converts one binding; false when the key is not usable.
  bool parse_one(SubSection& sub, Private::KeyValue& kv, bool is_required);

  std::string header_;
  std::ostream* out_;
};

}  // namespace IniFile
