#pragma once
// One channel of the board's multi-channel HDLC controller ("/dev/mcc/ctl"): allocated on
// activation, patched to a TDM channel through the switch, one read = one received frame,
// one write = one frame sent. The signalling links and the HDLC and PSTN slots own them.
#include <cstdint>
#include <iosfwd>

#include "foundation/Event.h"

class Packet;

// The sending side of an HDLC channel, whatever carries it.
class GenericHDLC {
 public:
  virtual ~GenericHDLC() = default;
  // Sends one frame: true when written (and for an empty frame); false when the channel is
  // closed, when the driver would block (on_hdlc_ready follows once it can take frames) or
  // on a write error.
  virtual bool hdlc_transmit(Packet& frame) = 0;
  virtual bool is_open() const = 0;
  virtual bool is_ready() const = 0;
};

class HDLC : public GenericHDLC {
 public:
  // What an owner hears from its channel.
  class Notify {
   public:
    struct Cause {
      // read_error: the channel read an error or its end and is closed. no_channel: an owner's
      // re-activation could not get a new channel; the one before is closed.
      enum Type { read_error = 0, no_channel = 1 };
    };
    virtual ~Notify() = default;
    virtual void on_hdlc_receive(Packet& frame) = 0;
    // The channel failed and is already deactivated: nothing sent reaches the far end.
    virtual void on_hdlc_error(Cause::Type cause) = 0;
    // The channel takes frames again after refusing one.
    virtual void on_hdlc_ready() = 0;
  };

  // Controller modes.
  enum Mode { mode_ss7 = 0, mode_isdn = 1, mode_bri = 2 };

  // The binding an owner writes before activation.
  struct Params {
    int line = 0;      // PSTN line 0 to 3; not used by the channel itself
    int timeslot = 0;  // shown in the log header
    int tdm = -1;      // TDM channel the controller receives from (and transmits to, but in mode 2)
    int tdm_tx = -1;   // TDM channel the controller transmits to in mode 2
    int mode = mode_ss7;
  };

  static constexpr const char* kPath = "/dev/mcc/ctl";

  HDLC();
  ~HDLC() override;
  HDLC(const HDLC&) = delete;
  HDLC& operator=(const HDLC&) = delete;

  // Points the receiver at a stub that ignores everything; call before the receiver goes away.
  void unbind();

  // Allocates a controller channel, connects it through the switch and starts watching it;
  // false (channel inactive, reason on the error stream) on any failure.
  bool activate();
  // Stops watching and closes the channel, and releases its switch routes.
  void deactivate();
  // Releases the channel's switch routes (see SwitchRoutes): its input is disabled at once, the
  // outputs it feeds shortly after, so that the frames it was handed last still leave; the
  // channel is kept from any other owner until they are down. The channel stays open.
  void release_switch();
  // The route from the channel to output (its TDM channel) stops being its wish: the sink's
  // disconnect that follows takes it down, or gives the output to another channel that wants
  // it. The channel goes on hearing its input. Nothing for another output.
  void leave_output(int output);
  // The channel is open with routes of its own on the switch: its TDM channel is tdm.
  bool serves(int tdm) const { return is_open() && m_controller >= 0 && params.tdm == tdm; }
  // The switch carries, as the newest wish of its output, the route into the channel from its
  // TDM channel (input_stands), or the route from the channel to output (output_stands).
  bool input_stands() const;
  bool output_stands(int output) const;
  // The channel serves tdm and the switch carries its route in, and its route out while that is
  // still its wish: what a connection that bound it there made.
  bool routes_stand(int tdm) const {
    return serves(tdm) && input_stands() && (m_output < 0 || output_stands(m_output));
  }
  // An open channel's routes made again as the newest wishes of their outputs (another channel
  // took the TDM channel's output since, or the switch lost them): the route in, with the route
  // out while that is still the channel's wish (retake_routes), or the route out to output
  // (retake_output). False when the channel holds no routes or the switch refused; a refused
  // route stays wanted, and the reconciler makes it when the switch takes requests.
  bool retake_routes();
  bool retake_output(int output);
  // The route into the channel goes (the connection that fed it went); the channel stays open
  // and keeps its route out.
  void leave_input();

  bool hdlc_transmit(Packet& frame) override;
  bool is_open() const override { return m_event.fd() >= 0; }
  bool is_ready() const override { return m_ready; }
  // The TDM channel the channel feeds while that route is its wish, else -1.
  int output() const { return m_output; }

  // The descriptor handler and its receive step.
  void on_event(int fd, short revents);
  void do_read();

  // "hdlc [trunk/timeslot]: "
  void PutHeader(std::ostream& os) const;

  Params params;
  // Statistics, zeroed by activate(), in the order the HDLC slot reports them.
  uint32_t txSU = 0;        // frames sent
  uint32_t txDiscard = 0;   // frames refused because the channel was closed
  uint32_t txError = 0;     // write errors
  uint32_t txOverflow = 0;  // kept for the report; nothing here advances it
  uint32_t rxSU = 0;        // frames received
  int log = 0;              // copied from the HDLC slot's parameters; unused here
  int trunk = 0;            // shown in the log header and frame traces
  Notify* notify;           // never null

 private:
  // Issues MCC_ALLOCATE and MCC_TIMESLOT on fd and patches the channel: the controller channel
  // or -1 (reason already written).
  int allocate(int fd);
  bool connect_switch(int controller);
  // Closes the channel. held: it was ours until now, so the frames it was handed last may
  // still leave through its outputs; otherwise (it ended under us) they go at once.
  void close_channel(bool held);
  void release_routes(bool held);
  void set_write_interest(bool on);

  bool m_ready = false;
  int m_controller = -1;      // the allocated controller channel, while its routes may stand
  int m_output = -1;          // the TDM channel it feeds, while that route is its wish
  int m_input = -1;           // the TDM channel it hears, while that route is its wish
  unsigned m_generation = 0;  // advanced by every activation and deactivation
  unsigned m_refused = 0;     // advanced by every write that would block
  Event m_event;
};
