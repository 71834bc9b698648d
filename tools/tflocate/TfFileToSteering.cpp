#include <cmath>
#include <sstream>

#include "Locate.h"
#include "TfFileToMeasurement.h"
#include "ToolError.h"

namespace vesktools {

const char* MethodName(Method method) {
  switch (method) {
    case Method::NORMMUSIC:
      return "normmusic";
    case Method::MUSIC:
      return "music";
    case Method::SRP_PHAT:
      return "srp-phat";
  }
  return "?";
}

Steering TfFileToSteering(const std::string& path, const BandRequest& band) {
  Steering s;
  {
    const TfMeasurement tf = TfFileToMeasurement(path, 2, "localisation");
    s.path = path;
    s.kind = tf.kind;
    s.samplingHz = static_cast<int>(tf.samplingHz);
    s.nfft = tf.nfft;
    s.numMics = tf.NumMics();
    s.numSources = tf.NumSources();
    if (tf.kind == "m2pg" && tf.binIndex.size() != tf.nfft / 2 + 1)
      throw ToolError(path + ": expected " + std::to_string(tf.nfft / 2 + 1) + " bins (fftLength " +
                      std::to_string(tf.nfft) + "), found " + std::to_string(tf.binIndex.size()));
    const double nyquist = tf.samplingHz / 2;
    s.bandLowHz = band.lowHz;
    s.bandHighHz = band.highHz > 0 ? band.highHz : 0.8 * nyquist;
    if (s.bandLowHz >= nyquist) {
      std::ostringstream text;
      text << "--band: " << s.bandLowHz << " Hz lies at or above the Nyquist frequency of " << path << " (" << nyquist
           << " Hz)";
      throw ToolError(text.str());
    }
    for (std::size_t src = 0; src < tf.NumSources(); ++src) {
      const Vec3& p = tf.sourcePositions[src];
      s.positions.push_back({{p.x, p.y, p.z}});
    }
    if (tf.kind == "gtf")
      s.warnings.push_back(path +
                           " is a gtf file: its spectra are conjugated back, but its normalisations can weight "
                           "the microphones unequally and so bias the directions (an m2pg file is made for "
                           "localisation)");
    // The band's stored bins, in FFT order.
    std::vector<std::size_t> columns;
    for (std::size_t j = 0; j < tf.binIndex.size(); ++j) {
      const double hz = tf.binIndex[j] * tf.samplingHz / tf.nfft;
      if (hz >= s.bandLowHz && hz <= s.bandHighHz && tf.binIndex[j] > 0 && tf.binIndex[j] < tf.nfft / 2)
        columns.push_back(j);
    }
    const std::size_t D = s.numSources, M = s.numMics;
    std::vector<float> re(columns.size() * M * D), im(re.size());
    // Source by source, so that each stored row is read once.
    std::size_t nonFinite = 0;
    std::vector<char> any(columns.size(), 0);
    std::vector<double> norm(columns.size());
    std::vector<char> finite(columns.size());
    const float sign = tf.conjugated ? -1.0f : 1.0f;
    for (std::size_t src = 0; src < D; ++src) {
      std::fill(norm.begin(), norm.end(), 0.0);
      std::fill(finite.begin(), finite.end(), 1);
      for (std::size_t mic = 0; mic < M; ++mic) {
        const std::vector<std::complex<float>>& row = tf.Spectrum(src, mic);
        for (std::size_t c = 0; c < columns.size(); ++c) {
          const std::complex<float> v = row[columns[c]];
          if (!std::isfinite(v.real()) || !std::isfinite(v.imag())) finite[c] = 0;
          norm[c] += std::norm(std::complex<double>(v));
        }
      }
      for (std::size_t c = 0; c < columns.size(); ++c) {
        if (!finite[c]) ++nonFinite;
        norm[c] = finite[c] && norm[c] > 0 ? 1.0 / std::sqrt(norm[c]) : 0.0;
        if (norm[c] > 0) any[c] = 1;
      }
      for (std::size_t mic = 0; mic < M; ++mic) {
        const std::vector<std::complex<float>>& row = tf.Spectrum(src, mic);
        for (std::size_t c = 0; c < columns.size(); ++c) {
          if (norm[c] == 0) continue;
          const std::complex<float> v = row[columns[c]];
          re[(c * M + mic) * D + src] = static_cast<float>(v.real() * norm[c]);
          im[(c * M + mic) * D + src] = static_cast<float>(sign * v.imag() * norm[c]);
        }
      }
    }
    // Bins without any response (a zeroed last bin) are left out.
    for (std::size_t c = 0; c < columns.size(); ++c) {
      if (!any[c]) continue;
      const std::size_t out = s.bins.size();
      if (out != c) {
        std::copy(re.begin() + c * M * D, re.begin() + (c + 1) * M * D, re.begin() + out * M * D);
        std::copy(im.begin() + c * M * D, im.begin() + (c + 1) * M * D, im.begin() + out * M * D);
      }
      s.bins.push_back(tf.binIndex[columns[c]]);
    }
    if (nonFinite)
      s.warnings.push_back(path + ": " + std::to_string(nonFinite) +
                           " (source, bin) responses hold NaN or infinite values and are left out");
    if (s.bins.empty()) {
      std::ostringstream text;
      text << path << ": no bin between " << s.bandLowHz << " and " << s.bandHighHz
           << " Hz holds a response (check --band)";
      throw ToolError(text.str());
    }
    re.resize(s.bins.size() * M * D);
    im.resize(re.size());
    s.re = std::move(re);
    s.im = std::move(im);
  }  // the file's own copy of the spectra is released here
  return s;
}

}  // namespace vesktools
