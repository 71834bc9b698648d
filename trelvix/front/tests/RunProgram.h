// Test support: runs a built program with arguments and captures its
// standard output, standard error and exit status; makes scratch directories.
#ifndef TRELVIX_FRONT_TESTS_RUNPROGRAM_H
#define TRELVIX_FRONT_TESTS_RUNPROGRAM_H

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <iterator>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include <dirent.h>
#include <unistd.h>

#include "RunProcess.h"
#include "ScratchDir.h"

namespace trelvix_test {

struct ProgramResult {
  int status = -1;  // exit status; -1 if the program did not exit normally
  std::string out;
  std::string err;
};

inline std::string ReadFile(const std::string& path) { return vesk_test::ReadWholeFile(path); }

inline void WriteFile(const std::string& path, const std::string& content) {
  std::ofstream(path, std::ios::binary) << content;
}

inline bool FileExists(const std::string& path) { return ::access(path.c_str(), F_OK) == 0; }

using vesk_test::ScratchDir;

// Path of a built program from its environment variable (TRELVIX_BIN, ...).
inline std::string ProgramPath(const char* variable) {
  const char* path = std::getenv(variable);
  if (!path || !*path) throw std::runtime_error(std::string(variable) + " is not set");
  return path;
}

// Runs `program` with `args` in `workDir`; `inChild` runs in the child
// before exec (limits, signals).
inline ProgramResult RunProgram(const std::string& program, const std::vector<std::string>& args,
                                const std::string& workDir = ".", const std::function<void()>& inChild = nullptr) {
  std::vector<std::string> argv{program};
  argv.insert(argv.end(), args.begin(), args.end());
  vesk_test::ProcessOptions options;
  options.workDir = workDir;
  options.inChild = inChild;
  const vesk_test::ProcessResult run = vesk_test::RunProcess(argv, options);
  return ProgramResult{run.status, run.out, run.err};
}

// Runs the built trelvix.
inline ProgramResult RunTrelvix(const std::vector<std::string>& args, const std::string& workDir = ".",
                                const std::function<void()>& inChild = nullptr) {
  return RunProgram(ProgramPath("TRELVIX_BIN"), args, workDir, inChild);
}

}  // namespace trelvix_test

#endif
