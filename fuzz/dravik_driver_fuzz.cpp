// dravik's recording reader as the driver calls it: the input is the
// recorded wave of a whole run (small period, two periods averaged, every
// channel selected), from reading and checking the recording to writing the
// impulse files. Every input ends in one of dravik's exit statuses.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

#include "Driver.h"
#include "MemoryFile.h"

namespace {

// The TSP origin (a unit impulse of 64 samples) and the directory of the
// impulse files, made once per process.
struct Fixture {
  std::string dir, origin, head;
  Fixture() {
    char made[] = "/tmp/dravik-driver-fuzz-XXXXXX";
    if (!::mkdtemp(made)) std::abort();
    dir = made;
    origin = dir + "/origin.flt";
    head = dir + "/out";
    std::FILE* f = std::fopen(origin.c_str(), "wb");
    if (!f) std::abort();
    const unsigned char one[4] = {0x00, 0x00, 0x80, 0x3f};  // 1.0f little-endian
    const unsigned char zero[4] = {0, 0, 0, 0};
    std::fwrite(one, 1, 4, f);
    for (int i = 1; i < 64; ++i) std::fwrite(zero, 1, 4, f);
    std::fclose(f);
    // The driver reports on standard output; keep the fuzzer's log short.
    const int null = ::open("/dev/null", O_WRONLY);
    if (null >= 0) ::dup2(null, 1);
  }
  ~Fixture() {
    std::error_code ignored;
    std::filesystem::remove_all(dir, ignored);
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static Fixture fixture;
  MemoryFile file(data, size);
  if (!file.ok()) return 0;
  std::vector<std::string> args = {"dravik",
                                   "--tsporigflt",
                                   fixture.origin,
                                   "--sigmax",
                                   "1",
                                   "--samplebyframe",
                                   "64",
                                   "--syncaddfreq",
                                   "2",
                                   "--syncaddoffset",
                                   "0",
                                   file.path(),
                                   fixture.head};
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(&a[0]);
  argv.push_back(nullptr);
  const int status = dravik::run_dravik(static_cast<int>(args.size()), argv.data());
  std::fflush(stdout);
  if (status != 0 && status != 1 && status != 255) std::abort();
  return 0;
}
