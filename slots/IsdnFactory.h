#pragma once
// Factory of the D-channel slots: ISDN ("isdn") on an HDLC controller channel, ATS-QSIG
// ("ats-qsig") on a DSP data channel, and the B channels beside an ATS-QSIG slot
// ("ats-qsig-b").
#include <iosfwd>

#include "slots/SlotFactory.h"

namespace LGCP {
class IsdnParams;
class AtsQsigParams;
class AtsQsigBParams;
}  // namespace LGCP

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

 private:
  Slot* NewIsdnSlot(LGCP::IsdnParams const& params);
  Slot* NewAtsQsigSlot(LGCP::AtsQsigParams const& params);
  Slot* NewAtsQsigBSlot(LGCP::AtsQsigBParams const& params);
};
