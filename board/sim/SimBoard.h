#pragma once
// The simulated board behind the device seam: the state of every driver, shared by every open
// descriptor, and the test API that inspects it, injects events and makes requests fail.
// Opening a driver path gives one end of a socket pair; the board keeps the other end, so a
// read is one frame or event record and poll, EAGAIN and end of file behave as on the board.
#include <array>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <span>
#include <unordered_map>
#include <vector>

#include "board/sim/BoardState.h"
#include "board/sim/Device.h"
#include "board/sim/Request.h"
#include "board/sim/SimModem.h"
#include "board/sim/SimNetif.h"
#include "board/sim/SimRtpExt.h"
#include "board/sim/SimFarEnd.h"
#include "board/sim/SimDspData.h"

namespace board::sim {

class SimBoard {
 public:
  // Requests kept per device and request number (beyond this the oldest of that number are
  // dropped, so that a request repeated in the background cannot push rare ones out of the
  // log); frames kept per channel.
  static constexpr size_t kRequestLimit = 16384;
  static constexpr size_t kFrameLimit = 1024;
  // Controller channels are numbered from here in switch numbering.
  static constexpr int kFirstHdlcChannel = 4096;
  static constexpr int kMaxTimeslot = 4095;

  static SimBoard& instance();
  SimBoard();
  ~SimBoard();
  SimBoard(const SimBoard&) = delete;
  SimBoard& operator=(const SimBoard&) = delete;

  // --- the device seam (board::open, board::ioctl, board::ioctl_value, board::close)
  int open(const char* path, int flags);
  int ioctl(int fd, uint32_t request, void* argp);
  int ioctl_value(int fd, uint32_t request, unsigned long value);
  int close(int fd);

  // --- running
  // Takes in the frames the daemon wrote (routing them through the switch) and releases the
  // devices the daemon closed. Never blocks.
  void service();
  // A descriptor that turns readable when service() has work: watch it on the event loop.
  int pollfd() const { return epoll_fd_; }
  // Hangs up every open device (its reader sees end of file) and forgets all state.
  void reset();

  // --- inspection
  BoardState& state() { return state_; }
  std::vector<Request> requests(Device device) const;
  // Only the requests of one number.
  std::vector<Request> requests(Device device, uint32_t number) const;
  // Requests since the last clear, including those the bounded log no longer holds.
  uint64_t request_count(Device device) const { return request_totals_[static_cast<int>(device)]; }
  void clear_requests();
  // Descriptors of a device that are open on the daemon's side.
  int open_count(Device device);
  // Controller channels by switch channel number, open or closed since their allocation.
  const std::map<int, HdlcChannel>& hdlc_channels();
  const HdlcChannel* hdlc_channel(int channel);
  // The frames the daemon wrote on a channel, oldest first.
  std::vector<Bytes> frames_sent(int channel);

  // --- failure injection
  // The next `count` requests on the device fail with `error` (0 cancels); with `number`, only
  // requests of that number fail and count, and with `first`, only those whose first argument
  // (the switch channel or output, the timeslot, the trunk) has that value.
  void fail_next(Device device, int error, unsigned count = 1, uint32_t number = 0,
                 std::optional<int64_t> first = std::nullopt);
  // How many more requests the device's injected failure will fail.
  unsigned fail_left(Device device) const;
  // Every open of the device fails with `error` until set to 0.
  void fail_open(Device device, int error);
  // The device reports end of file and hang-up to every descriptor open on it.
  void hangup(Device device);
  // Only the descriptor holding one controller channel hangs up (its reader sees end of file);
  // false when no descriptor holds it.
  bool hangup_channel(int channel);
  // While stalled, the controller channel takes in no frame, so the daemon's writes fill its
  // socket until they fail with EAGAIN; unstalling takes them in again.
  bool stall(int channel, bool stalled);
  // Every switch request that names `channel` (connect, disable, write; not read) fails with
  // `error` (0 ends it): an output the switch refuses for good while it takes every other. Kept
  // across reset(), as a broken output would be.
  void refuse_channel(int channel, int error);

  // --- event injection; each returns the number of descriptors that took the record.
  // One record as given (any length, including short or oversized ones).
  unsigned inject_raw(Device device, std::span<const uint8_t> record);
  // A tone-detector event; without an id, the id of the timeslot's last detector enable.
  unsigned dtmf_event(uint32_t timeslot, uint32_t code, uint32_t timestamp, std::optional<uint32_t> id = {});
  // The received signalling bits of a channel change.
  unsigned cas_change(uint32_t trunk, uint32_t timeslot, uint8_t rx);
  // A DSP event; without an id, the id under which the type's feature was last enabled.
  unsigned dsp_event(uint32_t timeslot, uint32_t type, std::span<const uint8_t> payload,
                     std::optional<uint32_t> id = {});
  unsigned dsp_vad(uint32_t timeslot, uint32_t dir_mask, int32_t rx, int32_t tx, std::optional<uint32_t> id = {});
  unsigned dsp_sd(uint32_t timeslot, int32_t sd_rx, std::optional<uint32_t> id = {});
  unsigned dsp_bss(uint32_t timeslot, float score, std::optional<uint32_t> id = {});
  unsigned dsp_flags(uint32_t timeslot, uint32_t flags, uint32_t mask, std::optional<uint32_t> id = {});
  // An event of the RTP session holding TDM channel `channel` (0 when no session holds it or
  // its descriptor is full); for packet loss detection without a timeout, the session's own.
  unsigned rtp_event(int channel, uint32_t type, uint32_t value, std::optional<uint32_t> timeout = {});
  // The trunk's synchronisation status as the next status request reports it.
  void set_trunk_status(uint32_t trunk, const TrunkState& status);
  // A frame received by the controller channel `channel` (switch numbering); a transparent
  // channel reads it in pieces of at most its receive packet size. False when any is dropped.
  bool hdlc_frame(int channel, std::span<const uint8_t> frame);
  // A frame arriving at switch input `input`: it reaches every controller channel the switch
  // and the cables connect to that input. Returns the number of channels reached.
  unsigned tdm_frame(int input, std::span<const uint8_t> frame);
  // An extension packet from (src_addr in network order, ssrc) to every "/dev/rtp_ext" session
  // that takes it, or to session `session` only (0: all); returns the sessions reached.
  unsigned rtp_ext_packet(uint32_t src_addr, uint32_t ssrc, std::span<const uint8_t> packet, int session = 0);
  // The "/dev/rtp_ext" sessions, open or closed, and what the daemon wrote on them.
  const SimRtpExt& rtp_ext() {
    service();
    return rtp_ext_;
  }

  // The modems of "/dev/mctl".
  SimModem& modem() {
    service();
    return modem_;
  }
  // The network interfaces, answered on the sockets of board::socket.
  SimNetif& netif() { return netif_; }

  // --- far ends outside the simulator (board/sim/SimFarEnd.h)
  // Ties switch channel `channel` (a trunk timeslot, or a controller channel) to the
  // SOCK_SEQPACKET socket listening at `path`: frames that reach the channel go out on the
  // socket, packets from the socket arrive at it. Returns 0 or the errno of the connect.
  int tie_far_end(int channel, const std::string& path);
  bool untie_far_end(int channel);
  const SimFarEnd& far_end() const { return *far_end_; }
  // The B channels open on "/dev/dsp-data".
  const SimDspData& dspdata() const { return dspdata_; }

  // --- test hook: called with each frame the daemon writes, after it was recorded and routed.
  std::function<void(int channel, const Bytes& frame)> on_frame_sent;

 private:
  struct Handle;

  Handle* find(int fd, int& error);
  Handle* find_by_inode(int fd, int& error);
  void forget_fd(int fd);
  int request(int fd, uint32_t number, void* argp, bool by_value, unsigned long value);
  int execute(Handle& h, const RequestDef& def, uint8_t* record, unsigned long value, int& error);
  int hal_request(uint32_t number, uint8_t* record, int& error);
  int mcc_request(Handle& h, uint32_t number, uint8_t* record, int& error);
  int maintenance_request(uint32_t number, uint8_t* record, unsigned long value, int& error);
  int e1cas_request(uint32_t number, uint8_t* record, unsigned long value, int& error);
  int dtmf_request(uint32_t number, uint8_t* record, unsigned long value, int& error);
  int dsp_request(uint32_t number, uint8_t* record, unsigned long value, int& error);
  int dspdata_request(Handle& h, uint32_t number, uint8_t* record, int& error);
  // A free controller channel of `type` for the handle, or -1 (ENOSPC).
  int allocate_channel(Handle& h, uint32_t type, int& error);
  void record_request(const Request& r);

  void drain(uint64_t key, uint32_t events);
  void drop(Handle& h);
  // Hangs up one descriptor: it reads end of file, and later requests on it fail. Returns the
  // handle after it.
  std::unordered_map<uint64_t, std::unique_ptr<Handle>>::iterator hang_up(
      std::unordered_map<uint64_t, std::unique_ptr<Handle>>::iterator it);
  void release(uint64_t key);
  void frame_from_daemon(Handle& h, const uint8_t* data, size_t size);
  void frame_from_far_end(int channel, std::span<const uint8_t> frame);
  unsigned broadcast(Device device, const void* data, size_t size);
  bool deliver(Handle& h, const void* data, size_t size);
  Handle* owner_of(int channel);
  uint32_t feature_id(uint32_t timeslot, uint32_t feature) const;

  BoardState state_;
  int epoll_fd_ = -1;
  std::unique_ptr<SimFarEnd> far_end_;
  std::unordered_map<uint64_t, std::unique_ptr<Handle>> handles_;  // by the daemon end's inode
  std::set<uint64_t> hung_up_;  // daemon ends whose device was hung up
  static bool open_anywhere(uint64_t key);  // some descriptor of the process is that end
  std::map<int, HdlcChannel> channels_;
  std::vector<uint8_t> buffer_;
  // The daemon's descriptors by number: a request on a device of one process-wide descriptor
  // (the switch, the detectors) finds it here without a system call. A descriptor not in the
  // table (a duplicate, say), and every descriptor of a device that allocates per descriptor
  // (whose numbers the daemon duplicates and closes plainly), is looked up by its inode.
  struct FdEntry {
    Handle* handle = nullptr;
    bool hung_up = false;  // its device was hung up: requests fail with ENODEV
  };
  std::vector<FdEntry> by_fd_;
  // One bounded ring of requests per request number; oldest at `head` once full.
  struct RequestLog {
    std::vector<Request> ring;
    size_t head = 0;
    void push(const Request& r);
    template <class F>
    void each(F f) const {
      for (size_t i = 0; i < ring.size(); ++i) f(ring[(head + i) % ring.size()]);
    }
  };
  std::array<std::map<uint32_t, RequestLog>, kDevices> requests_;  // by request number
  uint64_t sequence_ = 0;
  std::array<uint64_t, kDevices> request_totals_{};
  std::array<int, kDevices> fail_open_{};
  struct FailNext {
    int error = 0;
    unsigned count = 0;
    uint32_t number = 0;             // 0: any request
    std::optional<int64_t> first;    // the first argument it must have
  };
  std::array<FailNext, kDevices> fail_next_{};
  std::map<int, int> refused_channels_;  // switch channel -> errno
  SimRtpExt rtp_ext_;
  SimModem modem_;
  SimNetif netif_;
  SimDspData dspdata_;
};

}  // namespace board::sim
