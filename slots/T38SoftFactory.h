#pragma once
// Factory of software T.38 slots: allocates a transparent controller channel, starts the T.38
// engine on it and reports how many engine instances the board runs.
#include <iosfwd>
#include <string>
#include <vector>

#include "slots/SlotFactory.h"

namespace LGCP {
class T38Soft;
}

class T38SoftFactory : public SlotFactory {
 public:
  // The engine as it is named to itself (its argument 0); it runs from under the path root.
  static constexpr const char* kProgram = "/usr/local/sbin/t38";
  // Entries of the engine's argument list, the terminating null included.
  static constexpr size_t kMaxArgs = 32;
  // The exit status of a child whose engine could not be executed.
  static constexpr int kExecFailed = 1005;
  // How long the instance query may take before it counts as no answer.
  static constexpr int kQueryTimeoutMs = 2000;
  int queryTimeoutMs = kQueryTimeoutMs;

  const char* GetName() const override { return "T.38 soft"; }
  Slot* INewSlot(LGCP::CreateParams const& params) override;
  void Query(LGCP::Resources& resources) override;
  // "t38soft: ".
  void PutHeader(std::ostream& os) const;

  // Asks the engine how many instances it runs; 0 when it cannot tell.
  int QueryNumOfInstances();
  // The engine's arguments for a create: program, "--child", "--remote", "<dhost>/<dport>/<sport>"
  // and as many of the controller's extra arguments as fit.
  static std::vector<std::string> Arguments(LGCP::T38Soft const& params);
  // Whether a remote host can go into the engine's "<host>/<port>/<port>" form: an IPv4 address
  // or a host name, never empty and without a slash or any byte a name does not hold.
  static bool RemoteHost(std::string const& text);
  // Whether a create can start the engine as the controller asked: a remote host that is one,
  // and no argument holding a NUL byte. When not, one line says why.
  bool Acceptable(LGCP::T38Soft const& params) const;
  // The instance count of the engine's reply line: its leading decimal number, within 0 and
  // INT_MAX.
  static int ParseInstances(const char* line);
};
