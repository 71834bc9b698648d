// The binary transfer-function file: round trips, the exact layout, the
// writer's refusals and the reader's answers to corrupt files.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <sstream>

#include <boost/make_shared.hpp>

#include "veskio2/Vesk.h"

using namespace veskio2;
using namespace veskio2::vesk;
using namespace veskio2::vesk::vgtf;

namespace {

uint32_t Bits(float f) {
  uint32_t b;
  std::memcpy(&b, &f, sizeof b);
  return b;
}

float FromBits(uint32_t b) {
  float f;
  std::memcpy(&f, &b, sizeof f);
  return f;
}

// Floats compared bit for bit: the format keeps NaN payloads and -0.
bool Same(const Vector3<float>& a, const Vector3<float>& b) {
  return Bits(a.x) == Bits(b.x) && Bits(a.y) == Bits(b.y) && Bits(a.z) == Bits(b.z);
}
bool Same(const Complex& a, const Complex& b) {
  return Bits(a.real()) == Bits(b.real()) && Bits(a.imag()) == Bits(b.imag());
}
template <typename T>
bool Same(const std::vector<T>& a, const std::vector<T>& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (!Same(a[i], b[i])) return false;
  return true;
}

std::string ToBytes(const boost::shared_ptr<VeskFile>& file) {
  std::ostringstream out;
  VeskFileBinaryWriter(out).Write(file);
  return out.str();
}

boost::shared_ptr<VeskFile> FromBytes(const std::string& bytes) {
  std::istringstream in(bytes);
  return VeskFileBinaryReader(in).Read();
}

std::string ReadError(const std::string& bytes) {
  try {
    FromBytes(bytes);
  } catch (const InvalidVeskFile& e) {
    return e.what();
  }
  return "";
}

std::string WriteError(const boost::shared_ptr<VeskFile>& file, std::string* written = nullptr) {
  std::ostringstream out;
  try {
    VeskFileBinaryWriter(out).Write(file);
  } catch (const InvalidVeskFile& e) {
    if (written) *written = out.str();
    return e.what();
  }
  if (written) *written = out.str();
  return "";
}

const float kNanWithPayload = FromBits(0x7fc01234u);

boost::shared_ptr<Fmt1_0> MakeFmt(int formatType) {
  auto fmt = boost::make_shared<Fmt1_0>();
  fmt->SetFormatType(formatType);
  fmt->SetMicCount(2);
  fmt->SetFftLength(512);
  fmt->SetIrLength(-1);
  fmt->SetSamplingRate(16000);
  fmt->SetMicPositions({Vector3<float>(1, 0, 0), Vector3<float>(-0.0f, kNanWithPayload, 1e-45f)});
  return fmt;
}

boost::shared_ptr<Spec1_0> MakeSpec() {
  auto spec = boost::make_shared<Spec1_0>();
  spec->SetDate("2026/03/07");
  spec->SetLocation("");
  spec->SetEquipment("");
  spec->SetEnvironment("lab \"B\"\n");
  spec->SetUser("Jürgen");
  spec->SetNote("");
  return spec;
}

// tf[s][m][k] = (s + m/10, k) so that every entry differs.
TF3 MakeTF3(std::size_t sources, std::size_t mics, std::size_t bins) {
  TF3 tf(sources, std::vector<std::vector<Complex>>(mics, std::vector<Complex>(bins)));
  for (std::size_t s = 0; s < sources; ++s)
    for (std::size_t m = 0; m < mics; ++m)
      for (std::size_t k = 0; k < bins; ++k)
        tf[s][m][k] = Complex(static_cast<float>(s) + 0.1f * static_cast<float>(m), static_cast<float>(k));
  return tf;
}

boost::shared_ptr<GTF1_0> MakeGTF(std::size_t sources, std::size_t mics, std::size_t bins) {
  auto gtf = boost::make_shared<GTF1_0>();
  gtf->SetSourceCount(static_cast<int32_t>(sources));
  std::vector<Vector3<float>> positions;
  for (std::size_t s = 0; s < sources; ++s) positions.emplace_back(static_cast<float>(s), 0.5f, -1);
  gtf->SetPositions(positions);
  gtf->SetBinCount(static_cast<int32_t>(bins));
  std::vector<uint32_t> indices;
  for (std::size_t k = 0; k < bins; ++k) indices.push_back(static_cast<uint32_t>(k));
  gtf->SetBinIndices(indices);
  gtf->SetTf(MakeTF3(sources, mics, bins));
  return gtf;
}

boost::shared_ptr<M2PG1_0> MakeM2PG(std::size_t sources, std::size_t mics, std::size_t bins) {
  auto m2pg = boost::make_shared<M2PG1_0>();
  m2pg->SetSourceCount(static_cast<int32_t>(sources));
  m2pg->SetInnerCount(1);
  std::vector<std::vector<Vector3<float>>> positions;
  TF4 tf;
  const TF3 flat = MakeTF3(sources, mics, bins);
  for (std::size_t s = 0; s < sources; ++s) {
    positions.push_back({Vector3<float>(static_cast<float>(s), 1, 2)});
    tf.push_back({flat[s]});
  }
  m2pg->SetPositions(positions);
  m2pg->SetTf(tf);
  return m2pg;
}

boost::shared_ptr<VeskFile> FileOf(std::initializer_list<boost::shared_ptr<DataSet>> dataSets) {
  auto file = boost::make_shared<VeskFile>();
  for (const auto& d : dataSets) file->AddDataSet(d);
  return file;
}

TEST(BinaryRoundTrip, GtfFileKeepsEveryFieldBitExact) {
  const auto fmt = MakeFmt(2);
  const auto gtf = MakeGTF(3, 2, 5);
  auto tf = gtf->GetTf();
  tf[2][1][4] = Complex(kNanWithPayload, -std::numeric_limits<float>::infinity());
  gtf->SetTf(tf);
  const auto spec = MakeSpec();
  const auto back = FromBytes(ToBytes(FileOf({fmt, gtf, spec})));
  ASSERT_EQ(back->GetDataSets().size(), 3u);

  const auto fmtBack = boost::dynamic_pointer_cast<Fmt1_0>(back->GetDataSets()[0]);
  ASSERT_TRUE(fmtBack);
  EXPECT_EQ(fmtBack->GetFormatType(), 2);
  EXPECT_EQ(fmtBack->GetMicCount(), 2);
  EXPECT_EQ(fmtBack->GetFftLength(), 512);
  EXPECT_EQ(fmtBack->GetIrLength(), -1);
  EXPECT_EQ(fmtBack->GetSamplingRate(), 16000);
  EXPECT_TRUE(Same(fmtBack->GetMicPositions(), fmt->GetMicPositions()));

  const auto gtfBack = boost::dynamic_pointer_cast<GTF1_0>(back->GetDataSets()[1]);
  ASSERT_TRUE(gtfBack);
  EXPECT_EQ(gtfBack->GetSourceCount(), 3);
  EXPECT_EQ(gtfBack->GetBinCount(), 5);
  EXPECT_EQ(gtfBack->GetBinIndices(), gtf->GetBinIndices());
  EXPECT_TRUE(Same(gtfBack->GetPositions(), gtf->GetPositions()));
  EXPECT_TRUE(Same(gtfBack->GetTf(), gtf->GetTf()));

  const auto specBack = boost::dynamic_pointer_cast<Spec1_0>(back->GetDataSets()[2]);
  ASSERT_TRUE(specBack);
  EXPECT_EQ(specBack->GetDate(), "2026/03/07");
  EXPECT_EQ(specBack->GetEnvironment(), "lab \"B\"\n");
  EXPECT_EQ(specBack->GetUser(), "Jürgen");
  EXPECT_EQ(specBack->GetNote(), "");
}

TEST(BinaryRoundTrip, M2pgFileAndUnsetFields) {
  const auto m2pg = MakeM2PG(4, 3, 2);
  auto partial = boost::make_shared<M2PG1_0>();
  partial->SetInnerCount(1);
  auto emptySpec = boost::make_shared<Spec1_0>();
  emptySpec->SetUser("u");
  const auto back = FromBytes(ToBytes(
      FileOf({MakeFmt(1), m2pg, partial, emptySpec, boost::make_shared<Fmt1_0>(), boost::make_shared<GTF1_0>()})));
  ASSERT_EQ(back->GetDataSets().size(), 6u);

  const auto m2pgBack = boost::dynamic_pointer_cast<M2PG1_0>(back->GetDataSets()[1]);
  ASSERT_TRUE(m2pgBack);
  EXPECT_EQ(m2pgBack->GetSourceCount(), 4);
  EXPECT_EQ(m2pgBack->GetInnerCount(), 1);
  EXPECT_TRUE(Same(m2pgBack->GetPositions(), m2pg->GetPositions()));
  EXPECT_TRUE(Same(m2pgBack->GetTf(), m2pg->GetTf()));

  const auto partialBack = boost::dynamic_pointer_cast<M2PG1_0>(back->GetDataSets()[2]);
  ASSERT_TRUE(partialBack);
  EXPECT_FALSE(partialBack->HasSourceCount());
  EXPECT_FALSE(partialBack->HasPositions());
  EXPECT_FALSE(partialBack->HasTf());
  EXPECT_EQ(partialBack->GetInnerCount(), 1);

  const auto specBack = boost::dynamic_pointer_cast<Spec1_0>(back->GetDataSets()[3]);
  ASSERT_TRUE(specBack);
  EXPECT_FALSE(specBack->HasDate());
  EXPECT_FALSE(specBack->HasNote());
  EXPECT_EQ(specBack->GetUser(), "u");

  const auto fmtBack = boost::dynamic_pointer_cast<Fmt1_0>(back->GetDataSets()[4]);
  ASSERT_TRUE(fmtBack);
  EXPECT_FALSE(fmtBack->HasFormatType());
  EXPECT_FALSE(fmtBack->HasMicPositions());
  const auto gtfBack = boost::dynamic_pointer_cast<GTF1_0>(back->GetDataSets()[5]);
  ASSERT_TRUE(gtfBack);
  EXPECT_FALSE(gtfBack->HasTf());
  EXPECT_FALSE(gtfBack->HasBinIndices());
}

TEST(BinaryRoundTrip, EmptyDimensionsSurvive) {
  // Two sources without microphones: the bin dimension is unknowable.
  auto gtf = boost::make_shared<GTF1_0>();
  gtf->SetSourceCount(2);
  gtf->SetBinCount(257);
  gtf->SetTf(TF3(2));
  auto m2pg = boost::make_shared<M2PG1_0>();
  m2pg->SetSourceCount(0);
  m2pg->SetInnerCount(1);
  m2pg->SetPositions({});
  m2pg->SetTf({});
  const auto back = FromBytes(ToBytes(FileOf({gtf, m2pg})));
  const auto gtfBack = boost::dynamic_pointer_cast<GTF1_0>(back->GetDataSets()[0]);
  ASSERT_TRUE(gtfBack);
  ASSERT_EQ(gtfBack->GetTf().size(), 2u);
  EXPECT_TRUE(gtfBack->GetTf()[1].empty());
  const auto m2pgBack = boost::dynamic_pointer_cast<M2PG1_0>(back->GetDataSets()[1]);
  ASSERT_TRUE(m2pgBack);
  EXPECT_TRUE(m2pgBack->HasTf());
  EXPECT_TRUE(m2pgBack->GetTf().empty());
  EXPECT_TRUE(ToBytes(boost::make_shared<VeskFile>()).size() == 20u);
}

// The layout the format document shows, byte for byte.
TEST(BinaryLayout, SmallFileMatchesTheDocumentedBytes) {
  auto fmt = boost::make_shared<Fmt1_0>();
  fmt->SetFormatType(2);
  const std::string expected =
      std::string("VESKFILE") + std::string("\x01\x00\x00\x00", 4) + std::string("\x00\x00\x00\x00", 4) +
      std::string("\x01\x00\x00\x00", 4) + std::string("\x09\x00\x00\x00", 4) + "vgtf::Fmt" +
      std::string("\x01\x00\x00\x00\x00\x00\x00\x00", 8) + std::string("\x0A\x00\x00\x00\x00\x00\x00\x00", 8) +
      std::string("\x01\x02\x00\x00\x00\x00\x00\x00\x00\x00", 10);
  EXPECT_EQ(ToBytes(FileOf({fmt})), expected);

  // A GTF tf value sits after its three dimensions, little-endian floats.
  auto gtf = boost::make_shared<GTF1_0>();
  gtf->SetTf(TF3{{{Complex(1.0f, -2.0f)}}});
  const std::string bytes = ToBytes(FileOf({gtf}));
  const std::string body = bytes.substr(20 + 4 + 9 + 8 + 8);
  EXPECT_EQ(body, std::string("\x00\x00\x00\x00\x01", 5) +
                      std::string("\x01\x00\x00\x00\x01\x00\x00\x00\x01\x00\x00\x00", 12) +
                      std::string("\x00\x00\x80\x3f\x00\x00\x00\xc0", 8));
}

TEST(BinaryWriter, RefusesInconsistentObjectsBeforeWritingAnything) {
  struct Case {
    boost::shared_ptr<DataSet> dataSet;
    std::string message;
  };
  std::vector<Case> cases;
  {
    auto gtf = MakeGTF(2, 2, 4);
    gtf->SetBinCount(5);
    cases.push_back({gtf, "vgtf::GTF 1.0: expected 5 binIndices (binCount), found 4"});
  }
  {
    auto gtf = MakeGTF(2, 2, 4);
    gtf->ClearBinIndices();
    gtf->SetBinCount(5);
    cases.push_back({gtf, "vgtf::GTF 1.0: expected 5 bins in tf (binCount), found 4"});
  }
  {
    auto gtf = MakeGTF(2, 2, 4);
    gtf->ClearBinCount();
    gtf->SetBinIndices({0, 1, 2});
    cases.push_back({gtf, "vgtf::GTF 1.0: expected 3 bins in tf (as in binIndices), found 4"});
  }
  {
    auto gtf = MakeGTF(2, 2, 4);
    gtf->SetPositions({Vector3<float>()});
    cases.push_back({gtf, "vgtf::GTF 1.0: expected 2 positions (sourceCount), found 1"});
  }
  {
    auto gtf = MakeGTF(2, 2, 4);
    auto tf = gtf->GetTf();
    tf[1][1].pop_back();
    gtf->SetTf(tf);
    cases.push_back({gtf, "vgtf::GTF 1.0: tf is ragged: expected 4 entries in tf[1][1], found 3"});
  }
  {
    auto gtf = MakeGTF(2, 2, 4);
    auto tf = gtf->GetTf();
    tf[0].push_back(tf[0][0]);
    gtf->SetTf(tf);
    cases.push_back({gtf, "vgtf::GTF 1.0: tf is ragged: expected 3 entries in tf[1], found 2"});
  }
  {
    auto m2pg = MakeM2PG(3, 2, 2);
    m2pg->SetSourceCount(4);
    cases.push_back({m2pg, "vgtf::M2PG 1.0: expected 4 sources in positions (sourceCount), found 3"});
  }
  {
    auto m2pg = MakeM2PG(3, 2, 2);
    m2pg->SetInnerCount(2);
    cases.push_back({m2pg,
                     "vgtf::M2PG 1.0: expected 2 inner positions per source in positions "
                     "(innerCount), found 1"});
  }
  {
    auto m2pg = MakeM2PG(3, 2, 2);
    auto positions = m2pg->GetPositions();
    positions[2].push_back(Vector3<float>());
    m2pg->SetPositions(positions);
    m2pg->ClearInnerCount();
    cases.push_back({m2pg, "vgtf::M2PG 1.0: positions is ragged: expected 1 entries in positions[2], found 2"});
  }
  {
    auto m2pg = MakeM2PG(3, 2, 2);
    m2pg->ClearSourceCount();
    m2pg->SetPositions({{Vector3<float>()}});
    cases.push_back({m2pg, "vgtf::M2PG 1.0: expected 1 sources in tf (as in positions), found 3"});
  }
  {
    auto fmt = MakeFmt(2);
    fmt->SetMicCount(3);
    cases.push_back({fmt, "vgtf::Fmt 1.0: expected 3 micPositions (micCount), found 2"});
  }
  {
    auto spec = MakeSpec();
    spec->SetNote(Glib::ustring(std::string("\xc3")));
    cases.push_back({spec, "vgtf::Spec 1.0: note is not valid UTF-8"});
  }
  cases.push_back({nullptr, "cannot write transfer-function file: data set 1 is an empty pointer"});

  for (const Case& c : cases) {
    // A good data set first: nothing of it may reach the stream either.
    std::string written = "untouched";
    EXPECT_EQ(WriteError(FileOf({MakeFmt(2), c.dataSet}), &written), c.message);
    EXPECT_EQ(written, "");
  }
  EXPECT_EQ(WriteError(nullptr), "cannot write transfer-function file: no file object");
}

TEST(BinaryWriter, ReportsStreamFailureAsInvalidVeskFile) {
  std::ostringstream broken;
  broken.setstate(std::ios::badbit);
  EXPECT_THROW(
      {
        try {
          VeskFileBinaryWriter(broken).Write(FileOf({MakeFmt(2)}));
        } catch (const InvalidVeskFile& e) {
          EXPECT_STREQ(e.what(), "cannot write transfer-function file: output stream failed");
          throw;
        }
      },
      InvalidVeskFile);

  // A full device: every write fails, and this stream throws when it does.
  struct FullBuffer : std::streambuf {
    int overflow(int) override { return traits_type::eof(); }
  } full;
  std::ostream throwing(&full);
  throwing.exceptions(std::ios::badbit | std::ios::failbit);
  EXPECT_THROW(VeskFileBinaryWriter(throwing).Write(FileOf({MakeFmt(2)})), InvalidVeskFile);
}

TEST(BinaryWriter, OutputFailingInTheMiddleIsAnError) {
  // Several blocks of 64 KiB: 40 sources x 8 mics x 257 bins.
  const auto file = FileOf({MakeFmt(2), MakeGTF(40, 8, 257), MakeSpec()});
  const std::size_t size = ToBytes(file).size();
  ASSERT_GT(size, 3u * 65536);

  // Takes `limit` bytes, then refuses every further byte, as a full disk.
  struct FailingBuffer : std::streambuf {
    std::size_t limit, taken = 0;
    explicit FailingBuffer(std::size_t n) : limit(n) {}
    std::streamsize xsputn(const char*, std::streamsize n) override {
      const auto k = std::min<std::streamsize>(n, static_cast<std::streamsize>(limit - taken));
      taken += static_cast<std::size_t>(k);
      return k;
    }
    int overflow(int c) override {
      if (taken == limit) return traits_type::eof();
      ++taken;
      return traits_type::not_eof(c);
    }
  };
  struct Case {
    std::size_t limit;
    bool throwingStream;
  };
  const Case cases[] = {{0, false},        {20, false},       {65535, false}, {65536, false}, {65537, false},
                        {size / 2, false}, {size - 1, false}, {size, false},  {100000, true}, {size, true}};
  for (const Case& c : cases) {
    FailingBuffer buffer(c.limit);
    std::ostream out(&buffer);
    if (c.throwingStream) out.exceptions(std::ios::badbit | std::ios::failbit);
    std::string error;
    try {
      VeskFileBinaryWriter(out).Write(file);
    } catch (const InvalidVeskFile& e) {
      error = e.what();
    }
    const bool fits = c.limit >= size;
    EXPECT_EQ(error.empty(), fits) << "limit " << c.limit << ": " << error;
    if (!fits && !c.throwingStream) {
      EXPECT_EQ(error, "cannot write transfer-function file: output stream failed") << "limit " << c.limit;
    }
    if (fits) {
      EXPECT_EQ(buffer.taken, size);
    }
  }
}

TEST(BinaryWriter, DataSetOnItsOwnWritesOneRecord) {
  std::ostringstream out;
  VeskFileBinaryWriter writer(out);
  auto fmt = MakeFmt(1);
  fmt->Write(writer);
  const std::string record = out.str();
  const std::string file = ToBytes(FileOf({fmt}));
  EXPECT_EQ(file.substr(20), record);
}

std::string PutU32(uint32_t v) {
  std::string s;
  for (int i = 0; i < 4; ++i) s += static_cast<char>((v >> (8 * i)) & 0xff);
  return s;
}

std::string PutU64(uint64_t v) { return PutU32(static_cast<uint32_t>(v)) + PutU32(static_cast<uint32_t>(v >> 32)); }

std::string Header(uint32_t count, uint32_t major = 1, uint32_t minor = 0) {
  return "VESKFILE" + PutU32(major) + PutU32(minor) + PutU32(count);
}

std::string Record(const std::string& id, uint32_t major, uint32_t minor, const std::string& body) {
  return PutU32(static_cast<uint32_t>(id.size())) + id + PutU32(major) + PutU32(minor) + PutU64(body.size()) + body;
}

// A GTF body with only tf set, dimensions as given, then `tail`.
std::string GtfTfBody(uint32_t a, uint32_t b, uint32_t c, const std::string& tail) {
  return std::string(4, '\0') + "\x01" + PutU32(a) + PutU32(b) + PutU32(c) + tail;
}

// Reads from memory through a buffer that cannot seek, as a pipe.
struct PipeBuffer : std::streambuf {
  std::string bytes;
  explicit PipeBuffer(std::string b) : bytes(std::move(b)) { setg(&bytes[0], &bytes[0], &bytes[0] + bytes.size()); }
};

// Records what a visit hands over: the values of every array, flattened,
// and the largest block.
struct Recorder : VeskFileVisitor {
  bool takeValues = true;
  std::vector<Complex> complexes;
  std::vector<Vector3<float>> vectors;
  std::size_t largestBlockBytes = 0, dataSets = 0;
  void BeginDataSet(const std::string&, const Version&) override {}
  void EndDataSet() override { ++dataSets; }
  void Int(const char*, int32_t) override {}
  void Text(const char*, const Glib::ustring&) override {}
  bool BeginArray(const char*, ValueType, const std::vector<uint64_t>&) override { return takeValues; }
  void Values(const Vector3<float>* v, std::size_t n) override {
    vectors.insert(vectors.end(), v, v + n);
    largestBlockBytes = std::max(largestBlockBytes, n * sizeof *v);
  }
  void Values(const Complex* v, std::size_t n) override {
    complexes.insert(complexes.end(), v, v + n);
    largestBlockBytes = std::max(largestBlockBytes, n * sizeof *v);
  }
  void EndArray() override {}
};

TEST(BinaryReader, LargeFilesReadInBlocksFromAnyStream) {
  // 40 sources x 8 mics x 257 bins: values cross several blocks at odd offsets.
  const auto gtf = MakeGTF(40, 8, 257);
  const auto m2pg = MakeM2PG(33, 7, 129);
  for (const auto& dataSet : {boost::shared_ptr<DataSet>(gtf), boost::shared_ptr<DataSet>(m2pg)}) {
    const std::string bytes = ToBytes(FileOf({MakeFmt(2), dataSet, MakeSpec()}));
    std::vector<Complex> flat;
    if (dataSet == gtf) {
      for (const auto& mics : gtf->GetTf())
        for (const auto& bins : mics) flat.insert(flat.end(), bins.begin(), bins.end());
    } else {
      for (const auto& inner : m2pg->GetTf())
        for (const auto& bins : inner[0]) flat.insert(flat.end(), bins.begin(), bins.end());
    }
    for (const bool seekable : {true, false}) {
      std::istringstream fromString(bytes);
      PipeBuffer pipe(bytes);
      std::istream fromPipe(&pipe);
      std::istream& in = seekable ? static_cast<std::istream&>(fromString) : fromPipe;
      const auto file = VeskFileBinaryReader(in).Read();
      ASSERT_EQ(file->GetDataSets().size(), 3u);
      EXPECT_EQ(ToBytes(file), bytes) << "seekable " << seekable;
    }
    Recorder all;
    std::istringstream in(bytes);
    VeskFileBinaryReader(in).Visit(all);
    EXPECT_EQ(all.dataSets, 3u);
    EXPECT_TRUE(Same(all.complexes, flat));
    EXPECT_LE(all.largestBlockBytes, 65536u);
    EXPECT_EQ(all.vectors.size(), 2u + (dataSet == gtf ? 40u : 33u));

    Recorder skipping;
    skipping.takeValues = false;
    std::istringstream again(bytes);
    VeskFileBinaryReader(again).Visit(skipping);
    EXPECT_EQ(skipping.dataSets, 3u);
    EXPECT_TRUE(skipping.complexes.empty() && skipping.vectors.empty());
  }
}

TEST(BinaryReader, RefusesBadHeaders) {
  EXPECT_EQ(ReadError(""), "expected magic VESKFILE, found \"\"");
  EXPECT_EQ(ReadError("<?xml version=\"1.0\"?>"), "expected magic VESKFILE, found \"<?xml ve\"");
  EXPECT_EQ(ReadError(std::string("VESK\x00\x01\xff", 7)), "expected magic VESKFILE, found \"VESK\\x00\\x01\\xFF\"");
  EXPECT_EQ(ReadError(Header(0, 2, 1)), "expected format version 1.x, found 2.1");
  EXPECT_EQ(ReadError(Header(0, 1, 7)), "");
  EXPECT_EQ(ReadError(Header(0) + "x"), "expected end of file after 0 data sets, found 1 more bytes");
  EXPECT_EQ(ReadError(Header(2) + Record("vgtf::Spec", 1, 0, std::string(6, '\0'))),
            "expected id length of data set 1 (4 bytes) at byte 56, found only 0 bytes");
}

TEST(BinaryReader, EveryTruncationFails) {
  const std::string bytes = ToBytes(FileOf({MakeFmt(2), MakeGTF(2, 2, 3), MakeSpec()}));
  for (std::size_t n = 0; n < bytes.size(); ++n)
    EXPECT_NE(ReadError(bytes.substr(0, n)), "") << "prefix of " << n << " bytes";
  EXPECT_EQ(ReadError(bytes), "");
  EXPECT_EQ(ReadError(bytes.substr(0, 30)), "expected id of data set 0 (9 bytes) at byte 24, found only 6 bytes");
  // Cut inside the last data set's body: its length now lies.
  EXPECT_EQ(ReadError(bytes.substr(0, bytes.size() - 1)).find("expected data set 2 (vgtf::Spec 1.0) of "), 0u);
}

TEST(BinaryReader, RefusesLyingLengthsAndCounts) {
  EXPECT_EQ(ReadError(Header(1) + PutU32(0)), "expected id length 1 to 1024 for data set 0, found 0");
  EXPECT_EQ(ReadError(Header(1) + PutU32(0xffffffffu)),
            "expected id length 1 to 1024 for data set 0, found 4294967295");
  EXPECT_EQ(ReadError(Header(1) + PutU32(9) + "vgtf::Fmt" + PutU32(1) + PutU32(0) + PutU64(~0ull)),
            "expected data set 0 (vgtf::Fmt 1.0) of 18446744073709551615 bytes, found only 0 bytes left");

  const std::string gtf = "vgtf::GTF";
  const auto body = [&](const std::string& b) { return ReadError(Header(1) + Record(gtf, 1, 0, b)); };
  EXPECT_EQ(body(GtfTfBody(0xffffffffu, 0xffffffffu, 0xffffffffu, "")),
            "vgtf::GTF 1.0 (data set 0): expected tf to fit in the 0 bytes left, found dimensions "
            "4294967295x4294967295x4294967295");
  EXPECT_EQ(body(GtfTfBody(1, 1, 2, std::string(8, '\0'))),
            "vgtf::GTF 1.0 (data set 0): expected tf to fit in the 8 bytes left, found dimensions 1x1x2");
  EXPECT_EQ(body(GtfTfBody(0, 5, 0, "")),
            "vgtf::GTF 1.0 (data set 0): expected dimension 0 after an empty dimension of tf, found 5");
  EXPECT_EQ(body(GtfTfBody(0xffffffffu, 0, 0, "")),
            "vgtf::GTF 1.0 (data set 0): expected at most 1048576 empty lists in tf, found more");
  // Below that bound, a small file may still hold only one empty list per
  // byte of its size (at least 4096): 8192 lists in a file of a few dozen bytes.
  EXPECT_EQ(body(GtfTfBody(8192, 0, 0, "")),
            "vgtf::GTF 1.0 (data set 0): expected at most 4096 more empty lists in tf (one per byte "
            "of the file), found 8192");
  // binIndices claims four thousand million entries in a tiny body.
  EXPECT_EQ(body(std::string(3, '\0') + "\x01" + PutU32(0xfffffff0u)),
            "vgtf::GTF 1.0 (data set 0): expected binIndices of 4294967280 values (4 bytes each), "
            "found only 0 bytes left");
  EXPECT_EQ(body(std::string("\x02", 1)),
            "vgtf::GTF 1.0 (data set 0): expected set mark 0 or 1 for sourceCount, found 2");
  EXPECT_EQ(body(std::string(5, '\0') + "junk"),
            "vgtf::GTF 1.0 (data set 0): expected end of data set after its last field, found 4 more bytes");
  EXPECT_EQ(body(std::string(3, '\0')),
            "vgtf::GTF 1.0 (data set 0): expected set mark of binIndices (1 bytes) at byte 52, found only 0 bytes");
  EXPECT_EQ(ReadError(Header(1) + Record("vgtf::Spec", 1, 0, std::string("\x01", 1) + PutU32(1000))),
            "vgtf::Spec 1.0 (data set 0): expected date (1000 bytes) at byte 55, found only 0 bytes");
  EXPECT_EQ(ReadError(Header(1) +
                      Record("vgtf::Spec", 1, 0, std::string("\x01", 1) + PutU32(1) + "\xff" + std::string(5, '\0'))),
            "vgtf::Spec 1.0 (data set 0): expected UTF-8 text in date, found invalid bytes");
}

TEST(BinaryReader, RefusesDisagreeingCounts) {
  auto gtf = MakeGTF(1, 1, 2);
  gtf->ClearBinIndices();
  std::string bytes = ToBytes(FileOf({gtf}));
  // binCount sits after sourceCount (5 bytes) and the positions (1 + 4 + 12).
  const std::size_t binCountAt = 20 + 4 + 9 + 8 + 8 + 5 + 17 + 1;
  ASSERT_EQ(bytes[binCountAt], '\x02');
  bytes[binCountAt] = '\x03';
  EXPECT_EQ(ReadError(bytes), "vgtf::GTF 1.0 (data set 0): expected 3 bins in tf (binCount), found 2");
}

TEST(BinaryReader, SkipsUnknownDataSets) {
  const std::string fmt = ToBytes(FileOf({MakeFmt(2)})).substr(20);
  const std::string bytes = Header(4) + Record("vgtf::Future", 1, 0, "whatever it holds") + fmt +
                            Record("vgtf::GTF", 2, 0, std::string("\x07\x07", 2)) + Record("x", 0, 0, "");
  const auto file = FromBytes(bytes);
  ASSERT_EQ(file->GetDataSets().size(), 1u);
  EXPECT_EQ(file->GetDataSets()[0]->GetId(), "vgtf::Fmt");
}

}  // namespace
