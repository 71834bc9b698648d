// The measured computation over a provider made in the test.
#include <cmath>
#include <map>
#include <sstream>

#include <gtest/gtest.h>

#include "TestSupport.h"
#include "tf/IRToSpectrum.h"
#include "tf/MeasuredIRToTF.h"

namespace trelvix {
namespace {

using namespace testsupport;
using namespace veskio2::vesk;
using veskio2::veskconfig::Source2;
using C = std::complex<float>;

class FakeProvider : public IRProvider {
public:
  std::vector<Source2> sources;
  std::map<std::pair<std::size_t, std::size_t>, std::vector<float>> responses;
  std::vector<unsigned int> micIndices;
  std::size_t numMics = 0;

  std::vector<float> GetIR(std::size_t src, std::size_t mic) override {
    const auto found = responses.find({src, mic});
    return found == responses.end() ? std::vector<float>() : found->second;
  }
  std::size_t GetNumSources() override { return sources.size(); }
  std::size_t GetNumMics() override { return numMics; }
  std::vector<boost::shared_ptr<veskio2::veskconfig::Source>> GetSources() override {
    std::vector<boost::shared_ptr<veskio2::veskconfig::Source>> result;
    for (const auto& s : sources) result.emplace_back(new Source2(s));
    return result;
  }
  boost::shared_ptr<std::vector<unsigned int>> GetMicIndices() override {
    return boost::shared_ptr<std::vector<unsigned int>>(new std::vector<unsigned int>(micIndices));
  }
};

std::vector<float> Impulse(std::size_t n, std::size_t at, float value) {
  std::vector<float> x(n, 0.0f);
  x[at] = value;
  return x;
}

class MeasuredTest : public ::testing::Test {
protected:
  void SetUp() override {
    param_.mic_array_location_file = dir_ / "mic.xml";
    WriteConfig(param_.mic_array_location_file, MakeMicArray({MakeMic(0, 1, 0, 0), MakeMic(1, 0, 1, 0)}));
    param_.nfft = 16;
    param_.direct_length = 4;
    param_.sampling_freq = 16000;
    provider_.micIndices = {1, 0};
    provider_.numMics = 2;
  }
  void AddSource(veskio2::Position<float> position, std::vector<float> mic0, std::vector<float> mic1, int cutStart = 1,
                 int cutEnd = 0, const std::string& name = "ir") {
    const std::size_t src = provider_.sources.size();
    provider_.sources.push_back(
        MakeSource(position, {MakeFile(name + "0.flt", {0}), MakeFile(name + "1.flt", {1})}, cutStart, cutEnd));
    provider_.responses[{src, 0}] = mic0;
    provider_.responses[{src, 1}] = mic1;
  }
  boost::shared_ptr<VeskFile> Make(std::string* report = nullptr) {
    std::ostringstream out;
    auto file = MakeMeasuredTF(param_, provider_, 77, out);
    if (report) *report = out.str();
    return file;
  }

  ScratchDir dir_;
  TFMakingParameters param_;
  FakeProvider provider_;
};

TEST_F(MeasuredTest, LoadsTheWindowThatStartsAtCutStart) {
  std::vector<float> ramp(20);
  for (std::size_t i = 0; i < ramp.size(); ++i) ramp[i] = float(i);
  AddSource(PositionAt(1, 0, 0), ramp, ramp, 3);
  AddSource(PositionAt(0, 1, 0), std::vector<float>(16, 1.0f), ramp, 1);
  const auto micArray = MakeMicArray({});
  const IRArray ir = LoadIR(*micArray, provider_, provider_.GetSources(), 16);
  ASSERT_EQ(ir.size(), 2u);
  EXPECT_EQ(ir[0][1].front(), 2.0f);  // cutStart counts from 1
  EXPECT_EQ(ir[0][1].back(), 17.0f);
  EXPECT_EQ(ir[1][0], std::vector<float>(16, 1.0f));  // exactly nfft samples suffice
}

TEST_F(MeasuredTest, WindowsOutsideTheResponseAndMissingResponsesAreClearErrors) {
  AddSource(PositionAt(1, 0, 0), std::vector<float>(16), std::vector<float>(15));
  EXPECT_EQ(ErrorOf([&] { Make(); }),
            "impulse response of src 0, mic 1 is too short: 15 samples available, 16 needed (cutStart 1, nfft 16)");

  provider_.sources.clear();
  AddSource(PositionAt(1, 0, 0), std::vector<float>(40), std::vector<float>(40), 0);
  EXPECT_EQ(ErrorOf([&] { Make(); }), "cutStart of src 0 is 0, but counts from 1 (mic 0 has 40 samples, 16 needed)");

  provider_.sources.clear();
  AddSource(PositionAt(1, 0, 0), std::vector<float>(16), std::vector<float>(16));
  provider_.responses.erase({0, 1});
  testing::internal::CaptureStderr();
  EXPECT_EQ(ErrorOf([&] { Make(); }), "failed GetIR(src=0, mic=1)");
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "failed GetIR(src=0, mic=1)\n");
}

TEST_F(MeasuredTest, ProviderMustCoverExactlyTheArraysMicrophones) {
  AddSource(PositionAt(1, 0, 0), std::vector<float>(16), std::vector<float>(16));
  for (const auto& indices : {std::vector<unsigned>{0}, std::vector<unsigned>{0, 2}, std::vector<unsigned>{0, 1, 2}}) {
    provider_.micIndices = indices;
    testing::internal::CaptureStderr();
    EXPECT_EQ(ErrorOf([&] { Make(); }), "mic combinations are not same");
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "mic combinations are not same\n");
  }
  provider_.sources.clear();
  provider_.micIndices = {0, 1};
  EXPECT_EQ(ErrorOf([&] { Make(); }), "Empty TF vector");
}

TEST_F(MeasuredTest, GtfDividesBySourceEnergyThenConjugates) {
  // Impulses 2 at sample 1 and 0 elsewhere: energy 4, so the impulse
  // becomes 0.5 and its spectrum 0.5 e^(+j 2 pi k / 16) after conjugation.
  param_.tf_type = TFType::GTF;
  AddSource(PositionAt(1, 0, 0), Impulse(16, 1, 2.0f), std::vector<float>(16));
  std::string report;
  const auto file = Make(&report);
  EXPECT_EQ(report, "");
  const auto gtf = FindDataSet<vgtf::GTF1_0>(*file);
  ASSERT_TRUE(gtf);
  const auto& row = gtf->GetTf()[0][0];
  ASSERT_EQ(row.size(), 9u);
  for (std::size_t k = 0; k < 8; ++k) {
    const std::complex<double> expected = std::polar(0.5, 2.0 * M_PI * double(k) / 16.0);
    EXPECT_NEAR(row[k].real(), expected.real(), 1e-6) << k;  // float rounding of unit-size values
    EXPECT_NEAR(row[k].imag(), expected.imag(), 1e-6) << k;
  }
  EXPECT_EQ(row[8], C(0, 0));  // the last bin is always cleared
  EXPECT_EQ(FindDataSet<vgtf::Fmt1_0>(*file)->GetIrLength(), 77);
}

TEST_F(MeasuredTest, GtfNormalisationFlagsApply) {
  param_.tf_type = TFType::GTF;
  param_.normalize_freq = true;
  AddSource(PositionAt(1, 0, 0), Impulse(16, 0, 3.0f), Impulse(16, 2, 1.0f));
  std::string report;
  const auto file = Make(&report);
  EXPECT_EQ(report, "tf_vect size: 1, 2, 9\n");
  const auto& tf = FindDataSet<vgtf::GTF1_0>(*file)->GetTf();
  for (std::size_t m = 0; m < 2; ++m) {
    double energy = 0;
    for (const C& v : tf[0][m]) energy += std::norm(v);
    EXPECT_NEAR(energy, 1.0, 1e-5);
  }
}

TEST_F(MeasuredTest, M2pgDropsTheReservedPositionAndTruncatesAfterTheDirectSound) {
  std::vector<float> tail(16, 0.25f);
  tail[5] = 1.0f;  // peak at 5: with direct_length 4, samples 10 .. 15 are cleared
  AddSource(PositionAt(0, 0, -1), tail, tail);
  AddSource(veskio2::Position<float>(veskio2::Vector3<float>(0, 0, -1), 2.0f), tail, tail, 1, 3);
  const auto file = Make();
  const auto m2pg = FindDataSet<vgtf::M2PG1_0>(*file);
  ASSERT_TRUE(m2pg);
  ASSERT_EQ(m2pg->GetSourceCount(), 1);
  EXPECT_EQ(m2pg->GetPositions()[0][0], veskio2::Vector3<float>(0, 0, -2));

  std::vector<float> cut = tail;
  std::fill(cut.begin() + 3, cut.end(), 0.0f);  // cutEnd 3 of the kept source
  const TFArray expected = DoFFT(IRArray{{cut}}, 16);
  EXPECT_EQ(m2pg->GetTf()[0][0][0], expected[0][0]);
  EXPECT_EQ(m2pg->GetTf()[0][0][0].size(), 9u);
  EXPECT_NE(m2pg->GetTf()[0][0][0][8], C(0, 0));  // M2PG keeps the last bin

  provider_.sources.clear();
  AddSource(PositionAt(1, 0, 0), tail, tail);
  const auto automatic = FindDataSet<vgtf::M2PG1_0>(*Make());
  std::vector<float> direct = tail;
  std::fill(direct.begin() + 10, direct.end(), 0.0f);
  EXPECT_EQ(automatic->GetTf()[0][0][1], DoFFT(IRArray{{direct}}, 16)[0][0]);
}

TEST_F(MeasuredTest, M2pgCutEndMustLieInsideTheWindow) {
  AddSource(PositionAt(0, 0, -1), std::vector<float>(16), std::vector<float>(16), 1, 99);  // removed first
  AddSource(PositionAt(1, 0, 0), std::vector<float>(16), std::vector<float>(16), 1, 16);
  EXPECT_EQ(ErrorOf([&] { Make(); }), "cut_end exceeds the number of FFT: src 0");
}

TEST_F(MeasuredTest, M2pgReportsLatePeaksByFileName) {
  param_.nfft = 256;
  AddSource(PositionAt(1, 0, 0), Impulse(256, 200, 1.0f), Impulse(256, 199, 1.0f), 1, 0, "first");
  AddSource(PositionAt(0, 1, 0), Impulse(256, 10, 1.0f), Impulse(256, 255, -1.0f), 1, 0, "second");
  std::string report;
  Make(&report);
  EXPECT_EQ(report, "first0.flt src 0, mic 0\nsecond1.flt src 1, mic 1\n");
}

}  // namespace
}  // namespace trelvix
