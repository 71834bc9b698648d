// tfcheck over simulated measurements: clean ones (free field and a small
// room, 8 and 16 microphones, one and three elevations) must come out
// consistent, and each planted mistake must be found and named. The
// measurements are made the way a user makes them: trelvix templates,
// tspgen, measim (which plants the mistake), trelvix tf.
#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "RunProcess.h"
#include "ScratchDir.h"

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
  Args measim;        // the scene and the planted mistake
  Args trelvix;       // tf-mode options
  double tfRadius;    // radius of the array file trelvix is given (0.1 m is the truth)
  int status;         // 0 consistent, 3 suspect
  std::set<std::string> kinds;       // finding kinds, exactly
  std::vector<std::string> naming;   // texts the findings must hold
  std::string micChannels = "";      // --mic-channels of the templates: which grid microphones, which channels
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

TEST(TfCheck, CleanMeasurementsAreConsistentAndPlantedMistakesAreNamed) {
  const std::string trelvix = Program("TRELVIX_BIN"), measim = Program("MEASIM_BIN"), tspgen = Program("TSPGEN_BIN"),
                    tfcheck = Program("TFCHECK_BIN");
  ASSERT_FALSE(trelvix.empty() || measim.empty() || tspgen.empty() || tfcheck.empty());
  const std::vector<Case> cases = {
      {"free field, 8 mics, 1 elevation, GTF", Route::IMPULSE_LIST, 8, 1, {}, {"--output-type", "gtf", "--normalize-freq"}, 0.1, 0, {}, {}},
      {"free field, 16 mics, 3 elevations, GTF", Route::IMPULSE_LIST, 16, 3, {}, {"--output-type", "gtf", "--normalize-src"}, 0.1, 0, {}, {}},
      {"room, 8 mics, 3 elevations, M2PG", Route::IMPULSE_LIST, 8, 3, kRoom, {"--output-type", "m2pg"}, 0.1, 0, {}, {}},
      {"room, 16 mics, 1 elevation, GTF", Route::IMPULSE_LIST, 16, 1, kRoom, {"--output-type", "gtf"}, 0.1, 0, {}, {}},
      {"room through TSP recordings, 8 mics, M2PG", Route::TSP_TF, 8, 1, Join(kRoom, {"--snr", "40", "--gain", "0.5"}),
       {"--output-type", "m2pg"}, 0.1, 0, {}, {}},
      // The array's microphones out of grid order and the list's channels
      // out of ascending order (channels 0 and 2 unlisted): the simulator and
      // trelvix must agree on which channel each microphone is.
      {"micIndex and micIndices not ascending, through TSP recordings", Route::TSP_TF, 8, 1, {},
       {"--output-type", "gtf"}, 0.1, 0, {}, {}, "6,1,4,3,7,5"},
      {"channels 2 and 5 swapped", Route::IMPULSE_LIST, 8, 1, {"--swap-mics", "2", "5"}, {"--output-type", "gtf"}, 0.1, 3,
       {"swapped-channels"}, {"micIndex 2 <-> micIndex 5"}},
      {"neighbours 0 and 15 swapped in a room", Route::IMPULSE_LIST, 16, 3, Join(kRoom, {"--swap-mics", "15", "0"}),
       {"--output-type", "m2pg"}, 0.1, 3, {"swapped-channels"}, {"micIndex 0 <-> micIndex 15"}},
      {"positions in centimetres", Route::IMPULSE_LIST, 8, 1, {}, {"--output-type", "gtf"}, 10.0, 3, {"array-scale"},
       {"centimetres"}},
      {"responses at 48 kHz in a 16 kHz file", Route::IMPULSE_LIST, 8, 1, {"--sampling-freq", "48000"},
       {"--output-type", "gtf", "--sampling-freq", "16000", "--nfft", "1024"}, 0.1, 3, {"sampling-rate"},
       {"sampled at 48000 Hz"}},
      {"loudspeaker of source 7 moved by 10 degrees", Route::IMPULSE_LIST, 8, 1, {"--move-source", "7=10"},
       {"--output-type", "gtf"}, 0.1, 3, {"source-moved"}, {"source 7 (azimuth 105.0 deg", "azimuth 115.0 deg"}},
      {"clean recordings in a room", Route::TSP_RECORDINGS, 8, 1, Join(kRoom, {"--snr", "40", "--gain", "0.5"}), {}, 0.1,
       0, {}, {}},
      {"clean float recordings, 16 mics, 3 elevations", Route::TSP_RECORDINGS, 16, 3, {"--wave-format", "float"}, {}, 0.1,
       0, {}, {}},
      {"one recording clipped", Route::TSP_RECORDINGS, 8, 1,
       Join(kRoom, {"--snr", "40", "--gain", "0.5", "--source-gain", "3=3", "--allow-clipping"}), {}, 0.1, 3,
       {"clipping"}, {"D090_E0.wav: "}},
      {"one recording with 20 dB more noise", Route::TSP_RECORDINGS, 8, 1,
       Join(kRoom, {"--snr", "40", "--gain", "0.5", "--source-snr", "5=20"}), {}, 0.1, 3, {"noise"}, {"D150_E0.wav: "}},
      {"clock drift of 50 ppm", Route::TSP_RECORDINGS, 8, 1,
       Join(kRoom, {"--snr", "40", "--gain", "0.5", "--clock-drift", "50"}), {}, 0.1, 3, {"clock-drift"},
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
                  azimuthStep, "--radius", "0.1", "-o", "mic.xml"}, channels), d);
    std::ostringstream radius;
    radius << c.tfRadius;
    RunTool(Join({trelvix, "--mode", "template", "--output-type", "mic", "--nummic", mics, "--numazi", mics,
                  "--aziint", azimuthStep, "--radius", radius.str(), "-o", "mic-tf.xml"}, channels), d);
    // 12 directions 30 degrees apart (24 by 15 for impulse lists) at 1.5 m,
    // at elevation 0 or -20, 0, 20 degrees. trelvix runs dravik with its
    // default period of 16384 samples; the recordings check reads the
    // list's own, shorter one.
    const std::string period = c.route == Route::TSP_TF ? "16384" : "4096";
    const std::string periods = c.route == Route::TSP_TF ? "2" : "8";
    const std::string listMics =
        c.micChannels.empty() ? mics : std::to_string(std::count(c.micChannels.begin(), c.micChannels.end(), ',') + 1);
    Args list = {trelvix, "--mode", "template", "--output-type", tsp ? "tsp" : "ir", "--nummic", listMics,
                 "--numazi", tsp ? "12" : "24", "--aziint", tsp ? "30" : "15", "--radius", "1.5",
                 "--numelv", std::to_string(c.numElevations), "--elvint", "20",
                 "--elvfrom", c.numElevations == 1 ? "0" : "-20", "-o", "list.xml", "--filepath",
                 tsp ? "D{AZIMUTH:%03d}_E{ELEVATION:%d}.wav" : "D{AZIMUTH:%03d}_E{ELEVATION:%d}_ch{CHANNEL:%02d}.flt"};
    if (tsp)
      list = Join(list, {"--synchronous-average", periods, "--tsp-offset", period, "--tsp-length", period,
                         "--original-impulse-file", period + ".little_endian.tsp"});
    RunTool(Join(list, channels), d);
    Args sim = {measim, "--mic", "mic.xml", "--list", "list.xml", "--ir-length", "2048"};
    if (tsp) {
      RunTool({tspgen, "--tsp-length", period, "--synchronous-average", periods, "--tsp-offset", period,
               "--playback", "playback.wav"}, d);
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
      vesk_test::ProcessOptions options;
      options.workDir = d;
      // trelvix finds dravik on the search path; its work files go to TMPDIR.
      const std::string dravik = Program("DRAVIK_BIN");
      const char* path = std::getenv("PATH");
      options.env = {"PATH=" + dravik.substr(0, dravik.rfind('/')) + ":" + (path ? path : "/usr/bin:/bin"),
                     "TMPDIR=" + d};
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
    for (const std::string& text : c.naming) EXPECT_NE(findings.find(text), std::string::npos) << text << "\n" << report;
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
           "--radius", "0.1", "-o", "mic.xml"}, d);
  RunTool({trelvix, "--mode", "template", "--output-type", "tsp", "--nummic", "4", "--numazi", "4", "--aziint", "90",
           "--radius", "1.5", "--synchronous-average", "4", "--tsp-offset", "1024", "--tsp-length", "1024",
           "--original-impulse-file", "1024.little_endian.tsp", "-o", "list.xml"}, d);
  RunTool({tspgen, "--tsp-length", "1024", "--synchronous-average", "4", "--tsp-offset", "1024", "--playback",
           "playback.wav"}, d);
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
                                    "45", "--numelv", "3", "-o", "list.xml"}, d);
  EXPECT_NE(made.find("warning: the path template \"D{AZIMUTH:%03d}_00.wav\" gives 24 files only 8 names: "
                      "D000_00.wav stands for source 0 and source 1; add {ELEVATION:%d} to --filepath"),
            std::string::npos) << made;
  RunTool({tspgen, "--tsp-length", "1024", "--synchronous-average", "2", "--tsp-offset", "1024", "--playback",
           "playback.wav"}, d);
  int status = -1;
  const std::string refused =
      RunTool({measim, "--mic", "mic.xml", "--list", "list.xml", "--playback", "playback.wav"}, d, &status);
  EXPECT_EQ(status, 1);
  EXPECT_NE(refused.find("measim: D000_00.wav: named by source 0 and by source 1; measim writes each file once"),
            std::string::npos) << refused;
  EXPECT_FALSE(std::filesystem::exists(d + "/D000_00.wav"));
  const std::string tf = RunTool({trelvix, "--mode", "tf", "-o", "tf.bin", "mic.xml", "list.xml"}, d, &status);
  const std::string warning = "warning: list.xml: source 0 and source 1 lie at different positions but both name "
                              "D000_00.wav (8 names are shared by different positions)";
  EXPECT_NE(tf.find(warning), std::string::npos) << tf;
  EXPECT_LT(tf.find(warning), tf.find("cannot open the recording D000_00.wav")) << tf;
}

}  // namespace
