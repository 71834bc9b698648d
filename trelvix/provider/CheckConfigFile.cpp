#include "provider/CheckConfigFile.h"

#include <stdexcept>

#include <boost/format.hpp>

namespace trelvix {

void CheckConfigFile(const boost::shared_ptr<veskio2::veskconfig::VeskConfigFile>& file, const std::string& requiredId,
                     const std::vector<veskio2::Version>& allowedVersions) {
  if (!file) throw std::runtime_error("not VESK-config file");
  const std::string id = file->GetId();
  if (id != requiredId) {
    throw std::runtime_error((boost::format("requires %s, but given %s") % requiredId % id).str());
  }
  const veskio2::Version version = file->GetVersion();
  for (const veskio2::Version& allowed : allowedVersions) {
    if (version == allowed) return;
  }
  throw std::runtime_error((boost::format("unsupported %s version %s") % requiredId % version.ToString()).str());
}

boost::shared_ptr<veskio2::veskconfig::VeskConfigFile> ReadConfigFile(const std::string& path) {
  veskio2::veskconfig::VeskConfigFileXMLReader reader{Glib::ustring(path)};
  return reader.Read();
}

}  // namespace trelvix
