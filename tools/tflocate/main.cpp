// tflocate: localises the sources of a multichannel recording with a
// transfer-function file's responses as steering vectors, and reports the
// errors against the true directions. Exit status 0 when the run completes
// (whatever the errors), 1 on an error.
#include <cmath>
#include <filesystem>
#include <fstream>
#include <deque>
#include <iostream>
#include <regex>
#include <sstream>
#include <string>

#include <boost/program_options.hpp>

#include "base/Cores.h"
#include "base/OptionParsing.h"
#include "ToolMain.h"
#include "FloatFile.h"
#include "Locate.h"
#include "LocateToReport.h"
#include "ToolError.h"
#include "base/ShellCommand.h"
#include "base/SignalCleanup.h"

namespace po = boost::program_options;
namespace fs = std::filesystem;
using namespace vesktools;

namespace {

constexpr int kDone = 0;           // an error is ToolMain's 1
constexpr double kGateDeg = 30.0;  // assignment gate of the errors

void ParseBand(const std::string& text, double& low, double& high) {
  std::istringstream in(text);
  char comma = 0;
  if (!(in >> low >> comma >> high) || comma != ',' || !in.eof() || !(low >= 0) || !(high > low) ||
      !std::isfinite(high))
    throw ToolError("--band expects LOW,HIGH in Hz with 0 <= LOW < HIGH, found \"" + text + "\"");
}

std::vector<double> Numbers(const std::string& option, const std::string& text) {
  std::vector<double> values;
  std::istringstream in(text);
  std::string item;
  while (std::getline(in, item, ',')) {
    std::size_t used = 0;
    double v = 0;
    try {
      v = std::stod(item, &used);
    } catch (const std::exception&) {
      used = 0;
    }
    if (used == 0 || used != item.size() || !std::isfinite(v))
      throw ToolError("--" + option + " expects comma-separated numbers, found \"" + text + "\"");
    values.push_back(v);
  }
  if (values.empty()) throw ToolError("--" + option + " expects comma-separated numbers, found \"" + text + "\"");
  return values;
}

Direction TruthOf(const std::string& text) {
  const std::vector<double> v = Numbers("truth", text);
  if (v.size() > 2 || std::fabs(v.size() == 2 ? v[1] : 0.0) > 90.0)
    throw ToolError("--truth expects AZ[,EL] in degrees with |EL| <= 90, found \"" + text + "\"");
  return DirectionFromAngles(v[0], v.size() == 2 ? v[1] : 0.0);
}

// The true directions of a scene file: every "azimuthDeg" number, with the
// "elevationDeg" that follows it in the same object (0 without one).
std::vector<Direction> TruthFromJson(const std::string& path) {
  std::ifstream in(path);
  if (!in) throw ToolError("--truth-json: cannot open " + path);
  std::stringstream text;
  text << in.rdbuf();
  const std::string s = text.str();
  const std::regex number("\"azimuthDeg\"\\s*:\\s*(-?[0-9.eE+-]+)([^}]*)");
  const std::regex elevation("\"elevationDeg\"\\s*:\\s*(-?[0-9.eE+-]+)");
  std::vector<Direction> truth;
  for (auto it = std::sregex_iterator(s.begin(), s.end(), number); it != std::sregex_iterator(); ++it) {
    double az = 0, el = 0;
    try {
      az = std::stod((*it)[1].str());
      std::smatch m;
      const std::string rest = (*it)[2].str();
      if (std::regex_search(rest, m, elevation)) el = std::stod(m[1].str());
    } catch (const std::exception&) {
      throw ToolError("--truth-json: " + path + ": expected a number after \"azimuthDeg\", found \"" + (*it)[1].str() +
                      "\"");
    }
    if (!std::isfinite(az) || !std::isfinite(el) || std::fabs(el) > 90)
      throw ToolError("--truth-json: " + path + ": expected finite angles with |elevation| <= 90, found " +
                      (*it)[1].str());
    truth.push_back(DirectionFromAngles(az, el));
  }
  if (truth.empty())
    throw ToolError("--truth-json: " + path + ": expected source directions (\"azimuthDeg\"), found none");
  return truth;
}

std::string PlotScript(const char* argv0) {
  std::error_code ec;
  fs::path self = fs::read_symlink("/proc/self/exe", ec);
  if (ec) self = fs::absolute(argv0);
  const fs::path dir = self.parent_path();
  for (const fs::path& candidate :
       {dir / "vesk-plot-tflocate", fs::path(VESK_SOURCE_DIR) / "tools/plots/plot_tflocate.py"})
    if (fs::exists(candidate)) return candidate.lexically_normal().string();
  throw ToolError("--plot: cannot find vesk-plot-tflocate beside " + self.string());
}

void Plot(const char* argv0, const std::string& dir, const std::string& json) {
  for (char c : dir)
    if (c == '\'') throw ToolError("--plot: a directory name with a quote is not supported");
  fs::create_directories(dir);
  const std::string jsonPath = (fs::path(dir) / "tflocate.json").string();
  WriteOutputFile(jsonPath, json.data(), json.size());
  const std::string python = fs::exists("/usr/bin/python3") ? "/usr/bin/python3" : "python3";
  const std::string command =
      "'" + python + "' '" + PlotScript(argv0) + "' --json '" + jsonPath + "' --out-dir '" + dir + "' >&2";
  if (vesk::RunShellCommand(command) != 0) throw ToolError("--plot: the plot script failed: " + command);
}

Method MethodOf(const std::string& name) {
  if (name == "normmusic") return Method::NORMMUSIC;
  if (name == "music") return Method::MUSIC;
  if (name == "srp-phat") return Method::SRP_PHAT;
  throw ToolError("--method must be normmusic, music or srp-phat, found \"" + name + "\"");
}

LocateRun Locate(const std::string& tfPath, const std::string& recording, const BandRequest& band,
                 const FrameSettings& frames, Method method, std::size_t sources, const std::vector<Direction>& truth,
                 bool keepSpectra) {
  LocateRun run;
  run.steering = TfFileToSteering(tfPath, band);
  for (const std::string& w : run.steering.warnings) std::cerr << "tflocate: warning: " << w << "\n";
  if (frames.hopSamples > run.steering.nfft)
    throw ToolError("--hop " + std::to_string(frames.hopSamples) + " is longer than a frame of " + tfPath + " (" +
                    std::to_string(run.steering.nfft) + " samples): samples would be skipped");
  run.grid = PositionsToGrid(run.steering.positions);
  run.method = method;
  run.recording = recording;
  // Blocks are searched as they are read, a batch at a time on each core.
  // Responses that do not fit in a core's cache are read once per batch of
  // several blocks, so a search over many directions is not bound by reading
  // them; a batch's result does not depend on the core that searched it.
  const std::size_t responseBytes = run.steering.re.size() * 2 * sizeof(float);
  const std::size_t batch = responseBytes <= (std::size_t(8) << 20) ? 1 : 8;
  struct Batch {
    std::vector<BlockCovariance> blocks;
    std::vector<BlockResult>* results = nullptr;  // its slot in byBatch, filled by the core that takes it
  };
  std::deque<std::vector<BlockResult>> byBatch;  // grows here only; slots never move
  const auto searchBatch = [&run, method, sources, keepSpectra](Batch& work, SubspaceWorkspace& space) {
    std::vector<BlockCovariance>& blocks = work.blocks;
    const std::vector<std::vector<double>> spectra =
        CovariancesToSpectra(blocks, run.steering, method, sources, &space);
    for (std::size_t i = 0; i < blocks.size(); ++i) {
      const std::vector<double>& spectrum = spectra[i];
      BlockResult result;
      result.startS = blocks[i].startS;
      result.endS = blocks[i].endS;
      result.peaks = SpectrumToPeaks(spectrum, run.grid, sources);
      if (keepSpectra) {
        double largest = 0;
        result.spectrum.assign(run.grid.points.size(), 0.0);
        for (std::size_t src = 0; src < spectrum.size(); ++src) {
          double& v = result.spectrum[run.grid.pointOfSource[src]];
          v = std::max(v, spectrum[src]);
          largest = std::max(largest, spectrum[src]);
        }
        if (largest > 0)
          for (double& v : result.spectrum) v /= largest;
      }
      work.results->push_back(std::move(result));
    }
    std::vector<BlockCovariance>().swap(blocks);
  };
  vesk::StreamOverCores<Batch>(
      [&](const auto& push) {
        Batch pending;
        const auto hand = [&] {
          byBatch.emplace_back();
          pending.results = &byBatch.back();
          push(std::move(pending));
          pending = Batch();
        };
        RecordingToBlocks(recording, run.steering, frames, [&](BlockCovariance&& block) {
          pending.blocks.push_back(std::move(block));
          if (pending.blocks.size() == batch) hand();
        });
        if (!pending.blocks.empty()) hand();
      },
      [&searchBatch] {
        return [&searchBatch, space = SubspaceWorkspace()](Batch& work) mutable { searchBatch(work, space); };
      },
      2 * vesk::UsableCores());
  for (std::vector<BlockResult>& results : byBatch)
    for (BlockResult& result : results) run.blocks.push_back(std::move(result));
  run.estimate = PeaksToEstimate(run.blocks, std::max(5.0, 2 * run.grid.spacingDeg));
  if (!truth.empty()) {
    run.haveTruth = true;
    run.errors = PeaksToErrors(run.blocks, truth, kGateDeg);
  }
  run.steering.re.clear();
  run.steering.re.shrink_to_fit();
  run.steering.im.clear();
  run.steering.im.shrink_to_fit();
  return run;
}

int Run(int argc, char** argv) {
  std::string band, methodName = "normmusic", channels, truthJson, compare, plotDir;
  std::vector<std::string> truths;
  double blockS = 0.5, snrDb = 20.0;
  long long hop = 0, sources = 1;
  po::options_description opts("tflocate options");
  opts.add_options()("help,h", "show this text")(
      "method", po::value(&methodName), "normmusic (default), music or srp-phat")("sources", po::value(&sources),
                                                                                  "directions per block (default 1)")(
      "band", po::value(&band), "LOW,HIGH in Hz (default 500 Hz to 0.8 of Nyquist)")(
      "hop", po::value(&hop), "samples between frames (default half the TF file's fftLength)")(
      "block", po::value(&blockS), "seconds per estimate (default 0.5)")(
      "channels", po::value(&channels), "a,b,...: the recording channel of each TF microphone (default 0, 1, ...)")(
      "truth", po::value(&truths)->composing(), "AZ[,EL] degrees: a true source direction (repeatable)")(
      "truth-json", po::value(&truthJson), "the true directions from a scene file")(
      "compare", po::value(&compare), "run the same recording with this second TF file")(
      "self-test", "localise each of the file's directions among the others (no recording)")(
      "snr", po::value(&snrDb), "dB, the self-test's white noise below the response (default 20)")(
      "json", "print every figure as JSON instead of the table")(
      "plot", po::value(&plotDir),
      "draw the spectrum over time (or the self-test's errors) as PNG into this directory");
  std::vector<std::string> files;
  const po::variables_map vm = vesk::ParseOptionsAndFiles(argc, argv, opts, &files);
  if (vm.count("help")) {
    std::cout << "Usage: tflocate [options] TF.bin RECORDING.wav\n       tflocate --self-test TF.bin [--snr DB]\n"
              << "Exit status: 0 when the run completes (whatever the errors), 1 on an error.\n"
              << opts << "\n";
    return kDone;
  }
  const Method method = MethodOf(methodName);
  if (sources < 1 || sources > 64) throw ToolError("--sources must lie in 1 .. 64, found " + std::to_string(sources));
  if (!(blockS > 0) || !std::isfinite(blockS) || blockS > 3600)
    throw ToolError("--block must be a positive number of seconds up to 3600");
  if (vm.count("hop") && hop < 1) throw ToolError("--hop must be at least 1 sample, found " + std::to_string(hop));
  if (!std::isfinite(snrDb) || std::fabs(snrDb) > 200)
    throw ToolError("--snr must be a finite number of dB within +-200");
  BandRequest bandRequest;
  if (!band.empty()) ParseBand(band, bandRequest.lowHz, bandRequest.highHz);
  FrameSettings frames;
  frames.hopSamples = static_cast<std::size_t>(hop);
  frames.blockS = blockS;
  if (!channels.empty())
    for (double c : Numbers("channels", channels)) {
      if (c < 0 || c != std::floor(c) || c > 65535)
        throw ToolError("--channels expects channel numbers from 0, found \"" + channels + "\"");
      frames.channels.push_back(static_cast<std::size_t>(c));
    }
  const bool json = vm.count("json") > 0;

  if (vm.count("self-test")) {
    if (files.size() != 1)
      throw ToolError("--self-test takes one TF file and no recording, found " + std::to_string(files.size()) +
                      " files");
    if (!truths.empty() || !truthJson.empty() || !compare.empty())
      throw ToolError("--self-test takes no --truth, --truth-json or --compare");
    const Steering steering = TfFileToSteering(files[0], bandRequest);
    for (const std::string& w : steering.warnings) std::cerr << "tflocate: warning: " << w << "\n";
    const SearchGrid grid = PositionsToGrid(steering.positions);
    if (grid.points.size() < 2) throw ToolError(files[0] + ": a self-test needs at least 2 distinct directions");
    SelfTestSettings settings;
    settings.snrDb = snrDb;
    const std::size_t hopSamples = frames.hopSamples ? frames.hopSamples : steering.nfft / 2;
    settings.snapshots = std::max<std::size_t>(
        2, static_cast<std::size_t>(std::llround(blockS * steering.samplingHz / static_cast<double>(hopSamples))));
    const SelfTest test = SteeringToSelfTest(steering, grid, method, settings);
    const std::string text = SelfTestToJson(steering, grid, method, test);
    if (json)
      std::cout << text;
    else
      SelfTestToText(steering, grid, method, test, std::cout);
    if (!plotDir.empty()) Plot(argv[0], plotDir, text);
    return kDone;
  }
  if (files.size() != 2)
    throw ToolError("expected a TF file and a recording, found " + std::to_string(files.size()) + " files; see --help");
  std::vector<Direction> truth;
  for (const std::string& t : truths) truth.push_back(TruthOf(t));
  if (!truthJson.empty()) {
    const std::vector<Direction> more = TruthFromJson(truthJson);
    truth.insert(truth.end(), more.begin(), more.end());
  }
  const bool keepSpectra = !plotDir.empty();
  std::vector<LocateRun> runs;
  runs.push_back(
      Locate(files[0], files[1], bandRequest, frames, method, static_cast<std::size_t>(sources), truth, keepSpectra));
  if (!compare.empty())
    runs.push_back(
        Locate(compare, files[1], bandRequest, frames, method, static_cast<std::size_t>(sources), truth, keepSpectra));
  if (json)
    std::cout << LocateToJson(runs, false);
  else
    LocateToText(runs, std::cout);
  if (!plotDir.empty()) {
    std::string text = LocateToJson(runs, true);
    // The plot marks the truth.
    std::ostringstream marks;
    marks << "{\"truth\":[";
    for (std::size_t t = 0; t < truth.size(); ++t)
      marks << (t ? "," : "") << "[" << truth[t].azimuthDeg << "," << truth[t].elevationDeg << "]";
    marks << "],";
    text = marks.str() + text.substr(1);
    Plot(argv[0], plotDir, text);
  }
  return kDone;
}

}  // namespace

int main(int argc, char** argv) { return vesktools::ToolMain("tflocate", Run, argc, argv); }
