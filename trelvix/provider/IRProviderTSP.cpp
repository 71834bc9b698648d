#include "provider/IRProviderTSP.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <map>
#include <set>
#include <stdexcept>

#include <boost/filesystem.hpp>
#include <boost/format.hpp>

#include "base/ShellCommand.h"
#include "dravik/Invocation.h"
#include "provider/CheckConfigFile.h"
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
    if (c == '%') escaped += "%25";
    else escaped += c;
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

boost::shared_ptr<std::vector<unsigned int>> GetMicIndicesFromTSPList(
    const boost::shared_ptr<TSPListFile2_0>& list) {
  for (const auto& source : list->GetSources()) {
    // A source without a usable first file is passed over.
    try {
      const auto& indices = source.GetFiles().at(0).GetMicIndices();
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
  std::map<std::string, std::string> unopened;  // work directory -> why its files could not be opened

  const TSPListFile2_0& List() const {
    if (!(tsp_->GetVersion() == Version(2, 0))) throw std::runtime_error("not implemented");
    return dynamic_cast<const TSPListFile2_0&>(*tsp_);
  }

  std::ostream& Report() const { return dravik.reportToStderr ? std::cerr : std::cout; }

  static std::string MakeTemporaryDirectory(unsigned attempts);
  bool CalculateImpulseFiles(const std::string& wave, unsigned tspOffset, unsigned syncAverage,
                             unsigned signalMax, const OriginalImpulseFile& origin,
                             const std::vector<unsigned int>& micIndices);
  int RunDravik(const OriginalImpulseFile& origin, unsigned signalMax, unsigned syncAverage,
                unsigned tspOffset, const std::vector<unsigned int>& micIndices,
                const std::string& wave, const std::string& outputHead);
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

bool IRProviderTSP::Impl::CalculateImpulseFiles(const std::string& wave, unsigned tspOffset,
                                                unsigned syncAverage, unsigned signalMax,
                                                const OriginalImpulseFile& origin,
                                                const std::vector<unsigned int>& micIndices) {
  const fs::path dir = fs::path(temporaryDirectory) / WaveWorkDirectory(wave);
  // dravik runs once per wave file, even when it failed.
  if (!processedWaves.insert(dir.string()).second) return false;
  std::cerr << "creating directory: " << dir.string() << std::endl;
  boost::system::error_code ec;
  fs::create_directories(dir, ec);
  if (ec) throw std::runtime_error("cannot create directory " + dir.string() + ": " + ec.message());
  const std::string unopenable = CheckRecordingAndOrigin(wave, micIndices, dravik.samplingFreqHz, origin);
  if (!unopenable.empty()) unopened[dir.string()] = unopenable;  // told when a response of it fails
  RunDravik(origin, signalMax, syncAverage, tspOffset, micIndices, wave, MakeOutputHead(wave));
  return true;
}

int IRProviderTSP::Impl::RunDravik(const OriginalImpulseFile& origin, unsigned signalMax,
                                   unsigned syncAverage, unsigned tspOffset,
                                   const std::vector<unsigned int>& micIndices,
                                   const std::string& wave, const std::string& outputHead) {
  const char* originOption = nullptr;
  if (origin.kind == OriginalImpulseFile::PCM_WAVE) originOption = dravik::option::kTspOriginWave;
  else if (origin.kind == OriginalImpulseFile::RAW_FLOAT) originOption = dravik::option::kTspOriginFloat;
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

  std::ostream& report = Report();
  report << "Dravik: " << command << std::endl;
  std::cout.flush();
  std::cerr.flush();
  const int status = vesk::RunShellCommand(command);
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
  return status;
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
}

std::string IRProviderTSP::GetTemporaryDirectory() const { return impl_->temporaryDirectory; }

std::size_t IRProviderTSP::GetNumSources() { return impl_->List().GetSources().size(); }

std::size_t IRProviderTSP::GetNumMics() {
  const TSPListFile2_0& list = impl_->List();
  if (list.HasNumMic()) return list.GetNumMic();
  const auto& sources = list.GetSources();
  if (sources.empty()) throw std::runtime_error("not implemented");
  // One wave file carries several microphone channels.
  std::size_t count = 0;
  for (const auto& file : sources.front().GetFiles()) count += file.GetMicIndices().size();
  return count;
}

std::vector<boost::shared_ptr<veskio2::veskconfig::Source>> IRProviderTSP::GetSources() {
  std::vector<boost::shared_ptr<veskio2::veskconfig::Source>> result;
  for (const auto& source : impl_->List().GetSources()) {
    result.push_back(boost::shared_ptr<veskio2::veskconfig::Source>(
        new veskio2::veskconfig::Source2(source)));
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
    temporaryDirectory = MakeTemporaryDirectory(3);
    std::cerr << "Created a temporary directore: " << temporaryDirectory << std::endl;
  }
  const int32_t target = MicIndexOf(mic);
  const veskio2::veskconfig::File1* covering = nullptr;
  for (const auto& file : files) {
    if (!file.HasMicIndices()) continue;
    for (unsigned int index : file.GetMicIndices()) {
      if (static_cast<int64_t>(index) == target) {
        covering = &file;
        break;
      }
    }
    if (covering) break;
  }
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
