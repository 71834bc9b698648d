// Configuration files: microphone-array location, noise location,
// impulse-response list and TSP list, with their elements, and the XML
// reader and writer.
#ifndef VESKIO2_VESKCONFIG_H
#define VESKIO2_VESKCONFIG_H

#include <iosfwd>
#include <cstddef>
#include <string>
#include <vector>

#include <boost/shared_ptr.hpp>
#include <glibmm/ustring.h>

#include "veskio2/Common.h"

namespace veskio2 {
namespace veskconfig {

class VeskConfigFileWriter;

// ---- elements -------------------------------------------------------------

class Mic {
public:
  virtual ~Mic() = default;
  virtual int GetVersion() const = 0;
};

class Mic1 : public Mic {
public:
  int GetVersion() const override { return 1; }
  VESKIO2_FIELD(unsigned int, MicIndex, micIndex)
  VESKIO2_FIELD(Position<float>, Position, position)
};

class NoiseSource {
public:
  virtual ~NoiseSource() = default;
  virtual int GetVersion() const = 0;
};

class NoiseSource1 : public NoiseSource {
public:
  int GetVersion() const override { return 1; }
  VESKIO2_FIELD(unsigned int, Index, index)
  VESKIO2_FIELD(Position<float>, Position, position)
};

class File {
public:
  virtual ~File() = default;
  virtual int GetVersion() const = 0;
};

class File1 : public File {
public:
  int GetVersion() const override { return 1; }
  VESKIO2_FIELD(Glib::ustring, Name, name)
  VESKIO2_FIELD(std::vector<unsigned int>, MicIndices, micIndices)
};

class Source {
public:
  virtual ~Source() = default;
  virtual int GetVersion() const = 0;
};

// One sound-source position of a list file. cutStart counts from 1;
// cutEnd 0 means automatic.
class Source2 : public Source {
public:
  int GetVersion() const override { return 2; }
  VESKIO2_FIELD(Position<float>, Position, position)
  VESKIO2_FIELD(int, CutStart, cutStart)
  VESKIO2_FIELD(int, CutEnd, cutEnd)
  VESKIO2_FIELD(std::vector<File1>, Files, files)
};

// The TSP origin file of a TSP list: kind 0 = PCM wave, 1 = raw float.
struct OriginalImpulseFile {
  enum Kind : unsigned int { PCM_WAVE = 0, RAW_FLOAT = 1 };
  Glib::ustring name;
  unsigned int kind = RAW_FLOAT;
  bool operator==(const OriginalImpulseFile& o) const { return name == o.name && kind == o.kind; }
};

// ---- files -----------------------------------------------------------------

class Writable {
public:
  virtual ~Writable() = default;
  virtual void Write(VeskConfigFileWriter& writer) const = 0;
};

class VeskConfigFile : public Writable {
public:
  virtual Glib::ustring GetId() const = 0;
  virtual Version GetVersion() const = 0;
  VESKIO2_FIELD(Glib::ustring, Comment, comment)
};

class MicArrayLocationFile : public VeskConfigFile {
public:
  Glib::ustring GetId() const override { return "MicArrayLocationFile"; }
};

class NoiseLocationFile : public VeskConfigFile {
public:
  Glib::ustring GetId() const override { return "NoiseLocationFile"; }
};

class ImpulseResponseListFile : public VeskConfigFile {
public:
  Glib::ustring GetId() const override { return "ImpulseResponseListFile"; }
};

class TSPListFile : public VeskConfigFile {
public:
  Glib::ustring GetId() const override { return "TSPListFile"; }
};

class MicArrayLocationFile2_0 : public MicArrayLocationFile {
public:
  Version GetVersion() const override { return Version(2, 0); }
  void Write(VeskConfigFileWriter& writer) const override;
  VESKIO2_FIELD(std::vector<Mic1>, Mics, mics)
};

class NoiseLocationFile2_0 : public NoiseLocationFile {
public:
  Version GetVersion() const override { return Version(2, 0); }
  void Write(VeskConfigFileWriter& writer) const override;
  VESKIO2_FIELD(std::vector<NoiseSource1>, NoiseSources, noiseSources)
};

// numInner: positions per source entry (reserved; the template maker writes 1).
class ImpulseResponseListFile2_0 : public ImpulseResponseListFile {
public:
  Version GetVersion() const override { return Version(2, 0); }
  void Write(VeskConfigFileWriter& writer) const override;
  VESKIO2_FIELD(unsigned int, NumMic, numMic)
  VESKIO2_FIELD(unsigned int, NumInner, numInner)
  VESKIO2_FIELD(std::vector<Source2>, Sources, sources)
};

class TSPListFile2_0 : public TSPListFile {
public:
  Version GetVersion() const override { return Version(2, 0); }
  void Write(VeskConfigFileWriter& writer) const override;
  VESKIO2_FIELD(unsigned int, NumMic, numMic)
  VESKIO2_FIELD(unsigned int, NumInner, numInner)
  VESKIO2_FIELD(unsigned int, SynchronousAverage, synchronousAverage)
  VESKIO2_FIELD(unsigned int, TspOffset, tspOffset)
  VESKIO2_FIELD(unsigned int, TspLength, tspLength)
  VESKIO2_FIELD(unsigned int, SignalMax, signalMax)
  VESKIO2_FIELD(OriginalImpulseFile, OriginalImpulseFile, originalImpulseFile)
  VESKIO2_FIELD(std::vector<Source2>, Sources, sources)
};

// ---- reading and writing ---------------------------------------------------

class VeskConfigFileReader {
public:
  virtual ~VeskConfigFileReader() = default;
  // The file as the concrete class of its id and version; throws AnalyzeError.
  virtual boost::shared_ptr<VeskConfigFile> Read() = 0;
};

class VeskConfigFileXMLReader : public VeskConfigFileReader {
public:
  // Largest file read (bytes); a larger one is refused. Reading takes at
  // most about four times the file's size in memory.
  static constexpr std::size_t kMaxFileBytes = std::size_t(1) << 30;

  explicit VeskConfigFileXMLReader(const Glib::ustring& fileName);
  // Reads the named file. Anything that is not a well-formed configuration
  // file of a known id and version throws AnalyzeError naming the file.
  boost::shared_ptr<VeskConfigFile> Read() override;
  // Parses XML text held in memory; `displayName` names it in messages.
  static boost::shared_ptr<VeskConfigFile> ReadText(const std::string& xml, const Glib::ustring& displayName);

private:
  Glib::ustring fileName_;
};

class VeskConfigFileWriter {
public:
  virtual ~VeskConfigFileWriter() = default;
  // Whole-file write: dispatches to the overload for the file's class.
  virtual void Write(const boost::shared_ptr<VeskConfigFile>& file);
  virtual void Write(const ImpulseResponseListFile2_0& file) = 0;
  virtual void Write(const TSPListFile2_0& file) = 0;
  virtual void Write(const MicArrayLocationFile2_0& file) = 0;
  virtual void Write(const NoiseLocationFile2_0& file) = 0;
};

// Writes readable, indented XML to the stream it was built on.
class VeskConfigFileXMLWriter : public VeskConfigFileWriter {
public:
  explicit VeskConfigFileXMLWriter(std::ostream& out);
  using VeskConfigFileWriter::Write;
  void Write(const ImpulseResponseListFile2_0& file) override;
  void Write(const TSPListFile2_0& file) override;
  void Write(const MicArrayLocationFile2_0& file) override;
  void Write(const NoiseLocationFile2_0& file) override;

private:
  std::ostream& out_;
};

}  // namespace veskconfig
}  // namespace veskio2

#endif
