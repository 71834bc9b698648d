// Free-field transfer functions from positions alone.
#include <cmath>
#include <sstream>

#include <gtest/gtest.h>

#include "TestSupport.h"
#include "tf/GeometryToTF.h"

namespace trelvix {
namespace {

using namespace testsupport;
using namespace veskio2::vesk;
using veskio2::veskconfig::TSPListFile2_0;
using C = std::complex<float>;

class GeometryTest : public ::testing::Test {
protected:
  void SetUp() override {
    param_.tsp_list_file = dir_ / "tsp.xml";
    param_.mic_array_location_file = dir_ / "mic.xml";
    param_.nfft = 512;
    param_.direct_length = 32;
    param_.sampling_freq = 16000;
    WriteMics({MakeMic(0, 0.1f, 0, 0), MakeMic(1, -0.1f, 0, 0)});
  }
  void WriteMics(const std::vector<veskio2::veskconfig::Mic1>& mics) {
    WriteConfig(param_.mic_array_location_file, MakeMicArray(mics));
  }
  void WriteSources(const std::vector<veskio2::Vector3<float>>& points, std::vector<unsigned> indices = {0, 1}) {
    boost::shared_ptr<TSPListFile2_0> list(new TSPListFile2_0);
    list->SetNumMic(static_cast<unsigned>(indices.size()));
    std::vector<veskio2::veskconfig::Source2> sources;
    for (const auto& p : points) {
      veskio2::Position<float> position(p);  // a direction without distance: the point itself
      position.SetDirection(p);
      position.SetDistance(1.0f);
      sources.push_back(MakeSource(position, {MakeFile("a.wav", indices)}));
    }
    list->SetSources(sources);
    WriteConfig(param_.tsp_list_file, list);
  }
  boost::shared_ptr<VeskFile> Make(std::string* report = nullptr, unsigned numVertical = 1) {
    std::ostringstream out;
    auto file = MakeGeometricTF(param_, numVertical, out);
    if (report) *report = out.str();
    return file;
  }

  ScratchDir dir_;
  TFMakingParameters param_;
};

TEST_F(GeometryTest, NearSourcesArePureDelaysWithoutOffset) {
  // Source 1 m from the origin on the x axis: 0.9 m and 1.1 m to the mics.
  WriteSources({{1, 0, 0}, {0.1f, 0, 0}});
  std::string report;
  const auto file = Make(&report);
  EXPECT_EQ(report, "GEO IR[0] offset=0(0sec)\nGEO IR[1] offset=0(0sec)\n");
  const auto m2pg = FindDataSet<vgtf::M2PG1_0>(*file);
  ASSERT_TRUE(m2pg);
  EXPECT_EQ(FindDataSet<vgtf::Fmt1_0>(*file)->GetIrLength(), 0);
  const auto& tf = m2pg->GetTf();
  ASSERT_EQ(tf.size(), 2u);
  ASSERT_EQ(tf[0][0].size(), 2u);
  ASSERT_EQ(tf[0][0][0].size(), 257u);
  // Phase error: the angle is rounded to float, so a few ulps of up to
  // 2 pi × 256 × 51 / 512 ≈ 160 rad, about 1e-5 rad; 1e-4 leaves a margin.
  for (std::size_t mic = 0; mic < 2; ++mic) {
    const double distance = mic == 0 ? 0.9 : 1.1;     // metres
    const double delay = distance * 16000.0 / 343.0;  // samples
    for (std::size_t k : {0, 1, 100, 256}) {
      const std::complex<double> expected = std::polar(1.0, -delay * 2 * M_PI * double(k) / 512.0);
      EXPECT_NEAR(tf[0][0][mic][k].real(), expected.real(), 1e-4) << mic << " " << k;
      EXPECT_NEAR(tf[0][0][mic][k].imag(), expected.imag(), 1e-4) << mic << " " << k;
    }
  }
  // A source at a microphone: d = 0, every bin 1 + 0i.
  for (const C& v : tf[1][0][0]) EXPECT_EQ(v, C(1, 0));
  EXPECT_EQ(m2pg->GetPositions()[1][0].x, 0.1f);
}

TEST_F(GeometryTest, FarSourcesAreShiftedIntoTheWindowAndGtfIsConjugated) {
  // 20 m away: delays of about 927 and 939 samples; the offset puts the
  // latest direct path 32 samples before the end of the 512-sample window.
  param_.tf_type = TFType::GTF;
  WriteSources({{20, 0, 0}});
  std::string report;
  const auto gtf = FindDataSet<vgtf::GTF1_0>(*Make(&report));
  ASSERT_TRUE(gtf);
  const float perMetre = 16000.0f / 343.0f;
  const float latest = (veskio2::Vector3<float>(20, 0, 0) - veskio2::Vector3<float>(-0.1f, 0, 0)).Length() * perMetre;
  const float offset = latest + 32.0f - 512.0f;
  std::ostringstream line;
  line << "GEO IR[0] offset=" << offset << "(" << offset / 16000u << "sec)\n";
  EXPECT_EQ(report, line.str());
  EXPECT_EQ(gtf->GetTf()[0][1][0], C(1, 0));
  // Microphone 1 carries the latest path: its impulse sits at 480 samples;
  // conjugated, bin k is e^(+j 2 pi k 480 / 512). Tolerance as above.
  for (std::size_t k : {1, 7, 256}) {
    const std::complex<double> expected = std::polar(1.0, 2 * M_PI * double(k) * 480.0 / 512.0);
    EXPECT_NEAR(gtf->GetTf()[0][1][k].real(), expected.real(), 1e-4) << k;
    EXPECT_NEAR(gtf->GetTf()[0][1][k].imag(), expected.imag(), 1e-4) << k;
  }
  EXPECT_NE(gtf->GetTf()[0][1][256], C(0, 0));  // no normalisation here
}

TEST_F(GeometryTest, ChecksComeInOrder) {
  WriteSources({{1, 0, 0}});
  EXPECT_EQ(ErrorOf([&] { Make(nullptr, 2); }),
            "Geometric TF calculation doesn't support multi vertical sound positions");

  WriteSources({{1, 0, 0}}, {0, 2});
  testing::internal::CaptureStderr();
  EXPECT_EQ(ErrorOf([&] { Make(); }), "mic combinations are not same");
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "mic combinations are not same\n");

  WriteSources({{1, 0, 0}, {0, 0, 0}});
  EXPECT_EQ(ErrorOf([&] { Make(); }), "length of given vector is zero");

  veskio2::veskconfig::Mic1 unplaced;
  unplaced.SetMicIndex(1);
  WriteMics({MakeMic(0, 0.1f, 0, 0), unplaced});
  WriteSources({{1, 0, 0}});
  EXPECT_EQ(ErrorOf([&] { Make(); }), "position is not initialized");

  boost::shared_ptr<TSPListFile2_0> noNumMic(new TSPListFile2_0);
  WriteConfig(param_.tsp_list_file, noNumMic);
  EXPECT_EQ(ErrorOf([&] { Make(); }), "numMic is not initialized");
  noNumMic->SetNumMic(2);
  WriteConfig(param_.tsp_list_file, noNumMic);
  EXPECT_EQ(ErrorOf([&] { Make(); }), "sources is not initialized");
}

TEST_F(GeometryTest, NeedsATspList) {
  param_.ir_list_file = dir_ / "ir.xml";
  param_.tsp_list_file.clear();
  EXPECT_EQ(ErrorOf([&] { Make(); }), "Geometric TF calculation needs a tsp list file for the source positions, but " +
                                          param_.ir_list_file + " is an impulse response list file");
  param_.tsp_list_file = param_.mic_array_location_file;
  EXPECT_EQ(ErrorOf([&] { Make(); }),
            param_.mic_array_location_file + ": requires TSPListFile, but given MicArrayLocationFile");
}

}  // namespace
}  // namespace trelvix
