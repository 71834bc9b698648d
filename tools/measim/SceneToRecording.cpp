#include "SceneToRecording.h"

#include <algorithm>
#include <cmath>
#include <map>
#include <random>
#include <sstream>

#include "JsonWriter.h"
#include "PlaybackToDrifted.h"
#include "ResponseToRecording.h"
#include "SphereToResponse.h"
#include "ToolError.h"
#include "base/Constants.h"

namespace vesktools {
namespace {

ToolError SpecError(const std::string& text, const std::string& why) {
  return ToolError("--source \"" + text + "\": " + why +
                   " (expected azimuth=DEG,elevation=DEG,distance=M,signal=SIG[,level=DB][,start=S])");
}

void NormaliseRms(std::vector<double>& x) {
  double power = 0;
  for (double v : x) power += v * v;
  if (power == 0) return;
  const double scale = 1.0 / std::sqrt(power / static_cast<double>(x.size()));
  for (double& v : x) v *= scale;
}

// Voss-free pink noise: Paul Kellet's filter of white noise (within 0.05 dB
// of -3 dB per octave above 10 Hz at 44.1 kHz; close enough at other rates).
std::vector<double> Pink(std::size_t n, std::mt19937_64& rng) {
  std::normal_distribution<double> gauss(0.0, 1.0);
  std::vector<double> x(n);
  double b0 = 0, b1 = 0, b2 = 0, b3 = 0, b4 = 0, b5 = 0, b6 = 0;
  for (double& v : x) {
    const double w = gauss(rng);
    b0 = 0.99886 * b0 + w * 0.0555179;
    b1 = 0.99332 * b1 + w * 0.0750759;
    b2 = 0.96900 * b2 + w * 0.1538520;
    b3 = 0.86650 * b3 + w * 0.3104856;
    b4 = 0.55000 * b4 + w * 0.5329522;
    b5 = -0.7616 * b5 - w * 0.0168980;
    v = b0 + b1 + b2 + b3 + b4 + b5 + b6 + w * 0.5362;
    b6 = w * 0.115926;
  }
  return x;
}

// Speech-like: a harmonic source (f0 gliding round 130 Hz, harmonics at
// 1/k) in syllables of 0.2 s with 0.05 s pauses, each through the three
// formant resonances of one of five vowels.
std::vector<double> Speech(std::size_t n, double fs) {
  static const double kFormants[5][3] = {
      {730, 1090, 2440}, {270, 2290, 3010}, {300, 870, 2240}, {530, 1840, 2480}, {570, 840, 2410}};
  const double syllable = 0.25 * fs, voiced = 0.2 * fs;  // samples
  std::vector<double> source(n);
  double phase = 0;
  for (std::size_t t = 0; t < n; ++t) {
    const double time = static_cast<double>(t) / fs;
    const double f0 =
        130.0 * (1.0 + 0.12 * std::sin(2 * vesk::kPi * 0.9 * time) + 0.05 * std::sin(2 * vesk::kPi * 3.1 * time));
    phase += 2 * vesk::kPi * f0 / fs;
    const double inSyllable = std::fmod(static_cast<double>(t), syllable);
    const double envelope = inSyllable < voiced ? std::pow(std::sin(vesk::kPi * inSyllable / voiced), 2) : 0.0;
    double v = 0;
    for (int k = 1; k * f0 < 0.45 * fs; ++k) v += std::sin(k * phase) / k;
    source[t] = envelope * v;
  }
  // Parallel two-pole resonators, bandwidths 80, 100, 120 Hz.
  std::vector<double> out(n, 0.0);
  for (int f = 0; f < 3; ++f) {
    double y1 = 0, y2 = 0;
    const double bandwidth = 80.0 + 20.0 * f, r = std::exp(-vesk::kPi * bandwidth / fs);
    for (std::size_t t = 0; t < n; ++t) {
      const auto vowel = static_cast<std::size_t>(static_cast<double>(t) / syllable) % 5;
      const double centre = std::min(kFormants[vowel][f], 0.45 * fs);
      const double y = (1 - r) * source[t] + 2 * r * std::cos(2 * vesk::kPi * centre / fs) * y1 - r * r * y2;
      y2 = y1;
      y1 = y;
      out[t] += y / (f + 1);
    }
  }
  return out;
}

std::vector<double> SourceSignal(const SceneSourceSpec& spec, std::size_t n, double fs, uint64_t seed,
                                 std::size_t src) {
  // 0x7369676e616c ("signal") keeps these streams apart from the others.
  std::seed_seq seq{seed, uint64_t{0x7369676e616c}, static_cast<uint64_t>(src)};
  std::mt19937_64 rng(seq);
  std::vector<double> x;
  if (spec.signal == "noise") {
    std::normal_distribution<double> gauss(0.0, 1.0);
    x.resize(n);
    for (double& v : x) v = gauss(rng);
  } else if (spec.signal == "pink") {
    x = Pink(n, rng);
  } else if (spec.signal == "speech") {
    x = Speech(n, fs);
  } else {
    const Sound sound = ReadSound(spec.signal);
    if (sound.channels.size() != 1 || sound.sampleRateHz != static_cast<int>(fs)) {
      std::ostringstream msg;
      msg << spec.signal << ": a source's wave must be mono at " << fs << " Hz, found " << sound.channels.size()
          << " channels at " << sound.sampleRateHz << " Hz";
      throw ToolError(msg.str());
    }
    x = sound.channels[0];
    if (x.size() > n) x.resize(n);
  }
  NormaliseRms(x);
  return x;
}

// Evenly spread directions (Fibonacci lattice on the sphere), unit vectors.
std::vector<Point3> SphereDirections(int count) {
  std::vector<Point3> d;
  const double golden = vesk::kPi * (3.0 - std::sqrt(5.0));
  for (int i = 0; i < count; ++i) {
    const double z = 1.0 - (2.0 * i + 1.0) / count, rho = std::sqrt(1.0 - z * z);
    d.push_back(Point3{rho * std::cos(golden * i), rho * std::sin(golden * i), z});
  }
  return d;
}

// Plane wave from `direction` to the microphone at `mic` (array coordinates):
// unit level at the origin, arriving there `lead` samples after the latency
// (lead: the array's radius in samples and more, the same for every
// microphone, so that the earliest microphone's filter still fits), and the
// channel latency of the microphone `micIndex`.
std::vector<double> PlaneWaveResponse(const Point3& direction, const Point3& mic, unsigned int micIndex,
                                      ResponseSettings settings, double lead) {
  settings.latency_samples = ChannelLatencySamples(settings, micIndex) + lead;
  std::vector<double> r(settings.length_samples, 0.0);
  if (settings.sphere_radius_m > 0) {
    constexpr double kFar = 1e4;  // metres: a plane wave to 1e-5 of the sphere's size
    ResponseSettings near = settings;
    near.latency_samples -= (kFar - settings.sphere_radius_m) * settings.sampling_hz / settings.speed_of_sound_mps;
    AddSphereResponse(r, Point3{kFar * direction.x, kFar * direction.y, kFar * direction.z}, mic,
                      settings.sphere_radius_m, kFar, near);
  } else {
    const double ahead = direction.x * mic.x + direction.y * mic.y + direction.z * mic.z;  // metres
    AddFractionalDelay(r, settings.latency_samples - ahead * settings.sampling_hz / settings.speed_of_sound_mps, 1.0,
                       settings.delay_filter);
  }
  return r;
}

void AddInto(std::vector<double>& channel, const std::vector<double>& part, std::size_t start, double gain) {
  for (std::size_t n = 0; n < part.size() && start + n < channel.size(); ++n) channel[start + n] += gain * part[n];
}

}  // namespace

SceneSourceSpec ParseSourceSpec(const std::string& text) {
  SceneSourceSpec spec;
  std::map<std::string, std::string> fields;
  std::size_t begin = 0;
  while (begin <= text.size()) {
    std::size_t comma = text.find(',', begin);
    std::string item = text.substr(begin, comma == std::string::npos ? std::string::npos : comma - begin);
    const std::size_t eq = item.find('=');
    if (eq == std::string::npos) throw SpecError(text, "\"" + item + "\" is not KEY=VALUE");
    const std::string key = item.substr(0, eq);
    if (key == "signal") {
      // A file name may hold commas: the signal takes the rest up to a known key.
      std::string value = item.substr(eq + 1);
      while (comma != std::string::npos) {
        const std::string rest = text.substr(comma + 1);
        if (rest.rfind("level=", 0) == 0 || rest.rfind("start=", 0) == 0 || rest.rfind("azimuth=", 0) == 0 ||
            rest.rfind("elevation=", 0) == 0 || rest.rfind("distance=", 0) == 0)
          break;
        const std::size_t next = text.find(',', comma + 1);
        value += "," + text.substr(comma + 1, next == std::string::npos ? std::string::npos : next - comma - 1);
        comma = next;
      }
      item = key + "=" + value;
    }
    if (!fields.emplace(key, item.substr(eq + 1)).second) throw SpecError(text, key + " is given twice");
    if (comma == std::string::npos) break;
    begin = comma + 1;
  }
  auto number = [&](const char* key, bool required, double fallback) {
    const auto it = fields.find(key);
    if (it == fields.end()) {
      if (required) throw SpecError(text, std::string(key) + " is missing");
      return fallback;
    }
    try {
      std::size_t used = 0;
      const double v = std::stod(it->second, &used);
      if (used != it->second.size() || !std::isfinite(v)) throw std::invalid_argument(it->second);
      return v;
    } catch (const std::logic_error&) {
      throw SpecError(text, std::string(key) + " must be a finite number, found \"" + it->second + "\"");
    }
  };
  for (const auto& field : fields)
    if (field.first != "azimuth" && field.first != "elevation" && field.first != "distance" &&
        field.first != "signal" && field.first != "level" && field.first != "start")
      throw SpecError(text, "unknown key \"" + field.first + "\"");
  spec.azimuth_deg = number("azimuth", true, 0);
  spec.elevation_deg = number("elevation", true, 0);
  spec.distance_m = number("distance", true, 0);
  spec.level_db = number("level", false, 0);
  spec.start_s = number("start", false, 0);
  if (!fields.count("signal") || fields["signal"].empty()) throw SpecError(text, "signal is missing");
  spec.signal = fields["signal"];
  if (!(spec.distance_m > 0)) throw SpecError(text, "distance must be above 0 m");
  if (std::fabs(spec.elevation_deg) > 90) throw SpecError(text, "elevation must lie within -90 .. 90 degrees");
  if (spec.start_s < 0) throw SpecError(text, "start must not be negative");
  if (std::fabs(spec.level_db) > 200) throw SpecError(text, "level must lie within -200 .. 200 dB");
  return spec;
}

Point3 SpecPosition(const SceneSourceSpec& spec) {
  const double az = spec.azimuth_deg * vesk::kPi / 180.0, el = spec.elevation_deg * vesk::kPi / 180.0;
  return Point3{spec.distance_m * std::cos(el) * std::cos(az), spec.distance_m * std::cos(el) * std::sin(az),
                spec.distance_m * std::sin(el)};
}

Sound RenderScene(const Scene& scene, const std::vector<SceneSourceSpec>& specs,
                  const SceneRecordingSettings& scene_settings, const ResponseSettings& response,
                  const OutputSettings& output) {
  const double fs = response.sampling_hz;
  const auto frames = static_cast<std::size_t>(std::llround(scene_settings.duration_s * fs));
  Sound sound;
  sound.sampleRateHz = static_cast<int>(fs);
  sound.channels.assign(scene.mics.size(), std::vector<double>(frames, 0.0));
  double directPower = 0;  // mean over the recording at the array's origin
  for (std::size_t src = 0; src < specs.size(); ++src) {
    const auto start = static_cast<std::size_t>(std::llround(specs[src].start_s * fs));
    if (start >= frames) continue;
    std::vector<double> signal = SourceSignal(specs[src], frames - start, fs, response.seed, src);
    const auto gainIt = output.source_gain.find(src);
    const double gain = output.gain * std::pow(10.0, specs[src].level_db / 20.0) *
                        (gainIt == output.source_gain.end() ? 1.0 : gainIt->second);
    const Point3& p = scene.sources[src].position;
    const double distance = std::sqrt(p.x * p.x + p.y * p.y + p.z * p.z);
    directPower +=
        gain * gain / (distance * distance) * static_cast<double>(signal.size()) / static_cast<double>(frames);
    PlaybackConvolver convolver(PlaybackToDrifted(signal, output.clock_drift_ppm), response.length_samples);
    for (std::size_t mic = 0; mic < scene.mics.size(); ++mic)
      AddInto(
          sound.channels[mic],
          convolver.Convolve(GeometryToResponse(p, scene.mics[mic].position, response, src, scene.mics[mic].micIndex)),
          start, gain);
  }
  if (scene_settings.diffuse) {
    const double sigma =
        std::sqrt(directPower / std::pow(10.0, scene_settings.diffuse_snr_db / 10.0) / kDiffuseDirections);
    const std::vector<Point3> directions = SphereDirections(kDiffuseDirections);
    double radius = 0;  // metres, of the array
    for (const SceneMic& m : scene.mics)
      radius = std::max(
          radius, std::sqrt(m.position.x * m.position.x + m.position.y * m.position.y + m.position.z * m.position.z));
    const double lead = radius * fs / response.speed_of_sound_mps + 1.0;
    for (int q = 0; q < kDiffuseDirections; ++q) {
      // 0x64696666757365 ("diffuse").
      std::seed_seq seq{response.seed, uint64_t{0x64696666757365}, static_cast<uint64_t>(q)};
      std::mt19937_64 rng(seq);
      std::normal_distribution<double> gauss(0.0, 1.0);
      std::vector<double> noise(frames);
      for (double& v : noise) v = gauss(rng);
      PlaybackConvolver convolver(noise, response.length_samples);
      for (std::size_t mic = 0; mic < scene.mics.size(); ++mic)
        AddInto(sound.channels[mic],
                convolver.Convolve(PlaneWaveResponse(directions[static_cast<std::size_t>(q)], scene.mics[mic].position,
                                                     scene.mics[mic].micIndex, response, lead)),
                0, sigma);
    }
  }
  for (std::size_t mic = 0; mic < sound.channels.size(); ++mic) {
    std::vector<double>& channel = sound.channels[mic];
    if (output.add_noise) {
      // 0x6e6f697365 ("noise") as for the recordings of a list.
      std::seed_seq seq{response.seed, uint64_t{0x6e6f697365}, uint64_t{0x7363656e65}, static_cast<uint64_t>(mic)};
      std::mt19937_64 rng(seq);
      AddSensorNoise(channel, output.snr_db, rng);
    }
    if (output.allow_clipping && output.wave_format == WaveFormat::PCM16)
      for (double& v : channel) v = std::min(std::max(v, -1.0), 32767.0 / 32768.0);
  }
  return sound;
}

std::string SceneTruthJson(const std::vector<SceneSourceSpec>& specs, int sampling_hz, double duration_s) {
  veskio2::JsonWriter json(15);  // the values as typed read back
  json.BeginObject();
  json.Field("samplingRate", sampling_hz);
  json.Field("durationS", duration_s);
  json.Key("sources");
  json.BeginArray();
  for (const SceneSourceSpec& s : specs) {
    json.BeginObject();
    json.Field("azimuthDeg", s.azimuth_deg);
    json.Field("elevationDeg", s.elevation_deg);
    json.Field("distance", s.distance_m);
    json.Field("signal", s.signal);
    json.Field("levelDb", s.level_db);
    json.Field("startS", s.start_s);
    json.EndObject();
  }
  json.EndArray();
  json.EndObject();
  json.Newline();
  return json.Text();
}

std::string TruthPath(const std::string& scene_path) {
  const std::size_t slash = scene_path.find_last_of('/');
  const std::size_t dot = scene_path.find_last_of('.');
  if (dot != std::string::npos && (slash == std::string::npos || dot > slash + 1) &&
      scene_path.compare(dot, std::string::npos, ".wav") == 0)
    return scene_path.substr(0, dot) + ".json";
  return scene_path + ".json";
}

}  // namespace vesktools
