// trelvix --mode tf against the outputs recorded in tests/reference: every
// run of cases.txt must give the same file (the date aside) and, where the
// case says so, the same messages.
#include <cmath>
#include <complex>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "TestSupport.h"

namespace {

using namespace testsupport;

struct Case {
  std::string name;
  bool exactValues = false;
  bool exactMessages = false;
  std::vector<std::string> args;
};

std::vector<Case> ReadCases(const std::string& path) {
  std::ifstream in(path);
  if (!in) throw std::runtime_error("cannot open " + path);
  std::vector<Case> cases;
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    std::istringstream words(line);
    Case c;
    std::string values, messages, arg;
    words >> c.name >> values >> messages;
    if (values != "exact" && values != "close") throw std::runtime_error("bad values kind in: " + line);
    if (messages != "exact" && messages != "skip") throw std::runtime_error("bad messages kind in: " + line);
    c.exactValues = values == "exact";
    c.exactMessages = messages == "exact";
    while (words >> arg) c.args.push_back(arg);
    cases.push_back(c);
  }
  return cases;
}

uint32_t U32At(const std::string& b, std::size_t at) {
  if (at + 4 > b.size()) throw std::runtime_error("file ends inside a number at " + std::to_string(at));
  uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = v << 8 | static_cast<unsigned char>(b[at + i]);
  return v;
}

float F32At(const std::string& b, std::size_t at) {
  const uint32_t bits = U32At(b, at);
  float v;
  std::memcpy(&v, &bits, 4);
  return v;
}

// Byte ranges of a transfer-function file that may differ between runs: the
// date of the Spec record, and the values of the tf array.
struct Layout {
  std::size_t dateAt = 0, dateBytes = 0;
  std::size_t valuesAt = 0, numValues = 0;  // complex values
  std::size_t numBins = 0;                  // last dimension of tf
};

// Walks the record headers of the binary format (docs/formats.md) as far as
// needed to find the ranges.
Layout LayoutOf(const std::string& b) {
  Layout layout;
  const uint32_t numSets = U32At(b, 16);
  std::size_t at = 20;
  for (uint32_t set = 0; set < numSets; ++set) {
    const uint32_t idBytes = U32At(b, at);
    const std::string id = b.substr(at + 4, idBytes);
    at += 4 + idBytes + 8;
    const uint64_t bodyBytes = static_cast<uint64_t>(U32At(b, at)) | static_cast<uint64_t>(U32At(b, at + 4)) << 32;
    at += 8;
    const std::size_t body = at;
    if (id == "vgtf::Spec") {
      layout.dateAt = body + 5;  // set mark, byte length
      layout.dateBytes = U32At(b, body + 1);
    } else if (id == "vgtf::M2PG" || id == "vgtf::GTF") {
      std::size_t p = body + 5 + (id == "vgtf::M2PG" ? 5 : 0);  // sourceCount, innerCount
      if (id == "vgtf::M2PG") {
        p += 1 + 8 + 12 * std::size_t(U32At(b, p + 1)) * U32At(b, p + 5);  // positions [s][inner]
      } else {
        p += 1 + 4 + 12 * std::size_t(U32At(b, p + 1));  // positions
        p += 5;                                          // binCount
        p += 1 + 4 + 4 * std::size_t(U32At(b, p + 1));   // binIndices
      }
      const int dims = id == "vgtf::M2PG" ? 4 : 3;
      std::size_t values = 1;
      for (int d = 0; d < dims; ++d) values *= U32At(b, p + 1 + 4 * d);
      layout.numBins = U32At(b, p + 1 + 4 * (dims - 1));
      layout.valuesAt = p + 1 + 4 * dims;
      layout.numValues = values;
      if (layout.valuesAt + 8 * values != body + bodyBytes)
        throw std::runtime_error(id + ": tf does not end the record");
    }
    at = body + bodyBytes;
  }
  return layout;
}

// The rounding of a single-precision transform scales with the whole
// spectrum, not with each value: a value below its spectrum's root mean
// square is compared on that root mean square.
void ExpectCloseValues(const std::string& got, const std::string& want, const Layout& layout) {
  std::size_t mismatches = 0;
  for (std::size_t row = 0; row * layout.numBins < layout.numValues; ++row) {
    const std::size_t first = layout.valuesAt + 8 * row * layout.numBins;
    double power = 0.0;
    for (std::size_t k = 0; k < layout.numBins; ++k)
      power += std::norm(std::complex<double>(F32At(want, first + 8 * k), F32At(want, first + 8 * k + 4)));
    const double rms = std::sqrt(power / static_cast<double>(layout.numBins));
    for (std::size_t k = 0; k < layout.numBins; ++k) {
      const std::size_t at = first + 8 * k;
      const std::complex<double> w(F32At(want, at), F32At(want, at + 4));
      const std::complex<double> g(F32At(got, at), F32At(got, at + 4));
      const double scale = std::max(std::abs(w), rms);
      if (!(std::abs(g - w) <= 1e-6 * scale) && mismatches++ < 5) {
        ADD_FAILURE() << "value " << row << "/" << k << ": got " << g << ", recorded " << w;
      }
    }
  }
  EXPECT_EQ(mismatches, 0u);
}

void ExpectSameBytes(const std::string& got, const std::string& want, std::size_t from, std::size_t to) {
  for (std::size_t at = from; at < to; ++at) {
    if (got[at] != want[at]) {
      ADD_FAILURE() << "first differing byte at offset " << at;
      return;
    }
  }
}

TEST(ReferenceOutput, EveryRunGivesTheRecordedFile) {
  const std::string trelvix = RequireEnv("TRELVIX_BIN");
  const std::string root = RequireEnv("VESK_SOURCE_DIR") + "/tests/reference";
  if (trelvix.empty() || !fs::exists(trelvix)) GTEST_SKIP() << "trelvix not built";
  const std::vector<Case> cases = ReadCases(root + "/cases.txt");
  ASSERT_FALSE(cases.empty());
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ScratchDir dir;
    std::vector<std::string> argv{trelvix};
    argv.insert(argv.end(), c.args.begin(), c.args.end());
    argv.insert(argv.end(), {"-o", dir / "out.tf"});
    const RunResult r = RunProgram(argv, root + "/inputs", {"USERNAME=reference", "TMPDIR=" + dir.Path()});
    ASSERT_EQ(r.status, 0) << r.err;
    if (c.exactMessages) {
      EXPECT_EQ(r.out, ReadWholeFile(root + "/expected/" + c.name + ".stdout"));
      EXPECT_EQ(r.err, ReadWholeFile(root + "/expected/" + c.name + ".stderr"));
    }
    const std::string got = ReadWholeFile(dir / "out.tf");
    const std::string want = ReadWholeFile(root + "/expected/" + c.name + ".tf");
    ASSERT_FALSE(want.empty());
    ASSERT_EQ(got.size(), want.size());
    const Layout layout = LayoutOf(want);
    ASSERT_EQ(LayoutOf(got).dateAt, layout.dateAt);
    ASSERT_EQ(layout.dateBytes, 10u);  // "YYYY/MM/DD"
    ASSERT_GT(layout.numValues, 0u);
    ASSERT_LT(layout.valuesAt, layout.dateAt);  // the data set comes before the Spec record
    if (c.exactValues) {
      ExpectSameBytes(got, want, 0, layout.dateAt);
    } else {
      ExpectSameBytes(got, want, 0, layout.valuesAt);
      ExpectCloseValues(got, want, layout);
      ExpectSameBytes(got, want, layout.valuesAt + 8 * layout.numValues, layout.dateAt);
    }
    ExpectSameBytes(got, want, layout.dateAt + layout.dateBytes, want.size());
  }
}

}  // namespace
