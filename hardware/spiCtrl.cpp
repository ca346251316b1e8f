#include "hardware/spiCtrl.h"

spiCtrl* spiCtrl::instance() {
  static spiCtrl service;
  return &service;
}

