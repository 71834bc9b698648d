// The one way a tool starts and fails.
#ifndef VESK_TOOLS_TOOLMAIN_H
#define VESK_TOOLS_TOOLMAIN_H

namespace vesktools {

// Installs the signal clean-up (a signal removes the hidden output file
// being written), runs `run` and gives its status. An exception that
// escapes it flushes standard output, prints "<name>: <text>" on standard
// error and gives status 1;
// for std::bad_alloc and std::length_error the text is `outOfMemory` when one is given.
int ToolMain(const char* name, int (*run)(int argc, char** argv), int argc, char** argv,
             const char* outOfMemory = nullptr);

}  // namespace vesktools

#endif
