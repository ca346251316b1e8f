// Reference messages of the control and agent links, built through the generated accessors.
// They mirror tools/erlang/schemas_vectors.py, whose encodings by an independent codec are
// in fixtures/per_vectors.txt under the same names.
#pragma once

#include "asn1/schemas/LGCP.h"
#include "asn1/schemas/MON.h"

#include <string>
#include <vector>

namespace reference {

template <class T>
struct Named {
    std::string name;
    T value;
};

// One per LGCP::Command alternative (several for create and ioctl), in alternative order.
std::vector<Named<LGCP::Message>> commands();
// success, then one error per LGCP::ErrorCause value 0..12.
std::vector<Named<LGCP::Message>> responses();
// One per LGCP::Signal alternative (two for tonec and rtpExt), in alternative order.
std::vector<Named<LGCP::Message>> signals();
// Every MON::Message alternative.
std::vector<Named<MON::Message>> monMessages();

}  // namespace reference
