// tfcheck: is a measurement consistent with its geometry? Checks a
// transfer-function file against the positions it holds, or the TSP
// recordings a TSP list names. Exit status 0 consistent, 3 suspect, 1 error.
#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>

#include <boost/pointer_cast.hpp>
#include <boost/program_options.hpp>

#include "CheckToReport.h"
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

std::vector<std::string> MicLabels(const std::string& micPath, std::size_t numMics) {
  std::vector<std::string> labels;
  if (micPath.empty()) {
    for (std::size_t m = 0; m < numMics; ++m) labels.push_back("channel " + std::to_string(m));
    return labels;
  }
  namespace vc = veskio2::veskconfig;
  try {
    auto file = boost::dynamic_pointer_cast<vc::MicArrayLocationFile2_0>(vc::VeskConfigFileXMLReader(micPath).Read());
    if (!file) throw ToolError(micPath + ": expected a MicArrayLocationFile 2.0");
    for (const vc::Mic1& mic : file->GetMics()) labels.push_back("micIndex " + std::to_string(mic.GetMicIndex()));
  } catch (const veskio2::NotInitialized& e) {
    throw ToolError(micPath + ": " + e.what());
  } catch (const veskio2::AnalyzeError& e) {
    throw ToolError(e.what());
  }
  if (labels.size() != numMics)
    throw ToolError(micPath + ": expected " + std::to_string(numMics) + " microphones (the TF file's), found " +
                    std::to_string(labels.size()));
  return labels;
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
  for (const fs::path& candidate : {dir / "vesk-plot-tfcheck", fs::path(VESK_SOURCE_DIR) / "tools/plots/plot_tfcheck.py"})
    if (fs::exists(candidate)) return candidate.lexically_normal().string();
  throw ToolError("--plot: cannot find vesk-plot-tfcheck beside " + self.string());
}

void Plot(const char* argv0, const std::string& dir, const std::string& json) {
  fs::create_directories(dir);
  const std::string jsonPath = (fs::path(dir) / "tfcheck.json").string();
  WriteOutputFile(jsonPath, json.data(), json.size());
  const std::string python = fs::exists("/usr/bin/python3") ? "/usr/bin/python3" : "python3";
  const std::string command = "'" + python + "' '" + PlotScript(argv0) + "' --json '" + jsonPath + "' --out-dir '" + dir + "' >&2";  // standard output is the report's
  for (char c : dir + jsonPath)
    if (c == '\'') throw ToolError("--plot: a directory name with a quote is not supported");
  if (vesk::RunShellCommand(command) != 0) throw ToolError("--plot: the plot script failed: " + command);
}

int Run(int argc, char** argv) {
  std::string micPath, recordingsPath, band, plotDir;
  double speed = vesk::kSpeedOfSound, temperature = 0.0;
  int samplingFreq = 0;
  po::options_description opts("tfcheck options");
  opts.add_options()
      ("help,h", "show this text")
      ("recordings", po::value(&recordingsPath), "check the TSP recordings this TSP list names instead of a TF file")
      ("mic", po::value(&micPath), "microphone-array location file: name microphones by micIndex")
      ("speed-of-sound", po::value(&speed), "metres per second (default 343)")
      ("temperature", po::value(&temperature), "degrees Celsius: speed of sound 331.3 * sqrt(1 + T / 273.15)")
      ("sampling-freq", po::value(&samplingFreq),
       "Hz: the rate the TF file is read at (default: the file's), or the rate recordings must have (default 16000)")
      ("band", po::value(&band), "LOW,HIGH in Hz for the delay estimates (default 300 Hz to 0.8 of Nyquist)")
      ("json", "print every figure as JSON instead of the text report")
      ("plot", po::value(&plotDir), "draw the residuals (or the recordings' SNR) as PNG into this directory");
  std::vector<std::string> files;
  const po::variables_map vm = vesk::ParseOptionsAndFiles(argc, argv, opts, &files);
  if (vm.count("help")) {
    std::cout << "Usage: tfcheck [options] TF.bin\n       tfcheck --recordings LIST.xml [options]\n"
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

  if (!recordingsPath.empty()) {
    if (!files.empty()) throw ToolError("--recordings takes no TF file");
    RecordingsSettings settings;
    settings.expectedRateHz = samplingFreq > 0 ? samplingFreq : 16000;
    settings.bandLowHz = delayBand.lowHz;
    settings.bandHighHz = delayBand.highHz;
    const RecordingsCheck check = RecordingsToCheck(recordingsPath, settings, limits);
    const std::string text = RecordingsCheckToJson(check);
    if (json) std::cout << text;
    else RecordingsCheckToText(check, std::cout);
    if (!plotDir.empty()) Plot(argv[0], plotDir, text);
    return check.findings.empty() ? kConsistent : kSuspect;
  }
  if (files.size() != 1) throw ToolError("expected one TF file (or --recordings LIST.xml), found " + std::to_string(files.size()) + "; see --help");
  const TfMeasurement tf = TfFileToMeasurement(files[0]);
  GeometryInput input;
  input.samplingHz = samplingFreq > 0 ? samplingFreq : tf.samplingHz;
  input.speedOfSound = speed;
  input.micPositions = tf.micPositions;
  input.sourcePositions = tf.sourcePositions;
  input.micLabels = MicLabels(micPath, tf.NumMics());
  std::size_t nonFinite = 0;
  input.delays = MeasurementToDelays(tf, input.samplingHz, delayBand, nonFinite);
  GeometryCheck check = DelaysToGeometryCheck(input, limits);
  if (nonFinite)
    check.findings.insert(check.findings.begin(),
                          Finding{"non-finite", std::to_string(nonFinite) + " of " +
                                                    std::to_string(tf.NumSources() * tf.NumMics()) +
                                                    " transfer functions hold NaN or infinite values (read as 0): "
                                                    "an all-zero or failed response was normalised"});
  TfCheckContext context;
  context.tf = &tf;
  context.input = &input;
  context.bandLowHz = delayBand.lowHz;
  context.bandHighHz = delayBand.highHz > 0 ? delayBand.highHz : 0.4 * input.samplingHz;
  const std::string text = TfCheckToJson(context, check);
  if (json) std::cout << text;
  else TfCheckToText(context, check, std::cout);
  if (!plotDir.empty()) Plot(argv[0], plotDir, text);
  return check.findings.empty() ? kConsistent : kSuspect;
}

}  // namespace

int main(int argc, char** argv) {
  return vesktools::ToolMain("tfcheck", Run, argc, argv);
}
