// Configuration objects to indented XML text.
#include <cstdio>
#include <ostream>
#include <sstream>
#include <stdexcept>

#include "NumberText.h"
#include "veskio2/VeskConfig.h"

namespace veskio2 {
namespace veskconfig {

namespace {

bool IsXmlChar(gunichar c) {
  return c == 0x9 || c == 0xA || c == 0xD || (c >= 0x20 && c <= 0xD7FF) || (c >= 0xE000 && c <= 0xFFFD) ||
         (c >= 0x10000 && c <= 0x10FFFF);
}

// Escapes for element content and attribute values alike. A carriage return
// is written as a reference so that it survives the parser's line-end
// normalisation; tab and line feed too, because in attributes they would be
// turned into spaces.
std::string Escape(const Glib::ustring& text, const char* field) {
  if (!text.validate()) throw std::runtime_error(std::string("cannot write ") + field + ": text is not valid UTF-8");
  std::string out;
  out.reserve(text.bytes());
  for (auto it = text.begin(); it != text.end(); ++it) {
    const gunichar c = *it;
    if (!IsXmlChar(c)) {
      char code[16];
      std::snprintf(code, sizeof code, "U+%04X", static_cast<unsigned int>(c));
      throw std::runtime_error(std::string("cannot write ") + field + ": character " + code + " cannot be held in XML");
    }
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      case '\r':
        out += "&#13;";
        break;
      case '\t':
        out += "&#9;";
        break;
      case '\n':
        out += "&#10;";
        break;
      default:
        out += Glib::ustring(1, c).raw();
    }
  }
  return out;
}

// Builds the document in memory so that a refused value leaves the stream
// untouched.
class XmlText {
public:
  void Open(const std::string& tag, const std::string& attributes = std::string()) {
    Indent();
    text_ << '<' << tag << attributes << ">\n";
    ++depth_;
  }
  void Close(const std::string& tag) {
    --depth_;
    Indent();
    text_ << "</" << tag << ">\n";
  }
  void Leaf(const std::string& tag, const std::string& escapedContent, const std::string& attributes = std::string()) {
    Indent();
    text_ << '<' << tag << attributes << '>' << escapedContent << "</" << tag << ">\n";
  }
  void Empty(const std::string& tag, const std::string& attributes) {
    Indent();
    text_ << '<' << tag << attributes << "/>\n";
  }
  std::string Str() const { return text_.str(); }

private:
  void Indent() { text_ << std::string(2 * depth_, ' '); }
  std::ostringstream text_;
  int depth_ = 0;
};

std::string Attribute(const char* name, const std::string& escapedValue) {
  return std::string(" ") + name + "=\"" + escapedValue + "\"";
}

std::string VersionAttribute(int version) { return Attribute("version", std::to_string(version)); }

void WritePosition(XmlText& xml, const Position<float>& position) {
  const Vector3<float>& d = position.GetDirection();
  std::string attributes = Attribute("x", detail::FloatToText(d.x)) + Attribute("y", detail::FloatToText(d.y)) +
                           Attribute("z", detail::FloatToText(d.z));
  if (position.HasDistance()) attributes += Attribute("distance", detail::FloatToText(position.GetDistance()));
  xml.Empty("position", attributes);
}

void WriteUnsigned(XmlText& xml, const char* tag, unsigned int value) { xml.Leaf(tag, std::to_string(value)); }

void WriteText(XmlText& xml, const char* tag, const Glib::ustring& value) { xml.Leaf(tag, Escape(value, tag)); }

void OpenFile(XmlText& xml, const VeskConfigFile& file) {
  xml.Open("veskconfig",
           Attribute("id", Escape(file.GetId(), "id")) + Attribute("version", file.GetVersion().ToString()));
  if (file.HasComment()) WriteText(xml, "comment", file.GetComment());
}

void WriteFile1(XmlText& xml, const File1& file) {
  xml.Open("file", VersionAttribute(file.GetVersion()));
  if (file.HasName()) WriteText(xml, "name", file.GetName());
  if (file.HasMicIndices()) {
    xml.Open("micIndices");
    for (unsigned int index : file.GetMicIndices()) WriteUnsigned(xml, "micIndex", index);
    xml.Close("micIndices");
  }
  xml.Close("file");
}

void WriteSources(XmlText& xml, const std::vector<Source2>& sources) {
  xml.Open("sources");
  for (const Source2& source : sources) {
    xml.Open("source", VersionAttribute(source.GetVersion()));
    if (source.HasPosition()) WritePosition(xml, source.GetPosition());
    if (source.HasCutStart()) xml.Leaf("cutStart", std::to_string(source.GetCutStart()));
    if (source.HasCutEnd()) xml.Leaf("cutEnd", std::to_string(source.GetCutEnd()));
    if (source.HasFiles()) {
      xml.Open("files");
      for (const File1& file : source.GetFiles()) WriteFile1(xml, file);
      xml.Close("files");
    }
    xml.Close("source");
  }
  xml.Close("sources");
}

void Finish(std::ostream& out, const std::string& body) {
  out << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n" << body;
  out.flush();
  if (!out) throw std::runtime_error("cannot write configuration file: output stream failed");
}

}  // namespace

VeskConfigFileXMLWriter::VeskConfigFileXMLWriter(std::ostream& out) : out_(out) {}

void VeskConfigFileXMLWriter::Write(const MicArrayLocationFile2_0& file) {
  XmlText xml;
  OpenFile(xml, file);
  if (file.HasMics()) {
    xml.Open("mics");
    for (const Mic1& mic : file.GetMics()) {
      xml.Open("mic", VersionAttribute(mic.GetVersion()));
      if (mic.HasMicIndex()) WriteUnsigned(xml, "micIndex", mic.GetMicIndex());
      if (mic.HasPosition()) WritePosition(xml, mic.GetPosition());
      xml.Close("mic");
    }
    xml.Close("mics");
  }
  xml.Close("veskconfig");
  Finish(out_, xml.Str());
}

void VeskConfigFileXMLWriter::Write(const NoiseLocationFile2_0& file) {
  XmlText xml;
  OpenFile(xml, file);
  if (file.HasNoiseSources()) {
    xml.Open("noiseSources");
    for (const NoiseSource1& source : file.GetNoiseSources()) {
      xml.Open("noiseSource", VersionAttribute(source.GetVersion()));
      if (source.HasIndex()) WriteUnsigned(xml, "index", source.GetIndex());
      if (source.HasPosition()) WritePosition(xml, source.GetPosition());
      xml.Close("noiseSource");
    }
    xml.Close("noiseSources");
  }
  xml.Close("veskconfig");
  Finish(out_, xml.Str());
}

void VeskConfigFileXMLWriter::Write(const ImpulseResponseListFile2_0& file) {
  XmlText xml;
  OpenFile(xml, file);
  if (file.HasNumMic()) WriteUnsigned(xml, "numMic", file.GetNumMic());
  if (file.HasNumInner()) WriteUnsigned(xml, "numInner", file.GetNumInner());
  if (file.HasSources()) WriteSources(xml, file.GetSources());
  xml.Close("veskconfig");
  Finish(out_, xml.Str());
}

void VeskConfigFileXMLWriter::Write(const TSPListFile2_0& file) {
  XmlText xml;
  OpenFile(xml, file);
  if (file.HasNumMic()) WriteUnsigned(xml, "numMic", file.GetNumMic());
  if (file.HasNumInner()) WriteUnsigned(xml, "numInner", file.GetNumInner());
  if (file.HasSynchronousAverage()) WriteUnsigned(xml, "synchronousAverage", file.GetSynchronousAverage());
  if (file.HasTspOffset()) WriteUnsigned(xml, "tspOffset", file.GetTspOffset());
  if (file.HasTspLength()) WriteUnsigned(xml, "tspLength", file.GetTspLength());
  if (file.HasSignalMax()) WriteUnsigned(xml, "signalMax", file.GetSignalMax());
  if (file.HasOriginalImpulseFile()) {
    const OriginalImpulseFile& origin = file.GetOriginalImpulseFile();
    if (origin.kind != OriginalImpulseFile::PCM_WAVE && origin.kind != OriginalImpulseFile::RAW_FLOAT)
      throw std::runtime_error("cannot write originalImpulseFile: kind " + std::to_string(origin.kind) +
                               " is neither 0 nor 1");
    xml.Leaf("originalImpulseFile", Escape(origin.name, "originalImpulseFile"),
             Attribute("kind", std::to_string(origin.kind)));
  }
  if (file.HasSources()) WriteSources(xml, file.GetSources());
  xml.Close("veskconfig");
  Finish(out_, xml.Str());
}

}  // namespace veskconfig
}  // namespace veskio2
