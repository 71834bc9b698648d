// End to end: recordings of a TSP played through known responses give those
// responses back in the written files.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "TestSignals.h"

namespace {

using dravik_test::circular_convolve;
using dravik_test::RunResult;
using dravik_test::TempDir;

const double kPi = 3.14159265358979323846;

// Files hold floats: a value is within half an ulp of float (6e-8
// relative) of the double result, and the double result is exact to about
// 1e-12, so 1e-6 of the response's peak leaves ample room while any real
// fault (a wrong bin, offset or scale) is far larger.
void expect_response(const std::string& path, const std::vector<double>& want) {
  std::vector<float> got = dravik_test::read_flt(path);
  ASSERT_EQ(got.size(), 4096u) << path;
  double peak = 0.0;
  for (double v : want) peak = std::max(peak, std::fabs(v));
  for (int m = 0; m < 4096; ++m) {
    double expected = m < static_cast<int>(want.size()) ? want[m] : 0.0;
    ASSERT_NEAR(got[m], expected, 1e-6 * peak) << path << " sample " << m;
  }
}

std::vector<double> response(int length, const std::vector<std::pair<int, double>>& taps) {
  std::vector<double> h(length, 0.0);
  for (const auto& tap : taps) h[tap.first] = tap.second;
  return h;
}

class DravikRun : public ::testing::Test {
protected:
  RunResult run(const std::vector<std::string>& args) {
    return dravik_test::run_program(dravik_test::dravik_program(), args, dir_.dir());
  }
  TempDir dir_;
};

TEST_F(DravikRun, EveryChannelGivesItsResponseBack) {
  const int n = 8192, periods = 4, offset = 1500;
  std::vector<double> tsp = dravik_test::make_tsp(n, 0.5);
  dravik_test::write_raw_float(dir_.path("tsp.flt"), tsp);
  std::vector<std::vector<double>> responses = {
      response(1, {{0, 1.0}}),
      response(301, {{300, -0.4}}),
      response(40, {{10, 0.5}, {11, -0.25}, {13, 0.125}, {39, 0.0625}}),
      response(4096, {{4095, 0.2}, {2000, 0.7}}),
  };
  std::vector<std::vector<double>> periods_of_channel;
  for (const auto& h : responses) periods_of_channel.push_back(circular_convolve(tsp, h));
  // The lead-in holds something else than silence: only the window counts.
  std::vector<double> recording = dravik_test::make_recording(periods_of_channel, offset, periods, 777);
  for (int t = 0; t < offset; ++t) recording[4 * t + 1] = 0.3 * std::sin(0.01 * t);
  dravik_test::write_wave(dir_.path("rec.wav"), recording, 4);

  RunResult r = run({"--tsporigflt", "tsp.flt", "--samplebyframe", "8192", "--syncaddfreq", "4", "--syncaddoffset",
                     "1500", "rec.wav", "out"});
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(r.out, "tsp_file_size = 32768\ntsp_adjust_ratio = 0.500000\ncalc_impulse...\n");
  EXPECT_EQ(r.err, "");
  // The origin is scaled to peak 1 while the recording kept peak 0.5.
  for (int c = 0; c < 4; ++c) {
    std::vector<double> want = responses[c];
    for (double& v : want) v *= 0.5;
    expect_response(dir_.path("out_ch" + std::to_string(c + 1) + ".flt"), want);
  }
  EXPECT_FALSE(dravik_test::file_exists(dir_.path("out_ch5.flt")));

  // With --sigmax 1 nothing is rescaled; the list order does not matter
  // and files are numbered among the selected channels.
  RunResult listed = run({"--tsporigflt", "tsp.flt", "--samplebyframe", "8192", "--syncaddfreq", "4", "--syncaddoffset",
                          "1500", "--sigmax", "1", "--outchannellist", "3,1", "rec.wav", "sel"});
  ASSERT_EQ(listed.status, 0) << listed.out;
  EXPECT_EQ(listed.out, "tsp_file_size = 32768\ntsp_adjust_ratio = 1.000000\ncalc_impulse...\n");
  expect_response(dir_.path("sel_ch1.flt"), responses[1]);
  expect_response(dir_.path("sel_ch2.flt"), responses[3]);
  EXPECT_FALSE(dravik_test::file_exists(dir_.path("sel_ch3.flt")));

  // Channels go through in pairs; an odd count leaves the last one alone.
  RunResult odd = run({"--tsporigflt", "tsp.flt", "--samplebyframe", "8192", "--syncaddfreq", "4", "--syncaddoffset",
                       "1500", "--sigmax", "1", "--outchannellist", "0,2,3", "rec.wav", "odd"});
  ASSERT_EQ(odd.status, 0) << odd.out;
  expect_response(dir_.path("odd_ch1.flt"), responses[0]);
  expect_response(dir_.path("odd_ch2.flt"), responses[2]);
  expect_response(dir_.path("odd_ch3.flt"), responses[3]);
}

TEST_F(DravikRun, HighPassRampShapesTheResponse) {
  const int n = 4096;
  std::vector<double> tsp = dravik_test::make_tsp(n, 1.0);
  dravik_test::write_raw_float(dir_.path("tsp.flt"), tsp);
  std::vector<double> h = response(64, {{5, 1.0}, {6, 0.5}, {63, -0.3}});
  dravik_test::write_wave(dir_.path("rec.wav"), dravik_test::make_recording({circular_convolve(tsp, h)}, 0, 2, 0), 1);
  RunResult r = run({"--tsporigflt", "tsp.flt", "--samplebyframe", "4096", "--syncaddfreq", "2", "--syncaddoffset", "0",
                     "--enableHPF", "0,100", "rec.wav", "hp"});
  ASSERT_EQ(r.status, 0) << r.out;
  // Bin weights: (k+1)/26 for k < 25, then 1, mirrored. The filtered
  // response is h circularly convolved with the transform of the weights.
  std::vector<double> cos_table(4096);
  for (int i = 0; i < 4096; ++i) cos_table[i] = std::cos(2.0 * kPi * i / 4096.0);
  std::vector<double> kernel(4096);
  for (int m = 0; m < 4096; ++m) {
    double sum = 0.0;
    for (int k = 0; k < 4096; ++k) {
      int j = std::min(k, 4096 - k);
      double w = j < 25 ? (j + 1) / 26.0 : 1.0;
      sum += w * cos_table[(static_cast<long>(k) * m) % 4096];
    }
    kernel[m] = sum / 4096.0;
  }
  expect_response(dir_.path("hp_ch1.flt"), circular_convolve(kernel, h));
}

TEST_F(DravikRun, WaveOriginChannelIsUsedUnscaled) {
  const int n = 4096;
  std::vector<double> tsp = dravik_test::make_tsp(n, 0.25);
  std::vector<double> origin(2 * n, 0.0);
  for (int t = 0; t < n; ++t) origin[2 * t + 1] = tsp[t];
  dravik_test::write_wave(dir_.path("tsp.wav"), origin, 2);
  std::vector<double> h = response(21, {{20, 0.9}});
  dravik_test::write_wave(dir_.path("rec.wav"), dravik_test::make_recording({circular_convolve(tsp, h)}, 0, 1, 0), 1);
  RunResult r = run({"--tsporigwav", "tsp.wav", "--tsporigchannel", "1", "--samplebyframe", "4096", "--syncaddfreq",
                     "1", "--syncaddoffset", "0", "rec.wav", "w"});
  ASSERT_EQ(r.status, 0) << r.out;
  EXPECT_EQ(r.out, "calc_impulse...\n");
  expect_response(dir_.path("w_ch1.flt"), h);
}

// A recording whose TSP periods begin at `onset` after noise that fades in
// (so the correlation's running maximum rises many times before the onset);
// channel c hears the TSP through responses[c]. The last 64 samples before
// the onset already hold the end of a period, so a window that starts up to
// 64 samples early still averages whole periods.
std::vector<double> onset_recording(const std::vector<double>& tsp, const std::vector<std::vector<double>>& responses,
                                    int onset, int periods, long frames) {
  const int channels = static_cast<int>(responses.size());
  const int n = static_cast<int>(tsp.size());
  std::vector<double> out(static_cast<std::size_t>(frames) * channels, 0.0);
  unsigned state = 99;
  for (int c = 0; c < channels; ++c) {
    std::vector<double> period = circular_convolve(tsp, responses[c]);
    for (long t = 0; t < frames; ++t) {
      double v = 0.0;
      if (t < onset - 64) {
        state = state * 1103515245u + 12345u;
        double uniform = (static_cast<int>((state >> 8) % 2001) - 1000) / 1000.0;
        v = 1e-3 * t / onset * uniform;
      } else if (t < onset + static_cast<long>(periods) * n) {
        v = period[((t - onset) % n + n) % n];
      }
      out[static_cast<std::size_t>(t) * channels + c] = v;
    }
  }
  return out;
}

TEST_F(DravikRun, SearchedOnsetStartsTheAdditionForEveryChannel) {
  const int n = 4096, onset = 9000, periods = 4;
  std::vector<double> tsp = dravik_test::make_tsp(n, 1.0);
  dravik_test::write_raw_float(dir_.path("tsp.flt"), tsp);
  // Channel 1 hears the TSP 30 samples later than channel 0, so its own
  // suggestion is later and the earliest one is used for both.
  std::vector<std::vector<double>> responses = {response(1, {{0, 1.0}}), response(31, {{30, 0.5}}),
                                                response(1, {{0, 1.0}})};
  dravik_test::write_wave(dir_.path("rec.wav"), onset_recording(tsp, responses, onset, periods, onset + periods * n),
                          3);
  RunResult r = run({"--tsporigflt", "tsp.flt", "--samplebyframe", "4096", "--syncaddfreq", "3", "--syncaddoffset", "0",
                     "--searchoffset", "0,30000", "--outchannellist", "1,0", "rec.wav", "s"});
  ASSERT_EQ(r.status, 0) << r.out;
  EXPECT_EQ(r.out,
            "search pos = 0-30000. \n"
            "tsp_file_size = 16384\ntsp_adjust_ratio = 1.000000\n"
            "calc_impulse...\n"
            "search_offset...\n"
            "searched offset = 9000\nsuggest start offset = 8950\n"
            "searched offset = 9030\nsuggest start offset = 8980\n"
            "calculated_first_offset=8950.\n");
  // Starting 50 samples early rotates each period by 50 samples.
  expect_response(dir_.path("s_ch1.flt"), response(51, {{50, 1.0}}));
  expect_response(dir_.path("s_ch2.flt"), response(81, {{80, 0.5}}));
  EXPECT_FALSE(dravik_test::file_exists(dir_.path("s_ch3.flt")));
}

int first_offset_in(const std::string& out) {
  const std::string key = "calculated_first_offset=";
  std::string::size_type at = out.find(key);
  return at == std::string::npos ? -1 : std::stoi(out.substr(at + key.size()));
}

TEST_F(DravikRun, SearchRegionIsClampedAndWidenedToTheTsp) {
  const int n = 4096, onset = 6000, periods = 8;
  const long frames = onset + periods * n;  // 38768
  std::vector<double> tsp = dravik_test::make_tsp(n, 1.0);
  dravik_test::write_raw_float(dir_.path("tsp.flt"), tsp);
  dravik_test::write_wave(dir_.path("rec.wav"), onset_recording(tsp, {response(1, {{0, 1.0}})}, onset, periods, frames),
                          1);
  auto search = [&](const std::string& region, const std::string& head) {
    return run({"--tsporigflt", "tsp.flt", "--samplebyframe", "4096", "--syncaddfreq", "1", "--syncaddoffset", "0",
                "--outchannellist", "0", "--searchoffset", region, "rec.wav", head});
  };
  // Starting 50 samples before a period start gives a unit impulse at 50.
  const std::vector<double> fifty_late = response(51, {{50, 1.0}});

  // Too short a region far enough into the recording grows backwards.
  RunResult back = search("7000,7500", "b");
  ASSERT_EQ(back.status, 0) << back.out;
  EXPECT_NE(back.out.find("search_offset...\n"
                          "INFO: Search length is under tsp size. So changing search start pos = 2904.\n"
                          "searched offset = 6000\nsuggest start offset = 5950\n"
                          "calculated_first_offset=5950.\n"),
            std::string::npos)
      << back.out;
  expect_response(dir_.path("b_ch1.flt"), fifty_late);

  // Near the start it grows forwards.
  RunResult forward = search("3000,6200", "f");
  ASSERT_EQ(forward.status, 0) << forward.out;
  EXPECT_NE(forward.out.find("INFO: Search length is under tsp size. So changing search end pos = 10296.\n"
                             "searched offset = 6000\nsuggest start offset = 5950\n"
                             "calculated_first_offset=5950.\n"),
            std::string::npos)
      << forward.out;
  expect_response(dir_.path("f_ch1.flt"), fifty_late);

  // The given region end bounds the offset: an onset found only in the
  // widened part is not used, the end is.
  RunResult bounded = search("2000,2500", "e");
  ASSERT_EQ(bounded.status, 0) << bounded.out;
  EXPECT_NE(bounded.out.find("suggest start offset = 5950\ncalculated_first_offset=2500.\n"), std::string::npos)
      << bounded.out;
  EXPECT_EQ(dravik_test::read_flt(dir_.path("e_ch1.flt")).size(), 4096u);

  // An end beyond the recording is clamped to its length; the region is
  // then long enough as it is. Whichever period start is found, the
  // addition begins 50 samples before one.
  RunResult clamped = search("1000,99999", "c");
  ASSERT_EQ(clamped.status, 0) << clamped.out;
  EXPECT_EQ(clamped.out.find("INFO"), std::string::npos) << clamped.out;
  EXPECT_EQ((first_offset_in(clamped.out) - (onset - 50)) % n, 0) << clamped.out;
  expect_response(dir_.path("c_ch1.flt"), fifty_late);
}

TEST_F(DravikRun, SearchRegionWithoutRoomForTheTspStops) {
  const int n = 4096;
  std::vector<double> tsp = dravik_test::make_tsp(n, 1.0);
  dravik_test::write_raw_float(dir_.path("tsp.flt"), tsp);
  dravik_test::write_wave(dir_.path("rec.wav"), dravik_test::make_recording({tsp}, 0, 1, 500), 1);
  RunResult r = run({"--tsporigflt", "tsp.flt", "--samplebyframe", "4096", "--syncaddfreq", "1", "--syncaddoffset", "0",
                     "--outchannellist", "0", "--searchoffset", "100,600", "rec.wav", "e"});
  EXPECT_EQ(r.status, 255);
  EXPECT_EQ(r.out,
            "search pos = 100-600. \ntsp_file_size = 16384\ntsp_adjust_ratio = 1.000000\n"
            "calc_impulse...\nsearch_offset...\n"
            "ERROR: Search length is under tsp size. But there is not enough area on impulse.\n");
  EXPECT_FALSE(dravik_test::file_exists(dir_.path("e_ch1.flt")));
}

TEST_F(DravikRun, SearchThatMovesTheWindowOffTheRecordingStops) {
  const int n = 4096, onset = 2000, periods = 3;
  // The given offset 0 leaves just enough frames; the found one does not.
  const long frames = periods * n + 500;
  std::vector<double> tsp = dravik_test::make_tsp(n, 1.0);
  dravik_test::write_raw_float(dir_.path("tsp.flt"), tsp);
  dravik_test::write_wave(dir_.path("rec.wav"), onset_recording(tsp, {response(1, {{0, 1.0}})}, onset, periods, frames),
                          1);
  RunResult r = run({"--tsporigflt", "tsp.flt", "--samplebyframe", "4096", "--syncaddfreq", "3", "--syncaddoffset", "0",
                     "--searchoffset", "0,12000", "--outchannellist", "0", "rec.wav", "o"});
  EXPECT_EQ(r.status, 255);
  EXPECT_NE(r.out.find("calculated_first_offset=1950.\nWave length(12788) is short when sync_add_freq = 3.\n"),
            std::string::npos)
      << r.out;
  EXPECT_FALSE(dravik_test::file_exists(dir_.path("o_ch1.flt")));
}

TEST_F(DravikRun, ChannelsFromSixtyFourUpAreNotProcessed) {
  const int n = 4096, channels = 66;
  std::vector<double> tsp = dravik_test::make_tsp(n, 1.0);
  dravik_test::write_raw_float(dir_.path("tsp.flt"), tsp);
  std::vector<std::vector<double>> periods;
  for (int c = 0; c < channels; ++c) {
    std::vector<double> scaled = tsp;
    for (double& v : scaled) v *= (c + 1) / 100.0;
    periods.push_back(scaled);
  }
  dravik_test::write_wave(dir_.path("rec.wav"), dravik_test::make_recording(periods, 0, 1, 0), channels);
  RunResult r = run({"--tsporigflt", "tsp.flt", "--samplebyframe", "4096", "--syncaddfreq", "1", "--syncaddoffset", "0",
                     "rec.wav", "many"});
  ASSERT_EQ(r.status, 0) << r.out;
  expect_response(dir_.path("many_ch1.flt"), {0.01});
  expect_response(dir_.path("many_ch64.flt"), {0.64});
  EXPECT_FALSE(dravik_test::file_exists(dir_.path("many_ch65.flt")));
}

}  // namespace
