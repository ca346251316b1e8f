#include "foundation/List_allocator.h"

#include <exception>
#include <iostream>

void List_allocator_fatal(const char* what) {
  std::clog << what << std::endl;
  std::terminate();
}
