#include "board/sim/Request.h"

#include <cstdio>
#include <cstring>

namespace board::sim {

namespace {
std::string errno_name(int error) {
  const char* name = strerrorname_np(error);
  return name ? name : std::to_string(error);
}
}  // namespace

std::optional<int64_t> Request::arg(std::string_view name) const {
  if (!def) return std::nullopt;
  for (int i = 0; i < arg_count && i < def->field_count; ++i) {
    if (name == def->fields[i].name) return args[static_cast<size_t>(i)];
  }
  return std::nullopt;
}

std::string Request::text() const {
  std::string s;
  if (def) {
    s = def->name;
  } else {
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%08X", number);
    s = buf;
  }
  for (int i = 0; def && i < arg_count && i < def->field_count; ++i) {
    const FieldDef& f = def->fields[i];
    s += ' ';
    s += f.name;
    s += '=';
    int64_t v = args[static_cast<size_t>(i)];
    if (f.kind == FieldDef::chars) {
      s += '"';
      for (int b = 3; b >= 0; --b) {
        char c = static_cast<char>((v >> (8 * b)) & 0xFF);
        s += (c >= 0x20 && c < 0x7F && c != '"') ? c : '.';
      }
      s += '"';
    } else {
      s += std::to_string(v);
    }
  }
  s += " -> ";
  s += std::to_string(result);
  if (error) s += ' ' + errno_name(error);
  return s;
}

}  // namespace board::sim
