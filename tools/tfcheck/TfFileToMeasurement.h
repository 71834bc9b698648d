// A transfer-function file as the consistency check reads it: geometry,
// rate and one spectrum per (source, microphone), held where the reader put
// them (not copied).
#ifndef VESK_TFCHECK_TFFILETOMEASUREMENT_H
#define VESK_TFCHECK_TFFILETOMEASUREMENT_H

#include <complex>
#include <cstddef>
#include <string>
#include <vector>

#include <boost/shared_ptr.hpp>

#include "veskio2/Vesk.h"

namespace vesktools {

using Vec3 = veskio2::Vector3<double>;

struct TfMeasurement {
  std::string path;
  std::string kind;                   // "m2pg" or "gtf"
  bool conjugated = false;            // GTF files hold conjugated spectra
  double samplingHz = 0;              // as the file says
  std::size_t nfft = 0;               // samples
  std::vector<Vec3> micPositions;     // metres, file order
  std::vector<Vec3> sourcePositions;  // metres; M2PG: sources x inner, source outer
  // Spectra as stored: spectrum(src, mic)[j] is FFT bin binIndex[j].
  std::vector<std::size_t> binIndex;
  std::size_t NumSources() const { return sourcePositions.size(); }
  std::size_t NumMics() const { return micPositions.size(); }
  const std::vector<std::complex<float>>& Spectrum(std::size_t src, std::size_t mic) const;

  boost::shared_ptr<veskio2::vesk::VeskFile> file;  // owns the spectra
  const veskio2::vesk::vgtf::TF3* gtf = nullptr;
  const veskio2::vesk::vgtf::TF4* m2pg = nullptr;
  std::size_t innerCount = 1;
};

// Reads a transfer-function file through veskio2. Throws ToolError naming
// the file when it cannot be read, lacks a field the check needs (vgtf::Fmt
// samplingRate, fftLength, micPositions; positions and tf), or when its
// dimensions disagree (microphone count, bins beyond fftLength / 2), or
// when it holds fewer than `minMics` microphones (`purpose` names the user
// in that message: "a check", "localisation").
TfMeasurement TfFileToMeasurement(const std::string& path, std::size_t minMics = 3, const char* purpose = "a check");

}  // namespace vesktools

#endif
