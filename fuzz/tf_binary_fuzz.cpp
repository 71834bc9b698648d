// Transfer-function binary reader: any input either reads or raises
// InvalidVeskFile; whatever reads must write back and read again unchanged.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <string>

#include "veskio2/Vesk.h"

using namespace veskio2::vesk;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::istringstream in(std::string(reinterpret_cast<const char*>(data), size));
  boost::shared_ptr<VeskFile> file;
  try {
    file = VeskFileBinaryReader(in).Read();
  } catch (const veskio2::InvalidVeskFile&) {
    return 0;
  }
  if (!file) return 0;
  std::ostringstream first;
  VeskFileBinaryWriter(first).Write(file);
  std::istringstream back(first.str());
  const auto again = VeskFileBinaryReader(back).Read();
  std::ostringstream second;
  VeskFileBinaryWriter(second).Write(again);
  if (first.str() != second.str()) std::abort();
  return 0;
}
