#include "hardware/BusCtl.h"

BusCtl* BusCtl::instance() {
  static BusCtl service;
  return &service;
}

