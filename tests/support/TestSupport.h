// Helpers shared by the tests of the providers, tf mode and the end-to-end
// runs: scratch directories, configuration and .flt files, running programs.
#ifndef TESTS_SUPPORT_TESTSUPPORT_H
#define TESTS_SUPPORT_TESTSUPPORT_H

#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include <boost/filesystem.hpp>
#include <boost/shared_ptr.hpp>

#include "RunProcess.h"
#include "ScratchDir.h"
#include "veskio2/FltFile.h"
#include "veskio2/Vesk.h"
#include "veskio2/VeskConfig.h"

namespace testsupport {

namespace fs = boost::filesystem;

using vesk_test::ScratchDir;

// Raw little-endian float32 samples, as the .flt format holds them.
inline void WriteFlt(const std::string& path, const std::vector<float>& samples) {
  std::ofstream out(path, std::ios::binary);
  veskio2::flt::Write(out, samples.data(), samples.size());
  if (!out) throw std::runtime_error("cannot write " + path);
}

inline void WriteConfig(const std::string& path, const boost::shared_ptr<veskio2::veskconfig::VeskConfigFile>& file) {
  std::ofstream out(path);
  veskio2::veskconfig::VeskConfigFileXMLWriter writer(out);
  writer.Write(file);
  if (!out) throw std::runtime_error("cannot write " + path);
}

inline veskio2::Position<float> PositionAt(float x, float y, float z) {
  return veskio2::MakePositionFromVector(veskio2::Vector3<float>(x, y, z));
}

inline veskio2::veskconfig::Mic1 MakeMic(unsigned micIndex, float x, float y, float z) {
  veskio2::veskconfig::Mic1 mic;
  mic.SetMicIndex(micIndex);
  mic.SetPosition(PositionAt(x, y, z));
  return mic;
}

inline veskio2::veskconfig::File1 MakeFile(const std::string& name, std::vector<unsigned> micIndices) {
  veskio2::veskconfig::File1 file;
  file.SetName(name);
  file.SetMicIndices(micIndices);
  return file;
}

inline veskio2::veskconfig::Source2 MakeSource(const veskio2::Position<float>& position,
                                               std::vector<veskio2::veskconfig::File1> files, int cutStart = 1,
                                               int cutEnd = 0) {
  veskio2::veskconfig::Source2 source;
  source.SetPosition(position);
  source.SetCutStart(cutStart);
  source.SetCutEnd(cutEnd);
  source.SetFiles(files);
  return source;
}

inline boost::shared_ptr<veskio2::veskconfig::MicArrayLocationFile2_0> MakeMicArray(
    std::vector<veskio2::veskconfig::Mic1> mics) {
  boost::shared_ptr<veskio2::veskconfig::MicArrayLocationFile2_0> file(
      new veskio2::veskconfig::MicArrayLocationFile2_0);
  file->SetComment("test array");
  file->SetMics(mics);
  return file;
}

// The message of what `f` throws, or "no error".
template <typename F>
std::string ErrorOf(F f) {
  try {
    f();
  } catch (const std::exception& e) {
    return e.what();
  }
  return "no error";
}

struct RunResult {
  int status = -1;  // exit status, or 128 + signal
  std::string out;
  std::string err;
};

using vesk_test::ReadWholeFile;

// Runs `argv` (argv[0] is the program path); `env` entries "NAME=value"
// are added, "NAME=" with nothing after it removes NAME.
inline RunResult RunProgram(const std::vector<std::string>& argv, const std::string& workDir = "",
                            const std::vector<std::string>& env = {}) {
  vesk_test::ProcessOptions options;
  options.workDir = workDir;
  options.env = env;
  const vesk_test::ProcessResult run = vesk_test::RunProcess(argv, options);
  return RunResult{run.signal ? 128 + run.signal : run.status, run.out, run.err};
}

inline std::string RequireEnv(const char* name) {
  const char* value = std::getenv(name);
  return value ? value : "";
}

inline boost::shared_ptr<veskio2::vesk::VeskFile> ReadTFFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot open " + path);
  veskio2::vesk::VeskFileBinaryReader reader(in);
  return reader.Read();
}

template <typename DataSetType>
boost::shared_ptr<DataSetType> FindDataSet(const veskio2::vesk::VeskFile& file) {
  for (const auto& set : file.GetDataSets()) {
    if (auto found = boost::dynamic_pointer_cast<DataSetType>(set)) return found;
  }
  return boost::shared_ptr<DataSetType>();
}

}  // namespace testsupport

#endif
