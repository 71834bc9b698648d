// vesk2sofa: a transfer-function file, or the impulse responses of an
// impulse-response list, as a SOFA file (GeneralTF or GeneralFIR).
#include <iostream>
#include <string>
#include <vector>

#include <boost/program_options.hpp>

#include "base/OptionParsing.h"
#include "IrListToSofa.h"
#include "TfFileToSofa.h"
#include "ToolError.h"
#include "ToolMain.h"

namespace po = boost::program_options;
using namespace vesksofa;

namespace {

const char* const kUsage =
    "Usage: vesk2sofa [options] TF.bin OUT.sofa\n"
    "       vesk2sofa --ir [options] IRLIST.xml MIC.xml OUT.sofa\n";

int Run(int argc, char** argv) {
  SofaTexts texts;
  unsigned int samplingFreq = 16000;
  std::vector<std::string> files;
  po::options_description opts("vesk2sofa options");
  opts.add_options()("help,h", "show this text")(
      "ir", "convert an impulse-response list (with its microphone-array file) into GeneralFIR")(
      "sampling-freq", po::value(&samplingFreq)->default_value(16000), "with --ir: sampling rate of the responses, Hz")(
      "title", po::value(&texts.title), "Title (default: the input file's name)")(
      "comment", po::value(&texts.comment),
      "Comment (default for a TF file: how the stored values relate to the transfer function)")(
      "author-contact", po::value(&texts.authorContact), "AuthorContact")(
      "organization", po::value(&texts.organization), "Organization")("license", po::value(&texts.license), "License")(
      "room-type", po::value(&texts.roomType), "RoomType (default: free field)")(
      "references", po::value(&texts.references), "References");
  const po::variables_map vm = vesk::ParseOptionsAndFiles(argc, argv, opts, &files);
  if (vm.count("help")) {
    std::cout << kUsage << opts << "\n";
    return 0;
  }
  const bool irList = vm.count("ir") > 0;
  if (!irList && !vm["sampling-freq"].defaulted())
    throw vesktools::ToolError("--sampling-freq applies to --ir only (a TF file records its own rate)");
  if (files.size() != (irList ? 3u : 2u)) {
    std::cerr << kUsage;
    return 1;
  }
  if (irList) {
    ConvertIrListToSofa(files[0], files[1], files[2], samplingFreq, texts);
  } else {
    ConvertTfFileToSofa(files[0], files[1], texts);
  }
  std::cout << "wrote " << files.back() << "\n";
  return 0;
}

}  // namespace

int main(int argc, char** argv) { return vesktools::ToolMain("vesk2sofa", Run, argc, argv); }
