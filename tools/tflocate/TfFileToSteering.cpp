#include <cmath>
#include <sstream>

#include "Locate.h"
#include "TfFileToMeasurement.h"
#include "ToolError.h"

namespace vesktools {

const char* MethodName(Method method) {
  switch (method) {
    case Method::NORMMUSIC: return "normmusic";
    case Method::MUSIC: return "music";
    case Method::SRP_PHAT: return "srp-phat";
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
    if (s.bandLowHz >= nyquist)
      throw ToolError("--band: " + std::to_string(s.bandLowHz) + " Hz lies at or above the Nyquist frequency of " +
                      path + " (" + std::to_string(nyquist) + " Hz)");
    for (std::size_t src = 0; src < tf.NumSources(); ++src) {
      const Vec3& p = tf.sourcePositions[src];
      s.positions.push_back({{p.x, p.y, p.z}});
    }
    if (tf.kind == "gtf")
      s.warnings.push_back(path + " is a gtf file: its spectra are conjugated back, but its normalisations can weight "
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
    std::size_t nonFinite = 0;
    std::vector<std::size_t> kept;
    for (std::size_t c = 0; c < columns.size(); ++c) {
      const std::size_t out = kept.size();
      bool any = false;
      for (std::size_t src = 0; src < D; ++src) {
        double norm = 0;
        bool finite = true;
        for (std::size_t mic = 0; mic < M; ++mic) {
          const std::complex<float> v = tf.Spectrum(src, mic)[columns[c]];
          if (!std::isfinite(v.real()) || !std::isfinite(v.imag())) finite = false;
          norm += std::norm(std::complex<double>(v));
        }
        if (!finite) ++nonFinite;
        if (!finite || !(norm > 0)) continue;
        any = true;
        const double scale = 1.0 / std::sqrt(norm);
        const float sign = tf.conjugated ? -1.0f : 1.0f;
        for (std::size_t mic = 0; mic < M; ++mic) {
          const std::complex<float> v = tf.Spectrum(src, mic)[columns[c]];
          re[(out * M + mic) * D + src] = static_cast<float>(v.real() * scale);
          im[(out * M + mic) * D + src] = static_cast<float>(sign * v.imag() * scale);
        }
      }
      if (!any) continue;
      kept.push_back(columns[c]);
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
