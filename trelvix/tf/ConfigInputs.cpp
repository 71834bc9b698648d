#include "tf/ConfigInputs.h"

#include <stdexcept>

#include "provider/CheckConfigFile.h"

namespace trelvix {

namespace {

template <typename Concrete>
boost::shared_ptr<Concrete> ReadAs(const std::string& path, const std::string& id) {
  const auto file = ReadConfigFile(path);
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

boost::shared_ptr<veskio2::veskconfig::MicArrayLocationFile2_0> ReadMicArrayLocationFile(
    const std::string& path) {
  return ReadAs<veskio2::veskconfig::MicArrayLocationFile2_0>(path, "MicArrayLocationFile");
}

boost::shared_ptr<veskio2::veskconfig::TSPListFile2_0> ReadTSPListFile(const std::string& path) {
  return ReadAs<veskio2::veskconfig::TSPListFile2_0>(path, "TSPListFile");
}

}  // namespace trelvix
