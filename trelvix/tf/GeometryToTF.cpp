#include "tf/GeometryToTF.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <iostream>
#include <stdexcept>

#include <boost/format.hpp>

#include "provider/IRProviderTSP.h"
#include "tf/ConfigInputs.h"
#include "tf/IRToSpectrum.h"
#include "tf/MultiDimVector.h"
#include "tf/TFToVeskFile.h"

namespace trelvix {

boost::shared_ptr<veskio2::vesk::VeskFile> MakeGeometricTF(const TFMakingParameters& param,
                                                           unsigned int numVertical,
                                                           std::ostream& report) {
  if (numVertical != 1) {
    throw std::runtime_error("Geometric TF calculation doesn't support multi vertical sound positions");
  }
  if (param.nfft == 0) throw std::runtime_error("nfft must be at least 1, but 0 is given");
  if (param.tsp_list_file.empty()) {
    throw std::runtime_error("Geometric TF calculation needs a tsp list file for the source positions, but " +
                             (param.ir_list_file.empty() ? std::string("none is given")
                                                         : param.ir_list_file + " is an impulse response list file"));
  }
  const auto tspList = ReadTSPListFile(param.tsp_list_file);
  tspList->GetNumMic();
  const auto& sources = tspList->GetSources();
  const auto micArray = ReadMicArrayLocationFile(param.mic_array_location_file);
  const auto& mics = micArray->GetMics();

  const auto indices = GetMicIndicesFromTSPList(tspList);
  bool same = mics.size() == indices->size();
  for (std::size_t j = 0; same && j < mics.size(); ++j) {
    same = std::find(indices->begin(), indices->end(), mics[j].GetMicIndex()) != indices->end();
  }
  if (!same) {
    std::cerr << "mic combinations are not same" << std::endl;
    throw std::runtime_error("mic combinations are not same");
  }

  std::vector<veskio2::Vector3<float>> micPositions;  // metres
  for (const auto& mic : mics) micPositions.push_back(mic.GetPosition().ToCartesian());
  std::vector<veskio2::Vector3<float>> sourcePositions;  // metres
  for (const auto& source : sources) {
    const veskio2::Position<float> position =
        veskio2::MakePositionFromVector(source.GetPosition().ToCartesian());
    sourcePositions.push_back(position.ToCartesian());
  }

  const float samplesPerMetre = static_cast<float>(param.sampling_freq) / kSpeedOfSound;
  const std::size_t numBins = param.nfft / 2 + 1;
  // The whole array is held in memory: refuse an nfft that cannot fit
  // rather than let the allocation take the machine.
  constexpr uint64_t kMaxValues = uint64_t(1) << 28;  // 2 GiB of complex floats
  if (static_cast<uint64_t>(sources.size()) * mics.size() * numBins > kMaxValues) {
    throw std::runtime_error((boost::format("nfft %d is too large: %d sources x %d microphones x %d bins "
                                            "exceed %d transfer-function values") %
                              param.nfft % sources.size() % mics.size() % numBins % kMaxValues)
                                 .str());
  }
  TFArray tf = MakeArray3<std::complex<float>>(sources.size(), mics.size(), numBins, 0.0f);
  for (std::size_t src = 0; src < sourcePositions.size(); ++src) {
    std::vector<float> delays;  // samples
    float latest = 0.0f;
    for (const auto& micPosition : micPositions) {
      delays.push_back((sourcePositions[src] - micPosition).Length() * samplesPerMetre);
      if (!std::isfinite(delays.back())) {
        throw std::runtime_error((boost::format("the distance from src %d to mic %d is not finite") % src %
                                  (delays.size() - 1))
                                     .str());
      }
      latest = std::max(latest, delays.back());
    }
    const float offset = std::max(
        0.0f, latest + static_cast<float>(param.direct_length) - static_cast<float>(param.nfft));
    report << "GEO IR[" << src << "] offset=" << offset << "(" << offset / param.sampling_freq << "sec)"
           << "\n";
    for (std::size_t mic = 0; mic < delays.size(); ++mic) {
      for (std::size_t bin = 0; bin < numBins; ++bin) {
        const float phase = static_cast<float>(static_cast<double>(offset - delays[mic]) *
                                               6.283185307179586 * static_cast<double>(bin) / param.nfft);
        tf[src][mic][bin] = std::complex<float>(std::cos(phase), std::sin(phase));
      }
    }
  }
  report.flush();

  if (param.tf_type == TFType::GTF) ConjugateTF(tf);
  return AssembleTFFile(tf, sourcePositions, micArray, param.nfft, 0, param.sampling_freq, param.tf_type);
}

}  // namespace trelvix
