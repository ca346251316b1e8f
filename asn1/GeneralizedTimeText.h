// Strict reader of GeneralizedTime text from untrusted input.
#pragma once

#include <cstddef>

namespace ASN1 {

class GeneralizedTime;

// Reads "YYYYMMDDhhmmss", an optional fraction ".d..." and an optional "Z" or "+hhmm"/"-hhmm"
// (offset kept in minutes) from exactly the length octets of text, and sets every field of
// value from it. False, value untouched, when anything else is there.
bool parseGeneralizedTime(const char* text, size_t length, GeneralizedTime& value);

}  // namespace ASN1
