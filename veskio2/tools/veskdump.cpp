// veskdump FILE: prints a configuration XML file or a binary
// transfer-function file as JSON on standard output.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#include <boost/pointer_cast.hpp>

#include "NumberText.h"
#include "veskio2/Vesk.h"
#include "veskio2/VeskConfig.h"

using namespace veskio2;

namespace {

// Compact JSON built in memory; commas are placed by the nesting state.
class Json {
public:
  void BeginObject() { Open('{'); }
  void EndObject() { Close('}'); }
  void BeginArray() { Open('['); }
  void EndArray() { Close(']'); }
  void Key(const char* key) {
    Separate();
    Quote(key);
    out_ += ':';
    afterKey_ = true;
  }
  void String(const std::string& text) {
    Separate();
    Quote(text);
  }
  void Integer(long long value) {
    Separate();
    out_ += std::to_string(value);
  }
  // Shortest round-trip text; non-finite values as strings.
  void Float(float value) {
    Separate();
    const std::string text = detail::FloatToText(value);
    if (text == "nan" || text == "inf" || text == "-inf")
      Quote(text);
    else
      out_ += text;
  }
  const std::string& Text() const { return out_; }

private:
  void Separate() {
    if (afterKey_) {
      afterKey_ = false;
      return;
    }
    if (!first_.empty()) {
      if (!first_.back()) out_ += ',';
      first_.back() = false;
    }
  }
  void Open(char c) {
    Separate();
    out_ += c;
    first_.push_back(true);
  }
  void Close(char c) {
    first_.pop_back();
    out_ += c;
  }
  // Escapes quotes, backslashes and control characters; valid UTF-8 passes
  // as is, and in a text that is not valid UTF-8 every non-ASCII byte
  // becomes U+FFFD.
  void Quote(const std::string& text) {
    const bool valid = Glib::ustring(text).validate();
    out_ += '"';
    for (unsigned char c : text) {
      switch (c) {
        case '"': out_ += "\\\""; break;
        case '\\': out_ += "\\\\"; break;
        case '\n': out_ += "\\n"; break;
        case '\r': out_ += "\\r"; break;
        case '\t': out_ += "\\t"; break;
        case '\b': out_ += "\\b"; break;
        case '\f': out_ += "\\f"; break;
        default:
          if (c < 0x20) {
            char code[8];
            std::snprintf(code, sizeof code, "\\u%04x", c);
            out_ += code;
          } else if (c >= 0x80 && !valid) {
            out_ += "\\ufffd";
          } else {
            out_ += static_cast<char>(c);
          }
      }
    }
    out_ += '"';
  }

  std::string out_;
  std::vector<bool> first_;
  bool afterKey_ = false;
};

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

void PutConfig(Json& json, const veskconfig::VeskConfigFile& file) {
  using namespace veskconfig;
  json.BeginObject();
  json.Key("id");
  json.String(file.GetId().raw());
  PutVersion(json, file.GetVersion().ToString());
  VESKDUMP_FIELD(file, Comment, comment)
  if (const auto* mic = dynamic_cast<const MicArrayLocationFile2_0*>(&file)) {
    VESKDUMP_FIELD(*mic, Mics, mics)
  } else if (const auto* noise = dynamic_cast<const NoiseLocationFile2_0*>(&file)) {
    VESKDUMP_FIELD(*noise, NoiseSources, noiseSources)
  } else if (const auto* ir = dynamic_cast<const ImpulseResponseListFile2_0*>(&file)) {
    VESKDUMP_FIELD(*ir, NumMic, numMic)
    VESKDUMP_FIELD(*ir, NumInner, numInner)
    VESKDUMP_FIELD(*ir, Sources, sources)
  } else if (const auto* tsp = dynamic_cast<const TSPListFile2_0*>(&file)) {
    VESKDUMP_FIELD(*tsp, NumMic, numMic)
    VESKDUMP_FIELD(*tsp, NumInner, numInner)
    VESKDUMP_FIELD(*tsp, SynchronousAverage, synchronousAverage)
    VESKDUMP_FIELD(*tsp, TspOffset, tspOffset)
    VESKDUMP_FIELD(*tsp, TspLength, tspLength)
    VESKDUMP_FIELD(*tsp, SignalMax, signalMax)
    VESKDUMP_FIELD(*tsp, OriginalImpulseFile, originalImpulseFile)
    VESKDUMP_FIELD(*tsp, Sources, sources)
  }
  json.EndObject();
}

void PutDataSet(Json& json, const vesk::DataSet& dataSet) {
  using namespace vesk::vgtf;
  json.BeginObject();
  json.Key("id");
  json.String(dataSet.GetId().raw());
  if (const auto* fmt = dynamic_cast<const Fmt1_0*>(&dataSet)) {
    PutVersion(json, fmt->GetVersion().ToString());
    VESKDUMP_FIELD(*fmt, FormatType, formatType)
    VESKDUMP_FIELD(*fmt, MicCount, micCount)
    VESKDUMP_FIELD(*fmt, FftLength, fftLength)
    VESKDUMP_FIELD(*fmt, IrLength, irLength)
    VESKDUMP_FIELD(*fmt, SamplingRate, samplingRate)
    VESKDUMP_FIELD(*fmt, MicPositions, micPositions)
  } else if (const auto* spec = dynamic_cast<const Spec1_0*>(&dataSet)) {
    PutVersion(json, spec->GetVersion().ToString());
    VESKDUMP_FIELD(*spec, Date, date)
    VESKDUMP_FIELD(*spec, Location, location)
    VESKDUMP_FIELD(*spec, Equipment, equipment)
    VESKDUMP_FIELD(*spec, Environment, environment)
    VESKDUMP_FIELD(*spec, User, user)
    VESKDUMP_FIELD(*spec, Note, note)
  } else if (const auto* m2pg = dynamic_cast<const M2PG1_0*>(&dataSet)) {
    PutVersion(json, m2pg->GetVersion().ToString());
    VESKDUMP_FIELD(*m2pg, SourceCount, sourceCount)
    VESKDUMP_FIELD(*m2pg, InnerCount, innerCount)
    VESKDUMP_FIELD(*m2pg, Positions, positions)
    VESKDUMP_FIELD(*m2pg, Tf, tf)
  } else if (const auto* gtf = dynamic_cast<const GTF1_0*>(&dataSet)) {
    PutVersion(json, gtf->GetVersion().ToString());
    VESKDUMP_FIELD(*gtf, SourceCount, sourceCount)
    VESKDUMP_FIELD(*gtf, Positions, positions)
    VESKDUMP_FIELD(*gtf, BinCount, binCount)
    VESKDUMP_FIELD(*gtf, BinIndices, binIndices)
    VESKDUMP_FIELD(*gtf, Tf, tf)
  }
  json.EndObject();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::cerr << "usage: veskdump FILE" << std::endl;
    return 1;
  }
  const std::string path = argv[1];
  try {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error(path + ": cannot open: " + std::strerror(errno));
    char magic[8] = {};
    in.read(magic, sizeof magic);
    const bool binary = in.gcount() == 8 && std::memcmp(magic, "VESKFILE", 8) == 0;
    Json json;
    if (binary) {
      in.clear();
      in.seekg(0);
      const auto file = vesk::VeskFileBinaryReader(in).Read();
      json.BeginObject();
      json.Key("dataSets");
      json.BeginArray();
      for (const auto& dataSet : file->GetDataSets()) PutDataSet(json, *dataSet);
      json.EndArray();
      json.EndObject();
    } else {
      in.close();
      PutConfig(json, *veskconfig::VeskConfigFileXMLReader(path).Read());
    }
    std::cout << json.Text() << '\n';
    std::cout.flush();
    if (!std::cout) throw std::runtime_error("cannot write to standard output");
  } catch (const std::exception& e) {
    std::cerr << "veskdump: " << e.what() << std::endl;
    return 1;
  }
  return 0;
}
