// tflocate over simulated scenes: transfer functions made the way a user
// makes them (trelvix templates, measim, trelvix tf, or the free-field
// geometry), recordings made here by convolving noise with the responses
// measim gives for directions between the measured ones.
#include <sched.h>

#include <cmath>
#include <cstdlib>
#include <fstream>
#include <random>
#include <regex>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "FloatFile.h"
#include "base/RealFft.h"
#include "RunProcess.h"
#include "ScratchDir.h"
#include "SoundFile.h"

namespace {

using Args = std::vector<std::string>;

std::string Program(const char* var) {
  const char* path = std::getenv(var);
  return path ? path : "";
}

Args Join(Args a, const Args& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

vesk_test::ProcessResult RunTool(const Args& argv, const std::string& dir) {
  vesk_test::ProcessOptions options;
  options.workDir = dir;
  options.timeoutSeconds = 300;
  return vesk_test::RunProcess(argv, options);
}

std::string MustRun(const Args& argv, const std::string& dir) {
  const auto r = RunTool(argv, dir);
  EXPECT_EQ(r.status, 0) << argv[0] << ": " << r.err;
  return r.out;
}

double JsonNumber(const std::string& json, const std::string& key) {
  std::smatch m;
  if (!std::regex_search(json, m, std::regex("\"" + key + "\":(-?[0-9.eE+-]+|null)"))) return NAN;
  return m[1] == "null" ? NAN : std::stod(m[1].str());
}

// A recording of `seconds` of independent white noise from each source
// through its responses (src%03u_mic%02u.flt in `responses`), plus white
// sensor noise `snrDb` below the mean channel power. Float WAV.
void MakeRecording(const std::string& responses, const std::vector<int>& sources, int mics, double seconds,
                   double snrDb, unsigned seed, const std::string& path) {
  const std::size_t n = static_cast<std::size_t>(seconds * 16000);
  std::vector<std::vector<float>> ir;
  std::size_t longest = 0;
  for (int src : sources)
    for (int mic = 0; mic < mics; ++mic) {
      char name[64];
      std::snprintf(name, sizeof name, "/src%03d_mic%02d.flt", src, mic);
      ir.push_back(vesktools::ReadFloat32LE(responses + name));
      longest = std::max(longest, ir.back().size());
    }
  std::size_t size = 1;
  while (size < n + longest) size *= 2;
  vesk::RealFft<double> fft(size);
  std::mt19937 random(seed);
  std::normal_distribution<double> gauss;
  vesktools::Sound sound;
  sound.sampleRateHz = 16000;
  sound.channels.assign(mics, std::vector<double>(n, 0.0));
  for (std::size_t s = 0; s < sources.size(); ++s) {
    std::fill(fft.Time(), fft.Time() + size, 0.0);
    for (std::size_t t = 0; t < n; ++t) fft.Time()[t] = gauss(random);
    fft.Forward();
    const std::vector<std::complex<double>> noise(fft.Spectrum(), fft.Spectrum() + fft.NumBins());
    for (int mic = 0; mic < mics; ++mic) {
      const std::vector<float>& h = ir[s * mics + mic];
      std::fill(fft.Time(), fft.Time() + size, 0.0);
      std::copy(h.begin(), h.end(), fft.Time());
      fft.Forward();
      for (std::size_t k = 0; k < fft.NumBins(); ++k) fft.Spectrum()[k] *= noise[k] / static_cast<double>(size);
      fft.Inverse();
      for (std::size_t t = 0; t < n; ++t) sound.channels[mic][t] += fft.Time()[t];
    }
  }
  double power = 0;
  for (const auto& c : sound.channels)
    for (double v : c) power += v * v / (n * mics);
  const double noiseStd = std::sqrt(power / std::pow(10.0, snrDb / 10));
  double peak = 0;
  for (auto& c : sound.channels)
    for (double& v : c) {
      v += noiseStd * gauss(random);
      peak = std::max(peak, std::fabs(v));
    }
  for (auto& c : sound.channels)
    for (double& v : c) v *= 0.5 / peak;
  vesktools::WriteSound(path, sound, vesktools::WaveFormat::FLOAT32);
}

enum class Kind { LOCATE, SELF_TEST, ERROR };

struct Case {
  const char* name;
  Kind kind;
  const char* array;        // "ring": 8 microphones on a 0.1 m circle; "line": 8 on a 0.35 m line
  bool measured;            // TF from measim's responses in the room (else the free-field geometry)
  Args room;                // measim options of the room
  std::vector<std::vector<int>> scenes;  // per recording: the sources (of the 20 off-grid directions) that sound
  double snrDb;
  Args tflocate;            // further options
  double maxMeanDeg;        // LOCATE: mean error over the scenes at most this
  double minWithin5;        // LOCATE: share within 5 degrees at least this
  bool ambiguity;           // SELF_TEST: an ambiguity is found
  std::string error;        // ERROR: the message
};

// 20 directions between the measured ones (the grid is 0, 5, ... 355).
constexpr double kSceneFromDeg = 2.5, kSceneStepDeg = 17.3;

TEST(TfLocate, FindsOffGridSourcesAndTheAmbiguitiesOfAnArray) {
  const std::string trelvix = Program("TRELVIX_BIN"), measim = Program("MEASIM_BIN"), tflocate = Program("TFLOCATE_BIN");
  ASSERT_FALSE(trelvix.empty() || measim.empty() || tflocate.empty());
  const Args room3 = {"--rt60", "0.3", "--drr", "6"}, room6 = {"--rt60", "0.6", "--drr", "0"};
  std::vector<std::vector<int>> each;
  for (int s = 0; s < 20; ++s) each.push_back({s});
  // Pairs 69.2 degrees apart (4 steps of 17.3).
  const std::vector<std::vector<int>> pairs = {{0, 4}, {5, 9}, {10, 14}, {15, 19}};
  const std::vector<Case> cases = {
      {"one source, RT60 0.3 s, measured", Kind::LOCATE, "ring", true, room3, each, 20, {}, 1.5, 0.9, false, ""},
      {"one source, RT60 0.6 s, measured", Kind::LOCATE, "ring", true, room6, each, 20, {}, 3.0, 0.8, false, ""},
      {"two sources at 0 dB SNR, RT60 0.6 s", Kind::LOCATE, "ring", true, room6, pairs, 0, {"--sources", "2"}, 30, 0.6,
       false, ""},
      {"one source, SRP-PHAT", Kind::LOCATE, "ring", true, room3, {{3}, {11}}, 20, {"--method", "srp-phat"}, 3.0, 0.9,
       false, ""},
      {"self-test of the ring", Kind::SELF_TEST, "ring", true, room3, {}, 20, {}, 0, 0, false, ""},
      {"self-test of a line in free field", Kind::SELF_TEST, "line", false, {}, {}, 20, {}, 0, 0, true, ""},
      {"recording with too few channels", Kind::ERROR, "ring", false, {}, {}, 20, {"--channels", "0,1,2,3,4,5,6,8"}, 0,
       0, false, "scene.wav: expected at least 9 channels (channel 8 for a microphone), found 8"},
      {"recording at another rate", Kind::ERROR, "ring", false, {}, {}, 20, {}, 0, 0, false,
       "scene48.wav: expected the sampling rate of tf.bin (16000 Hz), found 48000 Hz"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    vesk_test::ScratchDir dir;
    const std::string d = dir.Path();
    if (std::string(c.array) == "ring") {
      MustRun({trelvix, "--mode", "template", "--output-type", "mic", "--nummic", "8", "--numazi", "8", "--aziint", "45",
               "--radius", "0.1", "-o", "mic.xml"}, d);
    } else {
      std::ofstream mic(d + "/mic.xml");
      mic << "<?xml version=\"1.0\"?>\n<veskconfig id=\"MicArrayLocationFile\" version=\"2.0\"><mics>";
      for (int m = 0; m < 8; ++m)
        mic << "<mic version=\"1\"><micIndex>" << m << "</micIndex><position x=\"" << (m < 4 ? -1 : 1)
            << "\" y=\"0\" z=\"0\" distance=\"" << std::fabs(-0.175 + 0.05 * m) << "\"/></mic>";
      mic << "</mics></veskconfig>\n";
    }
    // The measured directions: 72, 5 degrees apart, at 1.5 m.
    MustRun({trelvix, "--mode", "template", "--output-type", "ir", "--nummic", "8", "--numazi", "72", "--aziint", "5",
             "--radius", "1.5", "-o", "list.xml", "--filepath", "D{AZIMUTH:%03d}_ch{CHANNEL:%02d}.flt"}, d);
    // The free-field file, for the side-by-side row.
    MustRun({trelvix, "--mode", "template", "--output-type", "tsp", "--nummic", "8", "--numazi", "72", "--aziint", "5",
             "--radius", "1.5", "-o", "geo.xml", "--filepath", "D{AZIMUTH:%03d}.wav"}, d);
    MustRun({trelvix, "--mode", "tf", "--output-type", "m2pg", "--geometry-calculus", "1", "-o", "geo.bin", "mic.xml",
             "geo.xml"}, d);
    if (c.measured) {
      MustRun(Join({measim, "--mic", "mic.xml", "--list", "list.xml", "--ir-length", "4096", "--seed", "7"}, c.room), d);
      MustRun({trelvix, "--mode", "tf", "--output-type", "m2pg", "-o", "tf.bin", "mic.xml", "list.xml"}, d);
    } else {
      std::ifstream from(d + "/geo.bin", std::ios::binary);
      std::ofstream(d + "/tf.bin", std::ios::binary) << from.rdbuf();
    }
    if (c.kind == Kind::SELF_TEST) {
      const std::string json = MustRun(Join({tflocate, "--self-test", "tf.bin", "--json"}, c.tflocate), d);
      EXPECT_EQ(json.find("\"ambiguities\":[]") == std::string::npos, c.ambiguity) << json.substr(0, 2000);
      continue;
    }
    // The scene's directions, in the same room (another seed: another tail).
    MustRun({trelvix, "--mode", "template", "--output-type", "ir", "--nummic", "8", "--numazi", "20", "--aziint",
             std::to_string(kSceneStepDeg), "--azifrom", std::to_string(kSceneFromDeg), "--radius", "1.5", "-o",
             "scene.xml", "--filepath", "S{AZIMUTH:%05.1f}_ch{CHANNEL:%02d}.flt"}, d);
    MustRun(Join({measim, "--mic", "mic.xml", "--list", "scene.xml", "--ir-length", "8192", "--seed", "8",
                  "--response-dir", "resp"}, c.room), d);
    if (c.kind == Kind::ERROR) {
      MakeRecording(d + "/resp", {0}, 8, 0.5, 20, 1, d + "/scene.wav");
      vesktools::Sound fast = vesktools::ReadSound(d + "/scene.wav");
      fast.sampleRateHz = 48000;
      vesktools::WriteSound(d + "/scene48.wav", fast, vesktools::WaveFormat::FLOAT32);
      const std::string wav = c.error.substr(0, c.error.find(':'));
      const auto r = RunTool(Join({tflocate, "tf.bin", wav}, c.tflocate), d);
      EXPECT_EQ(r.status, 1);
      EXPECT_EQ(r.err, "tflocate: " + c.error + "\n");
      continue;
    }
    double sumMean = 0, sumWithin = 0, sumGeometric = 0;
    for (std::size_t s = 0; s < c.scenes.size(); ++s) {
      MakeRecording(d + "/resp", c.scenes[s], 8, 3.0, c.snrDb, 100 + static_cast<unsigned>(s), d + "/scene.wav");
      Args run = Join({tflocate, "tf.bin", "scene.wav", "--json", "--compare", "geo.bin"}, c.tflocate);
      for (int src : c.scenes[s]) run = Join(run, {"--truth", std::to_string(kSceneFromDeg + kSceneStepDeg * src)});
      const std::string json = MustRun(run, d);
      const std::size_t other = json.find("\"compare\":");
      ASSERT_NE(other, std::string::npos) << json;
      const double mean = JsonNumber(json.substr(0, other), "meanDeg"),
                   within = JsonNumber(json.substr(0, other), "within5Deg");
      ASSERT_TRUE(std::isfinite(mean)) << json;
      sumGeometric += JsonNumber(json.substr(other), "meanDeg");
      sumMean += mean;
      sumWithin += within;
    }
    const double n = static_cast<double>(c.scenes.size());
    const double mean = sumMean / n, within = sumWithin / n, geometric = sumGeometric / n;
    std::printf("%s: mean error %.2f deg (free-field file %.2f deg), within 5 deg %.0f %%\n", c.name, mean, geometric,
                100 * within);
    // The measured file holds the room's own responses: at least as good as
    // the free field's, up to 0.1 degree of estimation noise over the scenes.
    if (c.measured) {
      EXPECT_LE(mean, geometric + 0.1);
    }
    EXPECT_LE(mean, c.maxMeanDeg);
    EXPECT_GE(within, c.minWithin5);
  }
}

}  // namespace

// The search over many directions runs on every core: the result must be
// the one a single core gives, byte for byte.
TEST(TfLocateThreads, ManyDirectionsGiveTheSingleCoreResult) {
  const std::string trelvix = Program("TRELVIX_BIN"), measim = Program("MEASIM_BIN"), tflocate = Program("TFLOCATE_BIN");
  ASSERT_FALSE(trelvix.empty() || measim.empty() || tflocate.empty());
  vesk_test::ScratchDir dir;
  const std::string d = dir.Path();
  MustRun({trelvix, "--mode", "template", "--output-type", "mic", "--nummic", "8", "--numazi", "8", "--aziint", "45",
           "--radius", "0.1", "-o", "mic.xml"}, d);
  // 360 x 7 = 2520 directions, 1 degree apart: enough to be split.
  MustRun({trelvix, "--mode", "template", "--output-type", "tsp", "--nummic", "8", "--numazi", "360", "--aziint", "1",
           "--numelv", "7", "--elvfrom", "-15", "--elvint", "5", "--radius", "1.5", "-o", "geo.xml", "--filepath",
           "D{AZIMUTH:%03d}_E{ELEVATION:%d}.wav"}, d);
  MustRun({trelvix, "--mode", "tf", "--output-type", "m2pg", "--geometry-calculus", "1", "-o", "tf.bin", "mic.xml",
           "geo.xml"}, d);
  MustRun({trelvix, "--mode", "template", "--output-type", "ir", "--nummic", "8", "--numazi", "1", "--azifrom", "37.3",
           "--radius", "1.5", "-o", "scene.xml", "--filepath", "S_ch{CHANNEL:%02d}.flt"}, d);
  MustRun({measim, "--mic", "mic.xml", "--list", "scene.xml", "--ir-length", "2048", "--response-dir", "resp"}, d);
  MakeRecording(d + "/resp", {0}, 8, 1.0, 20, 5, d + "/scene.wav");
  const Args run = {tflocate, "tf.bin", "scene.wav", "--json", "--truth", "37.3"};
  vesk_test::ProcessOptions one;
  one.workDir = d;
  one.inChild = [] {
    cpu_set_t set;
    CPU_ZERO(&set);
    CPU_SET(0, &set);
    sched_setaffinity(0, sizeof set, &set);
  };
  const auto single = vesk_test::RunProcess(run, one);
  ASSERT_EQ(single.status, 0) << single.err;
  const std::string all = MustRun(run, d);
  EXPECT_EQ(all, single.out);
  EXPECT_LE(JsonNumber(all, "meanDeg"), 1.0) << all;
}
