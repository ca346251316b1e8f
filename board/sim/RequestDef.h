#pragma once
// What the simulated board knows of each driver request: its name, how its argument is
// passed and which fields its record holds, so that every request can be decoded and logged.
#include <cstdint>
#include <span>
#include <string>

#include "board/sim/Device.h"

namespace board::sim {

enum class ArgForm : uint8_t {
  none,    // no argument
  value,   // the integer itself is the argument
  record,  // a pointer to a record of the request's size
};

struct FieldDef {
  enum Kind : uint8_t { u, s, chars };  // unsigned, signed, characters (shown as text)
  const char* name;
  uint8_t offset;
  uint8_t width;  // 1, 2 or 4 bytes
  Kind kind;
};

struct RequestDef {
  static constexpr int kMaxFields = 12;
  uint32_t number;
  const char* name;
  ArgForm form;
  uint8_t field_count;
  FieldDef fields[kMaxFields];
};

// The request `number` of `device`, or null for a request the device does not know.
const RequestDef* find_request(Device device, uint32_t number);

// Every request of a device, for listings.
std::span<const RequestDef> requests_of(Device device);

// Reads one field from a record in the board's byte order.
int64_t read_field(const FieldDef& field, const uint8_t* record);

}  // namespace board::sim
