// Configuration XML reader: any input either reads or raises AnalyzeError;
// whatever reads must write back and read again to the same document.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <string>

#include "veskio2/VeskConfig.h"

using namespace veskio2::veskconfig;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  boost::shared_ptr<VeskConfigFile> file;
  try {
    file = VeskConfigFileXMLReader::ReadText(text, "fuzz-input");
  } catch (const veskio2::AnalyzeError&) {
    return 0;
  }
  if (!file) return 0;
  std::ostringstream first;
  {
    VeskConfigFileXMLWriter writer(first);
    writer.Write(file);
  }
  const auto again = VeskConfigFileXMLReader::ReadText(first.str(), "fuzz-rewrite");
  std::ostringstream second;
  {
    VeskConfigFileXMLWriter writer(second);
    writer.Write(again);
  }
  if (first.str() != second.str()) std::abort();  // round trip must be stable
  return 0;
}
