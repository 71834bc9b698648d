// tfcheck over simulated measurements: clean ones (free field and a small
// room, 8 and 16 microphones, one and three elevations) must come out
// consistent, and each planted mistake must be found and named. The
// measurements are made the way a user makes them: trelvix templates,
// tspgen, measim (which plants the mistake), trelvix tf.
#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <boost/make_shared.hpp>
#include <boost/pointer_cast.hpp>
#include <gtest/gtest.h>

#include "RunProcess.h"
#include "ScratchDir.h"
#include "SoundFile.h"
#include "TestSupport.h"
#include "TfFileToMeasurement.h"
#include "base/Constants.h"
#include "base/RealFft.h"

namespace {

using Args = std::vector<std::string>;

std::string Program(const char* var) {
  const char* path = std::getenv(var);
  return path ? path : "";
}

enum class Route {
  IMPULSE_LIST,    // measim writes responses, trelvix tf reads the list; tfcheck TF.bin
  TSP_TF,          // measim writes recordings, trelvix tf runs dravik; tfcheck TF.bin
  TSP_RECORDINGS,  // measim writes recordings; tfcheck --recordings LIST.xml
};

struct Case {
  const char* name;
  Route route;
  int numMics;
  int numElevations;
  Args measim;                      // the scene and the planted mistake
  Args trelvix;                     // tf-mode options
  double tfRadius;                  // radius of the array file trelvix is given (0.1 m is the truth)
  int status;                       // 0 consistent, 3 suspect
  std::set<std::string> kinds;      // finding kinds, exactly
  std::vector<std::string> naming;  // texts the findings must hold
  std::string micChannels = "";     // --mic-channels of the templates: which grid microphones, which channels
};

const Args kRoom = {"--rt60", "0.25", "--drr", "10", "--seed", "2026"};

Args Join(Args a, const Args& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

std::string RunTool(const Args& argv, const std::string& dir, int* status = nullptr) {
  vesk_test::ProcessOptions options;
  options.workDir = dir;
  options.timeoutSeconds = 300;
  const vesk_test::ProcessResult r = vesk_test::RunProcess(argv, options);
  if (status) {
    *status = r.status;
  } else if (r.status != 0) {
    ADD_FAILURE() << argv[0] << " failed (" << r.status << "): " << r.err << r.out;
  }
  return r.out + r.err;
}

// How trelvix --mode tf runs in `dir`: it finds dravik on the search
// path; its work files go to TMPDIR.
vesk_test::ProcessOptions TfModeOptions(const std::string& dir) {
  vesk_test::ProcessOptions options;
  options.workDir = dir;
  const std::string dravik = Program("DRAVIK_BIN");
  const char* path = std::getenv("PATH");
  options.env = {"PATH=" + dravik.substr(0, dravik.rfind('/')) + ":" + (path ? path : "/usr/bin:/bin"),
                 "TMPDIR=" + dir};
  return options;
}

TEST(TfCheck, CleanMeasurementsAreConsistentAndPlantedMistakesAreNamed) {
  const std::string trelvix = Program("TRELVIX_BIN"), measim = Program("MEASIM_BIN"), tspgen = Program("TSPGEN_BIN"),
                    tfcheck = Program("TFCHECK_BIN");
  ASSERT_FALSE(trelvix.empty() || measim.empty() || tspgen.empty() || tfcheck.empty());
  const std::vector<Case> cases = {
      {"free field, 8 mics, 1 elevation, GTF",
       Route::IMPULSE_LIST,
       8,
       1,
       {},
       {"--output-type", "gtf", "--normalize-freq"},
       0.1,
       0,
       {},
       {}},
      {"free field, 16 mics, 3 elevations, GTF",
       Route::IMPULSE_LIST,
       16,
       3,
       {},
       {"--output-type", "gtf", "--normalize-src"},
       0.1,
       0,
       {},
       {}},
      {"room, 8 mics, 3 elevations, M2PG", Route::IMPULSE_LIST, 8, 3, kRoom, {"--output-type", "m2pg"}, 0.1, 0, {}, {}},
      {"room, 16 mics, 1 elevation, GTF", Route::IMPULSE_LIST, 16, 1, kRoom, {"--output-type", "gtf"}, 0.1, 0, {}, {}},
      {"room through TSP recordings, 8 mics, M2PG",
       Route::TSP_TF,
       8,
       1,
       Join(kRoom, {"--snr", "40", "--gain", "0.5"}),
       {"--output-type", "m2pg"},
       0.1,
       0,
       {},
       {}},
      // The array's microphones out of grid order and the list's channels
      // out of ascending order (channels 0 and 2 unlisted): the simulator and
      // trelvix must agree on which channel each microphone is.
      {"micIndex and micIndices not ascending, through TSP recordings",
       Route::TSP_TF,
       8,
       1,
       {},
       {"--output-type", "gtf"},
       0.1,
       0,
       {},
       {},
       "6,1,4,3,7,5"},
      {"channels 2 and 5 swapped",
       Route::IMPULSE_LIST,
       8,
       1,
       {"--swap-mics", "2", "5"},
       {"--output-type", "gtf"},
       0.1,
       3,
       {"swapped-channels"},
       {"micIndex 2 <-> micIndex 5"}},
      {"neighbours 0 and 15 swapped in a room",
       Route::IMPULSE_LIST,
       16,
       3,
       Join(kRoom, {"--swap-mics", "15", "0"}),
       {"--output-type", "m2pg"},
       0.1,
       3,
       {"swapped-channels"},
       {"micIndex 0 <-> micIndex 15"}},
      {"positions in centimetres",
       Route::IMPULSE_LIST,
       8,
       1,
       {},
       {"--output-type", "gtf"},
       10.0,
       3,
       {"array-scale"},
       {"centimetres"}},
      {"responses at 48 kHz in a 16 kHz file",
       Route::IMPULSE_LIST,
       8,
       1,
       {"--sampling-freq", "48000"},
       {"--output-type", "gtf", "--sampling-freq", "16000", "--nfft", "1024"},
       0.1,
       3,
       {"sampling-rate"},
       {"sampled at 48000 Hz"}},
      {"loudspeaker of source 7 moved by 10 degrees",
       Route::IMPULSE_LIST,
       8,
       1,
       {"--move-source", "7=10"},
       {"--output-type", "gtf"},
       0.1,
       3,
       {"source-moved"},
       {"source 7 (azimuth 105.0 deg", "azimuth 115.0 deg"}},
      {"clean recordings in a room",
       Route::TSP_RECORDINGS,
       8,
       1,
       Join(kRoom, {"--snr", "40", "--gain", "0.5"}),
       {},
       0.1,
       0,
       {},
       {}},
      {"clean float recordings, 16 mics, 3 elevations",
       Route::TSP_RECORDINGS,
       16,
       3,
       {"--wave-format", "float"},
       {},
       0.1,
       0,
       {},
       {}},
      {"one recording clipped",
       Route::TSP_RECORDINGS,
       8,
       1,
       Join(kRoom, {"--snr", "40", "--gain", "0.5", "--source-gain", "3=3", "--allow-clipping"}),
       {},
       0.1,
       3,
       {"clipping"},
       {"D090_E0.wav: "}},
      {"one recording with 20 dB more noise",
       Route::TSP_RECORDINGS,
       8,
       1,
       Join(kRoom, {"--snr", "40", "--gain", "0.5", "--source-snr", "5=20"}),
       {},
       0.1,
       3,
       {"noise"},
       {"D150_E0.wav: "}},
      {"clock drift of 50 ppm",
       Route::TSP_RECORDINGS,
       8,
       1,
       Join(kRoom, {"--snr", "40", "--gain", "0.5", "--clock-drift", "50"}),
       {},
       0.1,
       3,
       {"clock-drift"},
       {"12 of 12 recordings", "50.0 ppm faster"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    vesk_test::ScratchDir dir;
    const std::string d = dir.Path();
    const bool tsp = c.route != Route::IMPULSE_LIST;
    const std::string mics = std::to_string(c.numMics);
    const std::string azimuthStep = std::to_string(360 / c.numMics);
    Args channels;
    if (!c.micChannels.empty()) channels = {"--mic-channels", c.micChannels};
    // The true array (radius 0.1 m) and the one trelvix is given.
    RunTool(Join({trelvix, "--mode", "template", "--output-type", "mic", "--nummic", mics, "--numazi", mics, "--aziint",
                  azimuthStep, "--radius", "0.1", "-o", "mic.xml"},
                 channels),
            d);
    std::ostringstream radius;
    radius << c.tfRadius;
    RunTool(Join({trelvix, "--mode", "template", "--output-type", "mic", "--nummic", mics, "--numazi", mics, "--aziint",
                  azimuthStep, "--radius", radius.str(), "-o", "mic-tf.xml"},
                 channels),
            d);
    // 12 directions 30 degrees apart (24 by 15 for impulse lists) at 1.5 m,
    // at elevation 0 or -20, 0, 20 degrees. trelvix runs dravik with its
    // default period of 16384 samples; the recordings check reads the
    // list's own, shorter one.
    const std::string period = c.route == Route::TSP_TF ? "16384" : "4096";
    const std::string periods = c.route == Route::TSP_TF ? "2" : "8";
    const std::string listMics =
        c.micChannels.empty() ? mics : std::to_string(std::count(c.micChannels.begin(), c.micChannels.end(), ',') + 1);
    Args list = {trelvix,
                 "--mode",
                 "template",
                 "--output-type",
                 tsp ? "tsp" : "ir",
                 "--nummic",
                 listMics,
                 "--numazi",
                 tsp ? "12" : "24",
                 "--aziint",
                 tsp ? "30" : "15",
                 "--radius",
                 "1.5",
                 "--numelv",
                 std::to_string(c.numElevations),
                 "--elvint",
                 "20",
                 "--elvfrom",
                 c.numElevations == 1 ? "0" : "-20",
                 "-o",
                 "list.xml",
                 "--filepath",
                 tsp ? "D{AZIMUTH:%03d}_E{ELEVATION:%d}.wav" : "D{AZIMUTH:%03d}_E{ELEVATION:%d}_ch{CHANNEL:%02d}.flt"};
    if (tsp)
      list = Join(list, {"--synchronous-average", periods, "--tsp-offset", period, "--tsp-length", period,
                         "--original-impulse-file", period + ".little_endian.tsp"});
    RunTool(Join(list, channels), d);
    Args sim = {measim, "--mic", "mic.xml", "--list", "list.xml", "--ir-length", "2048"};
    if (tsp) {
      RunTool({tspgen, "--tsp-length", period, "--synchronous-average", periods, "--tsp-offset", period, "--playback",
               "playback.wav"},
              d);
      sim = Join(sim, {"--playback", "playback.wav"});
    }
    RunTool(Join(sim, c.measim), d);
    Args check = {tfcheck, "--mic", "mic.xml"};
    if (c.route == Route::TSP_RECORDINGS) {
      check = {tfcheck, "--recordings", "list.xml"};
    } else {
      Args tf = {trelvix, "--mode", "tf", "--tsp-length", period, "-o", "tf.bin"};
      tf = Join(tf, c.trelvix);
      tf = Join(tf, {"mic-tf.xml", "list.xml"});
      const vesk_test::ProcessOptions options = TfModeOptions(d);
      const auto made = vesk_test::RunProcess(tf, options);
      ASSERT_EQ(made.status, 0) << made.err;
      check.push_back("tf.bin");
    }
    int status = -1;
    const std::string report = RunTool(check, d, &status);
    EXPECT_EQ(status, c.status) << report;
    std::set<std::string> kinds;
    std::istringstream lines(report);
    std::string findings;
    for (std::string line; std::getline(lines, line);)
      if (line.rfind("finding ", 0) == 0) {
        kinds.insert(line.substr(8, line.find(':') - 8));
        findings += line + "\n";
      }
    EXPECT_EQ(kinds, c.kinds) << report;
    for (const std::string& text : c.naming)
      EXPECT_NE(findings.find(text), std::string::npos) << text << "\n" << report;
  }
}

namespace vc = veskio2::veskconfig;

std::vector<vc::Mic1> ReadMics(const std::string& path) {
  const auto file = boost::dynamic_pointer_cast<vc::MicArrayLocationFile2_0>(vc::VeskConfigFileXMLReader(path).Read());
  if (!file) throw std::runtime_error(path + ": not an array file");
  return file->GetMics();
}

veskio2::Vector3<double> At(const vc::Mic1& mic) {
  const veskio2::Vector3<float> p = mic.GetPosition().ToCartesian();
  return veskio2::Vector3<double>(p.x, p.y, p.z);
}

// The numbers after every "KEY": of a JSON text, in order.
std::vector<double> JsonNumbers(const std::string& json, const std::string& key) {
  std::vector<double> values;
  const std::string quoted = "\"" + key + "\":";
  for (std::size_t at = json.find(quoted); at != std::string::npos; at = json.find(quoted, at + 1))
    values.push_back(std::stod(json.substr(at + quoted.size())));
  return values;
}

// The arrays of numbers (null read as NaN) after every "KEY": of a JSON
// text, in order.
std::vector<std::vector<double>> JsonArrays(const std::string& json, const std::string& key) {
  std::vector<std::vector<double>> arrays;
  const std::string quoted = "\"" + key + "\":[";
  for (std::size_t at = json.find(quoted); at != std::string::npos; at = json.find(quoted, at + 1)) {
    std::vector<double> values;
    std::size_t i = at + quoted.size();
    while (i < json.size() && json[i] != ']') {
      if (json.compare(i, 4, "null") == 0) {
        values.push_back(std::nan(""));
        i += 4;
      } else {
        std::size_t used = 0;
        values.push_back(std::stod(json.substr(i, 32), &used));
        i += used;
      }
      if (json[i] == ',') ++i;
    }
    arrays.push_back(values);
  }
  return arrays;
}

std::size_t Count(const std::string& text, const std::string& part) {
  std::size_t n = 0;
  for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
  return n;
}

// RMS over sources, microphones (but `skipMic`) and the bins of 200 Hz to
// 6 kHz of the phase of each microphone relative to microphone 0, measured
// against geometric, in degrees. Relative phases, because a geometric file
// holds a per-source offset.
double RelativePhaseErrorDeg(const std::string& measuredPath, const std::string& geometricPath, std::size_t skipMic) {
  const vesktools::TfMeasurement measured = vesktools::TfFileToMeasurement(measuredPath);
  const vesktools::TfMeasurement geometric = vesktools::TfFileToMeasurement(geometricPath);
  EXPECT_EQ(measured.binIndex, geometric.binIndex);
  EXPECT_EQ(measured.NumSources(), geometric.NumSources());
  double sum = 0;
  std::size_t count = 0;
  const double binHz = measured.samplingHz / static_cast<double>(measured.nfft);
  for (std::size_t src = 0; src < measured.NumSources(); ++src)
    for (std::size_t mic = 1; mic < measured.NumMics(); ++mic) {
      if (mic == skipMic) continue;
      for (std::size_t j = 0; j < measured.binIndex.size(); ++j) {
        const double hz = static_cast<double>(measured.binIndex[j]) * binHz;
        if (hz < 200 || hz > 6000) continue;
        const std::complex<double> m = std::complex<double>(measured.Spectrum(src, mic)[j]) *
                                       std::conj(std::complex<double>(measured.Spectrum(src, 0)[j]));
        const std::complex<double> g = std::complex<double>(geometric.Spectrum(src, mic)[j]) *
                                       std::conj(std::complex<double>(geometric.Spectrum(src, 0)[j]));
        const double error = std::arg(m * std::conj(g)) * 180.0 / vesk::kPi;
        sum += error * error;
        ++count;
      }
    }
  return std::sqrt(sum / static_cast<double>(count));
}

// The array measured back from a TSP measurement (72 directions at 1.5 m
// per elevation, 30 dB sensor noise) whose array file is off by up to 2 cm
// per microphone: the written file must hold the simulated positions, a
// planted channel latency must be found, an axis the sources do not span
// must be named and kept, a moved loudspeaker left out, and the written
// file must give geometric responses closer in phase to the measured ones
// than the typed file.
TEST(TfCheck, ArrayEstimateMeasuresPositionsAndLatencyBack) {
  const std::string trelvix = Program("TRELVIX_BIN"), measim = Program("MEASIM_BIN"), tspgen = Program("TSPGEN_BIN"),
                    tfcheck = Program("TFCHECK_BIN"), dravik = Program("DRAVIK_BIN");
  ASSERT_FALSE(trelvix.empty() || measim.empty() || tspgen.empty() || tfcheck.empty() || dravik.empty());
  struct ArrayCase {
    const char* name;
    int numElevations;
    double latencySamples;  // planted on micIndex kLateMic (0: none)
    int movedSource;        // a loudspeaker 10 degrees from its listed direction (-1: none)
  };
  constexpr unsigned kLateMic = 5;
  const std::vector<ArrayCase> cases = {
      {"three elevations, one channel 3 samples late", 3, 3.0, -1},
      {"one elevation (z is not determined), one loudspeaker moved", 1, 0.0, 40},
  };
  for (const ArrayCase& c : cases) {
    SCOPED_TRACE(c.name);
    vesk_test::ScratchDir dir;
    const std::string d = dir.Path();
    RunTool({trelvix, "--mode", "template", "--output-type", "mic", "--nummic", "8", "--numazi", "8", "--aziint", "45",
             "--radius", "0.1", "-o", "mic.xml"},
            d);
    const std::vector<vc::Mic1> truth = ReadMics(d + "/mic.xml");
    // The typed file: each microphone off by up to 2 cm in a random direction.
    std::mt19937 rng(2026);
    std::normal_distribution<double> gauss(0.0, 1.0);
    std::uniform_real_distribution<double> uniform(0.0, 0.02);
    auto typedFile = boost::make_shared<vc::MicArrayLocationFile2_0>();
    std::vector<vc::Mic1> typed;
    for (const vc::Mic1& mic : truth) {
      veskio2::Vector3<double> offset(gauss(rng), gauss(rng), gauss(rng));
      offset = offset * (uniform(rng) / offset.Length());
      const veskio2::Vector3<double> p = At(mic) + offset;
      typed.push_back(testsupport::MakeMic(mic.GetMicIndex(), static_cast<float>(p.x), static_cast<float>(p.y),
                                           static_cast<float>(p.z)));
    }
    typedFile->SetMics(typed);
    testsupport::WriteConfig(d + "/typed.xml", typedFile);
    const std::string period = "4096";
    RunTool({trelvix,
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
             "--numelv",
             std::to_string(c.numElevations),
             "--elvint",
             "20",
             "--elvfrom",
             c.numElevations == 1 ? "0" : "-20",
             "-o",
             "list.xml",
             "--filepath",
             "D{AZIMUTH:%03d}_E{ELEVATION:%d}.wav",
             "--synchronous-average",
             "2",
             "--tsp-offset",
             period,
             "--tsp-length",
             period,
             "--original-impulse-file",
             period + ".little_endian.tsp"},
            d);
    RunTool({tspgen, "--tsp-length", period, "--synchronous-average", "2", "--tsp-offset", period, "--playback",
             "playback.wav"},
            d);
    Args sim = {measim,         "--mic",       "mic.xml", "--list", "list.xml", "--playback",
                "playback.wav", "--ir-length", "1024",    "--snr",  "30"};
    if (c.latencySamples != 0) sim = Join(sim, {"--channel-latency", std::to_string(kLateMic) + "=3"});
    if (c.movedSource >= 0) sim = Join(sim, {"--move-source", std::to_string(c.movedSource) + "=10"});
    RunTool(sim, d);
    const vesk_test::ProcessOptions options = TfModeOptions(d);
    auto makeTf = [&](const Args& extra, const std::string& mic, const std::string& out) {
      const auto made = vesk_test::RunProcess(
          Join(Join({trelvix, "--mode", "tf", "--output-type", "gtf", "--tsp-length", period, "-o", out}, extra),
               {mic, "list.xml"}),
          options);
      ASSERT_EQ(made.status, 0) << made.err;
    };
    makeTf({}, "typed.xml", "tf.bin");
    int status = -1;
    const std::string json =
        RunTool({tfcheck, "--estimate-array", "--mic", "typed.xml", "--write-mic", "fitted.xml", "--json", "tf.bin"}, d,
                &status);
    EXPECT_EQ(status, 3) << json;
    EXPECT_EQ(Count(json, "\"kind\":\"array-position\""), 1u) << json;
    EXPECT_EQ(Count(json, "\"kind\":\"channel-latency\""), c.latencySamples != 0 ? 1u : 0u) << json;
    EXPECT_EQ(Count(json, "\"undetermined\":[\"z\"]"), c.numElevations == 1 ? 8u : 0u) << json;
    // The moved loudspeaker alone stays out of the fit.
    EXPECT_EQ(Count(json, "\"excludedSources\":[]"), c.movedSource < 0 ? 1u : 0u) << json;
    if (c.movedSource >= 0) {
      EXPECT_EQ(Count(json, "\"excludedSources\":[{\"source\":" + std::to_string(c.movedSource) + ","), 1u) << json;
      EXPECT_EQ(JsonNumbers(json, "sourcesUsed"), std::vector<double>{71.0}) << json;
    }

    const std::vector<vc::Mic1> fitted = ReadMics(d + "/fitted.xml");
    ASSERT_EQ(fitted.size(), truth.size());
    double squared = 0;
    for (std::size_t m = 0; m < fitted.size(); ++m) {
      EXPECT_EQ(fitted[m].GetMicIndex(), typed[m].GetMicIndex());
      const veskio2::Vector3<double> error = At(fitted[m]) - At(truth[m]);
      // Along an axis the sources do not fix, the fit keeps the typed value.
      if (c.numElevations == 1) {
        EXPECT_NEAR(At(fitted[m]).z, At(typed[m]).z, 1e-6);
        squared += error.x * error.x + error.y * error.y;
      } else {
        squared += error.x * error.x + error.y * error.y + error.z * error.z;
      }
    }
    const double rmsMm = 1000.0 * std::sqrt(squared / static_cast<double>(fitted.size()));
    std::cout << c.name << ": fitted positions " << rmsMm << " mm RMS from the simulated ones\n";
    EXPECT_LT(rmsMm, 2.0);

    // Latencies relative to their mean: the planted one less its share.
    const std::vector<double> latencies = JsonNumbers(json, "latencySamples");
    ASSERT_EQ(latencies.size(), truth.size()) << json;
    for (std::size_t m = 0; m < latencies.size(); ++m) {
      const double planted = truth[m].GetMicIndex() == kLateMic ? c.latencySamples : 0.0;
      EXPECT_NEAR(latencies[m], planted - c.latencySamples / static_cast<double>(truth.size()), 0.1) << m;
    }

    makeTf({"--geometry-calculus", "1"}, "typed.xml", "geometric-typed.bin");
    makeTf({"--geometry-calculus", "1"}, "fitted.xml", "geometric-fitted.bin");
    // The late channel stays out: no geometry holds its latency.
    std::size_t skip = truth.size();
    for (std::size_t m = 0; m < truth.size(); ++m)
      if (c.latencySamples != 0 && truth[m].GetMicIndex() == kLateMic) skip = m;
    const double typedDeg = RelativePhaseErrorDeg(d + "/tf.bin", d + "/geometric-typed.bin", skip);
    const double fittedDeg = RelativePhaseErrorDeg(d + "/tf.bin", d + "/geometric-fitted.bin", skip);
    std::cout << c.name << ": relative phase, measured against geometric, " << typedDeg
              << " deg RMS with the typed array file, " << fittedDeg << " deg with the written one\n";
    EXPECT_LT(fittedDeg, typedDeg);
  }
}

// Silences the octave band LOW..HIGH Hz of a wave (its bins set to 0): a
// loudspeaker that cannot play that band.
void SilenceBand(const std::string& path, double lowHz, double highHz) {
  vesktools::Sound sound = vesktools::ReadSound(path);
  std::vector<double>& x = sound.channels.at(0);
  vesk::RealFft<double> fft(x.size());
  std::copy(x.begin(), x.end(), fft.Time());
  fft.Forward();
  const double binHz = sound.sampleRateHz / static_cast<double>(x.size());
  for (std::size_t k = 0; k < fft.NumBins(); ++k)
    if (k * binHz >= lowHz && k * binHz < highHz) fft.Spectrum()[k] = 0;
  fft.Inverse();
  // Half the level: the filtered sweep's peaks would clip 16 bits.
  for (std::size_t t = 0; t < x.size(); ++t) x[t] = 0.5 * fft.Time()[t] / static_cast<double>(x.size());
  vesktools::WriteSound(path, sound, vesktools::WaveFormat::PCM16);
}

// Median over sources and microphones of the SNR per octave band of a TF
// (dB): the clean one's power over the noise's, the noise being the
// difference of the two files.
std::vector<double> TfBandSnrDb(const std::string& noisyPath, const std::string& cleanPath,
                                const std::vector<double>& bandsHz) {
  const vesktools::TfMeasurement noisy = vesktools::TfFileToMeasurement(noisyPath);
  const vesktools::TfMeasurement clean = vesktools::TfFileToMeasurement(cleanPath);
  const double binHz = clean.samplingHz / static_cast<double>(clean.nfft);
  std::vector<double> medians;
  for (double centre : bandsHz) {
    std::vector<double> snrs;
    for (std::size_t src = 0; src < clean.NumSources(); ++src)
      for (std::size_t mic = 0; mic < clean.NumMics(); ++mic) {
        double signal = 0, noise = 0;
        for (std::size_t j = 0; j < clean.binIndex.size(); ++j) {
          const double hz = static_cast<double>(clean.binIndex[j]) * binHz;
          if (hz < centre / std::sqrt(2.0) || hz >= centre * std::sqrt(2.0)) continue;
          const std::complex<float> h = clean.Spectrum(src, mic)[j];
          signal += std::norm(h);
          noise += std::norm(noisy.Spectrum(src, mic)[j] - h);
        }
        if (noise > 0) snrs.push_back(10.0 * std::log10(signal / noise));
      }
    std::sort(snrs.begin(), snrs.end());
    medians.push_back(snrs.empty() ? std::nan("") : snrs[snrs.size() / 2]);
  }
  return medians;
}

// The SNR per octave band of TSP recordings (12 directions, 4 averaged
// periods of 4096 samples, white sensor noise): each band's median over the
// recordings and channels must be what the averaging predicts (the SNR
// plus 10 log10 of the periods), the SNR --tf predicts for the TF made from
// them must be the TF's own (against the same measurement without noise),
// and a band the loudspeaker cannot play must be flagged.
TEST(TfCheck, BandSnrOfRecordingsAndTheirTransferFunctions) {
  const std::string trelvix = Program("TRELVIX_BIN"), measim = Program("MEASIM_BIN"), tspgen = Program("TSPGEN_BIN"),
                    tfcheck = Program("TFCHECK_BIN"), dravik = Program("DRAVIK_BIN");
  ASSERT_FALSE(trelvix.empty() || measim.empty() || tspgen.empty() || tfcheck.empty() || dravik.empty());
  struct SnrCase {
    const char* name;
    double snrDb;
    double silentBandHz;  // centre of the octave band the playback lacks (0: none)
  };
  const std::vector<SnrCase> cases = {
      {"20 dB", 20.0, 0.0},
      {"40 dB", 40.0, 0.0},
      {"40 dB, the 2 kHz band not played", 40.0, 2000.0},
  };
  const std::string period = "4096", periods = "4";
  for (const SnrCase& c : cases) {
    SCOPED_TRACE(c.name);
    vesk_test::ScratchDir dir;
    const std::string d = dir.Path();
    RunTool({trelvix, "--mode", "template", "--output-type", "mic", "--nummic", "8", "--numazi", "8", "--aziint", "45",
             "--radius", "0.1", "-o", "mic.xml"},
            d);
    RunTool({trelvix,
             "--mode",
             "template",
             "--output-type",
             "tsp",
             "--nummic",
             "8",
             "--numazi",
             "12",
             "--aziint",
             "30",
             "--radius",
             "1.5",
             "-o",
             "list.xml",
             "--filepath",
             "D{AZIMUTH:%03d}.wav",
             "--synchronous-average",
             periods,
             "--tsp-offset",
             period,
             "--tsp-length",
             period,
             "--original-impulse-file",
             period + ".little_endian.tsp"},
            d);
    RunTool({tspgen, "--tsp-length", period, "--synchronous-average", periods, "--tsp-offset", period, "--playback",
             "playback.wav"},
            d);
    if (c.silentBandHz > 0)
      SilenceBand(d + "/playback.wav", c.silentBandHz / std::sqrt(2.0), c.silentBandHz * std::sqrt(2.0));
    const vesk_test::ProcessOptions options = TfModeOptions(d);
    const Args sim = {measim,       "--mic",        "mic.xml",     "--list", "list.xml",
                      "--playback", "playback.wav", "--ir-length", "1024"};
    const Args tf = {trelvix, "--mode", "tf", "--output-type", "gtf", "--tsp-length", period};
    // The same measurement without noise first: the TF's noise is the difference.
    RunTool(sim, d);
    ASSERT_EQ(vesk_test::RunProcess(Join(tf, {"-o", "clean.bin", "mic.xml", "list.xml"}), options).status, 0);
    RunTool(Join(sim, {"--snr", std::to_string(c.snrDb)}), d);
    ASSERT_EQ(vesk_test::RunProcess(Join(tf, {"-o", "tf.bin", "mic.xml", "list.xml"}), options).status, 0);
    int status = -1;
    const std::string json = RunTool({tfcheck, "--recordings", "list.xml", "--tf", "tf.bin", "--json"}, d, &status);
    EXPECT_EQ(status, c.silentBandHz > 0 ? 3 : 0) << json;
    const std::vector<double> bandsHz = JsonNumbers(json, "centreHz");
    const auto bandSnrs = JsonArrays(json, "bandSnrAveragedDb");
    ASSERT_EQ(bandSnrs.size(), 12u * 8u) << json;
    const double predicted = c.snrDb + 10.0 * std::log10(4.0);
    for (std::size_t b = 0; b < bandsHz.size(); ++b) {
      std::vector<double> snrs;
      for (const auto& channel : bandSnrs) snrs.push_back(channel.at(b));
      std::sort(snrs.begin(), snrs.end());
      const double median = snrs[snrs.size() / 2];
      if (bandsHz[b] == c.silentBandHz)
        EXPECT_LT(median, 10.0) << bandsHz[b] << " Hz";
      else
        EXPECT_NEAR(median, predicted, 2.0) << bandsHz[b] << " Hz";
    }
    const std::string flagged = "\"kind\":\"band-snr\",\"text\":\"the 2000 Hz octave band";
    EXPECT_EQ(Count(json, "\"kind\":\"band-snr\""), c.silentBandHz > 0 ? 1u : 0u) << json;
    EXPECT_EQ(Count(json, flagged), c.silentBandHz > 0 ? 1u : 0u) << json;

    // The TF's own SNR per band against what --tf predicts for it.
    const auto tfBands = JsonArrays(json, "bandsHz");
    ASSERT_EQ(tfBands.size(), 1u) << json;
    const std::vector<double>& tfBandsHz = tfBands[0];
    const auto predictedTf = JsonArrays(json, "snrDb");
    ASSERT_EQ(predictedTf.size(), 12u * 8u) << json;
    const std::vector<double> actual = TfBandSnrDb(d + "/tf.bin", d + "/clean.bin", tfBandsHz);
    for (std::size_t b = 0; b < tfBandsHz.size(); ++b) {
      if (tfBandsHz[b] == c.silentBandHz || tfBandsHz[b] < 200) continue;  // no signal; below the file's first bins
      std::vector<double> snrs;
      for (const auto& mic : predictedTf) snrs.push_back(mic.at(b));
      std::sort(snrs.begin(), snrs.end());
      std::cout << c.name << ", " << tfBandsHz[b] << " Hz: TF SNR " << actual[b] << " dB, predicted "
                << snrs[snrs.size() / 2] << " dB\n";
      EXPECT_NEAR(snrs[snrs.size() / 2], actual[b], 2.0) << tfBandsHz[b] << " Hz";
    }
    const std::vector<double> shares = JsonNumbers(json, "lowSnrShare");
    ASSERT_EQ(shares.size(), 12u * 8u);
    for (double share : shares) {
      if (c.silentBandHz > 0)
        EXPECT_GT(share, 0.1);
      else
        EXPECT_EQ(share, 0.0);
    }
  }
}

// A report read through one pipe with the plot's output (as `2>&1 | tee`
// does) must come out whole: the PNG names after it, never inside it.
TEST(TfCheck, PlotOutputFollowsTheWholeReport) {
  const std::string trelvix = Program("TRELVIX_BIN"), measim = Program("MEASIM_BIN"), tspgen = Program("TSPGEN_BIN"),
                    tfcheck = Program("TFCHECK_BIN");
  ASSERT_FALSE(trelvix.empty() || measim.empty() || tspgen.empty() || tfcheck.empty());
  vesk_test::ScratchDir dir;
  const std::string d = dir.Path();
  RunTool({trelvix, "--mode", "template", "--output-type", "mic", "--nummic", "4", "--numazi", "4", "--aziint", "90",
           "--radius", "0.1", "-o", "mic.xml"},
          d);
  RunTool({trelvix,
           "--mode",
           "template",
           "--output-type",
           "tsp",
           "--nummic",
           "4",
           "--numazi",
           "4",
           "--aziint",
           "90",
           "--radius",
           "1.5",
           "--synchronous-average",
           "4",
           "--tsp-offset",
           "1024",
           "--tsp-length",
           "1024",
           "--original-impulse-file",
           "1024.little_endian.tsp",
           "-o",
           "list.xml"},
          d);
  RunTool({tspgen, "--tsp-length", "1024", "--synchronous-average", "4", "--tsp-offset", "1024", "--playback",
           "playback.wav"},
          d);
  RunTool({measim, "--mic", "mic.xml", "--list", "list.xml", "--playback", "playback.wav", "--ir-length", "512"}, d);
  int status = -1;
  const std::string out =
      RunTool({"/bin/sh", "-c", "\"$0\" --recordings list.xml --plot 'plots' 2>&1", tfcheck}, d, &status);
  ASSERT_TRUE(status == 0 || status == 3) << out;  // the verdict does not matter here
  const std::size_t verdict = out.find("verdict: ");
  const std::size_t png = out.find("tfcheck-recordings.png");
  ASSERT_NE(png, std::string::npos) << out;
  EXPECT_EQ(out.rfind("tfcheck: list.xml: ", 0), 0u) << out;
  EXPECT_LT(verdict, png) << out;
}

// Several elevations under the default path template name many positions
// with one file: the template says so, measim refuses to overwrite, and tf
// mode warns before it runs anything.
TEST(TfCheck, SharedRecordingNamesAreToldAtEveryStep) {
  const std::string trelvix = Program("TRELVIX_BIN"), measim = Program("MEASIM_BIN"), tspgen = Program("TSPGEN_BIN");
  ASSERT_FALSE(trelvix.empty() || measim.empty() || tspgen.empty());
  vesk_test::ScratchDir dir;
  const std::string d = dir.Path();
  RunTool({trelvix, "--mode", "template", "--output-type", "mic", "-o", "mic.xml"}, d);
  const std::string made = RunTool({trelvix, "--mode", "template", "--output-type", "tsp", "--numazi", "8", "--aziint",
                                    "45", "--numelv", "3", "-o", "list.xml"},
                                   d);
  EXPECT_NE(made.find("warning: the path template \"D{AZIMUTH:%03d}_00.wav\" gives 24 files only 8 names: "
                      "D000_00.wav stands for source 0 and source 1; add {ELEVATION:%d} to --filepath"),
            std::string::npos)
      << made;
  RunTool({tspgen, "--tsp-length", "1024", "--synchronous-average", "2", "--tsp-offset", "1024", "--playback",
           "playback.wav"},
          d);
  int status = -1;
  const std::string refused =
      RunTool({measim, "--mic", "mic.xml", "--list", "list.xml", "--playback", "playback.wav"}, d, &status);
  EXPECT_EQ(status, 1);
  EXPECT_NE(refused.find("measim: D000_00.wav: named by source 0 and by source 1; measim writes each file once"),
            std::string::npos)
      << refused;
  EXPECT_FALSE(std::filesystem::exists(d + "/D000_00.wav"));
  const std::string tf = RunTool({trelvix, "--mode", "tf", "-o", "tf.bin", "mic.xml", "list.xml"}, d, &status);
  const std::string warning =
      "warning: list.xml: source 0 and source 1 lie at different positions but both name "
      "D000_00.wav (8 names are shared by different positions)";
  EXPECT_NE(tf.find(warning), std::string::npos) << tf;
  EXPECT_LT(tf.find(warning), tf.find("cannot open the recording D000_00.wav")) << tf;
}

}  // namespace
