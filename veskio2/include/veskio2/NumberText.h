// The text of numbers that veskio2 writes: the configuration files' values
// and the JSON of veskdump and tfcheck.
#ifndef VESKIO2_NUMBERTEXT_H
#define VESKIO2_NUMBERTEXT_H

#include <string>

namespace veskio2 {

// Shortest decimal text that reads back to the same float (at most 9
// significant digits, exponent form where shorter); "nan", "inf", "-inf" for
// non-finite values. Independent of the C locale.
std::string FloatToText(float value);

}  // namespace veskio2

#endif
