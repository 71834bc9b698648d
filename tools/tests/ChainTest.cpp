// The generator, the simulator and the impulse calculator together: the
// origin's scale and the recordings' channel order are what the calculator
// expects, so it recovers the simulated responses.
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <unistd.h>

#include <gtest/gtest.h>

#include "FloatFile.h"
#include "veskio2/VeskConfig.h"

namespace fs = std::filesystem;
namespace vc = veskio2::veskconfig;

namespace {

std::string Program(const char* var) {
  const char* path = std::getenv(var);
  return path && fs::exists(path) ? path : "";
}

int RunIn(const fs::path& dir, const std::string& command) {
  return std::system(("cd '" + dir.string() + "' && " + command + " >> log.txt 2>&1").c_str());
}

}  // namespace

TEST(Chain, CalculatorRecoversTheSimulatedResponses) {
  const std::string tspgen = Program("TSPGEN_BIN"), measim = Program("MEASIM_BIN"), dravik = Program("DRAVIK_BIN");
  if (tspgen.empty() || measim.empty() || dravik.empty()) GTEST_SKIP() << "tspgen, measim or dravik not built";
  const fs::path dir = fs::temp_directory_path() / ("vesk_chain_" + std::to_string(::getpid()));
  fs::remove_all(dir);
  fs::create_directories(dir);

  // Two microphones, listed in reverse order, one source.
  vc::MicArrayLocationFile2_0 mics;
  std::vector<vc::Mic1> m(2);
  m[0].SetMicIndex(0);
  m[0].SetPosition(veskio2::Position<float>(veskio2::Vector3<float>(1, 0, 0), 0.1f));
  m[1].SetMicIndex(1);
  m[1].SetPosition(veskio2::Position<float>(veskio2::Vector3<float>(-1, 0, 0), 0.1f));
  mics.SetMics(m);
  vc::TSPListFile2_0 list;
  list.SetSynchronousAverage(2);
  list.SetTspOffset(4096);
  list.SetTspLength(4096);
  vc::Source2 s;
  s.SetPosition(veskio2::Position<float>(veskio2::Vector3<float>(0.6f, 0.8f, 0), 1.3f));
  vc::File1 f;
  f.SetName("rec.wav");
  f.SetMicIndices({1, 0});
  s.SetFiles({f});
  list.SetSources({s});
  {
    std::ofstream a(dir / "mic.xml"), b(dir / "tsp.xml");
    vc::VeskConfigFileXMLWriter(a).Write(mics);
    vc::VeskConfigFileXMLWriter(b).Write(list);
  }
  ASSERT_EQ(RunIn(dir, tspgen + " --tsp-length 4096 --synchronous-average 2 --tsp-offset 4096"), 0);
  ASSERT_EQ(RunIn(dir, measim + " --mic mic.xml --list tsp.xml --playback playback.wav --wave-format float "
                                "--ir-length 2048 --response-dir exact"),
            0);
  ASSERT_EQ(RunIn(dir, dravik + " --tsporigflt 4096.little_endian.tsp --sigmax 32768 --samplebyframe 4096 "
                                "--syncaddfreq 2 --syncaddoffset 4096 rec.wav out"),
            0);
  for (int ch = 0; ch < 2; ++ch) {
    const std::vector<float> got =
        vesktools::ReadFloat32LE((dir / ("out_ch" + std::to_string(ch + 1) + ".flt")).string());
    // The listed channels in ascending order belong to the array's
    // microphones in file order, whatever the list's order.
    const std::vector<float> want =
        vesktools::ReadFloat32LE((dir / "exact" / (ch == 0 ? "src000_mic00.flt" : "src000_mic01.flt")).string());
    ASSERT_EQ(got.size(), 4096u);
    float peak = 0, worst = 0;
    for (std::size_t n = 0; n < got.size(); ++n) {
      const float w = n < want.size() ? want[n] : 0.0f;
      peak = std::max(peak, std::abs(w));
      worst = std::max(worst, std::abs(got[n] - w));
    }
    // Exact up to float32 storage of the recording and the result: a
    // wrong origin scale, channel order or period would be off by O(1).
    EXPECT_LT(worst, 1e-5f * peak) << "channel " << ch;
  }
  fs::remove_all(dir);
}
