// veskdump run as a program on configuration and transfer-function files.
#include <gtest/gtest.h>

#include "RunProcess.h"

#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <limits>
#include <sstream>

#include <boost/make_shared.hpp>

#include "veskio2/Vesk.h"
#include "veskio2/VeskConfig.h"

using namespace veskio2;

namespace {

struct Outcome {
  int status = -1;
  std::string out;
  std::string err;
};

std::string Scratch(const std::string& name) { return ::testing::TempDir() + "veskdump_test_" + name; }

// Runs veskdump with the given arguments.
Outcome Dump(const std::vector<std::string>& args) {
  const char* program = std::getenv("VESKDUMP_BIN");
  EXPECT_NE(program, nullptr) << "VESKDUMP_BIN is not set";
  Outcome outcome;
  if (!program) return outcome;
  const std::string errPath = Scratch("stderr.txt");
  std::string command = std::string("'") + program + "'";
  for (const std::string& arg : args) command += " '" + arg + "'";
  command += " 2>'" + errPath + "'";
  FILE* pipe = popen(command.c_str(), "r");
  EXPECT_NE(pipe, nullptr);
  if (!pipe) return outcome;
  char buffer[4096];
  std::size_t got;
  while ((got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) outcome.out.append(buffer, got);
  const int wait = pclose(pipe);
  outcome.status = WIFEXITED(wait) ? WEXITSTATUS(wait) : -1;
  outcome.err = vesk_test::ReadWholeFile(errPath);
  return outcome;
}

// Runs veskdump with one argument (none when `arg` is null).
Outcome Dump(const char* arg) { return Dump(arg ? std::vector<std::string>{arg} : std::vector<std::string>{}); }

TEST(Veskdump, PrintsAConfigurationFileWithUnsetFieldsLeftOut) {
  auto file = boost::make_shared<veskconfig::ImpulseResponseListFile2_0>();
  file->SetComment("tab\t\"q\" \\ é");
  file->SetNumMic(2);
  veskconfig::Source2 source;
  source.SetPosition(Position<float>(
      Vector3<float>(std::numeric_limits<float>::quiet_NaN(), -std::numeric_limits<float>::infinity(), 0.1f)));
  source.SetCutStart(-3);
  veskconfig::File1 f;
  f.SetName("D000_ch00.flt");
  f.SetMicIndices({0, 7});
  source.SetFiles({f, veskconfig::File1()});
  veskconfig::Source2 placed;
  placed.SetPosition(Position<float>(Vector3<float>(1, 0, 0), 1.5f));
  file->SetSources({source, placed});
  const std::string path = Scratch("list.xml");
  {
    std::ofstream out(path, std::ios::binary);
    veskconfig::VeskConfigFileXMLWriter(out).Write(file);
  }
  const Outcome outcome = Dump(path.c_str());
  EXPECT_EQ(outcome.status, 0);
  EXPECT_EQ(outcome.err, "");
  EXPECT_EQ(outcome.out,
            "{\"id\":\"ImpulseResponseListFile\",\"version\":\"2.0\","
            "\"comment\":\"tab\\t\\\"q\\\" \\\\ é\",\"numMic\":2,\"sources\":["
            "{\"version\":\"2\",\"position\":{\"x\":\"nan\",\"y\":\"-inf\",\"z\":0.1},\"cutStart\":-3,"
            "\"files\":[{\"version\":\"1\",\"name\":\"D000_ch00.flt\",\"micIndices\":[0,7]},"
            "{\"version\":\"1\"}]},"
            "{\"version\":\"2\",\"position\":{\"x\":1,\"y\":0,\"z\":0,\"distance\":1.5}}]}\n");
}

TEST(Veskdump, PrintsTheOtherConfigurationKinds) {
  auto mic = boost::make_shared<veskconfig::MicArrayLocationFile2_0>();
  veskconfig::Mic1 m;
  m.SetMicIndex(4);
  mic->SetMics({m});
  auto tsp = boost::make_shared<veskconfig::TSPListFile2_0>();
  tsp->SetNumInner(1);
  tsp->SetSynchronousAverage(16);
  tsp->SetTspOffset(0);
  tsp->SetTspLength(16384);
  tsp->SetSignalMax(32767);
  tsp->SetOriginalImpulseFile({"o.tsp", 1});
  auto noise = boost::make_shared<veskconfig::NoiseLocationFile2_0>();
  veskconfig::NoiseSource1 n;
  n.SetIndex(2);
  noise->SetNoiseSources({n});
  const std::pair<boost::shared_ptr<veskconfig::VeskConfigFile>, std::string> cases[] = {
      {mic, "{\"id\":\"MicArrayLocationFile\",\"version\":\"2.0\",\"mics\":[{\"version\":\"1\",\"micIndex\":4}]}\n"},
      {tsp,
       "{\"id\":\"TSPListFile\",\"version\":\"2.0\",\"numInner\":1,\"synchronousAverage\":16,"
       "\"tspOffset\":0,\"tspLength\":16384,\"signalMax\":32767,"
       "\"originalImpulseFile\":{\"name\":\"o.tsp\",\"kind\":1}}\n"},
      {noise,
       "{\"id\":\"NoiseLocationFile\",\"version\":\"2.0\",\"noiseSources\":[{\"version\":\"1\",\"index\":2}]}\n"},
  };
  for (const auto& c : cases) {
    const std::string path = Scratch("kind.xml");
    {
      std::ofstream out(path, std::ios::binary);
      veskconfig::VeskConfigFileXMLWriter(out).Write(c.first);
    }
    const Outcome outcome = Dump(path.c_str());
    EXPECT_EQ(outcome.status, 0);
    EXPECT_EQ(outcome.out, c.second);
  }
}

TEST(Veskdump, PrintsATransferFunctionFileInDataSetOrder) {
  using namespace vesk::vgtf;
  auto fmt = boost::make_shared<Fmt1_0>();
  fmt->SetFormatType(1);
  fmt->SetMicCount(1);
  fmt->SetMicPositions({Vector3<float>(0.5f, -0.25f, 1e-45f)});
  auto m2pg = boost::make_shared<M2PG1_0>();
  m2pg->SetSourceCount(1);
  m2pg->SetInnerCount(1);
  m2pg->SetPositions({{Vector3<float>(1, 2, 3)}});
  m2pg->SetTf({{{{Complex(1, -0.5f), Complex(std::numeric_limits<float>::infinity(), 0)}}}});
  auto gtf = boost::make_shared<GTF1_0>();
  gtf->SetBinCount(2);
  gtf->SetBinIndices({0, 1});
  auto spec = boost::make_shared<Spec1_0>();
  spec->SetDate("2026/03/07");
  spec->SetLocation("");
  spec->SetUser("u\n\x01\x1f");
  auto file = boost::make_shared<vesk::VeskFile>();
  file->AddDataSet(fmt);
  file->AddDataSet(m2pg);
  file->AddDataSet(gtf);
  file->AddDataSet(spec);
  const std::string path = Scratch("tf.bin");
  {
    std::ofstream out(path, std::ios::binary);
    vesk::VeskFileBinaryWriter(out).Write(file);
  }
  const Outcome outcome = Dump(path.c_str());
  EXPECT_EQ(outcome.status, 0);
  EXPECT_EQ(outcome.err, "");
  EXPECT_EQ(outcome.out,
            "{\"dataSets\":["
            "{\"id\":\"vgtf::Fmt\",\"version\":\"1.0\",\"formatType\":1,\"micCount\":1,"
            "\"micPositions\":[[0.5,-0.25,1e-45]]},"
            "{\"id\":\"vgtf::M2PG\",\"version\":\"1.0\",\"sourceCount\":1,\"innerCount\":1,"
            "\"positions\":[[[1,2,3]]],\"tf\":[[[[[1,-0.5],[\"inf\",0]]]]]},"
            "{\"id\":\"vgtf::GTF\",\"version\":\"1.0\",\"binCount\":2,\"binIndices\":[0,1]},"
            "{\"id\":\"vgtf::Spec\",\"version\":\"1.0\",\"date\":\"2026/03/07\",\"location\":\"\","
            "\"user\":\"u\\n\\u0001\\u001f\"}]}\n");
}

TEST(Veskdump, PrintsArraysOfManyBlocksAndTheirSummary) {
  using namespace vesk::vgtf;
  // 20 x 4 x 129 = 10320 values: more than one block of the reader. Whole
  // numbers print the same in any float notation.
  const int sources = 20, mics = 4, bins = 129;
  TF3 tf(sources, std::vector<std::vector<Complex>>(mics, std::vector<Complex>(bins)));
  std::string tfJson = "[";
  std::vector<Vector3<float>> positions;
  for (int s = 0; s < sources; ++s) {
    positions.emplace_back(static_cast<float>(s), -1.0f, 0.0f);
    tfJson += (s ? ",[" : "[");
    for (int m = 0; m < mics; ++m) {
      tfJson += (m ? ",[" : "[");
      for (int k = 0; k < bins; ++k) {
        tf[s][m][k] = Complex(static_cast<float>(s * 1000 + k), static_cast<float>(-m));
        tfJson += (k ? ",[" : "[") + std::to_string(s * 1000 + k) + "," + (m ? "-" : "") + std::to_string(m) + "]";
      }
      tfJson += "]";
    }
    tfJson += "]";
  }
  tfJson += "]";
  auto gtf = boost::make_shared<GTF1_0>();
  gtf->SetSourceCount(sources);
  gtf->SetPositions(positions);
  std::vector<uint32_t> binIndices;
  std::string binIndicesJson = "[";
  for (int k = 0; k < bins; ++k) {
    binIndices.push_back(static_cast<uint32_t>(bins - k));
    binIndicesJson += (k ? "," : "") + std::to_string(bins - k);
  }
  binIndicesJson += "]";
  gtf->SetBinIndices(binIndices);
  gtf->SetTf(tf);
  auto file = boost::make_shared<vesk::VeskFile>();
  file->AddDataSet(gtf);
  const std::string path = Scratch("large.bin");
  {
    std::ofstream out(path, std::ios::binary);
    vesk::VeskFileBinaryWriter(out).Write(file);
  }
  const std::string head = "{\"dataSets\":[{\"id\":\"vgtf::GTF\",\"version\":\"1.0\",\"sourceCount\":20,";
  std::string positionsJson = "[";
  for (int s = 0; s < sources; ++s) positionsJson += (s ? ",[" : "[") + std::to_string(s) + ",-1,0]";
  positionsJson += "]";

  const Outcome whole = Dump(path.c_str());
  EXPECT_EQ(whole.status, 0);
  EXPECT_EQ(whole.out, head + "\"positions\":" + positionsJson + ",\"binIndices\":" + binIndicesJson +
                           ",\"tf\":" + tfJson + "}]}\n");

  // The largest distance is sqrt(19^2 + 1) = 19.0262976 rounded to float.
  const Outcome summary = Dump({"--summary", path});
  EXPECT_EQ(summary.status, 0);
  EXPECT_EQ(summary.out, head +
                             "\"positions\":{\"shape\":[20],\"min\":[0,-1,0],\"max\":[19,-1,0],"
                             "\"distance\":[1,19.026299]},\"binIndices\":{\"shape\":[129],\"min\":1,\"max\":129},"
                             "\"tf\":{\"shape\":[20,4,129]}}]}\n");
}

TEST(Veskdump, FailsWithAMessageAndStatusOne) {
  const Outcome usage = Dump(nullptr);
  EXPECT_EQ(usage.status, 1);
  EXPECT_EQ(usage.out, "");
  EXPECT_EQ(usage.err, "usage: veskdump [--summary] FILE\n");

  const std::string missing = Scratch("missing.xml");
  std::remove(missing.c_str());
  const Outcome absent = Dump(missing.c_str());
  EXPECT_EQ(absent.status, 1);
  EXPECT_EQ(absent.out, "");
  EXPECT_EQ(absent.err, "veskdump: " + missing + ": cannot open: No such file or directory\n");

  const std::string truncated = Scratch("truncated.bin");
  {
    std::ofstream out(truncated, std::ios::binary);
    out << "VESKFILE\x01";
  }
  const Outcome cut = Dump(truncated.c_str());
  EXPECT_EQ(cut.status, 1);
  EXPECT_EQ(cut.out, "");
  EXPECT_EQ(cut.err, "veskdump: expected format major version (4 bytes) at byte 8, found only 1 bytes\n");

  const std::string notXml = Scratch("not.xml");
  {
    std::ofstream out(notXml, std::ios::binary);
    out << "hello";
  }
  const Outcome garbage = Dump(notXml.c_str());
  EXPECT_EQ(garbage.status, 1);
  EXPECT_EQ(garbage.err, "veskdump: " + notXml +
                             ": not well-formed XML: Line 1, column 1 (fatal): Start tag expected, "
                             "'<' not found\n");
}

}  // namespace
