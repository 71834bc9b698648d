// Writes, through veskio2, the files the Python reader's tests read back:
// gtf.bin, m2pg.bin, mic.xml and tsp.xml in the directory given. Values
// follow formulas the Python tests repeat.
#include <cmath>
#include <complex>
#include <fstream>
#include <iostream>

#include <boost/make_shared.hpp>

#include "veskio2/Vesk.h"
#include "veskio2/VeskConfig.h"

namespace vv = veskio2::vesk;
namespace vc = veskio2::veskconfig;
using Vec = veskio2::Vector3<float>;

namespace {

constexpr int kSources = 3, kMics = 4, kNfft = 8, kBins = kNfft / 2 + 1;

std::complex<float> Value(int src, int mic, int bin) {
  return {static_cast<float>(src + 0.5 * mic), static_cast<float>(bin - 0.25 * src)};
}

Vec SourcePosition(int src) { return Vec(std::cos(0.5f * src), std::sin(0.5f * src), 0.25f * src); }

boost::shared_ptr<vv::vgtf::Fmt1_0> MakeFmt(int formatType) {
  auto fmt = boost::make_shared<vv::vgtf::Fmt1_0>();
  fmt->SetFormatType(formatType);
  fmt->SetMicCount(kMics);
  fmt->SetFftLength(kNfft);
  fmt->SetIrLength(4096);
  fmt->SetSamplingRate(16000);
  std::vector<Vec> mics;
  for (int m = 0; m < kMics; ++m) mics.emplace_back(0.1f * m, -0.1f * m, 0.01f);
  fmt->SetMicPositions(mics);
  return fmt;
}

boost::shared_ptr<vv::vgtf::Spec1_0> MakeSpec() {
  auto spec = boost::make_shared<vv::vgtf::Spec1_0>();
  spec->SetDate("2026/03/07");
  spec->SetLocation("");
  spec->SetEquipment("");
  spec->SetEnvironment("");
  spec->SetUser(
      "\xc5\xbd"
      "ofie");  // non-ASCII UTF-8
  spec->SetNote("");
  return spec;
}

void WriteTf(const std::string& path, const boost::shared_ptr<vv::VeskFile>& file) {
  std::ofstream out(path, std::ios::binary);
  vv::VeskFileBinaryWriter(out).Write(file);
}

template <typename F>
void WriteConfig(const std::string& path, const F& file) {
  std::ofstream out(path);
  vc::VeskConfigFileXMLWriter(out).Write(file);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::cerr << "usage: " << argv[0] << " DIR\n";
    return 2;
  }
  const std::string dir = argv[1];
  try {
    vv::vgtf::TF3 tf3(kSources,
                      std::vector<std::vector<std::complex<float>>>(kMics, std::vector<std::complex<float>>(kBins)));
    for (int s = 0; s < kSources; ++s)
      for (int m = 0; m < kMics; ++m)
        for (int k = 0; k < kBins; ++k) tf3[s][m][k] = Value(s, m, k);
    std::vector<Vec> positions;
    for (int s = 0; s < kSources; ++s) positions.push_back(SourcePosition(s));

    auto gtf = boost::make_shared<vv::vgtf::GTF1_0>();
    gtf->SetSourceCount(kSources);
    gtf->SetPositions(positions);
    gtf->SetBinCount(kBins);
    std::vector<uint32_t> bins;
    for (int k = 0; k < kBins; ++k) bins.push_back(static_cast<uint32_t>(k));
    gtf->SetBinIndices(bins);
    gtf->SetTf(tf3);
    auto gtfFile = boost::make_shared<vv::VeskFile>();
    gtfFile->AddDataSet(MakeFmt(2));
    gtfFile->AddDataSet(gtf);
    gtfFile->AddDataSet(MakeSpec());
    WriteTf(dir + "/gtf.bin", gtfFile);

    auto m2pg = boost::make_shared<vv::vgtf::M2PG1_0>();
    m2pg->SetSourceCount(kSources);
    m2pg->SetInnerCount(1);
    std::vector<std::vector<Vec>> pos2;
    vv::vgtf::TF4 tf4;
    for (int s = 0; s < kSources; ++s) {
      pos2.push_back({positions[s]});
      tf4.push_back({tf3[s]});
    }
    m2pg->SetPositions(pos2);
    m2pg->SetTf(tf4);
    auto m2pgFile = boost::make_shared<vv::VeskFile>();
    m2pgFile->AddDataSet(MakeFmt(1));
    m2pgFile->AddDataSet(m2pg);
    m2pgFile->AddDataSet(MakeSpec());
    WriteTf(dir + "/m2pg.bin", m2pgFile);

    vc::MicArrayLocationFile2_0 mic;
    mic.SetComment("created by trelvix");
    std::vector<vc::Mic1> mics(kMics);
    for (int m = 0; m < kMics; ++m) {
      mics[m].SetMicIndex(static_cast<unsigned>(10 + m));
      mics[m].SetPosition(veskio2::MakePositionFromVector(Vec(0.1f * (m + 1), 0.0f, 0.02f)));
    }
    mic.SetMics(mics);
    WriteConfig(dir + "/mic.xml", mic);

    vc::TSPListFile2_0 tsp;
    tsp.SetComment("created by trelvix");
    tsp.SetNumMic(kMics);
    tsp.SetNumInner(1);
    tsp.SetSynchronousAverage(16);
    tsp.SetTspOffset(16384);
    tsp.SetTspLength(16384);
    tsp.SetSignalMax(32768);
    vc::OriginalImpulseFile origin;
    origin.name = "16384.little_endian.tsp";
    origin.kind = vc::OriginalImpulseFile::RAW_FLOAT;
    tsp.SetOriginalImpulseFile(origin);
    std::vector<vc::Source2> sources(kSources);
    for (int s = 0; s < kSources; ++s) {
      sources[s].SetPosition(veskio2::MakePositionFromVector(SourcePosition(s) * 1.5f));
      sources[s].SetCutStart(1 + s);
      sources[s].SetCutEnd(0);
      vc::File1 f;
      f.SetName("D" + std::to_string(5 * s) + "_00.wav");
      f.SetMicIndices({10, 11, 12, 13});
      sources[s].SetFiles({f});
    }
    tsp.SetSources(sources);
    WriteConfig(dir + "/tsp.xml", tsp);
  } catch (const std::exception& e) {
    std::cerr << e.what() << "\n";
    return 1;
  }
  return 0;
}
