// Shape and count checks of the transfer-function data sets, shared by the
// binary writer (before it writes) and the reader (after it decodes).
#ifndef VESKIO2_SRC_VESKFILECHECKS_H
#define VESKIO2_SRC_VESKFILECHECKS_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <type_traits>
#include <vector>

#include <boost/optional.hpp>

#include "veskio2/Vesk.h"

namespace veskio2 {
namespace detail {

template <typename T>
struct Nesting : std::integral_constant<std::size_t, 0> {};
template <typename T>
struct Nesting<std::vector<T>> : std::integral_constant<std::size_t, 1 + Nesting<T>::value> {};

// Dimensions of a nested list, one per nesting level, taken from the first
// entry at each level; a level below an empty list is 0. Throws
// InvalidVeskFile "<context>: <name> is ragged: expected N entries in
// <name>[i]…, found M" when a sibling differs or a dimension exceeds 32 bits.
template <typename Array>
std::vector<uint64_t> ShapeOf(const Array& array, const std::string& context, const char* name);

// What the consistency checks compare: the counts and the dimensions of the
// lists and arrays of one data set; an unset field stays empty. The writer
// takes them from the objects, the reader from the file, before it holds any
// value.
struct Counts {
  boost::optional<int64_t> micCount, sourceCount, innerCount, binCount;
  boost::optional<std::vector<uint64_t>> micPositions, positions, binIndices, tf;
};

// The counts of a data set; throws as ShapeOf for a ragged list.
Counts CountsOf(const vesk::vgtf::Fmt1_0& fmt, const std::string& context);
Counts CountsOf(const vesk::vgtf::M2PG1_0& m2pg, const std::string& context);
Counts CountsOf(const vesk::vgtf::GTF1_0& gtf, const std::string& context);

// Throw InvalidVeskFile "<context>: expected <n> <what> (<why>), found <m>".
void CheckFmt(const Counts& counts, const std::string& context);
void CheckM2PG(const Counts& counts, const std::string& context);
void CheckGTF(const Counts& counts, const std::string& context);

// "vgtf::GTF 1.0": how messages name a data set.
std::string DataSetName(const std::string& id, const Version& version);

// ---- implementation of the template -----------------------------------------

template <typename T>
void FirstDims(const T&, std::vector<uint64_t>&) {}

template <typename T>
void FirstDims(const std::vector<T>& list, std::vector<uint64_t>& dims) {
  dims.push_back(list.size());
  if (!list.empty()) FirstDims(list.front(), dims);
}

[[noreturn]] void ThrowRagged(const std::string& context, const char* name, const std::vector<std::size_t>& indices,
                              uint64_t expected, uint64_t found);

template <typename T>
void CheckDims(const std::vector<T>& list, const std::vector<uint64_t>& dims, std::vector<std::size_t>& indices,
               const std::string& context, const char* name) {
  const std::size_t level = indices.size();
  if (list.size() != dims[level]) ThrowRagged(context, name, indices, dims[level], list.size());
  if constexpr (Nesting<T>::value > 0) {
    indices.push_back(0);
    for (std::size_t i = 0; i < list.size(); ++i) {
      indices.back() = i;
      CheckDims(list[i], dims, indices, context, name);
    }
    indices.pop_back();
  }
}

template <typename Array>
std::vector<uint64_t> ShapeOf(const Array& array, const std::string& context, const char* name) {
  std::vector<uint64_t> dims;
  FirstDims(array, dims);
  dims.resize(Nesting<Array>::value, 0);
  for (uint64_t d : dims)
    if (d > UINT32_MAX)
      throw InvalidVeskFile(context + ": " + name + " has a dimension of " + std::to_string(d) +
                            ", more than 32 bits can count");
  std::vector<std::size_t> indices;
  CheckDims(array, dims, indices, context, name);
  return dims;
}

}  // namespace detail
}  // namespace veskio2

#endif
