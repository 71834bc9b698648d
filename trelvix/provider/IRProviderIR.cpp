#include "provider/IRProviderIR.h"

#include <iostream>
#include <stdexcept>

#include "provider/CheckConfigFile.h"
#include "provider/MicIndexTable.h"
#include "veskio2/FltFile.h"

namespace trelvix {

using veskio2::Version;
using veskio2::veskconfig::ImpulseResponseListFile;
using veskio2::veskconfig::ImpulseResponseListFile2_0;

class IRProviderIR::Impl {
public:
  boost::shared_ptr<ImpulseResponseListFile> ir_;

  // The list as the one version the operations understand.
  const ImpulseResponseListFile2_0& List() const {
    if (!(ir_->GetVersion() == Version(2, 0))) throw std::runtime_error("not implemented");
    return dynamic_cast<const ImpulseResponseListFile2_0&>(*ir_);
  }

  // The name of the single-index file entry that serves the microphone.
  std::string FileFor(std::size_t src, std::size_t mic) const {
    const auto& files = List().GetSources().at(src).GetFiles();
    const int32_t target = MicIndexOf(mic);
    for (const auto& file : files) {
      if (!file.HasMicIndices()) continue;
      const auto& indices = file.GetMicIndices();
      // Only files that carry exactly this one microphone serve it.
      if (indices.size() != 1 || static_cast<int64_t>(indices[0]) != target) continue;
      // Relative names are relative to the working directory.
      return file.GetName().raw();
    }
    throw std::runtime_error("not implemented");
  }
};

IRProviderIR::IRProviderIR(const std::string& listFile) : IRProviderIR(ReadConfigFile(listFile), listFile) {}

IRProviderIR::IRProviderIR(const boost::shared_ptr<veskio2::veskconfig::VeskConfigFile>& file,
                           const std::string& listFile)
    : impl_(new Impl) {
  CheckConfigFile(file, "ImpulseResponseListFile", {Version(2, 0)});
  impl_->ir_ = boost::dynamic_pointer_cast<ImpulseResponseListFile>(file);
  if (!impl_->ir_ || !boost::dynamic_pointer_cast<ImpulseResponseListFile2_0>(file)) {
    throw std::runtime_error("unsupported ImpulseResponseListFile class in " + listFile);
  }
}

std::size_t IRProviderIR::GetNumSources() { return impl_->List().GetSources().size(); }

std::size_t IRProviderIR::GetNumMics() {
  const ImpulseResponseListFile2_0& list = impl_->List();
  if (list.HasNumMic()) return list.GetNumMic();
  const auto& sources = list.GetSources();
  if (sources.empty()) throw std::runtime_error("not implemented");
  return sources.front().GetFiles().size();  // one file per microphone
}

std::vector<float> IRProviderIR::GetIR(std::size_t src, std::size_t mic) {
  const std::string name = impl_->FileFor(src, mic);
  std::string problem;
  std::vector<float> samples = veskio2::flt::ReadFile(name, &problem);
  if (samples.empty()) std::cerr << name << ": " << problem << std::endl;
  return samples;
}

std::size_t IRProviderIR::GetIRWindow(std::size_t src, std::size_t mic, std::size_t start, std::size_t count,
                                      std::vector<float>* window) {
  const std::string name = impl_->FileFor(src, mic);
  return ReadFltWindow(name, start, count, window);
}

std::vector<boost::shared_ptr<veskio2::veskconfig::Source>> IRProviderIR::GetSources() {
  std::vector<boost::shared_ptr<veskio2::veskconfig::Source>> result;
  for (const auto& source : impl_->List().GetSources()) {
    result.push_back(boost::shared_ptr<veskio2::veskconfig::Source>(new veskio2::veskconfig::Source2(source)));
  }
  return result;
}

boost::shared_ptr<std::vector<unsigned int>> IRProviderIR::GetMicIndices() {
  // The constructor's check guarantees the 2.0 class.
  const auto& sources = dynamic_cast<const ImpulseResponseListFile2_0&>(*impl_->ir_).GetSources();
  std::vector<unsigned int> indices;
  for (const auto& source : sources) {
    // A source with an incomplete entry is passed over; what it gave stays.
    try {
      for (const auto& file : source.GetFiles()) indices.push_back(file.GetMicIndices().at(0));
      return boost::shared_ptr<std::vector<unsigned int>>(new std::vector<unsigned int>(indices));
    } catch (...) {
    }
  }
  throw std::runtime_error("no mic indices found in <file> tag");
}

}  // namespace trelvix
