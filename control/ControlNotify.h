#pragma once
// Receiver of a control connection's events: its start, its end and every received frame.

namespace Control {

class Notify {
 public:
  virtual ~Notify() = default;
  // A connection has been established and its stack activated.
  virtual void OnConnect() = 0;
  // The connection has ended (delivered one loop pass after the end).
  virtual void OnDisconnect() = 0;
  // One received frame's payload; data is valid only during the call.
  virtual void OnMessage(char const* data, int length) = 0;
};

}  // namespace Control
