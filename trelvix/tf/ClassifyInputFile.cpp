#include "tf/ClassifyInputFile.h"

#include "provider/CheckConfigFile.h"
#include "veskio2/VeskConfig.h"

namespace trelvix {

InputFileType ClassifyInputFile(const std::string& path, std::string* reason,
                                boost::shared_ptr<veskio2::veskconfig::VeskConfigFile>* parsed) {
  const std::size_t dot = path.rfind('.');
  if (dot == std::string::npos) return InputFileType::INVALID;
  const std::string extension = path.substr(dot + 1);
  if (extension == "wav") return InputFileType::WAV;
  if (extension == "flt") return InputFileType::FLT;
  boost::shared_ptr<veskio2::veskconfig::VeskConfigFile> file;
  try {
    file = ReadConfigFile(path);
  } catch (const veskio2::AnalyzeError& e) {
    if (reason) *reason = e.what();
    return InputFileType::INVALID;
  }
  if (!file) return InputFileType::INVALID;  // treated like an unreadable file
  if (parsed) *parsed = file;
  const std::string id = file->GetId();
  if (id == "ImpulseResponseListFile") return InputFileType::IR_LIST;
  if (id == "TSPListFile") return InputFileType::TSP_LIST;
  if (id == "MicArrayLocationFile") return InputFileType::MIC_ARRAY_LOCATION;
  if (id == "NoiseLocationFile") return InputFileType::NOISE_LOCATION;
  return InputFileType::INVALID;
}

}  // namespace trelvix
