// Transfer-function files whose lengths and counts lie, given to veskdump:
// every claimed size is checked against the bytes that are really there,
// so none of these may allocate by the claim, run long or crash.
#include <functional>

#include "HostileFiles.h"
#include "HostileRun.h"

namespace hostile {
namespace {

const uint32_t kMax32 = 0xffffffffu;

Bytes Header(uint32_t dataSets) {
  Bytes b;
  b.Text("VESKFILE").U32(1).U32(0).U32(dataSets);
  return b;
}

std::string File(const std::string& id, const std::string& body, uint64_t claimedLength) {
  Bytes b = Header(1);
  b.U32(static_cast<uint32_t>(id.size())).Text(id).U32(1).U32(0).U64(claimedLength).Append(body);
  return b.Str();
}

std::string File(const std::string& id, const Bytes& body) { return File(id, body.Str(), body.Size()); }

// vgtf::GTF body: sourceCount, positions, binCount, binIndices unset; `tf`
// set and made of the given bytes.
Bytes GTFWithTf(const Bytes& tf) {
  Bytes b;
  b.U8(0).U8(0).U8(0).U8(0).U8(1).Append(tf.Str());
  return b;
}

struct TFCase {
  std::string name;
  std::function<std::string()> content;
  std::string mention;  // the fact the message must state
};

void PrintTo(const TFCase& c, std::ostream* os) { *os << c.name; }

std::vector<TFCase> Cases() {
  return {
      {"MagicOnly", [] { return std::string("VESKFILE"); }, "format major version"},
      {"HeaderCutShort", [] { return Bytes().Text("VESKFILE").U32(1).U16(0).Str(); }, "format minor version"},
      {"UnknownMajorVersion", [] { return Bytes().Text("VESKFILE").U32(2).U32(0).U32(0).Str(); },
       "expected format version 1.x, found 2.0"},
      {"DataSetCountLies", [] { return Header(kMax32).Str(); }, "id length of data set 0"},
      {"IdLengthLies", [] { return Header(1).U32(kMax32).Text("vgtf::Fmt").Str(); },
       "expected id length 1 to 1024 for data set 0, found 4294967295"},
      {"BodyLengthLies", [] { return File("vgtf::GTF", "", ~0ull); },
       "of 18446744073709551615 bytes, found only 0 bytes left"},
      {"BodyLengthTerabyte", [] { return File("vgtf::Spec", std::string(64, '\0'), 1ull << 40); },
       "of 1099511627776 bytes, found only 64 bytes left"},
      {"UnknownDataSetLengthLies", [] { return File("x-unknown", "abc", 1ull << 33); },
       "of 8589934592 bytes, found only 3 bytes left"},
      {"ListCountLies", [] { return File("vgtf::Fmt", Bytes().U8(0).U8(0).U8(0).U8(0).U8(0).U8(1).U32(kMax32)); },
       "micPositions"},
      {"TextLengthLies", [] { return File("vgtf::Spec", Bytes().U8(1).U32(kMax32).Text("2026/")); }, "date"},
      {"ArrayDimensionsLie", [] { return File("vgtf::GTF", GTFWithTf(Bytes().U32(kMax32).U32(kMax32).U32(kMax32))); },
       "tf"},
      {"ArrayDimensionAfterZero", [] { return File("vgtf::GTF", GTFWithTf(Bytes().U32(0).U32(kMax32).U32(kMax32))); },
       "tf"},
      {"ArrayOfTooManyEmptyLists", [] { return File("vgtf::GTF", GTFWithTf(Bytes().U32(1u << 20).U32(2).U32(0))); },
       "expected at most 1048576"},
      {"BadSetMark", [] { return File("vgtf::Fmt", Bytes().U8(7).I32(1)); }, "formatType"},
      {"BinIndicesDisagreeWithBinCount",
       [] {
         // A million real indices against a count of 3.
         Bytes body;
         body.U8(0).U8(0).U8(1).I32(3).U8(1).U32(1000000);
         for (uint32_t i = 0; i < 1000000; ++i) body.U32(i);
         body.U8(0);
         return File("vgtf::GTF", body);
       },
       "binCount"},
      {"BytesAfterTheLastDataSet", [] { return Header(0).Text("xyz").Str(); },
       "expected end of file after 0 data sets, found 3 more bytes"},
      {"BytesAfterTheLastField", [] { return File("vgtf::Spec", Bytes().U8(0).U8(0).U8(0).U8(0).U8(0).U8(0).U8(9)); },
       "expected end of data set"},
      {"Garbage", [] { return "VESKFILE" + Garbage(100000); }, "expected"},
  };
}

class TFFileHostile : public ::testing::TestWithParam<TFCase> {};

TEST_P(TFFileHostile, VeskdumpRefusesWithoutTrustingTheClaims) {
  ScratchDir dir;
  WriteWhole(dir / "tf.bin", GetParam().content());
  const Tree before = Snapshot(dir.Path());
  const Outcome o = RunProgram({RequireProgram("VESKDUMP_BIN"), "tf.bin"}, dir.Path());
  if (EndedCleanly(o, 1)) {
    EXPECT_EQ(o.err.compare(0, 10, "veskdump: "), 0) << Describe(o);
    ExpectMentions(o, o.err, {GetParam().mention});
    EXPECT_TRUE(o.out.empty()) << Describe(o);
  }
  ExpectNothingLost(before, Snapshot(dir.Path()));
}

INSTANTIATE_TEST_SUITE_P(Files, TFFileHostile, ::testing::ValuesIn(Cases()),
                         [](const ::testing::TestParamInfo<TFCase>& testInfo) { return testInfo.param.name; });

// A good TF file with one field damaged, given to tfcheck: a non-finite
// position (once an endless loop in the channel assignment) and an
// fftLength far beyond the bins held (once minutes and gigabytes) are
// refused naming the field.
struct DamageCase {
  std::string name;
  std::string dataSet;  // id of the data set damaged
  std::size_t offset;   // bytes from the start of its body
  Bytes bytes;          // written there
  std::string mention;
};

void PrintTo(const DamageCase& c, std::ostream* os) { *os << c.name; }

class TfcheckDamage : public ::testing::TestWithParam<DamageCase> {};

TEST_P(TfcheckDamage, IsRefusedNamingTheField) {
  const DamageCase& c = GetParam();
  ScratchDir dir;
  const std::string trelvix = RequireProgram("TRELVIX_BIN");
  for (const std::vector<std::string>& argv :
       {std::vector<std::string>{trelvix, "--mode", "template", "-t", "mic", "--nummic", "4", "--numazi", "4",
                                 "--aziint", "90", "--radius", "0.1", "-o", "mic.xml"},
        std::vector<std::string>{trelvix, "--mode", "template", "-t", "tsp", "--nummic", "4", "--numazi", "8",
                                 "--aziint", "45", "--radius", "1.5", "-o", "list.xml"},
        std::vector<std::string>{trelvix, "--mode", "tf", "--geometry-calculus", "1", "-t", "gtf", "-o", "tf.bin",
                                 "mic.xml", "list.xml"}})
    ASSERT_EQ(RunProgram(argv, dir.Path()).status, 0) << argv.back();
  std::string file = ReadWhole(dir / "tf.bin");
  // The body starts after the id, the version (2 x u32) and the length (u64).
  const std::size_t id = file.find(c.dataSet);
  ASSERT_NE(id, std::string::npos);
  file.replace(id + c.dataSet.size() + 16 + c.offset, c.bytes.Size(), c.bytes.Str());
  WriteWhole(dir / "tf.bin", file);
  const Outcome o = RunProgram({RequireProgram("TFCHECK_BIN"), "tf.bin"}, dir.Path());
  if (EndedCleanly(o, 1)) ExpectMentions(o, o.err, {c.mention});
}

// Body offsets: Fmt holds formatType, micCount, fftLength, irLength and
// samplingRate (a set mark and an i32 each), then micPositions (mark, count,
// vec3s); GTF holds sourceCount (mark, i32), then positions (mark, count,
// vec3s).
INSTANTIATE_TEST_SUITE_P(
    Damaged, TfcheckDamage,
    ::testing::Values(DamageCase{"MicrophonePositionNaN", "vgtf::Fmt", 25 + 5, Bytes().U32(0x7fc00000u),
                                 "tf.bin: the position of microphone 0 is not finite"},
                      DamageCase{"SourcePositionInfinite", "vgtf::GTF", 10 + 4, Bytes().U32(0x7f800000u),
                                 "tf.bin: the position of source 0 is not finite"},
                      DamageCase{"FftLengthOfTwoToThe26", "vgtf::Fmt", 11, Bytes().U32(1u << 26),
                                 "tf.bin: fftLength 67108864 is more than 16 times the 257 bins the file holds"}),
    [](const ::testing::TestParamInfo<DamageCase>& param) { return param.param.name; });

}  // namespace
}  // namespace hostile
