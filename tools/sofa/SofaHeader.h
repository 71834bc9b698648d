// What a SOFA file's header says, as netCDF reported it: dimensions,
// global text attributes, and each variable's value type, dimension names
// and text attributes. Plain data, so the code that judges it can be driven
// without a file.
#ifndef VESK_SOFA_SOFAHEADER_H
#define VESK_SOFA_SOFAHEADER_H

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace vesksofa {

enum class ValueType { Double, Float, Integer, Text, Other };

struct SofaVariable {
  ValueType type = ValueType::Other;
  std::vector<std::string> dims;             // names, outermost first
  std::map<std::string, std::string> attrs;  // text attributes only
};

struct SofaHeader {
  std::map<std::string, uint64_t> dims;      // name -> length
  std::map<std::string, std::string> attrs;  // global text attributes
  std::map<std::string, SofaVariable> vars;
};

}  // namespace vesksofa

#endif
