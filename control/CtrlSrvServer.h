#pragma once
// The control server: decodes each frame of the controller connection as an LGCP::Message,
// offers commands to the bound services in bind order, makes sure every command gets exactly
// one answer, and encodes and sends answers and signals.
#include <cstdint>
#include <iosfwd>
#include <optional>
#include <vector>

#include "asn1/schemas/LGCP.h"
#include "control/ControlNotify.h"
#include "foundation/TimerEvent.h"

namespace Control {
class Service;
}

namespace CtrlSrv {

class Service;

// The sequence number of a command whose answer is put off, or none when the command carried
// none. Every 32-bit value is one the controller may send, -1 included, so the absence is
// told by itself and not by a reserved value.
using Seq = std::optional<int32_t>;

class Server : public Control::Notify {
 public:
  static constexpr uint32_t no_slot = 0xFFFFFFFFu;
  enum Answer { NotAnswered = 0, Answered = 1, AnsweredError = 2 };

  Server() = default;
  Server(const Server&) = delete;
  Server& operator=(const Server&) = delete;
  ~Server() override;

  void Bind(Service* service);
  // Serves the connection (owned from now on); an earlier one is deactivated first.
  void Activate(Control::Service* connection);
  void Deactivate();

  void OnConnect() override;
  void OnDisconnect() override;
  void OnMessage(char const* data, int length) override;

  // While held, no new controller is taken: one that connects waits until the hold ends.
  void HoldController(bool hold);
  bool held() const { return held_; }

  // The heartbeat ran out: drop the controller.
  void OnHeartbeatTimeout();
  bool CheckServerConnection(bool& connected) const;

  void Success();
  void Error(LGCP::ErrorCause::NamedNumber cause);
  // The command is answered later, by delayedSuccess with the seq returned here.
  Seq delayResponse();
  void delayedSuccess(unsigned int slot, Seq seq);
  void SendSignal(LGCP::Signal const& signal);
  // False when the message could not be encoded or there is no connection to take it.
  bool SendSignal(unsigned int slot, LGCP::Signal const& signal);
  bool SendMsg(LGCP::Message& message);

  void PutHeader(std::ostream& os) const;

  const std::vector<Service*>& services() const { return services_; }
  Control::Service* connection() const { return connection_; }
  uint32_t GetSlot() const { return slot_; }
  Answer answer_state() const { return answer_; }

 private:
  void Handle(LGCP::Message const& message);
  void OnUpdateAvgStat(Timer*) {}

  std::vector<Service*> services_;
  Control::Service* connection_ = nullptr;
  bool held_ = false;
  bool seqPresent_ = false;
  int32_t seq_ = 0;
  uint32_t slot_ = no_slot;
  Answer answer_ = NotAnswered;
  Timer statTimer_;
  std::vector<char> out_;  // encode buffer, kept to spare an allocation per answer
};

}  // namespace CtrlSrv

extern CtrlSrv::Server ctrlServer;
