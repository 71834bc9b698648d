// The configuration files that tf mode reads, checked and taken as the
// classes it works with.
#ifndef TRELVIX_TF_CONFIGINPUTS_H
#define TRELVIX_TF_CONFIGINPUTS_H

#include <string>

#include <boost/shared_ptr.hpp>

#include "veskio2/VeskConfig.h"

namespace trelvix {

// `file` (read from `path`) as a microphone-array location file of version
// 2.0; throws std::runtime_error naming the path otherwise.
boost::shared_ptr<veskio2::veskconfig::MicArrayLocationFile2_0> AsMicArrayLocationFile(
    const boost::shared_ptr<veskio2::veskconfig::VeskConfigFile>& file, const std::string& path);

// `file` (read from `path`) as a TSP list of version 2.0; throws
// std::runtime_error naming the path otherwise.
boost::shared_ptr<veskio2::veskconfig::TSPListFile2_0> AsTSPListFile(
    const boost::shared_ptr<veskio2::veskconfig::VeskConfigFile>& file, const std::string& path);

// Reads `path` and takes it as above.
boost::shared_ptr<veskio2::veskconfig::MicArrayLocationFile2_0> ReadMicArrayLocationFile(const std::string& path);

}  // namespace trelvix

#endif
