#include "monitoring/CDR_Sender.h"

#include <sys/socket.h>

#include <cerrno>
#include <cstring>
#include <iostream>
#include <sstream>

#include "foundation/Escaped.h"
#include "foundation/INet4.h"

namespace CDR_Sender {

Sender::Sender() : socket_(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0)) {
  if (!socket_) std::cerr << "cdr: can't create socket: " << std::strerror(errno) << std::endl;
}

bool Sender::SendTo(std::string& record, std::string const& destinations) {
  if (!socket_) return false;
  bool all = true;
  std::istringstream words(destinations);
  for (std::string word; words >> word;) {
    INet4::Addr to;
    int port = -1;
    // Without a port there is nowhere to send to: the kernel refuses port 0.
    if (!to.Assign(word, &port) || port <= 0) {
      std::cerr << "cdr: bad destination '" << ext::escaped(word) << "', record not sent there" << std::endl;
      all = false;
      continue;
    }
    const ssize_t sent = ::sendto(socket_.get(), record.data(), record.size(), 0, to.sa(), INet4::Addr::sa_len());
    if (sent != static_cast<ssize_t>(record.size())) {
      std::cerr << "cdr: can't send record to " << to.GetString() << ": "
                << (sent < 0 ? std::strerror(errno) : "short send") << std::endl;
      all = false;
    }
  }
  return all;
}

}  // namespace CDR_Sender
