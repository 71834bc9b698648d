// The whole run of the impulse calculator, from command line to files.
#ifndef DRAVIK_DRIVER_H
#define DRAVIK_DRIVER_H

namespace dravik {

// Runs one calculation and returns the process exit status: 0 when every
// file was written, 1 after -v or when an output file cannot be written,
// 255 for every other failure.
int run_dravik(int argc, char** argv);

}  // namespace dravik

#endif
