#include "ToolMain.h"

#include <exception>
#include <iostream>
#include <new>
#include <stdexcept>

#include "base/SignalCleanup.h"

namespace vesktools {

int ToolMain(const char* name, int (*run)(int argc, char** argv), int argc, char** argv, const char* outOfMemory) {
  vesk::signal_cleanup::Install();
  try {
    return run(argc, argv);
  } catch (const std::bad_alloc& e) {
    std::cerr << name << ": " << (outOfMemory ? outOfMemory : e.what()) << "\n";
  } catch (const std::length_error& e) {  // a size beyond any vector: out of memory too
    std::cerr << name << ": " << (outOfMemory ? outOfMemory : e.what()) << "\n";
  } catch (const std::exception& e) {
    std::cerr << name << ": " << e.what() << "\n";
  }
  return 1;
}

}  // namespace vesktools
