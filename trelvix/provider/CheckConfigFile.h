// Reading a configuration file and checking that it is the kind a caller needs.
#ifndef TRELVIX_PROVIDER_CHECKCONFIGFILE_H
#define TRELVIX_PROVIDER_CHECKCONFIGFILE_H

#include <string>
#include <vector>

#include <boost/shared_ptr.hpp>

#include "veskio2/VeskConfig.h"

namespace trelvix {

// Throws std::runtime_error "not VESK-config file" for an empty pointer,
// "requires <id>, but given <id>" for another kind and
// "unsupported <id> version <v>" when no allowed version matches.
void CheckConfigFile(const boost::shared_ptr<veskio2::veskconfig::VeskConfigFile>& file, const std::string& requiredId,
                     const std::vector<veskio2::Version>& allowedVersions);

// Reads `path` with the XML configuration reader; the reader's errors pass.
boost::shared_ptr<veskio2::veskconfig::VeskConfigFile> ReadConfigFile(const std::string& path);

}  // namespace trelvix

#endif
