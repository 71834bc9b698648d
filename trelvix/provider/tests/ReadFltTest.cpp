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

}  // namespace
}  // namespace trelvix
