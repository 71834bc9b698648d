// Assembly of the transfer-function file from a finished array.
#include <cstdlib>
#include <regex>

#include <gtest/gtest.h>

#include "TestSupport.h"
#include "tf/TFToVeskFile.h"

namespace trelvix {
namespace {

using namespace testsupport;
using namespace veskio2::vesk;
using C = std::complex<float>;

TFArray Ramp(std::size_t numSrc, std::size_t numMic, std::size_t numBins) {
  TFArray tf = MakeArray3<C>(numSrc, numMic, numBins, C());
  for (std::size_t s = 0; s < numSrc; ++s)
    for (std::size_t m = 0; m < numMic; ++m)
      for (std::size_t k = 0; k < numBins; ++k) tf[s][m][k] = C(float(s), float(m * 1000 + k));
  return tf;
}

std::vector<veskio2::Vector3<float>> Positions(std::size_t n) {
  std::vector<veskio2::Vector3<float>> positions;
  for (std::size_t s = 0; s < n; ++s) positions.emplace_back(float(s), 2.0f, -1.0f);
  return positions;
}

const auto kMics = MakeMicArray({MakeMic(4, 0.1f, 0, 0), MakeMic(7, 0, 0.2f, 0)});

TEST(AssembleTFFile, GtfHoldsFormatDataAndSpecInOrder) {
  const TFArray tf = Ramp(3, 2, 257);
  const auto file = AssembleTFFile(tf, Positions(3), kMics, 512, 4096, 16000, TFType::GTF);
  const auto& sets = file->GetDataSets();
  ASSERT_EQ(sets.size(), 3u);
  EXPECT_EQ(sets[0]->GetId(), "vgtf::Fmt");
  EXPECT_EQ(sets[1]->GetId(), "vgtf::GTF");
  EXPECT_EQ(sets[2]->GetId(), "vgtf::Spec");

  const auto& fmt = dynamic_cast<vgtf::Fmt1_0&>(*sets[0]);
  EXPECT_EQ(fmt.GetFormatType(), 2);
  EXPECT_EQ(fmt.GetMicCount(), 2);
  EXPECT_EQ(fmt.GetFftLength(), 512);
  EXPECT_EQ(fmt.GetIrLength(), 4096);
  EXPECT_EQ(fmt.GetSamplingRate(), 16000);
  ASSERT_EQ(fmt.GetMicPositions().size(), 2u);
  EXPECT_NEAR(fmt.GetMicPositions()[1].y, 0.2f, 1e-7f);  // r·direction of the second microphone

  const auto& gtf = dynamic_cast<vgtf::GTF1_0&>(*sets[1]);
  EXPECT_EQ(gtf.GetSourceCount(), 3);
  EXPECT_EQ(gtf.GetBinCount(), 257);
  ASSERT_EQ(gtf.GetBinIndices().size(), 257u);
  for (uint32_t k = 0; k < 257; ++k) EXPECT_EQ(gtf.GetBinIndices()[k], k);
  EXPECT_EQ(gtf.GetTf(), tf);
  EXPECT_EQ(gtf.GetPositions()[2], veskio2::Vector3<float>(2, 2, -1));
}

TEST(AssembleTFFile, M2pgNestsOneInnerPositionPerSource) {
  const TFArray tf = Ramp(72, 8, 5);
  const auto file =
      AssembleTFFile(tf, Positions(72), MakeMicArray(std::vector<veskio2::veskconfig::Mic1>(8, MakeMic(0, 1, 0, 0))), 8,
                     0, 48000, TFType::M2PG);
  const auto fmt = FindDataSet<vgtf::Fmt1_0>(*file);
  const auto m2pg = FindDataSet<vgtf::M2PG1_0>(*file);
  ASSERT_TRUE(fmt && m2pg);
  EXPECT_EQ(file->GetDataSets()[1]->GetId(), "vgtf::M2PG");
  EXPECT_EQ(fmt->GetFormatType(), 1);
  EXPECT_EQ(fmt->GetMicCount(), 8);
  EXPECT_EQ(fmt->GetIrLength(), 0);
  EXPECT_EQ(m2pg->GetSourceCount(), 72);
  EXPECT_EQ(m2pg->GetInnerCount(), 1);
  ASSERT_EQ(m2pg->GetPositions().size(), 72u);
  ASSERT_EQ(m2pg->GetTf().size(), 72u);
  for (std::size_t s = 0; s < 72; ++s) {
    ASSERT_EQ(m2pg->GetPositions()[s].size(), 1u);
    EXPECT_EQ(m2pg->GetPositions()[s][0], veskio2::Vector3<float>(float(s), 2, -1));
    ASSERT_EQ(m2pg->GetTf()[s].size(), 1u);
    EXPECT_EQ(m2pg->GetTf()[s][0], tf[s]);
  }
}

TEST(AssembleTFFile, MicCountComesFromTheFileAndTheSpecFromTheEnvironment) {
  const char* savedUser = std::getenv("USER");
  const std::string user = savedUser ? savedUser : "";
  ::setenv("USERNAME", "", 1);
  ::setenv("USER", "someone", 1);
  auto spec = FindDataSet<vgtf::Spec1_0>(*AssembleTFFile(Ramp(1, 1, 1), Positions(1), kMics, 1, 1, 1, TFType::GTF));
  EXPECT_EQ(spec->GetUser(), "");  // USERNAME set, even empty, wins
  ::unsetenv("USERNAME");
  spec = FindDataSet<vgtf::Spec1_0>(*AssembleTFFile(Ramp(1, 1, 1), Positions(1), kMics, 1, 1, 1, TFType::GTF));
  EXPECT_EQ(spec->GetUser(), "someone");
  ::unsetenv("USER");
  const auto file = AssembleTFFile(Ramp(1, 1, 1), Positions(1), kMics, 1, 1, 1, TFType::GTF);
  spec = FindDataSet<vgtf::Spec1_0>(*file);
  EXPECT_EQ(spec->GetUser(), "");
  if (savedUser) ::setenv("USER", user.c_str(), 1);

  EXPECT_TRUE(std::regex_match(spec->GetDate().raw(), std::regex("[0-9]{4}/[0-1][0-9]/[0-3][0-9]")))
      << spec->GetDate().raw();
  EXPECT_EQ(spec->GetLocation(), "");
  EXPECT_EQ(spec->GetEquipment(), "");
  EXPECT_EQ(spec->GetEnvironment(), "");
  EXPECT_EQ(spec->GetNote(), "");
  EXPECT_EQ(FindDataSet<vgtf::Fmt1_0>(*file)->GetMicCount(), 2);  // the array has one microphone row
}

TEST(AssembleTFFile, RefusesEmptyArraysAndIncompleteMicrophones) {
  for (const TFArray& empty : {TFArray{}, TFArray{{}}, TFArray{{{}}}}) {
    EXPECT_EQ(ErrorOf([&] { AssembleTFFile(empty, Positions(empty.size()), kMics, 2, 0, 1, TFType::M2PG); }),
              "Empty TF vector");
  }
  boost::shared_ptr<veskio2::veskconfig::MicArrayLocationFile2_0> noMics(
      new veskio2::veskconfig::MicArrayLocationFile2_0);
  EXPECT_EQ(ErrorOf([&] { AssembleTFFile(Ramp(1, 1, 1), Positions(1), noMics, 2, 0, 1, TFType::M2PG); }),
            "mics is not initialized");
  veskio2::veskconfig::Mic1 unplaced;
  unplaced.SetMicIndex(0);
  EXPECT_EQ(
      ErrorOf([&] { AssembleTFFile(Ramp(1, 1, 1), Positions(1), MakeMicArray({unplaced}), 2, 0, 1, TFType::GTF); }),
      "position is not initialized");
}

}  // namespace
}  // namespace trelvix
