// The binary format (docs/formats.md) back to transfer-function file objects.
#include <algorithm>
#include <cstdio>
#include <istream>

#include <boost/make_shared.hpp>

#include "veskio2/ByteOrder.h"
#include "VeskFileChecks.h"
#include "veskio2/Vesk.h"

namespace veskio2 {
namespace vesk {

using namespace detail;

namespace {

const char kMagic[] = "VESKFILE";
constexpr uint32_t kFormatMajor = 1;
constexpr uint32_t kMaxIdLength = 1024;
// An array that holds no values still costs one list per leading entry,
// and no byte of the file pays for them: a whole file may hold at most one
// empty list per byte of its size (or kMinEmptyLists), and no array more
// than kMaxEmptyLists.
constexpr uint64_t kMaxEmptyLists = 1u << 20;
constexpr uint64_t kMinEmptyLists = 4096;

// Bytes shown in messages: printable ASCII as is, the rest as \xNN.
std::string Printable(const unsigned char* p, std::size_t n) {
  std::string out;
  for (std::size_t i = 0; i < n; ++i) {
    if (p[i] >= 0x20 && p[i] < 0x7f && p[i] != '"' && p[i] != '\\') {
      out += static_cast<char>(p[i]);
    } else {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02X", p[i]);
      out += hex;
    }
  }
  return out;
}

// A bounds-checked read position inside [begin, end) of the file bytes.
class Cursor {
public:
  Cursor(const unsigned char* data, std::size_t begin, std::size_t end, std::string context,
         uint64_t* emptyListBudget)
      : data_(data), pos_(begin), end_(end), context_(std::move(context)), emptyListBudget_(emptyListBudget) {}

  std::size_t Left() const { return end_ - pos_; }
  std::size_t Position() const { return pos_; }
  const std::string& Context() const { return context_; }

  [[noreturn]] void Fail(const std::string& reason) const {
    throw InvalidVeskFile(context_.empty() ? reason : context_ + ": " + reason);
  }

  // The next n bytes; fails "expected <what> (n bytes) at byte P, found only
  // L bytes" when they are not there.
  const unsigned char* Take(uint64_t n, const std::string& what) {
    if (n > Left())
      Fail("expected " + what + " (" + std::to_string(n) + " bytes) at byte " + std::to_string(pos_) +
           ", found only " + std::to_string(Left()) + " bytes");
    const unsigned char* p = data_ + pos_;
    pos_ += static_cast<std::size_t>(n);
    return p;
  }

  uint8_t U8(const std::string& what) { return *Take(1, what); }
  uint32_t U32(const std::string& what) { return GetU32(Take(4, what)); }
  int32_t I32(const std::string& what) { return static_cast<int32_t>(GetU32(Take(4, what))); }
  uint64_t U64(const std::string& what) { return GetU64(Take(8, what)); }

  bool Mark(const char* field) {
    const uint8_t mark = U8(std::string("set mark of ") + field);
    if (mark > 1)
      Fail(std::string("expected set mark 0 or 1 for ") + field + ", found " + std::to_string(mark));
    return mark == 1;
  }

  // n values of `size` bytes each must fit in what is left.
  void Fits(uint64_t n, uint64_t size, const char* field) {
    if (n > Left() / size)
      Fail(std::string("expected ") + field + " of " + std::to_string(n) + " values (" +
           std::to_string(size) + " bytes each), found only " + std::to_string(Left()) + " bytes left");
  }

  void End() const {
    if (Left() != 0)
      Fail("expected end of data set after its last field, found " + std::to_string(Left()) +
           " more bytes");
  }

  // Counts `lists` empty lists of `field` against the file's allowance.
  void SpendEmptyLists(uint64_t lists, const char* field) {
    if (lists > *emptyListBudget_)
      Fail(std::string("expected at most ") + std::to_string(*emptyListBudget_) + " more empty lists in " +
           field + " (one per byte of the file), found " + std::to_string(lists));
    *emptyListBudget_ -= lists;
  }

private:
  const unsigned char* data_;
  std::size_t pos_;
  std::size_t end_;
  std::string context_;
  uint64_t* emptyListBudget_;  // shared by every cursor of one file
};

Vector3<float> GetVector3(const unsigned char* p) {
  return Vector3<float>(GetF32(p), GetF32(p + 4), GetF32(p + 8));
}

vgtf::Complex GetComplex(const unsigned char* p) { return vgtf::Complex(GetF32(p), GetF32(p + 4)); }

std::vector<Vector3<float>> ReadVector3List(Cursor& in, const char* field) {
  const uint32_t n = in.U32(std::string("count of ") + field);
  in.Fits(n, 12, field);
  const unsigned char* p = in.Take(uint64_t{n} * 12, field);
  std::vector<Vector3<float>> list;
  list.reserve(n);
  for (uint32_t i = 0; i < n; ++i) list.push_back(GetVector3(p + 12 * i));
  return list;
}

Glib::ustring ReadText(Cursor& in, const char* field) {
  const uint32_t n = in.U32(std::string("length of ") + field);
  const unsigned char* p = in.Take(n, field);
  Glib::ustring text(std::string(reinterpret_cast<const char*>(p), n));
  if (!text.validate()) in.Fail(std::string("expected UTF-8 text in ") + field + ", found invalid bytes");
  return text;
}

// Dimensions of an array; a dimension after a 0 must be 0, the values must
// fit in what is left and empty lists stay within kMaxEmptyLists.
std::vector<uint64_t> ReadDims(Cursor& in, std::size_t count, uint64_t valueSize, const char* field) {
  std::vector<uint64_t> dims;
  bool empty = false;
  for (std::size_t i = 0; i < count; ++i) {
    const uint32_t d = in.U32(std::string("dimension of ") + field);
    if (empty && d != 0)
      in.Fail(std::string("expected dimension 0 after an empty dimension of ") + field + ", found " +
              std::to_string(d));
    if (d == 0) empty = true;
    dims.push_back(d);
  }
  if (empty) {
    uint64_t lists = 1;
    for (uint64_t d : dims) {
      if (d == 0) break;
      lists *= d;  // at most 2^20 · 2^32 before the check below stops it
      if (lists > kMaxEmptyLists)
        in.Fail(std::string("expected at most ") + std::to_string(kMaxEmptyLists) +
                " empty lists in " + field + ", found more");
    }
    in.SpendEmptyLists(lists, field);
  } else {
    const uint64_t capacity = in.Left() / valueSize;
    uint64_t values = 1;
    for (uint64_t d : dims) {
      // values ≤ capacity / d keeps values · d within capacity, free of overflow.
      if (values > capacity / d) {
        std::string shape;
        for (uint64_t e : dims) shape += (shape.empty() ? "" : "x") + std::to_string(e);
        in.Fail(std::string("expected ") + field + " to fit in the " + std::to_string(in.Left()) +
                " bytes left, found dimensions " + shape);
      }
      values *= d;
    }
  }
  return dims;
}

// Fills a nested list of the given dimensions from consecutive values.
template <typename T, typename Leaf>
void Fill(std::vector<T>& list, const std::vector<uint64_t>& dims, std::size_t level,
          const unsigned char*& p, uint64_t valueSize, Leaf leaf) {
  list.resize(static_cast<std::size_t>(dims[level]));
  for (T& entry : list) {
    if constexpr (Nesting<T>::value > 0) {
      Fill(entry, dims, level + 1, p, valueSize, leaf);
    } else {
      entry = leaf(p);
      p += valueSize;
    }
  }
}

template <typename Array, typename Leaf>
Array ReadArray(Cursor& in, uint64_t valueSize, const char* field, Leaf leaf) {
  const std::vector<uint64_t> dims = ReadDims(in, Nesting<Array>::value, valueSize, field);
  uint64_t values = 1;
  for (uint64_t d : dims) values *= d;
  const unsigned char* p = in.Take(values * valueSize, field);
  Array array;
  Fill(array, dims, 0, p, valueSize, leaf);
  return array;
}

boost::shared_ptr<DataSet> ReadFmt(Cursor& in) {
  auto fmt = boost::make_shared<vgtf::Fmt1_0>();
  if (in.Mark("formatType")) fmt->SetFormatType(in.I32("formatType"));
  if (in.Mark("micCount")) fmt->SetMicCount(in.I32("micCount"));
  if (in.Mark("fftLength")) fmt->SetFftLength(in.I32("fftLength"));
  if (in.Mark("irLength")) fmt->SetIrLength(in.I32("irLength"));
  if (in.Mark("samplingRate")) fmt->SetSamplingRate(in.I32("samplingRate"));
  if (in.Mark("micPositions")) fmt->SetMicPositions(ReadVector3List(in, "micPositions"));
  in.End();
  CheckFmt(*fmt, in.Context());
  return fmt;
}

boost::shared_ptr<DataSet> ReadSpec(Cursor& in) {
  auto spec = boost::make_shared<vgtf::Spec1_0>();
  if (in.Mark("date")) spec->SetDate(ReadText(in, "date"));
  if (in.Mark("location")) spec->SetLocation(ReadText(in, "location"));
  if (in.Mark("equipment")) spec->SetEquipment(ReadText(in, "equipment"));
  if (in.Mark("environment")) spec->SetEnvironment(ReadText(in, "environment"));
  if (in.Mark("user")) spec->SetUser(ReadText(in, "user"));
  if (in.Mark("note")) spec->SetNote(ReadText(in, "note"));
  in.End();
  return spec;
}

boost::shared_ptr<DataSet> ReadM2PG(Cursor& in) {
  auto m2pg = boost::make_shared<vgtf::M2PG1_0>();
  if (in.Mark("sourceCount")) m2pg->SetSourceCount(in.I32("sourceCount"));
  if (in.Mark("innerCount")) m2pg->SetInnerCount(in.I32("innerCount"));
  if (in.Mark("positions"))
    m2pg->SetPositions(ReadArray<std::vector<std::vector<Vector3<float>>>>(in, 12, "positions", GetVector3));
  if (in.Mark("tf")) m2pg->SetTf(ReadArray<vgtf::TF4>(in, 8, "tf", GetComplex));
  in.End();
  CheckM2PG(*m2pg, in.Context());
  return m2pg;
}

boost::shared_ptr<DataSet> ReadGTF(Cursor& in) {
  auto gtf = boost::make_shared<vgtf::GTF1_0>();
  if (in.Mark("sourceCount")) gtf->SetSourceCount(in.I32("sourceCount"));
  if (in.Mark("positions")) gtf->SetPositions(ReadVector3List(in, "positions"));
  if (in.Mark("binCount")) gtf->SetBinCount(in.I32("binCount"));
  if (in.Mark("binIndices")) {
    const uint32_t n = in.U32("count of binIndices");
    in.Fits(n, 4, "binIndices");
    const unsigned char* p = in.Take(uint64_t{n} * 4, "binIndices");
    std::vector<uint32_t> indices;
    indices.reserve(n);
    for (uint32_t i = 0; i < n; ++i) indices.push_back(GetU32(p + 4 * i));
    gtf->SetBinIndices(indices);
  }
  if (in.Mark("tf")) gtf->SetTf(ReadArray<vgtf::TF3>(in, 8, "tf", GetComplex));
  in.End();
  CheckGTF(*gtf, in.Context());
  return gtf;
}

std::string ReadAll(std::istream& in) {
  std::string bytes;
  char buffer[65536];
  while (in) {
    in.read(buffer, sizeof buffer);
    bytes.append(buffer, static_cast<std::size_t>(in.gcount()));
  }
  if (in.bad()) throw InvalidVeskFile("cannot read transfer-function file: input stream failed");
  return bytes;
}

}  // namespace

VeskFileBinaryReader::VeskFileBinaryReader(std::istream& in) : in_(in) {}

boost::shared_ptr<VeskFile> VeskFileBinaryReader::Read() {
  std::string bytes;
  try {
    bytes = ReadAll(in_);
  } catch (const InvalidVeskFile&) {
    throw;
  } catch (const std::exception& e) {
    throw InvalidVeskFile(std::string("cannot read transfer-function file: ") + e.what());
  }
  const auto* data = reinterpret_cast<const unsigned char*>(bytes.data());
  uint64_t emptyListBudget = std::max<uint64_t>(kMinEmptyLists, bytes.size());
  Cursor file(data, 0, bytes.size(), std::string(), &emptyListBudget);

  if (bytes.size() < 8 || bytes.compare(0, 8, kMagic) != 0)
    file.Fail(std::string("expected magic ") + kMagic + ", found \"" +
              Printable(data, std::min<std::size_t>(bytes.size(), 8)) + "\"");
  file.Take(8, "magic");
  const uint32_t major = file.U32("format major version");
  const uint32_t minor = file.U32("format minor version");
  if (major != kFormatMajor)
    file.Fail("expected format version " + std::to_string(kFormatMajor) + ".x, found " +
              std::to_string(major) + "." + std::to_string(minor));
  const uint32_t count = file.U32("data set count");

  auto result = boost::make_shared<VeskFile>();
  for (uint32_t n = 0; n < count; ++n) {
    const std::string which = "data set " + std::to_string(n);
    const uint32_t idLength = file.U32("id length of " + which);
    if (idLength == 0 || idLength > kMaxIdLength)
      file.Fail("expected id length 1 to " + std::to_string(kMaxIdLength) + " for " + which +
                ", found " + std::to_string(idLength));
    const unsigned char* idBytes = file.Take(idLength, "id of " + which);
    const std::string id(reinterpret_cast<const char*>(idBytes), idLength);
    const uint32_t versionMajor = file.U32("version of " + which);
    const uint32_t versionMinor = file.U32("version of " + which);
    const Version version(versionMajor, versionMinor);
    const uint64_t length = file.U64("length of " + which);
    const std::string name = which + " (" + Printable(idBytes, idLength) + " " + version.ToString() + ")";
    if (length > file.Left())
      file.Fail("expected " + name + " of " + std::to_string(length) + " bytes, found only " +
                std::to_string(file.Left()) + " bytes left");
    const std::size_t begin = file.Position();
    file.Take(length, name);
    Cursor body(data, begin, begin + static_cast<std::size_t>(length),
                DataSetName(Printable(idBytes, idLength), version) + " (" + which + ")", &emptyListBudget);
    if (version != Version(1, 0)) continue;  // unknown version: skipped
    if (id == "vgtf::Fmt") result->AddDataSet(ReadFmt(body));
    else if (id == "vgtf::Spec") result->AddDataSet(ReadSpec(body));
    else if (id == "vgtf::M2PG") result->AddDataSet(ReadM2PG(body));
    else if (id == "vgtf::GTF") result->AddDataSet(ReadGTF(body));
    // any other id: skipped
  }
  if (file.Left() != 0)
    file.Fail("expected end of file after " + std::to_string(count) + " data sets, found " +
              std::to_string(file.Left()) + " more bytes");
  return result;
}

}  // namespace vesk
}  // namespace veskio2
