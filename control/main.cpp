// Entry point of voxrelay and voxrelay-sim (the same daemon on the real or the simulated board).
#include <iostream>

#include "control/Version.h"

int main() {
  std::cout << "server version: ";
  Version::current.put(std::cout);
  std::cout << std::endl;
  return 2;
}
