#pragma once
// Text from outside (a peer's address, a name, an argument) made safe for one log line, one
// syslog record, one trace line or one line of a status file.
#include <string>
#include <string_view>

namespace ext {

// The text with every control byte (0x00 to 0x1F and 0x7F) and every backslash written as
// "\xNN" (two upper-case hex digits); other bytes stay as they are. The result holds no line
// end, so it cannot cut a record in two, and it reads back unambiguously.
std::string escaped(std::string_view text);

}  // namespace ext
