// The floors the scale benchmark compares trelvix with, each one a plain
// loop over the least work a run cannot avoid:
//   floor read LIST BYTES   reads the first BYTES of every file named in LIST
//                           (one per line) into one fresh buffer
//   floor write PATH BYTES  writes BYTES to PATH from a fresh buffer, in
//                           blocks of 1 MiB, and closes it
//   floor sincos COUNT      COUNT single-precision sine-and-cosine pairs,
//                           spread over the cores this process may use
#include <sched.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {

int Usage() {
  std::fprintf(stderr, "usage: floor read LIST BYTES | write PATH BYTES | sincos COUNT\n");
  return 2;
}

int ReadFiles(const char* list, std::size_t bytesPerFile) {
  std::ifstream names(list);
  std::vector<std::string> paths;
  for (std::string path; std::getline(names, path);) paths.push_back(path);
  const std::unique_ptr<char[]> buffer(new char[paths.size() * bytesPerFile]);
  std::size_t total = 0;
  for (const std::string& path : paths) {
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return std::perror(path.c_str()), 1;
    total += std::fread(buffer.get() + total, 1, bytesPerFile, f);
    std::fclose(f);
  }
  std::printf("read %zu bytes of %zu files\n", total, paths.size());
  return 0;
}

int WriteFile(const char* path, std::size_t bytes) {
  constexpr std::size_t kBlock = std::size_t(1) << 20;
  const std::unique_ptr<char[]> block(new char[kBlock]);
  std::memset(block.get(), 0x3f, kBlock);
  FILE* f = std::fopen(path, "wb");
  if (!f) return std::perror(path), 1;
  for (std::size_t left = bytes; left > 0;) {
    const std::size_t n = left < kBlock ? left : kBlock;
    if (std::fwrite(block.get(), 1, n, f) != n) return std::perror(path), 1;
    left -= n;
  }
  return std::fclose(f) == 0 ? 0 : 1;
}

int SinCos(std::size_t count) {
  cpu_set_t set;
  const unsigned cores = sched_getaffinity(0, sizeof set, &set) == 0 ? unsigned(CPU_COUNT(&set)) : 1u;
  std::vector<float> sums(cores);
  std::vector<std::thread> threads;
  for (unsigned t = 0; t < cores; ++t) {
    threads.emplace_back([&, t] {
      float sum = 0.0f;
      for (std::size_t i = t; i < count; i += cores) {
        float s, c;
        sincosf(static_cast<float>(i % 100003) * 0.0173f - 800.0f, &s, &c);
        sum += s + c;
      }
      sums[t] = sum;
    });
  }
  for (auto& thread : threads) thread.join();
  float sum = 0.0f;
  for (float s : sums) sum += s;
  std::printf("%zu sincosf on %u cores (sum %g)\n", count, cores, double(sum));
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 4 && std::strcmp(argv[1], "read") == 0) return ReadFiles(argv[2], std::strtoull(argv[3], nullptr, 10));
  if (argc == 4 && std::strcmp(argv[1], "write") == 0) return WriteFile(argv[2], std::strtoull(argv[3], nullptr, 10));
  if (argc == 3 && std::strcmp(argv[1], "sincos") == 0) return SinCos(std::strtoull(argv[2], nullptr, 10));
  return Usage();
}
