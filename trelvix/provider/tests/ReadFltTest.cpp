// The .flt reader: whole little-endian 4-byte groups, short tails dropped.
#include <cstring>
#include <fstream>
#include <sstream>

#include <gtest/gtest.h>

#include "TestSupport.h"
#include "provider/ReadFlt.h"

namespace trelvix {
namespace {

std::istringstream Bytes(const std::string& bytes) { return std::istringstream(bytes, std::ios::binary); }

TEST(ReadFlt, DecodesLittleEndianWhateverTheHost) {
  // 1.0f = 0x3F800000, -2.5f = 0xC0200000, stored lowest byte first.
  auto in = Bytes(std::string("\x00\x00\x80\x3F\x00\x00\x20\xC0", 8));
  const std::vector<float> samples = ReadFlt(in);
  ASSERT_EQ(samples.size(), 2u);
  EXPECT_EQ(samples[0], 1.0f);
  EXPECT_EQ(samples[1], -2.5f);
}

TEST(ReadFlt, DropsAShortTailAndReadsNothingFromEmptyOrMissingFiles) {
  auto ten = Bytes(std::string("\x00\x00\x80\x3F\x00\x00\x80\x3F\x01\x02", 10));
  EXPECT_EQ(ReadFlt(ten).size(), 2u);
  auto three = Bytes(std::string("\x00\x00\x80", 3));
  EXPECT_TRUE(ReadFlt(three).empty());
  auto empty = Bytes("");
  EXPECT_TRUE(ReadFlt(empty).empty());
  std::ifstream missing("/nonexistent/dir/none.flt", std::ios::binary);
  EXPECT_TRUE(ReadFlt(missing).empty());
}

TEST(ReadFlt, ReadsLargeFilesAcrossBlockBoundariesIntact) {
  // Far more than one read block, with a tail of 3 bytes: every sample must
  // come back in order, none split or lost at a block edge.
  testsupport::ScratchDir dir;
  std::vector<float> written(100003);
  for (std::size_t i = 0; i < written.size(); ++i) written[i] = static_cast<float>(i) * 0.5f - 7.0f;
  testsupport::WriteFlt(dir / "big.flt", written);
  { std::ofstream(dir / "big.flt", std::ios::binary | std::ios::app).write("\x01\x02\x03", 3); }
  std::ifstream in(dir / "big.flt", std::ios::binary);
  EXPECT_EQ(ReadFlt(in), written);
}

// A device or a directory is never read: /dev/zero would never end.
TEST(ReadFlt, FilesThatAreNotRegularGiveNothingAndSayWhy) {
  testsupport::ScratchDir dir;
  testsupport::WriteFlt(dir / "one.flt", {0.25f});
  std::string problem = "unchanged";
  EXPECT_EQ(ReadFltFile(dir / "one.flt", &problem), std::vector<float>{0.25f});
  EXPECT_EQ(problem, "");
  EXPECT_TRUE(ReadFltFile("/dev/zero", &problem).empty());
  EXPECT_EQ(problem, "not a regular file");
  EXPECT_TRUE(ReadFltFile(dir.Path(), &problem).empty());
  EXPECT_EQ(problem, "not a regular file");
  EXPECT_TRUE(ReadFltFile(dir / "missing.flt", &problem).empty());
  EXPECT_EQ(problem, "No such file or directory");
  { std::ofstream(dir / "short.flt", std::ios::binary).write("\x01\x02", 2); }
  EXPECT_TRUE(ReadFltFile(dir / "short.flt", &problem).empty());
  EXPECT_EQ(problem, "holds no whole sample");
}

}  // namespace
}  // namespace trelvix
