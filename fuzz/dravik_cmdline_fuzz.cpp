// dravik's command-line parser: arguments are the input's lines. Any
// command line either yields settings or an exit status; never a crash.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <getopt.h>

#include "Arguments.h"

#include "CommandLine.h"
#include "Settings.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<std::string> args;
  if (!ArgumentsFromLines(data, size, "dravik", args)) return 0;
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(&a[0]);
  argv.push_back(nullptr);
  optind = 0;  // full re-initialisation of getopt for every input
  opterr = 0;
  dravik::RunSettings settings;
  const int status = dravik::parse_command_line(static_cast<int>(args.size()), argv.data(), &settings);
  if (status != 0 && status != 1 && status != 255) std::abort();
  std::fflush(stdout);
  return 0;
}
