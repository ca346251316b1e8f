#include "foundation/Smart_pointer.h"

#include <exception>
#include <iostream>

void SmartPtrAssertion() {
  std::clog << "SMART POINTER ASSERTION!" << std::endl;
  std::terminate();
}

void SharedPtrAssertion() {
  std::clog << "SHARED POINTER ASSERTION!" << std::endl;
  std::terminate();
}
