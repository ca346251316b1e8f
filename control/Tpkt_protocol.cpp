#include "control/Tpkt_protocol.h"

#include <cstring>
#include <iostream>
#include <new>

#include "foundation/Profile.h"
#include "foundation/Mux.h"

Tpkt_protocol::Tpkt_protocol() = default;

Tpkt_protocol::~Tpkt_protocol() { reset(); }

void Tpkt_protocol::local_prepare_head(Packet& p) { p.reserve_head(header_size); }

void Tpkt_protocol::local_prepare_tail(Packet& p) { p.reserve_tail(0); }

void Tpkt_protocol::local_activate() { reset(); }

void Tpkt_protocol::local_deactivate() {
  reset();
  on_deactivate(Protocol_status(new Protocol_status_success(this, "TPKT deactivated")));
}

void Tpkt_protocol::reset() {
  report_garbage();
  timer_.reset();
  frame_ = Packet();
  state_ = idle;
  length_ = 0;
}

void Tpkt_protocol::on_timeout(Timer*) {
  if (state_ == idle && garbage_ == 0) return;  // nothing was pending when it ran out
  // The timer is armed once and not moved on every chunk: it runs out at the first chunk's
  // deadline and is re-armed for what is left after the latest chunk.
  const uint32_t quiet = Mux::milliseconds() - last_chunk_ms_;
  if (quiet < partial_timeout_ms) {
    timer_.set(partial_timeout_ms - quiet, &Tpkt_protocol::on_timeout, this);
    return;
  }
  // The timer also runs while a garbage run is pending, so that its line is not held back.
  if (state_ != idle) std::clog << " TPKT packet timeout." << std::endl;
  reset();
}

void Tpkt_protocol::report_garbage() {
  if (garbage_ == 0) return;
  std::clog << name().name() << " bad TPKT packet start. " << garbage_ << " byte(s) skipped."
            << std::endl;
  garbage_ = 0;
}

void Tpkt_protocol::message(Packet& p) {
  static Profile::Point point("Tpkt_protocol::message");
  point.begin();
  const unsigned len = p.length();
  if (len > max_payload) {
    // The 16-bit length field cannot describe it; a wrapped length would desynchronise the peer.
    std::clog << name().name() << " TPKT payload too big: " << len << " max = " << max_payload
              << ", dropped." << std::endl;
    point.end();
    return;
  }
  p.push16_b(static_cast<unsigned short>(len + header_size));
  p.push8(0);
  p.push8(3);
  point.end();
  transmit(p);
}

void Tpkt_protocol::receive(Packet& chunk) {
  // Read in place: the chunk is not modified, so a shared one is never copied.
  const unsigned n = chunk.length();
  const uint8_t* at = n ? chunk.data() : nullptr;
  const uint8_t* end = at + n;
  while (at != end) {
    switch (state_) {
      case idle: state_idle(at, end); break;
      case wait_r: state_wait_r(at, end); break;
      case len_1: state_len_1(at, end); break;
      case len_2: state_len_2(at, end); break;
      case body: state_body(at, end); break;
      case ignore: state_ignore(at, end); break;
    }
  }
  // Something is pending: the 3000 ms count from now. Re-arming the loop's timer for every
  // chunk would cost a timer-list update per read; on_timeout checks the time instead.
  // When nothing is pending an armed timer is left to run out without effect.
  if (state_ != idle || garbage_ != 0) {
    last_chunk_ms_ = Mux::milliseconds();
    if (!timer_.is_set()) timer_.set(partial_timeout_ms, &Tpkt_protocol::on_timeout, this);
  }
}

void Tpkt_protocol::state_idle(const uint8_t*& at, const uint8_t* end) {
  // Hunt for the version byte over the whole run at once.
  const void* three = std::memchr(at, 3, end - at);
  if (!three) {
    garbage_ += end - at;
    at = end;
    return;
  }
  garbage_ += static_cast<const uint8_t*>(three) - at;
  at = static_cast<const uint8_t*>(three) + 1;
  report_garbage();
  state_ = wait_r;
}

void Tpkt_protocol::state_wait_r(const uint8_t*& at, const uint8_t*) {
  if (*at++ == 0) {
    state_ = len_1;
  } else {
    std::clog << name().name() << " bad TPKT reserved." << std::endl;
    state_ = idle;
  }
}

void Tpkt_protocol::state_len_1(const uint8_t*& at, const uint8_t*) {
  length_ = *at++;
  state_ = len_2;
}

void Tpkt_protocol::state_len_2(const uint8_t*& at, const uint8_t*) {
  length_ = (length_ << 8) | *at++;
  if (length_ < header_size) {
    std::clog << "TPKT too small " << length_ << std::endl;
    state_ = idle;
    return;
  }
  length_ -= header_size;
  frame_ = Packet();
  try {
    frame_.reserve_head(0);
  } catch (const std::bad_alloc&) {
    // No buffer for this frame: skip its payload and stay in step with the stream.
    frame_ = Packet();
    std::clog << "TPKT no packet buffer, frame of " << length_ << " bytes dropped." << std::endl;
    state_ = ignore;
    if (length_ == 0) state_ = idle;
    return;
  }
  state_ = body;
}

void Tpkt_protocol::state_body(const uint8_t*& at, const uint8_t* end) {
  const uint32_t n = std::min<uint32_t>(length_, end - at);
  if (n) {
    std::memcpy(frame_.put(n), at, n);
    at += n;
    length_ -= n;
  }
  if (length_ == 0) {
    Packet done = frame_;
    frame_ = Packet();
    state_ = idle;
    on_message(done);
  }
}

void Tpkt_protocol::state_ignore(const uint8_t*& at, const uint8_t* end) {
  const uint32_t n = std::min<uint32_t>(length_, end - at);
  at += n;
  length_ -= n;
  if (length_ == 0) state_ = idle;
}
