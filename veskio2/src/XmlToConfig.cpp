// XML text to configuration objects.
#include <libxml/parser.h>
#include <libxml++/nodes/cdatanode.h>
#include <libxml++/nodes/commentnode.h>
#include <libxml++/nodes/element.h>
#include <libxml++/nodes/entityreference.h>
#include <libxml++/nodes/processinginstructionnode.h>
#include <libxml++/nodes/textnode.h>
#include <libxml++/parsers/domparser.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <set>

#include <boost/make_shared.hpp>

#include "NumberText.h"
#include "veskio2/VeskConfig.h"

namespace veskio2 {
namespace veskconfig {

namespace {

// libxml2 prints parse errors on standard error besides handing them to
// libxml++; keep the library quiet while it parses for us.
class QuietLibxml {
public:
  QuietLibxml() : savedFunc_(xmlGenericError), savedContext_(xmlGenericErrorContext) {
    xmlSetGenericErrorFunc(nullptr, &Discard);
  }
  ~QuietLibxml() { xmlSetGenericErrorFunc(savedContext_, savedFunc_); }
  QuietLibxml(const QuietLibxml&) = delete;
  QuietLibxml& operator=(const QuietLibxml&) = delete;

private:
  static void Discard(void*, const char*, ...) {}
  xmlGenericErrorFunc savedFunc_;
  void* savedContext_;
};

class Reader {
public:
  explicit Reader(const std::string& displayName) : name_(displayName) {}

  [[noreturn]] void Fail(const std::string& reason) const { throw AnalyzeError(name_ + ": " + reason); }
  [[noreturn]] void Fail(const xmlpp::Node& node, const std::string& reason) const {
    throw AnalyzeError(name_ + ":" + std::to_string(node.get_line()) + ": " + reason);
  }

  boost::shared_ptr<VeskConfigFile> ReadRoot(const xmlpp::Element& root) const;

private:
  // Child elements of a container or record by name; text other than
  // whitespace, entity references and unknown or repeated elements fail.
  using Children = std::map<std::string, const xmlpp::Element*>;
  Children Fields(const xmlpp::Element& element, const std::set<std::string>& allowed) const;
  std::vector<const xmlpp::Element*> Items(const xmlpp::Element& container,
                                           const std::string& itemName) const;
  void CheckAttributes(const xmlpp::Element& element, const std::set<std::string>& allowed) const;
  std::string RequiredAttribute(const xmlpp::Element& element, const std::string& name) const;
  void CheckElementVersion(const xmlpp::Element& element, int known) const;

  // Whitespace, comments and instructions are fine between fields; text
  // and entity references are not.
  void CheckNotContent(const xmlpp::Node& node, const xmlpp::Element& parent) const;
  // The element's text, verbatim; it may carry only `attributes`.
  Glib::ustring Text(const xmlpp::Element& element, const std::set<std::string>& attributes = {}) const;
  unsigned int Unsigned(const xmlpp::Element& element) const;
  int Int(const xmlpp::Element& element) const;
  float Float(const xmlpp::Element& element, const std::string& attribute) const;
  Position<float> ReadPosition(const xmlpp::Element& element) const;
  std::vector<unsigned int> ReadMicIndices(const xmlpp::Element& element) const;
  File1 ReadFile1(const xmlpp::Element& element) const;
  Source2 ReadSource2(const xmlpp::Element& element) const;
  std::vector<Source2> ReadSources(const xmlpp::Element& element) const;
  Mic1 ReadMic1(const xmlpp::Element& element) const;
  NoiseSource1 ReadNoiseSource1(const xmlpp::Element& element) const;

  std::string name_;
};

std::string Quoted(const std::string& text) { return "\"" + text + "\""; }

// libxml2 numbers a text node by the line where it ends; messages point at
// its first visible character instead.
int FirstVisibleLine(const xmlpp::ContentNode& node) {
  const std::string text = node.get_content();
  const auto visible = text.find_first_not_of(" \t\r\n");
  const auto total = std::count(text.begin(), text.end(), '\n');
  const auto before = std::count(text.begin(), text.begin() + static_cast<std::ptrdiff_t>(
                                                                 visible == std::string::npos ? 0 : visible),
                                 '\n');
  return node.get_line() - static_cast<int>(total - before);
}

Reader::Children Reader::Fields(const xmlpp::Element& element,
                                const std::set<std::string>& allowed) const {
  Children children;
  for (const xmlpp::Node* node : element.get_children()) {
    if (const auto* child = dynamic_cast<const xmlpp::Element*>(node)) {
      const std::string name = child->get_name();
      if (!allowed.count(name))
        Fail(*child, "unexpected element <" + name + "> in <" + element.get_name() + ">");
      if (!children.emplace(name, child).second)
        Fail(*child, "repeated element <" + name + "> in <" + element.get_name() + ">");
    } else {
      CheckNotContent(*node, element);
    }
  }
  return children;
}

std::vector<const xmlpp::Element*> Reader::Items(const xmlpp::Element& container,
                                                 const std::string& itemName) const {
  CheckAttributes(container, {});
  std::vector<const xmlpp::Element*> items;
  for (const xmlpp::Node* node : container.get_children()) {
    if (const auto* child = dynamic_cast<const xmlpp::Element*>(node)) {
      if (child->get_name() != itemName)
        Fail(*child, "expected <" + itemName + "> in <" + container.get_name() + ">, found <" +
                         child->get_name() + ">");
      items.push_back(child);
    } else {
      CheckNotContent(*node, container);
    }
  }
  return items;
}

void Reader::CheckAttributes(const xmlpp::Element& element,
                             const std::set<std::string>& allowed) const {
  for (const xmlpp::Attribute* attribute : element.get_attributes()) {
    const std::string name = attribute->get_name();
    if (!allowed.count(name))
      Fail(element, "unexpected attribute " + name + " in <" + element.get_name() + ">");
  }
}

std::string Reader::RequiredAttribute(const xmlpp::Element& element, const std::string& name) const {
  if (!element.get_attribute(name))
    Fail(element, "missing attribute " + name + " in <" + element.get_name() + ">");
  return element.get_attribute_value(name);
}

void Reader::CheckElementVersion(const xmlpp::Element& element, int known) const {
  const std::string text = RequiredAttribute(element, "version");
  unsigned int version = 0;
  std::string reason;
  if (!detail::TextToUnsigned(text, version, reason) || version != static_cast<unsigned int>(known))
    Fail(element, "unknown version " + Quoted(text) + " of <" + element.get_name() +
                      "> (known: " + std::to_string(known) + ")");
}

void Reader::CheckNotContent(const xmlpp::Node& node, const xmlpp::Element& parent) const {
  if (dynamic_cast<const xmlpp::CommentNode*>(&node) ||
      dynamic_cast<const xmlpp::ProcessingInstructionNode*>(&node))
    return;
  if (const auto* text = dynamic_cast<const xmlpp::ContentNode*>(&node)) {
    if (!text->is_white_space())
      throw AnalyzeError(name_ + ":" + std::to_string(FirstVisibleLine(*text)) +
                         ": unexpected text in <" + parent.get_name() + ">");
  } else if (dynamic_cast<const xmlpp::EntityReference*>(&node)) {
    Fail(node, "entity reference &" + node.get_name() + "; is not supported");
  }
}

Glib::ustring Reader::Text(const xmlpp::Element& element, const std::set<std::string>& attributes) const {
  CheckAttributes(element, attributes);
  Glib::ustring text;
  for (const xmlpp::Node* node : element.get_children()) {
    if (dynamic_cast<const xmlpp::CommentNode*>(node) ||
        dynamic_cast<const xmlpp::ProcessingInstructionNode*>(node))
      continue;
    if (const auto* content = dynamic_cast<const xmlpp::ContentNode*>(node))
      text += content->get_content();
    else if (dynamic_cast<const xmlpp::EntityReference*>(node))
      Fail(*node, "entity reference &" + node->get_name() + "; is not supported");
    else
      Fail(*node, "unexpected element <" + node->get_name() + "> in <" + element.get_name() + ">");
  }
  return text;
}

unsigned int Reader::Unsigned(const xmlpp::Element& element) const {
  const std::string text = Text(element);
  unsigned int value = 0;
  std::string reason;
  if (!detail::TextToUnsigned(text, value, reason))
    Fail(element, "bad unsigned number " + Quoted(text) + " in <" + element.get_name() + ">: " + reason);
  return value;
}

int Reader::Int(const xmlpp::Element& element) const {
  const std::string text = Text(element);
  int value = 0;
  std::string reason;
  if (!detail::TextToInt(text, value, reason))
    Fail(element, "bad integer " + Quoted(text) + " in <" + element.get_name() + ">: " + reason);
  return value;
}

float Reader::Float(const xmlpp::Element& element, const std::string& attribute) const {
  const std::string text = element.get_attribute_value(attribute);
  float value = 0;
  std::string reason;
  if (!detail::TextToFloat(text, value, reason))
    Fail(element, "bad number " + Quoted(text) + " in attribute " + attribute + " of <" +
                      element.get_name() + ">: " + reason);
  return value;
}

Position<float> Reader::ReadPosition(const xmlpp::Element& element) const {
  CheckAttributes(element, {"x", "y", "z", "distance"});
  Fields(element, {});
  for (const char* axis : {"x", "y", "z"}) RequiredAttribute(element, axis);
  Position<float> position(
      Vector3<float>(Float(element, "x"), Float(element, "y"), Float(element, "z")));
  if (element.get_attribute("distance")) position.SetDistance(Float(element, "distance"));
  return position;
}

std::vector<unsigned int> Reader::ReadMicIndices(const xmlpp::Element& element) const {
  std::vector<unsigned int> indices;
  for (const xmlpp::Element* item : Items(element, "micIndex")) indices.push_back(Unsigned(*item));
  return indices;
}

File1 Reader::ReadFile1(const xmlpp::Element& element) const {
  CheckAttributes(element, {"version"});
  CheckElementVersion(element, File1().GetVersion());
  File1 file;
  const Children fields = Fields(element, {"name", "micIndices"});
  auto it = fields.find("name");
  if (it != fields.end()) file.SetName(Text(*it->second));
  it = fields.find("micIndices");
  if (it != fields.end()) file.SetMicIndices(ReadMicIndices(*it->second));
  return file;
}

Source2 Reader::ReadSource2(const xmlpp::Element& element) const {
  CheckAttributes(element, {"version"});
  CheckElementVersion(element, Source2().GetVersion());
  Source2 source;
  const Children fields = Fields(element, {"position", "cutStart", "cutEnd", "files"});
  auto it = fields.find("position");
  if (it != fields.end()) source.SetPosition(ReadPosition(*it->second));
  it = fields.find("cutStart");
  if (it != fields.end()) source.SetCutStart(Int(*it->second));
  it = fields.find("cutEnd");
  if (it != fields.end()) source.SetCutEnd(Int(*it->second));
  it = fields.find("files");
  if (it != fields.end()) {
    std::vector<File1> files;
    for (const xmlpp::Element* item : Items(*it->second, "file")) files.push_back(ReadFile1(*item));
    source.SetFiles(files);
  }
  return source;
}

std::vector<Source2> Reader::ReadSources(const xmlpp::Element& element) const {
  std::vector<Source2> sources;
  for (const xmlpp::Element* item : Items(element, "source")) sources.push_back(ReadSource2(*item));
  return sources;
}

Mic1 Reader::ReadMic1(const xmlpp::Element& element) const {
  CheckAttributes(element, {"version"});
  CheckElementVersion(element, Mic1().GetVersion());
  Mic1 mic;
  const Children fields = Fields(element, {"micIndex", "position"});
  auto it = fields.find("micIndex");
  if (it != fields.end()) mic.SetMicIndex(Unsigned(*it->second));
  it = fields.find("position");
  if (it != fields.end()) mic.SetPosition(ReadPosition(*it->second));
  return mic;
}

NoiseSource1 Reader::ReadNoiseSource1(const xmlpp::Element& element) const {
  CheckAttributes(element, {"version"});
  CheckElementVersion(element, NoiseSource1().GetVersion());
  NoiseSource1 source;
  const Children fields = Fields(element, {"index", "position"});
  auto it = fields.find("index");
  if (it != fields.end()) source.SetIndex(Unsigned(*it->second));
  it = fields.find("position");
  if (it != fields.end()) source.SetPosition(ReadPosition(*it->second));
  return source;
}

// "major.minor" with decimal digits only.
bool ParseVersion(const std::string& text, Version& version) {
  const auto dot = text.find('.');
  if (dot == std::string::npos || dot == 0 || dot + 1 == text.size()) return false;
  const std::string major = text.substr(0, dot), minor = text.substr(dot + 1);
  for (const std::string* part : {&major, &minor})
    if (part->find_first_not_of("0123456789") != std::string::npos) return false;
  unsigned int majorValue = 0, minorValue = 0;
  std::string reason;
  if (!detail::TextToUnsigned(major, majorValue, reason) ||
      !detail::TextToUnsigned(minor, minorValue, reason))
    return false;
  version = Version(majorValue, minorValue);
  return true;
}

boost::shared_ptr<VeskConfigFile> Reader::ReadRoot(const xmlpp::Element& root) const {
  if (root.get_name() != "veskconfig")
    Fail(root, "expected root element <veskconfig>, found <" + root.get_name() + ">");
  CheckAttributes(root, {"id", "version"});
  const std::string id = RequiredAttribute(root, "id");
  const std::string versionText = RequiredAttribute(root, "version");
  Version version;
  if (!ParseVersion(versionText, version))
    Fail(root, "bad version " + Quoted(versionText) + " (expected major.minor)");
  const bool known = id == "MicArrayLocationFile" || id == "NoiseLocationFile" ||
                     id == "ImpulseResponseListFile" || id == "TSPListFile";
  if (!known) Fail(root, "unknown configuration file id " + Quoted(id));
  if (version != Version(2, 0)) Fail(root, "unknown version " + versionText + " of " + id);

  const Children fields = [&]() {
    if (id == "MicArrayLocationFile") return Fields(root, {"comment", "mics"});
    if (id == "NoiseLocationFile") return Fields(root, {"comment", "noiseSources"});
    if (id == "ImpulseResponseListFile")
      return Fields(root, {"comment", "numMic", "numInner", "sources"});
    return Fields(root, {"comment", "numMic", "numInner", "synchronousAverage", "tspOffset",
                         "tspLength", "signalMax", "originalImpulseFile", "sources"});
  }();
  const auto field = [&](const char* name) -> const xmlpp::Element* {
    const auto it = fields.find(name);
    return it == fields.end() ? nullptr : it->second;
  };

  boost::shared_ptr<VeskConfigFile> result;
  if (id == "MicArrayLocationFile") {
    auto file = boost::make_shared<MicArrayLocationFile2_0>();
    if (const auto* e = field("mics")) {
      std::vector<Mic1> mics;
      for (const xmlpp::Element* item : Items(*e, "mic")) mics.push_back(ReadMic1(*item));
      file->SetMics(mics);
    }
    result = file;
  } else if (id == "NoiseLocationFile") {
    auto file = boost::make_shared<NoiseLocationFile2_0>();
    if (const auto* e = field("noiseSources")) {
      std::vector<NoiseSource1> sources;
      for (const xmlpp::Element* item : Items(*e, "noiseSource"))
        sources.push_back(ReadNoiseSource1(*item));
      file->SetNoiseSources(sources);
    }
    result = file;
  } else if (id == "ImpulseResponseListFile") {
    auto file = boost::make_shared<ImpulseResponseListFile2_0>();
    if (const auto* e = field("numMic")) file->SetNumMic(Unsigned(*e));
    if (const auto* e = field("numInner")) file->SetNumInner(Unsigned(*e));
    if (const auto* e = field("sources")) file->SetSources(ReadSources(*e));
    result = file;
  } else {
    auto file = boost::make_shared<TSPListFile2_0>();
    if (const auto* e = field("numMic")) file->SetNumMic(Unsigned(*e));
    if (const auto* e = field("numInner")) file->SetNumInner(Unsigned(*e));
    if (const auto* e = field("synchronousAverage")) file->SetSynchronousAverage(Unsigned(*e));
    if (const auto* e = field("tspOffset")) file->SetTspOffset(Unsigned(*e));
    if (const auto* e = field("tspLength")) file->SetTspLength(Unsigned(*e));
    if (const auto* e = field("signalMax")) file->SetSignalMax(Unsigned(*e));
    if (const auto* e = field("originalImpulseFile")) {
      OriginalImpulseFile origin;
      const std::string kindText = RequiredAttribute(*e, "kind");
      std::string reason;
      if (!detail::TextToUnsigned(kindText, origin.kind, reason) ||
          (origin.kind != OriginalImpulseFile::PCM_WAVE &&
           origin.kind != OriginalImpulseFile::RAW_FLOAT))
        Fail(*e, "bad kind " + Quoted(kindText) + " of <originalImpulseFile> (expected 0 or 1)");
      origin.name = Text(*e, {"kind"});
      file->SetOriginalImpulseFile(origin);
    }
    if (const auto* e = field("sources")) file->SetSources(ReadSources(*e));
    result = file;
  }
  if (const auto* e = field("comment")) result->SetComment(Text(*e));
  return result;
}

// Turns libxml++'s multi-line "Document not well-formed.\nLine 1, column 1
// (fatal):\nreason\n" into one line.
std::string OneLine(const std::string& message) {
  std::string text = message;
  const std::string prefix = "Document not well-formed.\n";
  if (text.compare(0, prefix.size(), prefix) == 0) text.erase(0, prefix.size());
  std::string out;
  for (char c : text) {
    if (c == '\n') {
      if (!out.empty() && out.back() != ' ') out += ' ';
    } else {
      out += c;
    }
  }
  while (!out.empty() && out.back() == ' ') out.pop_back();
  return out;
}

}  // namespace

VeskConfigFileXMLReader::VeskConfigFileXMLReader(const Glib::ustring& fileName) : fileName_(fileName) {}

boost::shared_ptr<VeskConfigFile> VeskConfigFileXMLReader::Read() {
  const std::string path = fileName_.raw();
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path.c_str(), "rb"), &std::fclose);
  if (!file) throw AnalyzeError(path + ": cannot open: " + std::strerror(errno));
  // The parsed tree takes many times the text's size, and a device or pipe
  // may never end: a configuration file larger than this is refused.
  constexpr std::size_t kMaxBytes = std::size_t(64) << 20;
  std::string text;
  char buffer[65536];
  for (;;) {
    const std::size_t got = std::fread(buffer, 1, sizeof buffer, file.get());
    text.append(buffer, got);
    if (text.size() > kMaxBytes) throw AnalyzeError(path + ": file is larger than 64 MiB");
    if (got < sizeof buffer) break;
  }
  if (std::ferror(file.get())) throw AnalyzeError(path + ": cannot read: " + std::strerror(errno));
  return ReadText(text, fileName_);
}

boost::shared_ptr<VeskConfigFile> VeskConfigFileXMLReader::ReadText(const std::string& xml,
                                                                    const Glib::ustring& displayName) {
  const Reader reader(displayName.raw());
  if (xml.empty()) reader.Fail("file is empty");
  // libxml2 takes the length as an int.
  if (xml.size() > 0x7fffffffu) reader.Fail("file is too large");
  xmlpp::DomParser parser;
  // No network, no external DTD, no entity substitution, no size override.
  parser.set_parser_options(XML_PARSE_NONET, XML_PARSE_NOENT | XML_PARSE_DTDLOAD | XML_PARSE_DTDATTR |
                                                  XML_PARSE_DTDVALID | XML_PARSE_XINCLUDE |
                                                  XML_PARSE_HUGE);
  try {
    QuietLibxml quiet;
    parser.parse_memory_raw(reinterpret_cast<const unsigned char*>(xml.data()),
                            static_cast<xmlpp::Parser::size_type>(xml.size()));
  } catch (const std::exception& e) {
    reader.Fail("not well-formed XML: " + OneLine(e.what()));
  }
  const xmlpp::Document* document = parser.get_document();
  const xmlpp::Element* root = document ? document->get_root_node() : nullptr;
  if (!root) reader.Fail("no root element");
  try {
    return reader.ReadRoot(*root);
  } catch (const AnalyzeError&) {
    throw;
  } catch (const std::exception& e) {
    reader.Fail(e.what());
  }
}

}  // namespace veskconfig
}  // namespace veskio2
