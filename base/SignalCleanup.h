// What a program leaves behind when SIGINT, SIGTERM, SIGHUP, SIGQUIT or
// SIGPIPE (a reader such as "head" went away) ends it:
// nothing. Temporary output files registered here are removed and child
// process groups registered here are ended before the signal's default
// action is taken again, so the parent still sees death by that signal.
// The handler only calls unlink, kill, waitpid, nanosleep, sigaction and
// raise; registering blocks those signals so it never sees a half-made entry.
#ifndef VESK_BASE_SIGNALCLEANUP_H
#define VESK_BASE_SIGNALCLEANUP_H

#include <sys/types.h>

namespace vesk {
namespace signal_cleanup {

// Installs the handler for SIGINT, SIGTERM, SIGHUP, SIGQUIT and SIGPIPE and
// ignores SIGXFSZ, so that exceeding the file-size limit is a write error
// (EFBIG) instead of death. Call once at the start of main.
void Install();

// Registers a temporary file to remove on a signal. Returns a slot for
// RemovePath, or -1 when the table is full (the file is then not removed).
int AddPath(const char* path);
// Registers a directory without subdirectories (a hidden output folder) to
// empty and remove on a signal; RemovePath unregisters it.
int AddDirectory(const char* path);
void RemovePath(int slot);

// Registers a child that leads its own process group; on a signal the group
// gets SIGTERM, and SIGKILL if the child has not ended within two seconds.
int AddChild(pid_t pid);
void RemoveChild(int slot);

}  // namespace signal_cleanup
}  // namespace vesk

#endif
