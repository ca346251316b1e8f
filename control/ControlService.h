#pragma once
// One end of a TPKT-framed stream connection: a stack of the stream layer under the TPKT
// layer, with the connection state, one bound Notify and Send of blocks as frames. How the
// socket is obtained (listening or connecting) is left to the subclasses' Impl hooks.

#include <cstdint>
#include <string>

#include "control/ControlNotify.h"
#include "control/ProtocolsFamily.h"
#include "foundation/Dpc.h"
#include "foundation/Fd.h"

class StrmProtocol;
struct Measure;

namespace Control {

struct State {
  enum Type { Idle = 0, Connecting = 1, Deactivating = 2, Connected = 3 };
};

// "Idle", "Connecting", "Deactivating", "Connected"; "Unknown" for any other value.
const char* GetTextNotation(State::Type s);

class Service : protected ProtocolsFamily {
 public:
  // The largest block that one frame can carry (16-bit length including the 4-byte header).
  static constexpr int max_block = 65531;

  Service();
  ~Service() override;

  void Bind(Notify* n) { notify_ = n; }
  void UnBind() { notify_ = nullptr; }
  void service_name(const std::string& name);
  const std::string& service_name() const;

  bool Activate();
  void Deactivate();
  void Disconnect();
  // Sends one block as one frame when Connected; otherwise drops it.
  void Send(char const* data, int length);
  // Closes the stream layer's socket at once, with no report.
  void Release();
  // While held, a listening service takes no new peer: one that connects waits in the
  // backlog until the hold ends. Other kinds have no peers to hold and ignore it.
  virtual void HoldPeers(bool) {}

  State::Type state() const { return state_; }
  const std::string& connection_name() const { return name_; }
  bool verbose() const { return verbose_; }
  void set_verbose(bool v) { verbose_ = v; }
  uint32_t GetOverflowCounter() const;
  const Measure& get_read_measure() const;
  const Measure& get_write_measure() const;

 protected:
  void on_message(Packet& p) override;
  void on_activated(Protocol*) override {}
  void on_deactivated(Protocol* p, Protocol_status status) override;

  virtual bool ImplActivate() = 0;
  virtual void ImplDeactivate() = 0;
  virtual void ImplOnDisconnect() = 0;

  // Takes a new connection on socket (steps common to every kind of socket). False, with a
  // line saying why, when its stream or watch cannot be made: the connection then ends at once
  // (its end runs ImplOnDisconnect, as any end does) and no connect or disconnect hook runs.
  bool SetupConnection(const Fd& socket, const std::string& peer_name);
  void OnDeactivateDPC();

  std::string name_;
  bool verbose_ = true;
  State::Type state_ = State::Idle;
  Notify* notify_ = nullptr;
  // The notify's OnConnect ran for the current connection: its end owes it the OnDisconnect.
  bool announced_ = false;
  // Inside SetupConnection: an end reported now is the setup's failure.
  bool setting_up_ = false;
  StrmProtocol* stream_;
  Dpc end_dpc_;
};

}  // namespace Control
