// XML text to configuration objects.
#include <libxml/SAX2.h>
#include <libxml/parser.h>
#include <libxml/tree.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>
#include <functional>
#include <initializer_list>
#include <memory>
#include <new>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

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

using Element = xmlNode;

std::string Name(const xmlNode& node) { return node.name ? reinterpret_cast<const char*>(node.name) : std::string(); }
// Name checks run for every node of a list; they compare in place rather
// than build a string each time.
bool NameIs(const xmlNode& node, const char* name) {
  return node.name && std::strcmp(reinterpret_cast<const char*>(node.name), name) == 0;
}
bool NameIs(const xmlAttr& attribute, const char* name) {
  return attribute.name && std::strcmp(reinterpret_cast<const char*>(attribute.name), name) == 0;
}
int Line(const xmlNode& node) { return static_cast<int>(xmlGetLineNo(&node)); }
bool IsElement(const xmlNode& node) { return node.type == XML_ELEMENT_NODE; }
bool IsContent(const xmlNode& node) { return node.type == XML_TEXT_NODE || node.type == XML_CDATA_SECTION_NODE; }
bool IsComment(const xmlNode& node) { return node.type == XML_COMMENT_NODE || node.type == XML_PI_NODE; }
std::string Content(const xmlNode& node) {
  return node.content ? reinterpret_cast<const char*>(node.content) : std::string();
}
const char* ContentText(const xmlNode& node) { return node.content ? reinterpret_cast<const char*>(node.content) : ""; }
const xmlAttr* FindAttribute(const xmlNode& element, const char* name) {
  for (const xmlAttr* a = element.properties; a; a = a->next)
    if (NameIs(*a, name)) return a;
  return nullptr;
}
// The attribute's value (empty when it is absent): in place when the
// parser kept it as one piece, else joined in `scratch`.
std::string_view AttributeView(const xmlNode& element, const char* name, std::string& scratch) {
  const xmlAttr* attribute = FindAttribute(element, name);
  if (!attribute || !attribute->children) return std::string_view();
  if (!attribute->children->next) return ContentText(*attribute->children);
  scratch.clear();
  for (const xmlNode* text = attribute->children; text; text = text->next) scratch += ContentText(*text);
  return scratch;
}
std::string AttributeValue(const xmlNode& element, const char* name) {
  std::string scratch;
  return std::string(AttributeView(element, name, scratch));
}

// Element or attribute names allowed at one place of a file.
using Names = std::initializer_list<const char*>;

// The child elements of a record, one slot per allowed name.
class Children {
public:
  static constexpr std::size_t kMaxNames = 10;
  explicit Children(Names names) : count_(names.size()) {
    if (count_ > kMaxNames) throw std::logic_error("too many field names");
    std::size_t i = 0;
    for (const char* name : names) names_[i++] = name;
  }
  // The slot of `name`, or -1 when it is not allowed.
  int Slot(const char* name) const {
    for (std::size_t i = 0; i < count_; ++i)
      if (std::strcmp(names_[i], name) == 0) return static_cast<int>(i);
    return -1;
  }
  const xmlNode*& At(int slot) { return elements_[slot]; }
  // The child called `name`, or nullptr.
  const xmlNode* Get(const char* name) const {
    const int slot = Slot(name);
    return slot < 0 ? nullptr : elements_[slot];
  }

private:
  const char* names_[kMaxNames] = {};
  const xmlNode* elements_[kMaxNames] = {};
  std::size_t count_;
};

class Reader {
public:
  explicit Reader(const std::string& displayName) : name_(displayName) {}

  const std::string& DisplayName() const { return name_; }
  [[noreturn]] void Fail(const std::string& reason) const { throw AnalyzeError(name_ + ": " + reason); }
  [[noreturn]] void Fail(const xmlNode& node, const std::string& reason) const {
    throw AnalyzeError(name_ + ":" + std::to_string(Line(node)) + ": " + reason);
  }

  // Checks the root element's name, id and version; gives the id.
  std::string CheckRoot(const Element& root) const;
  // The list container that a file of `id` may hold, and its item name.
  static void ListOf(const std::string& id, std::string& container, std::string& item);
  // Reads and removes the items of `container` that the parser has
  // finished (every child with a later sibling), keeping them until
  // ReadRoot, so the tree never holds more than one chunk's items.
  void Harvest(Element& container, const std::string& item);
  boost::shared_ptr<VeskConfigFile> ReadRoot(const Element& root);

private:
  // Child elements of a container or record by name; text other than
  // whitespace, entity references and unknown or repeated elements fail.
  Children Fields(const Element& element, Names allowed) const;
  // Checks that every child of `container` is an `itemName` element (or
  // whitespace, comments), then hands each item to `read` in file order.
  template <typename Read>
  void EachItem(const Element& container, const char* itemName, Read read) const;
  void CheckAttributes(const Element& element, Names allowed) const;
  std::string RequiredAttribute(const Element& element, const char* name) const;
  void CheckElementVersion(const Element& element, int known) const;

  // Whitespace, comments and instructions are fine between fields; text
  // and entity references are not.
  void CheckNotContent(const xmlNode& node, const Element& parent) const;
  // The element's text, verbatim; it may carry only `attributes`. The view
  // points into the tree, or into `scratch` when the text came in pieces.
  std::string_view TextView(const Element& element, std::string& scratch, Names attributes = {}) const;
  Glib::ustring Text(const Element& element, Names attributes = {}) const;
  unsigned int Unsigned(const Element& element) const;
  int Int(const Element& element) const;
  float Float(const Element& element, const char* attribute) const;
  Position<float> ReadPosition(const Element& element) const;
  std::vector<unsigned int> ReadMicIndices(const Element& element) const;
  File1 ReadFile1(const Element& element) const;
  Source2 ReadSource2(const Element& element) const;
  std::vector<Source2> ReadSources(const Element& element) const;
  Mic1 ReadMic1(const Element& element) const;
  NoiseSource1 ReadNoiseSource1(const Element& element) const;

  std::string name_;
  mutable std::string scratch_;  // joined text of numbers in pieces
  // Items read by Harvest, in file order.
  std::vector<Mic1> mics_;
  std::vector<NoiseSource1> noiseSources_;
  std::vector<Source2> sources_;
};

std::string Quoted(const std::string& text) { return "\"" + text + "\""; }

// libxml2 numbers a text node by the line where it ends; messages point at
// its first visible character instead.
int FirstVisibleLine(const xmlNode& node) {
  const std::string text = Content(node);
  const auto visible = text.find_first_not_of(" \t\r\n");
  const auto total = std::count(text.begin(), text.end(), '\n');
  const auto before = std::count(
      text.begin(), text.begin() + static_cast<std::ptrdiff_t>(visible == std::string::npos ? 0 : visible), '\n');
  return Line(node) - static_cast<int>(total - before);
}

Children Reader::Fields(const Element& element, Names allowed) const {
  Children children(allowed);
  for (const xmlNode* node = element.children; node; node = node->next) {
    if (IsElement(*node)) {
      const Element* child = node;
      const int slot = child->name ? children.Slot(reinterpret_cast<const char*>(child->name)) : -1;
      if (slot < 0) Fail(*child, "unexpected element <" + Name(*child) + "> in <" + Name(element) + ">");
      if (children.At(slot)) Fail(*child, "repeated element <" + Name(*child) + "> in <" + Name(element) + ">");
      children.At(slot) = child;
    } else {
      CheckNotContent(*node, element);
    }
  }
  return children;
}

template <typename Read>
void Reader::EachItem(const Element& container, const char* itemName, Read read) const {
  CheckAttributes(container, {});
  // Every child is checked before any item is read, so a misplaced element
  // is reported before a fault inside an earlier item.
  for (const xmlNode* node = container.children; node; node = node->next) {
    if (IsElement(*node)) {
      if (!NameIs(*node, itemName))
        Fail(*node,
             "expected <" + std::string(itemName) + "> in <" + Name(container) + ">, found <" + Name(*node) + ">");
    } else {
      CheckNotContent(*node, container);
    }
  }
  for (const xmlNode* node = container.children; node; node = node->next)
    if (IsElement(*node)) read(*node);
}

void Reader::CheckAttributes(const Element& element, Names allowed) const {
  for (const xmlAttr* attribute = element.properties; attribute; attribute = attribute->next) {
    bool known = false;
    for (const char* name : allowed) known = known || NameIs(*attribute, name);
    if (!known) {
      const std::string name = attribute->name ? reinterpret_cast<const char*>(attribute->name) : "";
      Fail(element, "unexpected attribute " + name + " in <" + Name(element) + ">");
    }
  }
}

std::string Reader::RequiredAttribute(const Element& element, const char* name) const {
  if (!FindAttribute(element, name))
    Fail(element, "missing attribute " + std::string(name) + " in <" + Name(element) + ">");
  return AttributeValue(element, name);
}

void Reader::CheckElementVersion(const Element& element, int known) const {
  if (!FindAttribute(element, "version")) Fail(element, "missing attribute version in <" + Name(element) + ">");
  const std::string_view text = AttributeView(element, "version", scratch_);
  unsigned int version = 0;
  std::string reason;
  if (!detail::TextToUnsigned(text, version, reason) || version != static_cast<unsigned int>(known))
    Fail(element, "unknown version " + Quoted(std::string(text)) + " of <" + Name(element) +
                      "> (known: " + std::to_string(known) + ")");
}

void Reader::CheckNotContent(const xmlNode& node, const Element& parent) const {
  if (IsComment(node)) return;
  if (IsContent(node)) {
    if (!xmlIsBlankNode(const_cast<xmlNode*>(&node)))
      throw AnalyzeError(name_ + ":" + std::to_string(FirstVisibleLine(node)) + ": unexpected text in <" +
                         Name(parent) + ">");
  } else if (node.type == XML_ENTITY_REF_NODE) {
    Fail(node, "entity reference &" + Name(node) + "; is not supported");
  }
}

std::string_view Reader::TextView(const Element& element, std::string& scratch, Names attributes) const {
  CheckAttributes(element, attributes);
  std::string_view text;
  bool joined = false;
  for (const xmlNode* node = element.children; node; node = node->next) {
    if (IsComment(*node)) continue;
    if (IsContent(*node)) {
      if (!joined && text.data() == nullptr) {
        text = ContentText(*node);
      } else {
        if (!joined) scratch.assign(text.data(), text.size());
        joined = true;
        scratch += ContentText(*node);
      }
    } else if (node->type == XML_ENTITY_REF_NODE) {
      Fail(*node, "entity reference &" + Name(*node) + "; is not supported");
    } else {
      Fail(*node, "unexpected element <" + Name(*node) + "> in <" + Name(element) + ">");
    }
  }
  return joined ? std::string_view(scratch) : text;
}

Glib::ustring Reader::Text(const Element& element, Names attributes) const {
  const std::string_view text = TextView(element, scratch_, attributes);
  return Glib::ustring(text.begin(), text.end());
}

unsigned int Reader::Unsigned(const Element& element) const {
  const std::string_view text = TextView(element, scratch_);
  unsigned int value = 0;
  std::string reason;
  if (!detail::TextToUnsigned(text, value, reason))
    Fail(element, "bad unsigned number " + Quoted(std::string(text)) + " in <" + Name(element) + ">: " + reason);
  return value;
}

int Reader::Int(const Element& element) const {
  const std::string_view text = TextView(element, scratch_);
  int value = 0;
  std::string reason;
  if (!detail::TextToInt(text, value, reason))
    Fail(element, "bad integer " + Quoted(std::string(text)) + " in <" + Name(element) + ">: " + reason);
  return value;
}

float Reader::Float(const Element& element, const char* attribute) const {
  const std::string_view text = AttributeView(element, attribute, scratch_);
  float value = 0;
  std::string reason;
  if (!detail::TextToFloat(text, value, reason))
    Fail(element, "bad number " + Quoted(std::string(text)) + " in attribute " + attribute + " of <" + Name(element) +
                      ">: " + reason);
  return value;
}

Position<float> Reader::ReadPosition(const Element& element) const {
  CheckAttributes(element, {"x", "y", "z", "distance"});
  Fields(element, {});
  for (const char* axis : {"x", "y", "z"})
    if (!FindAttribute(element, axis))
      Fail(element, "missing attribute " + std::string(axis) + " in <" + Name(element) + ">");
  Position<float> position(Vector3<float>(Float(element, "x"), Float(element, "y"), Float(element, "z")));
  if (FindAttribute(element, "distance")) position.SetDistance(Float(element, "distance"));
  return position;
}

std::vector<unsigned int> Reader::ReadMicIndices(const Element& element) const {
  std::vector<unsigned int> indices;
  EachItem(element, "micIndex", [&](const Element& item) { indices.push_back(Unsigned(item)); });
  return indices;
}

File1 Reader::ReadFile1(const Element& element) const {
  CheckAttributes(element, {"version"});
  CheckElementVersion(element, File1().GetVersion());
  File1 file;
  const Children fields = Fields(element, {"name", "micIndices"});
  if (const Element* e = fields.Get("name")) file.SetName(Text(*e));
  if (const Element* e = fields.Get("micIndices")) file.SetMicIndices(ReadMicIndices(*e));
  return file;
}

Source2 Reader::ReadSource2(const Element& element) const {
  CheckAttributes(element, {"version"});
  CheckElementVersion(element, Source2().GetVersion());
  Source2 source;
  const Children fields = Fields(element, {"position", "cutStart", "cutEnd", "files"});
  if (const Element* e = fields.Get("position")) source.SetPosition(ReadPosition(*e));
  if (const Element* e = fields.Get("cutStart")) source.SetCutStart(Int(*e));
  if (const Element* e = fields.Get("cutEnd")) source.SetCutEnd(Int(*e));
  if (const Element* e = fields.Get("files")) {
    std::vector<File1> files;
    EachItem(*e, "file", [&](const Element& item) { files.push_back(ReadFile1(item)); });
    source.SetFiles(std::move(files));
  }
  return source;
}

std::vector<Source2> Reader::ReadSources(const Element& element) const {
  std::vector<Source2> sources;
  EachItem(element, "source", [&](const Element& item) { sources.push_back(ReadSource2(item)); });
  return sources;
}

Mic1 Reader::ReadMic1(const Element& element) const {
  CheckAttributes(element, {"version"});
  CheckElementVersion(element, Mic1().GetVersion());
  Mic1 mic;
  const Children fields = Fields(element, {"micIndex", "position"});
  if (const Element* e = fields.Get("micIndex")) mic.SetMicIndex(Unsigned(*e));
  if (const Element* e = fields.Get("position")) mic.SetPosition(ReadPosition(*e));
  return mic;
}

NoiseSource1 Reader::ReadNoiseSource1(const Element& element) const {
  CheckAttributes(element, {"version"});
  CheckElementVersion(element, NoiseSource1().GetVersion());
  NoiseSource1 source;
  const Children fields = Fields(element, {"index", "position"});
  if (const Element* e = fields.Get("index")) source.SetIndex(Unsigned(*e));
  if (const Element* e = fields.Get("position")) source.SetPosition(ReadPosition(*e));
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
  if (!detail::TextToUnsigned(major, majorValue, reason) || !detail::TextToUnsigned(minor, minorValue, reason))
    return false;
  version = Version(majorValue, minorValue);
  return true;
}

std::string Reader::CheckRoot(const Element& root) const {
  if (Name(root) != "veskconfig") Fail(root, "expected root element <veskconfig>, found <" + Name(root) + ">");
  CheckAttributes(root, {"id", "version"});
  const std::string id = RequiredAttribute(root, "id");
  const std::string versionText = RequiredAttribute(root, "version");
  Version version;
  if (!ParseVersion(versionText, version)) Fail(root, "bad version " + Quoted(versionText) + " (expected major.minor)");
  const bool known = id == "MicArrayLocationFile" || id == "NoiseLocationFile" || id == "ImpulseResponseListFile" ||
                     id == "TSPListFile";
  if (!known) Fail(root, "unknown configuration file id " + Quoted(id));
  if (version != Version(2, 0)) Fail(root, "unknown version " + versionText + " of " + id);
  return id;
}

void Reader::ListOf(const std::string& id, std::string& container, std::string& item) {
  if (id == "MicArrayLocationFile") {
    container = "mics";
    item = "mic";
  } else if (id == "NoiseLocationFile") {
    container = "noiseSources";
    item = "noiseSource";
  } else {
    container = "sources";
    item = "source";
  }
}

void Reader::Harvest(Element& container, const std::string& item) {
  CheckAttributes(container, {});
  xmlNode* node = container.children;
  while (node && node->next) {
    xmlNode* next = node->next;
    if (IsElement(*node)) {
      if (!NameIs(*node, item.c_str()))
        Fail(*node, "expected <" + item + "> in <" + Name(container) + ">, found <" + Name(*node) + ">");
      if (item == "mic")
        mics_.push_back(ReadMic1(*node));
      else if (item == "noiseSource")
        noiseSources_.push_back(ReadNoiseSource1(*node));
      else
        sources_.push_back(ReadSource2(*node));
    } else {
      CheckNotContent(*node, container);
    }
    xmlUnlinkNode(node);
    xmlFreeNode(node);
    node = next;
  }
}

boost::shared_ptr<VeskConfigFile> Reader::ReadRoot(const Element& root) {
  const std::string id = CheckRoot(root);
  const Children fields = [&]() {
    if (id == "MicArrayLocationFile") return Fields(root, {"comment", "mics"});
    if (id == "NoiseLocationFile") return Fields(root, {"comment", "noiseSources"});
    if (id == "ImpulseResponseListFile") return Fields(root, {"comment", "numMic", "numInner", "sources"});
    return Fields(root, {"comment", "numMic", "numInner", "synchronousAverage", "tspOffset", "tspLength", "signalMax",
                         "originalImpulseFile", "sources"});
  }();
  const auto field = [&](const char* name) { return fields.Get(name); };

  boost::shared_ptr<VeskConfigFile> result;
  if (id == "MicArrayLocationFile") {
    auto file = boost::make_shared<MicArrayLocationFile2_0>();
    if (const auto* e = field("mics")) {
      std::vector<Mic1> mics = std::move(mics_);
      EachItem(*e, "mic", [&](const Element& item) { mics.push_back(ReadMic1(item)); });
      file->SetMics(std::move(mics));
    }
    result = file;
  } else if (id == "NoiseLocationFile") {
    auto file = boost::make_shared<NoiseLocationFile2_0>();
    if (const auto* e = field("noiseSources")) {
      std::vector<NoiseSource1> sources = std::move(noiseSources_);
      EachItem(*e, "noiseSource", [&](const Element& item) { sources.push_back(ReadNoiseSource1(item)); });
      file->SetNoiseSources(std::move(sources));
    }
    result = file;
  } else if (id == "ImpulseResponseListFile") {
    auto file = boost::make_shared<ImpulseResponseListFile2_0>();
    if (const auto* e = field("numMic")) file->SetNumMic(Unsigned(*e));
    if (const auto* e = field("numInner")) file->SetNumInner(Unsigned(*e));
    if (const auto* e = field("sources")) {
      std::vector<Source2> sources = std::move(sources_);
      for (Source2& source : ReadSources(*e)) sources.push_back(std::move(source));
      file->SetSources(std::move(sources));
    }
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
          (origin.kind != OriginalImpulseFile::PCM_WAVE && origin.kind != OriginalImpulseFile::RAW_FLOAT))
        Fail(*e, "bad kind " + Quoted(kindText) + " of <originalImpulseFile> (expected 0 or 1)");
      origin.name = Text(*e, {"kind"});
      file->SetOriginalImpulseFile(origin);
    }
    if (const auto* e = field("sources")) {
      std::vector<Source2> sources = std::move(sources_);
      for (Source2& source : ReadSources(*e)) sources.push_back(std::move(source));
      file->SetSources(std::move(sources));
    }
    result = file;
  }
  if (const auto* e = field("comment")) result->SetComment(Text(*e));
  return result;
}

// Entities other than the predefined ones are refused where the parser
// meets a reference, before anything is expanded. The parser also looks an
// entity up right after its declaration; that look-up is let through.
struct EntityGuard {
  std::string declared;  // the entity whose declaration was just handed over
  std::string refused;   // "&name;" or "%name;"
  int line = 0;
};

EntityGuard& GuardOf(void* context) {
  return *static_cast<EntityGuard*>(static_cast<xmlParserCtxtPtr>(context)->_private);
}

void DeclareEntity(void* context, const xmlChar* name, int type, const xmlChar* publicId, const xmlChar* systemId,
                   xmlChar* content) {
  xmlSAX2EntityDecl(context, name, type, publicId, systemId, content);
  if (type == XML_INTERNAL_GENERAL_ENTITY || type == XML_INTERNAL_PARAMETER_ENTITY)
    GuardOf(context).declared = reinterpret_cast<const char*>(name);
}

xmlEntityPtr LookUp(void* context, const xmlChar* name, const char* mark, bool parameter) {
  EntityGuard& guard = GuardOf(context);
  const std::string text = reinterpret_cast<const char*>(name);
  if (!guard.declared.empty() && guard.declared == text) {
    guard.declared.clear();
    return parameter ? xmlSAX2GetParameterEntity(context, name) : xmlSAX2GetEntity(context, name);
  }
  guard.declared.clear();
  auto* ctxt = static_cast<xmlParserCtxtPtr>(context);
  if (guard.refused.empty()) {
    guard.refused = mark + text + ";";
    guard.line = ctxt->input ? ctxt->input->line : 0;
  }
  xmlStopParser(ctxt);
  return nullptr;
}

xmlEntityPtr GetEntity(void* context, const xmlChar* name) {
  if (xmlEntityPtr predefined = xmlGetPredefinedEntity(name)) return predefined;
  return LookUp(context, name, "&", false);
}

xmlEntityPtr GetParameterEntity(void* context, const xmlChar* name) { return LookUp(context, name, "%", true); }

struct ParserCloser {
  void operator()(xmlParserCtxtPtr ctxt) const {
    if (ctxt->myDoc) xmlFreeDoc(ctxt->myDoc);
    ctxt->myDoc = nullptr;
    xmlFreeParserCtxt(ctxt);
  }
};

// The finished list items are read and taken out of the tree whenever this
// much more text (bytes) has been read: often, so that the nodes are still
// in the processor's cache when they are read and freed.
constexpr std::size_t kHarvestBytes = std::size_t(4) << 10;
constexpr std::size_t kMaxFileBytes = VeskConfigFileXMLReader::kMaxFileBytes;

// Parses a text that `source` hands over piece by piece and reads the
// configuration file as the tree grows: finished list items (microphones,
// sources) are turned into objects and dropped from the tree as parsing
// goes on, so memory follows the objects, not the whole parsed tree.
class StreamingParse {
public:
  // Fills up to `size` bytes, returns how many (0 at the end); throws
  // AnalyzeError when the text cannot be read.
  using Source = std::function<std::size_t(char* buffer, std::size_t size)>;

  StreamingParse(const std::string& displayName, Source source) : reader_(displayName), source_(std::move(source)) {}

  boost::shared_ptr<VeskConfigFile> Run() {
    xmlSAXHandler sax;
    std::memset(&sax, 0, sizeof sax);
    xmlSAXVersion(&sax, 2);
    sax.entityDecl = &DeclareEntity;
    sax.getEntity = &GetEntity;
    sax.getParameterEntity = &GetParameterEntity;
    {
      QuietLibxml quiet;
      ctxt_.reset(xmlCreateIOParserCtxt(&sax, nullptr, &Read, &Close, this, XML_CHAR_ENCODING_NONE));
      if (!ctxt_) {
        if (failure_) std::rethrow_exception(failure_);
        throw std::bad_alloc();
      }
      ctxt_->_private = &guard_;
      // No network, no external DTD, no entity substitution, no size override.
      xmlCtxtUseOptions(ctxt_.get(), XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING);
      xmlParseDocument(ctxt_.get());
    }
    if (failure_) std::rethrow_exception(failure_);
    if (total_ == 0) reader_.Fail("file is empty");
    if (!guard_.refused.empty())
      throw AnalyzeError(reader_.DisplayName() + ":" + std::to_string(guard_.line) + ": entity reference " +
                         guard_.refused + " is not supported");
    if (!ctxt_->wellFormed) {
      const xmlError* error = xmlCtxtGetLastError(ctxt_.get());
      if (error && error->code == XML_ERR_NO_MEMORY) throw std::bad_alloc();
      std::string message = error && error->message ? error->message : "parse error";
      while (!message.empty() && (message.back() == '\n' || message.back() == ' ')) message.pop_back();
      reader_.Fail("not well-formed XML: Line " + std::to_string(error ? error->line : 0) + ", column " +
                   std::to_string(error ? error->int2 : 0) + " (fatal): " + message);
    }
    xmlNode* root = ctxt_->myDoc ? xmlDocGetRootElement(ctxt_->myDoc) : nullptr;
    if (!root) reader_.Fail("no root element");
    try {
      return reader_.ReadRoot(*root);
    } catch (const AnalyzeError&) {
      throw;
    } catch (const std::exception& e) {
      reader_.Fail(e.what());
    }
  }

private:
  // libxml2 calls these from C: nothing may be thrown through it, so a
  // failure is kept, the text ended, and the failure rethrown by Run.
  static int Read(void* context, char* buffer, int size) {
    auto* self = static_cast<StreamingParse*>(context);
    // Failures end the text (0) rather than report -1, which libxml2 2.9
    // does not survive in every state.
    if (self->failure_) return 0;
    try {
      if (self->total_ >= self->harvestedAt_ + kHarvestBytes) {
        self->harvestedAt_ = self->total_;
        self->HarvestFinishedItems();
      }
      const std::size_t got = self->source_(buffer, static_cast<std::size_t>(size));
      self->total_ += got;
      if (self->total_ > kMaxFileBytes) self->reader_.Fail("file is larger than 1 GiB");
      return static_cast<int>(got);
    } catch (...) {
      // The parser must not be stopped from inside its own read.
      self->failure_ = std::current_exception();
      return 0;
    }
  }
  static int Close(void*) { return 0; }

  void HarvestFinishedItems() {
    if (!ctxt_ || !ctxt_->myDoc) return;
    xmlNode* root = xmlDocGetRootElement(ctxt_->myDoc);
    if (!root) return;
    if (item_.empty()) Reader::ListOf(reader_.CheckRoot(*root), container_, item_);
    for (xmlNode* node = root->children; node; node = node->next) {
      if (IsElement(*node) && Name(*node) == container_) {
        try {
          reader_.Harvest(*node, item_);
        } catch (const AnalyzeError&) {
          throw;
        } catch (const std::bad_alloc&) {
          throw;
        } catch (const std::exception& e) {
          reader_.Fail(e.what());
        }
        return;  // a repeated container is reported by ReadRoot
      }
    }
  }

  Reader reader_;
  Source source_;
  EntityGuard guard_;
  std::unique_ptr<xmlParserCtxt, ParserCloser> ctxt_;
  std::exception_ptr failure_;
  std::size_t total_ = 0, harvestedAt_ = 0;  // bytes
  std::string container_, item_;
};

}  // namespace

VeskConfigFileXMLReader::VeskConfigFileXMLReader(const Glib::ustring& fileName) : fileName_(fileName) {}

boost::shared_ptr<VeskConfigFile> VeskConfigFileXMLReader::Read() {
  const std::string path = fileName_.raw();
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path.c_str(), "rb"), &std::fclose);
  if (!file) throw AnalyzeError(path + ": cannot open: " + std::strerror(errno));
  std::FILE* in = file.get();
  return StreamingParse(path,
                        [in, &path](char* buffer, std::size_t size) {
                          const std::size_t got = std::fread(buffer, 1, size, in);
                          if (got < size && std::ferror(in))
                            throw AnalyzeError(path + ": cannot read: " + std::strerror(errno));
                          return got;
                        })
      .Run();
}

boost::shared_ptr<VeskConfigFile> VeskConfigFileXMLReader::ReadText(const std::string& xml,
                                                                    const Glib::ustring& displayName) {
  std::size_t at = 0;
  return StreamingParse(displayName.raw(),
                        [&xml, &at](char* buffer, std::size_t size) {
                          const std::size_t got = std::min(size, xml.size() - at);
                          std::memcpy(buffer, xml.data() + at, got);
                          at += got;
                          return got;
                        })
      .Run();
}

}  // namespace veskconfig
}  // namespace veskio2
