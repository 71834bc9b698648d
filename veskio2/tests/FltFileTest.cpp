// The .flt format: whole little-endian 4-byte groups, short tails dropped.
#include <algorithm>
#include <cstring>
#include <fstream>
#include <sstream>

#include <gtest/gtest.h>

#include "TestSupport.h"
#include "veskio2/FltFile.h"

namespace veskio2 {
namespace flt {
namespace {

std::istringstream Bytes(const std::string& bytes) { return std::istringstream(bytes, std::ios::binary); }

TEST(FltFile, DecodesLittleEndianWhateverTheHost) {
  // 1.0f = 0x3F800000, -2.5f = 0xC0200000, stored lowest byte first.
  auto in = Bytes(std::string("\x00\x00\x80\x3F\x00\x00\x20\xC0", 8));
  const std::vector<float> samples = Read(in);
  ASSERT_EQ(samples.size(), 2u);
  EXPECT_EQ(samples[0], 1.0f);
  EXPECT_EQ(samples[1], -2.5f);
}

TEST(FltFile, DropsAShortTailAndReadsNothingFromEmptyOrMissingFiles) {
  auto ten = Bytes(std::string("\x00\x00\x80\x3F\x00\x00\x80\x3F\x01\x02", 10));
  EXPECT_EQ(Read(ten).size(), 2u);
  auto three = Bytes(std::string("\x00\x00\x80", 3));
  EXPECT_TRUE(Read(three).empty());
  auto empty = Bytes("");
  EXPECT_TRUE(Read(empty).empty());
  std::ifstream missing("/nonexistent/dir/none.flt", std::ios::binary);
  EXPECT_TRUE(Read(missing).empty());
}

TEST(FltFile, ReadsLargeFilesAcrossBlockBoundariesIntact) {
  // Far more than one read block, with a tail of 3 bytes: every sample must
  // come back in order, none split or lost at a block edge.
  testsupport::ScratchDir dir;
  std::vector<float> written(100003);
  for (std::size_t i = 0; i < written.size(); ++i) written[i] = static_cast<float>(i) * 0.5f - 7.0f;
  testsupport::WriteFlt(dir / "big.flt", written);
  { std::ofstream(dir / "big.flt", std::ios::binary | std::ios::app).write("\x01\x02\x03", 3); }
  std::ifstream in(dir / "big.flt", std::ios::binary);
  EXPECT_EQ(Read(in), written);
}

// A device or a directory is never read: /dev/zero would never end.
TEST(FltFile, FilesThatAreNotRegularGiveNothingAndSayWhy) {
  testsupport::ScratchDir dir;
  testsupport::WriteFlt(dir / "one.flt", {0.25f});
  std::string problem = "unchanged";
  EXPECT_EQ(ReadFile(dir / "one.flt", &problem), std::vector<float>{0.25f});
  EXPECT_EQ(problem, "");
  EXPECT_TRUE(ReadFile("/dev/zero", &problem).empty());
  EXPECT_EQ(problem, "not a regular file");
  EXPECT_TRUE(ReadFile(dir.Path(), &problem).empty());
  EXPECT_EQ(problem, "not a regular file");
  EXPECT_TRUE(ReadFile(dir / "missing.flt", &problem).empty());
  EXPECT_EQ(problem, "No such file or directory");
  { std::ofstream(dir / "short.flt", std::ios::binary).write("\x01\x02", 2); }
  EXPECT_TRUE(ReadFile(dir / "short.flt", &problem).empty());
  EXPECT_EQ(problem, "holds no whole sample");
}

// Only the window is read; the length comes from the size, a short tail
// not counted. A window that does not fit reads nothing.
TEST(FltFile, WindowsReadOnlyWhatTheyNeed) {
  testsupport::ScratchDir dir;
  std::vector<float> written(40000);  // more than one block of ReadFile
  for (std::size_t i = 0; i < written.size(); ++i) written[i] = static_cast<float>(i);
  testsupport::WriteFlt(dir / "ramp.flt", written);
  { std::ofstream(dir / "ramp.flt", std::ios::binary | std::ios::app).write("\x01\x02", 2); }
  EXPECT_EQ(ReadFile(dir / "ramp.flt"), written);
  struct Window {
    std::size_t start, count;
    bool fits;
  };
  for (const Window w : {Window{0, 1, true}, Window{5, 16, true}, Window{39990, 10, true}, Window{39990, 11, false},
                         Window{40000, 0, true}, Window{40001, 0, false}, Window{0, 40000, true}}) {
    SCOPED_TRACE(testing::Message() << w.start << "+" << w.count);
    InputFile file(dir / "ramp.flt");
    EXPECT_EQ(file.Samples(), written.size());
    std::vector<float> window(w.count, -1.0f);
    EXPECT_EQ(file.ReadWindow(w.start, w.count, window.data()), w.fits);
    if (w.fits) {
      EXPECT_TRUE(std::equal(window.begin(), window.end(), written.begin() + static_cast<std::ptrdiff_t>(w.start)));
    } else {
      EXPECT_EQ(window, std::vector<float>(w.count, -1.0f));
      EXPECT_EQ(file.Problem(), "ends before the samples needed");
    }
  }
}

}  // namespace
}  // namespace flt
}  // namespace veskio2
