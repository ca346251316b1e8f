// Radio signalling from the network through the controllers: any extension packet, read by
// the LEMZ gateway and workstation and the ED-137 gateway, either is dropped or becomes a
// radio request that the control link can encode. The first byte picks the sender.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "asn1/CoderEnv.h"
#include "asn1/schemas/TERM.h"
#include "radio/ED137RadioGWControl.h"
#include "radio/LemzRadioGWControl.h"
#include "radio/LemzRadioWSControl.h"

namespace {

using namespace RTPSignalling;

class MustEncode : public IRadioControlNotify {
 public:
  bool RadioControlNotify(TERM::RtpRadioRequest const& r) override {
    std::vector<char> bytes;
    if (!ASN1::detail::encodePER(r, bytes)) std::abort();
    return true;
  }
};

// One controller of each kind on the simulated extension device, kept across inputs so that
// their states carry from one packet to the next.
struct Controllers {
  Controllers() {
    for (RadioControl* c : std::initializer_list<RadioControl*>{&lemz_gw, &lemz_ws, &ed137}) c->SetNotify(&notify);
  }
  MustEncode notify;
  LemzRadioGWControl lemz_gw{rtp_ext_init_params{}};
  LemzRadioWSControl lemz_ws{rtp_ext_init_params{}};
  ED137RadioGWControl ed137{rtp_ext_init_params{}};
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static Controllers c;
  if (size < 1) return 0;
  const uint32_t sender = 0x0A000000u | data[0];
  ++data;
  --size;
  sig_proto p;
  sig_proto_init(&p);
  if (sig_proto_unpack(&p, data, size) == 0) {
    p.src_addr = sender;
    p.src_ssrc = sender;
    c.lemz_gw.OnRtpProtoRXEvent(p);
    c.lemz_ws.OnRtpProtoRXEvent(p);
  }
  r2s_proto r;
  r2s_proto_init(&r, 0);
  if (r2s_proto_unpack_tx(&r, data, size) == 0) {
    r.src_addr = sender;
    r.src_ssrc = sender;
    c.ed137.OnRtpProtoRXEvent(r);
  }
  return 0;
}
