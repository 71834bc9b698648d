// Impulse responses from ready-made .flt files named by an
// impulse-response list file.
#ifndef TRELVIX_PROVIDER_IRPROVIDERIR_H
#define TRELVIX_PROVIDER_IRPROVIDERIR_H

#include <string>

#include <boost/shared_ptr.hpp>

#include "provider/IRProvider.h"

namespace trelvix {

class IRProviderIR : public IRProvider {
public:
  // Reads and checks the list file; throws the reader's errors and those of
  // CheckConfigFile.
  explicit IRProviderIR(const std::string& listFile);
  // The same over a list already read from `listFile`.
  IRProviderIR(const boost::shared_ptr<veskio2::veskconfig::VeskConfigFile>& list, const std::string& listFile);

  // The whole .flt file of the single-index file entry that matches the
  // microphone's micIndex (no cut applied); empty when it cannot be opened.
  std::vector<float> GetIR(std::size_t src, std::size_t mic) override;
  // Reads only the window; the length comes from the file's size.
  std::size_t GetIRWindow(std::size_t src, std::size_t mic, std::size_t start, std::size_t count,
                          std::vector<float>* window) override;
  std::size_t GetNumSources() override;
  std::size_t GetNumMics() override;
  std::vector<boost::shared_ptr<veskio2::veskconfig::Source>> GetSources() override;
  boost::shared_ptr<std::vector<unsigned int>> GetMicIndices() override;

  class Impl;

private:
  boost::shared_ptr<Impl> impl_;
};

}  // namespace trelvix

#endif
