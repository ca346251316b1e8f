#pragma once
// Bottom layer of a control connection: owns one connected stream socket, reads it into
// packets passed up the stack, writes outgoing packets (bounded wait), and turns every socket
// failure into a failure status that climbs to the connection object. Packets written while
// one received chunk is handled go out together, in order, once that chunk is done; any
// other packet is written at once.

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "control/Protocol.h"
#include "foundation/Event.h"
#include "foundation/Fd.h"
#include "foundation/Measure.h"

class StrmProtocol : public Protocol {
 public:
  // Longest time one outgoing packet may wait for the socket, in real milliseconds.
  static constexpr int send_deadline_ms = 1000;
  // Bytes gathered from one received chunk before they are written regardless.
  static constexpr unsigned gather_limit = 65536;

  StrmProtocol();
  explicit StrmProtocol(const Fd& fd);
  ~StrmProtocol() override;

  // Takes its own duplicate of fd (after releasing any current one); does not watch it yet.
  void attach(const Fd& fd);
  // Stops watching and closes the socket, without a report upwards.
  void release();

  int sendbuf_space() const;
  int recvbuf_space() const;
  int inq_space() const;
  int outq_space() const;
  int free_space() const;

  void local_prepare_head(Packet& p) override;
  void local_prepare_tail(Packet& p) override;
  void local_activate() override;
  void local_deactivate() override;
  void message(Packet& p) override;

  void on_event(int fd, short revents);
  void do_read();
  void on_error(const std::string& text);

  void PutHeader(std::ostream& os) const;

  void set_connection_name(const std::string& n) { conn_name_ = n; }
  const std::string& connection_name() const { return conn_name_; }
  bool attached() const { return static_cast<bool>(socket_); }
  uint32_t overflow_counter() const { return overflow_; }
  const Measure& read_measure() const { return read_measure_; }
  const Measure& write_measure() const { return write_measure_; }

 private:
  void log_buffers(std::ostream& os) const;
  // Writes all of it within the deadline; false with the failure reported.
  bool write_out(const char* data, unsigned total);
  // Writes what was gathered; false when the write failed (the socket is released then).
  bool flush_gathered();

  Protocol_name_str layer_name_{"StrmProtocol"};
  Fd socket_;
  bool outq_flag_ = false;
  std::string conn_name_;
  Event input_;
  Measure read_measure_;
  Measure write_measure_;
  uint32_t overflow_ = 0;
  // While a received chunk climbs the stack, answers gather here (capacity kept).
  bool gathering_ = false;
  std::vector<char> gathered_;
  bool* alive_ = nullptr;  // cleared by the destructor while a chunk is being handled
};
