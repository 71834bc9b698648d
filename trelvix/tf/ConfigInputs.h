// The configuration files that tf mode reads, checked and taken as the
// classes it works with.
#ifndef TRELVIX_TF_CONFIGINPUTS_H
#define TRELVIX_TF_CONFIGINPUTS_H

#include <string>

#include <boost/shared_ptr.hpp>

#include "veskio2/VeskConfig.h"

namespace trelvix {

// Throws std::runtime_error naming the file when it is no microphone-array
// location file of version 2.0.
boost::shared_ptr<veskio2::veskconfig::MicArrayLocationFile2_0> ReadMicArrayLocationFile(
    const std::string& path);

// Throws std::runtime_error naming the file when it is no TSP list of version 2.0.
boost::shared_ptr<veskio2::veskconfig::TSPListFile2_0> ReadTSPListFile(const std::string& path);

}  // namespace trelvix

#endif
