// trelvix --mode tf run as a program over lists made by its template mode,
// read back through veskio2.
#include <cmath>
#include <complex>
#include <random>

#include <gtest/gtest.h>

#include "TestSupport.h"

namespace {

using namespace testsupport;
using namespace veskio2::vesk;
using C = std::complex<float>;

constexpr std::size_t kIrLength = 600;  // samples in each .flt file
constexpr std::size_t kNfft = 512;

// Direct DFT in double of the first n samples, bins 0 .. n/2.
std::vector<std::complex<double>> Dft(const std::vector<float>& x, std::size_t n) {
  std::vector<std::complex<double>> bins(n / 2 + 1);
  for (std::size_t k = 0; k < bins.size(); ++k)
    for (std::size_t t = 0; t < n; ++t)
      bins[k] += double(x[t]) * std::polar(1.0, -2.0 * M_PI * double(k * t % n) / double(n));
  return bins;
}

class TFProgram : public ::testing::Test {
protected:
  void SetUp() override {
    trelvix_ = RequireEnv("TRELVIX_BIN");
    if (trelvix_.empty() || !fs::exists(trelvix_)) GTEST_SKIP() << "TRELVIX_BIN not built";
    Template({"--output-type", "mic", "--nummic", "2", "--radius", "0.1", "-o", dir_ / "mic.xml"});
    Template({"--output-type", "ir", "--nummic", "2", "--numazi", "3", "--aziint", "120", "--filepath",
              dir_ / "D{AZIMUTH:%03d}_ch{CHANNEL:%02d}.flt", "-o", dir_ / "ir.xml"});
    // Short responses, peak 2 at sample 3, nothing after sample 20: the
    // direct-sound truncation of m2pg keeps all of them.
    std::mt19937 gen(7);
    std::uniform_real_distribution<float> dist(-0.5f, 0.5f);
    for (int src = 0; src < 3; ++src) {
      for (int mic = 0; mic < 2; ++mic) {
        std::vector<float> h(kIrLength, 0.0f);
        for (std::size_t i = 0; i < 20; ++i) h[i] = dist(gen);
        h[3] = 2.0f;
        responses_[src][mic] = h;
        char name[64];
        std::snprintf(name, sizeof name, "D%03d_ch%02d.flt", src * 120, mic);
        WriteFlt(dir_ / name, h);
      }
    }
  }
  RunResult Template(std::vector<std::string> args) {
    args.insert(args.begin(), {trelvix_, "--mode", "template"});
    RunResult r = RunProgram(args);
    EXPECT_EQ(r.status, 0) << r.err;
    return r;
  }
  RunResult Tf(std::vector<std::string> args) {
    args.insert(args.begin(), {trelvix_, "--mode", "tf"});
    return RunProgram(args, dir_.Path());
  }
  // Runs tf with `args` and checks that it fails with `message` as the
  // last line on standard error and leaves no output file.
  void ExpectFailure(std::vector<std::string> args, const std::string& message) {
    const std::string out = dir_ / "fail.bin";
    args.insert(args.end(), {"-o", out});
    const RunResult r = Tf(args);
    EXPECT_EQ(r.status, 1) << message;
    EXPECT_GE(r.err.size(), message.size() + 1);
    if (r.err.size() > message.size()) {
      EXPECT_EQ(r.err.substr(r.err.size() - message.size() - 1), message + "\n") << r.err;
    }
    EXPECT_FALSE(fs::exists(out)) << message;
  }

  std::string trelvix_;
  ScratchDir dir_;
  std::vector<float> responses_[3][2];
};

// Each transform of 512 float samples carries rounding of a few ulps of the
// sum of |h| (about 6 here); 2e-5 absolute is well above it and far below
// any real error (a wrong sample changes bins by 0.01 or more).
constexpr double kTol = 2e-5;

TEST_F(TFProgram, M2pgHoldsTheSpectraOfTheListedResponses) {
  const RunResult r = Tf({"--output-type", "m2pg", "-o", dir_ / "tf.bin", "mic.xml", "ir.xml"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "");
  const auto file = ReadTFFile(dir_ / "tf.bin");
  ASSERT_EQ(file->GetDataSets().size(), 3u);
  EXPECT_EQ(file->GetDataSets()[0]->GetId(), "vgtf::Fmt");
  EXPECT_EQ(file->GetDataSets()[1]->GetId(), "vgtf::M2PG");
  EXPECT_EQ(file->GetDataSets()[2]->GetId(), "vgtf::Spec");
  const auto fmt = FindDataSet<vgtf::Fmt1_0>(*file);
  EXPECT_EQ(fmt->GetFormatType(), 1);
  EXPECT_EQ(fmt->GetMicCount(), 2);
  EXPECT_EQ(fmt->GetFftLength(), 512);
  EXPECT_EQ(fmt->GetIrLength(), int(kIrLength));
  EXPECT_EQ(fmt->GetSamplingRate(), 16000);
  EXPECT_NEAR(fmt->GetMicPositions()[1].x, 0.1f * std::cos(5 * M_PI / 180), 1e-6);

  const auto m2pg = FindDataSet<vgtf::M2PG1_0>(*file);
  ASSERT_EQ(m2pg->GetSourceCount(), 3);
  EXPECT_NEAR(m2pg->GetPositions()[1][0].x, std::cos(120 * M_PI / 180), 1e-6);
  EXPECT_NEAR(m2pg->GetPositions()[1][0].y, std::sin(120 * M_PI / 180), 1e-6);
  for (int src = 0; src < 3; ++src)
    for (int mic = 0; mic < 2; ++mic) {
      const auto expected = Dft(responses_[src][mic], kNfft);
      const auto& got = m2pg->GetTf()[src][0][mic];
      ASSERT_EQ(got.size(), expected.size());
      for (std::size_t k = 0; k < expected.size(); ++k) {
        EXPECT_NEAR(got[k].real(), expected[k].real(), kTol) << src << " " << mic << " " << k;
        EXPECT_NEAR(got[k].imag(), expected[k].imag(), kTol) << src << " " << mic << " " << k;
      }
    }

  // The library's dump shows the same data sets and fields.
  const std::string veskdump = RequireEnv("VESKDUMP_BIN");
  if (!veskdump.empty() && fs::exists(veskdump)) {
    const RunResult dump = RunProgram({veskdump, dir_ / "tf.bin"});
    ASSERT_EQ(dump.status, 0) << dump.err;
    const std::size_t fmtAt = dump.out.find("\"id\":\"vgtf::Fmt\"");
    const std::size_t m2pgAt = dump.out.find("\"id\":\"vgtf::M2PG\"");
    const std::size_t specAt = dump.out.find("\"id\":\"vgtf::Spec\"");
    EXPECT_TRUE(fmtAt < m2pgAt && m2pgAt < specAt && specAt != std::string::npos) << dump.out.substr(0, 300);
    for (const char* field : {"\"formatType\":1", "\"micCount\":2", "\"fftLength\":512", "\"irLength\":600",
                              "\"samplingRate\":16000", "\"sourceCount\":3", "\"innerCount\":1"}) {
      EXPECT_NE(dump.out.find(field), std::string::npos) << field;
    }
  }
}

TEST_F(TFProgram, GtfOnStandardOutputIsAValidFileWithReportsOnStandardError) {
  // No --output-file: the file's bytes are all of standard output.
  const RunResult r = Tf({"--output-type", "gtf", "--normalize-freq", "mic.xml", "ir.xml"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.err.find("tf_vect size: 3, 2, 257\n"), std::string::npos) << r.err;
  { std::ofstream(dir_ / "stdout.bin", std::ios::binary) << r.out; }
  const auto file = ReadTFFile(dir_ / "stdout.bin");
  EXPECT_EQ(FindDataSet<vgtf::Fmt1_0>(*file)->GetFormatType(), 2);
  const auto gtf = FindDataSet<vgtf::GTF1_0>(*file);
  ASSERT_TRUE(gtf);
  EXPECT_EQ(gtf->GetBinCount(), 257);
  ASSERT_EQ(gtf->GetBinIndices().size(), 257u);
  EXPECT_EQ(gtf->GetBinIndices()[256], 256u);
  // Energy normalisation per source cancels in the per-spectrum
  // normalisation: conj(X) over its norm without the cleared last bin.
  for (int src = 0; src < 3; ++src)
    for (int mic = 0; mic < 2; ++mic) {
      auto expected = Dft(responses_[src][mic], kNfft);
      expected.back() = 0;
      double norm = 0;
      for (const auto& v : expected) norm += std::norm(v);
      norm = std::sqrt(norm);
      const auto& got = gtf->GetTf()[src][mic];
      for (std::size_t k = 0; k < expected.size(); ++k) {
        // Unit-energy spectra of 256 bins: values near 0.06, rounding near 1e-8.
        EXPECT_NEAR(got[k].real(), expected[k].real() / norm, 1e-6) << k;
        EXPECT_NEAR(got[k].imag(), -expected[k].imag() / norm, 1e-6) << k;
      }
    }
}

TEST_F(TFProgram, LatePeaksAreNamedOnTheReportStream) {
  std::vector<float> late(kIrLength, 0.0f);
  late[250] = 1.0f;
  WriteFlt(dir_ / "D120_ch01.flt", late);
  const RunResult toFile = Tf({"-o", dir_ / "tf.bin", "mic.xml", "ir.xml"});
  ASSERT_EQ(toFile.status, 0) << toFile.err;
  EXPECT_EQ(toFile.out, dir_ / "D120_ch01.flt src 1, mic 1\n");
  const RunResult toStdout = Tf({"mic.xml", "ir.xml"});
  ASSERT_EQ(toStdout.status, 0) << toStdout.err;
  EXPECT_NE(toStdout.err.find(dir_ / "D120_ch01.flt src 1, mic 1\n"), std::string::npos);
  // The same file, byte for byte, as with --output-file.
  EXPECT_EQ(toStdout.out, ReadWholeFile(dir_ / "tf.bin"));
}

TEST_F(TFProgram, InputsAreClassifiedAndCheckedInOrder) {
  Template({"--output-type", "tsp", "--nummic", "2", "--numazi", "1", "-o", dir_ / "tsp.xml"});
  Template({"--output-type", "noise", "--numazi", "1", "-o", dir_ / "noise.xml"});
  ExpectFailure({"--output-format", "xml", "ir.xml"}, "unsupported output format in TF mode");
  ExpectFailure({"mic.xml", "ir.xml", "mic.xml", "--output-type", "mic"}, "too many mic array location file");
  ExpectFailure({"--output-type", "mic", "mic.xml", "ir.xml"}, "invalid output type for making TF");
  ExpectFailure({"ir.xml"}, "need a mic array location file for making TF");
  ExpectFailure({"mic.xml", "ir.xml", "tsp.xml"}, "too many VESK-config files for making TF");
  ExpectFailure({"mic.xml", "noise.xml", "--geometry-calculus", "1"},
                "need a impulse response list file or a tsp list file for making TF");
  ExpectFailure({"mic.xml", "ir.xml", "ir.xml"}, "too many impulse response list file");
  ExpectFailure({"mic.xml", "tsp.xml", "tsp.xml"}, "too many tsp list file");
  ExpectFailure({"mic.xml", "ir.xml", "--nfft", "0"}, "nfft must be at least 1, but 0 is given");
  Template({"--output-type", "mic", "--nummic", "1001", "-o", dir_ / "big.xml"});
  ExpectFailure({"big.xml", "ir.xml"}, "big.xml lists 1001 microphones; at most 1000 are supported");
  ExpectFailure({"mic.xml", "ir.xml", "--nfft", "1024"},
                "impulse response of src 0, mic 0 is too short: 600 samples available, 1024 needed (cutStart 1, "
                "nfft 1024)");
  ExpectFailure({"mic.xml", "ir.xml", "--geometry-calculus", "1"},
                "Geometric TF calculation needs a tsp list file for the source positions, but ir.xml is an "
                "impulse response list file");

  // Inputs of other kinds are reported and passed over.
  const RunResult r = Tf({"-o", dir_ / "ok.bin", "a.wav", "mic.xml", "b.flt", "noise.xml", "noext", "ir.xml"});
  EXPECT_EQ(r.status, 0) << r.err;
  for (const char* ignored : {"a.wav", "b.flt", "noise.xml", "noext"}) {
    EXPECT_NE(r.err.find(std::string("the file has a invalid type for making TF. ignoring: ") + ignored + "\n"),
              std::string::npos);
  }
  EXPECT_TRUE(fs::exists(dir_ / "ok.bin"));
}

TEST_F(TFProgram, UnreadableResponsesAndWindowsEndTheRun) {
  fs::remove(dir_ / "D240_ch01.flt");
  ExpectFailure({"mic.xml", "ir.xml"}, "failed GetIR(src=2, mic=1)");

  // A microphone array whose indices the list does not carry.
  Template({"--output-type", "mic", "--nummic", "3", "--mic-channels", "0,2", "-o", dir_ / "mic02.xml"});
  ExpectFailure({"mic02.xml", "ir.xml"}, "mic combinations are not same");

  Template({"--output-type", "ir", "--nummic", "2", "--numazi", "3", "--aziint", "120", "--cut-start", "0",
            "--filepath", dir_ / "D{AZIMUTH:%03d}_ch{CHANNEL:%02d}.flt", "-o", dir_ / "ir0.xml"});
  WriteFlt(dir_ / "D240_ch01.flt", std::vector<float>(kIrLength));
  ExpectFailure({"mic.xml", "ir0.xml"},
                "cutStart of src 0 is 0, but counts from 1 (mic 0 has 600 samples, 512 needed)");
}

TEST_F(TFProgram, GeometricTransferFunctionsFromATspList) {
  Template({"--output-type", "tsp", "--nummic", "2", "--numazi", "2", "--aziint", "90", "--radius", "2", "-o",
            dir_ / "tsp.xml"});
  const RunResult r =
      Tf({"--geometry-calculus", "1", "--output-type", "gtf", "-o", dir_ / "geo.bin", "mic.xml", "tsp.xml"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "GEO IR[0] offset=0(0sec)\nGEO IR[1] offset=0(0sec)\n");
  EXPECT_NE(r.err.find("GTF creating TF based on geometric calculation(param.calc == 1)\n"), std::string::npos);
  const auto file = ReadTFFile(dir_ / "geo.bin");
  EXPECT_EQ(FindDataSet<vgtf::Fmt1_0>(*file)->GetIrLength(), 0);
  const auto gtf = FindDataSet<vgtf::GTF1_0>(*file);
  ASSERT_TRUE(gtf);
  // Source 1 at azimuth 90, 2 m; microphone 1 at azimuth 5, 0.1 m.
  const double sx = 2 * std::cos(M_PI / 2), sy = 2.0;
  const double mx = 0.1 * std::cos(5 * M_PI / 180), my = 0.1 * std::sin(5 * M_PI / 180);
  const double delay = std::hypot(sx - mx, sy - my) * 16000.0 / 343.0;
  // Conjugated pure delay; angle rounding as in the unit tests, 1e-4.
  for (std::size_t k : {0, 1, 100, 256}) {
    const std::complex<double> expected = std::polar(1.0, delay * 2 * M_PI * double(k) / 512.0);
    EXPECT_NEAR(gtf->GetTf()[1][1][k].real(), expected.real(), 1e-4) << k;
    EXPECT_NEAR(gtf->GetTf()[1][1][k].imag(), expected.imag(), 1e-4) << k;
  }
  // Reports go to standard error when the file takes standard output.
  const RunResult toStdout = Tf({"--geometry-calculus", "1", "mic.xml", "tsp.xml"});
  ASSERT_EQ(toStdout.status, 0);
  EXPECT_NE(toStdout.err.find("GEO IR[1] offset=0(0sec)\n"), std::string::npos);
  EXPECT_EQ(toStdout.out.find("GEO IR"), std::string::npos);

  Template({"--output-type", "tsp", "--nummic", "2", "--numazi", "2", "--numelv", "2", "-o", dir_ / "tsp2.xml"});
  ExpectFailure({"--geometry-calculus", "1", "--numelv", "2", "mic.xml", "tsp2.xml"},
                "Geometric TF calculation doesn't support multi vertical sound positions");
}

}  // namespace
