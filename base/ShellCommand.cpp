#include "base/ShellCommand.h"

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <cerrno>

#include "base/SignalCleanup.h"

extern char** environ;

namespace vesk {
namespace {

// Blocks every signal between the spawn and the registration of the child,
// so a signal cannot find it running but unknown.
class BlockAll {
public:
  BlockAll() {
    sigset_t all;
    sigfillset(&all);
    sigprocmask(SIG_BLOCK, &all, &old_);
  }
  ~BlockAll() { sigprocmask(SIG_SETMASK, &old_, nullptr); }
  const sigset_t& Old() const { return old_; }

private:
  sigset_t old_;
};

}  // namespace

bool ShellCommand::Start(const std::string& command) { return Start(command, -1, -1); }

bool ShellCommand::Start(const std::string& command, int outFd, int errFd) {
  char sh[] = "sh", dashC[] = "-c";
  char* argv[] = {sh, dashC, const_cast<char*>(command.c_str()), nullptr};
  return Spawn("/bin/sh", argv, outFd, errFd);
}

bool ShellCommand::StartProgram(const std::vector<std::string>& args, int outFd, int errFd) {
  if (args.empty()) {
    errno = EINVAL;
    return false;
  }
  std::vector<char*> argv;
  for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  return Spawn(args[0].c_str(), argv.data(), outFd, errFd);
}

bool ShellCommand::Spawn(const char* path, char* const argv[], int outFd, int errFd) {
  if (pid_ > 0) {
    errno = EBUSY;
    return false;
  }
  posix_spawnattr_t attr;
  if (const int error = posix_spawnattr_init(&attr)) {
    errno = error;
    return false;
  }
  BlockAll block;
  // The child runs with the caller's signal mask of before, and with
  // SIGXFSZ back at its default (the caller ignores it).
  sigset_t defaults;
  sigemptyset(&defaults);
  sigaddset(&defaults, SIGXFSZ);
  posix_spawnattr_setsigdefault(&attr, &defaults);
  posix_spawnattr_setsigmask(&attr, &block.Old());
  posix_spawnattr_setpgroup(&attr, 0);
  posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETPGROUP);
  posix_spawn_file_actions_t actions;
  const bool redirect = outFd >= 0 && errFd >= 0;
  if (redirect) {
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, outFd, 1);
    posix_spawn_file_actions_adddup2(&actions, errFd, 2);
  }
  pid_t pid = -1;
  const int error = posix_spawn(&pid, path, redirect ? &actions : nullptr, &attr, argv, environ);
  if (redirect) posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attr);
  if (error == ENOMEM || error == EAGAIN) {
    errno = error;
    return false;
  }
  if (error) {
    // Nothing to run: report it as system() does, as the shell's exit 127.
    pid_ = 0;
    return true;
  }
  pid_ = pid;
  slot_ = signal_cleanup::AddChild(pid);
  return true;
}

int ShellCommand::Wait() {
  if (pid_ == 0) {
    pid_ = -1;
    return 127 << 8;
  }
  if (pid_ < 0) {
    errno = ECHILD;
    return -1;
  }
  int status = 0;
  pid_t done;
  do {
    done = waitpid(pid_, &status, 0);
  } while (done < 0 && errno == EINTR);
  // Reap what the shell left of its group (we are their subreaper).
  while (waitpid(-pid_, nullptr, WNOHANG) > 0) {
  }
  signal_cleanup::RemoveChild(slot_);
  slot_ = -1;
  pid_ = -1;
  return done < 0 ? -1 : status;
}

ShellCommand::~ShellCommand() {
  if (pid_ > 0) {
    kill(-pid_, SIGTERM);
    Wait();
  }
}

int RunShellCommand(const std::string& command) {
  ShellCommand shell;
  if (!shell.Start(command)) return -1;
  return shell.Wait();
}

int RunProgram(const std::vector<std::string>& argv, int outFd, int errFd) {
  ShellCommand program;
  if (!program.StartProgram(argv, outFd, errFd)) return -1;
  return program.Wait();
}

std::string ShellWord(const std::string& text) {
  if (!text.empty() && text.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789._-/+") ==
                           std::string::npos)
    return text;
  std::string quoted = "'";
  for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

}  // namespace vesk
