// measim: synthesises the files a TSP list or impulse-response list names,
// for a microphone array in a free field or a simple simulated room.
#include <cmath>
#include <iostream>
#include <map>
#include <new>
#include <stdexcept>
#include <string>
#include <vector>

#include <boost/program_options.hpp>


#include "ConfigToScene.h"
#include "SceneToFiles.h"
#include "ToolError.h"
#include "base/Constants.h"
#include "ToolMain.h"

namespace po = boost::program_options;
using namespace vesktools;

namespace {

// "SRC=VALUE" of a per-source option into `into`; throws ToolError naming
// the option and the text.
void ParseSourceValues(const std::vector<std::string>& texts, const char* option,
                       std::map<std::size_t, double>& into) {
  for (const std::string& text : texts) {
    const std::size_t eq = text.find('=');
    std::size_t src = 0;
    double value = 0;
    try {
      std::size_t used = 0, usedValue = 0;
      if (eq == std::string::npos || eq == 0 || text[0] == '-') throw std::invalid_argument(text);
      src = std::stoul(text.substr(0, eq), &used);
      value = std::stod(text.substr(eq + 1), &usedValue);
      if (used != eq || usedValue != text.size() - eq - 1 || !std::isfinite(value)) throw std::invalid_argument(text);
    } catch (const std::logic_error&) {
      throw ToolError(std::string("--") + option + " expects SRC=VALUE (source position in the list, a number), found \"" +
                      text + "\"");
    }
    into[src] = value;
  }
}

int Run(int argc, char** argv) {
  std::string micPath, listPath, playbackPath, waveFormat;
  ResponseSettings response;
  OutputSettings output;
  unsigned int samplingFreq = 0;
  double snr = 0;
  std::vector<std::string> sourceGains, sourceSnrs, sourceMoves;
  std::vector<unsigned int> swapMics;
  po::options_description opts("measim options");
  opts.add_options()
      ("help,h", "show this text")
      ("mic", po::value(&micPath), "microphone-array location file")
      ("list", po::value(&listPath), "TSP list or impulse-response list file")
      ("playback", po::value(&playbackPath), "playback wave (mono), needed for a TSP list")
      ("output-dir", po::value(&output.output_dir)->default_value("."), "directory the list's file names are relative to")
      ("wave-format", po::value(&waveFormat)->default_value("pcm16"), "recordings as pcm16 or float")
      ("gain", po::value(&output.gain)->default_value(1.0), "linear gain applied to the recordings")
      ("snr", po::value(&snr), "add sensor noise this many dB below each channel's mean power")
      ("rt60", po::value(&response.rt60_s)->default_value(0.0), "reverberation time of the room tail, seconds (0: none)")
      ("drr", po::value(&response.drr_db)->default_value(6.0), "direct-to-reverberant energy ratio of the tail, dB")
      ("tail-gap", po::value(&response.tail_gap_s)->default_value(0.002), "seconds from the direct sound to the tail")
      ("ir-length", po::value(&response.length_samples)->default_value(4096), "samples per response (and per .flt file)")
      ("sampling-freq", po::value(&samplingFreq)->default_value(16000), "Hz, for an impulse-response list")
      ("speed-of-sound", po::value(&response.speed_of_sound_mps)->default_value(vesk::kSpeedOfSound), "metres per second")
      ("filter-half-width", po::value(&response.delay_filter.half_width_samples)->default_value(127.0),
       "samples each side of the fractional-delay filter's centre")
      ("kaiser-beta", po::value(&response.delay_filter.kaiser_beta)->default_value(8.0), "window shape of that filter")
      ("latency", po::value(&response.latency_samples), "samples added to every delay (default: the half-width)")
      ("seed", po::value(&response.seed)->default_value(1), "seed of the tail and noise generators")
      ("response-dir", po::value(&output.response_dir), "also write each response used as src%03u_mic%02u.flt here")
      ("source-gain", po::value(&sourceGains)->composing(),
       "SRC=G: the recordings of source SRC (list position) get linear gain G on top of --gain (repeatable)")
      ("source-snr", po::value(&sourceSnrs)->composing(),
       "SRC=DB: the recordings of source SRC get sensor noise DB below their power, instead of --snr (repeatable)")
      ("clock-drift", po::value(&output.clock_drift_ppm)->default_value(0.0),
       "ppm by which the recorder's clock runs faster than the player's (negative: slower)")
      ("allow-clipping", po::bool_switch(&output.allow_clipping),
       "saturate 16-bit recordings that would clip instead of refusing them")
      ("move-source", po::value(&sourceMoves)->composing(),
       "SRC=DEG: simulate source SRC's loudspeaker DEG degrees further in azimuth (about z) than the list says")
      ("swap-mics", po::value(&swapMics)->multitoken(),
       "A B: simulate the microphones with micIndex A and B at each other's place (swapped cables)");
  po::variables_map vm;
  po::store(po::parse_command_line(argc, argv, opts), vm);
  po::notify(vm);
  if (vm.count("help")) {
    std::cout << "Usage: measim --mic MIC.xml --list LIST.xml [--playback PLAY.wav] [options]\n" << opts << "\n";
    return 0;
  }
  if (micPath.empty() || listPath.empty()) throw ToolError("both --mic and --list are required (see --help)");
  if (waveFormat == "pcm16")
    output.wave_format = WaveFormat::PCM16;
  else if (waveFormat == "float")
    output.wave_format = WaveFormat::FLOAT32;
  else
    throw ToolError("--wave-format must be pcm16 or float, found " + waveFormat);
  if (!vm.count("latency")) response.latency_samples = response.delay_filter.half_width_samples;
  if (vm.count("snr")) {
    output.add_noise = true;
    output.snr_db = snr;
  }
  if (response.rt60_s < 0) throw ToolError("--rt60 must not be negative");
  ParseSourceValues(sourceGains, "source-gain", output.source_gain);
  ParseSourceValues(sourceSnrs, "source-snr", output.source_snr_db);

  Scene scene = ConfigToScene(micPath, listPath);
  std::map<std::size_t, double> moves;
  ParseSourceValues(sourceMoves, "move-source", moves);
  for (const auto& move : moves) {
    if (move.first >= scene.sources.size())
      throw ToolError("--move-source: the list has no source " + std::to_string(move.first));
    Point3& p = scene.sources[move.first].position;
    const double a = move.second * vesk::kPi / 180.0;
    p = Point3{p.x * std::cos(a) - p.y * std::sin(a), p.x * std::sin(a) + p.y * std::cos(a), p.z};
  }
  if (!swapMics.empty()) {
    if (swapMics.size() != 2) throw ToolError("--swap-mics expects two micIndex values");
    std::swap(scene.mics[FindMic(scene, swapMics[0], micPath)].position,
              scene.mics[FindMic(scene, swapMics[1], micPath)].position);
  }
  SimulationReport report;
  if (scene.kind == ListKind::TSP) {
    if (playbackPath.empty()) throw ToolError(listPath + " is a TSP list: --playback is required");
    report = WriteRecordings(scene, ReadSound(playbackPath), response, output);
    std::cout << "measim: wrote " << report.files << " recordings of " << report.frames << " frames under "
              << output.output_dir << "\n";
  } else {
    if (samplingFreq == 0) throw ToolError("--sampling-freq must be at least 1");
    response.sampling_hz = samplingFreq;
    report = WriteImpulseResponses(scene, response, output);
    std::cout << "measim: wrote " << report.files << " impulse responses of " << report.frames << " samples under "
              << output.output_dir << "\n";
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  return vesktools::ToolMain("measim", Run, argc, argv,
                              "out of memory while simulating the measurement; the files written so far are whole");
}
