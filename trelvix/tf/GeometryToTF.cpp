#include "tf/GeometryToTF.h"

#include <malloc.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <iostream>
#include <stdexcept>

#include <boost/format.hpp>

#include "base/Cores.h"

#include "provider/CheckConfigFile.h"
#include "provider/IRProviderTSP.h"
#include "tf/ConfigInputs.h"
#include "tf/IRToSpectrum.h"
#include "tf/MultiDimVector.h"
#include "tf/TFToVeskFile.h"
#include "base/Constants.h"

namespace trelvix {

namespace {

// While it lives, a thread's new heap is made writable whole (64 MiB) when
// created, instead of one page and one system call at a time as rows are
// allocated: for a gigabyte of rows filled on several threads that is a
// quarter of a million mprotect calls fewer. Pages are still only used
// when touched.
class WholeThreadHeaps {
public:
  WholeThreadHeaps() { mallopt(M_TOP_PAD, kPadBytes); }
  ~WholeThreadHeaps() { mallopt(M_TOP_PAD, kDefaultPadBytes); }
  WholeThreadHeaps(const WholeThreadHeaps&) = delete;
  WholeThreadHeaps& operator=(const WholeThreadHeaps&) = delete;

private:
  static constexpr int kPadBytes = 64 << 20;          // a thread heap's largest size
  static constexpr int kDefaultPadBytes = 128 << 10;  // the C library's own default
};

}  // namespace

boost::shared_ptr<veskio2::vesk::VeskFile> MakeGeometricTF(const TFJob& job, std::ostream& report) {
  const TFMakingParameters& param = job.param;
  if (job.numVertical != 1) {
    throw std::runtime_error("Geometric TF calculation doesn't support multi vertical sound positions");
  }
  if (param.nfft == 0) throw std::runtime_error("nfft must be at least 1, but 0 is given");
  if (param.tsp_list_file.empty()) {
    throw std::runtime_error("Geometric TF calculation needs a tsp list file for the source positions, but " +
                             (param.ir_list_file.empty() ? std::string("none is given")
                                                         : param.ir_list_file + " is an impulse response list file"));
  }
  const auto tspList = AsTSPListFile(job.list, param.tsp_list_file);
  tspList->GetNumMic();
  const auto& sources = tspList->GetSources();
  const auto& micArray = job.micArray;
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
  sourcePositions.reserve(sources.size());
  for (const auto& source : sources) {
    const veskio2::Position<float> position = veskio2::MakePositionFromVector(source.GetPosition().ToCartesian());
    sourcePositions.push_back(position.ToCartesian());
  }

  const float samplesPerMetre = static_cast<float>(param.sampling_freq) / kSpeedOfSound;
  const std::size_t numMic = mics.size();
  const std::size_t numBins = param.nfft / 2 + 1;
  // The whole array is held in memory: refuse an nfft that cannot fit
  // rather than let the allocation take the machine.
  constexpr uint64_t kMaxValues = uint64_t(1) << 28;  // 2 GiB of complex floats
  if (static_cast<uint64_t>(sources.size()) * numMic * numBins > kMaxValues) {
    throw std::runtime_error((boost::format("nfft %d is too large: %d sources x %d microphones x %d bins "
                                            "exceed %d transfer-function values") %
                              param.nfft % sources.size() % numMic % numBins % kMaxValues)
                                 .str());
  }

  // Delays and offsets first, in order, with their report lines and errors.
  std::vector<float> delays(sourcePositions.size() * numMic);  // samples, [src][mic]
  std::vector<float> offsets(sourcePositions.size());          // samples
  for (std::size_t src = 0; src < sourcePositions.size(); ++src) {
    float latest = 0.0f;
    for (std::size_t mic = 0; mic < numMic; ++mic) {
      const float delay = (sourcePositions[src] - micPositions[mic]).Length() * samplesPerMetre;
      if (!std::isfinite(delay)) {
        throw std::runtime_error((boost::format("the distance from src %d to mic %d is not finite") % src % mic).str());
      }
      delays[src * numMic + mic] = delay;
      latest = std::max(latest, delay);
    }
    const float offset =
        std::max(0.0f, latest + static_cast<float>(param.direct_length) - static_cast<float>(param.nfft));
    offsets[src] = offset;
    report << "GEO IR[" << src << "] offset=" << offset << "(" << offset / param.sampling_freq << "sec)"
           << "\n";
  }
  report.flush();

  // Each worker allocates the rows it fills: first touching a gigabyte of
  // fresh pages costs as much as computing the values, and spread over the
  // cores it is no longer a single-threaded pause. (Reading the lists
  // leaves little free memory behind for the workers' own arenas to miss.)
  TFArray tf(sourcePositions.size());
  for (auto& rows : tf) rows.resize(numMic);
  // Dividing by a power of two is exact, so multiplying by its reciprocal
  // gives the same phases bit for bit, at a fraction of a division's cost.
  const double nfft = param.nfft;  // samples
  const bool nfftIsPowerOfTwo = (param.nfft & (param.nfft - 1)) == 0;
  const auto fill = [&](std::size_t first, std::size_t last, auto overNfft) {
    for (std::size_t src = first; src < last; ++src) {
      for (std::size_t mic = 0; mic < numMic; ++mic) {
        std::vector<std::complex<float>>& row = tf[src][mic];
        row.reserve(numBins);
        const double shift = static_cast<double>(offsets[src] - delays[src * numMic + mic]);  // samples
        for (std::size_t bin = 0; bin < numBins; ++bin) {
          const float phase = static_cast<float>(overNfft(shift * (2.0 * vesk::kPi) * static_cast<double>(bin)));
          row.emplace_back(std::cos(phase), std::sin(phase));  // within the capacity reserved
        }
      }
    }
  };
  // The values straight into the final array, sources spread over the cores.
  const WholeThreadHeaps wholeHeaps;
  vesk::OverCores(tf.size(), [&](std::size_t first, std::size_t last) {
    if (nfftIsPowerOfTwo) {
      const double reciprocal = 1.0 / nfft;
      fill(first, last, [reciprocal](double x) { return x * reciprocal; });
    } else {
      fill(first, last, [nfft](double x) { return x / nfft; });
    }
  });

  // Free-field values have unit magnitude by construction: no normalisation.
  FinishTF(tf, param, false, report);
  return AssembleTFFile(std::move(tf), sourcePositions, micArray, param.nfft, 0, param.sampling_freq, param.tf_type);
}

boost::shared_ptr<veskio2::vesk::VeskFile> MakeGeometricTF(const TFMakingParameters& param, unsigned int numVertical,
                                                           std::ostream& report) {
  TFJob job;
  job.param = param;
  job.numVertical = numVertical;
  if (numVertical == 1 && param.nfft != 0 && !param.tsp_list_file.empty()) {
    job.list = ReadConfigFile(param.tsp_list_file);
    job.micArray = ReadMicArrayLocationFile(param.mic_array_location_file);
  }
  return MakeGeometricTF(job, report);
}

}  // namespace trelvix
