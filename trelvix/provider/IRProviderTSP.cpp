#include "provider/IRProviderTSP.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <map>
#include <memory>
#include <set>
#include <stdexcept>

#include <boost/filesystem.hpp>
#include <boost/format.hpp>

#include "base/ShellCommand.h"
#include "dravik/Invocation.h"
#include "provider/CheckConfigFile.h"
#include "provider/DravikRuns.h"
#include "provider/MicIndexTable.h"
#include "provider/WaveFileChecks.h"
#include "veskio2/FltFile.h"

namespace fs = boost::filesystem;

namespace trelvix {

using veskio2::Version;
using veskio2::veskconfig::OriginalImpulseFile;
using veskio2::veskconfig::TSPListFile;
using veskio2::veskconfig::TSPListFile2_0;

namespace {

// Wraps `text` in double quotes so that sh passes it on literally: inside
// double quotes only ", $, ` and \ are special, and a newline is literal.
std::string ShellQuote(const std::string& text) {
  std::string quoted = "\"";
  for (char c : text) {
    if (c == '"' || c == '$' || c == '`' || c == '\\') quoted += '\\';
    quoted += c;
  }
  return quoted + "\"";
}

// The program needs no quotes when it is a plain name or path.
std::string ShellProgram(const std::string& program) {
  for (unsigned char c : program) {
    if (!(std::isalnum(c) || c == '/' || c == '.' || c == '_' || c == '-' || c == '+')) {
      return ShellQuote(program);
    }
  }
  return program;
}

// Escapes a path component so that the mapping stays one-to-one.
std::string EscapeComponent(const std::string& component) {
  std::string escaped;
  for (char c : component) {
    if (c == '%')
      escaped += "%25";
    else
      escaped += c;
  }
  return escaped == ".." ? "%2E%2E" : escaped;
}

}  // namespace

std::string LocateDravik() {
  boost::system::error_code ec;
  const fs::path self = fs::read_symlink("/proc/self/exe", ec);
  if (!ec) {
    const fs::path beside = self.parent_path() / "dravik";
    if (fs::is_regular_file(beside, ec) && ::access(beside.c_str(), X_OK) == 0) {
      return beside.string();
    }
  }
  return "dravik";
}

std::string WaveWorkDirectory(const std::string& wave) {
  const fs::path given(wave);
  fs::path mapped;
  // An absolute name gets its own top-level component, so it cannot meet a
  // relative name with the same components.
  if (given.has_root_directory()) mapped /= "%2F";
  for (const fs::path& part : given.relative_path()) {
    const std::string text = part.string();
    if (text.empty() || text == "." || text == "/") continue;
    mapped /= EscapeComponent(text);
  }
  if (mapped.empty()) mapped = "%2E";  // "" or "." name no file; keep a place for it
  return mapped.string();
}

boost::shared_ptr<std::vector<unsigned int>> GetMicIndicesFromTSPList(const boost::shared_ptr<TSPListFile2_0>& list) {
  const auto& sources = list->GetSources();
  for (std::size_t src = 0; src < sources.size(); ++src) {
    const auto& source = sources[src];
    // A source without a usable first file is passed over.
    try {
      const auto& indices = source.GetFiles().at(0).GetMicIndices();
      if (source.GetFiles().size() > 1)
        std::cerr << "source " << src << " names " << source.GetFiles().size()
                  << " files: each source takes one recording of every microphone, whose micIndices list the "
                     "recording channels; only the first file's are compared with the array"
                  << std::endl;
      return boost::shared_ptr<std::vector<unsigned int>>(new std::vector<unsigned int>(indices));
    } catch (...) {
    }
  }
  throw std::runtime_error("no mic index found in <file> tag");
}

class IRProviderTSP::Impl {
public:
  boost::shared_ptr<TSPListFile> tsp_;
  std::string temporaryDirectory;
  DravikInvocation dravik;
  std::set<std::string> processedWaves;  // work directories dravik already ran for
  // Filled while a run is prepared, also ahead of its turn.
  mutable std::map<std::string, std::string> unopened;  // work directory -> why its files could not be opened
  // Look-ahead (jobs > 1): the distinct waves in the order the computation
  // asks for them, keyed by work directory, and the runs started ahead.
  struct PlannedWave {
    std::string key, wave;
    std::vector<unsigned int> micIndices;
  };
  std::vector<PlannedWave> plan;
  std::map<std::string, std::size_t> planIndex;
  bool planned = false;
  std::unique_ptr<DravikRuns> runs;

  const TSPListFile2_0& List() const {
    if (!(tsp_->GetVersion() == Version(2, 0))) throw std::runtime_error("not implemented");
    return dynamic_cast<const TSPListFile2_0&>(*tsp_);
  }

  std::ostream& Report() const { return dravik.reportToStderr ? std::cerr : std::cout; }
  std::size_t NumMics() const;
  void Plan();
  void RunAhead(const std::string& key, const std::string& wave, const std::vector<unsigned int>& micIndices);
  // Starts the planned runs after `key` until `jobs` are in flight.
  void TopUp(const std::string& key);
  // Everything before one wave's dravik run: the "creating directory: "
  // line, the directory, the command and the "Dravik: " line, written into
  // `say`. Throws as that wave fails.
  PreparedDravikRun PrepareRun(const std::string& wave, const std::vector<unsigned int>& micIndices,
                               DravikTranscript& say) const;
  std::string DravikCommand(const OriginalImpulseFile& origin, unsigned signalMax, unsigned syncAverage,
                            unsigned tspOffset, const std::vector<unsigned int>& micIndices, const std::string& wave,
                            const std::string& outputHead) const;
  void ReportStatus(int status) const;

  static std::string MakeTemporaryDirectory(unsigned attempts);
  bool CalculateImpulseFiles(const std::string& wave, unsigned tspOffset, unsigned syncAverage, unsigned signalMax,
                             const OriginalImpulseFile& origin, const std::vector<unsigned int>& micIndices);
  // Runs dravik for the wave that covers the microphone (once per wave) and
  // names the output that holds its impulse response.
  std::string PrepareIRFile(std::size_t src, std::size_t mic);
  // Writes why the files of the wave that `fltName` comes from could not be
  // opened, when they could not.
  void ReportUnopened(const std::string& fltName) const;
  std::string MakeOutputHead(const std::string& wave) const {
    return (fs::path(temporaryDirectory) / WaveWorkDirectory(wave) / "float").string();
  }
};

std::string IRProviderTSP::Impl::MakeTemporaryDirectory(unsigned attempts) {
  const fs::path base = fs::temp_directory_path();
  // A drawn name that exists already belongs to someone else: draw again.
  for (unsigned attempt = 0; attempt < attempts; ++attempt) {
    const fs::path path = base / fs::unique_path("%%%%-%%%%-%%%%-%%%%");
    boost::system::error_code ec;
    if (fs::create_directory(path, ec)) return path.string();
    if (ec && ec.value() != EEXIST) {
      throw fs::filesystem_error("cannot create a temporary directory", path, ec);
    }
  }
  throw std::runtime_error("couldn't create a temporary directory");
}

bool IRProviderTSP::Impl::CalculateImpulseFiles(const std::string& wave, unsigned /*tspOffset*/,
                                                unsigned /*syncAverage*/, unsigned /*signalMax*/,
                                                const OriginalImpulseFile& /*origin*/,
                                                const std::vector<unsigned int>& micIndices) {
  // The list settings are read again by PrepareRun, which also serves the
  // runs started ahead.
  const std::string key = (fs::path(temporaryDirectory) / WaveWorkDirectory(wave)).string();
  // dravik runs once per wave file, even when it failed.
  if (!processedWaves.insert(key).second) return false;
  if (dravik.jobs <= 1) {
    DravikTranscript live(true);
    const PreparedDravikRun run = PrepareRun(wave, micIndices, live);
    std::cout.flush();
    std::cerr.flush();
    ReportStatus(vesk::RunShellCommand(run.command));
    return true;
  }
  RunAhead(key, wave, micIndices);
  // The moment the run ends, the next ones start: they work while this
  // wave's responses are read and transformed.
  ReportStatus(runs->Finish(key, [&] { TopUp(key); }));
  return true;
}

PreparedDravikRun IRProviderTSP::Impl::PrepareRun(const std::string& wave, const std::vector<unsigned int>& micIndices,
                                                  DravikTranscript& say) const {
  const TSPListFile2_0& list = List();
  const fs::path dir = fs::path(temporaryDirectory) / WaveWorkDirectory(wave);
  say.Err() << "creating directory: " << dir.string() << std::endl;
  boost::system::error_code ec;
  fs::create_directories(dir, ec);
  if (ec) throw std::runtime_error("cannot create directory " + dir.string() + ": " + ec.message());
  const std::string unopenable =
      CheckRecordingAndOrigin(wave, micIndices, dravik.samplingFreqHz, list.GetOriginalImpulseFile());
  if (!unopenable.empty()) unopened[dir.string()] = unopenable;  // told when a response of it fails
  PreparedDravikRun run;
  run.command = DravikCommand(list.GetOriginalImpulseFile(), list.GetSignalMax(), list.GetSynchronousAverage(),
                              list.GetTspOffset(), micIndices, wave, MakeOutputHead(wave));
  run.directory = dir.string();
  (dravik.reportToStderr ? say.Err() : say.Out()) << "Dravik: " << run.command << std::endl;
  return run;
}

std::string IRProviderTSP::Impl::DravikCommand(const OriginalImpulseFile& origin, unsigned signalMax,
                                               unsigned syncAverage, unsigned tspOffset,
                                               const std::vector<unsigned int>& micIndices, const std::string& wave,
                                               const std::string& outputHead) const {
  const char* originOption = nullptr;
  if (origin.kind == OriginalImpulseFile::PCM_WAVE)
    originOption = dravik::option::kTspOriginWave;
  else if (origin.kind == OriginalImpulseFile::RAW_FLOAT)
    originOption = dravik::option::kTspOriginFloat;
  else {
    throw std::runtime_error((boost::format("originalImpulseFile %s has unknown kind %u "
                                            "(0 = PCM wave, 1 = raw float)") %
                              origin.name.raw() % origin.kind)
                                 .str());
  }
  std::string channels;
  for (std::size_t i = 0; i < micIndices.size(); ++i) {
    if (i) channels += ",";
    channels += std::to_string(micIndices[i]);
  }
  // dravik's default period is left implicit.
  const TSPListFile2_0& list = List();
  std::string periodOption;
  if (list.HasTspLength() && list.GetTspLength() != dravik::kDefaultSamplesPerFrame) {
    periodOption = (boost::format(" --%s \"%u\"") % dravik::option::kSamplesPerFrame % list.GetTspLength()).str();
  }
  // A leading dash would read as an option; "./" names the same file.
  const std::string recording = (!wave.empty() && wave[0] == '-') ? "./" + wave : wave;
  std::string command =
      (boost::format("%s --%s %s --%s \"%s\"%s --%s \"%s\" --%s \"%s\" --%s \"%s\" %s %s") %
       ShellProgram(dravik.program) % originOption % ShellQuote(origin.name.raw()) % dravik::option::kSignalMax %
       signalMax % periodOption % dravik::option::kSyncAddCount % syncAverage % dravik::option::kSyncAddOffset %
       tspOffset % dravik::option::kOutChannelList % channels % ShellQuote(recording) % ShellQuote(outputHead))
          .str();
  if (dravik.reportToStderr) command += " 1>&2";
  return command;
}

void IRProviderTSP::Impl::ReportStatus(int status) const {
  std::ostream& report = Report();
  if (status == -1) {
    report << "Dravik could not be started: " << std::strerror(errno) << "\n";
  } else if (WIFEXITED(status)) {
    const int code = WEXITSTATUS(status);
    if (code == 127) {
      report << boost::format("Dravik is not found : status(%d) WEXITSTATUS(%d)\n") % status % code;
    } else {
      report << boost::format("status(%d) %s\n") % status % std::strerror(code);
    }
  } else if (WIFSIGNALED(status)) {
    report << boost::format("Dravik error: signal no(%d)\n") % WTERMSIG(status);
  }
  report << "\n\n";
  report.flush();
}

std::size_t IRProviderTSP::Impl::NumMics() const {
  const TSPListFile2_0& list = List();
  if (list.HasNumMic()) return list.GetNumMic();
  const auto& sources = list.GetSources();
  if (sources.empty()) throw std::runtime_error("not implemented");
  // One wave file carries several microphone channels.
  std::size_t count = 0;
  for (const auto& file : sources.front().GetFiles()) count += file.GetMicIndices().size();
  return count;
}

namespace {

// The first file whose micIndices hold `target`, or null.
const veskio2::veskconfig::File1* CoveringFile(const std::vector<veskio2::veskconfig::File1>& files, int32_t target) {
  for (const auto& file : files) {
    if (!file.HasMicIndices()) continue;
    for (unsigned int index : file.GetMicIndices()) {
      if (static_cast<int64_t>(index) == target) return &file;
    }
  }
  return nullptr;
}

}  // namespace

// The computation asks source by source, microphone by microphone; the plan
// ends where it would stop (an uncovered microphone, an unreadable field).
void IRProviderTSP::Impl::Plan() {
  planned = true;
  try {
    const TSPListFile2_0& list = List();
    const std::size_t numMic = NumMics();
    for (const auto& source : list.GetSources()) {
      const auto& files = source.GetFiles();
      for (std::size_t mic = 0; mic < numMic; ++mic) {
        const veskio2::veskconfig::File1* covering = CoveringFile(files, MicIndexOf(mic));
        if (!covering) return;
        const std::string wave = covering->GetName().raw();
        const std::string key = (fs::path(temporaryDirectory) / WaveWorkDirectory(wave)).string();
        if (planIndex.emplace(key, plan.size()).second) plan.push_back({key, wave, covering->GetMicIndices()});
      }
    }
  } catch (...) {
  }
}

void IRProviderTSP::Impl::RunAhead(const std::string& key, const std::string& wave,
                                   const std::vector<unsigned int>& micIndices) {
  if (!runs) runs.reset(new DravikRuns);
  if (!planned) Plan();
  if (!runs->Has(key)) {
    runs->Start(key, [&](DravikTranscript& say) { return PrepareRun(wave, micIndices, say); });
  }
  TopUp(key);
}

void IRProviderTSP::Impl::TopUp(const std::string& key) {
  const auto at = planIndex.find(key);
  if (at == planIndex.end()) return;
  // Runs already started stand next to `key` in the plan, so this looks at
  // no more than `jobs` entries beyond them.
  for (std::size_t next = at->second + 1; next < plan.size() && runs->Pending() < dravik.jobs; ++next) {
    const PlannedWave& ahead = plan[next];
    if (runs->Has(ahead.key) || processedWaves.count(ahead.key)) continue;
    runs->Start(ahead.key, [&](DravikTranscript& say) { return PrepareRun(ahead.wave, ahead.micIndices, say); });
  }
}

IRProviderTSP::IRProviderTSP(const std::string& listFile, const DravikInvocation& dravik)
    : IRProviderTSP(ReadConfigFile(listFile), listFile, dravik) {}

IRProviderTSP::IRProviderTSP(const boost::shared_ptr<veskio2::veskconfig::VeskConfigFile>& file,
                             const std::string& listFile, const DravikInvocation& dravik)
    : impl_(new Impl) {
  CheckConfigFile(file, "TSPListFile", {Version(2, 0)});
  impl_->tsp_ = boost::dynamic_pointer_cast<TSPListFile>(file);
  if (!impl_->tsp_ || !boost::dynamic_pointer_cast<TSPListFile2_0>(file)) {
    throw std::runtime_error("unsupported TSPListFile class in " + listFile);
  }
  impl_->dravik = dravik;
  if (impl_->dravik.jobs == 0) impl_->dravik.jobs = DravikJobs();
}

std::string IRProviderTSP::GetTemporaryDirectory() const { return impl_->temporaryDirectory; }

std::size_t IRProviderTSP::GetNumSources() { return impl_->List().GetSources().size(); }

std::size_t IRProviderTSP::GetNumMics() { return impl_->NumMics(); }

std::vector<boost::shared_ptr<veskio2::veskconfig::Source>> IRProviderTSP::GetSources() {
  std::vector<boost::shared_ptr<veskio2::veskconfig::Source>> result;
  for (const auto& source : impl_->List().GetSources()) {
    result.push_back(boost::shared_ptr<veskio2::veskconfig::Source>(new veskio2::veskconfig::Source2(source)));
  }
  return result;
}

boost::shared_ptr<std::vector<unsigned int>> IRProviderTSP::GetMicIndices() {
  return GetMicIndicesFromTSPList(boost::dynamic_pointer_cast<TSPListFile2_0>(impl_->tsp_));
}

std::string IRProviderTSP::Impl::PrepareIRFile(std::size_t src, std::size_t mic) {
  const TSPListFile2_0& list = List();
  const auto& files = list.GetSources().at(src).GetFiles();
  if (temporaryDirectory.empty()) {
    // dravik selects channels 0 to 63 only; refused before any run.
    const auto& sources = list.GetSources();
    for (std::size_t s = 0; s < sources.size(); ++s)
      for (const auto& file : sources[s].GetFiles())
        if (file.HasMicIndices())
          for (unsigned int channel : file.GetMicIndices())
            if (channel >= dravik::kSelectableChannels)
              throw std::runtime_error((boost::format("source %1%, file %2%: micIndex %3% is not a recording "
                                                      "channel dravik can select (0 to %4%)") %
                                        s % file.GetName().raw() % channel % (dravik::kSelectableChannels - 1))
                                           .str());
    // Every file that cannot serve, told at once before any run, and again
    // where a response of that recording fails.
    const std::vector<PreflightProblem> problems = PreflightRecordings(list);
    for (const PreflightProblem& problem : problems) std::cerr << problem.line << "\n";
    temporaryDirectory = MakeTemporaryDirectory(3);
    std::cerr << "Created a temporary directore: " << temporaryDirectory << std::endl;
    for (const PreflightProblem& problem : problems) {
      if (!problem.recording.empty())
        unopened[(fs::path(temporaryDirectory) / WaveWorkDirectory(problem.recording)).string()] = problem.line;
    }
  }
  const int32_t target = MicIndexOf(mic);
  const veskio2::veskconfig::File1* covering = CoveringFile(files, target);
  if (!covering) {
    std::cerr << "non mic index = " << target << std::endl;
    throw std::runtime_error("not implemented");
  }
  const std::string wave = covering->GetName().raw();
  const unsigned tspOffset = list.GetTspOffset();
  const unsigned syncAverage = list.GetSynchronousAverage();
  const unsigned signalMax = list.GetSignalMax();
  const OriginalImpulseFile origin = list.GetOriginalImpulseFile();
  CalculateImpulseFiles(wave, tspOffset, syncAverage, signalMax, origin, covering->GetMicIndices());
  // Numbered by the microphone's ordinal, as dravik numbers its outputs for
  // a wave that carries the microphones in file order.
  return dravik::ImpulseFileName(MakeOutputHead(wave), static_cast<int>(mic + 1));
}

void IRProviderTSP::Impl::ReportUnopened(const std::string& fltName) const {
  const auto found = unopened.find(fs::path(fltName).parent_path().string());
  if (found != unopened.end()) std::cerr << found->second << std::endl;
}

std::vector<float> IRProviderTSP::GetIR(std::size_t src, std::size_t mic) {
  const std::string fltName = impl_->PrepareIRFile(src, mic);
  std::string problem;
  std::vector<float> samples = veskio2::flt::ReadFile(fltName, &problem);
  if (samples.empty()) {
    std::cerr << fltName << ": " << problem << std::endl;
    impl_->ReportUnopened(fltName);
  }
  return samples;
}

std::size_t IRProviderTSP::GetIRWindow(std::size_t src, std::size_t mic, std::size_t start, std::size_t count,
                                       std::vector<float>* window) {
  const std::string fltName = impl_->PrepareIRFile(src, mic);
  const std::size_t length = ReadFltWindow(fltName, start, count, window);
  if (length == 0) impl_->ReportUnopened(fltName);
  return length;
}

}  // namespace trelvix
