#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdio>
#include <filesystem>
#include <vector>

#include "ImpulseFile.h"
#include "TestSignals.h"
#include "TspOrigin.h"

namespace {

using dravik_test::TempDir;

std::string captured(std::function<void()> action) {
  testing::internal::CaptureStdout();
  action();
  std::fflush(stdout);
  return testing::internal::GetCapturedStdout();
}

TEST(FloatOrigin, SizeAndSamplesAndLargestMagnitude) {
  TempDir dir;
  std::vector<double> samples(16384, 0.0);
  samples[3] = -0.5;
  samples[9] = 0.25;
  dravik_test::write_raw_float(dir.path("tsp.flt"), samples);
  EXPECT_EQ(dravik::tsp_file_size(dir.path("tsp.flt")), 65536);
  EXPECT_EQ(dravik::tsp_file_size(dir.path("missing.flt")), -1);
  std::vector<double> read;
  double largest = -1.0;
  ASSERT_EQ(dravik::read_float_file(dir.path("tsp.flt"), 65536, &read, &largest), 0);
  EXPECT_EQ(read, samples);
  EXPECT_EQ(largest, 0.5);
  // A size that is not whole samples, or more than the file holds, fails.
  EXPECT_EQ(dravik::read_float_file(dir.path("tsp.flt"), 65535, &read, &largest), -1);
  EXPECT_EQ(dravik::read_float_file(dir.path("tsp.flt"), 65540, &read, &largest), -1);
  EXPECT_EQ(dravik::read_float_file(dir.path("missing.flt"), 4, &read, &largest), -1);
}

TEST(FloatOrigin, FirstPeriodIsScaledByLargestMagnitudeOrSigmax) {
  TempDir dir;
  std::vector<double> samples(5000, 0.125);
  samples[10] = 0.5;
  dravik_test::write_raw_float(dir.path("tsp.flt"), samples);
  dravik::RunSettings settings;
  settings.tsp_org_file = dir.path("tsp.flt");
  settings.sample_by_frame = 4096;
  std::vector<double> reference;
  std::string out = captured([&] { EXPECT_EQ(dravik::load_tsp_reference(settings, &reference), 0); });
  EXPECT_EQ(out, "tsp_file_size = 20000\ntsp_adjust_ratio = 0.500000\n");
  ASSERT_EQ(reference.size(), 5000u);
  EXPECT_EQ(reference[10], 1.0);
  EXPECT_EQ(reference[4095], 0.25);
  EXPECT_EQ(reference[4096], 0.125);  // beyond the first period: unscaled

  settings.sigmax_given = true;
  settings.tsp_adjust_ratio = 2.0;
  out = captured([&] { EXPECT_EQ(dravik::load_tsp_reference(settings, &reference), 0); });
  EXPECT_EQ(out, "tsp_file_size = 20000\ntsp_adjust_ratio = 2.000000\n");
  EXPECT_EQ(reference[10], 0.25);
}

TEST(FloatOrigin, ShortSilentOrMissingOriginsAreRefused) {
  TempDir dir;
  dravik_test::write_raw_float(dir.path("short.flt"), std::vector<double>(4095, 0.5));
  std::vector<double> silent_start(8192, 0.0);
  silent_start[5000] = 1.0;  // sound only after the first period
  dravik_test::write_raw_float(dir.path("silent.flt"), silent_start);
  dravik::RunSettings settings;
  settings.sample_by_frame = 4096;
  settings.sigmax_given = true;
  std::vector<double> reference;
  settings.tsp_org_file = dir.path("short.flt");
  EXPECT_EQ(captured([&] { EXPECT_EQ(dravik::load_tsp_reference(settings, &reference), -1); }),
            "tsp_file_size = 16380\ntsp origin file is not read.\n");
  settings.tsp_org_file = dir.path("silent.flt");
  EXPECT_EQ(captured([&] { EXPECT_EQ(dravik::load_tsp_reference(settings, &reference), -1); }),
            "tsp_file_size = 32768\ntsp origin file is not read.\n");
  settings.tsp_org_file = dir.path("missing.flt");
  EXPECT_EQ(captured([&] { EXPECT_EQ(dravik::load_tsp_reference(settings, &reference), -1); }),
            "tsp_file_size = -1\ntsp origin file is not read.\n");
}

TEST(WaveOrigin, ChosenChannelUnscaledAndChannelChecked) {
  TempDir dir;
  std::vector<double> interleaved(2 * 4096);
  for (int t = 0; t < 4096; ++t) {
    interleaved[2 * t] = 0.5;
    interleaved[2 * t + 1] = t / 8192.0;
  }
  dravik_test::write_wave(dir.path("tsp.wav"), interleaved, 2);
  dravik::RunSettings settings;
  settings.tsp_org_type = dravik::kTspOriginWave;
  settings.tsp_org_file = dir.path("tsp.wav");
  settings.sample_by_frame = 4096;
  settings.tsp_org_channel = 1;
  std::vector<double> reference;
  EXPECT_EQ(captured([&] { EXPECT_EQ(dravik::load_tsp_reference(settings, &reference), 0); }), "");
  ASSERT_EQ(reference.size(), 4096u);
  EXPECT_EQ(reference[4095], 4095 / 8192.0);

  for (long channel : {2L, -1L, 300L}) {
    settings.tsp_org_channel = channel;
    std::string out = captured([&] { EXPECT_EQ(dravik::load_tsp_reference(settings, &reference), -1); });
    EXPECT_EQ(out.substr(0, out.find('\n') + 1), "Value of tsporigchannel is incorrect. \n");
    EXPECT_NE(out.find("./dravik [option] inputfile outimpfilehead \n"), std::string::npos);
  }
  settings.tsp_org_channel = 0;
  settings.sample_by_frame = 8192;
  EXPECT_EQ(captured([&] { EXPECT_EQ(dravik::load_tsp_reference(settings, &reference), -1); }),
            "tsp origin file is not read.\n");
}

TEST(ImpulseFile, WritesLittleEndianFloatsAndNothingElse) {
  TempDir dir;
  std::vector<double> values(4096, 0.0);
  values[0] = 1.0;
  values[1] = -2.5;
  values[2] = 0.1;  // rounds to the nearest float
  ASSERT_EQ(dravik::write_float_file(dir.path("a_ch1.flt"), values.data(), 4096), 0);
  std::string bytes = dravik_test::read_text(dir.path("a_ch1.flt"));
  ASSERT_EQ(bytes.size(), 16384u);
  EXPECT_EQ(bytes.substr(0, 8), std::string("\x00\x00\x80\x3f\x00\x00\x20\xc0", 8));
  EXPECT_EQ(dravik_test::read_flt(dir.path("a_ch1.flt"))[2], 0.1f);
  // Only the finished file is left in the directory, with ordinary permissions.
  int entries = 0;
  for (const auto& entry : std::filesystem::directory_iterator(dir.dir())) {
    (void)entry;
    ++entries;
  }
  EXPECT_EQ(entries, 1);
  struct stat info;
  ASSERT_EQ(stat(dir.path("a_ch1.flt").c_str(), &info), 0);
  mode_t mask = umask(0);
  umask(mask);
  EXPECT_EQ(info.st_mode & 0777, 0666 & ~mask);
}

TEST(ImpulseFile, ReplacesAnExistingFileWhole) {
  TempDir dir;
  dravik_test::write_raw_float(dir.path("x.flt"), std::vector<double>(10000, 3.0));
  std::vector<double> values(4096, 0.5);
  ASSERT_EQ(dravik::write_float_file(dir.path("x.flt"), values.data(), 4096), 0);
  std::vector<float> back = dravik_test::read_flt(dir.path("x.flt"));
  ASSERT_EQ(back.size(), 4096u);
  EXPECT_EQ(back[4095], 0.5f);
}

TEST(ImpulseFile, FailureLeavesNoFileBehind) {
  TempDir dir;
  std::vector<double> values(4096, 0.5);
  EXPECT_EQ(dravik::write_float_file(dir.path("missing/a_ch1.flt"), values.data(), 4096), -1);
  std::filesystem::create_directory(dir.path("taken_ch1.flt"));
  EXPECT_EQ(dravik::write_float_file(dir.path("taken_ch1.flt"), values.data(), 4096), -1);
  int entries = 0;
  for (const auto& entry : std::filesystem::directory_iterator(dir.dir())) {
    EXPECT_EQ(entry.path().filename(), "taken_ch1.flt");
    ++entries;
  }
  EXPECT_EQ(entries, 1);
}

}  // namespace
