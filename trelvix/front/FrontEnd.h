// The whole run of trelvix: parse, handle --help and a missing --mode, open
// the output, run the maker that --mode selects, and give the exit status.
#ifndef TRELVIX_FRONT_FRONTEND_H
#define TRELVIX_FRONT_FRONTEND_H

#include <ostream>

namespace trelvix {

// `out` takes the usage text, the mode hint and, without --output-file, the
// document; `err` the front end's own diagnostics (the makers write theirs
// to std::cerr). Returns 0 on success, 1 on any error.
int RunFrontEnd(int argc, const char* const argv[], std::ostream& out, std::ostream& err);

}  // namespace trelvix

#endif
