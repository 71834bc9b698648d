// The binary format (docs/formats.md) back to transfer-function file objects,
// or field by field to a visitor. The file is read in order from the stream;
// its size, taken before the first byte, bounds every length and count.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <istream>
#include <memory>
#include <type_traits>

#include <boost/make_shared.hpp>

#include "veskio2/ByteOrder.h"
#include "VeskFileChecks.h"
#include "veskio2/Vesk.h"

namespace veskio2 {
namespace vesk {

using detail::Counts;
using detail::Nesting;
using ValueType = VeskFileVisitor::ValueType;

void VeskFileVisitor::Values(const Vector3<float>*, std::size_t) {}
void VeskFileVisitor::Values(const vgtf::Complex*, std::size_t) {}
void VeskFileVisitor::Values(const uint32_t*, std::size_t) {}

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
constexpr std::size_t kBlockBytes = std::size_t{1} << 16;

// Values are read as their 32-bit words straight into memory.
static_assert(sizeof(Vector3<float>) == 12 && std::is_trivially_copyable<Vector3<float>>::value,
              "Vector3<float> must be three packed floats");
static_assert(sizeof(vgtf::Complex) == 8, "std::complex<float> must be two packed floats");

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

std::string Printable(const std::string& bytes) {
  return Printable(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
}

[[noreturn]] void StreamFailed() { throw InvalidVeskFile("cannot read transfer-function file: input stream failed"); }

// The bytes of the file in order: from a seekable stream, or from memory
// when the stream could only be read whole.
class Source {
public:
  Source(std::istream& in, const std::string* whole) : in_(in), whole_(whole) {}

  void Read(char* p, std::size_t n) {
    if (whole_) {
      std::memcpy(p, whole_->data() + at_, n);
    } else {
      try {
        in_.read(p, static_cast<std::streamsize>(n));
      } catch (const std::exception&) {
        StreamFailed();
      }
      // A file that shrank since its size was taken fails here.
      if (static_cast<std::size_t>(in_.gcount()) != n) StreamFailed();
    }
    at_ += n;
  }

  void Skip(uint64_t n) {
    if (!whole_ && n > 0) {
      try {
        in_.seekg(static_cast<std::streamoff>(n), std::ios::cur);
      } catch (const std::exception&) {
        StreamFailed();
      }
      if (!in_) StreamFailed();
    }
    at_ += n;
  }

private:
  std::istream& in_;
  const std::string* whole_;
  uint64_t at_ = 0;
};

// A bounds-checked read position inside [begin, end) of the file.
class Cursor {
public:
  Cursor(Source& source, uint64_t begin, uint64_t end, std::string context, uint64_t* emptyListBudget)
      : source_(source), pos_(begin), end_(end), context_(std::move(context)), emptyListBudget_(emptyListBudget) {}

  uint64_t Left() const { return end_ - pos_; }
  uint64_t Position() const { return pos_; }
  const std::string& Context() const { return context_; }

  [[noreturn]] void Fail(const std::string& reason) const {
    throw InvalidVeskFile(context_.empty() ? reason : context_ + ": " + reason);
  }

  // Fails "expected <what> (n bytes) at byte P, found only L bytes" unless
  // n bytes are left.
  void Need(uint64_t n, const std::string& what) const {
    if (n > Left())
      Fail("expected " + what + " (" + std::to_string(n) + " bytes) at byte " + std::to_string(pos_) + ", found only " +
           std::to_string(Left()) + " bytes");
  }

  void Bytes(char* p, std::size_t n, const std::string& what) {
    Need(n, what);
    source_.Read(p, n);
    pos_ += n;
  }

  void Skip(uint64_t n, const std::string& what) {
    Need(n, what);
    source_.Skip(n);
    pos_ += n;
  }

  // Moves past bytes a nested cursor has read.
  void Advance(uint64_t n) { pos_ += n; }

  uint8_t U8(const std::string& what) {
    char c;
    Bytes(&c, 1, what);
    return static_cast<uint8_t>(c);
  }
  uint32_t U32(const std::string& what) {
    unsigned char b[4];
    Bytes(reinterpret_cast<char*>(b), 4, what);
    return detail::GetU32(b);
  }
  int32_t I32(const std::string& what) { return static_cast<int32_t>(U32(what)); }
  uint64_t U64(const std::string& what) {
    unsigned char b[8];
    Bytes(reinterpret_cast<char*>(b), 8, what);
    return detail::GetU64(b);
  }

  bool Mark(const char* field) {
    const uint8_t mark = U8(std::string("set mark of ") + field);
    if (mark > 1) Fail(std::string("expected set mark 0 or 1 for ") + field + ", found " + std::to_string(mark));
    return mark == 1;
  }

  // n values of `size` bytes each must fit in what is left.
  void Fits(uint64_t n, uint64_t size, const char* field) const {
    if (n > Left() / size)
      Fail(std::string("expected ") + field + " of " + std::to_string(n) + " values (" + std::to_string(size) +
           " bytes each), found only " + std::to_string(Left()) + " bytes left");
  }

  void End() const {
    if (Left() != 0)
      Fail("expected end of data set after its last field, found " + std::to_string(Left()) + " more bytes");
  }

  // Counts `lists` empty lists of `field` against the file's allowance.
  void SpendEmptyLists(uint64_t lists, const char* field) {
    if (lists > *emptyListBudget_)
      Fail(std::string("expected at most ") + std::to_string(*emptyListBudget_) + " more empty lists in " + field +
           " (one per byte of the file), found " + std::to_string(lists));
    *emptyListBudget_ -= lists;
  }

private:
  Source& source_;
  uint64_t pos_;
  uint64_t end_;
  std::string context_;
  uint64_t* emptyListBudget_;  // shared by every cursor of one file
};

template <typename T>
constexpr ValueType TypeOf();
template <>
constexpr ValueType TypeOf<Vector3<float>>() {
  return ValueType::Vector3;
}
template <>
constexpr ValueType TypeOf<vgtf::Complex>() {
  return ValueType::Complex;
}
template <>
constexpr ValueType TypeOf<uint32_t>() {
  return ValueType::U32;
}

// `values` values of T (checked to fit before), handed to the visitor in
// blocks, or skipped unread when it declines them.
template <typename T>
void ReadValues(Cursor& in, VeskFileVisitor& visitor, const char* field, const std::vector<uint64_t>& dims,
                uint64_t values) {
  if (visitor.BeginArray(field, TypeOf<T>(), dims)) {
    const std::size_t blockValues = static_cast<std::size_t>(std::min<uint64_t>(values, kBlockBytes / sizeof(T)));
    std::unique_ptr<T[]> block(new T[std::max<std::size_t>(blockValues, 1)]);
    for (uint64_t done = 0; done < values;) {
      const std::size_t n = static_cast<std::size_t>(std::min<uint64_t>(values - done, blockValues));
      char* bytes = reinterpret_cast<char*>(block.get());
      in.Bytes(bytes, n * sizeof(T), field);
      detail::SwapWordsToLittleEndian(bytes, n * sizeof(T));
      visitor.Values(block.get(), n);
      done += n;
    }
  } else {
    in.Skip(values * sizeof(T), field);
  }
  visitor.EndArray();
}

// A list: u32 count, then the values. Gives its dimensions.
template <typename T>
std::vector<uint64_t> ReadList(Cursor& in, VeskFileVisitor& visitor, const char* field) {
  const uint32_t n = in.U32(std::string("count of ") + field);
  in.Fits(n, sizeof(T), field);
  const std::vector<uint64_t> dims{n};
  ReadValues<T>(in, visitor, field, dims, n);
  return dims;
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
        in.Fail(std::string("expected at most ") + std::to_string(kMaxEmptyLists) + " empty lists in " + field +
                ", found more");
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

template <typename T>
std::vector<uint64_t> ReadArray(Cursor& in, VeskFileVisitor& visitor, std::size_t count, const char* field) {
  const std::vector<uint64_t> dims = ReadDims(in, count, sizeof(T), field);
  uint64_t values = 1;
  for (uint64_t d : dims) values *= d;
  ReadValues<T>(in, visitor, field, dims, values);
  return dims;
}

void ReadFmt(Cursor& in, VeskFileVisitor& visitor) {
  Counts counts;
  const auto integer = [&](const char* field) {
    const int32_t v = in.I32(field);
    visitor.Int(field, v);
    return v;
  };
  if (in.Mark("formatType")) integer("formatType");
  if (in.Mark("micCount")) counts.micCount = integer("micCount");
  if (in.Mark("fftLength")) integer("fftLength");
  if (in.Mark("irLength")) integer("irLength");
  if (in.Mark("samplingRate")) integer("samplingRate");
  if (in.Mark("micPositions")) counts.micPositions = ReadList<Vector3<float>>(in, visitor, "micPositions");
  in.End();
  detail::CheckFmt(counts, in.Context());
}

void ReadSpec(Cursor& in, VeskFileVisitor& visitor) {
  for (const char* field : {"date", "location", "equipment", "environment", "user", "note"}) {
    if (!in.Mark(field)) continue;
    const uint32_t n = in.U32(std::string("length of ") + field);
    in.Need(n, field);
    std::string bytes(n, '\0');
    in.Bytes(&bytes[0], n, field);
    Glib::ustring text(std::move(bytes));
    if (!text.validate()) in.Fail(std::string("expected UTF-8 text in ") + field + ", found invalid bytes");
    visitor.Text(field, text);
  }
  in.End();
}

void ReadM2PG(Cursor& in, VeskFileVisitor& visitor) {
  Counts counts;
  if (in.Mark("sourceCount")) {
    counts.sourceCount = in.I32("sourceCount");
    visitor.Int("sourceCount", static_cast<int32_t>(*counts.sourceCount));
  }
  if (in.Mark("innerCount")) {
    counts.innerCount = in.I32("innerCount");
    visitor.Int("innerCount", static_cast<int32_t>(*counts.innerCount));
  }
  if (in.Mark("positions")) counts.positions = ReadArray<Vector3<float>>(in, visitor, 2, "positions");
  if (in.Mark("tf")) counts.tf = ReadArray<vgtf::Complex>(in, visitor, 4, "tf");
  in.End();
  detail::CheckM2PG(counts, in.Context());
}

void ReadGTF(Cursor& in, VeskFileVisitor& visitor) {
  Counts counts;
  if (in.Mark("sourceCount")) {
    counts.sourceCount = in.I32("sourceCount");
    visitor.Int("sourceCount", static_cast<int32_t>(*counts.sourceCount));
  }
  if (in.Mark("positions")) counts.positions = ReadList<Vector3<float>>(in, visitor, "positions");
  if (in.Mark("binCount")) {
    counts.binCount = in.I32("binCount");
    visitor.Int("binCount", static_cast<int32_t>(*counts.binCount));
  }
  if (in.Mark("binIndices")) counts.binIndices = ReadList<uint32_t>(in, visitor, "binIndices");
  if (in.Mark("tf")) counts.tf = ReadArray<vgtf::Complex>(in, visitor, 3, "tf");
  in.End();
  detail::CheckGTF(counts, in.Context());
}

void ReadFile(Source& source, uint64_t size, const std::string& start, VeskFileVisitor& visitor) {
  uint64_t emptyListBudget = std::max<uint64_t>(kMinEmptyLists, size);
  Cursor file(source, 0, size, std::string(), &emptyListBudget);

  if (start.size() < 8 || start.compare(0, 8, kMagic) != 0)
    file.Fail(std::string("expected magic ") + kMagic + ", found \"" + Printable(start.substr(0, 8)) + "\"");
  char magic[8];
  file.Bytes(magic, 8, "magic");
  const uint32_t major = file.U32("format major version");
  const uint32_t minor = file.U32("format minor version");
  if (major != kFormatMajor)
    file.Fail("expected format version " + std::to_string(kFormatMajor) + ".x, found " + std::to_string(major) + "." +
              std::to_string(minor));
  const uint32_t count = file.U32("data set count");

  for (uint32_t n = 0; n < count; ++n) {
    const std::string which = "data set " + std::to_string(n);
    const uint32_t idLength = file.U32("id length of " + which);
    if (idLength == 0 || idLength > kMaxIdLength)
      file.Fail("expected id length 1 to " + std::to_string(kMaxIdLength) + " for " + which + ", found " +
                std::to_string(idLength));
    file.Need(idLength, "id of " + which);
    std::string id(idLength, '\0');
    file.Bytes(&id[0], idLength, "id of " + which);
    const uint32_t versionMajor = file.U32("version of " + which);
    const uint32_t versionMinor = file.U32("version of " + which);
    const Version version(versionMajor, versionMinor);
    const uint64_t length = file.U64("length of " + which);
    const std::string name = which + " (" + Printable(id) + " " + version.ToString() + ")";
    if (length > file.Left())
      file.Fail("expected " + name + " of " + std::to_string(length) + " bytes, found only " +
                std::to_string(file.Left()) + " bytes left");
    const bool known = version == Version(1, 0) &&
                       (id == "vgtf::Fmt" || id == "vgtf::Spec" || id == "vgtf::M2PG" || id == "vgtf::GTF");
    if (!known) {  // unknown id or version: skipped
      file.Skip(length, name);
      continue;
    }
    const uint64_t begin = file.Position();
    Cursor body(source, begin, begin + length, detail::DataSetName(Printable(id), version) + " (" + which + ")",
                &emptyListBudget);
    visitor.BeginDataSet(id, version);
    if (id == "vgtf::Fmt")
      ReadFmt(body, visitor);
    else if (id == "vgtf::Spec")
      ReadSpec(body, visitor);
    else if (id == "vgtf::M2PG")
      ReadM2PG(body, visitor);
    else
      ReadGTF(body, visitor);
    visitor.EndDataSet();
    file.Advance(length);
  }
  if (file.Left() != 0)
    file.Fail("expected end of file after " + std::to_string(count) + " data sets, found " +
              std::to_string(file.Left()) + " more bytes");
}

std::string ReadAll(std::istream& in) {
  std::string bytes;
  char buffer[65536];
  while (in) {
    in.read(buffer, sizeof buffer);
    bytes.append(buffer, static_cast<std::size_t>(in.gcount()));
  }
  if (in.bad()) StreamFailed();
  return bytes;
}

// Bytes from the current position to the end of a seekable stream, with the
// stream left where it was; none for a stream that cannot seek.
boost::optional<uint64_t> SizeLeft(std::istream& in) {
  if (!in) return boost::none;
  const std::istream::pos_type start = in.tellg();
  if (start == std::istream::pos_type(-1)) return boost::none;
  in.seekg(0, std::ios::end);
  const std::istream::pos_type end = in.tellg();
  in.clear();
  in.seekg(start);
  if (!in || end == std::istream::pos_type(-1) || end < start) {
    in.clear();
    return boost::none;
  }
  return static_cast<uint64_t>(end - start);
}

void Visit(std::istream& in, VeskFileVisitor& visitor) {
  boost::optional<uint64_t> size;
  bool buffered = false;
  std::string whole;
  std::string start;  // the first 8 bytes, for the magic check and its message
  try {
    size = SizeLeft(in);
    if (!size) {
      whole = ReadAll(in);
      buffered = true;
      size = whole.size();
      start = whole.substr(0, 8);
    } else {
      start.resize(static_cast<std::size_t>(std::min<uint64_t>(*size, 8)));
      in.read(&start[0], static_cast<std::streamsize>(start.size()));
      if (static_cast<std::size_t>(in.gcount()) != start.size()) StreamFailed();
      in.seekg(-static_cast<std::streamoff>(start.size()), std::ios::cur);
      if (!in) StreamFailed();
    }
  } catch (const InvalidVeskFile&) {
    throw;
  } catch (const std::exception& e) {
    throw InvalidVeskFile(std::string("cannot read transfer-function file: ") + e.what());
  }
  Source source(in, buffered ? &whole : nullptr);
  ReadFile(source, *size, start, visitor);
}

// Builds the data set objects: each list and array is made to its final
// shape and filled block by block, then moved into its field.
class ObjectBuilder : public VeskFileVisitor {
public:
  boost::shared_ptr<VeskFile> file = boost::make_shared<VeskFile>();

  void BeginDataSet(const std::string& id, const Version&) override {
    fmt_.reset();
    spec_.reset();
    m2pg_.reset();
    gtf_.reset();
    if (id == "vgtf::Fmt")
      current_ = fmt_ = boost::make_shared<vgtf::Fmt1_0>();
    else if (id == "vgtf::Spec")
      current_ = spec_ = boost::make_shared<vgtf::Spec1_0>();
    else if (id == "vgtf::M2PG")
      current_ = m2pg_ = boost::make_shared<vgtf::M2PG1_0>();
    else
      current_ = gtf_ = boost::make_shared<vgtf::GTF1_0>();
  }

  void EndDataSet() override { file->AddDataSet(current_); }

  void Int(const char* field, int32_t v) override {
    const std::string f = field;
    if (fmt_) {
      if (f == "formatType")
        fmt_->SetFormatType(v);
      else if (f == "micCount")
        fmt_->SetMicCount(v);
      else if (f == "fftLength")
        fmt_->SetFftLength(v);
      else if (f == "irLength")
        fmt_->SetIrLength(v);
      else if (f == "samplingRate")
        fmt_->SetSamplingRate(v);
    } else if (m2pg_) {
      if (f == "sourceCount")
        m2pg_->SetSourceCount(v);
      else if (f == "innerCount")
        m2pg_->SetInnerCount(v);
    } else if (gtf_) {
      if (f == "sourceCount")
        gtf_->SetSourceCount(v);
      else if (f == "binCount")
        gtf_->SetBinCount(v);
    }
  }

  void Text(const char* field, const Glib::ustring& v) override {
    if (!spec_) return;
    const std::string f = field;
    if (f == "date")
      spec_->SetDate(v);
    else if (f == "location")
      spec_->SetLocation(v);
    else if (f == "equipment")
      spec_->SetEquipment(v);
    else if (f == "environment")
      spec_->SetEnvironment(v);
    else if (f == "user")
      spec_->SetUser(v);
    else if (f == "note")
      spec_->SetNote(v);
  }

  bool BeginArray(const char* field, ValueType, const std::vector<uint64_t>& dims) override {
    field_ = field;
    dims_ = dims;
    if (fmt_)
      Shape(vec3List_, vec3Rows_);
    else if (m2pg_ && field_ == "positions")
      Shape(vec3Array_, vec3Rows_);
    else if (m2pg_)
      Shape(tf4_, complexRows_);
    else if (field_ == "positions")
      Shape(vec3List_, vec3Rows_);
    else if (field_ == "binIndices")
      Shape(u32List_, u32Rows_);
    else
      Shape(tf3_, complexRows_);
    return true;
  }

  void Values(const Vector3<float>* v, std::size_t n) override { Append(vec3Rows_, v, n); }
  void Values(const vgtf::Complex* v, std::size_t n) override { Append(complexRows_, v, n); }
  void Values(const uint32_t* v, std::size_t n) override { Append(u32Rows_, v, n); }

  void EndArray() override {
    if (fmt_)
      fmt_->SetMicPositions(std::move(vec3List_));
    else if (m2pg_ && field_ == "positions")
      m2pg_->SetPositions(std::move(vec3Array_));
    else if (m2pg_)
      m2pg_->SetTf(std::move(tf4_));
    else if (field_ == "positions")
      gtf_->SetPositions(std::move(vec3List_));
    else if (field_ == "binIndices")
      gtf_->SetBinIndices(std::move(u32List_));
    else
      gtf_->SetTf(std::move(tf3_));
    vec3List_.clear();
    vec3Array_.clear();
    u32List_.clear();
    tf3_.clear();
    tf4_.clear();
  }

private:
  template <typename T>
  struct Rows {
    std::vector<std::vector<T>*> rows;  // the innermost lists in file order
    std::size_t next = 0;
    std::size_t length = 0;  // values per row
  };

  // Gives the nested list its dimensions and reserves every innermost list.
  template <typename T, typename Leaf>
  void MakeRows(std::vector<T>& list, std::size_t level, Rows<Leaf>& rows) {
    if constexpr (Nesting<T>::value > 0) {
      list.resize(static_cast<std::size_t>(dims_[level]));
      for (T& entry : list) MakeRows(entry, level + 1, rows);
    } else {
      list.reserve(static_cast<std::size_t>(dims_[level]));
      rows.rows.push_back(&list);
    }
  }

  template <typename Array, typename Leaf>
  void Shape(Array& array, Rows<Leaf>& rows) {
    array.clear();
    rows = Rows<Leaf>();
    rows.length = static_cast<std::size_t>(dims_.back());
    MakeRows(array, 0, rows);
  }

  template <typename T>
  static void Append(Rows<T>& rows, const T* values, std::size_t n) {
    while (n > 0) {
      std::vector<T>& row = *rows.rows[rows.next];
      const std::size_t take = std::min(n, rows.length - row.size());
      row.insert(row.end(), values, values + take);
      values += take;
      n -= take;
      if (row.size() == rows.length) ++rows.next;
    }
  }

  boost::shared_ptr<DataSet> current_;
  boost::shared_ptr<vgtf::Fmt1_0> fmt_;
  boost::shared_ptr<vgtf::Spec1_0> spec_;
  boost::shared_ptr<vgtf::M2PG1_0> m2pg_;
  boost::shared_ptr<vgtf::GTF1_0> gtf_;
  std::string field_;
  std::vector<uint64_t> dims_;
  std::vector<Vector3<float>> vec3List_;
  std::vector<std::vector<Vector3<float>>> vec3Array_;
  std::vector<uint32_t> u32List_;
  vgtf::TF3 tf3_;
  vgtf::TF4 tf4_;
  Rows<Vector3<float>> vec3Rows_;
  Rows<vgtf::Complex> complexRows_;
  Rows<uint32_t> u32Rows_;
};

}  // namespace

VeskFileBinaryReader::VeskFileBinaryReader(std::istream& in) : in_(in) {}

boost::shared_ptr<VeskFile> VeskFileBinaryReader::Read() {
  ObjectBuilder builder;
  vesk::Visit(in_, builder);
  return builder.file;
}

void VeskFileBinaryReader::Visit(VeskFileVisitor& visitor) { vesk::Visit(in_, visitor); }

}  // namespace vesk
}  // namespace veskio2
