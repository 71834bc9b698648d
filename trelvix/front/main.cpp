#include <iostream>
#include <new>

#include "base/SignalCleanup.h"
#include "front/FrontEnd.h"

int main(int argc, char* argv[]) {
  vesk::signal_cleanup::Install();
  try {
    return trelvix::RunFrontEnd(argc, argv, std::cout, std::cerr);
  } catch (const std::bad_alloc&) {
    std::cerr << "out of memory; nothing was written" << std::endl;
    return 1;
  }
}
