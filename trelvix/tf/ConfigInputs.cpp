#include "tf/ConfigInputs.h"

#include <stdexcept>

#include "provider/CheckConfigFile.h"

namespace trelvix {

namespace {

template <typename Concrete>
boost::shared_ptr<Concrete> As(const boost::shared_ptr<veskio2::veskconfig::VeskConfigFile>& file,
                               const std::string& path, const std::string& id) {
  try {
    CheckConfigFile(file, id, {veskio2::Version(2, 0)});
  } catch (const std::runtime_error& e) {
    throw std::runtime_error(path + ": " + e.what());
  }
  const auto concrete = boost::dynamic_pointer_cast<Concrete>(file);
  if (!concrete) throw std::runtime_error(path + ": unsupported " + id + " class");
  return concrete;
}

}  // namespace

boost::shared_ptr<veskio2::veskconfig::MicArrayLocationFile2_0> AsMicArrayLocationFile(
    const boost::shared_ptr<veskio2::veskconfig::VeskConfigFile>& file, const std::string& path) {
  return As<veskio2::veskconfig::MicArrayLocationFile2_0>(file, path, "MicArrayLocationFile");
}

boost::shared_ptr<veskio2::veskconfig::TSPListFile2_0> AsTSPListFile(
    const boost::shared_ptr<veskio2::veskconfig::VeskConfigFile>& file, const std::string& path) {
  return As<veskio2::veskconfig::TSPListFile2_0>(file, path, "TSPListFile");
}

boost::shared_ptr<veskio2::veskconfig::MicArrayLocationFile2_0> ReadMicArrayLocationFile(const std::string& path) {
  return AsMicArrayLocationFile(ReadConfigFile(path), path);
}

}  // namespace trelvix
