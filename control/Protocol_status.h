#pragma once
// Reference-counted status objects that a protocol layer reports upwards (success or failure,
// with a text); always handled through Protocol_status (a counted pointer).

#include <cstdint>
#include <ostream>
#include <string>

#include "foundation/Smart_pointer.h"

class Protocol;

class Internal_protocol_status {
 public:
  Internal_protocol_status(Protocol* src, std::string txt) : source(src), text(std::move(txt)) {}
  virtual ~Internal_protocol_status() = default;
  virtual bool success() const = 0;
  virtual std::string message() const { return text; }
  virtual void out(std::ostream& os) const { os << text; }

  Protocol* source;
  uint32_t refs = 0;
  std::string text;
};

using Protocol_status = Smart_pointer<Internal_protocol_status>;

class Protocol_status_success : public Internal_protocol_status {
 public:
  using Internal_protocol_status::Internal_protocol_status;
  bool success() const override { return true; }
};

class Protocol_status_error : public Internal_protocol_status {
 public:
  using Internal_protocol_status::Internal_protocol_status;
  bool success() const override { return false; }
};

// What a family that holds no layer answers to initialize().
class Protocol_initialize_error : public Protocol_status_error {
 public:
  explicit Protocol_initialize_error(Protocol* src) : Protocol_status_error(src, "error") {}
};
