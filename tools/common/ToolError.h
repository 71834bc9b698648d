// Errors of the measurement toolkit. Every message names the file, option or
// value at fault; only main() turns them into an exit status.
#ifndef VESK_TOOLS_TOOLERROR_H
#define VESK_TOOLS_TOOLERROR_H

#include <stdexcept>
#include <string>

namespace vesktools {

class ToolError : public std::runtime_error {
public:
  explicit ToolError(const std::string& what) : std::runtime_error(what) {}
};

}  // namespace vesktools

#endif
