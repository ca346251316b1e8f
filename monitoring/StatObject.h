#pragma once
// The source side of the statistics pages: a tree of objects that give named values, named
// child objects and named lists of objects.
#include <memory>
#include <string>
#include <utility>

namespace Stat {

// A statistics value: a text, or nothing when the object does not have it.
class Value {
 public:
  Value() = default;
  explicit Value(std::string text) : valid_(true), text_(std::move(text)) {}

  bool valid() const { return valid_; }
  const std::string& text() const { return text_; }

  // Tests true only when valid, without converting to an integer.
  typedef void (Value::*bool_type)() const;
  void true_helper_func() const {}
  operator bool_type() const { return valid_ ? &Value::true_helper_func : nullptr; }

 private:
  bool valid_ = false;
  std::string text_;
};

class Object;

// Walks a list of objects: stands on one element at a time until it runs off the end.
class Iterator {
 public:
  virtual ~Iterator() = default;
  virtual bool valid() const = 0;
  virtual void next() = 0;
  virtual Object* get() const = 0;
};

class Object {
 public:
  virtual ~Object() = default;
  // The named value; an invalid one when the object has none.
  virtual Value statistics_value(std::string const& name) const = 0;
  // The named child object, not owned by the caller; null when there is none.
  virtual Object* statistics_object(std::string const& name) const = 0;
  // A walk over the named list; null when there is no such list.
  virtual std::unique_ptr<Iterator> statistics_iterator(std::string const& name) const = 0;
};

}  // namespace Stat
