#include "ToolMain.h"

#include <exception>
#include <iostream>
#include <new>
#include <stdexcept>

#include "base/SignalCleanup.h"

namespace vesktools {

int ToolMain(const char* name, int (*run)(int argc, char** argv), int argc, char** argv, const char* outOfMemory) {
  vesk::signal_cleanup::Install();
  // What the run reported on standard output comes before the error.
  const auto fail = [name](const char* text) {
    std::cout << std::flush;
    std::cerr << name << ": " << text << "\n";
    return 1;
  };
  try {
    return run(argc, argv);
  } catch (const std::bad_alloc& e) {
    return fail(outOfMemory ? outOfMemory : e.what());
  } catch (const std::length_error& e) {  // a size beyond any vector: out of memory too
    return fail(outOfMemory ? outOfMemory : e.what());
  } catch (const std::exception& e) {
    return fail(e.what());
  }
}

}  // namespace vesktools
