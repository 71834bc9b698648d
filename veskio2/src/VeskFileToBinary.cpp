// Transfer-function file objects to the binary format (docs/formats.md).
#include <ostream>

#include "veskio2/ByteOrder.h"
#include "VeskFileChecks.h"
#include "veskio2/Vesk.h"

namespace veskio2 {
namespace vesk {

using namespace detail;

namespace {

const char kMagic[] = "VESKFILE";
constexpr uint32_t kFormatMajor = 1, kFormatMinor = 0;

void PutVector3(std::string& out, const Vector3<float>& v) {
  PutF32(out, v.x);
  PutF32(out, v.y);
  PutF32(out, v.z);
}

void PutComplex(std::string& out, const vgtf::Complex& c) {
  PutF32(out, c.real());
  PutF32(out, c.imag());
}

void PutCount(std::string& out, std::size_t n, const std::string& context, const char* name) {
  if (n > UINT32_MAX)
    throw InvalidVeskFile(context + ": " + name + " holds " + std::to_string(n) +
                          " entries, more than 32 bits can count");
  PutU32(out, static_cast<uint32_t>(n));
}

void PutText(std::string& out, const Glib::ustring& text, const std::string& context, const char* name) {
  if (!text.validate()) throw InvalidVeskFile(context + ": " + name + " is not valid UTF-8");
  PutCount(out, text.bytes(), context, name);
  out += text.raw();
}

// Set mark and value of one optional field.
template <typename Value, typename Encode>
void PutField(std::string& out, const Value* value, Encode encode) {
  PutU8(out, value ? 1 : 0);
  if (value) encode(*value);
}

// Leaf values of a nested list in order, last index fastest.
template <typename T, typename Leaf>
void PutLeaves(std::string& out, const std::vector<T>& list, Leaf leaf) {
  for (const T& entry : list) {
    if constexpr (Nesting<T>::value > 0)
      PutLeaves(out, entry, leaf);
    else
      leaf(out, entry);
  }
}

template <typename Array, typename Leaf>
void PutArray(std::string& out, const Array& array, const std::string& context, const char* name,
              std::size_t valueSize, Leaf leaf) {
  const std::vector<uint64_t> dims = ShapeOf(array, context, name);
  uint64_t values = 1;
  for (uint64_t d : dims) {
    PutU32(out, static_cast<uint32_t>(d));
    values *= d;
  }
  out.reserve(out.size() + static_cast<std::size_t>(values) * valueSize);
  PutLeaves(out, array, leaf);
}

std::string Record(const std::string& id, const Version& version, const std::string& body) {
  std::string out;
  PutU32(out, static_cast<uint32_t>(id.size()));
  out += id;
  PutU32(out, version.GetMajor());
  PutU32(out, version.GetMinor());
  PutU64(out, body.size());
  out += body;
  return out;
}

std::string Encode(const vgtf::Fmt1_0& fmt) {
  const std::string context = DataSetName(fmt.GetId(), fmt.GetVersion());
  CheckFmt(fmt, context);
  std::string out;
  const auto putInt = [&out](int32_t v) { PutI32(out, v); };
  PutField(out, fmt.HasFormatType() ? &fmt.GetFormatType() : nullptr, putInt);
  PutField(out, fmt.HasMicCount() ? &fmt.GetMicCount() : nullptr, putInt);
  PutField(out, fmt.HasFftLength() ? &fmt.GetFftLength() : nullptr, putInt);
  PutField(out, fmt.HasIrLength() ? &fmt.GetIrLength() : nullptr, putInt);
  PutField(out, fmt.HasSamplingRate() ? &fmt.GetSamplingRate() : nullptr, putInt);
  PutField(out, fmt.HasMicPositions() ? &fmt.GetMicPositions() : nullptr,
           [&](const std::vector<Vector3<float>>& positions) {
             PutCount(out, positions.size(), context, "micPositions");
             for (const auto& p : positions) PutVector3(out, p);
           });
  return Record(fmt.GetId(), fmt.GetVersion(), out);
}

std::string Encode(const vgtf::Spec1_0& spec) {
  const std::string context = DataSetName(spec.GetId(), spec.GetVersion());
  std::string out;
  const auto text = [&](bool has, const Glib::ustring* value, const char* name) {
    PutU8(out, has ? 1 : 0);
    if (has) PutText(out, *value, context, name);
  };
  text(spec.HasDate(), spec.HasDate() ? &spec.GetDate() : nullptr, "date");
  text(spec.HasLocation(), spec.HasLocation() ? &spec.GetLocation() : nullptr, "location");
  text(spec.HasEquipment(), spec.HasEquipment() ? &spec.GetEquipment() : nullptr, "equipment");
  text(spec.HasEnvironment(), spec.HasEnvironment() ? &spec.GetEnvironment() : nullptr, "environment");
  text(spec.HasUser(), spec.HasUser() ? &spec.GetUser() : nullptr, "user");
  text(spec.HasNote(), spec.HasNote() ? &spec.GetNote() : nullptr, "note");
  return Record(spec.GetId(), spec.GetVersion(), out);
}

std::string Encode(const vgtf::M2PG1_0& m2pg) {
  const std::string context = DataSetName(m2pg.GetId(), m2pg.GetVersion());
  CheckM2PG(m2pg, context);
  std::string out;
  const auto putInt = [&out](int32_t v) { PutI32(out, v); };
  PutField(out, m2pg.HasSourceCount() ? &m2pg.GetSourceCount() : nullptr, putInt);
  PutField(out, m2pg.HasInnerCount() ? &m2pg.GetInnerCount() : nullptr, putInt);
  PutField(out, m2pg.HasPositions() ? &m2pg.GetPositions() : nullptr,
           [&](const std::vector<std::vector<Vector3<float>>>& positions) {
             PutArray(out, positions, context, "positions", 12, PutVector3);
           });
  PutField(out, m2pg.HasTf() ? &m2pg.GetTf() : nullptr,
           [&](const vgtf::TF4& tf) { PutArray(out, tf, context, "tf", 8, PutComplex); });
  return Record(m2pg.GetId(), m2pg.GetVersion(), out);
}

std::string Encode(const vgtf::GTF1_0& gtf) {
  const std::string context = DataSetName(gtf.GetId(), gtf.GetVersion());
  CheckGTF(gtf, context);
  std::string out;
  const auto putInt = [&out](int32_t v) { PutI32(out, v); };
  PutField(out, gtf.HasSourceCount() ? &gtf.GetSourceCount() : nullptr, putInt);
  PutField(out, gtf.HasPositions() ? &gtf.GetPositions() : nullptr,
           [&](const std::vector<Vector3<float>>& positions) {
             PutCount(out, positions.size(), context, "positions");
             for (const auto& p : positions) PutVector3(out, p);
           });
  PutField(out, gtf.HasBinCount() ? &gtf.GetBinCount() : nullptr, putInt);
  PutField(out, gtf.HasBinIndices() ? &gtf.GetBinIndices() : nullptr,
           [&](const std::vector<uint32_t>& indices) {
             PutCount(out, indices.size(), context, "binIndices");
             for (uint32_t i : indices) PutU32(out, i);
           });
  PutField(out, gtf.HasTf() ? &gtf.GetTf() : nullptr,
           [&](const vgtf::TF3& tf) { PutArray(out, tf, context, "tf", 8, PutComplex); });
  return Record(gtf.GetId(), gtf.GetVersion(), out);
}

}  // namespace

struct VeskFileBinaryWriter::Pending {
  std::string records;
  uint32_t count = 0;
};

VeskFileBinaryWriter::VeskFileBinaryWriter(std::ostream& out) : out_(out) {}

VeskFileBinaryWriter::~VeskFileBinaryWriter() = default;

namespace {

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

void Emit(std::ostream& out, const std::string& bytes) {
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  out.flush();
  if (!out) throw InvalidVeskFile("cannot write transfer-function file: output stream failed");
}

}  // namespace

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
    pending_ = nullptr;
    std::string bytes(kMagic, 8);
    PutU32(bytes, kFormatMajor);
    PutU32(bytes, kFormatMinor);
    PutU32(bytes, pending.count);
    bytes += pending.records;
    Emit(out_, bytes);
  });
}

namespace {

// Inside a whole-file write the record joins the others; on its own it goes
// straight to the stream.
template <typename Pending>
void Deliver(std::ostream& out, Pending* pending, const std::string& record) {
  if (pending) {
    pending->records += record;
    ++pending->count;
  } else {
    Emit(out, record);
  }
}

}  // namespace

void VeskFileBinaryWriter::Write(vgtf::Fmt1_0& dataSet) {
  Guarded([&] { Deliver(out_, pending_, Encode(dataSet)); });
}

void VeskFileBinaryWriter::Write(vgtf::Spec1_0& dataSet) {
  Guarded([&] { Deliver(out_, pending_, Encode(dataSet)); });
}

void VeskFileBinaryWriter::Write(vgtf::M2PG1_0& dataSet) {
  Guarded([&] { Deliver(out_, pending_, Encode(dataSet)); });
}

void VeskFileBinaryWriter::Write(vgtf::GTF1_0& dataSet) {
  Guarded([&] { Deliver(out_, pending_, Encode(dataSet)); });
}

}  // namespace vesk
}  // namespace veskio2
