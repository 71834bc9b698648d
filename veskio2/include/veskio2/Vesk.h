// The transfer-function file: a VeskFile holding data sets (vgtf::Fmt,
// vgtf::M2PG or vgtf::GTF, vgtf::Spec), and its binary writer and reader.
#ifndef VESKIO2_VESK_H
#define VESKIO2_VESK_H

#include <complex>
#include <cstdint>
#include <iosfwd>
#include <string>
#include <vector>

#include <boost/shared_ptr.hpp>
#include <glibmm/ustring.h>

#include "veskio2/Common.h"

namespace veskio2 {
namespace vesk {

class VeskFileWriter;

class Writable {
public:
  virtual ~Writable() = default;
  virtual void Write(VeskFileWriter& writer) = 0;
};

class DataSet : public Writable {
public:
  virtual Glib::ustring GetId() const = 0;
};

namespace vgtf {

using Complex = std::complex<float>;
// [source][microphone][bin]
using TF3 = std::vector<std::vector<std::vector<Complex>>>;
// [source][inner][microphone][bin]
using TF4 = std::vector<TF3>;

class Fmt : public DataSet {
public:
  Glib::ustring GetId() const override { return "vgtf::Fmt"; }
  virtual Version GetVersion() const = 0;
};

class Spec : public DataSet {
public:
  Glib::ustring GetId() const override { return "vgtf::Spec"; }
  virtual Version GetVersion() const = 0;
};

class M2PG : public DataSet {
public:
  Glib::ustring GetId() const override { return "vgtf::M2PG"; }
  virtual Version GetVersion() const = 0;
};

class GTF : public DataSet {
public:
  Glib::ustring GetId() const override { return "vgtf::GTF"; }
  virtual Version GetVersion() const = 0;
};

// Format description. formatType: 1 = M2PG, 2 = GTF. Lengths in samples,
// samplingRate in Hz, micPositions in metres.
class Fmt1_0 : public Fmt {
public:
  Version GetVersion() const override { return Version(1, 0); }
  void Write(VeskFileWriter& writer) override;
  VESKIO2_FIELD(int32_t, FormatType, formatType)
  VESKIO2_FIELD(int32_t, MicCount, micCount)
  VESKIO2_FIELD(int32_t, FftLength, fftLength)
  VESKIO2_FIELD(int32_t, IrLength, irLength)
  VESKIO2_FIELD(int32_t, SamplingRate, samplingRate)
  VESKIO2_FIELD(std::vector<Vector3<float>>, MicPositions, micPositions)
};

// Six texts in this order: date, location, equipment, environment, user, note.
class Spec1_0 : public Spec {
public:
  Version GetVersion() const override { return Version(1, 0); }
  void Write(VeskFileWriter& writer) override;
  VESKIO2_FIELD(Glib::ustring, Date, date)
  VESKIO2_FIELD(Glib::ustring, Location, location)
  VESKIO2_FIELD(Glib::ustring, Equipment, equipment)
  VESKIO2_FIELD(Glib::ustring, Environment, environment)
  VESKIO2_FIELD(Glib::ustring, User, user)
  VESKIO2_FIELD(Glib::ustring, Note, note)
};

// Transfer functions for localisation: positions [source][inner],
// tf [source][inner][microphone][bin].
class M2PG1_0 : public M2PG {
public:
  Version GetVersion() const override { return Version(1, 0); }
  void Write(VeskFileWriter& writer) override;
  VESKIO2_FIELD(int32_t, SourceCount, sourceCount)
  VESKIO2_FIELD(int32_t, InnerCount, innerCount)
  VESKIO2_FIELD(std::vector<std::vector<Vector3<float>>>, Positions, positions)
  VESKIO2_FIELD(TF4, Tf, tf)
};

// Transfer functions for separation: positions [source],
// tf [source][microphone][bin], binIndices the FFT bin of each stored bin.
class GTF1_0 : public GTF {
public:
  Version GetVersion() const override { return Version(1, 0); }
  void Write(VeskFileWriter& writer) override;
  VESKIO2_FIELD(int32_t, SourceCount, sourceCount)
  VESKIO2_FIELD(std::vector<Vector3<float>>, Positions, positions)
  VESKIO2_FIELD(int32_t, BinCount, binCount)
  VESKIO2_FIELD(std::vector<uint32_t>, BinIndices, binIndices)
  VESKIO2_FIELD(TF3, Tf, tf)
};

}  // namespace vgtf

class VeskFile : public Writable {
public:
  void Write(VeskFileWriter& writer) override;
  void AddDataSet(const boost::shared_ptr<DataSet>& dataSet) { dataSets_.push_back(dataSet); }
  const std::vector<boost::shared_ptr<DataSet>>& GetDataSets() const { return dataSets_; }

private:
  std::vector<boost::shared_ptr<DataSet>> dataSets_;
};

class VeskFileWriter {
public:
  virtual ~VeskFileWriter() = default;
  // Whole-file write. Lets no exception but InvalidVeskFile pass.
  virtual void Write(const boost::shared_ptr<VeskFile>& file) = 0;
  virtual void Write(VeskFile& file) = 0;
  virtual void Write(vgtf::Fmt1_0& dataSet) = 0;
  virtual void Write(vgtf::Spec1_0& dataSet) = 0;
  virtual void Write(vgtf::M2PG1_0& dataSet) = 0;
  virtual void Write(vgtf::GTF1_0& dataSet) = 0;
};

// Writes the binary transfer-function format (docs/formats.md). Refuses an
// inconsistent object with InvalidVeskFile before writing any byte of it.
class VeskFileBinaryWriter : public VeskFileWriter {
public:
  explicit VeskFileBinaryWriter(std::ostream& out);
  ~VeskFileBinaryWriter() override;
  void Write(const boost::shared_ptr<VeskFile>& file) override;
  void Write(VeskFile& file) override;
  void Write(vgtf::Fmt1_0& dataSet) override;
  void Write(vgtf::Spec1_0& dataSet) override;
  void Write(vgtf::M2PG1_0& dataSet) override;
  void Write(vgtf::GTF1_0& dataSet) override;

private:
  std::ostream& out_;
  // Set while a whole-file write collects the data set records in memory.
  struct Pending;
  Pending* pending_ = nullptr;
};

// Receives a transfer-function file field by field, in file order, with the
// values of lists and arrays in blocks, so that no array need be held whole
// (VeskFileBinaryReader::Visit). Only set fields of data sets of a known id
// and version are reported. Field names are those of the data set classes.
class VeskFileVisitor {
public:
  enum class ValueType { Vector3, Complex, U32 };

  virtual ~VeskFileVisitor() = default;
  virtual void BeginDataSet(const std::string& id, const Version& version) = 0;
  // After the data set's last field, once its counts were found consistent.
  virtual void EndDataSet() = 0;
  virtual void Int(const char* field, int32_t value) = 0;
  virtual void Text(const char* field, const Glib::ustring& value) = 0;
  // A list (one dimension) or an array (one dimension per level). Return
  // false to skip its values (they are then not read at all).
  virtual bool BeginArray(const char* field, ValueType type, const std::vector<uint64_t>& dims) = 0;
  // The next `count` values of the array begun, last index fastest; every
  // call hands at most a block of 64 KiB.
  virtual void Values(const Vector3<float>* values, std::size_t count);
  virtual void Values(const vgtf::Complex* values, std::size_t count);
  virtual void Values(const uint32_t* values, std::size_t count);
  virtual void EndArray() = 0;
};

// Reads the binary format back. A truncated, corrupt or lying file throws
// InvalidVeskFile; data sets of unknown id or version are skipped. Every
// length and count is checked against the bytes left in the stream before
// anything is allocated for it; the values are read in blocks straight into
// their final lists. A stream that cannot seek (a pipe) is first read whole.
class VeskFileBinaryReader {
public:
  explicit VeskFileBinaryReader(std::istream& in);
  boost::shared_ptr<VeskFile> Read();
  // Hands the file to `visitor` as it is read, holding no array. A fault is
  // found where it lies, so the visitor may have seen the fields before it;
  // a caller that must not act on a bad file visits it first with a
  // visitor that skips every array, which reads little more than the
  // headers, then again from the same start.
  void Visit(VeskFileVisitor& visitor);

private:
  std::istream& in_;
};

}  // namespace vesk
}  // namespace veskio2

#endif
