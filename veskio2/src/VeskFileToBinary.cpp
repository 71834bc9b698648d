// Transfer-function file objects to the binary format (docs/formats.md).
// Every record is encoded twice by the same code: first into a byte
// counter, which checks the object and gives the body length that the record
// header carries, then straight onto the stream in blocks. No record is ever
// held whole in memory.
#include <algorithm>
#include <ostream>
#include <type_traits>

#include "veskio2/ByteOrder.h"
#include "VeskFileChecks.h"
#include "veskio2/Vesk.h"

namespace veskio2 {
namespace vesk {

using detail::Nesting;

namespace {

const char kMagic[] = "VESKFILE";
constexpr uint32_t kFormatMajor = 1, kFormatMinor = 0;
constexpr std::size_t kBlockBytes = std::size_t{1} << 16;

// Leaf values go out as their 32-bit words, straight from memory.
static_assert(sizeof(Vector3<float>) == 12 && std::is_trivially_copyable<Vector3<float>>::value,
              "Vector3<float> must be three packed floats");
static_assert(sizeof(vgtf::Complex) == 8, "std::complex<float> must be two packed floats");

// Counts the bytes of a record body without writing them.
class ByteCounter {
public:
  static constexpr bool kCounting = true;
  void Bytes(const char*, std::size_t n) { count_ += n; }
  void Words(const void*, std::size_t bytes) { count_ += bytes; }
  void Skip(uint64_t bytes) { count_ += bytes; }
  uint64_t Written() const { return count_; }

private:
  uint64_t count_ = 0;
};

// Writes onto the stream in blocks of kBlockBytes and checks the stream
// after each block, so that a failing output stops the write early.
class BlockWriter {
public:
  static constexpr bool kCounting = false;
  explicit BlockWriter(std::ostream& out) : out_(out) { buffer_.reserve(kBlockBytes); }

  void Bytes(const char* p, std::size_t n) {
    while (n > 0) {
      const std::size_t k = std::min(n, kBlockBytes - buffer_.size());
      buffer_.append(p, k);
      p += k;
      n -= k;
      written_ += k;
      if (buffer_.size() == kBlockBytes) Flush();
    }
  }

  // `bytes` bytes of consecutive 32-bit words in this machine's order,
  // written little-endian.
  void Words(const void* words, std::size_t bytes) {
    const char* p = static_cast<const char*>(words);
    while (bytes > 0) {
      if (kBlockBytes - buffer_.size() < 4) Flush();
      const std::size_t k = std::min(bytes, kBlockBytes - buffer_.size()) / 4 * 4;
      const std::size_t at = buffer_.size();
      buffer_.append(p, k);
      detail::SwapWordsToLittleEndian(&buffer_[at], k);
      p += k;
      bytes -= k;
      written_ += k;
      if (buffer_.size() == kBlockBytes) Flush();
    }
  }

  void Flush() {
    out_.write(buffer_.data(), static_cast<std::streamsize>(buffer_.size()));
    buffer_.clear();
    if (!out_) throw InvalidVeskFile("cannot write transfer-function file: output stream failed");
  }

  uint64_t Written() const { return written_; }

private:
  std::ostream& out_;
  std::string buffer_;
  uint64_t written_ = 0;
};

template <typename Out>
void WriteU8(Out& out, uint8_t v) {
  const char c = static_cast<char>(v);
  out.Bytes(&c, 1);
}

template <typename Out>
void WriteU32(Out& out, uint32_t v) {
  unsigned char bytes[4];
  detail::StoreU32(bytes, v);
  out.Bytes(reinterpret_cast<const char*>(bytes), 4);
}

template <typename Out>
void WriteI32(Out& out, int32_t v) {
  WriteU32(out, static_cast<uint32_t>(v));
}

template <typename Out>
void WriteU64(Out& out, uint64_t v) {
  unsigned char bytes[8];
  detail::StoreU64(bytes, v);
  out.Bytes(reinterpret_cast<const char*>(bytes), 8);
}

template <typename Out>
void PutCount(Out& out, std::size_t n, const std::string& context, const char* name) {
  if (n > UINT32_MAX)
    throw InvalidVeskFile(context + ": " + name + " holds " + std::to_string(n) +
                          " entries, more than 32 bits can count");
  WriteU32(out, static_cast<uint32_t>(n));
}

template <typename Out>
void PutText(Out& out, const Glib::ustring& text, const std::string& context, const char* name) {
  // Checked once, while counting.
  if (Out::kCounting && !text.validate()) throw InvalidVeskFile(context + ": " + name + " is not valid UTF-8");
  PutCount(out, text.bytes(), context, name);
  out.Bytes(text.data(), text.bytes());
}

// A list of fixed-size values made of 32-bit words: count, then the values.
template <typename Out, typename T>
void PutList(Out& out, const std::vector<T>& list, const std::string& context, const char* name) {
  PutCount(out, list.size(), context, name);
  out.Words(list.data(), list.size() * sizeof(T));
}

// Leaf values of a nested list in order, last index fastest, a row at a time.
template <typename Out, typename T>
void PutLeaves(Out& out, const std::vector<T>& list) {
  if constexpr (Nesting<T>::value > 0) {
    for (const T& entry : list) PutLeaves(out, entry);
  } else {
    static_assert(sizeof(T) % 4 == 0 && std::is_trivially_copyable<T>::value, "leaf of 32-bit words");
    out.Words(list.data(), list.size() * sizeof(T));
  }
}

template <typename Out, typename Array>
void PutArray(Out& out, const Array& array, const std::string& context, const char* name, std::size_t valueSize) {
  const std::vector<uint64_t> dims = detail::ShapeOf(array, context, name);
  uint64_t values = 1;
  for (uint64_t d : dims) {
    WriteU32(out, static_cast<uint32_t>(d));
    values *= d;
  }
  if constexpr (Out::kCounting)
    out.Skip(values * valueSize);
  else
    PutLeaves(out, array);
}

// Set mark and value of one optional field.
template <typename Out, typename Value, typename Encode>
void PutField(Out& out, const Value* value, Encode encode) {
  WriteU8(out, value ? 1 : 0);
  if (value) encode(*value);
}

template <typename Out>
void PutBody(Out& out, const vgtf::Fmt1_0& fmt, const std::string& context) {
  const auto putInt = [&out](int32_t v) { WriteI32(out, v); };
  PutField(out, fmt.HasFormatType() ? &fmt.GetFormatType() : nullptr, putInt);
  PutField(out, fmt.HasMicCount() ? &fmt.GetMicCount() : nullptr, putInt);
  PutField(out, fmt.HasFftLength() ? &fmt.GetFftLength() : nullptr, putInt);
  PutField(out, fmt.HasIrLength() ? &fmt.GetIrLength() : nullptr, putInt);
  PutField(out, fmt.HasSamplingRate() ? &fmt.GetSamplingRate() : nullptr, putInt);
  PutField(out, fmt.HasMicPositions() ? &fmt.GetMicPositions() : nullptr,
           [&](const std::vector<Vector3<float>>& positions) { PutList(out, positions, context, "micPositions"); });
}

template <typename Out>
void PutBody(Out& out, const vgtf::Spec1_0& spec, const std::string& context) {
  const auto text = [&](bool has, const Glib::ustring* value, const char* name) {
    WriteU8(out, has ? 1 : 0);
    if (has) PutText(out, *value, context, name);
  };
  text(spec.HasDate(), spec.HasDate() ? &spec.GetDate() : nullptr, "date");
  text(spec.HasLocation(), spec.HasLocation() ? &spec.GetLocation() : nullptr, "location");
  text(spec.HasEquipment(), spec.HasEquipment() ? &spec.GetEquipment() : nullptr, "equipment");
  text(spec.HasEnvironment(), spec.HasEnvironment() ? &spec.GetEnvironment() : nullptr, "environment");
  text(spec.HasUser(), spec.HasUser() ? &spec.GetUser() : nullptr, "user");
  text(spec.HasNote(), spec.HasNote() ? &spec.GetNote() : nullptr, "note");
}

template <typename Out>
void PutBody(Out& out, const vgtf::M2PG1_0& m2pg, const std::string& context) {
  const auto putInt = [&out](int32_t v) { WriteI32(out, v); };
  PutField(out, m2pg.HasSourceCount() ? &m2pg.GetSourceCount() : nullptr, putInt);
  PutField(out, m2pg.HasInnerCount() ? &m2pg.GetInnerCount() : nullptr, putInt);
  PutField(out, m2pg.HasPositions() ? &m2pg.GetPositions() : nullptr,
           [&](const std::vector<std::vector<Vector3<float>>>& positions) {
             PutArray(out, positions, context, "positions", 12);
           });
  PutField(out, m2pg.HasTf() ? &m2pg.GetTf() : nullptr,
           [&](const vgtf::TF4& tf) { PutArray(out, tf, context, "tf", 8); });
}

template <typename Out>
void PutBody(Out& out, const vgtf::GTF1_0& gtf, const std::string& context) {
  const auto putInt = [&out](int32_t v) { WriteI32(out, v); };
  PutField(out, gtf.HasSourceCount() ? &gtf.GetSourceCount() : nullptr, putInt);
  PutField(out, gtf.HasPositions() ? &gtf.GetPositions() : nullptr,
           [&](const std::vector<Vector3<float>>& positions) { PutList(out, positions, context, "positions"); });
  PutField(out, gtf.HasBinCount() ? &gtf.GetBinCount() : nullptr, putInt);
  PutField(out, gtf.HasBinIndices() ? &gtf.GetBinIndices() : nullptr,
           [&](const std::vector<uint32_t>& indices) { PutList(out, indices, context, "binIndices"); });
  PutField(out, gtf.HasTf() ? &gtf.GetTf() : nullptr,
           [&](const vgtf::TF3& tf) { PutArray(out, tf, context, "tf", 8); });
}

void Check(const vgtf::Fmt1_0& fmt, const std::string& context) {
  detail::CheckFmt(detail::CountsOf(fmt, context), context);
}
void Check(const vgtf::Spec1_0&, const std::string&) {}
void Check(const vgtf::M2PG1_0& m2pg, const std::string& context) {
  detail::CheckM2PG(detail::CountsOf(m2pg, context), context);
}
void Check(const vgtf::GTF1_0& gtf, const std::string& context) {
  detail::CheckGTF(detail::CountsOf(gtf, context), context);
}

// Checks a data set and gives the length of its record body in bytes.
template <typename Set>
uint64_t Measure(const Set& dataSet) {
  const std::string context = detail::DataSetName(dataSet.GetId(), dataSet.GetVersion());
  Check(dataSet, context);
  ByteCounter counter;
  PutBody(counter, dataSet, context);
  return counter.Written();
}

// One record: id, version, body length, body (measured before).
template <typename Set>
void EmitRecord(BlockWriter& out, const Set& dataSet, uint64_t bodyBytes) {
  const std::string context = detail::DataSetName(dataSet.GetId(), dataSet.GetVersion());
  const Glib::ustring id = dataSet.GetId();
  WriteU32(out, static_cast<uint32_t>(id.bytes()));
  out.Bytes(id.data(), id.bytes());
  WriteU32(out, dataSet.GetVersion().GetMajor());
  WriteU32(out, dataSet.GetVersion().GetMinor());
  WriteU64(out, bodyBytes);
  const uint64_t start = out.Written();
  PutBody(out, dataSet, context);
  if (out.Written() - start != bodyBytes)
    throw InvalidVeskFile("cannot write transfer-function file: " + context + " changed while it was written");
}

// Runs `step`, letting InvalidVeskFile through and turning anything else
// into one.
template <typename Step>
void Guarded(Step step) {
  try {
    step();
  } catch (const InvalidVeskFile&) {
    throw;
  } catch (const std::exception& e) {
    throw InvalidVeskFile(std::string("cannot write transfer-function file: ") + e.what());
  } catch (...) {
    throw InvalidVeskFile("cannot write transfer-function file: unknown error");
  }
}

void FlushStream(BlockWriter& writer, std::ostream& out) {
  writer.Flush();
  out.flush();
  if (!out) throw InvalidVeskFile("cannot write transfer-function file: output stream failed");
}

}  // namespace

// A whole-file write visits the data sets twice: once to check and measure
// every record before any byte goes out, once to write them.
struct VeskFileBinaryWriter::Pending {
  bool writing = false;
  std::vector<uint64_t> bodyBytes;  // one per record, in order
  std::size_t next = 0;             // record being written
  BlockWriter* out = nullptr;
};

VeskFileBinaryWriter::VeskFileBinaryWriter(std::ostream& out) : out_(out) {}

VeskFileBinaryWriter::~VeskFileBinaryWriter() = default;

void VeskFileBinaryWriter::Write(const boost::shared_ptr<VeskFile>& file) {
  Guarded([&] {
    if (!file) throw InvalidVeskFile("cannot write transfer-function file: no file object");
    file->Write(*this);
  });
}

void VeskFileBinaryWriter::Write(VeskFile& file) {
  Guarded([&] {
    Pending pending;
    struct Reset {
      Pending*& slot;
      ~Reset() { slot = nullptr; }
    } reset{pending_};
    pending_ = &pending;
    const auto& dataSets = file.GetDataSets();
    for (std::size_t i = 0; i < dataSets.size(); ++i) {
      if (!dataSets[i])
        throw InvalidVeskFile("cannot write transfer-function file: data set " + std::to_string(i) +
                              " is an empty pointer");
      dataSets[i]->Write(*this);
    }
    if (pending.bodyBytes.size() > UINT32_MAX)
      throw InvalidVeskFile("cannot write transfer-function file: more data sets than 32 bits can count");

    BlockWriter out(out_);
    pending.writing = true;
    pending.out = &out;
    out.Bytes(kMagic, 8);
    WriteU32(out, kFormatMajor);
    WriteU32(out, kFormatMinor);
    WriteU32(out, static_cast<uint32_t>(pending.bodyBytes.size()));
    for (const auto& dataSet : dataSets) dataSet->Write(*this);
    if (pending.next != pending.bodyBytes.size())
      throw InvalidVeskFile("cannot write transfer-function file: the data sets changed while they were written");
    FlushStream(out, out_);
  });
}

namespace {

// Inside a whole-file write the record is measured or written as the pass
// requires; on its own it goes straight to the stream.
template <typename Pending, typename Set>
void Deliver(std::ostream& stream, Pending* pending, const Set& dataSet) {
  if (!pending) {
    const uint64_t bodyBytes = Measure(dataSet);
    BlockWriter out(stream);
    EmitRecord(out, dataSet, bodyBytes);
    FlushStream(out, stream);
  } else if (!pending->writing) {
    pending->bodyBytes.push_back(Measure(dataSet));
  } else {
    if (pending->next >= pending->bodyBytes.size())
      throw InvalidVeskFile("cannot write transfer-function file: the data sets changed while they were written");
    EmitRecord(*pending->out, dataSet, pending->bodyBytes[pending->next++]);
  }
}

}  // namespace

void VeskFileBinaryWriter::Write(vgtf::Fmt1_0& dataSet) {
  Guarded([&] { Deliver(out_, pending_, dataSet); });
}

void VeskFileBinaryWriter::Write(vgtf::Spec1_0& dataSet) {
  Guarded([&] { Deliver(out_, pending_, dataSet); });
}

void VeskFileBinaryWriter::Write(vgtf::M2PG1_0& dataSet) {
  Guarded([&] { Deliver(out_, pending_, dataSet); });
}

void VeskFileBinaryWriter::Write(vgtf::GTF1_0& dataSet) {
  Guarded([&] { Deliver(out_, pending_, dataSet); });
}

}  // namespace vesk
}  // namespace veskio2
