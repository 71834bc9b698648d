// tflocate over simulated scenes: transfer functions made the way a user
// makes them (trelvix templates, TSP recordings by measim on a sphere in a
// room, trelvix tf running dravik; or the free-field geometry), and measim's
// scenes of sources between the measured directions.
#include <sched.h>

#include <cmath>
#include <cstdlib>
#include <fstream>
#include <map>
#include <memory>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "RunProcess.h"
#include "ScratchDir.h"
#include "SoundFile.h"
#include "WaveFile.h"

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

enum class Kind { LOCATE, SELF_TEST, ERROR };

struct Case {
  const char* name;
  Kind kind;
  const char* array;  // "sphere": 8 microphones placed irregularly on a 0.1 m sphere; "line": 8 on a 0.35 m line
  double rt60;        // the 6 x 5 x 3 m room's reverberation (0: free field, geometric file)
  std::vector<std::vector<double>> scenes;  // per recording: the azimuths (degrees) that sound
  Args scene;                               // further measim options of the scenes
  Args tflocate;                            // further options
  double maxMeanDeg;                        // LOCATE: mean error over the scenes at most this
  double minWithin5;                        // LOCATE: share within 5 degrees at least this
  bool ambiguity;                           // SELF_TEST: an ambiguity is found
  std::string error;                        // ERROR: the message
};

// The room and where the array stands in it; the sphere the array is on.
Args Room(double rt60) {
  if (rt60 == 0) return {};
  std::ostringstream t;
  t << rt60;
  return {"--room", "6,5,3", "--array-at", "2.9,2.4,1.4", "--rt60", t.str()};
}

void WriteArray(const std::string& path, bool sphere) {
  // Sphere: directions (azimuth, elevation) in degrees, no two symmetric.
  const double dirs[8][2] = {{0, 0}, {70, 25}, {135, -15}, {200, 40}, {250, -30}, {310, 10}, {30, -50}, {160, 60}};
  std::ofstream mic(path);
  mic << "<?xml version=\"1.0\"?>\n<veskconfig id=\"MicArrayLocationFile\" version=\"2.0\"><mics>";
  for (int m = 0; m < 8; ++m) {
    double x = m < 4 ? -1 : 1, y = 0, z = 0, r = std::fabs(-0.175 + 0.05 * m);
    if (sphere) {
      const double a = dirs[m][0] * M_PI / 180, e = dirs[m][1] * M_PI / 180;
      x = std::cos(e) * std::cos(a), y = std::cos(e) * std::sin(a), z = std::sin(e), r = 0.1;
    }
    mic << "<mic version=\"1\"><micIndex>" << m << "</micIndex><position x=\"" << x << "\" y=\"" << y << "\" z=\"" << z
        << "\" distance=\"" << r << "\"/></mic>";
  }
  mic << "</mics></veskconfig>\n";
}

// The measurement: 72 directions 5 degrees apart at 1.5 m, TSP recordings
// made by measim on the sphere in the room, trelvix tf (running dravik) to
// m2pg; and the free-field geometric file of the same array.
void Measure(const std::string& trelvix, const std::string& measim, const std::string& tspgen,
             const std::string& dravik, const std::string& d, double rt60) {
  MustRun({trelvix,
           "--mode",
           "template",
           "--output-type",
           "tsp",
           "--nummic",
           "8",
           "--numazi",
           "72",
           "--aziint",
           "5",
           "--radius",
           "1.5",
           "-o",
           "list.xml",
           "--filepath",
           "D{AZIMUTH:%03d}.wav",
           "--synchronous-average",
           "2",
           "--tsp-offset",
           "4096",
           "--tsp-length",
           "4096",
           "--original-impulse-file",
           "4096.little_endian.tsp"},
          d);
  MustRun({trelvix, "--mode", "tf", "--output-type", "m2pg", "--geometry-calculus", "1", "-o", "geo.bin", "mic.xml",
           "list.xml"},
          d);
  if (rt60 == 0) return;
  MustRun({tspgen, "--tsp-length", "4096", "--synchronous-average", "2", "--tsp-offset", "4096", "--playback",
           "playback.wav"},
          d);
  MustRun(Join({measim, "--mic", "mic.xml", "--list", "list.xml", "--playback", "playback.wav", "--snr", "40", "--gain",
                "0.2", "--wave-format", "float", "--sphere-radius", "0.1"},
               Room(rt60)),
          d);
  vesk_test::ProcessOptions options;
  options.workDir = d;
  const char* path = std::getenv("PATH");
  options.env = {"PATH=" + dravik.substr(0, dravik.rfind('/')) + ":" + (path ? path : "/usr/bin:/bin"), "TMPDIR=" + d};
  const auto made = vesk_test::RunProcess(
      {trelvix, "--mode", "tf", "--output-type", "m2pg", "--tsp-length", "4096", "-o", "tf.bin", "mic.xml", "list.xml"},
      options);
  ASSERT_EQ(made.status, 0) << made.err;
}

TEST(TfLocate, FindsOffGridSourcesAndTheAmbiguitiesOfAnArray) {
  const std::string trelvix = Program("TRELVIX_BIN"), measim = Program("MEASIM_BIN"),
                    tflocate = Program("TFLOCATE_BIN"), tspgen = Program("TSPGEN_BIN"), dravik = Program("DRAVIK_BIN");
  ASSERT_FALSE(trelvix.empty() || measim.empty() || tflocate.empty() || tspgen.empty() || dravik.empty());
  // Directions between the measured ones (the grid is 0, 5, ... 355).
  std::vector<std::vector<double>> twenty, ten;
  for (int s = 0; s < 20; ++s) twenty.push_back({2.5 + 17.3 * s});
  for (int s = 0; s < 10; ++s) ten.push_back({1.5 + 36.1 * s});
  const std::vector<std::vector<double>> pairs = {{12.5, 97.5}, {151.5, 228.5}, {281.5, 18.5}};
  const Args noise3 = {"--duration", "3", "--snr", "20"};
  const std::vector<Case> cases = {
      {"one source, RT60 0.3 s", Kind::LOCATE, "sphere", 0.3, twenty, noise3, {}, 1.5, 0.9, false, ""},
      {"one source, RT60 0.6 s", Kind::LOCATE, "sphere", 0.6, ten, noise3, {}, 3.0, 0.8, false, ""},
      {"two sources at 0 dB to the diffuse noise, RT60 0.6 s",
       Kind::LOCATE,
       "sphere",
       0.6,
       pairs,
       {"--duration", "3", "--diffuse-snr", "0"},
       {"--sources", "2"},
       30,
       0.6,
       false,
       ""},
      {"self-test of the sphere", Kind::SELF_TEST, "sphere", 0.3, {}, {}, {}, 0, 0, false, ""},
      {"self-test of a line in free field", Kind::SELF_TEST, "line", 0, {}, {}, {}, 0, 0, true, ""},
      {"recording with too few channels",
       Kind::ERROR,
       "sphere",
       0,
       {{40}},
       {"--duration", "0.5"},
       {"--channels", "0,1,2,3,4,5,6,8"},
       0,
       0,
       false,
       "scene.wav: expected at least 9 channels (channel 8 for a microphone), found 8"},
      {"recording at another rate",
       Kind::ERROR,
       "sphere",
       0,
       {{40}},
       {"--duration", "0.5"},
       {},
       0,
       0,
       false,
       "scene48.wav: expected the sampling rate of tf.bin (16000 Hz), found 48000 Hz"},
  };
  std::map<std::string, std::unique_ptr<vesk_test::ScratchDir>> measurements;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
#ifdef TFLOCATE_SANITIZED
    if (c.rt60 > 0) {
      std::printf(
          "%s: skipped in the sanitized build (72 room measurements through TSP recordings take minutes "
          "there)\n",
          c.name);
      continue;
    }
#endif
    // One measurement per array and room, shared by the cases in it.
    const bool sphere = std::string(c.array) == "sphere";
    const std::string key = std::string(c.array) + std::to_string(c.rt60);
    const bool fresh = measurements.count(key) == 0;
    auto& dir = measurements[key];
    if (fresh) dir = std::make_unique<vesk_test::ScratchDir>();
    const std::string d = dir->Path();
    if (fresh) {
      WriteArray(d + "/mic.xml", sphere);
      Measure(trelvix, measim, tspgen, dravik, d, c.rt60);
      if (c.rt60 == 0) {
        std::ifstream from(d + "/geo.bin", std::ios::binary);
        std::ofstream(d + "/tf.bin", std::ios::binary) << from.rdbuf();
      }
    }
    if (c.kind == Kind::SELF_TEST) {
      const std::string json = MustRun(Join({tflocate, "--self-test", "tf.bin", "--json"}, c.tflocate), d);
      EXPECT_EQ(json.find("\"ambiguities\":[]") == std::string::npos, c.ambiguity) << json.substr(0, 2000);
      continue;
    }
    double sumMean = 0, sumWithin = 0, sumGeometric = 0;
    for (std::size_t s = 0; s < c.scenes.size(); ++s) {
      Args scene = {measim,    "--mic",     "mic.xml",
                    "--scene", "scene.wav", "--wave-format",
                    "float",   "--seed",    std::to_string(100 + s)};
      if (sphere) scene = Join(scene, {"--sphere-radius", "0.1"});
      for (double az : c.scenes[s])
        scene = Join(scene, {"--source", "azimuth=" + std::to_string(az) + ",elevation=0,distance=1.5,signal=noise"});
      MustRun(Join(Join(scene, c.scene), Room(c.rt60)), d);
      if (c.kind == Kind::ERROR) {
        vesktools::Sound fast = vesktools::ReadSound(d + "/scene.wav");
        fast.sampleRateHz = 48000;
        vesktools::WriteSound(d + "/scene48.wav", fast, vesktools::WaveFormat::FLOAT32);
        const auto r = RunTool(Join({tflocate, "tf.bin", c.error.substr(0, c.error.find(':'))}, c.tflocate), d);
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.err, "tflocate: " + c.error + "\n");
        continue;
      }
      const std::string json = MustRun(
          Join({tflocate, "tf.bin", "scene.wav", "--json", "--truth-json", "scene.json", "--compare", "geo.bin"},
               c.tflocate),
          d);
      const std::size_t other = json.find("\"compare\":");
      ASSERT_NE(other, std::string::npos) << json;
      const double mean = JsonNumber(json.substr(0, other), "meanDeg");
      ASSERT_TRUE(std::isfinite(mean)) << json;
      sumMean += mean;
      sumWithin += JsonNumber(json.substr(0, other), "within5Deg");
      const double geometric = JsonNumber(json.substr(other), "meanDeg");
      sumGeometric += std::isfinite(geometric) ? geometric : 30.0;  // nothing assigned: as bad as the gate
    }
    if (c.kind == Kind::ERROR) continue;
    const double n = static_cast<double>(c.scenes.size());
    const double mean = sumMean / n, within = sumWithin / n, geometric = sumGeometric / n;
    std::printf("%s: mean error %.2f deg (free-field file %.2f deg), within 5 deg %.0f %%\n", c.name, mean, geometric,
                100 * within);
    EXPECT_LE(mean, c.maxMeanDeg);
    EXPECT_GE(within, c.minWithin5);
    // The measured file holds the sphere's and the room's responses: at
    // least as good as the free field's.
    EXPECT_LE(mean, geometric);
  }
}

// The search over many directions runs on every core: the result must be
// the one a single core gives, byte for byte.
TEST(TfLocateThreads, ManyDirectionsGiveTheSingleCoreResult) {
  const std::string trelvix = Program("TRELVIX_BIN"), measim = Program("MEASIM_BIN"),
                    tflocate = Program("TFLOCATE_BIN");
  ASSERT_FALSE(trelvix.empty() || measim.empty() || tflocate.empty());
  vesk_test::ScratchDir dir;
  const std::string d = dir.Path();
  MustRun({trelvix, "--mode", "template", "--output-type", "mic", "--nummic", "8", "--numazi", "8", "--aziint", "45",
           "--radius", "0.1", "-o", "mic.xml"},
          d);
  // 360 x 7 = 2520 directions, 1 degree apart: enough to be split.
  MustRun({trelvix,
           "--mode",
           "template",
           "--output-type",
           "tsp",
           "--nummic",
           "8",
           "--numazi",
           "360",
           "--aziint",
           "1",
           "--numelv",
           "7",
           "--elvfrom",
           "-15",
           "--elvint",
           "5",
           "--radius",
           "1.5",
           "-o",
           "geo.xml",
           "--filepath",
           "D{AZIMUTH:%03d}_E{ELEVATION:%d}.wav"},
          d);
  MustRun({trelvix, "--mode", "tf", "--output-type", "m2pg", "--geometry-calculus", "1", "-o", "tf.bin", "mic.xml",
           "geo.xml"},
          d);
  MustRun({measim, "--mic", "mic.xml", "--scene", "scene.wav", "--wave-format", "float", "--duration", "1", "--snr",
           "20", "--source", "azimuth=37.3,elevation=0,distance=1.5,signal=noise"},
          d);
  // Blocks of 0.1 s: two batches of blocks, searched at once on two cores.
  const Args run = {tflocate, "tf.bin", "scene.wav", "--json", "--truth", "37.3", "--block", "0.1"};
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

  // A sample that is not finite, read while the cores search the blocks
  // before it: the reader's error, and no hang.
  std::vector<float> noise(3 * 16000 * 8);
  for (std::size_t i = 0; i < noise.size(); ++i) noise[i] = 0.1f * std::sin(0.37f * i + 0.001f * i * i);
  noise[40000 * 8 + 3] = NAN;
  vesk_test::WriteWaveFile(d + "/nan.wav", noise, 8);
  vesk_test::ProcessOptions here;
  here.workDir = d;
  const auto bad = vesk_test::RunProcess({tflocate, "tf.bin", "nan.wav", "--block", "0.1"}, here);
  EXPECT_EQ(bad.status, 1);
  EXPECT_NE(bad.err.find("nan.wav: sample 40000 of channel 3 is not finite"), std::string::npos) << bad.err;
}

}  // namespace
