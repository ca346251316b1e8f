// Interface requests on the board go to the kernel unchanged.
#include <sys/ioctl.h>

#include "board/netif.h"

namespace board {

int netif_ioctl(int sock, uint32_t request, ifreq* ifr) { return ::ioctl(sock, static_cast<unsigned long>(request), ifr); }

}  // namespace board
