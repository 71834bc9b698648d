// tfinterp against responses whose truth is known: the free-field geometric
// responses of trelvix at the measured and at the target positions. The
// interpolation at the positions halfway between measured ones (where it is
// hardest) must come close to the truth, the comparison methods must be
// measurably worse, measured positions must come back bit for bit, and the
// output must not depend on the number of cores.
#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include <boost/pointer_cast.hpp>
#include <gtest/gtest.h>

#include "RunProcess.h"
#include "ScratchDir.h"
#include "veskio2/Vesk.h"

namespace {

using Args = std::vector<std::string>;
namespace vgtf = veskio2::vesk::vgtf;

std::string Program(const char* var) {
  const char* path = std::getenv(var);
  return path ? path : "";
}

vesk_test::ProcessResult RunTool(const Args& argv, const std::string& dir) {
  vesk_test::ProcessOptions options;
  options.workDir = dir;
  options.timeoutSeconds = 300;
  return vesk_test::RunProcess(argv, options);
}

void MustRun(const Args& argv, const std::string& dir) {
  const vesk_test::ProcessResult r = RunTool(argv, dir);
  ASSERT_EQ(r.status, 0) << argv[0] << ": " << r.err << r.out;
}

struct Tf {
  std::vector<veskio2::Vector3<float>> positions;
  vgtf::TF3 tf;  // [source][mic][bin], as stored
  std::size_t nfft = 0;
  double samplingHz = 0;
};

Tf ReadTf(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  const auto file = veskio2::vesk::VeskFileBinaryReader(in).Read();
  Tf t;
  for (const auto& set : file->GetDataSets()) {
    if (auto f = boost::dynamic_pointer_cast<vgtf::Fmt1_0>(set)) {
      t.nfft = static_cast<std::size_t>(f->GetFftLength());
      t.samplingHz = f->GetSamplingRate();
    }
    if (auto g = boost::dynamic_pointer_cast<vgtf::GTF1_0>(set)) {
      t.positions = g->GetPositions();
      t.tf = g->GetTf();
    }
    if (auto m = boost::dynamic_pointer_cast<vgtf::M2PG1_0>(set)) {
      for (const auto& p : m->GetPositions()) t.positions.push_back(p[0]);
      for (const auto& s : m->GetTf()) t.tf.push_back(s[0]);
    }
  }
  return t;
}

double Deg(double rad) { return rad * 180.0 / M_PI; }
double AzimuthDeg(const veskio2::Vector3<float>& p) {
  const double a = Deg(std::atan2(double(p.y), double(p.x)));
  return a < 0 ? a + 360.0 : a;
}
double ElevationDeg(const veskio2::Vector3<float>& p) {
  return Deg(std::atan2(double(p.z), std::hypot(double(p.x), double(p.y))));
}
// Halfway between grid lines `stepDeg` apart (within a hundredth of a degree).
bool Halfway(double deg, double stepDeg) {
  const double r = std::fmod(deg + 3600.0, stepDeg);
  return std::fabs(r - stepDeg / 2) < 0.01;
}

struct Figures {
  // Spectral distortion: the RMS over frequency of the dB ratio of one
  // spectrum, averaged over the positions and microphones.
  double distortionDb = 0;
  double phaseMedianDeg = 0;  // median |phase error| over all values
  double worstMicDb = 0;      // the distortion of the worst microphone
  std::size_t worstMic = 0, positions = 0;
};

// Compares `got` with `truth` (the same positions in the same order) at the
// sources `chosen` over 300 Hz - 7 kHz.
Figures Compare(const Tf& got, const Tf& truth, const std::vector<std::size_t>& chosen) {
  Figures f;
  std::vector<double> phases;
  const std::size_t mics = truth.tf[0].size();
  std::vector<double> micDistortion(mics, 0.0);
  for (std::size_t src : chosen) {
    for (std::size_t mic = 0; mic < mics; ++mic) {
      double squares = 0;
      std::size_t count = 0;
      for (std::size_t k = 0; k < truth.tf[src][mic].size(); ++k) {
        const double hz = static_cast<double>(k) * truth.samplingHz / static_cast<double>(truth.nfft);
        if (hz < 300 || hz > 7000) continue;
        const std::complex<double> x = truth.tf[src][mic][k], y = got.tf[src][mic][k];
        const double db = 20 * std::log10(std::abs(y) / std::abs(x));
        squares += db * db;
        ++count;
        phases.push_back(std::fabs(Deg(std::arg(y * std::conj(x)))));
      }
      const double sd = std::sqrt(squares / static_cast<double>(count));
      f.distortionDb += sd / static_cast<double>(chosen.size() * mics);
      micDistortion[mic] += sd / static_cast<double>(chosen.size());
    }
  }
  f.positions = chosen.size();
  std::nth_element(phases.begin(), phases.begin() + phases.size() / 2, phases.end());
  f.phaseMedianDeg = phases[phases.size() / 2];
  for (std::size_t mic = 0; mic < mics; ++mic)
    if (micDistortion[mic] >= f.worstMicDb) f.worstMicDb = micDistortion[mic], f.worstMic = mic;
  return f;
}

struct Scene {
  const char* name;
  bool rigidSphere;  // measim's 0.1 m rigid sphere (else trelvix's free-field geometry)
  Args measured;     // template grid of the measurement
  Args targets;      // template grid of the targets
  const char* type;
  double stepAzimuthDeg, stepElevationDeg;    // measured spacing; 0: one elevation
  double maxDistortionDb, maxPhaseMedianDeg;  // the default method's bounds
};

// Makes the scene's measured.bin and targets.bin (the truth) in `dir`: free
// field by trelvix's geometry, or measim's responses of 8 microphones on a
// rigid sphere of 0.1 m read by trelvix from an impulse-response list.
// Without `truth` only the targets' list is made.
void MakeScene(const Scene& s, const std::string& dir, bool truth = true) {
  const std::string trelvix = Program("TRELVIX_BIN"), measim = Program("MEASIM_BIN");
  MustRun({trelvix, "--mode", "template", "--output-type", "mic", "--nummic", "8", "--numazi", "8", "--aziint", "45",
           "--radius", "0.1", "-o", "mic.xml"},
          dir);
  for (const char* name : {"measured", "targets"}) {
    const std::string n = name;
    Args list = {trelvix,    "--mode", "template", "--output-type", s.rigidSphere ? "ir" : "tsp",
                 "--radius", "1.5",    "-o",       n + ".xml"};
    if (s.rigidSphere)
      list.insert(list.end(), {"--filepath", n + "_D{AZIMUTH:%03d}_E{ELEVATION:%03d}_ch{CHANNEL:%02d}.flt"});
    const Args& grid = n == "measured" ? s.measured : s.targets;
    list.insert(list.end(), grid.begin(), grid.end());
    MustRun(list, dir);
    if (n == "targets" && !truth) break;
    if (s.rigidSphere) {
      MustRun({measim, "--mic", "mic.xml", "--list", n + ".xml", "--sphere-radius", "0.1"}, dir);
      MustRun({trelvix, "--mode", "tf", "--output-type", s.type, "mic.xml", n + ".xml", "-o", n + ".bin"}, dir);
    } else {
      MustRun({trelvix, "--mode", "tf", "--geometry-calculus", "1", "--output-type", s.type, "mic.xml", n + ".xml",
               "-o", n + ".bin"},
              dir);
    }
  }
}

const Args kSphereMeasured = {"--numazi", "36",        "--aziint", "10",       "--numelv",
                              "11",       "--elvfrom", "-40",      "--elvint", "10"};
const Args kSphereTargets = {"--numazi", "72", "--aziint", "5", "--numelv", "21", "--elvfrom", "-40", "--elvint", "5"};

TEST(TfInterp, HalfwayPositionsComeCloseToTheTruthAndMeasuredOnesBackBitForBit) {
#ifdef TFINTERP_SANITIZED
  GTEST_SKIP() << "the rigid-sphere scenes take too long under the sanitizers; the plain build runs them";
#endif
  const std::string tfinterp = Program("TFINTERP_BIN");
  ASSERT_FALSE(tfinterp.empty() || Program("TRELVIX_BIN").empty());
  const std::vector<Scene> scenes = {
      {"free field, 10 deg circle to 1 deg, M2PG",
       false,
       {"--numazi", "36", "--aziint", "10"},
       {"--numazi", "360", "--aziint", "1"},
       "m2pg",
       10,
       0,
       0.05,
       0.3},
      {"free field, 30 deg circle to 5 deg, GTF",
       false,
       {"--numazi", "12", "--aziint", "30"},
       {"--numazi", "72", "--aziint", "5"},
       "gtf",
       30,
       0,
       0.2,
       2.0},
      {"free field, 10 x 10 deg sphere part to 5 deg, GTF", false, kSphereMeasured, kSphereTargets, "gtf", 10, 10, 0.1,
       0.5},
  };
  // The acceptance bounds on the rigid sphere; 5 deg targets hold every
  // halfway position of the 10 deg and 30 deg circles.
  const std::vector<Scene> sphereScenes = {
      {"rigid sphere, 10 deg circle to 5 deg, M2PG",
       true,
       {"--numazi", "36", "--aziint", "10"},
       {"--numazi", "72", "--aziint", "5"},
       "m2pg",
       10,
       0,
       0.8,
       1.5},
      {"rigid sphere, 30 deg circle to 5 deg, GTF",
       true,
       {"--numazi", "12", "--aziint", "30"},
       {"--numazi", "72", "--aziint", "5"},
       "gtf",
       30,
       0,
       2.0,
       5.0},
      {"rigid sphere, 10 x 10 deg sphere part to the cell centres, M2PG",
       true,
       kSphereMeasured,
       {"--numazi", "36", "--azifrom", "5", "--aziint", "10", "--numelv", "10", "--elvfrom", "-35", "--elvint", "10"},
       "m2pg",
       10,
       10,
       1.0,
       1.5},
  };
  std::vector<Scene> all = scenes;
  all.insert(all.end(), sphereScenes.begin(), sphereScenes.end());
  for (const Scene& s : all) {
    SCOPED_TRACE(s.name);
    vesk_test::ScratchDir dir;
    MakeScene(s, dir.Path());
    const Tf measured = ReadTf(dir.Path() + "/measured.bin"), truth = ReadTf(dir.Path() + "/targets.bin");
    std::vector<std::size_t> halfway;
    for (std::size_t src = 0; src < truth.positions.size(); ++src)
      if (Halfway(AzimuthDeg(truth.positions[src]), s.stepAzimuthDeg) &&
          (s.stepElevationDeg == 0 || Halfway(ElevationDeg(truth.positions[src]), s.stepElevationDeg)))
        halfway.push_back(src);
    ASSERT_FALSE(halfway.empty());
    std::vector<Figures> figures;
    for (const char* method : {"delay-aligned", "complex", "nearest"}) {
      const std::string out = std::string(method) + ".bin";
      MustRun({tfinterp, "--method", method, "measured.bin", "targets.xml", "-o", out}, dir.Path());
      const Tf got = ReadTf(dir.Path() + "/" + out);
      ASSERT_EQ(got.positions.size(), truth.positions.size());
      figures.push_back(Compare(got, truth, halfway));
      std::cout << s.name << ", " << method << ": " << figures.back().positions << " halfway positions, "
                << figures.back().distortionDb << " dB, median phase error " << figures.back().phaseMedianDeg
                << " deg; worst microphone " << figures.back().worstMic << " at " << figures.back().worstMicDb
                << " dB\n";
      // Every target at a measured direction holds the measured bytes.
      std::size_t exact = 0;
      for (std::size_t t = 0; t < got.positions.size(); ++t)
        for (std::size_t m = 0; m < measured.positions.size(); ++m)
          if (std::fabs(AzimuthDeg(got.positions[t]) - AzimuthDeg(measured.positions[m])) < 1e-3 &&
              std::fabs(ElevationDeg(got.positions[t]) - ElevationDeg(measured.positions[m])) < 1e-3) {
            ++exact;
            for (std::size_t mic = 0; mic < got.tf[t].size(); ++mic)
              ASSERT_EQ(std::memcmp(got.tf[t][mic].data(), measured.tf[m][mic].data(),
                                    got.tf[t][mic].size() * sizeof(vgtf::Complex)),
                        0)
                  << "target " << t << " mic " << mic;
          }
      if (!(s.rigidSphere && s.stepElevationDeg > 0)) {  // the cell centres hold no measured position
        EXPECT_GE(exact, measured.positions.size() / 2);
      }
    }
    EXPECT_LE(figures[0].distortionDb, s.maxDistortionDb);
    EXPECT_LE(figures[0].phaseMedianDeg, s.maxPhaseMedianDeg);
    // Raw complex weighting and the nearest direction are measurably worse:
    // in phase everywhere, on the sphere also in level.
    for (std::size_t k = 1; k < figures.size(); ++k) {
      EXPECT_GT(figures[k].phaseMedianDeg, 2 * figures[0].phaseMedianDeg) << "method " << k;
      if (s.rigidSphere) {
        EXPECT_GT(figures[k].distortionDb, 1.5 * figures[0].distortionDb) << "method " << k;
      }
    }
  }
}

TEST(TfInterp, TargetsOutsideTheMeasurementAreRefusedByName) {
  const std::string tfinterp = Program("TFINTERP_BIN"), trelvix = Program("TRELVIX_BIN");
  vesk_test::ScratchDir dir;
  MakeScene({"sphere part",
             false,
             kSphereMeasured,
             {"--numazi", "2", "--aziint", "5", "--numelv", "2", "--elvfrom", "-20", "--elvint", "-40"},
             "m2pg",
             10,
             10,
             0,
             0},
            dir.Path());
  // Targets 0 and 2 lie at elevation -20 (inside), 1 and 3 at -60 (below the lowest measured -40).
  vesk_test::ProcessResult r = RunTool({tfinterp, "measured.bin", "targets.xml", "-o", "out.bin"}, dir.Path());
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("tfinterp: target 1 at ("), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("elevation -60 deg) lies outside the measured sphere of"), std::string::npos) << r.err;
  EXPECT_FALSE(std::ifstream(dir.Path() + "/out.bin").good());
  // The measurement is never replaced by its interpolation.
  const auto before = std::filesystem::file_size(dir.Path() + "/measured.bin");
  r = RunTool({tfinterp, "--extrapolate", "nearest", "measured.bin", "targets.xml", "-o", "./measured.bin"},
              dir.Path());
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err,
            "tfinterp: -o ./measured.bin names the input measured.bin; write the interpolation to another file\n");
  EXPECT_EQ(std::filesystem::file_size(dir.Path() + "/measured.bin"), before);
  r = RunTool({tfinterp, "--extrapolate", "nearest", "measured.bin", "targets.xml", "-o", "out.bin"}, dir.Path());
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.err.find("2 taken from the nearest measured direction"), std::string::npos) << r.err;
}

// What a finer grid is for: tflocate finds sources between the measured
// directions better with the 1 deg file interpolated from a 10 deg
// measurement on the rigid sphere than with the measurement itself.
TEST(TfInterp, TheInterpolatedGridLocatesOffGridSourcesBetter) {
#ifdef TFINTERP_SANITIZED
  GTEST_SKIP() << "the rigid-sphere scenes take too long under the sanitizers; the plain build runs them";
#endif
  const std::string tfinterp = Program("TFINTERP_BIN"), tflocate = Program("TFLOCATE_BIN"),
                    measim = Program("MEASIM_BIN");
  ASSERT_FALSE(tflocate.empty());
  vesk_test::ScratchDir dir;
  MakeScene({"rigid sphere, 10 deg circle to 1 deg",
             true,
             {"--numazi", "36", "--aziint", "10"},
             {"--numazi", "360", "--aziint", "1"},
             "m2pg",
             10,
             0,
             0,
             0},
            dir.Path(), false);
  MustRun({tfinterp, "measured.bin", "targets.xml", "-o", "fine.bin"}, dir.Path());
  const auto mean = [](const std::string& json) {
    std::smatch m;
    EXPECT_TRUE(std::regex_search(json, m, std::regex("\"meanDeg\":([0-9.eE+-]+)"))) << json;
    return m.empty() ? NAN : std::stod(m[1].str());
  };
  double measuredSum = 0, fineSum = 0;
  const int scenes = 6;
  for (int s = 0; s < scenes; ++s) {
    const std::string azimuth = std::to_string(3.7 + 57.3 * s);  // none on the 10 deg grid, none halfway
    MustRun({measim, "--mic", "mic.xml", "--scene", "scene.wav", "--sphere-radius", "0.1", "--wave-format", "float",
             "--duration", "1", "--snr", "30", "--seed", std::to_string(10 + s), "--source",
             "azimuth=" + azimuth + ",elevation=0,distance=1.5,signal=noise"},
            dir.Path());
    for (const char* tf : {"measured.bin", "fine.bin"}) {
      const vesk_test::ProcessResult r =
          RunTool({tflocate, tf, "scene.wav", "--json", "--truth-json", "scene.json"}, dir.Path());
      ASSERT_EQ(r.status, 0) << r.err;
      (std::string(tf) == "fine.bin" ? fineSum : measuredSum) += mean(r.out) / scenes;
    }
  }
  std::cout << "tflocate mean error over " << scenes << " off-grid sources: measured 10 deg file " << measuredSum
            << " deg, interpolated 1 deg file " << fineSum << " deg\n";
  EXPECT_LT(fineSum, measuredSum);
}

// Also run under ThreadSanitizer (ctest label "threads").
TEST(TfInterp, OutputAndReportDoNotDependOnTheNumberOfCores) {
  const std::string tfinterp = Program("TFINTERP_BIN");
  const std::string taskset = "/usr/bin/taskset";
  if (std::system((taskset + " -c 0 true > /dev/null 2>&1").c_str()) != 0)
    GTEST_SKIP() << "no taskset to run on one core";
  vesk_test::ScratchDir dir;
  MakeScene({"sphere part", false, kSphereMeasured, kSphereTargets, "gtf", 10, 10, 0, 0}, dir.Path());
  MustRun({tfinterp, "measured.bin", "targets.xml", "-o", "all.bin"}, dir.Path());
  MustRun({taskset, "-c", "0", tfinterp, "measured.bin", "targets.xml", "-o", "one.bin"}, dir.Path());
  const auto slurp = [&](const std::string& name) { return vesk_test::ReadWholeFile(dir / name); };
  EXPECT_TRUE(slurp("all.bin") == slurp("one.bin")) << "the outputs differ";
  const vesk_test::ProcessResult all = RunTool({tfinterp, "--leave-one-out", "--json", "measured.bin"}, dir.Path());
  const vesk_test::ProcessResult one =
      RunTool({taskset, "-c", "0", tfinterp, "--leave-one-out", "--json", "measured.bin"}, dir.Path());
  ASSERT_EQ(all.status, 0) << all.err;
  EXPECT_EQ(all.out, one.out);
  // In the top octave the delay-aligned prediction beats raw complex weighting.
  const std::regex top(
      "\\{\"lowHz\":4000.*\"delay-aligned\":\\{\"distortionDb\":([0-9.e-]+),\"phaseMedianDeg\":([0-9.e-]+).*"
      "\"complex\":\\{\"distortionDb\":([0-9.e-]+),\"phaseMedianDeg\":([0-9.e-]+)");
  std::smatch m;
  ASSERT_TRUE(std::regex_search(all.out, m, top)) << all.out;
  EXPECT_LT(std::stod(m[2]), 1.0);
  EXPECT_GT(std::stod(m[4]), 5 * std::stod(m[2]));
}

}  // namespace
