#include "TfFileToSofa.h"

#include <netcdf.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <optional>

#include "PendingOutput.h"
#include "ToolError.h"
#include "veskio2/Vesk.h"
#include "veskio2/RegularFile.h"

namespace vesksofa {

using vesktools::ToolError;
namespace vgtf = veskio2::vesk::vgtf;
using FieldType = veskio2::vesk::VeskFileVisitor::ValueType;

namespace {

// Complex values per block of sources written at once (4 MiB per part).
constexpr std::size_t kBlockValues = std::size_t(1) << 20;
// Blocks between writeback requests (64 MiB of file).
constexpr std::size_t kWritebackBlocks = 8;

// The first data set of one kind, as the header pass found it.
struct FmtFields {
  std::optional<int32_t> fftLength, irLength, samplingRate;
  std::optional<std::vector<Vec3>> micPositions;
};

struct SpecFields {
  std::optional<std::string> date, user;
};

struct TfFields {
  std::size_t ordinal = 0;                     // among the data sets the reader reports
  std::optional<std::vector<Vec3>> positions;  // an m2pg file's [source][inner] flattened
  std::optional<std::vector<uint32_t>> binIndices;
  std::optional<std::vector<uint64_t>> tfDims;
};

// Everything of a TF file but its transfer-function values, which it skips
// unread. The first data set of each kind counts, the others are ignored.
class HeaderPass : public veskio2::vesk::VeskFileVisitor {
public:
  std::optional<FmtFields> fmt;
  std::optional<SpecFields> spec;
  std::optional<TfFields> gtf, m2pg;

  void BeginDataSet(const std::string& id, const veskio2::Version&) override {
    fmt_ = nullptr;
    spec_ = nullptr;
    tf_ = nullptr;
    if (id == "vgtf::Fmt" && !fmt)
      fmt_ = &fmt.emplace();
    else if (id == "vgtf::Spec" && !spec)
      spec_ = &spec.emplace();
    else if (id == "vgtf::GTF" && !gtf)
      tf_ = &gtf.emplace();
    else if (id == "vgtf::M2PG" && !m2pg)
      tf_ = &m2pg.emplace();
    if (tf_) tf_->ordinal = ordinal_;
    ++ordinal_;
  }
  void EndDataSet() override {}

  void Int(const char* field, int32_t value) override {
    if (!fmt_) return;
    const std::string f = field;
    if (f == "fftLength")
      fmt_->fftLength = value;
    else if (f == "irLength")
      fmt_->irLength = value;
    else if (f == "samplingRate")
      fmt_->samplingRate = value;
  }

  void Text(const char* field, const Glib::ustring& value) override {
    if (!spec_) return;
    const std::string f = field;
    if (f == "date")
      spec_->date = value.raw();
    else if (f == "user")
      spec_->user = value.raw();
  }

  bool BeginArray(const char* field, FieldType, const std::vector<uint64_t>& dims) override {
    const std::string f = field;
    vec3_ = nullptr;
    u32_ = nullptr;
    if (fmt_ && f == "micPositions")
      vec3_ = &fmt_->micPositions.emplace();
    else if (tf_ && f == "positions")
      vec3_ = &tf_->positions.emplace();
    else if (tf_ && f == "binIndices")
      u32_ = &tf_->binIndices.emplace();
    else if (tf_ && f == "tf")
      tf_->tfDims = dims;
    return vec3_ || u32_;
  }

  void Values(const veskio2::Vector3<float>* values, std::size_t count) override {
    for (std::size_t i = 0; i < count; ++i) vec3_->push_back({values[i].x, values[i].y, values[i].z});
  }
  void Values(const uint32_t* values, std::size_t count) override { u32_->insert(u32_->end(), values, values + count); }
  void EndArray() override {}

private:
  std::size_t ordinal_ = 0;
  FmtFields* fmt_ = nullptr;
  SpecFields* spec_ = nullptr;
  TfFields* tf_ = nullptr;
  std::vector<Vec3>* vec3_ = nullptr;
  std::vector<uint32_t>* u32_ = nullptr;
};

// The chosen data set's transfer functions, in blocks of whole sources,
// into Data.Real and Data.Imag.
class ValuesPass : public veskio2::vesk::VeskFileVisitor {
public:
  ValuesPass(const std::string& tfPath, NcFile& nc, const PendingFile& pending, std::size_t ordinal,
             std::vector<uint64_t> dims, std::size_t sources, std::size_t mics, std::size_t bins)
      : tfPath_(tfPath),
        nc_(nc),
        pending_(pending),
        ordinal_(ordinal),
        dims_(std::move(dims)),
        mics_(mics),
        bins_(bins),
        perSource_(mics * bins),
        real_(std::min(std::max<std::size_t>(1, kBlockValues / perSource_), sources) * perSource_),
        imag_(real_.size()) {}

  // Sources written; all of them once the file was read whole.
  std::size_t Written() const { return first_; }

  void BeginDataSet(const std::string&, const veskio2::Version&) override { inside_ = seen_++ == ordinal_; }
  void EndDataSet() override { inside_ = false; }
  void Int(const char*, int32_t) override {}
  void Text(const char*, const Glib::ustring&) override {}

  bool BeginArray(const char* field, FieldType, const std::vector<uint64_t>& dims) override {
    if (!inside_ || std::string(field) != "tf") return false;
    if (dims != dims_) throw ToolError(tfPath_ + ": changed while it was read");
    return true;
  }

  void Values(const vgtf::Complex* values, std::size_t count) override {
    while (count > 0) {
      const std::size_t take = std::min(count, real_.size() - filled_);
      for (std::size_t i = 0; i < take; ++i) {
        real_[filled_ + i] = values[i].real();
        imag_[filled_ + i] = values[i].imag();
      }
      filled_ += take;
      values += take;
      count -= take;
      if (filled_ == real_.size()) Flush();
    }
  }

  void EndArray() override {
    if (inside_ && filled_ > 0) Flush();
  }

private:
  void Flush() {
    const std::size_t count = filled_ / perSource_;
    nc_.PutFloats("Data.Real", {first_, 0, 0}, {count, mics_, bins_}, real_.data());
    nc_.PutFloats("Data.Imag", {first_, 0, 0}, {count, mics_, bins_}, imag_.data());
    first_ += count;
    filled_ = 0;
    if (++blocks_ % kWritebackBlocks == 0) pending_.StartWriteback();
  }

  const std::string& tfPath_;
  NcFile& nc_;
  const PendingFile& pending_;
  const std::size_t ordinal_;
  const std::vector<uint64_t> dims_;
  const std::size_t mics_, bins_, perSource_;
  std::vector<float> real_, imag_;
  std::size_t filled_ = 0, first_ = 0, blocks_ = 0, seen_ = 0;
  bool inside_ = false;
};

void VisitFile(const std::string& tfPath, veskio2::vesk::VeskFileVisitor& visitor) {
  std::ifstream in(tfPath, std::ios::binary);
  if (!in) throw ToolError(tfPath + ": cannot open");
  try {
    veskio2::vesk::VeskFileBinaryReader(in).Visit(visitor);
  } catch (const veskio2::InvalidVeskFile& e) {
    throw ToolError(tfPath + ": " + e.what());
  }
}

template <typename T>
const T& Need(const std::optional<T>& value, const std::string& tfPath, const char* set, const char* field) {
  if (!value) throw ToolError(tfPath + ": " + set + " sets no " + field);
  return *value;
}

// The TF file's own date ("YYYY/MM/DD") as a SOFA date, else its modification time.
std::string CreationDate(const std::string& tfPath, const std::optional<SpecFields>& spec) {
  if (spec && spec->date) {
    const std::string& d = *spec->date;
    if (d.size() == 10 && d[4] == '/' && d[7] == '/' &&
        std::all_of(d.begin(), d.end(), [](char c) { return c == '/' || (c >= '0' && c <= '9'); }))
      return d.substr(0, 4) + "-" + d.substr(5, 2) + "-" + d.substr(8, 2) + " 00:00:00";
  }
  struct stat st;
  if (::stat(tfPath.c_str(), &st) == 0) return SofaDate(static_cast<long long>(st.st_mtime));
  return SofaDate(0);
}

}  // namespace

std::string StoredValuesStatement(const std::string& kind, bool geometric) {
  const std::string dft = "X[k] = sum over n = 0 .. nfft-1 of x[n] exp(-i 2 pi k n / nfft) (unscaled)";
  if (geometric) {
    return kind +
           " made from positions alone (VeskIrLength 0): H[k] = exp(-i 2 pi k (d - o) / nfft), a pure delay of "
           "d = distance * VeskSamplingRate / 343 samples less a per-source offset o; unit magnitude, no level "
           "decay with distance" +
           std::string(kind == "gtf" ? "; stored conjugated: Data.Real + i Data.Imag = conj(H[k])"
                                     : "; stored as H[k]");
  }
  if (kind == "gtf") {
    return "gtf: Data.Real + i Data.Imag = conj(X[k]), " + dft +
           ", of the nfft samples of each impulse response "
           "from its source's cutStart, every response of a source first divided by that source's total energy "
           "(the sum of squares over all its microphones and samples); then scaled to unit energy along sources, "
           "microphones and/or frequency if the file was made with --normalize-src, --normalize-mic or "
           "--normalize-freq (the file does not record which); the bin at nfft/2 set to 0. The physical transfer "
           "function is conj of the stored value, up to that scaling.";
  }
  return "m2pg: Data.Real + i Data.Imag = X[k], " + dft +
         ", of the window trelvix cut from each impulse response: "
         "nfft samples from the source's cutStart, set to 0 after cutEnd samples or, with cutEnd 0, after "
         "direct-length samples past the first largest peak; not conjugated, not normalised; the phase refers to "
         "the window's first sample, not to the emission.";
}

void ConvertTfFileToSofa(const std::string& tfPath, const std::string& sofaPath, SofaTexts texts) {
  // Read twice: the header, checking the whole file, then the values.
  if (veskio2::ExistsButNotRegular(tfPath))
    throw ToolError(tfPath + ": " + veskio2::kNotRegularFile + " (it is read twice: header, then values)");
  HeaderPass header;
  VisitFile(tfPath, header);
  if (!header.fmt) throw ToolError(tfPath + ": holds no vgtf::Fmt data set");
  const FmtFields& fmt = *header.fmt;
  const TfFields* tf = header.gtf ? &*header.gtf : header.m2pg ? &*header.m2pg : nullptr;
  if (!tf) throw ToolError(tfPath + ": holds no transfer functions (no vgtf::GTF or vgtf::M2PG data set)");
  const std::string kind = header.gtf ? "gtf" : "m2pg";
  const char* const set = header.gtf ? "vgtf::GTF" : "vgtf::M2PG";
  const std::vector<uint64_t>& dims = Need(tf->tfDims, tfPath, set, "tf");
  const std::vector<Vec3>& positions = Need(tf->positions, tfPath, set, "positions");
  // gtf: [source][mic][bin]; m2pg: [source][inner][mic][bin], a source per inner entry.
  const bool inner = kind == "m2pg";
  const std::size_t sources = inner ? dims[0] * dims[1] : dims[0];
  const std::size_t mics = dims[inner ? 2 : 1], bins = dims[inner ? 3 : 2];
  if (sources == 0 || mics == 0 || bins == 0)
    throw ToolError(tfPath + ": holds no transfer functions (" + std::to_string(sources) + " sources, " +
                    std::to_string(mics) + " microphones, " + std::to_string(bins) + " bins)");
  if (positions.size() != sources)
    throw ToolError(tfPath + ": " + std::to_string(positions.size()) + " positions for " + std::to_string(sources) +
                    " sources");
  std::vector<uint32_t> binIndices = tf->binIndices.value_or(std::vector<uint32_t>());
  if (binIndices.empty())
    for (uint32_t k = 0; k < bins; ++k) binIndices.push_back(k);
  if (binIndices.size() != bins)
    throw ToolError(tfPath + ": " + std::to_string(binIndices.size()) + " bin indices for " + std::to_string(bins) +
                    " bins");
  const std::vector<Vec3>& micPositions = Need(fmt.micPositions, tfPath, "vgtf::Fmt", "micPositions");
  if (micPositions.size() != mics)
    throw ToolError(tfPath + ": " + std::to_string(micPositions.size()) + " microphone positions for " +
                    std::to_string(mics) + " microphones of the transfer functions");
  const int32_t fftLength = Need(fmt.fftLength, tfPath, "vgtf::Fmt", "fftLength");
  const int32_t samplingRate = Need(fmt.samplingRate, tfPath, "vgtf::Fmt", "samplingRate");
  if (fftLength <= 0 || samplingRate <= 0)
    throw ToolError(tfPath + ": expected a positive fftLength and samplingRate, found " + std::to_string(fftLength) +
                    " and " + std::to_string(samplingRate));
  const int32_t irLength = fmt.irLength.value_or(0);
  const std::string statement = StoredValuesStatement(kind, irLength == 0);

  if (texts.title.empty()) texts.title = std::filesystem::path(tfPath).filename().string();
  if (texts.comment.empty()) texts.comment = statement;
  PendingFile pending(sofaPath);
  NcFile nc = NcFile::Create(pending.Path(), sofaPath);
  const SofaDims sofaDims =
      BeginSofa(nc, "GeneralTF", "TF", sources, mics, bins, texts, CreationDate(tfPath, header.spec), "vesk2sofa");
  nc.PutText(NC_GLOBAL, "Origin", "transfer-function file " + std::filesystem::path(tfPath).filename().string());
  nc.PutText(NC_GLOBAL, "VeskTFKind", kind);
  nc.PutText(NC_GLOBAL, "VeskStoredValues", statement);
  nc.PutInteger(NC_GLOBAL, "VeskFftLength", fftLength);
  nc.PutInteger(NC_GLOBAL, "VeskIrLength", irLength);
  nc.PutInteger(NC_GLOBAL, "VeskSamplingRate", samplingRate);
  if (header.spec && header.spec->user) nc.PutText(NC_GLOBAL, "VeskUser", *header.spec->user);
  DefinePositions(nc, sofaDims);
  const int frequencies = nc.DefineVar("N", NC_DOUBLE, {sofaDims.n});
  nc.PutText(frequencies, "LongName", "frequency");
  nc.PutText(frequencies, "Units", "hertz");
  nc.DefineVar("Data.Real", NC_FLOAT, {sofaDims.m, sofaDims.r, sofaDims.n});
  nc.DefineVar("Data.Imag", NC_FLOAT, {sofaDims.m, sofaDims.r, sofaDims.n});
  nc.EndDefine();

  PutPositions(nc, micPositions, positions);
  std::vector<double> hz;
  for (uint32_t k : binIndices) hz.push_back(static_cast<double>(k) * samplingRate / fftLength);
  nc.PutDoubles("N", {0}, {bins}, hz.data());

  ValuesPass values(tfPath, nc, pending, tf->ordinal, dims, sources, mics, bins);
  VisitFile(tfPath, values);
  if (values.Written() != sources) throw ToolError(tfPath + ": changed while it was read");
  nc.Close();
  pending.Commit();
}

}  // namespace vesksofa
