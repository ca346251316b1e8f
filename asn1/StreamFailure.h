// How the value-notation stream operators report an exception of the value's reader or writer.
#pragma once

#include <ios>

namespace ASN1 {

// Turns the exception being handled into the stream's state; passes it on only when the
// stream's exception mask asks for that state. Call only from a catch handler.
inline void failStream(std::ios& s, std::ios_base::iostate state)
{
    if (s.exceptions() & state) {
        try {
            s.setstate(state);
        } catch (const std::ios_base::failure&) {
        }
        throw;
    }
    s.setstate(state);
}

}  // namespace ASN1
