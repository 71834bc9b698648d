// A command line from fuzz input: one argument per line, after the program
// name. At most 64 arguments, so one input cannot make a huge argv.
#ifndef FUZZ_ARGUMENTS_H
#define FUZZ_ARGUMENTS_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

inline bool ArgumentsFromLines(const uint8_t* data, size_t size, const char* program, std::vector<std::string>& args) {
  args.assign(1, program);
  std::string current;
  for (size_t i = 0; i < size; ++i) {
    if (data[i] == '\n') {
      args.push_back(current);
      current.clear();
    } else {
      current.push_back(static_cast<char>(data[i]));
    }
  }
  if (!current.empty()) args.push_back(current);
  return args.size() <= 64;
}

#endif
