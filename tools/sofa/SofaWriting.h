// What both SOFA writers share: the dimensions, the global attributes a
// SOFA reader expects, and the position variables of an array at the origin
// looking along +x with +z up (so stored source positions are the array's).
#ifndef VESK_SOFA_SOFAWRITING_H
#define VESK_SOFA_SOFAWRITING_H

#include <cstddef>
#include <string>
#include <vector>

#include "HeaderToFirLayout.h"
#include "NcFile.h"

namespace vesksofa {

// Texts the user can set on the command line; empty ones get defaults.
struct SofaTexts {
  std::string title, comment, authorContact, organization, license, roomType, references;
};

struct SofaDims {
  int i, c, m, r, e, n;
};

// "YYYY-MM-DD hh:mm:ss" in UTC of a time in seconds since 1970.
std::string SofaDate(long long secondsSince1970);

// Defines I, C, M, R, E, N and writes the global attributes: convention
// `convention` 1.0 of data type `dataType`, our API name and version.
SofaDims BeginSofa(NcFile& nc, const std::string& convention, const std::string& dataType, std::size_t measurements,
                   std::size_t receivers, std::size_t samples, const SofaTexts& texts, const std::string& dateCreated,
                   const std::string& application);

// Defines the listener, receiver, source and emitter variables.
void DefinePositions(NcFile& nc, const SofaDims& dims);
// Writes them (after EndDefine): receivers [R], sources [M], Cartesian metres.
void PutPositions(NcFile& nc, const std::vector<Vec3>& receivers, const std::vector<Vec3>& sources);

}  // namespace vesksofa

#endif
