#pragma once
// The boolean trace channels read from the configuration section "traces", and a scope
// guard that writes "Enter"/"Leave" lines. A channel that is off costs one byte test.
#include <iosfwd>

namespace IniFile {
class Section;
class SubSection;
}  // namespace IniFile

class TraceCtl {
 public:
  enum Channel { SignallingHdlc, SignallingLemzgw, SignallingEvents, SignallingIsdn, MonitoringInternal };

  TraceCtl() = default;

  // Applies every subsection in file order; each starts from all channels off, so the
  // last occurrence of the section decides. An absent section changes nothing.
  void Configure(IniFile::Section& section);
  void Configure(IniFile::SubSection& sub);

  bool on(Channel c) const { return flags_[c]; }

  // Read by the HDLC channels, the DSP receiver service, the HDLC slot and the framer check.
  bool signalling_hdlc() const { return flags_[SignallingHdlc]; }
  bool signalling_lemzgw() const { return flags_[SignallingLemzgw]; }
  bool signalling_events() const { return flags_[SignallingEvents]; }
  // Read by the ISDN slot's frame transmission and reception.
  bool signalling_isdn() const { return flags_[SignallingIsdn]; }
  // Read by the monitoring data holders and checks.
  bool monitoring_internal() const { return flags_[MonitoringInternal]; }

 private:
  bool flags_[5] = {false, false, false, false, false};
};

extern TraceCtl traces;

namespace Trace {

// Writes "Enter <name>" on construction and "Leave <name>" on destruction when enabled.
class Block {
 public:
  Block(bool enabled, const char* name, std::ostream& os);
  ~Block();
  Block(const Block&) = delete;
  Block& operator=(const Block&) = delete;

 private:
  bool enabled_;
  const char* name_;
  std::ostream& os_;
};

}  // namespace Trace
