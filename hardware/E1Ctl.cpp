#include "hardware/E1Ctl.h"

E1Ctl* E1Ctl::instance() {
  static E1Ctl service;
  return &service;
}

