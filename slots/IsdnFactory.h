#pragma once
// Factory of the D-channel slots: ISDN ("isdn") on an HDLC controller channel, ATS-QSIG
// ("ats-qsig") on a DSP data channel, and the B channels beside an ATS-QSIG slot
// ("ats-qsig-b").
#include <iosfwd>

#include "foundation/Fd.h"
#include "slots/SlotFactory.h"

namespace LGCP {
class IsdnParams;
class AtsQsigParams;
class AtsQsigBParams;
}  // namespace LGCP

class IsdnSlot;

class IsdnFactory : public SlotFactory {
 public:
  IsdnFactory() = default;
  const char* GetName() const override { return "ISDN"; }
  Slot* INewSlot(LGCP::CreateParams const& params) override;
  void Query(LGCP::Resources&) override {}

  // The factory's slot with that number, or null.
  Slot* FindSlot(unsigned number) const;
  // "mcc/isdn: "
  void PutHeader(std::ostream& os) const;

  // A new channel of the HDLC controller for a D channel (basic rate or primary rate), or no
  // descriptor (reason logged).
  Fd OpenMccChannel(bool bri);
  // A new signalling channel of the DSP data device and its number, or no descriptor.
  Fd OpenDspDataChannel(int& channel);

 private:
  Slot* NewIsdnSlot(LGCP::IsdnParams const& params);
  Slot* NewAtsQsigSlot(LGCP::AtsQsigParams const& params);
  Slot* NewAtsQsigBSlot(LGCP::AtsQsigBParams const& params);
  // A create that failed at `what` with error: a line, and no slot.
  Slot* Refused(const char* what, int error);
  // slot when it holds its channel; otherwise it is deleted (which gives the channel back) and
  // the create is refused.
  Slot* Held(IsdnSlot* slot);
};
