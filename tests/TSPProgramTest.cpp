// trelvix --mode tf over recorded TSP waves: recordings synthesised from a
// flat-spectrum periodic signal played through known responses, turned into
// impulse responses by the built dravik.
#include <cmath>
#include <complex>
#include <memory>
#include <random>

#include <gtest/gtest.h>
#include <sndfile.h>

#include "TestSupport.h"
#include "base/RealFft.h"
#include "base/SoundFileHandle.h"
#include "WaveFile.h"

namespace {

using namespace testsupport;
using namespace veskio2::vesk;

constexpr std::size_t kDefaultPeriod = 16384;  // samples per played period (dravik's default frame)
constexpr std::size_t kAverages = 2;           // periods averaged; one more is recorded before them
constexpr std::size_t kTaps = 20;              // length of the known responses
constexpr std::size_t kNfft = 512;

// One period of `numSamples` samples of a signal with unit-magnitude spectrum
// and random phases, scaled to a peak of 0.1.
std::vector<float> FlatSpectrumPeriod(std::size_t numSamples) {
  std::mt19937 gen(11);
  std::uniform_real_distribution<double> phase(-M_PI, M_PI);
  vesk::RealFft<double> fft(numSamples);
  std::complex<double>* spectrum = fft.Spectrum();
  for (std::size_t k = 0; k < fft.NumBins(); ++k)
    spectrum[k] = (k == 0 || k == numSamples / 2) ? 1.0 : std::polar(1.0, phase(gen));
  fft.Inverse();
  const double* signal = fft.Time();
  double peak = 0;
  for (std::size_t i = 0; i < numSamples; ++i) peak = std::max(peak, std::fabs(signal[i]));
  std::vector<float> period(numSamples);
  for (std::size_t n = 0; n < numSamples; ++n) period[n] = float(signal[n] * 0.1 / peak);
  return period;
}

// Float WAV of kAverages + 1 periods of `origin` circularly convolved with
// each channel's response.
void WriteRecording(const std::string& path, const std::vector<float>& origin,
                    const std::vector<std::vector<float>>& responses) {
  const std::size_t numSamples = origin.size();
  const std::size_t channels = responses.size();
  std::vector<float> period(numSamples * channels);
  for (std::size_t ch = 0; ch < channels; ++ch)
    for (std::size_t n = 0; n < numSamples; ++n) {
      double y = 0;
      for (std::size_t i = 0; i < kTaps; ++i) y += double(responses[ch][i]) * origin[(n + numSamples - i) % numSamples];
      period[n * channels + ch] = float(y);
    }
  std::vector<float> recording;
  for (std::size_t p = 0; p <= kAverages; ++p) recording.insert(recording.end(), period.begin(), period.end());
  vesk_test::WriteWaveFile(path, recording, int(channels));
}

std::vector<std::complex<double>> Dft(const std::vector<float>& x, std::size_t n) {
  std::vector<std::complex<double>> bins(n / 2 + 1);
  for (std::size_t k = 0; k < bins.size(); ++k)
    for (std::size_t t = 0; t < std::min(n, x.size()); ++t)
      bins[k] += double(x[t]) * std::polar(1.0, -2.0 * M_PI * double(k * t % n) / double(n));
  return bins;
}

class TSPProgram : public ::testing::Test {
protected:
  // Samples per played period; the list's tspLength and the averaging offset.
  virtual std::size_t Period() const { return kDefaultPeriod; }
  void SetUp() override {
    trelvix_ = RequireEnv("TRELVIX_BIN");
    const std::string dravik = RequireEnv("DRAVIK_BIN");
    if (trelvix_.empty() || !fs::exists(trelvix_) || dravik.empty() || !fs::exists(dravik)) {
      GTEST_SKIP() << "trelvix or dravik not built";
    }
    Run({"--mode", "template", "--output-type", "mic", "--nummic", "2", "--radius", "0.1", "-o", dir_ / "mic.xml"});
    Run({"--mode",
         "template",
         "--output-type",
         "tsp",
         "--nummic",
         "2",
         "--numazi",
         "2",
         "--aziint",
         "90",
         "--synchronous-average",
         std::to_string(kAverages),
         "--tsp-length",
         std::to_string(Period()),
         "--tsp-offset",
         std::to_string(Period()),
         "--signal-max",
         "1",
         "--original-impulse-file",
         dir_ / "origin.tsp",
         "--filepath",
         dir_ / "D{AZIMUTH:%03d}_00.wav",
         "-o",
         dir_ / "tsp.xml"});
    // The second recording gets a name that a careless shell command would
    // split, expand or run.
    hostile_ = dir_ / "we\"ird $(touch pwned) `touch pwned2` \\ $HOME\nname.wav";
    const auto read = veskio2::veskconfig::VeskConfigFileXMLReader(dir_ / "tsp.xml").Read();
    auto list = boost::dynamic_pointer_cast<veskio2::veskconfig::TSPListFile2_0>(read);
    ASSERT_TRUE(list);
    auto sources = list->GetSources();
    auto files = sources.at(1).GetFiles();
    files.at(0).SetName(hostile_);
    sources[1].SetFiles(files);
    list->SetSources(sources);
    WriteConfig(dir_ / "tsp.xml", list);

    const std::vector<float> origin = FlatSpectrumPeriod(Period());
    WriteFlt(dir_ / "origin.tsp", origin);
    std::mt19937 gen(3);
    std::uniform_real_distribution<float> dist(-0.3f, 0.3f);
    for (int src = 0; src < 2; ++src) {
      for (int mic = 0; mic < 2; ++mic) {
        std::vector<float> h(kTaps);
        for (float& v : h) v = dist(gen);
        h[2 + src + mic] = 1.0f;  // the direct sound
        responses_[src].push_back(h);
      }
    }
    WriteRecording(dir_ / "D000_00.wav", origin, responses_[0]);
    WriteRecording(hostile_, origin, responses_[1]);
  }
  RunResult Run(std::vector<std::string> args) {
    args.insert(args.begin(), trelvix_);
    // The provider's temporary directories stay on disk: keep them in the scratch directory.
    fs::create_directories(dir_ / "tmp");
    return RunProgram(args, dir_.Path(), {"TMPDIR=" + (dir_ / "tmp")});
  }
  // The measured spectra match the DFT of the played responses. dravik
  // divides by a flat spectrum, so the float rounding of the recording
  // (about 1e-8) passes into the response almost unchanged; 1e-5 on bins
  // of responses summing to about 4 covers it many times over.
  void ExpectKnownSpectra(const std::string& path) {
    const auto file = ReadTFFile(path);
    EXPECT_EQ(FindDataSet<vgtf::Fmt1_0>(*file)->GetIrLength(), int(Period()));
    const auto m2pg = FindDataSet<vgtf::M2PG1_0>(*file);
    ASSERT_TRUE(m2pg);
    ASSERT_EQ(m2pg->GetSourceCount(), 2);
    for (int src = 0; src < 2; ++src)
      for (int mic = 0; mic < 2; ++mic) {
        const auto expected = Dft(responses_[src][mic], kNfft);
        const auto& got = m2pg->GetTf()[src][0][mic];
        ASSERT_EQ(got.size(), expected.size());
        for (std::size_t k = 0; k < expected.size(); ++k) {
          EXPECT_NEAR(got[k].real(), expected[k].real(), 1e-5) << src << " " << mic << " " << k;
          EXPECT_NEAR(got[k].imag(), expected[k].imag(), 1e-5) << src << " " << mic << " " << k;
        }
      }
  }

  std::string trelvix_;
  std::string hostile_;
  ScratchDir dir_;
  std::vector<std::vector<float>> responses_[2];
};

TEST_F(TSPProgram, RecordingsGiveTheSpectraOfThePlayedResponses) {
  const RunResult r = Run({"--mode", "tf", "--output-type", "m2pg", "-o", dir_ / "tf.bin", "mic.xml", "tsp.xml"});
  ASSERT_EQ(r.status, 0) << r.err;
  // One dravik run per recording, found beside trelvix.
  const fs::path dravik = fs::path(trelvix_).parent_path() / "dravik";
  std::size_t runs = 0;
  for (std::size_t at = 0; (at = r.out.find("Dravik: " + dravik.string() + " --tsporigflt", at)) != std::string::npos;
       ++at)
    ++runs;
  EXPECT_EQ(runs, 2u) << r.out;
  EXPECT_NE(r.out.find("status(0) Success\n"), std::string::npos);
  EXPECT_EQ(r.out.find("--samplebyframe"), std::string::npos) << "dravik's default period is implicit";
  EXPECT_NE(r.err.find("Created a temporary directore: " + (dir_ / "tmp/")), std::string::npos);
  ExpectKnownSpectra(dir_ / "tf.bin");
  EXPECT_FALSE(fs::exists(dir_ / "pwned"));
  EXPECT_FALSE(fs::exists(dir_ / "pwned2"));
}

TEST_F(TSPProgram, StandardOutputCarriesOnlyTheFile) {
  const RunResult r = Run({"--mode", "tf", "mic.xml", "tsp.xml"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.err.find("Dravik: "), std::string::npos);
  { std::ofstream(dir_ / "stdout.bin", std::ios::binary) << r.out; }
  ExpectKnownSpectra(dir_ / "stdout.bin");
}

TEST_F(TSPProgram, AFailedRecordingEndsTheRun) {
  fs::remove(hostile_);
  const RunResult r = Run({"--mode", "tf", "-o", dir_ / "tf.bin", "mic.xml", "tsp.xml"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("failed GetIR(src=1, mic=0)\n"), std::string::npos) << r.err;
  EXPECT_FALSE(fs::exists(dir_ / "tf.bin"));
}

// A TSP twice dravik's default length: the period reaches dravik and the
// file records it as the response length.
class LongTSPProgram : public TSPProgram {
protected:
  std::size_t Period() const override { return 2 * kDefaultPeriod; }
};

TEST_F(LongTSPProgram, RecordingsGiveTheSpectraOfThePlayedResponses) {
  const RunResult r = Run({"--mode", "tf", "--output-type", "m2pg", "-o", dir_ / "tf.bin", "mic.xml", "tsp.xml"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("--sigmax \"1\" --samplebyframe \"32768\" --syncaddfreq"), std::string::npos) << r.out;
  ExpectKnownSpectra(dir_ / "tf.bin");
}

// Runs started ahead print what one run at a time prints, in the same
// order and on the same streams, and leave the same file; a run started
// ahead for a source that is never reached prints nothing. dravik is the
// built one or a script beside a copy of trelvix that writes to both
// streams and fails for the second recording.
TEST_F(TSPProgram, RunsAheadPrintAsRunsOneAtATime) {
  struct Case {
    const char* name;
    bool firstRecordingMissing;
    bool failingDravik;
  };
  // The recording removed by the second case stays removed.
  const Case cases[] = {{"failingDravik", false, true}, {"firstRecordingMissing", true, false}};
  struct Streams {
    const char* name;
    bool fileToStdout;
    bool merged;  // standard output and standard error on one pipe
  };
  const Streams streams[] = {{"separate", false, false}, {"fileToStdout", true, false}, {"merged", false, true}};
  const std::string realDravik = RequireEnv("DRAVIK_BIN");
  for (const Case& c : cases) {
    std::string program = c.failingDravik ? dir_ / "fake/trelvix" : trelvix_;
    if (c.firstRecordingMissing) fs::remove(dir_ / "D000_00.wav");
    if (c.failingDravik) {
      vesk_test::CopyProgram(trelvix_, dir_ / "fake");
      const std::string script = dir_ / "fake/dravik";
      std::ofstream(script) << "#!/bin/sh\necho \"out $#\"; echo err >&2; echo out2\n"
                            << "case \"$*\" in *D000_00.wav*) exec '" << realDravik << "' \"$@\";; esac\nexit 3\n";
      fs::permissions(script, fs::perms::owner_all);
    }
    for (const Streams& st : streams) {
      RunResult results[2];
      std::string files[2];
      for (int ahead = 0; ahead < 2; ++ahead) {
        const std::string file = dir_ / ("tf" + std::to_string(ahead) + ".bin");
        std::string command = "exec '" + program + "' --mode tf" + (st.fileToStdout ? "" : " -o '" + file + "'") +
                              " mic.xml tsp.xml" + (st.merged ? " 2>&1" : "");
        fs::create_directories(dir_ / "tmp");
        RunResult& r = results[ahead];
        r = RunProgram({"/bin/sh", "-c", command}, dir_.Path(),
                       {"TMPDIR=" + (dir_ / "tmp"), std::string("TRELVIX_JOBS=") + (ahead ? "3" : "1")});
        files[ahead] = st.fileToStdout ? "" : ReadWholeFile(file);
        // The temporary directory is drawn afresh by every run.
        const std::string text = st.merged || !st.fileToStdout ? r.out + r.err : r.err;
        const std::string mark = "Created a temporary directore: ";
        const std::size_t at = text.find(mark);
        ASSERT_NE(at, std::string::npos) << text;
        const std::string temporary = text.substr(at + mark.size(), text.find('\n', at) - at - mark.size());
        for (std::string* stream : {&r.out, &r.err}) {
          for (std::size_t pos; (pos = stream->find(temporary)) != std::string::npos;)
            stream->replace(pos, temporary.size(), "TMP");
        }
      }
      SCOPED_TRACE(std::string(c.name) + " " + st.name);
      EXPECT_EQ(results[0].status, 1);
      EXPECT_EQ(results[1].status, results[0].status);
      EXPECT_EQ(results[1].out, results[0].out);
      EXPECT_EQ(results[1].err, results[0].err);
      EXPECT_EQ(files[1], files[0]);
      // The second recording's run is asked for only when the first works.
      const std::string both = results[0].out + results[0].err;
      EXPECT_EQ(both.find(hostile_) != std::string::npos, c.failingDravik) << both;
    }
  }
}

}  // namespace

namespace {

// A TRELVIX_JOBS that is not a positive integer, or above 1024, stops the
// run before any dravik starts, names the variable and writes no file.
TEST_F(TSPProgram, ABadJobCountIsRefused) {
  const std::string positive = "must be a positive integer", atMost = "must be at most 1024";
  for (const auto& [jobs, why] :
       std::vector<std::pair<const char*, std::string>>{{"0", positive},
                                                        {"-2", positive},
                                                        {"two", positive},
                                                        {"3x", positive},
                                                        {"1025", atMost},
                                                        {"99999999999999999999999", atMost}}) {
    SCOPED_TRACE(std::string("TRELVIX_JOBS=") + jobs);
    fs::create_directories(dir_ / "tmp");
    const RunResult r = RunProgram({trelvix_, "--mode", "tf", "-o", dir_ / "jobs.bin", "mic.xml", "tsp.xml"},
                                   dir_.Path(), {"TMPDIR=" + (dir_ / "tmp"), std::string("TRELVIX_JOBS=") + jobs});
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_NE(r.err.find("TRELVIX_JOBS " + why + ", but \"" + std::string(jobs) + "\" is given"), std::string::npos)
        << r.err;
    EXPECT_EQ(r.out.find("Dravik: "), std::string::npos) << r.out;
    EXPECT_FALSE(fs::exists(dir_ / "jobs.bin"));
  }
}

}  // namespace
