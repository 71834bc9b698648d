// sofa2vesk: a FIR SOFA file into a microphone-array file, an impulse-response
// list and its .flt files, ready for trelvix --mode tf.
#include <iostream>
#include <string>
#include <vector>

#include <boost/program_options.hpp>

#include "base/OptionParsing.h"
#include "SofaToIrList.h"
#include "base/ShellCommand.h"
#include "base/SignalCleanup.h"
#include "ToolMain.h"

namespace po = boost::program_options;
using namespace vesksofa;

namespace {

const char* const kUsage = "Usage: sofa2vesk IN.sofa OUTDIR   (OUTDIR must not exist or be empty)\n";

int Run(int argc, char** argv) {
  std::vector<std::string> files;
  po::options_description opts("sofa2vesk options");
  opts.add_options()("help,h", "show this text");
  const po::variables_map vm = vesk::ParseOptionsAndFiles(argc, argv, opts, &files);
  if (vm.count("help")) {
    std::cout << kUsage << opts << "\n";
    return 0;
  }
  if (files.size() != 2) {
    std::cerr << kUsage;
    return 1;
  }
  const IrListSummary s = ConvertSofaToIrList(files[0], files[1]);
  std::size_t nfft = 1;
  while (nfft * 2 <= s.samples) nfft *= 2;
  std::cout << "wrote " << files[1] << ": mic.xml (" << s.receivers << " receivers), ir.xml (" << s.measurements
            << " sources) and " << s.measurements * s.receivers << " .flt files of " << s.samples << " samples at "
            << s.samplingRateHz << " Hz (" << s.convention << ")\n"
            << "next: cd " << vesk::ShellWord(files[1]) << " && trelvix --mode tf -t m2pg --nfft " << nfft
            << " --direct-length " << nfft << " --sampling-freq " << s.samplingRateHz << " -o tf.bin mic.xml ir.xml\n";
  return 0;
}

}  // namespace

int main(int argc, char** argv) { return vesktools::ToolMain("sofa2vesk", Run, argc, argv); }
