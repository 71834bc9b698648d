// Runs a command through /bin/sh as system() does (or a program with an
// argument vector and no shell), but without ignoring
// SIGINT and SIGQUIT in the caller for the length of the run: the child
// leads its own process group, registered with signal_cleanup, so a signal
// to the caller ends the caller and the whole command with it.
#ifndef VESK_BASE_SHELLCOMMAND_H
#define VESK_BASE_SHELLCOMMAND_H

#include <sys/types.h>

#include <string>
#include <vector>

namespace vesk {

class ShellCommand {
public:
  // Starts `/bin/sh -c command`. Returns false (errno set) when no process
  // could be made; a shell that cannot be run exits with 127 as in system().
  bool Start(const std::string& command);
  // The same with the command's standard output and standard error written
  // to the open descriptors `outFd` and `errFd` (the same one for both
  // keeps their interleaving); the caller keeps and closes them.
  bool Start(const std::string& command, int outFd, int errFd);
  // Starts the program `argv[0]` (a path; the search path is not used) with
  // exactly `argv`, no shell between: no word of it is ever read as shell
  // syntax. Output as for Start; -1, -1 keeps the caller's streams. A
  // program that cannot be run exits with 127, as with the shell.
  bool StartProgram(const std::vector<std::string>& argv, int outFd = -1, int errFd = -1);
  // Waits for the command to end and gives its wait status (-1, errno set,
  // when it was not started or cannot be waited for).
  int Wait();
  // Ends a started command (SIGTERM to its group) and waits for it.
  ~ShellCommand();

  ShellCommand() = default;
  ShellCommand(const ShellCommand&) = delete;
  ShellCommand& operator=(const ShellCommand&) = delete;

  pid_t Pid() const { return pid_; }

private:
  bool Spawn(const char* path, char* const argv[], int outFd, int errFd);

  pid_t pid_ = -1;
  int slot_ = -1;
};

// Start and Wait in one: the wait status, as system() gives it.
int RunShellCommand(const std::string& command);
// StartProgram and Wait in one.
int RunProgram(const std::vector<std::string>& argv, int outFd = -1, int errFd = -1);

// `text` as one word of a /bin/sh command line: unchanged when it holds only
// letters, digits and ._-/+ (and is not empty), else in single quotes.
std::string ShellWord(const std::string& text);

}  // namespace vesk

#endif
