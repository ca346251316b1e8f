#pragma once
// Shared pieces of the fuzz targets that feed driver records: the log streams silenced with the
// event traces on, and the input cut into chunks of [selector][length][bytes].
#include <cstddef>
#include <cstdint>
#include <iostream>
#include <span>
#include <sstream>
#include <streambuf>

#include "foundation/IniFile.h"
#include "foundation/Traces.h"
#include "tests/fuzz/FuzzSupport.h"

namespace fuzz {

// The standard streams silenced, with the device event traces on so that their lines are
// formatted too.
inline void quiet_with_event_traces() {
  quiet();
  IniFile::File f;
  std::istringstream in("[traces]\nsignalling.events = yes\n");
  in >> f;
  traces.Configure(f["traces"]);
}

// Calls each(selector, record) for every chunk; a length beyond the input is cut to what is left.
template <typename Each>
void for_each_record(const uint8_t* data, size_t size, Each each) {
  size_t at = 0;
  while (at + 2 <= size) {
    const uint8_t selector = data[at];
    size_t len = data[at + 1];
    at += 2;
    if (len > size - at) len = size - at;
    each(selector, std::span<const uint8_t>(data + at, len));
    at += len;
  }
}

}  // namespace fuzz
