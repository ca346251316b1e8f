#pragma once
// One driver request as the simulated board logged it.
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "board/sim/Device.h"
#include "board/sim/RequestDef.h"

namespace board::sim {

// One request as the board saw it, with its argument decoded field by field.
struct Request {
  uint64_t sequence = 0;  // order among all requests of the board
  Device device = Device::hal;
  uint32_t number = 0;
  const RequestDef* def = nullptr;  // null: a request the device does not know
  uint8_t arg_count = 0;
  std::array<int64_t, RequestDef::kMaxFields> args{};
  int result = 0;
  int error = 0;  // errno of a failed request, else 0
  // The argument record as the daemon passed it (its first kRecordBytes bytes), so that tests
  // can check a record byte for byte; empty for requests without a record.
  static constexpr size_t kRecordBytes = 44;
  std::array<uint8_t, kRecordBytes> record{};
  uint8_t record_size = 0;

  // The decoded argument field `name`; nullopt when the request has no such field.
  std::optional<int64_t> arg(std::string_view name) const;
  // The recorded record bytes.
  std::vector<uint8_t> bytes() const { return {record.begin(), record.begin() + record_size}; }
  // "MUX_CONNECT output=8200 source=5 -> 0", "0x12345678 -> -1 ENOTTY".
  std::string text() const;
};

}  // namespace board::sim
