// Runs a built program on hostile input and judges how it ended: under a
// wall-clock limit, in its own process group, with its peak memory taken
// from wait4. Also snapshots directory trees so a test can show that a
// failed run changed no file and left nothing behind.
#ifndef TESTS_HOSTILE_HOSTILERUN_H
#define TESTS_HOSTILE_HOSTILERUN_H

#include <sys/resource.h>

#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include <boost/filesystem.hpp>
#include <gtest/gtest.h>

#include "RunProcess.h"
#include "ScratchDir.h"

namespace hostile {

namespace fs = boost::filesystem;

// A run longer than this is a hang (seconds of wall-clock time).
constexpr int kHangSeconds = 30;

// Peak resident memory a run may reach (KiB). Far above what any case
// needs; it catches buffers sized by a count or length that a file claims.
// The sanitizers' shadow memory and quarantine roughly double a run's use.
#ifdef HOSTILE_SANITIZED
constexpr long kMaxRssKiB = 1536L * 1024;
#else
constexpr long kMaxRssKiB = 768L * 1024;
#endif

struct Outcome {
  std::string program;   // for messages
  int status = -1;       // exit status; -1 when the program did not exit
  int signal = 0;        // the signal that ended it, 0 if none
  bool hung = false;     // killed after kHangSeconds
  long maxRssKiB = 0;    // peak resident memory of the program and its children
  std::string out, err;  // captured standard output and error
};

inline std::string ReadWhole(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

inline void WriteWhole(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write test file " + path);
}

inline std::string RequireProgram(const char* variable) {
  const char* path = std::getenv(variable);
  if (!path || !*path) throw std::runtime_error(std::string(variable) + " is not set");
  return path;
}

using vesk_test::ScratchDir;

// Runs argv[0] with `argv` in `workDir` under the hang limit; `env`
// entries "NAME=value" are set in the child.
inline Outcome RunProgram(const std::vector<std::string>& argv, const std::string& workDir,
                          const std::vector<std::string>& env = {}) {
  vesk_test::ProcessOptions options;
  options.workDir = workDir;
  options.env = env;
  options.timeoutSeconds = kHangSeconds;
  options.stdinFromDevNull = true;
  options.inChild = [] {
  // A runaway allocation ends the program (with a sanitizer report in the
  // sanitized build) before it can take the machine's memory.
#ifndef HOSTILE_SANITIZED
    const struct rlimit addressSpace = {4ul << 30, 4ul << 30};  // bytes
    ::setrlimit(RLIMIT_AS, &addressSpace);
#endif
    const char* asan = std::getenv("ASAN_OPTIONS");
    const std::string asanOptions = asan && *asan ? std::string(asan) + ":" : std::string();
    ::setenv("ASAN_OPTIONS", (asanOptions + "hard_rss_limit_mb=2048").c_str(), 1);
  };
  const vesk_test::ProcessResult run = vesk_test::RunProcess(argv, options);
  Outcome outcome;
  outcome.program = fs::path(argv[0]).filename().string();
  outcome.status = run.status;
  outcome.signal = run.signal;
  outcome.hung = run.timedOut;
  outcome.maxRssKiB = run.maxRssKiB;
  outcome.out = run.out;
  outcome.err = run.err;
  return outcome;
}

inline std::string Describe(const Outcome& o) {
  std::ostringstream text;
  text << o.program << ": status " << o.status << ", signal " << o.signal << ", peak " << o.maxRssKiB / 1024
       << " MiB\n--- stdout (first 2000 bytes):\n"
       << o.out.substr(0, 2000) << "\n--- stderr (first 2000 bytes):\n"
       << o.err.substr(0, 2000);
  return text.str();
}

// The run ended by itself, in time, without a sanitizer report, within the
// memory bound, with `status`. Returns false (after reporting) otherwise.
inline bool EndedCleanly(const Outcome& o, int status) {
  bool ok = true;
  const auto fail = [&](const std::string& why) {
    ADD_FAILURE() << why << "\n" << Describe(o);
    ok = false;
  };
  if (o.hung)
    fail("hang: killed after " + std::to_string(kHangSeconds) + " s");
  else if (o.signal)
    fail("crash: died of signal " + std::to_string(o.signal));
  for (const char* report : {"AddressSanitizer", "LeakSanitizer", "runtime error:"}) {
    if (o.err.find(report) != std::string::npos || o.out.find(report) != std::string::npos)
      fail(std::string("sanitizer report \"") + report + "\"");
  }
  // No case needs more than a little memory: a failed allocation means a
  // size claimed by a file was trusted.
  for (const char* report : {"bad_alloc", "Can't_allocate_memory"}) {
    if (o.err.find(report) != std::string::npos || o.out.find(report) != std::string::npos)
      fail(std::string("allocation failure \"") + report + "\"");
  }
  if (o.maxRssKiB > kMaxRssKiB)
    fail("peak memory " + std::to_string(o.maxRssKiB / 1024) + " MiB exceeds the bound of " +
         std::to_string(kMaxRssKiB / 1024) + " MiB");
  if (!o.hung && !o.signal && o.status != status)
    fail("exit status " + std::to_string(o.status) + ", documented " + std::to_string(status));
  return ok;
}

// Every text of `mentions` appears in `stream` (the program's message).
inline void ExpectMentions(const Outcome& o, const std::string& stream, const std::vector<std::string>& mentions) {
  EXPECT_FALSE(stream.empty()) << "no message\n" << Describe(o);
  for (const std::string& text : mentions)
    EXPECT_NE(stream.find(text), std::string::npos) << "message does not mention \"" << text << "\"\n" << Describe(o);
}

// Relative path -> content ("dir" and "link -> target" for the others) of
// everything below `root`.
using Tree = std::map<std::string, std::string>;

inline Tree Snapshot(const std::string& root) {
  Tree tree;
  for (fs::recursive_directory_iterator it(root), end; it != end; ++it) {
    const std::string rel = it->path().lexically_relative(root).generic_string();
    const fs::file_status status = fs::symlink_status(it->path());
    if (fs::is_symlink(status))
      tree[rel] = "link -> " + fs::read_symlink(it->path()).string();
    else if (fs::is_directory(status))
      tree[rel] = "dir";
    else
      tree[rel] = "file " + ReadWhole(it->path().string());
  }
  return tree;
}

// Nothing below the snapshot's root changed or vanished, and whatever was
// added lies below one of `allowedNew` (relative directory paths).
inline void ExpectNothingLost(const Tree& before, const Tree& after, const std::vector<std::string>& allowedNew = {}) {
  for (const auto& [path, content] : before) {
    const auto found = after.find(path);
    if (found == after.end())
      ADD_FAILURE() << path << " vanished";
    else if (found->second != content)
      ADD_FAILURE() << path << " changed (" << content.size() << " -> " << found->second.size() << " bytes)";
  }
  for (const auto& [path, content] : after) {
    if (before.count(path)) continue;
    bool allowed = false;
    for (const std::string& prefix : allowedNew)
      allowed = allowed || path == prefix || path.compare(0, prefix.size() + 1, prefix + "/") == 0;
    if (!allowed) ADD_FAILURE() << "left behind: " << path;
  }
}

}  // namespace hostile

#endif
