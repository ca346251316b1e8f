#pragma once
// Serves the simulated board on the event loop: takes in what the daemon writes to simulated
// devices as it happens, and answers the text protocol on a local socket, so that end-to-end
// tests can inject events and inspect the board from outside the process.
#include <memory>
#include <string>
#include <vector>

#include "foundation/Event.h"
#include "foundation/Fd.h"
#include "foundation/TimerEvent.h"

namespace board::sim {

class SimBoard;

// Where voxrelay-sim listens, under the path root.
inline constexpr const char* kSocketPath = "/var/run/voxrelay-sim.sock";

class SimServer {
 public:
  static constexpr size_t kMaxClients = 16;
  static constexpr size_t kMaxOutput = 8 << 20;  // a client that reads nothing is dropped beyond this

  explicit SimServer(SimBoard& board);
  ~SimServer();
  SimServer(const SimServer&) = delete;
  SimServer& operator=(const SimServer&) = delete;

  // Starts listening on `path` (an existing socket there is replaced). False with errno set
  // when the socket cannot be made.
  bool listen(const std::string& path);
  const std::string& path() const { return path_; }
  size_t client_count() const { return clients_.size(); }

 private:
  class Client;

  void on_ready(int fd, short revents);
  void accept_client();
  // Out of descriptors: the pending peer keeps the listener ready, so it leaves the ready set
  // for a while rather than wake every pass.
  void pause_accepting();
  void resume_accepting();
  void close_client(Client* c);
  void bury();

  SimBoard& board_;
  // The board's devices and the listener share one descriptor on the event loop (an epoll set
  // holding both), so that the simulator adds a single entry to every poll() of the daemon.
  Fd ready_fd_;
  bool own_set_ = false;
  Event ready_event_;
  Fd listen_fd_;
  Timer accept_pause_;
  std::string path_;
  std::vector<std::unique_ptr<Client>> clients_;
  std::vector<std::unique_ptr<Client>> closed_;  // deleted outside their own handler
};

// Starts the simulated board's service on the event loop, listening at `path` (by default
// kSocketPath under the path root). Returns false, with a line on the error stream, when the
// socket cannot be made; the board is then still served, only not reachable from outside.
bool serve(const std::string& path = {});

}  // namespace board::sim
