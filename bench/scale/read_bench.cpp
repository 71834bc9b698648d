// The C++ reader of bench/scale/run_readers.sh: reads a transfer-function
// file into its objects with the library's binary reader and prints the
// shape of its transfer functions, so that nothing is optimised away.
#include <fstream>
#include <iostream>

#include <boost/pointer_cast.hpp>

#include "veskio2/Vesk.h"

using namespace veskio2::vesk;

int main(int argc, char** argv) {
  if (argc != 2) {
    std::cerr << "usage: read_bench FILE" << std::endl;
    return 1;
  }
  try {
    std::ifstream in(argv[1], std::ios::binary);
    if (!in) throw std::runtime_error(std::string(argv[1]) + ": cannot open");
    const auto file = VeskFileBinaryReader(in).Read();
    std::size_t values = 0;
    double sum = 0;
    for (const auto& dataSet : file->GetDataSets()) {
      if (const auto m2pg = boost::dynamic_pointer_cast<vgtf::M2PG1_0>(dataSet); m2pg && m2pg->HasTf()) {
        for (const auto& inner : m2pg->GetTf())
          for (const auto& mics : inner)
            for (const auto& bins : mics) {
              values += bins.size();
              sum += bins.empty() ? 0 : bins.front().real();
            }
      } else if (const auto gtf = boost::dynamic_pointer_cast<vgtf::GTF1_0>(dataSet); gtf && gtf->HasTf()) {
        for (const auto& mics : gtf->GetTf())
          for (const auto& bins : mics) {
            values += bins.size();
            sum += bins.empty() ? 0 : bins.front().real();
          }
      }
    }
    std::cout << values << " transfer-function values, checksum " << sum << std::endl;
  } catch (const std::exception& e) {
    std::cerr << "read_bench: " << e.what() << std::endl;
    return 1;
  }
  return 0;
}
