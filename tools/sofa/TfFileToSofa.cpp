#include "TfFileToSofa.h"

#include <netcdf.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

#include <boost/pointer_cast.hpp>

#include "PendingOutput.h"
#include "ToolError.h"
#include "veskio2/Vesk.h"

namespace vesksofa {

using vesktools::ToolError;
namespace vgtf = veskio2::vesk::vgtf;

namespace {

// Complex values written at once (per block of sources).
constexpr std::size_t kBlockValues = std::size_t(1) << 20;
// Blocks (4 MiB each) between writeback requests.
constexpr std::size_t kWritebackBlocks = 16;

template <typename T>
boost::shared_ptr<T> Find(const veskio2::vesk::VeskFile& file) {
  for (const auto& set : file.GetDataSets())
    if (auto found = boost::dynamic_pointer_cast<T>(set)) return found;
  return nullptr;
}

// The TF file's own date ("YYYY/MM/DD") as a SOFA date, else its modification time.
std::string CreationDate(const std::string& tfPath, const boost::shared_ptr<vgtf::Spec1_0>& spec) {
  if (spec && spec->HasDate()) {
    const std::string d = spec->GetDate();
    if (d.size() == 10 && d[4] == '/' && d[7] == '/' &&
        std::all_of(d.begin(), d.end(), [](char c) { return c == '/' || (c >= '0' && c <= '9'); }))
      return d.substr(0, 4) + "-" + d.substr(5, 2) + "-" + d.substr(8, 2) + " 00:00:00";
  }
  struct stat st;
  if (::stat(tfPath.c_str(), &st) == 0) return SofaDate(static_cast<long long>(st.st_mtime));
  return SofaDate(0);
}

// The transfer functions as [source][mic][bin] rows, whichever data set holds them.
struct TfView {
  std::string kind;
  std::vector<const std::vector<vgtf::Complex>*> rows;  // [source * mics + mic]
  std::vector<Vec3> positions;
  std::vector<uint32_t> binIndices;
  std::size_t sources = 0, mics = 0, bins = 0;
};

void AddSource(TfView& view, const vgtf::TF3::value_type& mics, const veskio2::Vector3<float>& position,
               const std::string& tfPath, std::size_t src) {
  if (mics.size() != view.mics)
    throw ToolError(tfPath + ": source " + std::to_string(src) + " has " + std::to_string(mics.size()) +
                    " microphones, expected " + std::to_string(view.mics));
  for (const auto& row : mics) {
    if (row.size() != view.bins)
      throw ToolError(tfPath + ": source " + std::to_string(src) + " has " + std::to_string(row.size()) +
                      " bins, expected " + std::to_string(view.bins));
    view.rows.push_back(&row);
  }
  view.positions.push_back({position.x, position.y, position.z});
  ++view.sources;
}

TfView ViewOf(const veskio2::vesk::VeskFile& file, const std::string& tfPath) {
  TfView view;
  if (const auto gtf = Find<vgtf::GTF1_0>(file)) {
    view.kind = "gtf";
    const vgtf::TF3& tf = gtf->GetTf();
    const auto& positions = gtf->GetPositions();
    if (positions.size() != tf.size())
      throw ToolError(tfPath + ": " + std::to_string(positions.size()) + " positions for " + std::to_string(tf.size()) +
                      " sources");
    view.mics = tf.empty() ? 0 : tf[0].size();
    view.bins = view.mics == 0 ? 0 : tf[0][0].size();
    for (std::size_t s = 0; s < tf.size(); ++s) AddSource(view, tf[s], positions[s], tfPath, s);
    if (gtf->HasBinIndices()) view.binIndices = gtf->GetBinIndices();
  } else if (const auto m2pg = Find<vgtf::M2PG1_0>(file)) {
    view.kind = "m2pg";
    const vgtf::TF4& tf = m2pg->GetTf();
    const auto& positions = m2pg->GetPositions();
    if (positions.size() != tf.size())
      throw ToolError(tfPath + ": " + std::to_string(positions.size()) + " positions for " + std::to_string(tf.size()) +
                      " sources");
    bool first = true;
    for (std::size_t s = 0; s < tf.size(); ++s) {
      if (positions[s].size() != tf[s].size())
        throw ToolError(tfPath + ": source " + std::to_string(s) + " has " + std::to_string(positions[s].size()) +
                        " positions for " + std::to_string(tf[s].size()) + " inner entries");
      for (std::size_t i = 0; i < tf[s].size(); ++i) {
        if (first) {
          view.mics = tf[s][i].size();
          view.bins = view.mics == 0 ? 0 : tf[s][i][0].size();
          first = false;
        }
        AddSource(view, tf[s][i], positions[s][i], tfPath, s);
      }
    }
  } else {
    throw ToolError(tfPath + ": holds no transfer functions (no vgtf::GTF or vgtf::M2PG data set)");
  }
  if (view.sources == 0 || view.mics == 0 || view.bins == 0)
    throw ToolError(tfPath + ": holds no transfer functions (" + std::to_string(view.sources) + " sources, " +
                    std::to_string(view.mics) + " microphones, " + std::to_string(view.bins) + " bins)");
  if (view.binIndices.empty())
    for (uint32_t k = 0; k < view.bins; ++k) view.binIndices.push_back(k);
  if (view.binIndices.size() != view.bins)
    throw ToolError(tfPath + ": " + std::to_string(view.binIndices.size()) + " bin indices for " +
                    std::to_string(view.bins) + " bins");
  return view;
}

}  // namespace

std::string StoredValuesStatement(const std::string& kind, bool geometric) {
  const std::string dft = "X[k] = sum over n = 0 .. nfft-1 of x[n] exp(-i 2 pi k n / nfft) (unscaled)";
  if (geometric) {
    return kind + " made from positions alone (VeskIrLength 0): H[k] = exp(-i 2 pi k (d - o) / nfft), a pure delay of "
           "d = distance * VeskSamplingRate / 343 samples less a per-source offset o; unit magnitude, no level "
           "decay with distance" + std::string(kind == "gtf" ? "; stored conjugated: Data.Real + i Data.Imag = conj(H[k])" :
                                                                  "; stored as H[k]");
  }
  if (kind == "gtf") {
    return "gtf: Data.Real + i Data.Imag = conj(X[k]), " + dft + ", of the nfft samples of each impulse response "
           "from its source's cutStart, every response of a source first divided by that source's total energy "
           "(the sum of squares over all its microphones and samples); then scaled to unit energy along sources, "
           "microphones and/or frequency if the file was made with --normalize-src, --normalize-mic or "
           "--normalize-freq (the file does not record which); the bin at nfft/2 set to 0. The physical transfer "
           "function is conj of the stored value, up to that scaling.";
  }
  return "m2pg: Data.Real + i Data.Imag = X[k], " + dft + ", of the window trelvix cut from each impulse response: "
         "nfft samples from the source's cutStart, set to 0 after cutEnd samples or, with cutEnd 0, after "
         "direct-length samples past the first largest peak; not conjugated, not normalised; the phase refers to "
         "the window's first sample, not to the emission.";
}

namespace {

void Convert(const std::string& tfPath, const std::string& sofaPath, SofaTexts texts) {
  boost::shared_ptr<veskio2::vesk::VeskFile> file;
  {
    std::ifstream in(tfPath, std::ios::binary);
    if (!in) throw ToolError(tfPath + ": cannot open");
    try {
      file = veskio2::vesk::VeskFileBinaryReader(in).Read();
    } catch (const std::exception& e) {
      throw ToolError(tfPath + ": " + e.what());
    }
  }
  const auto fmt = Find<vgtf::Fmt1_0>(*file);
  if (!fmt) throw ToolError(tfPath + ": holds no vgtf::Fmt data set");
  const auto spec = Find<vgtf::Spec1_0>(*file);
  const TfView view = ViewOf(*file, tfPath);
  const auto& micPositions = fmt->GetMicPositions();
  if (micPositions.size() != view.mics)
    throw ToolError(tfPath + ": " + std::to_string(micPositions.size()) + " microphone positions for " +
                    std::to_string(view.mics) + " microphones of the transfer functions");
  const int32_t fftLength = fmt->GetFftLength(), samplingRate = fmt->GetSamplingRate();
  if (fftLength <= 0 || samplingRate <= 0)
    throw ToolError(tfPath + ": expected a positive fftLength and samplingRate, found " + std::to_string(fftLength) +
                    " and " + std::to_string(samplingRate));
  const int32_t irLength = fmt->HasIrLength() ? fmt->GetIrLength() : 0;
  const std::string statement = StoredValuesStatement(view.kind, irLength == 0);

  if (texts.title.empty()) texts.title = std::filesystem::path(tfPath).filename().string();
  if (texts.comment.empty()) texts.comment = statement;
  PendingFile pending(sofaPath);
  NcFile nc = NcFile::Create(pending.Path());
  const SofaDims dims = BeginSofa(nc, "GeneralTF", "TF", view.sources, view.mics, view.bins, texts,
                                  CreationDate(tfPath, spec), "vesk2sofa");
  nc.PutText(NC_GLOBAL, "Origin", "transfer-function file " + std::filesystem::path(tfPath).filename().string());
  nc.PutText(NC_GLOBAL, "VeskTFKind", view.kind);
  nc.PutText(NC_GLOBAL, "VeskStoredValues", statement);
  nc.PutInteger(NC_GLOBAL, "VeskFftLength", fftLength);
  nc.PutInteger(NC_GLOBAL, "VeskIrLength", irLength);
  nc.PutInteger(NC_GLOBAL, "VeskSamplingRate", samplingRate);
  if (spec && spec->HasUser()) nc.PutText(NC_GLOBAL, "VeskUser", spec->GetUser());
  DefinePositions(nc, dims);
  const int frequencies = nc.DefineVar("N", NC_DOUBLE, {dims.n});
  nc.PutText(frequencies, "LongName", "frequency");
  nc.PutText(frequencies, "Units", "hertz");
  nc.DefineVar("Data.Real", NC_FLOAT, {dims.m, dims.r, dims.n});
  nc.DefineVar("Data.Imag", NC_FLOAT, {dims.m, dims.r, dims.n});
  nc.EndDefine();

  std::vector<Vec3> mics;
  for (const auto& p : micPositions) mics.push_back({p.x, p.y, p.z});
  PutPositions(nc, mics, view.positions);
  std::vector<double> hz;
  for (uint32_t k : view.binIndices) hz.push_back(static_cast<double>(k) * samplingRate / fftLength);
  nc.PutDoubles("N", {0}, {view.bins}, hz.data());

  // Data.Real, then Data.Imag: the file is written front to back.
  const std::size_t perSource = view.mics * view.bins;
  const std::size_t block = std::max<std::size_t>(1, kBlockValues / perSource);
  std::vector<float> part;
  for (const bool real : {true, false}) {
    for (std::size_t first = 0; first < view.sources; first += block) {
      const std::size_t count = std::min(block, view.sources - first);
      part.resize(count * perSource);
      for (std::size_t row = 0; row < count * view.mics; ++row) {
        const std::vector<vgtf::Complex>& values = *view.rows[first * view.mics + row];
        float* out = part.data() + row * view.bins;
        if (real) for (std::size_t k = 0; k < view.bins; ++k) out[k] = values[k].real();
        else for (std::size_t k = 0; k < view.bins; ++k) out[k] = values[k].imag();
      }
      nc.PutFloats(real ? "Data.Real" : "Data.Imag", {first, 0, 0}, {count, view.mics, view.bins}, part.data());
      if ((first / block) % kWritebackBlocks == kWritebackBlocks - 1) pending.StartWriteback();
    }
  }
  nc.Close();
  pending.Commit();
}

}  // namespace

void ConvertTfFileToSofa(const std::string& tfPath, const std::string& sofaPath, SofaTexts texts) {
  try {
    Convert(tfPath, sofaPath, std::move(texts));
  } catch (const veskio2::NotInitialized& e) {
    throw ToolError(tfPath + ": " + e.what());  // a field the export needs is unset
  }
}

}  // namespace vesksofa
