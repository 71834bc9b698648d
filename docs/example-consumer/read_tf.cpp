// Prints what a transfer-function file holds: its format, the shape of its
// transfer functions and the value of one of them.
//   read_tf FILE [SOURCE MIC BIN]    (indices from 0; default 0 0 1)
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <stdexcept>
#include <string>

#include <boost/pointer_cast.hpp>

#include <veskio2/Vesk.h>

namespace vgtf = veskio2::vesk::vgtf;

namespace {

std::size_t Index(const char* text, const char* what) {
  char* end = nullptr;
  const unsigned long value = std::strtoul(text, &end, 10);
  if (*text == '\0' || *end != '\0') throw std::runtime_error(std::string("bad ") + what + ": " + text);
  return value;
}

// The shortest text that reads back as the same float.
std::string Text(float value) {
  char buffer[32];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
  return std::string(buffer, result.ptr);
}

// tf[source][mic][bin], bounds checked against the file's own sizes.
void PrintValue(const vgtf::TF3& tf, std::size_t src, std::size_t mic, std::size_t bin, const std::string& label) {
  const vgtf::Complex value = tf.at(src).at(mic).at(bin);
  std::cout << label << "[" << src << "][" << mic << "][" << bin << "] = " << Text(value.real())
            << (std::signbit(value.imag()) ? " - " : " + ") << Text(std::fabs(value.imag())) << "i\n";
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2 && argc != 5) {
    std::cerr << "usage: read_tf FILE [SOURCE MIC BIN]\n";
    return 2;
  }
  try {
    const std::size_t src = argc == 5 ? Index(argv[2], "source") : 0;
    const std::size_t mic = argc == 5 ? Index(argv[3], "mic") : 0;
    const std::size_t bin = argc == 5 ? Index(argv[4], "bin") : 1;

    std::ifstream in(argv[1], std::ios::binary);
    if (!in) throw std::runtime_error(std::string("cannot open ") + argv[1]);
    const auto file = veskio2::vesk::VeskFileBinaryReader(in).Read();

    for (const auto& dataSet : file->GetDataSets()) {
      if (const auto fmt = boost::dynamic_pointer_cast<vgtf::Fmt1_0>(dataSet)) {
        std::cout << "vgtf::Fmt: formatType " << fmt->GetFormatType() << ", " << fmt->GetMicCount()
                  << " mics, fftLength " << fmt->GetFftLength() << ", samplingRate " << fmt->GetSamplingRate()
                  << " Hz\n";
      } else if (const auto gtf = boost::dynamic_pointer_cast<vgtf::GTF1_0>(dataSet)) {
        const auto& tf = gtf->GetTf();
        std::cout << "vgtf::GTF: tf " << tf.size() << " sources x " << (tf.empty() ? 0 : tf[0].size()) << " mics x "
                  << (tf.empty() || tf[0].empty() ? 0 : tf[0][0].size()) << " bins\n";
        PrintValue(tf, src, mic, bin, "tf");
      } else if (const auto m2pg = boost::dynamic_pointer_cast<vgtf::M2PG1_0>(dataSet)) {
        // [source][inner][mic][bin]: the inner index 0 is shown.
        const auto& tf = m2pg->GetTf();
        std::cout << "vgtf::M2PG: tf " << tf.size() << " sources x " << m2pg->GetInnerCount() << " inner x "
                  << (tf.empty() || tf[0].empty() ? 0 : tf[0][0].size()) << " mics x "
                  << (tf.empty() || tf[0].empty() || tf[0][0].empty() ? 0 : tf[0][0][0].size()) << " bins\n";
        PrintValue(tf.at(src), 0, mic, bin, "tf[" + std::to_string(src) + "]");
      }
    }
  } catch (const std::exception& e) {
    std::cerr << argv[1] << ": " << e.what() << "\n";
    return 1;
  }
  return 0;
}
