// veskdump [--summary] FILE: prints a configuration XML file or a binary
// transfer-function file as JSON on standard output. A transfer-function
// file is checked whole first (a pass that skips its arrays), then printed as
// it is read, so memory stays small whatever the file's size.
#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#include <boost/pointer_cast.hpp>

#include "JsonWriter.h"
#include "veskio2/Vesk.h"
#include "veskio2/VeskConfig.h"

using namespace veskio2;

namespace {

// A type of this file's own, so that argument-dependent lookup finds the
// Put overloads below for the entries of a list.
class Json : public veskio2::JsonWriter {
public:
  using JsonWriter::JsonWriter;
};

// Hands JSON text to standard output.
void WriteOut(const std::string& text) {
  std::cout.write(text.data(), static_cast<std::streamsize>(text.size()));
  if (!std::cout) throw std::runtime_error("cannot write to standard output");
}

void Put(Json& json, const Vector3<float>& v) {
  json.BeginArray();
  json.Float(v.x);
  json.Float(v.y);
  json.Float(v.z);
  json.EndArray();
}

void Put(Json& json, const vesk::vgtf::Complex& c) {
  json.BeginArray();
  json.Float(c.real());
  json.Float(c.imag());
  json.EndArray();
}

void Put(Json& json, const Position<float>& p) {
  json.BeginObject();
  json.Key("x");
  json.Float(p.GetDirection().x);
  json.Key("y");
  json.Float(p.GetDirection().y);
  json.Key("z");
  json.Float(p.GetDirection().z);
  if (p.HasDistance()) {
    json.Key("distance");
    json.Float(p.GetDistance());
  }
  json.EndObject();
}

void Put(Json& json, const Glib::ustring& text) { json.String(text.raw()); }
void Put(Json& json, int value) { json.Integer(value); }
void Put(Json& json, unsigned int value) { json.Integer(value); }

template <typename T>
void Put(Json& json, const std::vector<T>& list) {
  json.BeginArray();
  for (const T& entry : list) Put(json, entry);
  json.EndArray();
}

// Writes `"key": value` when the field is set.
#define VESKDUMP_FIELD(object, Name, name) \
  if ((object).Has##Name()) {              \
    json.Key(#name);                       \
    Put(json, (object).Get##Name());       \
  }

void PutVersion(Json& json, const std::string& version) {
  json.Key("version");
  json.String(version);
}

void Put(Json& json, const veskconfig::File1& file) {
  json.BeginObject();
  PutVersion(json, std::to_string(file.GetVersion()));
  VESKDUMP_FIELD(file, Name, name)
  VESKDUMP_FIELD(file, MicIndices, micIndices)
  json.EndObject();
}

void Put(Json& json, const veskconfig::Source2& source) {
  json.BeginObject();
  PutVersion(json, std::to_string(source.GetVersion()));
  VESKDUMP_FIELD(source, Position, position)
  VESKDUMP_FIELD(source, CutStart, cutStart)
  VESKDUMP_FIELD(source, CutEnd, cutEnd)
  VESKDUMP_FIELD(source, Files, files)
  json.EndObject();
}

void Put(Json& json, const veskconfig::Mic1& mic) {
  json.BeginObject();
  PutVersion(json, std::to_string(mic.GetVersion()));
  VESKDUMP_FIELD(mic, MicIndex, micIndex)
  VESKDUMP_FIELD(mic, Position, position)
  json.EndObject();
}

void Put(Json& json, const veskconfig::NoiseSource1& source) {
  json.BeginObject();
  PutVersion(json, std::to_string(source.GetVersion()));
  VESKDUMP_FIELD(source, Index, index)
  VESKDUMP_FIELD(source, Position, position)
  json.EndObject();
}

void Put(Json& json, const veskconfig::OriginalImpulseFile& origin) {
  json.BeginObject();
  json.Key("name");
  json.String(origin.name.raw());
  json.Key("kind");
  json.Integer(origin.kind);
  json.EndObject();
}

using vesk::VeskFileVisitor;

// Checks a whole transfer-function file without looking at its arrays.
class Checker : public VeskFileVisitor {
public:
  void BeginDataSet(const std::string&, const Version&) override {}
  void EndDataSet() override {}
  void Int(const char*, int32_t) override {}
  void Text(const char*, const Glib::ustring&) override {}
  bool BeginArray(const char*, ValueType, const std::vector<uint64_t>&) override { return false; }
  void EndArray() override {}
};

// Prints each data set as an object with its id, version, numbers and
// texts; what becomes of the arrays is left to the derived printer.
class DataSetPrinter : public VeskFileVisitor {
public:
  explicit DataSetPrinter(Json& json) : json_(json) {}

  void BeginDataSet(const std::string& id, const Version& version) override {
    json_.BeginObject();
    json_.Key("id");
    json_.String(id);
    PutVersion(json_, version.ToString());
  }
  void EndDataSet() override { json_.EndObject(); }
  void Int(const char* field, int32_t value) override {
    json_.Key(field);
    json_.Integer(value);
  }
  void Text(const char* field, const Glib::ustring& value) override {
    json_.Key(field);
    Put(json_, value);
  }

protected:
  Json& json_;
};

// Prints each data set as the file is read: `"key":value` per field, lists
// and arrays as nested lists, opened and closed as the values come.
class Printer : public DataSetPrinter {
public:
  using DataSetPrinter::DataSetPrinter;

  bool BeginArray(const char* field, ValueType, const std::vector<uint64_t>& dims) override {
    json_.Key(field);
    dims_ = dims;
    index_.assign(dims.size(), 0);
    const auto zero = std::find(dims.begin(), dims.end(), 0);
    if (zero != dims.end()) {
      // No values will come: the empty lists are printed now (the reader
      // bounds their number).
      PutEmpty(0, static_cast<std::size_t>(zero - dims.begin()));
      open_ = false;
    } else {
      for (std::size_t level = 0; level < dims.size(); ++level) json_.BeginArray();
      open_ = true;
    }
    return true;
  }
  void Values(const Vector3<float>* values, std::size_t count) override { PutAll(values, count); }
  void Values(const vesk::vgtf::Complex* values, std::size_t count) override { PutAll(values, count); }
  void Values(const uint32_t* values, std::size_t count) override { PutAll(values, count); }
  void EndArray() override {}

private:
  void PutEmpty(std::size_t level, std::size_t zero) {
    json_.BeginArray();
    if (level < zero)
      for (uint64_t i = 0; i < dims_[level]; ++i) PutEmpty(level + 1, zero);
    json_.EndArray();
  }

  template <typename T>
  void PutAll(const T* values, std::size_t count) {
    for (std::size_t i = 0; i < count && open_; ++i) {
      Put(json_, values[i]);
      // Close every list that is now full and open its next sibling.
      std::size_t level = dims_.size() - 1;
      while (++index_[level] == dims_[level]) {
        json_.EndArray();
        if (level == 0) {
          open_ = false;
          return;
        }
        index_[level] = 0;
        --level;
      }
      for (++level; level < dims_.size(); ++level) json_.BeginArray();
    }
  }

  std::vector<uint64_t> dims_;
  std::vector<uint64_t> index_;
  bool open_ = false;
};

// Range of a set of positions (metres): per coordinate and of the distance
// from the origin; non-finite positions are counted apart.
class PositionRange {
public:
  void Add(const Vector3<float>& v) {
    if (!std::isfinite(v.x) || !std::isfinite(v.y) || !std::isfinite(v.z)) {
      ++nonFinite_;
      return;
    }
    const float distance = static_cast<float>(std::sqrt(double{v.x} * v.x + double{v.y} * v.y + double{v.z} * v.z));
    if (count_++ == 0) {
      min_ = max_ = v;
      minDistance_ = maxDistance_ = distance;
      return;
    }
    min_ = Vector3<float>(std::min(min_.x, v.x), std::min(min_.y, v.y), std::min(min_.z, v.z));
    max_ = Vector3<float>(std::max(max_.x, v.x), std::max(max_.y, v.y), std::max(max_.z, v.z));
    minDistance_ = std::min(minDistance_, distance);
    maxDistance_ = std::max(maxDistance_, distance);
  }

  // "min":[x,y,z],"max":[x,y,z],"distance":[min,max] when any position is
  // finite, and "nonFinite":n when any is not.
  void Put(Json& json) const {
    if (count_ > 0) {
      json.Key("min");
      ::Put(json, min_);
      json.Key("max");
      ::Put(json, max_);
      json.Key("distance");
      json.BeginArray();
      json.Float(minDistance_);
      json.Float(maxDistance_);
      json.EndArray();
    }
    if (nonFinite_ > 0) {
      json.Key("nonFinite");
      json.Integer(static_cast<long long>(nonFinite_));
    }
  }

private:
  uint64_t count_ = 0, nonFinite_ = 0;
  Vector3<float> min_, max_;
  float minDistance_ = 0, maxDistance_ = 0;
};

// Prints the counts and texts of each data set, and each list or array as
// {"shape":[…]} with the range of positions or bin indices; the transfer
// functions themselves are not read.
class Summary : public DataSetPrinter {
public:
  using DataSetPrinter::DataSetPrinter;

  bool BeginArray(const char* field, ValueType type, const std::vector<uint64_t>& dims) override {
    json_.Key(field);
    json_.BeginObject();
    json_.Key("shape");
    json_.BeginArray();
    for (uint64_t d : dims) json_.Integer(static_cast<long long>(d));
    json_.EndArray();
    type_ = type;
    range_ = PositionRange();
    indices_ = 0;
    return type != ValueType::Complex;
  }
  void Values(const Vector3<float>* values, std::size_t count) override {
    for (std::size_t i = 0; i < count; ++i) range_.Add(values[i]);
  }
  void Values(const uint32_t* values, std::size_t count) override {
    for (std::size_t i = 0; i < count; ++i) {
      minIndex_ = indices_ == 0 ? values[i] : std::min(minIndex_, values[i]);
      maxIndex_ = indices_ == 0 ? values[i] : std::max(maxIndex_, values[i]);
      ++indices_;
    }
  }
  void EndArray() override {
    if (type_ == ValueType::Vector3) range_.Put(json_);
    if (type_ == ValueType::U32 && indices_ > 0) {
      json_.Key("min");
      json_.Integer(minIndex_);
      json_.Key("max");
      json_.Integer(maxIndex_);
    }
    json_.EndObject();
  }

private:
  ValueType type_ = ValueType::Complex;
  PositionRange range_;
  uint64_t indices_ = 0;
  uint32_t minIndex_ = 0, maxIndex_ = 0;
};

// A list of configuration elements as {"count":n} and the range of their
// positions.
template <typename Element>
void PutSummary(Json& json, const std::vector<Element>& list) {
  PositionRange range;
  for (const Element& e : list)
    if (e.HasPosition()) range.Add(e.GetPosition().ToCartesian());
  json.BeginObject();
  json.Key("count");
  json.Integer(static_cast<long long>(list.size()));
  range.Put(json);
  json.EndObject();
}

// Writes `"key": list` when the list field is set: whole, or as its summary.
#define VESKDUMP_LIST(object, Name, name)     \
  if ((object).Has##Name()) {                 \
    json.Key(#name);                          \
    if (summary)                              \
      PutSummary(json, (object).Get##Name()); \
    else                                      \
      Put(json, (object).Get##Name());        \
  }

void PutConfig(Json& json, const veskconfig::VeskConfigFile& file, bool summary) {
  using namespace veskconfig;
  json.BeginObject();
  json.Key("id");
  json.String(file.GetId().raw());
  PutVersion(json, file.GetVersion().ToString());
  VESKDUMP_FIELD(file, Comment, comment)
  if (const auto* mic = dynamic_cast<const MicArrayLocationFile2_0*>(&file)) {
    VESKDUMP_LIST(*mic, Mics, mics)
  } else if (const auto* noise = dynamic_cast<const NoiseLocationFile2_0*>(&file)) {
    VESKDUMP_LIST(*noise, NoiseSources, noiseSources)
  } else if (const auto* ir = dynamic_cast<const ImpulseResponseListFile2_0*>(&file)) {
    VESKDUMP_FIELD(*ir, NumMic, numMic)
    VESKDUMP_FIELD(*ir, NumInner, numInner)
    VESKDUMP_LIST(*ir, Sources, sources)
  } else if (const auto* tsp = dynamic_cast<const TSPListFile2_0*>(&file)) {
    VESKDUMP_FIELD(*tsp, NumMic, numMic)
    VESKDUMP_FIELD(*tsp, NumInner, numInner)
    VESKDUMP_FIELD(*tsp, SynchronousAverage, synchronousAverage)
    VESKDUMP_FIELD(*tsp, TspOffset, tspOffset)
    VESKDUMP_FIELD(*tsp, TspLength, tspLength)
    VESKDUMP_FIELD(*tsp, SignalMax, signalMax)
    VESKDUMP_FIELD(*tsp, OriginalImpulseFile, originalImpulseFile)
    VESKDUMP_LIST(*tsp, Sources, sources)
  }
  json.EndObject();
}

const char kUsage[] = "usage: veskdump [--summary] FILE\n";
const char kHelp[] =
    "Prints a configuration file (XML) or a transfer-function file (binary) as one\n"
    "line of JSON on standard output.\n"
    "\n"
    "  --summary  no arrays: the counts, texts and sampling rate, the shape of every\n"
    "             list and array, and the range of positions and bin indices\n"
    "  --help     this text\n";

}  // namespace

int main(int argc, char** argv) {
  bool summary = false;
  std::vector<std::string> files;
  bool options = true;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (options && arg == "--") {
      options = false;
    } else if (options && (arg == "--help" || arg == "-h")) {
      std::cout << kUsage << kHelp;
      std::cout.flush();
      return std::cout ? 0 : 1;
    } else if (options && arg == "--summary") {
      summary = true;
    } else if (options && arg.size() > 1 && arg[0] == '-') {
      std::cerr << "veskdump: unknown option " << arg << '\n' << kUsage;
      return 1;
    } else {
      files.push_back(arg);
    }
  }
  if (files.size() != 1) {
    std::cerr << kUsage;
    return 1;
  }
  const std::string path = files[0];
  try {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error(path + ": cannot open: " + std::strerror(errno));
    char magic[8] = {};
    in.read(magic, sizeof magic);
    const bool binary = in.gcount() == 8 && std::memcmp(magic, "VESKFILE", 8) == 0;
    Json json(WriteOut);
    if (binary) {
      // Nothing is printed for a file that fails.
      in.clear();
      in.seekg(0);
      Checker checker;
      vesk::VeskFileBinaryReader(in).Visit(checker);
      in.clear();
      in.seekg(0);
      if (!in) throw std::runtime_error(path + ": cannot read it again");
      json.BeginObject();
      json.Key("dataSets");
      json.BeginArray();
      if (summary) {
        Summary printer(json);
        vesk::VeskFileBinaryReader(in).Visit(printer);
      } else {
        Printer printer(json);
        vesk::VeskFileBinaryReader(in).Visit(printer);
      }
      json.EndArray();
      json.EndObject();
    } else {
      in.close();
      const auto file = veskconfig::VeskConfigFileXMLReader(path).Read();
      PutConfig(json, *file, summary);
    }
    json.Newline();
    json.Flush();
    std::cout.flush();
    if (!std::cout) throw std::runtime_error("cannot write to standard output");
  } catch (const std::exception& e) {
    std::cout.flush();
    std::cerr << "veskdump: " << e.what() << std::endl;
    return 1;
  }
  return 0;
}
