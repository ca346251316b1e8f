#include "hardware/HwTests.h"

HwTests* HwTests::instance() {
  static HwTests service;
  return &service;
}

