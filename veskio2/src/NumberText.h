// Numbers to and from the text of configuration files (and of veskdump).
#ifndef VESKIO2_SRC_NUMBERTEXT_H
#define VESKIO2_SRC_NUMBERTEXT_H

#include <string>
#include <string_view>

#include "veskio2/NumberText.h"

namespace veskio2 {
namespace detail {

using veskio2::FloatToText;

// Whole-text parses; surrounding ASCII whitespace is allowed, anything else
// left over is not. On failure they return false and put a short reason
// ("not a number", "out of range") into `reason`.
bool TextToUnsigned(std::string_view text, unsigned int& value, std::string& reason);
bool TextToInt(std::string_view text, int& value, std::string& reason);
// Accepts decimal and exponent forms, "nan", "inf", "infinity" (any case);
// a finite value beyond the float range, or one that underflows to zero, is
// out of range.
bool TextToFloat(std::string_view text, float& value, std::string& reason);

}  // namespace detail
}  // namespace veskio2

#endif
