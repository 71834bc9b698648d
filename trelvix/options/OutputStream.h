#ifndef TRELVIX_OPTIONS_OUTPUTSTREAM_H
#define TRELVIX_OPTIONS_OUTPUTSTREAM_H

#include <memory>
#include <ostream>

namespace trelvix {
// Where a maker writes its document: standard output (not owned) or the
// output file's stream (owned; closed when the last holder lets go).
using OutputStream = std::shared_ptr<std::ostream>;
}  // namespace trelvix

#endif
