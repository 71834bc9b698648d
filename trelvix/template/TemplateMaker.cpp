#include "template/TemplateMaker.h"

#include <climits>
#include <cmath>
#include <cstdint>
#include <iostream>
#include <map>
#include <streambuf>
#include <stdexcept>
#include <string>
#include <vector>

#include <boost/format.hpp>
#include <boost/shared_ptr.hpp>

#include "options/validators.h"
#include "template/GridParameters.h"
#include "template/StringVariableImplanter.h"
#include "veskio2/VeskConfig.h"

namespace po = boost::program_options;
using namespace veskio2::veskconfig;

namespace trelvix {

namespace {

const char* const kComment = "created by trelvix";
const char* const kDefaultIRPath = "D{AZIMUTH:%03d}_ch{CHANNEL:%02d}.flt";
const char* const kDefaultTSPPath = "D{AZIMUTH:%03d}_00.wav";

// Largest number of positions, microphones or file entries (positions ×
// files per position, or positions × channels) a template may hold. Far
// above any real measurement grid, it turns a mistyped count (or "-1" read as
// 4294967295) into a clear refusal instead of hours of work and gigabytes.
constexpr uint64_t kMaxTemplateEntries = 10000000;

// A template that the configuration reader could not read back is refused.
constexpr std::size_t kMaxTemplateBytes = VeskConfigFileXMLReader::kMaxFileBytes;

// Passes the document on to `out`, holding back the first bytes, and throws
// before passing on anything once the document would exceed
// kMaxTemplateBytes. The writer hands its body over in one piece, so a
// refused template leaves nothing in the output.
class SizeLimit : public std::streambuf {
public:
  explicit SizeLimit(std::ostream& out) : out_(out) {}
  // Passes on what is held back.
  void Finish() {
    Forward(held_.data(), held_.size());
    held_.clear();
  }

protected:
  int_type overflow(int_type c) override {
    if (traits_type::eq_int_type(c, traits_type::eof())) return traits_type::not_eof(c);
    const char byte = traits_type::to_char_type(c);
    xsputn(&byte, 1);
    return c;
  }
  std::streamsize xsputn(const char* s, std::streamsize n) override {
    const std::size_t size = static_cast<std::size_t>(n);
    if (total_ + size > kMaxTemplateBytes)
      throw std::runtime_error((boost::format("the template would be larger than %1% bytes (1 GiB), the largest "
                                              "configuration file that can be read back; use fewer positions or "
                                              "microphones") %
                                kMaxTemplateBytes)
                                   .str());
    total_ += size;
    if (held_.size() + size <= kHeldBytes) {
      held_.append(s, size);
    } else {
      Finish();
      Forward(s, size);
    }
    return n;
  }

private:
  static constexpr std::size_t kHeldBytes = 1 << 16;
  void Forward(const char* s, std::size_t n) {
    if (n) out_.write(s, static_cast<std::streamsize>(n));
  }
  std::ostream& out_;
  std::string held_;
  std::size_t total_ = 0;
};

const char* VerticalCountName(const GridParameters& g) { return g.use_height ? "numheight" : "numelv"; }

void CheckPositionCount(const GridParameters& g) {
  const uint64_t positions = static_cast<uint64_t>(g.num_azi) * g.num_vertical;
  if (positions > kMaxTemplateEntries)
    throw std::runtime_error((boost::format("too many positions: numazi %1% x %2% %3% = %4% exceeds the limit of %5%") %
                              g.num_azi % VerticalCountName(g) % g.num_vertical % positions % kMaxTemplateEntries)
                                 .str());
}

// For the list files: positions × entries per position (files or channels).
void CheckEntryCount(const GridParameters& g, const char* what) {
  if (g.num_mic > kMaxTemplateEntries)
    throw std::runtime_error(
        (boost::format("nummic %1% exceeds the limit of %2%") % g.num_mic % kMaxTemplateEntries).str());
  CheckPositionCount(g);
  const uint64_t entries = static_cast<uint64_t>(g.num_azi) * g.num_vertical * g.num_mic;
  if (entries > kMaxTemplateEntries)
    throw std::runtime_error((boost::format("too many %1%: %2% positions x nummic %3% = %4% exceeds the limit of %5%") %
                              what % (static_cast<uint64_t>(g.num_azi) * g.num_vertical) % g.num_mic % entries %
                              kMaxTemplateEntries)
                                 .str());
}

// The list files keep cut points as signed ints; larger values would wrap.
int CutIndex(unsigned int value, const char* option) {
  if (value > static_cast<unsigned int>(INT_MAX))
    throw std::runtime_error((boost::format("%1% %2% is too large (at most %3%)") % option % value % INT_MAX).str());
  return static_cast<int>(value);
}

// Whole millimetres from metres, halves away from zero.
double Millimetres(double metres) { return std::round(metres * 1000); }

}  // namespace

class TemplateMaker::Impl {
public:
  Impl(const po::variables_map& vm, OutputStream out) : vm_(vm), out_(std::move(out)) {}

  bool Run();

private:
  boost::shared_ptr<MicArrayLocationFile2_0> MakeMicTemplate() const;
  boost::shared_ptr<NoiseLocationFile2_0> MakeNoiseTemplate() const;
  boost::shared_ptr<ImpulseResponseListFile2_0> MakeIRTemplate() const;
  boost::shared_ptr<TSPListFile2_0> MakeTSPTemplate() const;

  // mic-channels as given, else 0 … count − 1.
  std::vector<unsigned int> GetMicChannels(unsigned int count) const;
  // AZIMUTH, ELEVATION (degrees), HEIGHT and RADIUS (millimetres) of the
  // grid's current axis values.
  static void SetPathVariables(StringVariableImplanter& implanter, const GridParameters& g);
  // Source elements of the grid walk, azimuth outermost; `addFiles` fills
  // each one's files after the path variables were set.
  template <typename AddFiles>
  std::vector<Source2> MakeSources(GridParameters& g, AddFiles addFiles) const;

  const po::variables_map& vm_;
  OutputStream out_;
};

TemplateMaker::TemplateMaker(const po::variables_map& vm, OutputStream out)
    : impl_(std::make_shared<Impl>(vm, std::move(out))) {}

bool TemplateMaker::Run() { return impl_->Run(); }

bool TemplateMaker::Impl::Run() {
  if (vm_.count("output-format") && vm_["output-format"].as<OutputFormat>() != OutputFormat::XML) {
    std::cerr << "unsupported output format in template mode" << std::endl;
    return false;
  }
  SizeLimit limit(*out_);
  std::ostream limited(&limit);
  limited.exceptions(std::ios::badbit);  // the refusal reaches the caller
  VeskConfigFileXMLWriter writer(limited);
  if (!vm_.count("output-type")) {
    std::cerr << "in template mode, output type must be specified" << std::endl;
    return false;
  }
  boost::shared_ptr<VeskConfigFile> file;
  try {
    switch (vm_["output-type"].as<OutputType>()) {
      case OutputType::MIC:
        file = MakeMicTemplate();
        break;
      case OutputType::NOISE:
        file = MakeNoiseTemplate();
        break;
      case OutputType::IR:
        file = MakeIRTemplate();
        break;
      case OutputType::TSP:
        file = MakeTSPTemplate();
        break;
      default:
        throw std::runtime_error("invalid output type for making template");
    }
  } catch (const std::exception& e) {
    std::cerr << e.what() << std::endl;
    return false;
  }
  writer.Write(file);
  limit.Finish();
  return true;
}

std::vector<unsigned int> TemplateMaker::Impl::GetMicChannels(unsigned int count) const {
  if (vm_.count("mic-channels")) return vm_["mic-channels"].as<CommaSeparatedOption<unsigned int>>().values;
  std::vector<unsigned int> channels(count);
  for (unsigned int ch = 0; ch < count; ++ch) channels[ch] = ch;
  return channels;
}

void TemplateMaker::Impl::SetPathVariables(StringVariableImplanter& implanter, const GridParameters& g) {
  implanter.variables["AZIMUTH"] = g.azimuth.Value();
  implanter.variables["ELEVATION"] = g.elevation.Value();
  implanter.variables["HEIGHT"] = Millimetres(g.height.Value());
  implanter.variables["RADIUS"] = Millimetres(g.radius);
}

boost::shared_ptr<MicArrayLocationFile2_0> TemplateMaker::Impl::MakeMicTemplate() const {
  GridParameters g = ReadGridParameters(vm_);
  // Without nummic, a given numazi sets the count: one microphone per position.
  uint64_t count = g.num_mic;
  if (vm_["nummic"].defaulted() && !vm_["numazi"].defaulted())
    count = static_cast<uint64_t>(g.num_azi) * g.num_vertical;
  if (count > kMaxTemplateEntries)
    throw std::runtime_error(
        (boost::format("too many microphones: %1% exceeds the limit of %2%") % count % kMaxTemplateEntries).str());
  const unsigned int n = static_cast<unsigned int>(count);

  const std::vector<unsigned int> channels = GetMicChannels(n);
  if (channels.size() > n) throw std::runtime_error("the mic-channels' size > nummic");
  for (unsigned int ch : channels) {
    if (ch >= n)
      throw std::runtime_error(
          (boost::format("mic-channels entry %1% is not below the number of microphones, %2%") % ch % n).str());
  }
  // The walk below only ends when every azimuth step adds a microphone.
  if (n > 0 && g.num_vertical == 0)
    throw std::runtime_error(
        (boost::format("cannot place %1% microphones on a grid with %2% 0") % n % VerticalCountName(g)).str());
  if (n > 0 && g.num_azi == 0)
    throw std::runtime_error((boost::format("cannot place %1% microphones on a grid with numazi 0") % n).str());

  // Azimuth steps continue (and wrap) past numazi until n microphones exist.
  std::vector<Mic1> grid;
  grid.reserve(n);
  while (grid.size() < n) {
    g.height.Reset();
    g.elevation.Reset();
    for (unsigned int vert = 0; vert < g.num_vertical && grid.size() < n; ++vert) {
      Mic1 mic;
      mic.SetMicIndex(static_cast<unsigned int>(grid.size()));
      mic.SetPosition(MakePosition(g.use_height, g.azimuth.Value(), g.height.Value(), g.elevation.Value(), g.radius));
      grid.push_back(mic);
      g.height.Next();
      g.elevation.Next();
    }
    g.azimuth.Next();
  }

  std::vector<Mic1> mics;
  mics.reserve(channels.size());
  for (unsigned int ch : channels) {
    const Mic1& gridMic = grid[ch];
    const veskio2::Position<float>& position = gridMic.GetPosition();
    Mic1 mic;
    mic.SetMicIndex(gridMic.GetMicIndex());
    mic.SetPosition(veskio2::MakePositionFromVector(position.GetDirection() * position.GetDistance()));
    mics.push_back(mic);
  }

  auto file = boost::shared_ptr<MicArrayLocationFile2_0>(new MicArrayLocationFile2_0);
  file->SetMics(mics);
  file->SetComment(kComment);
  return file;
}

boost::shared_ptr<NoiseLocationFile2_0> TemplateMaker::Impl::MakeNoiseTemplate() const {
  GridParameters g = ReadGridParameters(vm_);
  CheckPositionCount(g);
  std::vector<NoiseSource1> sources;
  sources.reserve(static_cast<size_t>(g.num_azi) * g.num_vertical);
  for (unsigned int azi = 0; azi < g.num_azi; ++azi) {
    g.height.Reset();
    g.elevation.Reset();
    for (unsigned int vert = 0; vert < g.num_vertical; ++vert) {
      NoiseSource1 source;
      source.SetIndex(azi);
      source.SetPosition(
          MakePosition(g.use_height, g.azimuth.Value(), g.height.Value(), g.elevation.Value(), g.radius));
      sources.push_back(source);
      g.height.Next();
      g.elevation.Next();
    }
    g.azimuth.Next();
  }
  auto file = boost::shared_ptr<NoiseLocationFile2_0>(new NoiseLocationFile2_0);
  file->SetNoiseSources(sources);
  file->SetComment(kComment);
  return file;
}

namespace {

// Tells on standard error when the path template gives two different
// positions (or two channels of one) the same file name, naming the first
// clash and the variable that would tell them apart. The document is
// written as it is.
void WarnSharedNames(const std::vector<Source2>& sources, const GridParameters& g, const std::string& path) {
  std::map<std::string, std::size_t> firstSource;
  std::size_t entries = 0, clashes = 0, a = 0, b = 0;
  std::string name;
  for (std::size_t src = 0; src < sources.size(); ++src) {
    for (const File1& file : sources[src].GetFiles()) {
      ++entries;
      const std::string here = file.GetName().raw();
      const auto found = firstSource.emplace(here, src);
      if (found.second) continue;
      if (clashes++ == 0) {
        a = found.first->second;
        b = src;
        name = here;
      }
    }
  }
  if (clashes == 0) return;
  const unsigned int vertical = g.num_vertical ? g.num_vertical : 1;
  std::string variable;
  if (a == b)
    variable = "{CHANNEL:%02d}";
  else if (a / vertical == b / vertical)
    variable = g.use_height ? "{HEIGHT:%d}" : "{ELEVATION:%d}";
  else
    variable = "{AZIMUTH:%03d}";
  std::cerr << "warning: the path template \"" << path << "\" gives " << entries << " files only " << firstSource.size()
            << " names: " << name
            << (a == b ? " is named twice in source " + std::to_string(a)
                       : " stands for source " + std::to_string(a) + " and source " + std::to_string(b))
            << "; add " << variable << " to --filepath so that each file gets its own name" << std::endl;
}

}  // namespace

template <typename AddFiles>
std::vector<Source2> TemplateMaker::Impl::MakeSources(GridParameters& g, AddFiles addFiles) const {
  const int cutStart = CutIndex(g.cut_start, "cut-start");
  const int cutEnd = CutIndex(g.cut_end, "cut-end");
  StringVariableImplanter implanter;
  std::vector<Source2> sources;
  sources.reserve(static_cast<size_t>(g.num_azi) * g.num_vertical);
  for (unsigned int azi = 0; azi < g.num_azi; ++azi) {
    g.height.Reset();
    g.elevation.Reset();
    for (unsigned int vert = 0; vert < g.num_vertical; ++vert) {
      Source2 source;
      source.SetPosition(
          MakePosition(g.use_height, g.azimuth.Value(), g.height.Value(), g.elevation.Value(), g.radius));
      SetPathVariables(implanter, g);
      source.SetFiles(addFiles(implanter));
      source.SetCutStart(cutStart);
      source.SetCutEnd(cutEnd);
      sources.push_back(source);
      g.height.Next();
      g.elevation.Next();
    }
    g.azimuth.Next();
  }
  return sources;
}

boost::shared_ptr<ImpulseResponseListFile2_0> TemplateMaker::Impl::MakeIRTemplate() const {
  GridParameters g = ReadGridParameters(vm_);
  CheckEntryCount(g, "files");
  const std::vector<unsigned int> channels = GetMicChannels(g.num_mic);
  if (channels.size() != g.num_mic) throw std::runtime_error("the mic-channels' size != nummic");
  const std::string path = vm_.count("filepath") ? vm_["filepath"].as<std::string>() : std::string(kDefaultIRPath);

  // One file per channel, each holding that channel's impulse response.
  const auto addFiles = [&](StringVariableImplanter& implanter) {
    std::vector<File1> files;
    files.reserve(channels.size());
    for (unsigned int ch : channels) {
      implanter.variables["CHANNEL"] = ch;
      std::string name = path;
      implanter.Implant(name, false);
      File1 file;
      file.SetName(name);
      file.SetMicIndices(std::vector<unsigned int>{ch});
      files.push_back(file);
    }
    return files;
  };
  const std::vector<Source2> sources = MakeSources(g, addFiles);
  WarnSharedNames(sources, g, path);

  auto file = boost::shared_ptr<ImpulseResponseListFile2_0>(new ImpulseResponseListFile2_0);
  file->SetNumMic(g.num_mic);
  file->SetNumInner(1);
  file->SetSources(sources);
  file->SetComment(kComment);
  return file;
}

boost::shared_ptr<TSPListFile2_0> TemplateMaker::Impl::MakeTSPTemplate() const {
  GridParameters g = ReadGridParameters(vm_);
  const unsigned int synchronousAverage = vm_["synchronous-average"].as<unsigned int>();
  const unsigned int tspOffset = vm_["tsp-offset"].as<unsigned int>();
  const unsigned int tspLength = vm_["tsp-length"].as<unsigned int>();
  const unsigned int signalMax = vm_["signal-max"].as<unsigned int>();
  const std::string originalImpulseFile = vm_["original-impulse-file"].as<std::string>();

  CheckEntryCount(g, "channel entries");
  const std::vector<unsigned int> channels = GetMicChannels(g.num_mic);
  if (channels.size() != g.num_mic) throw std::runtime_error("the mic-channels' size != nummic");
  const std::string path = vm_.count("filepath") ? vm_["filepath"].as<std::string>() : std::string(kDefaultTSPPath);

  // One recording per position, holding every channel.
  const auto addFiles = [&](StringVariableImplanter& implanter) {
    std::string name = path;
    implanter.Implant(name, false);
    File1 file;
    file.SetName(name);
    file.SetMicIndices(channels);
    return std::vector<File1>{file};
  };
  const std::vector<Source2> sources = MakeSources(g, addFiles);
  WarnSharedNames(sources, g, path);

  OriginalImpulseFile origin;
  origin.name = originalImpulseFile;
  origin.kind = originalImpulseFile.find(".wav") != std::string::npos ? OriginalImpulseFile::PCM_WAVE
                                                                      : OriginalImpulseFile::RAW_FLOAT;

  auto file = boost::shared_ptr<TSPListFile2_0>(new TSPListFile2_0);
  file->SetSynchronousAverage(synchronousAverage);
  file->SetTspOffset(tspOffset);
  file->SetTspLength(tspLength);
  file->SetSignalMax(signalMax);
  file->SetNumMic(g.num_mic);
  file->SetNumInner(1);
  file->SetOriginalImpulseFile(origin);
  file->SetSources(sources);
  file->SetComment(kComment);
  return file;
}

}  // namespace trelvix
