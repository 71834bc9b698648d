// The path template expander: any template either expands or raises one of
// Boost.Format's errors; unknown parameters never fail.
#include <cstddef>
#include <cstdint>
#include <string>

#include <boost/format.hpp>

#include "template/StringVariableImplanter.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string text(reinterpret_cast<const char*>(data), size);
  trelvix::StringVariableImplanter implanter;
  implanter.variables["AZIMUTH"] = 355;
  implanter.variables["ELEVATION"] = -2.5;
  implanter.variables["HEIGHT"] = 1500;
  implanter.variables["CHANNEL"] = 7;
  for (const bool removeUnknown : {false, true}) {
    std::string copy = text;
    try {
      implanter.Implant(copy, removeUnknown);
    } catch (const boost::io::format_error&) {
    }
  }
  return 0;
}
