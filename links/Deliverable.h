#pragma once
// The longest unit a link hands up: the controller gets each layer-3 message or MSU as one
// "userData" octet string, and the control protocol's encoder writes no longer one. A link
// does not acknowledge a longer unit to its far end, so that none is taken and then lost.
#include "asn1/PEREncoder.h"

namespace Links {

inline constexpr unsigned kMaxDeliverable = ASN1::MaximumUnfragmentedLength;

}  // namespace Links
