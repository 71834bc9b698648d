// measim: synthesises the files a TSP list or impulse-response list names,
// for a microphone array in a free field or a simple simulated room.
#include <sys/stat.h>

#include <cerrno>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <limits>
#include <map>
#include <new>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include <boost/program_options.hpp>

#include "ConfigToScene.h"
#include "FloatFile.h"
#include "SceneToRecording.h"
#include "RoomToResponse.h"
#include "SceneToFiles.h"
#include "ToolError.h"
#include "base/Constants.h"
#include "ToolMain.h"
#include "veskio2/RegularFile.h"

namespace po = boost::program_options;
using namespace vesktools;

namespace {

// "SRC=VALUE" of a per-source option into `into`; throws ToolError naming
// the option and the text.
void ParseSourceValues(const std::vector<std::string>& texts, const char* option, std::map<std::size_t, double>& into) {
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
      throw ToolError(std::string("--") + option +
                      " expects SRC=VALUE (source position in the list, a number), found \"" + text + "\"");
    }
    into[src] = value;
  }
}

// A number option: finite and within [low, high], or ToolError naming it.
void CheckRange(const po::variables_map& vm, const char* option, double low, double high) {
  if (!vm.count(option)) return;
  const boost::any& value = vm[option].value();
  const double v = value.type() == typeid(double) ? boost::any_cast<double>(value) : std::nan("");
  if (!(v >= low && v <= high)) {
    std::ostringstream msg;
    msg << "--" << option << " must be a finite number from " << low << " to " << high << ", found " << v;
    throw ToolError(msg.str());
  }
}

// Inputs are read whole: a FIFO or device would block or never end.
void RequireRegularFile(const std::string& path, const char* option) {
  struct stat info;
  if (::stat(path.c_str(), &info) != 0)
    throw ToolError(std::string("--") + option + " " + path + ": " + std::strerror(errno));
  if (!S_ISREG(info.st_mode))
    throw ToolError(std::string("--") + option + " " + path + ": " + veskio2::kNotRegularFile);
}

// A list's file names stay below --output-dir and never name an input.
void CheckListEntries(const Scene& scene, const std::string& listPath, const std::string& outputDir,
                      const std::vector<std::string>& inputs) {
  namespace fs = std::filesystem;
  std::vector<fs::path> inputPaths;
  for (const std::string& input : inputs)
    if (!input.empty()) inputPaths.push_back(fs::weakly_canonical(fs::absolute(input)));
  for (const SceneSource& source : scene.sources)
    for (const SceneFile& file : source.files) {
      const fs::path name(file.name);
      bool outside = name.empty() || name.is_absolute();
      for (const fs::path& part : name) outside = outside || part == "..";
      if (outside) throw ToolError(listPath + ": entry \"" + file.name + "\" is not a path below --output-dir");
      const fs::path target = fs::weakly_canonical(fs::absolute(fs::path(outputDir) / name));
      for (const fs::path& input : inputPaths)
        if (target == input)
          throw ToolError(listPath + ": entry \"" + file.name + "\" names measim's own input " + input.string());
    }
}

// "A,B,C" as exactly `count` finite numbers; throws ToolError naming the option.
std::vector<double> ParseNumbers(const std::string& text, const char* option, std::size_t count) {
  std::vector<double> values;
  std::size_t start = 0;
  while (true) {
    const std::size_t comma = text.find(',', start);
    const std::string item = text.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
    try {
      std::size_t used = 0;
      const double v = std::stod(item, &used);
      if (used != item.size() || !std::isfinite(v)) throw std::invalid_argument(item);
      values.push_back(v);
    } catch (const std::logic_error&) {
      values.clear();
      break;
    }
    if (comma == std::string::npos) break;
    start = comma + 1;
  }
  if (values.size() != count)
    throw ToolError(std::string("--") + option + " expects " + std::to_string(count) +
                    " comma-separated numbers, found \"" + text + "\"");
  return values;
}

// The room's settings from the command line; every source and microphone
// (and the sphere) must lie inside.
void SetUpRoom(const po::variables_map& vm, const Scene& scene, ResponseSettings& response) {
  RoomSettings& room = response.room;
  const std::vector<double> size = ParseNumbers(vm["room"].as<std::string>(), "room", 3);
  room.size = Point3{size[0], size[1], size[2]};
  if (!(size[0] > 0 && size[1] > 0 && size[2] > 0)) throw ToolError("--room needs three positive lengths in metres");
  if (!vm.count("array-at")) throw ToolError("--room needs --array-at X,Y,Z (the array's origin in the room)");
  const std::vector<double> at = ParseNumbers(vm["array-at"].as<std::string>(), "array-at", 3);
  room.array_at = Point3{at[0], at[1], at[2]};
  for (const char* option : {"drr", "tail-gap"})
    if (!vm[option].defaulted())
      throw ToolError(std::string("--") + option + " has no meaning with --room: the walls make the reverberation");
  const bool rt60 = !vm["rt60"].defaulted(), reflection = vm.count("reflection") > 0;
  if (rt60 == reflection) throw ToolError("--room needs one of --rt60 (seconds) and --reflection (six coefficients)");
  if (reflection) {
    const std::vector<double> b = ParseNumbers(vm["reflection"].as<std::string>(), "reflection", 6);
    for (std::size_t w = 0; w < 6; ++w) {
      if (!(std::fabs(b[w]) <= 1.0)) throw ToolError("--reflection coefficients must lie in [-1, 1]");
      room.reflection[w] = b[w];
    }
  } else {
    room.reflection.fill(Rt60ToReflection(room.size, response.rt60_s, response.speed_of_sound_mps));
  }
  response.rt60_s = 0.0;  // the walls, not the tail
  room.enabled = true;
  const double margin = response.sphere_radius_m;
  auto inside = [&](const Point3& p, double pad) {
    const Point3 q = ArrayToRoom(p, room);
    return q.x > pad && q.y > pad && q.z > pad && q.x < room.size.x - pad && q.y < room.size.y - pad &&
           q.z < room.size.z - pad;
  };
  auto where = [&](const Point3& p) {
    const Point3 q = ArrayToRoom(p, room);
    std::ostringstream text;
    text << "(" << q.x << ", " << q.y << ", " << q.z << ") m, the room is " << room.size.x << " x " << room.size.y
         << " x " << room.size.z << " m";
    return text.str();
  };
  if (!inside(Point3{}, margin))
    throw ToolError("the array (and its sphere) must lie inside the room: at " + where(Point3{}));
  for (const SceneMic& mic : scene.mics)
    if (!inside(mic.position, 0.0))
      throw ToolError("microphone with micIndex " + std::to_string(mic.micIndex) + " lies outside the room: at " +
                      where(mic.position));
  for (std::size_t src = 0; src < scene.sources.size(); ++src)
    if (!inside(scene.sources[src].position, 0.0))
      throw ToolError("source " + std::to_string(src) + " lies outside the room: at " +
                      where(scene.sources[src].position));
}

// Every microphone lies on the sphere's surface, to within 1 mm.
void CheckMicsOnSphere(const Scene& scene, double radius_m) {
  if (!(radius_m > 0) || !std::isfinite(radius_m)) {
    std::ostringstream msg;
    msg << "--sphere-radius must be a positive number of metres, found " << radius_m;
    throw ToolError(msg.str());
  }
  for (const SceneMic& mic : scene.mics) {
    const Point3& p = mic.position;
    const double distance = std::sqrt(p.x * p.x + p.y * p.y + p.z * p.z);
    if (std::fabs(distance - radius_m) > 1e-3) {
      std::ostringstream msg;
      msg << "microphone with micIndex " << mic.micIndex << " lies " << distance
          << " m from the array's origin, not on the sphere of radius " << radius_m << " m (within 1 mm)";
      throw ToolError(msg.str());
    }
  }
}

// "MICINDEX=SAMPLES" of --channel-latency into `response`: each microphone
// at most once, each one the array file holds, a finite number of samples.
void SetChannelLatencies(const std::vector<std::string>& texts, const Scene& scene, const std::string& micPath,
                         ResponseSettings& response) {
  for (const std::string& text : texts) {
    const std::size_t eq = text.find('=');
    unsigned long micIndex = 0;
    double samples = 0;
    try {
      std::size_t used = 0, usedValue = 0;
      if (eq == std::string::npos || eq == 0 || text[0] == '-' || text[0] == '+') throw std::invalid_argument(text);
      micIndex = std::stoul(text.substr(0, eq), &used);
      samples = std::stod(text.substr(eq + 1), &usedValue);
      if (used != eq || usedValue != text.size() - eq - 1 || !std::isfinite(samples) || std::fabs(samples) > 1e6 ||
          micIndex > std::numeric_limits<unsigned int>::max())
        throw std::invalid_argument(text);
    } catch (const std::logic_error&) {
      throw ToolError(
          "--channel-latency expects MICINDEX=SAMPLES (a micIndex of the array file, a finite number "
          "within +-1e6), found \"" +
          text + "\"");
    }
    const auto index = static_cast<unsigned int>(micIndex);
    bool known = false;
    for (const SceneMic& mic : scene.mics) known = known || mic.micIndex == index;
    if (!known)
      throw ToolError("--channel-latency " + text + ": " + micPath + " has no microphone with micIndex " +
                      text.substr(0, eq));
    if (!response.channel_latency_samples.emplace(index, samples).second)
      throw ToolError("--channel-latency: micIndex " + text.substr(0, eq) + " is given twice");
  }
}

int Run(int argc, char** argv) {
  std::string micPath, listPath, playbackPath, waveFormat;
  ResponseSettings response;
  OutputSettings output;
  unsigned int samplingFreq = 0;
  double snr = 0;
  std::vector<std::string> sourceGains, sourceSnrs, sourceMoves, channelLatencies;
  std::vector<unsigned int> swapMics;
  std::string scenePath;
  std::vector<std::string> sourceSpecs;
  SceneRecordingSettings sceneSettings;
  po::options_description opts("measim options");
  opts.add_options()("help,h", "show this text")("mic", po::value(&micPath), "microphone-array location file")(
      "list", po::value(&listPath), "TSP list or impulse-response list file")(
      "playback", po::value(&playbackPath), "playback wave (mono), needed for a TSP list")(
      "output-dir", po::value(&output.output_dir)->default_value("."),
      "directory the list's file names are relative to")("wave-format", po::value(&waveFormat)->default_value("pcm16"),
                                                         "recordings as pcm16 or float")(
      "gain", po::value(&output.gain)->default_value(1.0), "linear gain applied to the recordings")(
      "snr", po::value(&snr), "add sensor noise this many dB below each channel's mean power")(
      "rt60", po::value(&response.rt60_s)->default_value(0.0),
      "reverberation time of the room tail, seconds (0: none)")("drr", po::value(&response.drr_db)->default_value(6.0),
                                                                "direct-to-reverberant energy ratio of the tail, dB")(
      "tail-gap", po::value(&response.tail_gap_s)->default_value(0.002), "seconds from the direct sound to the tail")(
      "ir-length", po::value(&response.length_samples)->default_value(4096),
      "samples per response (and per .flt file)")("sampling-freq", po::value(&samplingFreq)->default_value(16000),
                                                  "Hz, for an impulse-response list")(
      "speed-of-sound", po::value(&response.speed_of_sound_mps)->default_value(vesk::kSpeedOfSound),
      "metres per second")("filter-half-width",
                           po::value(&response.delay_filter.half_width_samples)->default_value(127.0),
                           "samples each side of the fractional-delay filter's centre")(
      "kaiser-beta", po::value(&response.delay_filter.kaiser_beta)->default_value(8.0), "window shape of that filter")(
      "latency", po::value(&response.latency_samples), "samples added to every delay (default: the half-width)")(
      "seed", po::value(&response.seed)->default_value(1), "seed of the tail and noise generators")(
      "response-dir", po::value(&output.response_dir), "also write each response used as src%03u_mic%02u.flt here")(
      "source-gain", po::value(&sourceGains)->composing(),
      "SRC=G: the recordings of source SRC (list position) get linear gain G on top of --gain (repeatable)")(
      "source-snr", po::value(&sourceSnrs)->composing(),
      "SRC=DB: the recordings of source SRC get sensor noise DB below their power, instead of --snr (repeatable)")(
      "clock-drift", po::value(&output.clock_drift_ppm)->default_value(0.0),
      "ppm by which the recorder's clock runs faster than the player's (negative: slower)")(
      "allow-clipping", po::bool_switch(&output.allow_clipping),
      "saturate 16-bit recordings that would clip instead of refusing them")(
      "move-source", po::value(&sourceMoves)->composing(),
      "SRC=DEG: simulate source SRC's loudspeaker DEG degrees further in azimuth (about z) than the list says")(
      "scene", po::value(&scenePath),
      "OUT.wav: record a scene of the --source entries instead of a list's files (truth in OUT.json)")(
      "source", po::value(&sourceSpecs)->composing(),
      "azimuth=DEG,elevation=DEG,distance=M,signal=noise|pink|speech|FILE[,level=DB][,start=S] (repeatable)")(
      "duration", po::value(&sceneSettings.duration_s), "seconds the scene's recording lasts")(
      "diffuse-snr", po::value(&sceneSettings.diffuse_snr_db),
      "add an isotropic noise field this many dB below the sources' direct sound at the origin")(
      "sphere-radius", po::value(&response.sphere_radius_m),
      "metres: the array sits on a rigid sphere of this radius centred on its origin (a head)")(
      "room", po::value<std::string>(), "LX,LY,LZ: a shoebox room of these sides (metres) with image-source walls")(
      "array-at", po::value<std::string>(), "X,Y,Z: the array's origin in the room, metres")(
      "array-yaw", po::value(&response.room.array_yaw_deg)->default_value(0.0), "degrees the array is turned about z")(
      "reflection", po::value<std::string>(),
      "X0,X1,Y0,Y1,Z0,Z1: pressure reflection coefficients of the six walls (instead of --rt60)")(
      "max-order", po::value(&response.room.max_order),
      "highest image order (default: every image that arrives within --ir-length)")(
      "scatter-order", po::value(&response.room.scatter_order)->default_value(2),
      "with a sphere: images up to this order are scattered by it, later ones reach the free-field positions")(
      "channel-latency", po::value(&channelLatencies)->composing(),
      "MICINDEX=SAMPLES: the channel of that microphone lags the others by SAMPLES (fractional; repeatable)")(
      "swap-mics", po::value(&swapMics)->multitoken()->value_name("A B"),
      "simulate the microphones with micIndex A and B at each other's place (swapped cables)");
  po::variables_map vm;
  po::store(po::parse_command_line(argc, argv, opts), vm);
  po::notify(vm);
  if (vm.count("help")) {
    std::cout
        << "Usage: measim --mic MIC.xml --list LIST.xml [--playback PLAY.wav] [options]\n"
           "       measim --mic MIC.xml --scene OUT.wav --source SPEC [--source SPEC ...] --duration S [options]\n"
        << opts << "\n";
    return 0;
  }
  const bool sceneMode = vm.count("scene") > 0;
  if (sceneMode) {
    if (micPath.empty() || !listPath.empty()) throw ToolError("--scene needs --mic and takes no --list (see --help)");
    if (sourceSpecs.empty()) throw ToolError("--scene needs at least one --source");
    if (!vm.count("duration") || !(sceneSettings.duration_s > 0) || !(sceneSettings.duration_s <= 86400))
      throw ToolError("--scene needs --duration, seconds above 0 and at most 86400");
    if (vm.count("source-snr") || vm.count("playback") || vm.count("response-dir"))
      throw ToolError("--source-snr, --playback and --response-dir belong to a list's recordings, not to --scene");
  } else if (micPath.empty() || listPath.empty()) {
    throw ToolError("both --mic and --list are required (see --help)");
  } else {
    for (const char* option : {"source", "duration", "diffuse-snr"})
      if (vm.count(option)) throw ToolError(std::string("--") + option + " needs --scene");
  }
  if (waveFormat == "pcm16")
    output.wave_format = WaveFormat::PCM16;
  else if (waveFormat == "float")
    output.wave_format = WaveFormat::FLOAT32;
  else
    throw ToolError("--wave-format must be pcm16 or float, found " + waveFormat);
  // Every number before it sizes, loops or fills anything.
  if (response.length_samples < 1 || response.length_samples > (std::size_t{1} << 24)) {
    std::ostringstream msg;
    msg << "--ir-length must be 1 to 16777216 samples, found " << response.length_samples;
    throw ToolError(msg.str());
  }
  CheckRange(vm, "speed-of-sound", 1.0, 1e5);
  CheckRange(vm, "gain", -1e6, 1e6);
  CheckRange(vm, "snr", -300, 300);
  CheckRange(vm, "drr", -300, 300);
  CheckRange(vm, "rt60", 0, 1000);
  CheckRange(vm, "tail-gap", 0, 1000);
  CheckRange(vm, "filter-half-width", 1, 65536);
  CheckRange(vm, "kaiser-beta", 0, 50);
  CheckRange(vm, "latency", 0, 1e8);
  CheckRange(vm, "clock-drift", -99999, 99999);
  CheckRange(vm, "array-yaw", -1e6, 1e6);
  CheckRange(vm, "diffuse-snr", -300, 300);
  if (vm.count("max-order") && response.room.max_order < 0) throw ToolError("--max-order must not be negative");
  if (!vm.count("latency")) response.latency_samples = response.delay_filter.half_width_samples;
  if (vm.count("snr")) {
    output.add_noise = true;
    output.snr_db = snr;
  }
  if (response.rt60_s < 0) throw ToolError("--rt60 must not be negative");
  ParseSourceValues(sourceGains, "source-gain", output.source_gain);
  ParseSourceValues(sourceSnrs, "source-snr", output.source_snr_db);

  std::vector<SceneSourceSpec> specs;
  Scene scene;
  if (sceneMode) {
    scene.mics = ConfigToMics(micPath);
    for (const std::string& text : sourceSpecs) {
      specs.push_back(ParseSourceSpec(text));
      scene.sources.push_back(SceneSource{SpecPosition(specs.back()), {}});
    }
    if (vm.count("diffuse-snr")) sceneSettings.diffuse = true;
  } else {
    scene = ConfigToScene(micPath, listPath);
    CheckListEntries(scene, listPath, output.output_dir, {micPath, listPath, playbackPath});
    // The responses of an impulse-response list are written as simulated:
    // an option for the recordings would be ignored without a word.
    if (scene.kind == ListKind::IMPULSE_RESPONSE)
      for (const char* option :
           {"snr", "source-snr", "gain", "source-gain", "clock-drift", "allow-clipping", "wave-format", "playback"})
        if (vm.count(option) && !vm[option].defaulted())
          throw ToolError(std::string("--") + option + " shapes the recordings of a TSP list; " + listPath +
                          " is an impulse-response list, whose responses are written as simulated");
  }
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
  SetChannelLatencies(channelLatencies, scene, micPath, response);
  if (vm.count("sphere-radius")) CheckMicsOnSphere(scene, response.sphere_radius_m);
  if (vm.count("room"))
    SetUpRoom(vm, scene, response);
  else
    for (const char* option : {"array-at", "reflection", "max-order"})
      if (vm.count(option)) throw ToolError(std::string("--") + option + " needs --room");
  // The image count of one response, for a sense of the room's cost.
  const auto reportImages = [&](double sampling_hz) {
    if (!response.room.enabled || scene.sources.empty() || scene.mics.empty()) return;
    ResponseSettings at = response;
    at.sampling_hz = sampling_hz;
    std::cout << "measim: images per response: "
              << RoomImages(scene.sources[0].position, scene.mics[0].position, at).size()
              << " (source 0, first microphone)\n";
  };
  SimulationReport report;
  if (sceneMode) {
    if (samplingFreq == 0) throw ToolError("--sampling-freq must be at least 1");
    response.sampling_hz = samplingFreq;
    for (const SceneSourceSpec& spec : specs)
      if (spec.signal != "noise" && spec.signal != "pink" && spec.signal != "speech")
        RequireRegularFile(spec.signal, "source");
    const double bytes = std::round(sceneSettings.duration_s * samplingFreq) * static_cast<double>(scene.mics.size()) *
                         (output.wave_format == WaveFormat::PCM16 ? 2.0 : 4.0);
    if (bytes > 4294967295.0 - 1024.0) throw ToolError(scenePath + ": the scene exceeds the 4 GiB a WAV file can hold");
    const Sound recording = RenderScene(scene, specs, sceneSettings, response, output);
    WriteSound(scenePath, recording, output.wave_format);
    reportImages(response.sampling_hz);
    const std::string truth = SceneTruthJson(specs, static_cast<int>(samplingFreq), sceneSettings.duration_s);
    WriteOutputFile(TruthPath(scenePath), truth.data(), truth.size());
    std::cout << "measim: wrote the scene " << scenePath << " (" << recording.channels.size() << " channels, "
              << recording.Frames() << " frames) and its truth " << TruthPath(scenePath) << "\n";
  } else if (scene.kind == ListKind::TSP) {
    if (playbackPath.empty()) throw ToolError(listPath + " is a TSP list: --playback is required");
    RequireRegularFile(playbackPath, "playback");
    const Sound playback = ReadSound(playbackPath);
    // A WAV file's sizes are 32-bit: refuse before the work what would not fit.
    const double frames = std::round(static_cast<double>(playback.Frames()) * (1.0 + output.clock_drift_ppm * 1e-6)) +
                          static_cast<double>(response.length_samples) - 1.0;
    for (const SceneSource& source : scene.sources)
      for (const SceneFile& file : source.files) {
        const double bytes = frames * static_cast<double>(file.micIndices.size()) *
                             (output.wave_format == WaveFormat::PCM16 ? 2.0 : 4.0);
        if (bytes > 4294967295.0 - 1024.0) {
          std::ostringstream msg;
          msg << file.name << ": a recording of " << frames << " frames x " << file.micIndices.size()
              << " channels exceeds the 4 GiB a WAV file can hold";
          throw ToolError(msg.str());
        }
      }
    report = WriteRecordings(scene, playback, response, output);
    reportImages(playback.sampleRateHz);
    std::cout << "measim: wrote " << report.files << " recordings of " << report.frames << " frames under "
              << output.output_dir << "\n";
  } else {
    if (samplingFreq == 0) throw ToolError("--sampling-freq must be at least 1");
    response.sampling_hz = samplingFreq;
    report = WriteImpulseResponses(scene, response, output);
    reportImages(response.sampling_hz);
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
