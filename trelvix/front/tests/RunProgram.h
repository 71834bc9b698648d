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
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace trelvix_test {

struct ProgramResult {
  int status = -1;  // exit status; -1 if the program did not exit normally
  std::string out;
  std::string err;
};

inline std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void WriteFile(const std::string& path, const std::string& content) {
  std::ofstream(path, std::ios::binary) << content;
}

inline bool FileExists(const std::string& path) { return ::access(path.c_str(), F_OK) == 0; }

// A fresh directory under TMPDIR (or /tmp), removed with its files at the end.
class ScratchDir {
public:
  ScratchDir() {
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/trelvix-test.XXXXXX";
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    if (!::mkdtemp(buffer.data())) throw std::runtime_error("mkdtemp failed");
    path_ = buffer.data();
  }
  ~ScratchDir() {
    for (const std::string& name : Entries()) ::unlink((path_ + "/" + name).c_str());
    ::rmdir(path_.c_str());
  }
  const std::string& Path() const { return path_; }
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }
  // Names of the files in the directory, dot files included.
  std::vector<std::string> Entries() const {
    std::vector<std::string> names;
    if (DIR* dir = ::opendir(path_.c_str())) {
      while (const dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        if (name != "." && name != "..") names.push_back(name);
      }
      ::closedir(dir);
    }
    return names;
  }

private:
  std::string path_;
};

// Path of a built program from its environment variable (TRELVIX_BIN, ...).
inline std::string ProgramPath(const char* variable) {
  const char* path = std::getenv(variable);
  if (!path || !*path) throw std::runtime_error(std::string(variable) + " is not set");
  return path;
}

// Runs `program` with `args` (argv[0] is the program path) in `workDir`;
// `inChild` runs in the child before exec (limits, signals).
inline ProgramResult RunProgram(const std::string& program, const std::vector<std::string>& args,
                                const std::string& workDir = ".",
                                const std::function<void()>& inChild = nullptr) {
  ScratchDir capture;
  const std::string outPath = capture / "stdout", errPath = capture / "stderr";
  const pid_t pid = ::fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0) {
    const int outFd = ::open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const int errFd = ::open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (outFd < 0 || errFd < 0 || ::dup2(outFd, 1) < 0 || ::dup2(errFd, 2) < 0) ::_exit(126);
    if (::chdir(workDir.c_str()) != 0) ::_exit(126);
    if (inChild) inChild();
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    ::execv(program.c_str(), argv.data());
    ::_exit(127);
  }
  int wstatus = 0;
  while (::waitpid(pid, &wstatus, 0) < 0) {
    if (errno != EINTR) throw std::runtime_error("waitpid failed");
  }
  ProgramResult result;
  result.status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : -1;
  result.out = ReadFile(outPath);
  result.err = ReadFile(errPath);
  return result;
}

// Runs the built trelvix.
inline ProgramResult RunTrelvix(const std::vector<std::string>& args,
                                const std::string& workDir = ".",
                                const std::function<void()>& inChild = nullptr) {
  return RunProgram(ProgramPath("TRELVIX_BIN"), args, workDir, inChild);
}

}  // namespace trelvix_test

#endif
