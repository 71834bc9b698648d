// Command line of the impulse calculator: options into run settings, and the
// usage and version texts.
#ifndef DRAVIK_COMMAND_LINE_H
#define DRAVIK_COMMAND_LINE_H

#include "Settings.h"

namespace dravik {

// Parses argv into *settings, printing every message the parse calls for.
// Returns 0 when the run goes on, otherwise the exit status to end with
// (1 after -v, 255 after any refusal). getopt_long may permute argv.
int parse_command_line(int argc, char** argv, RunSettings* settings);

void print_usage();
void print_version();

}  // namespace dravik

#endif
