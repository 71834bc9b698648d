#include "TfFileToMeasurement.h"

#include <cmath>
#include <fstream>
#include <sstream>

#include <boost/pointer_cast.hpp>

#include "ToolError.h"
#include "veskio2/RegularFile.h"

namespace vesktools {
namespace vgtf = veskio2::vesk::vgtf;

namespace {

Vec3 ToVec(const veskio2::Vector3<float>& v) { return Vec3(v.x, v.y, v.z); }

}  // namespace

const std::vector<std::complex<float>>& TfMeasurement::Spectrum(std::size_t src, std::size_t mic) const {
  if (gtf) return (*gtf)[src][mic];
  return (*m2pg)[src / innerCount][src % innerCount][mic];
}

TfMeasurement TfFileToMeasurement(const std::string& path, std::size_t minMics, const char* purpose) {
  TfMeasurement m;
  m.path = path;
  if (veskio2::ExistsButNotRegular(path)) throw ToolError(path + ": " + veskio2::kNotRegularFile);
  std::ifstream in(path, std::ios::binary);
  if (!in) throw ToolError("cannot open " + path);
  try {
    m.file = veskio2::vesk::VeskFileBinaryReader(in).Read();
  } catch (const std::runtime_error& e) {
    throw ToolError(path + ": " + e.what());
  }
  boost::shared_ptr<vgtf::Fmt1_0> fmt;
  boost::shared_ptr<vgtf::GTF1_0> gtf;
  boost::shared_ptr<vgtf::M2PG1_0> m2pg;
  for (const auto& set : m.file->GetDataSets()) {
    if (auto f = boost::dynamic_pointer_cast<vgtf::Fmt1_0>(set)) fmt = f;
    if (auto g = boost::dynamic_pointer_cast<vgtf::GTF1_0>(set)) gtf = g;
    if (auto p = boost::dynamic_pointer_cast<vgtf::M2PG1_0>(set)) m2pg = p;
  }
  if (!fmt) throw ToolError(path + ": expected a vgtf::Fmt 1.0 data set, found none");
  if (!gtf && !m2pg) throw ToolError(path + ": expected a vgtf::GTF or vgtf::M2PG 1.0 data set, found none");
  try {
    if (fmt->GetSamplingRate() <= 0 || fmt->GetFftLength() < 4 || fmt->GetFftLength() % 2 != 0)
      throw ToolError(path + ": expected a positive samplingRate and an even fftLength of at least 4, found " +
                      std::to_string(fmt->GetSamplingRate()) + " Hz and " + std::to_string(fmt->GetFftLength()));
    m.samplingHz = fmt->GetSamplingRate();
    m.nfft = static_cast<std::size_t>(fmt->GetFftLength());
    for (const auto& p : fmt->GetMicPositions()) m.micPositions.push_back(ToVec(p));
    std::size_t numBins = 0;
    if (gtf) {
      m.kind = "gtf";
      m.conjugated = true;
      for (const auto& p : gtf->GetPositions()) m.sourcePositions.push_back(ToVec(p));
      m.gtf = &gtf->GetTf();
      for (uint32_t b : gtf->GetBinIndices()) m.binIndex.push_back(b);
      numBins = m.gtf->empty() || (*m.gtf)[0].empty() ? 0 : (*m.gtf)[0][0].size();
      if (m.gtf->size() != m.sourcePositions.size())
        throw ToolError(path + ": expected " + std::to_string(m.sourcePositions.size()) +
                        " sources in tf (positions), found " + std::to_string(m.gtf->size()));
    } else {
      m.kind = "m2pg";
      const auto& positions = m2pg->GetPositions();
      m.m2pg = &m2pg->GetTf();
      m.innerCount = positions.empty() ? 1 : positions[0].size();
      if (m.innerCount == 0) throw ToolError(path + ": expected at least one inner position, found 0");
      for (const auto& inner : positions) {
        if (inner.size() != m.innerCount) throw ToolError(path + ": positions are not rectangular");
        for (const auto& p : inner) m.sourcePositions.push_back(ToVec(p));
      }
      if (m.m2pg->size() != positions.size())
        throw ToolError(path + ": expected " + std::to_string(positions.size()) + " sources in tf (positions), found " +
                        std::to_string(m.m2pg->size()));
      numBins = m.m2pg->empty() || (*m.m2pg)[0].empty() || (*m.m2pg)[0][0].empty() ? 0 : (*m.m2pg)[0][0][0].size();
      for (std::size_t k = 0; k < numBins; ++k) m.binIndex.push_back(k);
    }
    if (m.NumSources() == 0) throw ToolError(path + ": the file holds no source");
    if (m.binIndex.size() != numBins)
      throw ToolError(path + ": expected " + std::to_string(m.binIndex.size()) + " bins (binIndices), found " +
                      std::to_string(numBins));
    for (std::size_t b : m.binIndex)
      if (b > m.nfft / 2)
        throw ToolError(path + ": bin index " + std::to_string(b) +
                        " lies beyond fftLength / 2 = " + std::to_string(m.nfft / 2));
    // The FFTs are sized by fftLength: a length far beyond the bins held is
    // a damaged header, not a reason to spend minutes and gigabytes.
    if (m.nfft > 16 * (numBins + 1))
      throw ToolError(path + ": fftLength " + std::to_string(m.nfft) + " is more than 16 times the " +
                      std::to_string(numBins) + " bins the file holds");
    const auto checkFinite = [&](const Vec3& p, const std::string& what) {
      if (!std::isfinite(p.x) || !std::isfinite(p.y) || !std::isfinite(p.z)) {
        std::ostringstream text;
        text << path << ": " << what << " is not finite: (" << p.x << ", " << p.y << ", " << p.z << ")";
        throw ToolError(text.str());
      }
    };
    for (std::size_t mic = 0; mic < m.micPositions.size(); ++mic)
      checkFinite(m.micPositions[mic], "the position of microphone " + std::to_string(mic));
    for (std::size_t src = 0; src < m.sourcePositions.size(); ++src)
      checkFinite(m.sourcePositions[src], "the position of source " + std::to_string(src));
    for (std::size_t s = 0; s < m.NumSources(); ++s) {
      const std::size_t mics = m.gtf ? (*m.gtf)[s].size() : (*m.m2pg)[s / m.innerCount][s % m.innerCount].size();
      if (mics != m.NumMics())
        throw ToolError(path + ": expected " + std::to_string(m.NumMics()) + " microphones (micPositions) in source " +
                        std::to_string(s) + ", found " + std::to_string(mics));
    }
  } catch (const veskio2::NotInitialized& e) {
    throw ToolError(path + ": " + e.what());
  }
  if (m.NumMics() < minMics)
    throw ToolError(path + ": " + purpose + " needs at least " + std::to_string(minMics) + " microphones, found " +
                    std::to_string(m.NumMics()));
  return m;
}

}  // namespace vesktools
