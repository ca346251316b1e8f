#pragma once
// Poll event bits as text: 5 gives "POLLIN|POLLOUT", 0 gives "".
#include <string>

std::string PollEventAsText(short events);
