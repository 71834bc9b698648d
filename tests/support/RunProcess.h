// The one way tests run a built program: with arguments, a working
// directory and extra environment, standard output and error captured,
// optionally under a wall-clock limit in a process group of its own, with
// its peak memory taken from wait4.
#ifndef TESTS_SUPPORT_RUNPROCESS_H
#define TESTS_SUPPORT_RUNPROCESS_H

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace vesk_test {

struct ProcessOptions {
  std::string workDir;            // empty: the test's own
  std::vector<std::string> env;   // "NAME=value" sets, "NAME=" removes
  std::function<void()> inChild;  // runs in the child before exec (limits)
  int timeoutSeconds = 0;         // 0: wait as long as it takes
  bool stdinFromDevNull = false;
};

struct ProcessResult {
  int status = -1;        // exit status; -1 when the program did not exit
  int signal = 0;         // the signal that ended it, 0 if none
  bool timedOut = false;  // killed, with its group, after timeoutSeconds
  long maxRssKiB = 0;     // peak resident memory of the program and its children
  std::string out, err;
};

// The whole content of a file; empty when it cannot be read.
inline std::string ReadWholeFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// Runs argv[0] (a path) with `argv`. Throws std::runtime_error when the
// process cannot be started or waited for; the program's own failures are
// in the result.
inline ProcessResult RunProcess(const std::vector<std::string>& argv, const ProcessOptions& options = {}) {
  const char* tmp = std::getenv("TMPDIR");
  std::string capture = std::string(tmp && *tmp ? tmp : "/tmp") + "/vesk-capture-XXXXXX";
  if (!::mkdtemp(&capture[0])) throw std::runtime_error("mkdtemp failed");
  const std::string outPath = capture + "/stdout", errPath = capture + "/stderr";
  const pid_t pid = ::fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0) {
    if (options.timeoutSeconds > 0) ::setpgid(0, 0);  // so a hang is ended with all it started
    const int outFd = ::open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const int errFd = ::open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (outFd < 0 || errFd < 0 || ::dup2(outFd, 1) < 0 || ::dup2(errFd, 2) < 0) ::_exit(126);
    if (options.stdinFromDevNull) {
      const int nullFd = ::open("/dev/null", O_RDONLY);
      if (nullFd < 0 || ::dup2(nullFd, 0) < 0) ::_exit(126);
    }
    if (!options.workDir.empty() && ::chdir(options.workDir.c_str()) != 0) ::_exit(126);
    for (const std::string& entry : options.env) {
      const std::size_t eq = entry.find('=');
      const std::string name = entry.substr(0, eq);
      const std::string value = eq == std::string::npos ? std::string() : entry.substr(eq + 1);
      if (value.empty())
        ::unsetenv(name.c_str());
      else
        ::setenv(name.c_str(), value.c_str(), 1);
    }
    if (options.inChild) options.inChild();
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    ::execv(args[0], args.data());
    ::_exit(127);
  }
  if (options.timeoutSeconds > 0) ::setpgid(pid, pid);  // also here, before any kill
  ProcessResult result;
  int wstatus = 0;
  struct rusage usage {};
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(options.timeoutSeconds);
  for (;;) {
    const pid_t done = ::wait4(pid, &wstatus, options.timeoutSeconds > 0 ? WNOHANG : 0, &usage);
    if (done == pid) break;
    if (done < 0 && errno != EINTR) throw std::runtime_error("wait4 failed");
    if (options.timeoutSeconds > 0 && std::chrono::steady_clock::now() > deadline) {
      result.timedOut = true;
      ::kill(-pid, SIGKILL);  // the group is still ours: its leader is not reaped yet
      while (::wait4(pid, &wstatus, 0, &usage) < 0 && errno == EINTR) {
      }
      break;
    }
    if (options.timeoutSeconds > 0) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  result.status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : -1;
  result.signal = WIFSIGNALED(wstatus) ? WTERMSIG(wstatus) : 0;
  result.maxRssKiB = usage.ru_maxrss;
  result.out = ReadWholeFile(outPath);
  result.err = ReadWholeFile(errPath);
  ::unlink(outPath.c_str());
  ::unlink(errPath.c_str());
  ::rmdir(capture.c_str());
  return result;
}

// Copies a built program into `directory`, with the library directories
// beside its own (its run path names them relative to itself, as
// $ORIGIN/../lib), so that the copy runs as the original does. Gives the
// copy's path.
inline std::string CopyProgram(const std::string& program, const std::string& directory) {
  namespace fs = std::filesystem;
  const fs::path original(program), into(directory);
  const fs::path root = original.parent_path().parent_path(), intoRoot = into.parent_path();
  fs::create_directories(into);
  for (const auto& entry : fs::directory_iterator(root)) {
    const fs::path to = intoRoot / entry.path().filename();
    if (entry.is_directory() && entry.path().filename().string().rfind("lib", 0) == 0 && !fs::exists(to))
      fs::copy(entry.path(), to, fs::copy_options::recursive | fs::copy_options::copy_symlinks);
  }
  const fs::path copy = into / original.filename();
  fs::copy_file(original, copy, fs::copy_options::overwrite_existing);
  return copy.string();
}

}  // namespace vesk_test

#endif
