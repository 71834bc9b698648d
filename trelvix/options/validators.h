// Option value types of the trelvix command line and their validation hooks,
// found by argument-dependent lookup from Boost.Program_options.
#ifndef TRELVIX_OPTIONS_VALIDATORS_H
#define TRELVIX_OPTIONS_VALIDATORS_H

#include <cstdint>
#include <string>
#include <vector>

#include <boost/any.hpp>

namespace trelvix {

enum class Mode : int32_t { TEMPLATE = 0, TF = 1 };
enum class OutputFormat : int32_t { XML = 0, BINARY = 1 };
enum class OutputType : int32_t { MIC = 0, NOISE = 1, IR = 2, TSP = 3, M2PG = 4, GTF = 5 };

// A list given as "a,b,c"; empty pieces are dropped.
template <typename T>
class CommaSeparatedOption {
public:
  std::vector<T> values;
};

void validate(boost::any& v, const std::vector<std::string>& values, Mode*, int);
void validate(boost::any& v, const std::vector<std::string>& values, OutputFormat*, int);
void validate(boost::any& v, const std::vector<std::string>& values, OutputType*, int);
void validate(boost::any& v, const std::vector<std::string>& values, CommaSeparatedOption<unsigned int>*, int);

}  // namespace trelvix

#endif
