// trelvix's command-line parser: arguments are the input's lines. Any
// command line either parses or raises a parse error; a parsed one yields
// a grid record.
#include <cstddef>
#include <cstdint>
#include <exception>
#include <string>
#include <vector>

#include "Arguments.h"

#include "front/CommandLine.h"
#include "template/GridParameters.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const trelvix::OptionTable table;
  std::vector<std::string> args;
  if (!ArgumentsFromLines(data, size, "trelvix", args)) return 0;
  std::vector<const char*> argv;
  for (const auto& a : args) argv.push_back(a.c_str());
  boost::program_options::variables_map vm;
  try {
    trelvix::ParseCommandLine(table, static_cast<int>(argv.size()), argv.data(), vm);
  } catch (const std::exception&) {
    return 0;
  }
  const trelvix::GridParameters grid = trelvix::ReadGridParameters(vm);
  (void)grid;
  return 0;
}
