// The impulse-response list provider: which file serves which microphone,
// the counts, and its errors.
#include <gtest/gtest.h>

#include "TestSupport.h"
#include "provider/CheckConfigFile.h"
#include "provider/IRProviderIR.h"
#include "provider/MicIndexTable.h"

namespace trelvix {
namespace {

using namespace testsupport;
using veskio2::veskconfig::ImpulseResponseListFile2_0;
using veskio2::veskconfig::Source2;

boost::shared_ptr<ImpulseResponseListFile2_0> MakeList(const std::vector<Source2>& sources) {
  boost::shared_ptr<ImpulseResponseListFile2_0> list(new ImpulseResponseListFile2_0);
  list->SetSources(sources);
  return list;
}

class IRProviderIRTest : public ::testing::Test {
protected:
  // value.flt holds the single sample `value`.
  std::string Flt(float value) {
    const std::string path = dir_ / (std::to_string(static_cast<int>(value)) + ".flt");
    WriteFlt(path, {value});
    return path;
  }
  std::string Write(const boost::shared_ptr<ImpulseResponseListFile2_0>& list) {
    const std::string path = dir_ / "list.xml";
    WriteConfig(path, list);
    return path;
  }
  ScratchDir dir_;
};

TEST_F(IRProviderIRTest, OnlyTheFirstSingleIndexFileServesAMicrophone) {
  // Index 3: a two-index file never serves it; of two single-index files
  // the first in file order does.
  const auto source = MakeSource(PositionAt(1, 0, 0), {MakeFile(Flt(34), {3, 4}), MakeFile(Flt(30), {3}),
                                                       MakeFile(Flt(31), {3}), MakeFile(Flt(5), {5})});
  IRProviderIR provider(Write(MakeList({source})));
  SetMicIndexOf(0, 3);
  SetMicIndexOf(1, 5);
  SetMicIndexOf(2, 4);
  EXPECT_EQ(provider.GetIR(0, 0), std::vector<float>{30});
  EXPECT_EQ(provider.GetIR(0, 1), std::vector<float>{5});
  EXPECT_EQ(ErrorOf([&] { provider.GetIR(0, 2); }), "not implemented");
}

TEST_F(IRProviderIRTest, UnreadableFileGivesAnEmptyResponseAndBadIndicesThrow) {
  const auto source = MakeSource(PositionAt(1, 0, 0), {MakeFile(dir_ / "missing.flt", {0})});
  IRProviderIR provider(Write(MakeList({source})));
  SetMicIndexOf(0, 0);
  EXPECT_TRUE(provider.GetIR(0, 0).empty());
  EXPECT_THROW(provider.GetIR(1, 0), std::out_of_range);
  EXPECT_EQ(ErrorOf([&] { provider.GetIR(0, 1000); }),
            "microphone 1000 is outside the microphone index table (at most 1000 microphones)");
}

TEST_F(IRProviderIRTest, CountsSourcesAndMicrophones) {
  const auto source = MakeSource(PositionAt(1, 0, 0), {MakeFile("a.flt", {0}), MakeFile("b.flt", {1})});
  IRProviderIR fromFiles(Write(MakeList({source, source, source})));
  EXPECT_EQ(fromFiles.GetNumSources(), 3u);
  EXPECT_EQ(fromFiles.GetNumMics(), 2u);
  EXPECT_EQ(fromFiles.GetSources().size(), 3u);

  boost::shared_ptr<ImpulseResponseListFile2_0> numMicOnly(new ImpulseResponseListFile2_0);
  numMicOnly->SetNumMic(6);
  IRProviderIR counted(Write(numMicOnly));
  EXPECT_EQ(counted.GetNumMics(), 6u);
  EXPECT_EQ(ErrorOf([&] { counted.GetNumSources(); }), "sources is not initialized");

  IRProviderIR empty(Write(MakeList({})));
  EXPECT_EQ(ErrorOf([&] { empty.GetNumMics(); }), "not implemented");
}

TEST_F(IRProviderIRTest, MicIndicesComeFromTheFirstCompleteSource) {
  veskio2::veskconfig::File1 noIndices;
  noIndices.SetName("x.flt");
  // The first source fails at its second file: its first value stays.
  const auto broken = MakeSource(PositionAt(1, 0, 0), {MakeFile("a.flt", {7}), noIndices});
  const auto complete = MakeSource(PositionAt(0, 1, 0), {MakeFile("a.flt", {2}), MakeFile("b.flt", {9, 1})});
  IRProviderIR provider(Write(MakeList({broken, complete})));
  EXPECT_EQ(*provider.GetMicIndices(), (std::vector<unsigned>{7, 2, 9}));

  const auto noFiles = MakeSource(PositionAt(1, 0, 0), {});
  IRProviderIR emptyFirst(Write(MakeList({noFiles, complete})));
  EXPECT_TRUE(emptyFirst.GetMicIndices()->empty());

  IRProviderIR none(Write(MakeList({broken})));
  EXPECT_EQ(ErrorOf([&] { none.GetMicIndices(); }), "no mic indices found in <file> tag");
}

TEST_F(IRProviderIRTest, RefusesOtherKindsOfFile) {
  const std::string path = dir_ / "mic.xml";
  WriteConfig(path, MakeMicArray({MakeMic(0, 1, 0, 0)}));
  EXPECT_EQ(ErrorOf([&] { IRProviderIR provider(path); }),
            "requires ImpulseResponseListFile, but given MicArrayLocationFile");
  EXPECT_EQ(ErrorOf([] { CheckConfigFile(nullptr, "TSPListFile", {veskio2::Version(2, 0)}); }), "not VESK-config file");
  EXPECT_EQ(ErrorOf([&] { CheckConfigFile(MakeMicArray({}), "MicArrayLocationFile", {veskio2::Version(1, 0)}); }),
            "unsupported MicArrayLocationFile version 2.0");
  EXPECT_NO_THROW(
      CheckConfigFile(MakeMicArray({}), "MicArrayLocationFile", {veskio2::Version(1, 0), veskio2::Version(2, 0)}));
}

}  // namespace
}  // namespace trelvix
