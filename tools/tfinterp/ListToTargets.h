// The positions a list file names: the targets of an interpolation.
#ifndef VESK_TFINTERP_LISTTOTARGETS_H
#define VESK_TFINTERP_LISTTOTARGETS_H

#include <string>
#include <vector>

#include "veskio2/Common.h"

namespace vesktools {

// The sources' positions (metres, Cartesian, in list order) of an
// impulse-response list, a TSP list or a noise location file. Throws
// ToolError naming the file for another kind of file, a file without
// sources, and a source without a position, at the origin or with a
// non-finite coordinate (naming its index).
std::vector<veskio2::Vector3<float>> ListToTargets(const std::string& path);

}  // namespace vesktools

#endif
