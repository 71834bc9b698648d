#include "tf/TFToVeskFile.h"

#include <cmath>
#include <cstdlib>
#include <ctime>
#include <stdexcept>
#include <utility>

#include <boost/format.hpp>

namespace trelvix {

using namespace veskio2::vesk;

namespace {

Glib::ustring LocalDate() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  return (boost::format("%04d/%02d/%02d") % (local.tm_year + 1900) % (local.tm_mon + 1) % local.tm_mday).str();
}

bool IsFinite(const veskio2::Vector3<float>& v) {
  return std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z);
}

Glib::ustring UserName() {
  if (const char* name = std::getenv("USERNAME")) return name;
  if (const char* name = std::getenv("USER")) return name;
  return "";
}

}  // namespace

boost::shared_ptr<VeskFile> AssembleTFFile(
    const TFArray& tf, const std::vector<veskio2::Vector3<float>>& sourcePositions,
    const boost::shared_ptr<veskio2::veskconfig::MicArrayLocationFile2_0>& micArray, uint32_t nfft, uint32_t irLength,
    uint32_t samplingFreq, TFType tfType) {
  return AssembleTFFile(TFArray(tf), sourcePositions, micArray, nfft, irLength, samplingFreq, tfType);
}

boost::shared_ptr<VeskFile> AssembleTFFile(
    TFArray&& tf, const std::vector<veskio2::Vector3<float>>& sourcePositions,
    const boost::shared_ptr<veskio2::veskconfig::MicArrayLocationFile2_0>& micArray, uint32_t nfft, uint32_t irLength,
    uint32_t samplingFreq, TFType tfType) {
  boost::shared_ptr<VeskFile> file(new VeskFile);
  boost::shared_ptr<vgtf::Fmt1_0> fmt(new vgtf::Fmt1_0);
  boost::shared_ptr<vgtf::Spec1_0> spec(new vgtf::Spec1_0);
  if (tf.empty() || tf[0].empty() || tf[0][0].empty()) throw std::runtime_error("Empty TF vector");
  if (sourcePositions.size() != tf.size()) {
    throw std::runtime_error(
        (boost::format("%d source positions for %d sources of transfer functions") % sourcePositions.size() % tf.size())
            .str());
  }
  // A non-finite position would make every transfer function of the file
  // meaningless while it still reads as valid.
  for (std::size_t src = 0; src < sourcePositions.size(); ++src) {
    if (!IsFinite(sourcePositions[src]))
      throw std::runtime_error((boost::format("the position of src %d is not finite") % src).str());
  }
  const std::vector<veskio2::veskconfig::Mic1>& mics = micArray->GetMics();
  const Glib::ustring date = LocalDate();

  fmt->SetFormatType(tfType == TFType::GTF ? 2 : 1);
  fmt->SetMicCount(static_cast<int32_t>(mics.size()));
  fmt->SetFftLength(static_cast<int32_t>(nfft));
  fmt->SetIrLength(static_cast<int32_t>(irLength));
  fmt->SetSamplingRate(static_cast<int32_t>(samplingFreq));
  std::vector<veskio2::Vector3<float>> micPositions;
  for (const auto& mic : mics) {
    micPositions.push_back(mic.GetPosition().ToCartesian());
    if (!IsFinite(micPositions.back())) {
      throw std::runtime_error((boost::format("the position of mic %d (micIndex %d) is not finite") %
                                (micPositions.size() - 1) % mic.GetMicIndex())
                                   .str());
    }
  }
  fmt->SetMicPositions(micPositions);

  spec->SetDate(date);
  spec->SetLocation("");
  spec->SetEquipment("");
  spec->SetEnvironment("");
  spec->SetUser(UserName());
  spec->SetNote("");

  boost::shared_ptr<DataSet> data;
  const int32_t sourceCount = static_cast<int32_t>(tf.size());
  if (tfType == TFType::GTF) {
    boost::shared_ptr<vgtf::GTF1_0> gtf(new vgtf::GTF1_0);
    gtf->SetSourceCount(sourceCount);
    gtf->SetPositions(sourcePositions);
    gtf->SetBinCount(static_cast<int32_t>(nfft / 2 + 1));
    std::vector<uint32_t> binIndices(nfft / 2 + 1);
    for (uint32_t bin = 0; bin < binIndices.size(); ++bin) binIndices[bin] = bin;
    gtf->SetBinIndices(binIndices);
    gtf->SetTf(std::move(tf));
    data = gtf;
  } else {
    boost::shared_ptr<vgtf::M2PG1_0> m2pg(new vgtf::M2PG1_0);
    m2pg->SetSourceCount(sourceCount);
    m2pg->SetInnerCount(1);
    std::vector<std::vector<veskio2::Vector3<float>>> positions;
    const std::size_t numMic = tf[0].size();
    for (std::size_t src = 0; src < tf.size(); ++src) {
      positions.push_back({sourcePositions[src]});
      if (tf[src].size() != numMic) {
        throw std::runtime_error(
            (boost::format("src %d has %d microphones, src 0 has %d") % src % tf[src].size() % numMic).str());
      }
    }
    vgtf::TF4 values(tf.size());
    for (std::size_t src = 0; src < tf.size(); ++src) {
      values[src].resize(1);
      values[src][0] = std::move(tf[src]);  // the rows move; no value is copied
    }
    m2pg->SetPositions(std::move(positions));
    m2pg->SetTf(std::move(values));
    data = m2pg;
  }

  file->AddDataSet(fmt);
  file->AddDataSet(data);
  file->AddDataSet(spec);
  return file;
}

}  // namespace trelvix
