// SOFA export and import against independent readers (the netCDF C API
// directly, libmysofa) and real published data (libmysofa's KEMAR file).
#include <sys/stat.h>

#include <gtest/gtest.h>
#include <boost/make_shared.hpp>
#include <mysofa.h>
#include <netcdf.h>

#include <cmath>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "FloatFile.h"
#include "IrListToSofa.h"
#include "base/RealFft.h"
#include "SofaToIrList.h"
#include "TfFileToSofa.h"
#include "TestSupport.h"
#include "veskio2/Vesk.h"
#include "veskio2/VeskConfig.h"

namespace {

namespace fs = std::filesystem;
namespace vc = veskio2::veskconfig;
using vesk_test::ScratchDir;

const char* const kKemar = "/usr/share/libmysofa/MIT_KEMAR_normal_pinna.sofa";
const double kPi = 3.14159265358979323846;

// ---- a SOFA file described in the test and written with the netCDF C API ----

struct Var {
  nc_type type = NC_DOUBLE;
  std::vector<std::string> dims;
  std::map<std::string, std::string> attrs;
  std::vector<double> values;  // empty: netCDF's fill value
};

struct Description {
  std::vector<std::pair<std::string, std::size_t>> dims;
  std::map<std::string, std::string> attrs;
  std::map<std::string, Var> vars;
};

void Ok(int status) {
  if (status != NC_NOERR) throw std::runtime_error(nc_strerror(status));
}

void WriteNetcdf(const std::string& path, const Description& d, int format = NC_NETCDF4) {
  int nc;
  Ok(nc_create(path.c_str(), format | NC_CLOBBER, &nc));
  std::map<std::string, int> dimIds;
  for (const auto& [name, length] : d.dims) Ok(nc_def_dim(nc, name.c_str(), length, &dimIds[name]));
  for (const auto& [name, value] : d.attrs)
    Ok(nc_put_att_text(nc, NC_GLOBAL, name.c_str(), value.size(), value.data()));
  std::map<std::string, int> varIds;
  for (const auto& [name, var] : d.vars) {
    std::vector<int> ids;
    for (const auto& dim : var.dims) ids.push_back(dimIds.at(dim));
    Ok(nc_def_var(nc, name.c_str(), var.type, static_cast<int>(ids.size()), ids.data(), &varIds[name]));
    for (const auto& [attr, value] : var.attrs)
      Ok(nc_put_att_text(nc, varIds[name], attr.c_str(), value.size(), value.data()));
  }
  Ok(nc_enddef(nc));
  for (const auto& [name, var] : d.vars)
    if (!var.values.empty()) Ok(nc_put_var_double(nc, varIds[name], var.values.data()));
  Ok(nc_close(nc));
}

// A small valid HRIR-like file: 3 directions, 2 ears, 8 taps.
Description SmallFir() {
  Description d;
  d.dims = {{"I", 1}, {"C", 3}, {"M", 3}, {"R", 2}, {"E", 1}, {"N", 8}};
  d.attrs = {{"Conventions", "SOFA"},
             {"Version", "1.0"},
             {"SOFAConventions", "SimpleFreeFieldHRIR"},
             {"SOFAConventionsVersion", "1.0"},
             {"DataType", "FIR"}};
  const std::map<std::string, std::string> metre = {{"Type", "cartesian"}, {"Units", "metre"}};
  d.vars["ListenerPosition"] = {NC_DOUBLE, {"I", "C"}, metre, {0, 0, 0}};
  d.vars["ReceiverPosition"] = {NC_DOUBLE, {"R", "C", "I"}, metre, {0, 0.09, 0, 0, -0.09, 0}};
  d.vars["SourcePosition"] = {NC_DOUBLE,
                              {"M", "C"},
                              {{"Type", "spherical"}, {"Units", "degree, degree, metre"}},
                              {0, 0, 1.2, 90, 0, 1.2, 30, 45, 2}};
  std::vector<double> ir(3 * 2 * 8);
  for (std::size_t i = 0; i < ir.size(); ++i) ir[i] = std::sin(0.7 * static_cast<double>(i)) / (1 + i % 8);
  d.vars["Data.IR"] = {NC_DOUBLE, {"M", "R", "N"}, {}, ir};
  d.vars["Data.SamplingRate"] = {NC_DOUBLE, {"I"}, {{"Units", "hertz"}}, {48000}};
  d.vars["Data.Delay"] = {NC_DOUBLE, {"I", "R"}, {}, {0, 0}};
  return d;
}

std::vector<double> ReadNetcdfVar(const std::string& path, const std::string& name) {
  int nc, var, ndims;
  Ok(nc_open(path.c_str(), NC_NOWRITE, &nc));
  Ok(nc_inq_varid(nc, name.c_str(), &var));
  Ok(nc_inq_varndims(nc, var, &ndims));
  std::vector<int> dims(static_cast<std::size_t>(ndims));
  Ok(nc_inq_vardimid(nc, var, dims.data()));
  std::size_t total = 1;
  for (int id : dims) {
    std::size_t length;
    Ok(nc_inq_dimlen(nc, id, &length));
    total *= length;
  }
  std::vector<double> values(total);
  Ok(nc_get_var_double(nc, var, values.data()));
  Ok(nc_close(nc));
  return values;
}

template <typename T>
boost::shared_ptr<T> ReadConfigAs(const std::string& path) {
  auto typed = boost::dynamic_pointer_cast<T>(vc::VeskConfigFileXMLReader(path).Read());
  if (!typed) throw std::runtime_error(path + ": not the expected file kind");
  return typed;
}

TEST(SofaToIrList, HostileFilesFailNamingTheFault) {
  struct Case {
    const char* what;
    std::function<void(Description&)> change;
    std::string error;  // after "<file>: "
  };
  const std::vector<Case> cases = {
      {"transfer functions",
       [](Description& d) {
         d.attrs["DataType"] = "TF";
         d.attrs["SOFAConventions"] = "GeneralTF";
       },
       "unsupported DataType \"TF\" of convention GeneralTF: only FIR data (Data.IR of M x R x N) converts to "
       "impulse responses"},
      {"not SOFA", [](Description& d) { d.attrs["Conventions"] = "CF-1.8"; },
       "expected Conventions \"SOFA\", found \"CF-1.8\""},
      {"no data", [](Description& d) { d.vars.erase("Data.IR"); }, "missing variable Data.IR"},
      {"no source positions", [](Description& d) { d.vars.erase("SourcePosition"); },
       "missing variable SourcePosition"},
      {"transposed data",
       [](Description& d) {
         d.vars["Data.IR"].dims = {"M", "N", "R"};
       },
       "Data.IR: expected dimensions (M, R, N), found (M, N, R)"},
      {"receivers without coordinates",
       [](Description& d) {
         d.vars["ReceiverPosition"].dims = {"R", "I"};
         d.vars["ReceiverPosition"].values.resize(2);
       },
       "ReceiverPosition: expected dimensions (R, C, I) or (R, C, M), found (R, I)"},
      {"two listeners",
       [](Description& d) {
         d.dims[0].second = 2;
         d.vars["ListenerPosition"].values.resize(6);
         d.vars["ReceiverPosition"].values.resize(12);
         d.vars["Data.SamplingRate"].values.resize(2);
         d.vars["Data.Delay"].values.resize(4);
       },
       "dimension I: expected 1, found 2"},
      {"too many receivers",
       [](Description& d) {
         d.dims[3].second = 1001;
         d.vars = {};
       },
       "dimension R: expected at most 1000 receivers, found 1001"},
      {"inches", [](Description& d) { d.vars["SourcePosition"].attrs["Units"] = "degree, degree, inch"; },
       "SourcePosition: unsupported Units \"degree, degree, inch\" for Type spherical (expected \"degree, degree, "
       "metre\")"},
      {"harmonics", [](Description& d) { d.vars["ReceiverPosition"].attrs["Type"] = "spherical harmonics"; },
       "ReceiverPosition: unsupported Type \"spherical harmonics\" (expected cartesian or spherical)"},
      {"kilohertz", [](Description& d) { d.vars["Data.SamplingRate"].attrs["Units"] = "kilohertz"; },
       "Data.SamplingRate: unsupported Units \"kilohertz\" (expected \"hertz\")"},
      {"no rate", [](Description& d) { d.vars["Data.SamplingRate"].values = {0}; },
       "Data.SamplingRate: expected a positive rate in hertz, found 0"},
      {"delayed",
       [](Description& d) {
         d.vars["Data.Delay"].values = {0, 2.5};
       },
       "Data.Delay: unsupported delay of 2.5 samples (measurement 0, receiver 1): only zero delays are supported"},
      {"moving array",
       [](Description& d) {
         d.vars["ReceiverPosition"].dims = {"R", "C", "M"};
         d.vars["ReceiverPosition"].values = {0, 0, 0, 0.09,  0.09,  0.09,  0, 0, 0,
                                              0, 0, 0, -0.09, -0.09, -0.08, 0, 0, 0};
       },
       "ReceiverPosition: receiver 1 moves at measurement 2; a microphone-array file holds one position per "
       "microphone"},
      {"declared, never written",
       [](Description& d) {
         d.dims[5].second = 1 << 24;
         d.vars["Data.IR"].values.clear();
       },
       "Data.IR: 3 x 2 x 16777216 values (402653184 bytes as .flt) cannot come from a file of "},
      {"never written", [](Description& d) { d.vars["Data.IR"].values.clear(); },
       "Data.IR holds the fill value 9.96920997e+36 (value 0 read): it was never written"},
      {"receiver beyond single precision", [](Description& d) { d.vars["ReceiverPosition"].values[4] = -1e39; },
       "ReceiverPosition of receiver 1 (0, -1e+39, 0) m does not fit single precision"},
      {"tap beyond single precision", [](Description& d) { d.vars["Data.IR"].values[5] = -1e39; },
       "Data.IR value -1e+39 (measurement 0, receiver 0, tap 5) does not fit single precision"},
      {"degenerate listener",
       [](Description& d) {
         d.vars["ListenerView"] = {NC_DOUBLE, {"I", "C"}, {}, {0, 0, 3}};
       },
       "ListenerView and ListenerUp of measurement 0 do not give a frame (zero, parallel or not finite)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ScratchDir dir;
    Description d = SmallFir();
    c.change(d);
    WriteNetcdf(dir / "in.sofa", d);
    std::string expected = dir / "in.sofa" + ": " + c.error;
    if (expected.back() == ' ') expected += std::to_string(fs::file_size(dir / "in.sofa")) + " bytes";
    EXPECT_EQ(testsupport::ErrorOf([&] { vesksofa::ConvertSofaToIrList(dir / "in.sofa", dir / "out"); }), expected);
    EXPECT_EQ(dir.Entries(), std::vector<std::string>{"in.sofa"});  // nothing made, nothing left behind
  }
}

TEST(SofaToIrList, DamagedFilesAndOccupiedOutputFail) {
  ScratchDir dir;
  WriteNetcdf(dir / "good.sofa", SmallFir());
  testsupport::WriteFlt(dir / "text.sofa", {1.0f, 2.0f});  // 8 bytes of nothing like HDF5
  const std::string good = testsupport::ReadWholeFile(dir / "good.sofa");
  {
    std::ofstream cut(dir / "cut.sofa", std::ios::binary);
    cut.write(good.data(), static_cast<std::streamsize>(good.size() / 2));
  }
  // The classic format with 2048 taps, so that the responses outweigh the
  // header and a file cut in half lacks some of their bytes.
  Description longer = SmallFir();
  longer.dims[5].second = 2048;
  longer.vars["Data.IR"].values.resize(3 * 2 * 2048, 0.25);
  const std::size_t variableBytes = (3 + 6 + 9 + 1 + 2 + 3 * 2 * 2048) * sizeof(double);
  WriteNetcdf(dir / "classic.sofa", longer, 0);
  const std::string classic = testsupport::ReadWholeFile(dir / "classic.sofa");
  {
    std::ofstream cut(dir / "cutclassic.sofa", std::ios::binary);
    cut.write(classic.data(), static_cast<std::streamsize>(classic.size() / 2));
  }
  fs::remove(dir / "classic.sofa");
  fs::create_directory(dir / "busy");
  testsupport::WriteFlt(dir / "busy/x.flt", {0.0f});
  struct Case {
    std::string in, out, error;
  };
  const std::vector<Case> cases = {
      {dir / "text.sofa", dir / "out", dir / "text.sofa: cannot open as netCDF: NetCDF: Unknown file format"},
      {dir / "cut.sofa", dir / "out", dir / "cut.sofa: cannot open as netCDF: NetCDF: HDF error"},
      {dir / "cutclassic.sofa", dir / "out",
       dir / "cutclassic.sofa: a classic netCDF file of " + std::to_string(classic.size() / 2) +
           " bytes cannot hold the " + std::to_string(variableBytes) + " bytes of its variables: it is cut short"},
      {dir / "good.sofa", dir / "busy", dir / "busy: exists and is not empty"},
      {dir / "good.sofa", dir / "good.sofa", dir / "good.sofa: exists and is not a directory"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.in + " -> " + c.out);
    EXPECT_EQ(testsupport::ErrorOf([&] { vesksofa::ConvertSofaToIrList(c.in, c.out); }), c.error);
    EXPECT_EQ(dir.Entries(),
              (std::vector<std::string>{"busy", "cut.sofa", "cutclassic.sofa", "good.sofa", "text.sofa"}));
  }
}

// The published dummy-head measurement through sofa2vesk and trelvix: the
// m2pg transfer functions are the spectra of the file's impulse responses.
TEST(SofaToIrList, KemarMeasurementBecomesItsSpectra) {
  ScratchDir dir;
  const std::string out = dir / "kemar";
  const auto summary = vesksofa::ConvertSofaToIrList(kKemar, out);
  ASSERT_EQ(summary.samplingRateHz, 44100);
  const auto run =
      testsupport::RunProgram({testsupport::RequireEnv("TRELVIX_BIN"), "--mode", "tf", "-t", "m2pg", "--direct-length",
                               "512", "--nfft", "512", "--sampling-freq", "44100", "-o", "tf.bin", "mic.xml", "ir.xml"},
                              out);
  ASSERT_EQ(run.status, 0) << run.err;

  const std::vector<double> ir = ReadNetcdfVar(kKemar, "Data.IR");              // [710][2][512]
  const std::vector<double> sources = ReadNetcdfVar(kKemar, "SourcePosition");  // [710][az, el, r]
  const std::vector<double> receivers = ReadNetcdfVar(kKemar, "ReceiverPosition");
  const std::size_t numSources = 710, numEars = 2, numTaps = 512, numBins = 257;
  ASSERT_EQ(ir.size(), numSources * numEars * numTaps);

  const auto file = testsupport::ReadTFFile(out + "/tf.bin");
  boost::shared_ptr<veskio2::vesk::vgtf::M2PG1_0> m2pg;
  boost::shared_ptr<veskio2::vesk::vgtf::Fmt1_0> fmt;
  for (const auto& set : file->GetDataSets()) {
    if (!m2pg) m2pg = boost::dynamic_pointer_cast<veskio2::vesk::vgtf::M2PG1_0>(set);
    if (!fmt) fmt = boost::dynamic_pointer_cast<veskio2::vesk::vgtf::Fmt1_0>(set);
  }
  ASSERT_TRUE(m2pg && fmt);
  const auto& tf = m2pg->GetTf();
  const auto& positions = m2pg->GetPositions();
  ASSERT_EQ(tf.size(), numSources);
  for (std::size_t ear = 0; ear < numEars; ++ear) {
    const auto p = fmt->GetMicPositions().at(ear);
    EXPECT_NEAR(p.x, receivers[3 * ear], 1e-7);
    EXPECT_NEAR(p.y, receivers[3 * ear + 1], 1e-7);
    EXPECT_NEAR(p.z, receivers[3 * ear + 2], 1e-7);
  }

  vesk::RealFft<double> fft(numTaps);
  double worstSpectrum = 0, worstPosition = 0;
  for (std::size_t s = 0; s < numSources; ++s) {
    const double az = sources[3 * s] * kPi / 180, el = sources[3 * s + 1] * kPi / 180, r = sources[3 * s + 2];
    const double expected[3] = {r * std::cos(el) * std::cos(az), r * std::cos(el) * std::sin(az), r * std::sin(el)};
    const auto& p = positions[s].at(0);
    const double got[3] = {p.x, p.y, p.z};
    for (int c = 0; c < 3; ++c) worstPosition = std::max(worstPosition, std::fabs(got[c] - expected[c]));
    for (std::size_t ear = 0; ear < numEars; ++ear) {
      const double* h = &ir[(s * numEars + ear) * numTaps];
      double sumAbs = 0;
      for (std::size_t n = 0; n < numTaps; ++n) {
        fft.Time()[n] = static_cast<float>(h[n]);  // the file's taps as the .flt holds them
        sumAbs += std::fabs(h[n]);
      }
      fft.Forward();
      const auto& row = tf[s].at(0).at(ear);
      ASSERT_EQ(row.size(), numBins);
      for (std::size_t k = 0; k < numBins; ++k)
        worstSpectrum = std::max(worstSpectrum, std::abs(std::complex<double>(row[k]) - fft.Spectrum()[k]) / sumAbs);
    }
  }
  // A float32 radix-2 transform of 512 taps errs by about log2(512) * 6e-8
  // of the sum of |taps|; 2e-6 leaves room and still catches a shifted,
  // truncated or mis-scaled response (errors of order 1).
  EXPECT_LT(worstSpectrum, 2e-6);
  // Positions are stored as float32 direction and distance (1.4 to 2 m).
  EXPECT_LT(worstPosition, 1e-6);
}

// ---- transfer-function files into GeneralTF --------------------------------

namespace vgtf = veskio2::vesk::vgtf;

// A distinct, exactly representable value per stored complex number.
vgtf::Complex FlatValue(std::size_t flat) { return {static_cast<float>(flat), -0.5f * static_cast<float>(flat)}; }

boost::shared_ptr<vgtf::Fmt1_0> MakeFmt(std::size_t mics) {
  auto fmt = boost::make_shared<vgtf::Fmt1_0>();
  fmt->SetMicCount(static_cast<int32_t>(mics));
  fmt->SetFftLength(2048);
  fmt->SetSamplingRate(16000);
  std::vector<veskio2::Vector3<float>> positions;
  for (std::size_t m = 0; m < mics; ++m) positions.emplace_back(0.01f * m, 0.1f, -0.02f * m);
  fmt->SetMicPositions(positions);
  return fmt;
}

veskio2::Vector3<float> SourceAt(std::size_t src) { return {1.0f + src, 0.25f * src, -2.0f}; }

boost::shared_ptr<vgtf::GTF1_0> MakeGtf(std::size_t sources, std::size_t mics, std::size_t bins) {
  auto gtf = boost::make_shared<vgtf::GTF1_0>();
  vgtf::TF3 tf(sources, std::vector<std::vector<vgtf::Complex>>(mics, std::vector<vgtf::Complex>(bins)));
  std::vector<veskio2::Vector3<float>> positions;
  std::vector<uint32_t> binIndices;
  std::size_t flat = 0;
  for (auto& src : tf)
    for (auto& row : src)
      for (auto& value : row) value = FlatValue(flat++);
  for (std::size_t s = 0; s < sources; ++s) positions.push_back(SourceAt(s));
  for (std::size_t k = 0; k < bins; ++k) binIndices.push_back(static_cast<uint32_t>(2 * k + 1));
  gtf->SetPositions(positions);
  gtf->SetBinIndices(binIndices);
  gtf->SetTf(tf);
  return gtf;
}

boost::shared_ptr<vgtf::M2PG1_0> MakeM2pg(std::size_t sources, std::size_t inner, std::size_t mics, std::size_t bins) {
  auto m2pg = boost::make_shared<vgtf::M2PG1_0>();
  vgtf::TF4 tf(sources,
               vgtf::TF3(inner, std::vector<std::vector<vgtf::Complex>>(mics, std::vector<vgtf::Complex>(bins))));
  std::vector<std::vector<veskio2::Vector3<float>>> positions(sources);
  std::size_t flat = 0;
  for (std::size_t s = 0; s < sources; ++s)
    for (std::size_t i = 0; i < inner; ++i) {
      positions[s].push_back(SourceAt(s * inner + i));
      for (auto& row : tf[s][i])
        for (auto& value : row) value = FlatValue(flat++);
    }
  m2pg->SetPositions(positions);
  m2pg->SetTf(tf);
  return m2pg;
}

// Files of more than one block of values (blocks ending inside the reader's
// hands of values), whose transfer functions come before the vgtf::Fmt and
// after or before other transfer functions: the first vgtf::GTF, else the
// first vgtf::M2PG, is written, every value in its place.
TEST(TfFileToSofa, WritesEveryValueOfTheFirstTransferFunctions) {
  struct Case {
    const char* what;
    std::vector<boost::shared_ptr<veskio2::vesk::DataSet>> sets;
    std::size_t sources, mics, bins;
    std::vector<uint32_t> binIndices;
  };
  std::vector<uint32_t> oddBins;
  for (uint32_t k = 0; k < 513; ++k) oddBins.push_back(2 * k + 1);
  std::vector<uint32_t> allBins;
  for (uint32_t k = 0; k < 1025; ++k) allBins.push_back(k);
  const std::vector<Case> cases = {
      {"gtf after an m2pg, before another gtf and the fmt",
       {MakeM2pg(2, 1, 8, 3), MakeGtf(300, 8, 513), MakeGtf(1, 8, 2), MakeFmt(8)},
       300,
       8,
       513,
       oddBins},
      {"m2pg of three inner entries, fmt last", {MakeM2pg(70, 3, 5, 1025), MakeFmt(5)}, 210, 5, 1025, allBins},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ScratchDir dir;
    auto file = boost::make_shared<veskio2::vesk::VeskFile>();
    for (const auto& set : c.sets) file->AddDataSet(set);
    {
      std::ofstream out(dir / "tf.bin", std::ios::binary);
      veskio2::vesk::VeskFileBinaryWriter(out).Write(file);
    }
    vesksofa::ConvertTfFileToSofa(dir / "tf.bin", dir / "tf.sofa", {});

    const std::vector<double> real = ReadNetcdfVar(dir / "tf.sofa", "Data.Real");
    const std::vector<double> imag = ReadNetcdfVar(dir / "tf.sofa", "Data.Imag");
    ASSERT_EQ(real.size(), c.sources * c.mics * c.bins);
    ASSERT_EQ(imag.size(), real.size());
    for (std::size_t flat = 0; flat < real.size(); ++flat) {
      ASSERT_EQ(real[flat], FlatValue(flat).real()) << flat;
      ASSERT_EQ(imag[flat], FlatValue(flat).imag()) << flat;
    }
    const std::vector<double> sources = ReadNetcdfVar(dir / "tf.sofa", "SourcePosition");
    ASSERT_EQ(sources.size(), 3 * c.sources);
    for (std::size_t s = 0; s < c.sources; ++s) {
      const auto want = SourceAt(s);
      EXPECT_EQ(sources[3 * s], want.x);
      EXPECT_EQ(sources[3 * s + 1], want.y);
      EXPECT_EQ(sources[3 * s + 2], want.z);
    }
    const std::vector<double> hz = ReadNetcdfVar(dir / "tf.sofa", "N");
    ASSERT_EQ(hz.size(), c.bins);
    for (std::size_t k = 0; k < c.bins; ++k) EXPECT_EQ(hz[k], c.binIndices[k] * 16000.0 / 2048) << k;
  }
}

struct IrListFixture {
  std::vector<std::vector<std::vector<float>>> samples;  // [source][mic][tap]
  std::vector<veskio2::Vector3<float>> micPositions, sourcePositions;
  std::vector<unsigned> micIndices = {5, 2, 9};
};

// Three microphones (listed out of index order), four sources, 37 taps.
IrListFixture WriteIrList(const ScratchDir& dir) {
  IrListFixture f;
  f.micPositions = {{0.1f, 0, 0}, {0, 0.1f, 0.02f}, {-0.05f, -0.0866f, 0}};
  f.sourcePositions = {{1.5f, 0, 0}, {0, 1.5f, 0.3f}, {-1, -1, 0}, {0.2f, 0, -2}};
  auto mic = boost::make_shared<vc::MicArrayLocationFile2_0>();
  std::vector<vc::Mic1> mics;
  for (std::size_t m = 0; m < 3; ++m)
    mics.push_back(
        testsupport::MakeMic(f.micIndices[m], f.micPositions[m].x, f.micPositions[m].y, f.micPositions[m].z));
  mic->SetMics(mics);
  testsupport::WriteConfig(dir / "mic.xml", mic);
  auto list = boost::make_shared<vc::ImpulseResponseListFile2_0>();
  std::vector<vc::Source2> sources;
  f.samples.resize(4);
  for (std::size_t s = 0; s < 4; ++s) {
    vc::Source2 source;
    source.SetPosition(veskio2::MakePositionFromVector(f.sourcePositions[s]));
    source.SetCutStart(1);
    source.SetCutEnd(0);
    std::vector<vc::File1> files;
    for (std::size_t m : {2, 0, 1}) {  // files in another order than the microphones
      const std::string name = "s" + std::to_string(s) + "_m" + std::to_string(f.micIndices[m]) + ".flt";
      files.push_back(testsupport::MakeFile(name, {f.micIndices[m]}));
    }
    source.SetFiles(files);
    sources.push_back(source);
    for (std::size_t m = 0; m < 3; ++m) {
      std::vector<float> taps(37);
      for (std::size_t n = 0; n < taps.size(); ++n) taps[n] = std::cos(0.3f * n + s) * std::exp(-0.1f * n) + 0.01f * m;
      testsupport::WriteFlt(dir / ("s" + std::to_string(s) + "_m" + std::to_string(f.micIndices[m]) + ".flt"), taps);
      f.samples[s].push_back(taps);
    }
  }
  list->SetNumMic(3);
  list->SetSources(sources);
  testsupport::WriteConfig(dir / "ir.xml", list);
  return f;
}

void ExpectNear(const veskio2::Vector3<float>& got, const veskio2::Vector3<float>& want) {
  // float direction × distance back and forth: a few ulps of metres.
  EXPECT_NEAR(got.x, want.x, 1e-6);
  EXPECT_NEAR(got.y, want.y, 1e-6);
  EXPECT_NEAR(got.z, want.z, 1e-6);
}

// IR list -> GeneralFIR (read back by libmysofa) -> IR list: same taps and positions.
TEST(IrListSofa, RoundTripKeepsTapsAndPositions) {
  ScratchDir dir;
  const IrListFixture f = WriteIrList(dir);
  fs::current_path(dir.Path());  // .flt names are relative to the working directory
  vesksofa::ConvertIrListToSofa("ir.xml", "mic.xml", "out.sofa", 22050, {});

  int err = 0;
  MYSOFA_HRTF* hrtf = mysofa_load((dir / "out.sofa").c_str(), &err);
  ASSERT_TRUE(hrtf) << "mysofa_load error " << err;
  EXPECT_EQ(hrtf->M, 4u);
  EXPECT_EQ(hrtf->R, 3u);
  EXPECT_EQ(hrtf->N, 37u);
  EXPECT_EQ(hrtf->DataSamplingRate.values[0], 22050.0f);
  for (std::size_t s = 0; s < 4; ++s)
    for (std::size_t m = 0; m < 3; ++m)
      for (std::size_t n = 0; n < 37; ++n)
        ASSERT_EQ(hrtf->DataIR.values[(s * 3 + m) * 37 + n], f.samples[s][m][n]) << s << " " << m << " " << n;
  mysofa_free(hrtf);

  vesksofa::ConvertSofaToIrList("out.sofa", "back/");  // a trailing slash names the same directory
  const auto mic = ReadConfigAs<vc::MicArrayLocationFile2_0>("back/mic.xml");
  const auto list = ReadConfigAs<vc::ImpulseResponseListFile2_0>("back/ir.xml");
  ASSERT_EQ(mic->GetMics().size(), 3u);
  for (std::size_t m = 0; m < 3; ++m) ExpectNear(mic->GetMics()[m].GetPosition().ToCartesian(), f.micPositions[m]);
  ASSERT_EQ(list->GetSources().size(), 4u);
  for (std::size_t s = 0; s < 4; ++s) {
    const auto& source = list->GetSources()[s];
    ExpectNear(source.GetPosition().ToCartesian(), f.sourcePositions[s]);
    ASSERT_EQ(source.GetFiles().size(), 3u);
    for (std::size_t m = 0; m < 3; ++m) {
      const auto& file = source.GetFiles()[m];
      EXPECT_EQ(file.GetMicIndices(), std::vector<unsigned>{mic->GetMics()[m].GetMicIndex()});
      EXPECT_EQ(vesktools::ReadFloat32LE("back/" + std::string(file.GetName())), f.samples[s][m]);
    }
  }
}

TEST(IrListSofa, FailedExportLeavesNothing) {
  struct Case {
    const char* what;
    std::function<void(const ScratchDir&)> change;
    std::string error;
  };
  const std::vector<Case> cases = {
      {"short response", [](const ScratchDir& d) { testsupport::WriteFlt(d / "s3_m9.flt", std::vector<float>(36)); },
       "s3_m9.flt: expected 37 samples (as s0_m5.flt), found 36"},
      {"missing response", [](const ScratchDir& d) { fs::remove(d / "s2_m2.flt"); }, "cannot open s2_m2.flt"},
      {"zero rate", [](const ScratchDir&) {}, "--sampling-freq must be at least 1"},
      {"pipe as output", [](const ScratchDir& d) { ASSERT_EQ(::mkfifo((d / "out.sofa").c_str(), 0600), 0); },
       "out.sofa: expected a regular file to write the SOFA file to"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ScratchDir dir;
    WriteIrList(dir);
    c.change(dir);
    fs::current_path(dir.Path());
    const auto before = dir.Entries();
    const unsigned rate = std::string(c.what) == "zero rate" ? 0 : 16000;
    EXPECT_EQ(testsupport::ErrorOf([&] { vesksofa::ConvertIrListToSofa("ir.xml", "mic.xml", "out.sofa", rate, {}); }),
              c.error);
    EXPECT_EQ(dir.Entries(), before);
  }
}

}  // namespace
