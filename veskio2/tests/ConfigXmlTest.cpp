// Configuration files through XML: round trips of every class, the reader's
// answers to malformed files, and the number texts underneath.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <limits>
#include <sstream>

#include <boost/make_shared.hpp>

#include "NumberText.h"
#include "veskio2/VeskConfig.h"

using namespace veskio2;
using namespace veskio2::veskconfig;

namespace {

uint32_t Bits(float f) {
  uint32_t b;
  std::memcpy(&b, &f, sizeof b);
  return b;
}

// NaNs compare equal to NaNs (the text form keeps no payload); everything
// else bit for bit, so -0 and 0 differ.
void ExpectSameFloat(float a, float b) {
  if (std::isnan(a)) {
    EXPECT_TRUE(std::isnan(b));
  } else {
    EXPECT_EQ(Bits(a), Bits(b)) << a << " vs " << b;
  }
}

void ExpectSame(const Position<float>& a, const Position<float>& b) {
  ExpectSameFloat(a.GetDirection().x, b.GetDirection().x);
  ExpectSameFloat(a.GetDirection().y, b.GetDirection().y);
  ExpectSameFloat(a.GetDirection().z, b.GetDirection().z);
  ASSERT_EQ(a.HasDistance(), b.HasDistance());
  if (a.HasDistance()) ExpectSameFloat(a.GetDistance(), b.GetDistance());
}

#define EXPECT_SAME_FIELD(a, b, Name)                       \
  do {                                                      \
    ASSERT_EQ((a).Has##Name(), (b).Has##Name()) << #Name;   \
    if ((a).Has##Name()) {                                  \
      EXPECT_EQ((a).Get##Name(), (b).Get##Name()) << #Name; \
    }                                                       \
  } while (0)

#define EXPECT_SAME_POSITION(a, b)                                           \
  do {                                                                       \
    ASSERT_EQ((a).HasPosition(), (b).HasPosition());                         \
    if ((a).HasPosition()) ExpectSame((a).GetPosition(), (b).GetPosition()); \
  } while (0)

void ExpectSame(const std::vector<Source2>& a, const std::vector<Source2>& b) {
  ASSERT_EQ(a.size(), b.size());
  for (std::size_t s = 0; s < a.size(); ++s) {
    EXPECT_SAME_POSITION(a[s], b[s]);
    EXPECT_SAME_FIELD(a[s], b[s], CutStart);
    EXPECT_SAME_FIELD(a[s], b[s], CutEnd);
    ASSERT_EQ(a[s].HasFiles(), b[s].HasFiles());
    if (!a[s].HasFiles()) continue;
    const auto& fa = a[s].GetFiles();
    const auto& fb = b[s].GetFiles();
    ASSERT_EQ(fa.size(), fb.size());
    for (std::size_t f = 0; f < fa.size(); ++f) {
      EXPECT_SAME_FIELD(fa[f], fb[f], Name);
      EXPECT_SAME_FIELD(fa[f], fb[f], MicIndices);
    }
  }
}

std::string ToXml(const boost::shared_ptr<VeskConfigFile>& file) {
  std::ostringstream out;
  VeskConfigFileXMLWriter writer(out);
  writer.Write(file);
  return out.str();
}

template <typename T>
boost::shared_ptr<T> RoundTrip(const boost::shared_ptr<T>& file) {
  const auto back = VeskConfigFileXMLReader::ReadText(ToXml(file), "mem.xml");
  auto typed = boost::dynamic_pointer_cast<T>(back);
  EXPECT_TRUE(typed) << "read back as " << back->GetId() << " " << back->GetVersion().ToString();
  return typed;
}

Position<float> Pos(float x, float y, float z) { return Position<float>(Vector3<float>(x, y, z)); }

// Texts that XML must carry unchanged: markup characters, line ends of all
// kinds, surrounding blanks, non-ASCII.
const Glib::ustring kAwkwardText = "  a<b>&c \"d\" 'e'\r\n\tf\rg ÄÖ → 日本 ";

std::vector<Source2> SampleSources() {
  Source2 full;
  full.SetPosition(Position<float>(Vector3<float>(0.70710677f, -0.0f, 1e-45f), 1.5f));
  full.SetCutStart(-2147483647 - 1);
  full.SetCutEnd(2147483647);
  File1 file;
  file.SetName(kAwkwardText);
  file.SetMicIndices({0, 4294967295u, 7});
  File1 bare;  // neither name nor indices
  File1 noIndices;
  noIndices.SetName("x.flt");
  noIndices.SetMicIndices({});
  full.SetFiles({file, bare, noIndices});
  Source2 empty;  // every field unset
  Source2 noFiles;
  noFiles.SetPosition(Pos(std::numeric_limits<float>::infinity(), -std::numeric_limits<float>::infinity(),
                          std::numeric_limits<float>::quiet_NaN()));
  noFiles.SetFiles({});
  return {full, empty, noFiles};
}

TEST(ConfigXmlRoundTrip, MicArrayLocationFileWithAndWithoutFields) {
  auto file = boost::make_shared<MicArrayLocationFile2_0>();
  file->SetComment(kAwkwardText);
  Mic1 a;
  a.SetMicIndex(3);
  a.SetPosition(Position<float>(Vector3<float>(0.1f, 0.2f, 0.3f), 3.4028235e38f));
  Mic1 b;  // unset fields
  Mic1 c;
  c.SetPosition(Pos(-1.17549435e-38f, 123456792.f, 0));
  file->SetMics({a, b, c});
  const auto back = RoundTrip(file);
  ASSERT_TRUE(back);
  EXPECT_EQ(back->GetComment(), kAwkwardText);
  const auto& mics = back->GetMics();
  ASSERT_EQ(mics.size(), 3u);
  EXPECT_EQ(mics[0].GetMicIndex(), 3u);
  ExpectSame(mics[0].GetPosition(), a.GetPosition());
  EXPECT_FALSE(mics[1].HasMicIndex());
  EXPECT_FALSE(mics[1].HasPosition());
  EXPECT_FALSE(mics[2].HasMicIndex());
  ExpectSame(mics[2].GetPosition(), c.GetPosition());

  const auto bare = RoundTrip(boost::make_shared<MicArrayLocationFile2_0>());
  ASSERT_TRUE(bare);
  EXPECT_FALSE(bare->HasComment());
  EXPECT_FALSE(bare->HasMics());

  auto emptyList = boost::make_shared<MicArrayLocationFile2_0>();
  emptyList->SetMics({});
  emptyList->SetComment("");
  const auto backEmpty = RoundTrip(emptyList);
  ASSERT_TRUE(backEmpty);
  EXPECT_TRUE(backEmpty->GetMics().empty());
  EXPECT_EQ(backEmpty->GetComment(), "");
}

TEST(ConfigXmlRoundTrip, NoiseLocationFile) {
  auto file = boost::make_shared<NoiseLocationFile2_0>();
  file->SetComment("created by trelvix");
  NoiseSource1 a;
  a.SetIndex(0);
  a.SetPosition(Position<float>(Vector3<float>(1, 0, 0), 0.0f));
  NoiseSource1 b;
  b.SetIndex(4294967295u);
  file->SetNoiseSources({a, b, NoiseSource1()});
  const auto back = RoundTrip(file);
  ASSERT_TRUE(back);
  EXPECT_EQ(back->GetComment(), "created by trelvix");
  const auto& sources = back->GetNoiseSources();
  ASSERT_EQ(sources.size(), 3u);
  EXPECT_EQ(sources[0].GetIndex(), 0u);
  ExpectSame(sources[0].GetPosition(), a.GetPosition());
  EXPECT_EQ(sources[1].GetIndex(), 4294967295u);
  EXPECT_FALSE(sources[1].HasPosition());
  EXPECT_FALSE(sources[2].HasIndex());

  const auto bare = RoundTrip(boost::make_shared<NoiseLocationFile2_0>());
  ASSERT_TRUE(bare);
  EXPECT_FALSE(bare->HasNoiseSources());
}

TEST(ConfigXmlRoundTrip, ImpulseResponseListFile) {
  auto file = boost::make_shared<ImpulseResponseListFile2_0>();
  file->SetComment("c");
  file->SetNumMic(8);
  file->SetNumInner(1);
  file->SetSources(SampleSources());
  const auto back = RoundTrip(file);
  ASSERT_TRUE(back);
  EXPECT_SAME_FIELD(*file, *back, Comment);
  EXPECT_SAME_FIELD(*file, *back, NumMic);
  EXPECT_SAME_FIELD(*file, *back, NumInner);
  ExpectSame(file->GetSources(), back->GetSources());

  auto partial = boost::make_shared<ImpulseResponseListFile2_0>();
  partial->SetNumInner(0);
  const auto backPartial = RoundTrip(partial);
  ASSERT_TRUE(backPartial);
  EXPECT_FALSE(backPartial->HasNumMic());
  EXPECT_FALSE(backPartial->HasSources());
  EXPECT_FALSE(backPartial->HasComment());
  EXPECT_EQ(backPartial->GetNumInner(), 0u);
}

TEST(ConfigXmlRoundTrip, TSPListFile) {
  auto file = boost::make_shared<TSPListFile2_0>();
  file->SetComment("created by trelvix");
  file->SetNumMic(2);
  file->SetNumInner(1);
  file->SetSynchronousAverage(16);
  file->SetTspOffset(0);
  file->SetTspLength(16384);
  file->SetSignalMax(4294967295u);
  file->SetOriginalImpulseFile({"dir with space/orig<1>.wav", OriginalImpulseFile::PCM_WAVE});
  file->SetSources(SampleSources());
  const auto back = RoundTrip(file);
  ASSERT_TRUE(back);
  EXPECT_SAME_FIELD(*file, *back, Comment);
  EXPECT_SAME_FIELD(*file, *back, NumMic);
  EXPECT_SAME_FIELD(*file, *back, NumInner);
  EXPECT_SAME_FIELD(*file, *back, SynchronousAverage);
  EXPECT_SAME_FIELD(*file, *back, TspOffset);
  EXPECT_SAME_FIELD(*file, *back, TspLength);
  EXPECT_SAME_FIELD(*file, *back, SignalMax);
  EXPECT_SAME_FIELD(*file, *back, OriginalImpulseFile);
  ExpectSame(file->GetSources(), back->GetSources());

  auto raw = boost::make_shared<TSPListFile2_0>();
  raw->SetOriginalImpulseFile({"", OriginalImpulseFile::RAW_FLOAT});
  const auto backRaw = RoundTrip(raw);
  ASSERT_TRUE(backRaw);
  EXPECT_EQ(backRaw->GetOriginalImpulseFile().kind, 1u);
  EXPECT_EQ(backRaw->GetOriginalImpulseFile().name, "");
  EXPECT_FALSE(backRaw->HasSignalMax());
}

TEST(ConfigXmlRoundTrip, ThroughAFileOnDisk) {
  const std::string path = ::testing::TempDir() + "veskio2_config_xml_test_mic.xml";
  auto file = boost::make_shared<MicArrayLocationFile2_0>();
  file->SetComment("on disk");
  {
    std::ofstream out(path, std::ios::binary);
    VeskConfigFileXMLWriter(out).Write(file);
  }
  const auto back = VeskConfigFileXMLReader(path).Read();
  EXPECT_EQ(back->GetId(), "MicArrayLocationFile");
  EXPECT_TRUE(back->GetVersion() == Version(2, 0));
  EXPECT_EQ(back->GetComment(), "on disk");
  std::remove(path.c_str());
}

TEST(ConfigXmlWriter, WritesReadableIndentedXml) {
  auto file = boost::make_shared<MicArrayLocationFile2_0>();
  file->SetComment("created by trelvix");
  Mic1 mic;
  mic.SetMicIndex(0);
  mic.SetPosition(Position<float>(Vector3<float>(1, 0, 0), 1));
  file->SetMics({mic});
  EXPECT_EQ(ToXml(file),
            "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
            "<veskconfig id=\"MicArrayLocationFile\" version=\"2.0\">\n"
            "  <comment>created by trelvix</comment>\n"
            "  <mics>\n"
            "    <mic version=\"1\">\n"
            "      <micIndex>0</micIndex>\n"
            "      <position x=\"1\" y=\"0\" z=\"0\" distance=\"1\"/>\n"
            "    </mic>\n"
            "  </mics>\n"
            "</veskconfig>\n");
}

TEST(ConfigXmlWriter, RefusesTextsXmlCannotHoldWithoutWriting) {
  std::ostringstream out;
  VeskConfigFileXMLWriter writer(out);
  auto control = boost::make_shared<NoiseLocationFile2_0>();
  control->SetComment(Glib::ustring("bell\x07"));
  try {
    writer.Write(control);
    FAIL() << "control character accepted";
  } catch (const std::runtime_error& e) {
    EXPECT_STREQ(e.what(), "cannot write comment: character U+0007 cannot be held in XML");
  }
  auto badUtf8 = boost::make_shared<ImpulseResponseListFile2_0>();
  Source2 source;
  File1 f;
  f.SetName(Glib::ustring(std::string("\xff\xfe")));
  source.SetFiles({f});
  badUtf8->SetSources({source});
  try {
    writer.Write(badUtf8);
    FAIL() << "invalid UTF-8 accepted";
  } catch (const std::runtime_error& e) {
    EXPECT_STREQ(e.what(), "cannot write name: text is not valid UTF-8");
  }
  auto badKind = boost::make_shared<TSPListFile2_0>();
  badKind->SetOriginalImpulseFile({"a", 2});
  EXPECT_THROW(writer.Write(badKind), std::runtime_error);
  EXPECT_EQ(out.str(), "");
}

TEST(ConfigFields, UnsetGettersNameTheField) {
  const auto message = [](auto get) {
    try {
      get();
    } catch (const NotInitialized& e) {
      return std::string(e.what());
    }
    return std::string("no exception");
  };
  TSPListFile2_0 tsp;
  EXPECT_EQ(message([&] { tsp.GetComment(); }), "comment is not initialized");
  EXPECT_EQ(message([&] { tsp.GetNumInner(); }), "numInner is not initialized");
  EXPECT_EQ(message([&] { tsp.GetOriginalImpulseFile(); }), "originalImpulseFile is not initialized");
  EXPECT_EQ(message([&] { Mic1().GetMicIndex(); }), "micIndex is not initialized");
  EXPECT_EQ(message([&] { File1().GetMicIndices(); }), "micIndices is not initialized");
  EXPECT_EQ(message([&] { Source2().GetCutEnd(); }), "cutEnd is not initialized");
  EXPECT_EQ(message([&] { Pos(1, 0, 0).GetDistance(); }), "distance is not initialized");
  tsp.SetNumMic(3);
  tsp.ClearNumMic();
  EXPECT_FALSE(tsp.HasNumMic());
}

// The reader's verdict on a text, "" when it reads.
std::string Verdict(const std::string& xml) {
  try {
    VeskConfigFileXMLReader::ReadText(xml, "bad.xml");
  } catch (const AnalyzeError& e) {
    return e.what();
  }
  return "";
}

std::string Mic(const std::string& body) {
  return "<veskconfig id=\"MicArrayLocationFile\" version=\"2.0\">\n" + body + "</veskconfig>\n";
}

TEST(ConfigXmlReader, RefusesFilesThatAreNotConfigurationFiles) {
  EXPECT_EQ(Verdict(""), "bad.xml: file is empty");
  EXPECT_EQ(Verdict("RIFF....WAVEfmt "),
            "bad.xml: not well-formed XML: Line 1, column 1 (fatal): Start tag expected, '<' not found");
  EXPECT_EQ(Verdict("<veskconfig id=\"NoiseLocationFile\" version=\"2.0\">\n<comment>x</comment>\n"),
            "bad.xml: not well-formed XML: Line 3, column 1 (fatal): Premature end of data in tag "
            "veskconfig line 1");
  EXPECT_EQ(Verdict("<?xml version=\"1.0\"?>\n<html/>"), "bad.xml:2: expected root element <veskconfig>, found <html>");
  EXPECT_EQ(Verdict("<veskconfig id=\"FooFile\" version=\"2.0\"/>"),
            "bad.xml:1: unknown configuration file id \"FooFile\"");
  EXPECT_EQ(Verdict("<veskconfig id=\"TSPListFile\" version=\"3.0\"/>"),
            "bad.xml:1: unknown version 3.0 of TSPListFile");
  EXPECT_EQ(Verdict("<veskconfig id=\"TSPListFile\" version=\"2\"/>"),
            "bad.xml:1: bad version \"2\" (expected major.minor)");
  EXPECT_EQ(Verdict("<veskconfig version=\"2.0\"/>"), "bad.xml:1: missing attribute id in <veskconfig>");
}

TEST(ConfigXmlReader, RefusesBadNumbers) {
  const auto index = [](const std::string& text) {
    return Verdict(Mic("<mics><mic version=\"1\"><micIndex>" + text + "</micIndex></mic></mics>\n"));
  };
  EXPECT_EQ(index(" 7 \n"), "");
  EXPECT_EQ(index("+7"), "");
  EXPECT_EQ(index("x1"), "bad.xml:2: bad unsigned number \"x1\" in <micIndex>: not a number");
  EXPECT_EQ(index("12abc"), "bad.xml:2: bad unsigned number \"12abc\" in <micIndex>: not a number");
  EXPECT_EQ(index("-1"), "bad.xml:2: bad unsigned number \"-1\" in <micIndex>: not a number");
  EXPECT_EQ(index("4294967296"), "bad.xml:2: bad unsigned number \"4294967296\" in <micIndex>: out of range");
  EXPECT_EQ(index(""), "bad.xml:2: bad unsigned number \"\" in <micIndex>: not a number");
  EXPECT_EQ(index("1.5"), "bad.xml:2: bad unsigned number \"1.5\" in <micIndex>: not a number");

  const auto cut = [](const std::string& text) {
    return Verdict(
        "<veskconfig id=\"ImpulseResponseListFile\" version=\"2.0\"><sources>\n"
        "<source version=\"2\"><cutStart>" +
        text + "</cutStart></source></sources></veskconfig>");
  };
  EXPECT_EQ(cut("-2147483648"), "");
  EXPECT_EQ(cut("2147483648"), "bad.xml:2: bad integer \"2147483648\" in <cutStart>: out of range");
  EXPECT_EQ(cut("+-3"), "bad.xml:2: bad integer \"+-3\" in <cutStart>: not a number");

  const auto x = [](const std::string& text) {
    return Verdict(Mic("<mics><mic version=\"1\">\n<position x=\"" + text + "\" y=\"0\" z=\"0\"/></mic></mics>\n"));
  };
  EXPECT_EQ(x("-1.5e-3"), "");
  EXPECT_EQ(x("nan"), "");
  EXPECT_EQ(x("-Infinity"), "");
  EXPECT_EQ(x("0x10"), "bad.xml:3: bad number \"0x10\" in attribute x of <position>: not a number");
  EXPECT_EQ(x("1e39"), "bad.xml:3: bad number \"1e39\" in attribute x of <position>: out of range");
  EXPECT_EQ(x("1e-50"), "bad.xml:3: bad number \"1e-50\" in attribute x of <position>: out of range");
  EXPECT_EQ(x("1.0f"), "bad.xml:3: bad number \"1.0f\" in attribute x of <position>: not a number");
  EXPECT_EQ(x("1,5"), "bad.xml:3: bad number \"1,5\" in attribute x of <position>: not a number");
}

TEST(ConfigXmlReader, RefusesUnknownStructure) {
  EXPECT_EQ(Verdict(Mic("<mics><mic version=\"3\"/></mics>\n")),
            "bad.xml:2: unknown version \"3\" of <mic> (known: 1)");
  EXPECT_EQ(Verdict(Mic("<mics><mic/></mics>\n")), "bad.xml:2: missing attribute version in <mic>");
  EXPECT_EQ(Verdict("<veskconfig id=\"TSPListFile\" version=\"2.0\"><sources>\n"
                    "<source version=\"3\"/></sources></veskconfig>"),
            "bad.xml:2: unknown version \"3\" of <source> (known: 2)");
  EXPECT_EQ(Verdict(Mic("<coment>typo</coment>\n")), "bad.xml:2: unexpected element <coment> in <veskconfig>");
  EXPECT_EQ(Verdict(Mic("<comment>a</comment>\n<comment>b</comment>\n")),
            "bad.xml:3: repeated element <comment> in <veskconfig>");
  EXPECT_EQ(Verdict(Mic("<numMic>2</numMic>\n")), "bad.xml:2: unexpected element <numMic> in <veskconfig>");
  EXPECT_EQ(Verdict(Mic("<mics>\n<noiseSource version=\"1\"/></mics>\n")),
            "bad.xml:3: expected <mic> in <mics>, found <noiseSource>");
  EXPECT_EQ(Verdict(Mic("stray text\n")), "bad.xml:2: unexpected text in <veskconfig>");
  EXPECT_EQ(Verdict(Mic("<mics><mic version=\"1\"><position x=\"1\" y=\"0\"/></mic></mics>\n")),
            "bad.xml:2: missing attribute z in <position>");
  EXPECT_EQ(Verdict(Mic("<mics><mic version=\"1\"><position x=\"1\" y=\"0\" z=\"0\" r=\"1\"/></mic></mics>\n")),
            "bad.xml:2: unexpected attribute r in <position>");
  EXPECT_EQ(Verdict(Mic("<comment><b>bold</b></comment>\n")), "bad.xml:2: unexpected element <b> in <comment>");
  EXPECT_EQ(Verdict("<veskconfig id=\"TSPListFile\" version=\"2.0\">\n"
                    "<originalImpulseFile kind=\"2\">a.wav</originalImpulseFile></veskconfig>"),
            "bad.xml:2: bad kind \"2\" of <originalImpulseFile> (expected 0 or 1)");
  EXPECT_EQ(Verdict("<veskconfig id=\"TSPListFile\" version=\"2.0\">\n"
                    "<originalImpulseFile>a.wav</originalImpulseFile></veskconfig>"),
            "bad.xml:2: missing attribute kind in <originalImpulseFile>");
}

TEST(ConfigXmlReader, LoadsNoEntitiesAndKeepsCommentsAndCdataOut) {
  EXPECT_EQ(Verdict("<!DOCTYPE veskconfig [<!ENTITY e \"x\">]>\n"
                    "<veskconfig id=\"MicArrayLocationFile\" version=\"2.0\">\n"
                    "<comment>&e;</comment></veskconfig>"),
            "bad.xml:3: entity reference &e; is not supported");
  // An external entity is neither loaded nor accepted.
  EXPECT_EQ(Verdict("<!DOCTYPE veskconfig [<!ENTITY e SYSTEM \"file:///etc/hostname\">]>\n"
                    "<veskconfig id=\"MicArrayLocationFile\" version=\"2.0\">\n"
                    "<comment>&e;</comment></veskconfig>"),
            "bad.xml:3: entity reference &e; is not supported");
  const auto file = VeskConfigFileXMLReader::ReadText(
      Mic("<!-- note --><comment>a<!-- inside -->b<![CDATA[<c>]]>&amp;&#x41;</comment>\n"), "ok.xml");
  EXPECT_EQ(file->GetComment(), "ab<c>&A");
}

TEST(ConfigXmlReader, NamesAMissingFile) {
  const std::string path = ::testing::TempDir() + "veskio2_no_such_file.xml";
  try {
    VeskConfigFileXMLReader(path).Read();
    FAIL() << "missing file accepted";
  } catch (const AnalyzeError& e) {
    EXPECT_EQ(std::string(e.what()), path + ": cannot open: No such file or directory");
  }
  try {
    VeskConfigFileXMLReader(::testing::TempDir()).Read();
    FAIL() << "directory accepted";
  } catch (const AnalyzeError& e) {
    EXPECT_EQ(std::string(e.what()), ::testing::TempDir() + ": cannot read: Is a directory");
  }
}

TEST(NumberText, FloatTextReadsBackBitExact) {
  // A stride through all bit patterns (prime, so every exponent and many
  // mantissas are visited), plus the extremes.
  std::vector<uint32_t> patterns = {0x00000001u, 0x007fffffu, 0x00800000u, 0x7f7fffffu,
                                    0x80000000u, 0x3dcccccdu, 0xff7fffffu};
  for (uint64_t b = 0; b < 0x100000000ull; b += 65521) patterns.push_back(static_cast<uint32_t>(b));
  for (uint32_t bits : patterns) {
    float value;
    std::memcpy(&value, &bits, sizeof value);
    const std::string text = detail::FloatToText(value);
    float back = 0;
    std::string reason;
    ASSERT_TRUE(detail::TextToFloat(text, back, reason)) << text << ": " << reason;
    if (std::isnan(value)) {
      EXPECT_EQ(text, "nan");
      EXPECT_TRUE(std::isnan(back));
    } else {
      ASSERT_EQ(Bits(back), bits) << text;
    }
  }
  EXPECT_EQ(detail::FloatToText(0.1f), "0.1");
  EXPECT_EQ(detail::FloatToText(-std::numeric_limits<float>::infinity()), "-inf");
}

}  // namespace
