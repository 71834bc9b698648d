#include "base/SignalCleanup.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/syscall.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace vesk {
namespace signal_cleanup {
namespace {

constexpr int kSlots = 64;
constexpr int kCleanupSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGPIPE};

// Written only with the cleanup signals blocked; read by the handler.
char* volatile paths[kSlots];
volatile sig_atomic_t isDirectory[kSlots];  // the path is a flat directory to empty and remove
volatile pid_t children[kSlots];

class BlockSignals {
public:
  BlockSignals() {
    sigset_t set;
    sigemptyset(&set);
    for (int sig : kCleanupSignals) sigaddset(&set, sig);
    sigprocmask(SIG_BLOCK, &set, &old_);
  }
  ~BlockSignals() { sigprocmask(SIG_SETMASK, &old_, nullptr); }
  BlockSignals(const BlockSignals&) = delete;
  BlockSignals& operator=(const BlockSignals&) = delete;

private:
  sigset_t old_;
};

// Async-signal-safe: ends every registered child group, waiting up to two
// seconds for them to go before killing them.
void EndChildren() {
  bool any = false;
  for (int i = 0; i < kSlots; ++i) {
    if (children[i] > 0) {
      kill(-children[i], SIGTERM);
      any = true;
    }
  }
  if (!any) return;
  const struct timespec tick = {0, 10 * 1000 * 1000};  // 10 ms
  for (int round = 0; round < 200; ++round) {
    bool running = false;
    for (int i = 0; i < kSlots; ++i) {
      const pid_t pid = children[i];
      if (pid <= 0) continue;
      // The whole group: a shell's own children come to us as their
      // subreaper once the shell is gone, and must be gone too.
      pid_t done;
      while ((done = waitpid(-pid, nullptr, WNOHANG)) > 0) {
      }
      if (done < 0 && errno == ECHILD)
        children[i] = 0;
      else
        running = true;
    }
    if (!running) return;
    nanosleep(&tick, nullptr);
  }
  // SIGKILL cannot be held off, so waiting for it ends; the caller's own
  // death then comes after every child's.
  for (int i = 0; i < kSlots; ++i) {
    if (children[i] > 0) kill(-children[i], SIGKILL);
  }
  for (int i = 0; i < kSlots; ++i) {
    if (children[i] <= 0) continue;
    while (waitpid(-children[i], nullptr, 0) > 0) {
    }
  }
}

// Async-signal-safe: unlinks every entry of a directory without
// subdirectories, then the directory. Rereads from the start until a pass
// removes nothing, since removing entries while reading may skip some.
void RemoveFlatDirectory(const char* path) {
  const int fd = open(path, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd >= 0) {
    alignas(8) char buffer[8192];
    for (int pass = 0; pass < 1000; ++pass) {
      bool removed = false;
      lseek(fd, 0, SEEK_SET);
      long got;
      while ((got = syscall(SYS_getdents64, fd, buffer, sizeof buffer)) > 0) {
        for (long at = 0; at < got;) {
          const auto* entry = reinterpret_cast<const struct dirent64*>(buffer + at);
          const char* name = entry->d_name;
          if (!(name[0] == '.' && (name[1] == 0 || (name[1] == '.' && name[2] == 0))))
            removed |= unlinkat(fd, name, 0) == 0;
          at += entry->d_reclen;
        }
      }
      if (!removed) break;
    }
    close(fd);
  }
  rmdir(path);
}

void Handle(int sig) {
  const int savedErrno = errno;
  EndChildren();
  for (int i = 0; i < kSlots; ++i) {
    if (paths[i]) {
      if (isDirectory[i])
        RemoveFlatDirectory(paths[i]);
      else
        unlink(paths[i]);
    }
  }
  struct sigaction dfl;
  std::memset(&dfl, 0, sizeof dfl);
  dfl.sa_handler = SIG_DFL;
  sigemptyset(&dfl.sa_mask);
  sigaction(sig, &dfl, nullptr);
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, sig);
  sigprocmask(SIG_UNBLOCK, &set, nullptr);
  raise(sig);
  errno = savedErrno;  // only reached if the default action is to go on
}

}  // namespace

void Install() {
  struct sigaction action;
  std::memset(&action, 0, sizeof action);
  action.sa_handler = Handle;
  sigemptyset(&action.sa_mask);
  // One cleanup at a time: the other cleanup signals wait for it.
  for (int sig : kCleanupSignals) sigaddset(&action.sa_mask, sig);
  for (int sig : kCleanupSignals) {
    struct sigaction old;
    // A signal ignored by whoever started us (nohup, a background job) stays ignored.
    if (sigaction(sig, nullptr, &old) == 0 && old.sa_handler == SIG_IGN) continue;
    sigaction(sig, &action, nullptr);
  }
  signal(SIGXFSZ, SIG_IGN);
  // Orphans of the commands we start (a shell ended before its dravik) are
  // reparented to us, so the clean-up can wait until they are really gone.
  prctl(PR_SET_CHILD_SUBREAPER, 1);
}

namespace {

int Add(const char* path, bool directory) {
  char* copy = strdup(path);
  if (!copy) return -1;
  BlockSignals block;
  for (int i = 0; i < kSlots; ++i) {
    if (!paths[i]) {
      isDirectory[i] = directory;
      paths[i] = copy;
      return i;
    }
  }
  std::free(copy);
  return -1;
}

}  // namespace

int AddPath(const char* path) { return Add(path, false); }

int AddDirectory(const char* path) { return Add(path, true); }

void RemovePath(int slot) {
  if (slot < 0 || slot >= kSlots) return;
  char* copy;
  {
    BlockSignals block;
    copy = paths[slot];
    paths[slot] = nullptr;
  }
  std::free(copy);
}

int AddChild(pid_t pid) {
  BlockSignals block;
  for (int i = 0; i < kSlots; ++i) {
    if (children[i] <= 0) {
      children[i] = pid;
      return i;
    }
  }
  return -1;
}

void RemoveChild(int slot) {
  if (slot < 0 || slot >= kSlots) return;
  BlockSignals block;
  children[slot] = 0;
}

}  // namespace signal_cleanup
}  // namespace vesk
