#pragma once
// TPKT framing layer (version 3, reserved 0, 16-bit length counting the 4-byte header): cuts a
// byte stream into frames and frames outgoing messages. Resynchronises on bad input.

#include <cstdint>

#include "control/Protocol.h"
#include "foundation/Packet.h"
#include "foundation/TimerEvent.h"

class Tpkt_protocol : public Protocol {
 public:
  enum State { idle = 0, wait_r = 1, len_1 = 2, len_2 = 3, body = 4, ignore = 5 };

  static constexpr unsigned header_size = 4;
  static constexpr unsigned max_payload = 0xFFFF - header_size;  // 65,531
  static constexpr unsigned partial_timeout_ms = 3000;

  Tpkt_protocol();
  ~Tpkt_protocol() override;

  void local_prepare_head(Packet& p) override;
  void local_prepare_tail(Packet& p) override;
  void local_activate() override;
  void local_deactivate() override;
  void message(Packet& p) override;
  void receive(Packet& p) override;

  void reset();
  void on_timeout(Timer*);

  State state() const { return state_; }

 private:
  void state_idle(const uint8_t*& at, const uint8_t* end);
  void state_wait_r(const uint8_t*& at, const uint8_t* end);
  void state_len_1(const uint8_t*& at, const uint8_t* end);
  void state_len_2(const uint8_t*& at, const uint8_t* end);
  void state_body(const uint8_t*& at, const uint8_t* end);
  void state_ignore(const uint8_t*& at, const uint8_t* end);
  void report_garbage();

  Protocol_name_str layer_name_{"TPKT"};
  uint32_t length_ = 0;
  Timer timer_;
  State state_ = idle;
  Packet frame_;
  // Bytes dropped while hunting for a frame start; reported once per run, not per byte.
  uint32_t garbage_ = 0;
  // Loop time of the latest chunk that left something pending.
  uint32_t last_chunk_ms_ = 0;
};
