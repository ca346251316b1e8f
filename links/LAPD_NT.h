#pragma once
// ISDN::LAPD_NT: the network side of a basic-rate D channel with up to eight terminals. It
// answers TEI management, keeps one simple data link per assigned TEI (LAPD_NT_user), routes
// layer-3 messages by call reference and broadcasts SETUP to every terminal.
#include <cstdint>
#include <iosfwd>

#include "control/Protocol.h"
#include "foundation/CleanQueue.h"
#include "foundation/Packet.h"
#include "foundation/TimerEvent.h"

namespace ISDN {

class LAPD_NT;

class LAPD_NT_user {
 public:
  static constexpr unsigned kIdle = 10000, kWait = 1000, kCheck = 2000;
  static constexpr unsigned kRetries = 3, kWindow = 7, kOutLimit = 128;
  enum LinkState : uint32_t { unassigned = 0, assigned = 1, wait_answer = 2 };

  LAPD_NT_user() = default;
  LAPD_NT_user(const LAPD_NT_user&) = delete;
  LAPD_NT_user& operator=(const LAPD_NT_user&) = delete;

  void set_lapd(LAPD_NT* owner) { owner_ = owner; }
  void set_log(unsigned level) { log_ = level; }

  void assign();
  void unassign();
  void checking();
  // A frame for this TEI (whole, address octets included); cr is the C/R bit of octet 1.
  void receive(Packet& frame, bool cr);
  // Takes a layer-3 message of this link's call; false when it is not this link's.
  bool message(Packet& msg);
  void on_timer();
  void retransmit();
  bool ack_queue(unsigned char nr);
  void set_busy();
  void set_unbusy();
  void PutHeader(std::ostream& os) const;

  bool check = false;
  uint8_t vr = 0;
  uint8_t ackMark = 0;  // N(R) - 1 of the last accepted acknowledgement
  uint8_t vs = 0;
  uint8_t tei = 0;
  uint32_t linkState = unassigned;
  uint32_t rc = 0;
  uint8_t callRef = 0;
  bool busy = false;
  uint16_t ri = 0;
  unsigned out_queued() const { return outQueue_.count(); }
  unsigned ack_queued() const { return ackQueue_.count(); }

 private:
  std::ostream& log() const;
  bool logging() const { return log_ > 1; }
  void tx_U(unsigned char code, bool pf, bool command);
  void tx_S(unsigned char control, bool pf, bool command);
  bool tx_I(Packet& msg, unsigned char nr, unsigned char ns);
  bool send_I(Packet& msg);
  void send_queued();
  void acknowledged();
  void wait(uint32_t state, unsigned ms);
  void on_I(Packet& frame, unsigned ns, unsigned nr, bool p);

  LAPD_NT* owner_ = nullptr;
  unsigned log_ = 0;
  Timer linkTimer_;
  Timer checkTimer_;
  CleanQueue<Packet, 135> outQueue_;
  CleanQueue<Packet, 7> ackQueue_;
};

class LAPD_NT : public Protocol {
 public:
  static constexpr unsigned kUsers = 8, kCheckPeriod = 60000, kHeadRoom = 4;

  LAPD_NT();
  ~LAPD_NT() override;

  void local_prepare_head(Packet& p) override;
  void local_prepare_tail(Packet& p) override;
  void local_activate() override;
  void local_deactivate() override;
  void message(Packet& p) override;
  void receive(Packet& p) override;

  void send_to_layer3(Packet& p) { on_message(p); }
  void send_to_layer1(Packet& p) { transmit(p); }
  LAPD_NT_user* find_Tei(unsigned char tei);
  LAPD_NT_user* find_free_Tei(unsigned char ai);
  void check_all_Tei();
  void tx_identity(unsigned short ri, int ai, unsigned char type);
  void PutHeader(std::ostream& os) const;
  void set_log(unsigned level);
  unsigned log_level() const { return log_; }

  LAPD_NT_user& user(unsigned i) { return users_[i]; }

 private:
  std::ostream& log() const;
  void on_tei_procedure(Packet& p);
  void remove_twice(int ai);

  Timer checkTimer_;
  LAPD_NT_user users_[kUsers];
  unsigned log_ = 0;
};

}  // namespace ISDN
