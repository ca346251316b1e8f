#pragma once
// Printable, comparable names of protocol layers; a layer is looked up in its stack by name.

#include <string>

class Protocol_name {
 public:
  virtual ~Protocol_name() = default;
  virtual int kind() const = 0;
  virtual const char* name() const = 0;
  virtual bool compare(const Protocol_name& other) const = 0;
};

// The name of a layer that has none: kind 0, "(no name)".
class Protocol_name_null : public Protocol_name {
 public:
  int kind() const override { return 0; }
  const char* name() const override { return "(no name)"; }
  bool compare(const Protocol_name& other) const override { return other.kind() == 0; }
};

// A name held as text (its own copy): kind 1, equal to a name of the same kind and text.
class Protocol_name_str : public Protocol_name {
 public:
  explicit Protocol_name_str(const char* text) : text_(text ? text : "(no name)") {}
  int kind() const override { return 1; }
  const char* name() const override { return text_.c_str(); }
  bool compare(const Protocol_name& other) const override;

 private:
  std::string text_;
};
