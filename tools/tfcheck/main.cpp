// tfcheck: is a measurement consistent with its geometry? Checks a
// transfer-function file against the positions it holds, or the TSP
// recordings a TSP list names. Exit status 0 consistent, 3 suspect, 1 error.
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>
#include <new>
#include <sstream>
#include <stdexcept>
#include <string>

#include <boost/pointer_cast.hpp>
#include <boost/program_options.hpp>

#include "CheckToReport.h"
#include "DelaysToArrayEstimate.h"
#include "RecordingsToConfidence.h"
#include "DelaysToGeometryCheck.h"
#include "MeasurementToDelays.h"
#include "RecordingsToCheck.h"
#include "TfFileToMeasurement.h"
#include "base/OptionParsing.h"
#include "FloatFile.h"
#include "ToolError.h"
#include "base/ShellCommand.h"
#include "veskio2/VeskConfig.h"
#include "base/Constants.h"
#include "ToolMain.h"

namespace po = boost::program_options;
namespace fs = std::filesystem;
using namespace vesktools;

namespace {

constexpr int kConsistent = 0, kSuspect = 3;  // an error gives 1 (ToolMain)

namespace vc = veskio2::veskconfig;

// The microphone-array location file: micIndex labels and positions
// (metres) in file order, which is the TF file's channel order.
struct ArrayFile {
  boost::shared_ptr<vc::MicArrayLocationFile2_0> file;
  std::vector<std::string> labels;
  std::vector<Vec3> positions;
};

ArrayFile ReadArrayFile(const std::string& micPath, std::size_t numMics) {
  ArrayFile array;
  if (micPath.empty()) {
    for (std::size_t m = 0; m < numMics; ++m) array.labels.push_back("channel " + std::to_string(m));
    return array;
  }
  try {
    array.file = boost::dynamic_pointer_cast<vc::MicArrayLocationFile2_0>(vc::VeskConfigFileXMLReader(micPath).Read());
    if (!array.file) throw ToolError(micPath + ": expected a MicArrayLocationFile 2.0");
    for (const vc::Mic1& mic : array.file->GetMics()) {
      array.labels.push_back("micIndex " + std::to_string(mic.GetMicIndex()));
      const veskio2::Vector3<float> p = mic.GetPosition().ToCartesian();
      array.positions.emplace_back(p.x, p.y, p.z);
    }
  } catch (const veskio2::NotInitialized& e) {
    throw ToolError(micPath + ": " + e.what());
  } catch (const veskio2::AnalyzeError& e) {
    throw ToolError(e.what());
  }
  if (array.labels.size() != numMics)
    throw ToolError(micPath + ": expected " + std::to_string(numMics) + " microphones (the TF file's), found " +
                    std::to_string(array.labels.size()));
  return array;
}

// The array file again with the fitted positions: the same micIndexes in
// the same order, written whole or not at all.
void WriteArrayFile(const ArrayFile& array, const ArrayEstimate& estimate, const std::string& path) {
  vc::MicArrayLocationFile2_0 fitted = *array.file;
  std::vector<vc::Mic1> mics = array.file->GetMics();
  for (std::size_t m = 0; m < mics.size(); ++m) {
    const Vec3& p = estimate.mics[m].fittedPosition;
    const veskio2::Vector3<float> v(static_cast<float>(p.x), static_cast<float>(p.y), static_cast<float>(p.z));
    mics[m].SetPosition(v.Length() > 0 ? veskio2::MakePositionFromVector(v) : veskio2::Position<float>(v, 0.0f));
  }
  fitted.SetMics(mics);
  std::ostringstream xml;
  vc::VeskConfigFileXMLWriter(xml).Write(fitted);
  const std::string text = xml.str();
  WriteOutputFile(path, text.data(), text.size());
}

void ParseBand(const std::string& text, double& low, double& high) {
  std::istringstream in(text);
  char comma = 0;
  if (!(in >> low >> comma >> high) || comma != ',' || !in.eof() || !(low >= 0) || !(high > low))
    throw ToolError("--band expects LOW,HIGH in Hz with 0 <= LOW < HIGH, found \"" + text + "\"");
}

// The plot command: installed beside tfcheck as vesk-plot-tfcheck, or the
// script in the source tree when run from a build tree.
std::string PlotScript(const char* argv0) {
  std::error_code ec;
  fs::path self = fs::read_symlink("/proc/self/exe", ec);
  if (ec) self = fs::absolute(argv0);
  const fs::path dir = self.parent_path();
  for (const fs::path& candidate :
       {dir / "vesk-plot-tfcheck", fs::path(VESK_SOURCE_DIR) / "tools/plots/plot_tfcheck.py"})
    if (fs::exists(candidate)) return candidate.lexically_normal().string();
  throw ToolError("--plot: cannot find vesk-plot-tfcheck beside " + self.string());
}

// Debian's interpreter (the one with numpy and matplotlib) before any other
// python3 on the search path.
std::string PlotPython() {
  if (::access("/usr/bin/python3", X_OK) == 0) return "/usr/bin/python3";
  const char* path = std::getenv("PATH");
  std::istringstream dirs(path ? path : "");
  for (std::string dir; std::getline(dirs, dir, ':');) {
    const fs::path candidate = fs::path(dir.empty() ? "." : dir) / "python3";
    if (::access(candidate.c_str(), X_OK) == 0) return candidate.string();
  }
  throw ToolError("--plot: no python3 found (Debian: python3-numpy python3-matplotlib)");
}

// What the plot step needs, found before any check runs, so that a bad
// directory is refused before anything is written.
struct PlotPlan {
  std::string dir, python, script;
};

PlotPlan PlanPlot(const char* argv0, const std::string& dir) {
  if (dir.empty()) throw ToolError("--plot needs a directory name");
  std::error_code ec;
  // The directory, or the nearest existing directory it would be made in,
  // must be a directory we may write in.
  fs::path probe = fs::absolute(dir, ec);
  if (ec) throw ToolError("--plot " + dir + ": " + ec.message());
  while (true) {
    const fs::file_status st = fs::status(probe, ec);
    if (fs::exists(st)) {
      if (!fs::is_directory(st)) throw ToolError("--plot " + dir + ": " + probe.string() + " is not a directory");
      if (::access(probe.c_str(), W_OK | X_OK) != 0)
        throw ToolError("--plot " + dir + ": cannot write in " + probe.string() + ": " + std::strerror(errno));
      break;
    }
    if (fs::exists(fs::symlink_status(probe, ec)))
      throw ToolError("--plot " + dir + ": " + probe.string() + " is a link to nothing");
    if (ec && ec != std::errc::no_such_file_or_directory)
      throw ToolError("--plot " + dir + ": " + probe.string() + ": " + ec.message());
    if (!probe.has_parent_path() || probe.parent_path() == probe) break;
    probe = probe.parent_path();
  }
  return PlotPlan{dir, PlotPython(), PlotScript(argv0)};
}

// The report is on standard output before the script writes a line; the
// script's own output (the PNG names) goes to standard error. The script
// runs from an argument vector: no name is ever read by a shell.
void Plot(const PlotPlan& plan, const std::string& json) {
  std::cout.flush();
  if (!std::cout) throw ToolError("cannot write the report to standard output");
  std::error_code ec;
  fs::create_directories(plan.dir, ec);
  if (ec) throw ToolError("--plot " + plan.dir + ": " + ec.message());
  const std::string jsonPath = (fs::path(plan.dir) / "tfcheck.json").string();
  WriteOutputFile(jsonPath, json.data(), json.size());
  const int status = vesk::RunProgram({plan.python, plan.script, "--json", jsonPath, "--out-dir", plan.dir},
                                      STDERR_FILENO, STDERR_FILENO);
  if (status != 0)
    throw ToolError("--plot: " + plan.script + " failed (" +
                    (status == -1          ? std::string("could not be started: ") + std::strerror(errno)
                     : WIFEXITED(status)   ? "exit status " + std::to_string(WEXITSTATUS(status))
                     : WIFSIGNALED(status) ? "signal " + std::to_string(WTERMSIG(status))
                                           : "status " + std::to_string(status)) +
                    ")");
}

int Run(int argc, char** argv) {
  std::string micPath, recordingsPath, band, plotDir, writeMicPath, tfPath;
  double speed = vesk::kSpeedOfSound, temperature = 0.0;
  int samplingFreq = 0;
  po::options_description opts("tfcheck options");
  opts.add_options()("help,h", "show this text")("recordings", po::value(&recordingsPath),
                                                 "check the TSP recordings this TSP list names instead of a TF file")(
      "mic", po::value(&micPath), "microphone-array location file: name microphones by micIndex")(
      "speed-of-sound", po::value(&speed), "metres per second (default 343)")(
      "temperature", po::value(&temperature), "degrees Celsius: speed of sound 331.3 * sqrt(1 + T / 273.15)")(
      "sampling-freq", po::value(&samplingFreq),
      "Hz: the rate the TF file is read at (default: the file's), or the rate recordings must have (default 16000)")(
      "band", po::value(&band), "LOW,HIGH in Hz for the delay estimates (default 300 Hz to 0.8 of Nyquist)")(
      "json", "print every figure as JSON instead of the text report")(
      "plot", po::value(&plotDir), "draw the residuals (or the recordings' SNR) as PNG into this directory")(
      "tf", po::value(&tfPath),
      "with --recordings: how sure each transfer function of this file (made from the list) is")(
      "estimate-array", "also fit each microphone's position and each channel's latency to the delays (needs --mic)")(
      "write-mic", po::value(&writeMicPath),
      "with --estimate-array: write the array file with the fitted positions here");
  std::vector<std::string> files;
  const po::variables_map vm = vesk::ParseOptionsAndFiles(argc, argv, opts, &files);
  if (vm.count("help")) {
    std::cout << "Usage: tfcheck [options] TF.bin\n"
                 "       tfcheck --estimate-array --mic MIC.xml [--write-mic OUT.xml] [options] TF.bin\n"
                 "       tfcheck --recordings LIST.xml [--tf TF.bin] [options]\n"
              << "Exit status: 0 consistent, 3 suspect (findings listed), 1 error.\n"
              << opts << "\n";
    return kConsistent;
  }
  if (vm.count("speed-of-sound") && vm.count("temperature"))
    throw ToolError("give either --speed-of-sound or --temperature, not both");
  if (vm.count("temperature")) {
    if (!(temperature > -273.15)) throw ToolError("--temperature must lie above -273.15 degC");
    speed = 331.3 * std::sqrt(1.0 + temperature / 273.15);
  }
  if (!(speed > 0) || !std::isfinite(speed)) throw ToolError("--speed-of-sound must be a positive number");
  if (vm.count("sampling-freq") && samplingFreq <= 0) throw ToolError("--sampling-freq must be at least 1");
  DelayBand delayBand;
  if (!band.empty()) ParseBand(band, delayBand.lowHz, delayBand.highHz);
  const Thresholds limits;
  const bool json = vm.count("json") > 0;
  const bool estimateArray = vm.count("estimate-array") > 0;
  if (estimateArray && micPath.empty())
    throw ToolError("--estimate-array needs --mic MIC.xml (the array file the TF file was made with)");
  if (vm.count("write-mic") && !estimateArray) throw ToolError("--write-mic needs --estimate-array");
  if (vm.count("write-mic") && writeMicPath.empty()) throw ToolError("--write-mic needs a file name");
  if (!writeMicPath.empty()) {
    std::error_code ec;
    if (fs::equivalent(writeMicPath, micPath, ec))
      throw ToolError("--write-mic " + writeMicPath +
                      " is the array file read (--mic): write the fitted one beside it");
  }
  PlotPlan plot;
  if (vm.count("plot")) plot = PlanPlot(argv[0], plotDir);

  if (!recordingsPath.empty()) {
    if (!files.empty()) throw ToolError("--recordings takes no TF file");
    if (estimateArray) throw ToolError("--estimate-array reads a TF file, not --recordings");
    RecordingsSettings settings;
    settings.expectedRateHz = samplingFreq > 0 ? samplingFreq : 16000;
    settings.bandLowHz = delayBand.lowHz;
    settings.bandHighHz = delayBand.highHz;
    std::unique_ptr<TfMeasurement> tf;
    if (!tfPath.empty()) {
      tf = std::make_unique<TfMeasurement>(TfFileToMeasurement(tfPath));
      settings.tfNfft = tf->nfft;
      if (samplingFreq <= 0) settings.expectedRateHz = static_cast<int>(std::lround(tf->samplingHz));
    }
    const RecordingsCheck check = RecordingsToCheck(recordingsPath, settings, limits);
    TfConfidence confidence;
    if (tf) confidence = RecordingsToConfidence(check, *tf, limits);
    const std::string text = RecordingsCheckToJson(check, tf ? &confidence : nullptr, tf.get());
    if (json)
      std::cout << text;
    else
      RecordingsCheckToText(check, std::cout, tf ? &confidence : nullptr, tf.get());
    if (!plot.dir.empty()) Plot(plot, text);
    return check.findings.empty() ? kConsistent : kSuspect;
  }
  if (!tfPath.empty()) throw ToolError("--tf needs --recordings LIST.xml (the list the TF file was made from)");
  if (files.size() != 1)
    throw ToolError("expected one TF file (or --recordings LIST.xml), found " + std::to_string(files.size()) +
                    "; see --help");
  const TfMeasurement tf = TfFileToMeasurement(files[0]);
  GeometryInput input;
  input.samplingHz = samplingFreq > 0 ? samplingFreq : tf.samplingHz;
  input.speedOfSound = speed;
  input.micPositions = tf.micPositions;
  input.sourcePositions = tf.sourcePositions;
  const ArrayFile array = ReadArrayFile(micPath, tf.NumMics());
  input.micLabels = array.labels;
  std::size_t nonFinite = 0;
  input.delays = MeasurementToDelays(tf, input.samplingHz, delayBand, nonFinite);
  GeometryCheck check = DelaysToGeometryCheck(input, limits);
  if (nonFinite)
    check.findings.insert(
        check.findings.begin(),
        Finding{"non-finite", std::to_string(nonFinite) + " of " + std::to_string(tf.NumSources() * tf.NumMics()) +
                                  " transfer functions hold NaN or infinite values (read as 0): "
                                  "an all-zero or failed response was normalised"});
  ArrayEstimate estimate;
  if (estimateArray) {
    ArrayEstimateInput fitInput;
    fitInput.delays = input.delays;
    fitInput.sourcePositions = tf.sourcePositions;
    fitInput.micPositions = array.positions;
    fitInput.micLabels = array.labels;
    fitInput.samplingHz = input.samplingHz;
    fitInput.speedOfSound = speed;
    for (const SourceResult& s : check.sources)
      fitInput.sourceExcluded.push_back(!s.standsOut ? ""
                                        : s.refitted
                                            ? "source-moved (fits " + Fixed(s.movedDeg, 1) + " deg away)"
                                            : "source-outlier (residual " + Fixed(s.rmsSamples, 2) + " samples RMS)");
    estimate = DelaysToArrayEstimate(fitInput, limits);
    for (std::size_t m = 0; m < tf.NumMics(); ++m)
      if ((tf.micPositions[m] - array.positions[m]).Length() > 1e-4) {
        estimate.notes.push_back(micPath + " places " + array.labels[m] + " " +
                                 Fixed(1000.0 * (tf.micPositions[m] - array.positions[m]).Length(), 1) +
                                 " mm from where the TF file does: the fit starts from, and compares with, " + micPath);
        break;
      }
    check.findings.insert(check.findings.end(), estimate.findings.begin(), estimate.findings.end());
    if (!writeMicPath.empty()) WriteArrayFile(array, estimate, writeMicPath);
  }
  TfCheckContext context;
  context.arrayEstimate = estimateArray ? &estimate : nullptr;
  context.tf = &tf;
  context.input = &input;
  context.bandLowHz = delayBand.lowHz;
  context.bandHighHz = delayBand.highHz > 0 ? delayBand.highHz : 0.4 * input.samplingHz;
  const std::string text = TfCheckToJson(context, check);
  if (json)
    std::cout << text;
  else
    TfCheckToText(context, check, std::cout);
  if (!plot.dir.empty()) Plot(plot, text);
  return check.findings.empty() ? kConsistent : kSuspect;
}

}  // namespace

int main(int argc, char** argv) {
  return vesktools::ToolMain("tfcheck", Run, argc, argv,
                             "out of memory while checking (a size in the file or list beyond this machine)");
}
