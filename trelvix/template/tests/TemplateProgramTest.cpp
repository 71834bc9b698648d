// Runs the built trelvix in template mode and reads the files it writes
// back through the library's XML reader.
#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

#include <boost/format.hpp>
#include <boost/pointer_cast.hpp>
#include <gtest/gtest.h>
#include <unistd.h>

#include "../../front/tests/RunProgram.h"
#include "template/GridParameters.h"
#include "veskio2/VeskConfig.h"

using namespace veskio2::veskconfig;
using trelvix_test::FileExists;
using trelvix_test::RunTrelvix;
using trelvix_test::ScratchDir;

namespace {

constexpr double kDeg = 3.14159265358979323846 / 180;
// Stored floats are unit vectors and metres; the mathematical value differs
// from the float one by rounding only (a few 1e-7).
constexpr double kTolerance = 1e-6;

// Runs "trelvix --mode template <args> -o file" and reads the file back.
template <typename File>
boost::shared_ptr<File> MakeTemplate(std::vector<std::string> args) {
  ScratchDir dir;
  args.insert(args.begin(), {"--mode", "template"});
  args.insert(args.end(), {"-o", dir / "t.xml"});
  const auto run = RunTrelvix(args);
  EXPECT_EQ(0, run.status) << run.err;
  EXPECT_EQ("", run.err);
  if (run.status != 0) return nullptr;
  auto file = boost::dynamic_pointer_cast<File>(VeskConfigFileXMLReader(dir / "t.xml").Read());
  EXPECT_TRUE(file);
  if (file) {
    EXPECT_EQ("created by trelvix", file->GetComment());
  }
  return file;
}

// A run that must fail: its message and status 1, and no file.
void ExpectFailure(std::vector<std::string> args, const std::string& message) {
  ScratchDir dir;
  args.insert(args.begin(), {"--mode", "template"});
  args.insert(args.end(), {"-o", dir / "t.xml"});
  const auto run = RunTrelvix(args);
  EXPECT_EQ(1, run.status) << message;
  EXPECT_EQ(message + "\n", run.err);
  EXPECT_TRUE(dir.Entries().empty());
}

// The position as stored must be exactly what the grid computes (floats
// round-trip through the file) and near the ideal cylinder point.
void ExpectCylinder(const veskio2::Position<float>& p, double azimuthDeg, double radius, double height = 0) {
  const auto expected = trelvix::MakePosition(true, azimuthDeg, height, 0, radius);
  EXPECT_EQ(expected.GetDirection(), p.GetDirection()) << azimuthDeg;
  EXPECT_EQ(expected.GetDistance(), p.GetDistance()) << azimuthDeg;
  const veskio2::Vector3<float> xyz = p.ToCartesian();
  EXPECT_NEAR(radius * std::cos(azimuthDeg * kDeg), xyz.x, kTolerance) << azimuthDeg;
  EXPECT_NEAR(radius * std::sin(azimuthDeg * kDeg), xyz.y, kTolerance) << azimuthDeg;
  EXPECT_NEAR(height, xyz.z, kTolerance) << azimuthDeg;
}

void ExpectSphere(const veskio2::Position<float>& p, double azimuthDeg, double elevationDeg, double radius) {
  const double ce = std::cos(elevationDeg * kDeg);
  EXPECT_NEAR(std::cos(azimuthDeg * kDeg) * ce, p.GetDirection().x, kTolerance);
  EXPECT_NEAR(std::sin(azimuthDeg * kDeg) * ce, p.GetDirection().y, kTolerance);
  EXPECT_NEAR(std::sin(elevationDeg * kDeg), p.GetDirection().z, kTolerance);
  EXPECT_FLOAT_EQ(static_cast<float>(radius), p.GetDistance());
}

std::vector<unsigned int> Range(unsigned int n) {
  std::vector<unsigned int> values(n);
  for (unsigned int i = 0; i < n; ++i) values[i] = i;
  return values;
}

}  // namespace

TEST(MicTemplate, DefaultRing) {
  const auto file = MakeTemplate<MicArrayLocationFile2_0>({"-t", "mic"});
  ASSERT_TRUE(file);
  EXPECT_EQ("MicArrayLocationFile", file->GetId());
  EXPECT_TRUE(veskio2::Version(2, 0) == file->GetVersion());
  const auto& mics = file->GetMics();
  ASSERT_EQ(8u, mics.size());
  for (unsigned int k = 0; k < 8; ++k) {
    EXPECT_EQ(k, mics[k].GetMicIndex());
    ExpectCylinder(mics[k].GetPosition(), 5.0 * k, 1);
  }
}

TEST(MicTemplate, CountsFromTheGrid) {
  // numazi without nummic: one microphone per position.
  const auto ring =
      MakeTemplate<MicArrayLocationFile2_0>({"-t", "mic", "--numazi", "36", "--aziint", "10", "--radius", "0.1"});
  ASSERT_TRUE(ring);
  ASSERT_EQ(36u, ring->GetMics().size());
  for (unsigned int k = 0; k < 36; ++k) ExpectCylinder(ring->GetMics()[k].GetPosition(), 10.0 * k, 0.1);

  // More microphones than azimuths: the azimuth keeps stepping and wraps.
  const auto many = MakeTemplate<MicArrayLocationFile2_0>({"-t", "mic", "--nummic", "100"});
  ASSERT_TRUE(many);
  const auto& mics = many->GetMics();
  ASSERT_EQ(100u, mics.size());
  EXPECT_EQ(99u, mics[99].GetMicIndex());
  ExpectCylinder(mics[71].GetPosition(), 355, 1);
  for (unsigned int k = 72; k < 100; ++k) {
    EXPECT_EQ(mics[k - 72].GetPosition().GetDirection(), mics[k].GetPosition().GetDirection());
  }

  const auto none = MakeTemplate<MicArrayLocationFile2_0>({"-t", "mic", "--numazi", "0"});
  ASSERT_TRUE(none);
  EXPECT_TRUE(none->GetMics().empty());

  // Two heights per azimuth: microphone k is azimuth k/2, height k%2.
  const auto stacked =
      MakeTemplate<MicArrayLocationFile2_0>({"-t", "mic", "--nummic", "6", "--numheight", "2", "--heightint", "0.5"});
  ASSERT_TRUE(stacked);
  ASSERT_EQ(6u, stacked->GetMics().size());
  for (unsigned int k = 0; k < 6; ++k)
    ExpectCylinder(stacked->GetMics()[k].GetPosition(), 5.0 * (k / 2), 1, 0.5 * (k % 2));
}

TEST(MicTemplate, ChannelSelectionAndSphere) {
  const auto chosen = MakeTemplate<MicArrayLocationFile2_0>({"-t", "mic", "--nummic", "4", "--mic-channels", "3,1"});
  ASSERT_TRUE(chosen);
  ASSERT_EQ(2u, chosen->GetMics().size());
  EXPECT_EQ(3u, chosen->GetMics()[0].GetMicIndex());
  ExpectCylinder(chosen->GetMics()[0].GetPosition(), 15, 1);
  EXPECT_EQ(1u, chosen->GetMics()[1].GetMicIndex());
  ExpectCylinder(chosen->GetMics()[1].GetPosition(), 5, 1);

  const auto sphere = MakeTemplate<MicArrayLocationFile2_0>(
      {"-t", "mic", "--nummic", "6", "--numelv", "3", "--elvint", "30", "--radius", "2"});
  ASSERT_TRUE(sphere);
  ASSERT_EQ(6u, sphere->GetMics().size());
  for (unsigned int k = 0; k < 6; ++k)
    ExpectSphere(sphere->GetMics()[k].GetPosition(), 5.0 * (k / 3), 30.0 * (k % 3), 2);
}

TEST(MicTemplate, Errors) {
  ExpectFailure({"-t", "mic", "--nummic", "2", "--mic-channels", "0,1,0"}, "the mic-channels' size > nummic");
  ExpectFailure({"-t", "mic", "--nummic", "8", "--mic-channels", "0,9"},
                "mic-channels entry 9 is not below the number of microphones, 8");
  ExpectFailure({"-t", "mic", "--numelv", "2", "--radius", "0"}, "length of given vector is zero");
  ExpectFailure({"-t", "mic", "--numheight", "0"}, "cannot place 8 microphones on a grid with numheight 0");
  ExpectFailure({"-t", "mic", "--numelv", "0", "--elvint", "3"}, "cannot place 8 microphones on a grid with numelv 0");
  ExpectFailure({"-t", "mic", "--nummic", "3", "--numazi", "0"}, "cannot place 3 microphones on a grid with numazi 0");
  ExpectFailure({"-t", "mic", "--nummic", "4294967295"},
                "too many microphones: 4294967295 exceeds the limit of 10000000");
  ExpectFailure({"-t", "mic", "--numazi", "65536", "--numheight", "65536"},
                "too many microphones: 4294967296 exceeds the limit of 10000000");
}

TEST(NoiseTemplate, SourcesShareTheAzimuthIndex) {
  const auto file = MakeTemplate<NoiseLocationFile2_0>(
      {"-t", "noise", "--numelv", "2", "--numazi", "4", "--azifrom", "350", "--nummic", "0"});
  ASSERT_TRUE(file);
  EXPECT_EQ("NoiseLocationFile", file->GetId());
  const auto& sources = file->GetNoiseSources();
  ASSERT_EQ(8u, sources.size());
  const double azimuths[] = {350, 355, 0, 5};
  for (unsigned int i = 0; i < 4; ++i) {
    for (unsigned int j = 0; j < 2; ++j) {
      EXPECT_EQ(i, sources[2 * i + j].GetIndex());
      ExpectSphere(sources[2 * i + j].GetPosition(), azimuths[i], 5.0 * j, 1);
    }
  }
  // On a sphere a zero radius is kept as it is.
  const auto centre = MakeTemplate<NoiseLocationFile2_0>({"-t", "noise", "--numelv", "2", "--radius", "0"});
  ASSERT_TRUE(centre);
  ASSERT_EQ(144u, centre->GetNoiseSources().size());
  EXPECT_EQ(0, centre->GetNoiseSources()[5].GetPosition().GetDistance());
}

TEST(IRTemplate, DefaultList) {
  const auto file = MakeTemplate<ImpulseResponseListFile2_0>({"-t", "ir"});
  ASSERT_TRUE(file);
  EXPECT_EQ("ImpulseResponseListFile", file->GetId());
  EXPECT_EQ(8u, file->GetNumMic());
  EXPECT_EQ(1u, file->GetNumInner());
  const auto& sources = file->GetSources();
  ASSERT_EQ(72u, sources.size());
  for (unsigned int s = 0; s < 72; ++s) {
    ExpectCylinder(sources[s].GetPosition(), 5.0 * s, 1);
    EXPECT_EQ(1, sources[s].GetCutStart());
    EXPECT_EQ(0, sources[s].GetCutEnd());
    const auto& files = sources[s].GetFiles();
    ASSERT_EQ(8u, files.size());
    for (unsigned int ch = 0; ch < 8; ++ch) {
      EXPECT_EQ((boost::format("D%03d_ch%02d.flt") % (5 * s) % ch).str(), files[ch].GetName());
      EXPECT_EQ(std::vector<unsigned int>{ch}, files[ch].GetMicIndices());
    }
  }
}

TEST(IRTemplate, ChannelsPathsAndCuts) {
  const auto file = MakeTemplate<ImpulseResponseListFile2_0>(
      {"-t", "ir", "--nummic", "2", "--mic-channels", "5,3", "--numazi", "2", "--numelv", "3", "--radius", "1.5",
       "--cut-start", "10", "--cut-end", "300", "--filepath",
       "r{RADIUS:%d}/a{AZIMUTH:%d}e{ELEVATION:%d}h{HEIGHT:%d}c{CHANNEL:%d}{NOPE:%d}\\{x}.flt"});
  ASSERT_TRUE(file);
  EXPECT_EQ(2u, file->GetNumMic());
  const auto& sources = file->GetSources();
  ASSERT_EQ(6u, sources.size());
  // In elevation mode the height still steps: 0, 10, 20 millimetres.
  EXPECT_EQ("r1500/a0e0h0c5{NOPE:%d}\\{x}.flt", sources[0].GetFiles()[0].GetName());
  EXPECT_EQ("r1500/a0e5h10c3{NOPE:%d}\\{x}.flt", sources[1].GetFiles()[1].GetName());
  EXPECT_EQ("r1500/a5e10h20c5{NOPE:%d}\\{x}.flt", sources[5].GetFiles()[0].GetName());
  EXPECT_EQ(std::vector<unsigned int>{3}, sources[5].GetFiles()[1].GetMicIndices());
  EXPECT_EQ(10, sources[3].GetCutStart());
  EXPECT_EQ(300, sources[3].GetCutEnd());
  ExpectSphere(sources[4].GetPosition(), 5, 5, 1.5);

  // In height mode the elevation steps likewise.
  const auto heights =
      MakeTemplate<ImpulseResponseListFile2_0>({"-t", "ir", "--nummic", "1", "--numazi", "1", "--numheight", "3",
                                                "--heightfrom=-0.0125", "--filepath", "e{ELEVATION:%d}h{HEIGHT:%d}"});
  ASSERT_TRUE(heights);
  ASSERT_EQ(3u, heights->GetSources().size());
  // Millimetres round halves away from zero: -12.5 → -13, -2.5 → -3.
  EXPECT_EQ("e0h-13", heights->GetSources()[0].GetFiles()[0].GetName());
  EXPECT_EQ("e5h-3", heights->GetSources()[1].GetFiles()[0].GetName());
  EXPECT_EQ("e10h8", heights->GetSources()[2].GetFiles()[0].GetName());
  ExpectCylinder(heights->GetSources()[2].GetPosition(), 0, 1, -0.0125 + 0.02);
}

TEST(TSPTemplate, DefaultList) {
  const auto file = MakeTemplate<TSPListFile2_0>({"-t", "tsp"});
  ASSERT_TRUE(file);
  EXPECT_EQ("TSPListFile", file->GetId());
  EXPECT_EQ(8u, file->GetNumMic());
  EXPECT_EQ(1u, file->GetNumInner());
  EXPECT_EQ(16u, file->GetSynchronousAverage());
  EXPECT_EQ(16384u, file->GetTspOffset());
  EXPECT_EQ(16384u, file->GetTspLength());
  EXPECT_EQ(32768u, file->GetSignalMax());
  EXPECT_EQ("original-impulse-file.tsp", file->GetOriginalImpulseFile().name);
  EXPECT_EQ(1u, file->GetOriginalImpulseFile().kind);
  const auto& sources = file->GetSources();
  ASSERT_EQ(72u, sources.size());
  for (unsigned int s = 0; s < 72; ++s) {
    ExpectCylinder(sources[s].GetPosition(), 5.0 * s, 1);
    ASSERT_EQ(1u, sources[s].GetFiles().size());
    EXPECT_EQ((boost::format("D%03d_00.wav") % (5 * s)).str(), sources[s].GetFiles()[0].GetName());
    EXPECT_EQ(Range(8), sources[s].GetFiles()[0].GetMicIndices());
  }
}

TEST(TSPTemplate, SettingsAndOriginKind) {
  const auto file = MakeTemplate<TSPListFile2_0>({"-t",
                                                  "tsp",
                                                  "--nummic",
                                                  "3",
                                                  "--mic-channels",
                                                  "2,0,7",
                                                  "--numazi",
                                                  "2",
                                                  "--synchronous-average",
                                                  "4",
                                                  "--tsp-offset",
                                                  "100",
                                                  "--tsp-length",
                                                  "8192",
                                                  "--signal-max",
                                                  "20000",
                                                  "--original-impulse-file",
                                                  "tsp/origin.wav.raw",
                                                  "--filepath",
                                                  "rec{AZIMUTH:%03d}_ch{CHANNEL:%02d}.wav"});
  ASSERT_TRUE(file);
  EXPECT_EQ(4u, file->GetSynchronousAverage());
  EXPECT_EQ(100u, file->GetTspOffset());
  EXPECT_EQ(8192u, file->GetTspLength());
  EXPECT_EQ(20000u, file->GetSignalMax());
  // ".wav" anywhere in the name means a PCM wave file.
  EXPECT_EQ("tsp/origin.wav.raw", file->GetOriginalImpulseFile().name);
  EXPECT_EQ(0u, file->GetOriginalImpulseFile().kind);
  ASSERT_EQ(2u, file->GetSources().size());
  const File1& second = file->GetSources()[1].GetFiles()[0];
  EXPECT_EQ("rec005_ch{CHANNEL:%02d}.wav", second.GetName());
  EXPECT_EQ(std::vector<unsigned int>({2, 0, 7}), second.GetMicIndices());

  const auto upper =
      MakeTemplate<TSPListFile2_0>({"-t", "tsp", "--numazi", "1", "--original-impulse-file", "ORIGIN.WAV"});
  ASSERT_TRUE(upper);
  EXPECT_EQ(1u, upper->GetOriginalImpulseFile().kind);
}

TEST(ListTemplates, EmptyGridsGiveEmptyLists) {
  for (const char* vertical : {"--numheight", "--numelv"}) {
    const auto noise = MakeTemplate<NoiseLocationFile2_0>({"-t", "noise", vertical, "0"});
    ASSERT_TRUE(noise);
    EXPECT_TRUE(noise->GetNoiseSources().empty());
    const auto ir = MakeTemplate<ImpulseResponseListFile2_0>({"-t", "ir", vertical, "0"});
    ASSERT_TRUE(ir);
    EXPECT_TRUE(ir->GetSources().empty());
    EXPECT_EQ(8u, ir->GetNumMic());
  }
  const auto tsp = MakeTemplate<TSPListFile2_0>({"-t", "tsp", "--numazi", "0"});
  ASSERT_TRUE(tsp);
  EXPECT_TRUE(tsp->GetSources().empty());
}

TEST(ListTemplates, Errors) {
  ExpectFailure({"-t", "ir", "--mic-channels", "0,2"}, "the mic-channels' size != nummic");
  ExpectFailure({"-t", "tsp", "--nummic", "1", "--mic-channels", "0,1"}, "the mic-channels' size != nummic");
  ExpectFailure({"-t", "m2pg"}, "invalid output type for making template");
  ExpectFailure({"-t", "ir", "--filepath", "D{AZIMUTH:abc}"},
                "boost::too_many_args: format-string referred to fewer arguments than were passed");
  ExpectFailure({"-t", "tsp", "--filepath", "D{AZIMUTH:%d%d}"},
                "boost::too_few_args: format-string referred to more arguments than were passed");
  ExpectFailure({"-t", "ir", "--filepath", "D{CHANNEL:%d%}"}, "boost::bad_format_string: format-string is ill-formed");
  ExpectFailure({"-t", "noise", "--radius", "0"}, "length of given vector is zero");
  ExpectFailure({"-t", "noise", "--numazi", "4294967295"},
                "too many positions: numazi 4294967295 x numheight 1 = 4294967295 exceeds the "
                "limit of 10000000");
  ExpectFailure({"-t", "ir", "--nummic", "1000", "--numazi", "360", "--numelv", "90"},
                "too many files: 32400 positions x nummic 1000 = 32400000 exceeds the limit of "
                "10000000");
  ExpectFailure({"-t", "tsp", "--nummic", "4294967295"}, "nummic 4294967295 exceeds the limit of 10000000");
  ExpectFailure({"-t", "ir", "--cut-start", "2147483648"}, "cut-start 2147483648 is too large (at most 2147483647)");
}

TEST(ListTemplates, WriterRefusalEndsTheRun) {
  // The library refuses a text XML cannot hold; nothing is written.
  ScratchDir dir;
  const auto run = RunTrelvix({"--mode", "template", "-t", "tsp", "--filepath", "a\x01b", "-o", dir / "t.xml"});
  EXPECT_EQ(1, run.status);
  EXPECT_NE("", run.err);
  EXPECT_TRUE(dir.Entries().empty());
}

TEST(ListTemplates, ReadableByVeskdump) {
  const char* veskdump = std::getenv("VESKDUMP_BIN");
  if (!veskdump || ::access(veskdump, X_OK) != 0) GTEST_SKIP() << "veskdump is not built";
  ScratchDir dir;
  ASSERT_EQ(0, RunTrelvix({"--mode", "template", "-t", "ir", "--numazi", "2", "-o", dir / "ir.xml"}).status);
  const auto dump = trelvix_test::RunProgram(veskdump, {dir / "ir.xml"});
  EXPECT_EQ(0, dump.status) << dump.err;
  EXPECT_NE(std::string::npos, dump.out.find("\"D005_ch07.flt\""));
  EXPECT_NE(std::string::npos, dump.out.find("\"ImpulseResponseListFile\""));
}
