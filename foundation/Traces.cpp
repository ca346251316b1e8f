#include "foundation/Traces.h"

#include <ostream>

#include "foundation/IniFile.h"
#include "foundation/IniReader.h"

TraceCtl traces;

void TraceCtl::Configure(IniFile::Section& section) {
  for (IniFile::SubSection& sub : section) Configure(sub);
}

void TraceCtl::Configure(IniFile::SubSection& sub) {
  static const char* const names[] = {"signalling.hdlc", "signalling.lemzgw", "signalling.events",
                                      "signalling.isdn", "monitoring.internal"};
  IniFile::Reader reader("traces: ");
  for (int i = 0; i < 5; ++i) {
    flags_[i] = false;
    reader.optional.add(&flags_[i], names[i]);
  }
  reader.parse(sub);
}

namespace Trace {

Block::Block(bool enabled, const char* name, std::ostream& os) : enabled_(enabled), name_(name), os_(os) {
  if (enabled_) os_ << "Enter " << name_ << "\n";
}

Block::~Block() {
  if (enabled_) os_ << "Leave " << name_ << "\n";
}

}  // namespace Trace
