#include "tf/TFMaker.h"

#include <iostream>
#include <memory>
#include <new>
#include <stdexcept>

#include <boost/format.hpp>
#include <glibmm/exception.h>

#include "options/validators.h"
#include "provider/IRProviderIR.h"
#include "provider/IRProviderTSP.h"
#include "provider/MicIndexTable.h"
#include "template/GridParameters.h"
#include "tf/ClassifyInputFile.h"
#include "tf/ConfigInputs.h"
#include "tf/GeometryToTF.h"
#include "tf/JobToWarnings.h"
#include "tf/MeasuredIRToTF.h"
#include "tf/TFJob.h"
#include "tf/TFMakingParameters.h"
#include "veskio2/Vesk.h"

namespace trelvix {

namespace po = boost::program_options;

class TFMaker::Impl {
public:
  Impl(const po::variables_map& vm, OutputStream out) : vm_(vm), out_(std::move(out)) {}

  bool Run();
  // The options and the classified input files, each configuration file
  // read once; the vertical count is filled by MakeFile.
  TFJob MakeParameters() const;

private:
  // Reports share standard output with the file only when the file goes elsewhere.
  bool FileGoesToStdout() const { return vm_.count("output-file") == 0; }
  std::ostream& Report() const { return FileGoesToStdout() ? std::cerr : std::cout; }
  // The process-wide table, from the job's microphone array.
  void FillMicIndexTable(const TFJob& job) const;
  boost::shared_ptr<veskio2::vesk::VeskFile> MakeFile(TFJob& job) const;

  const po::variables_map& vm_;
  OutputStream out_;
};

TFMaker::TFMaker(const po::variables_map& vm, OutputStream out) : impl_(std::make_shared<Impl>(vm, std::move(out))) {}

bool TFMaker::Run() { return impl_->Run(); }

TFJob TFMaker::Impl::MakeParameters() const {
  TFJob job;
  TFMakingParameters& param = job.param;
  boost::shared_ptr<veskio2::veskconfig::VeskConfigFile> micArray;
  param.calc = vm_["geometry-calculus"].as<unsigned int>();
  if (vm_.count("input-files")) {
    for (const std::string& path : vm_["input-files"].as<std::vector<std::string>>()) {
      std::string reason;
      boost::shared_ptr<veskio2::veskconfig::VeskConfigFile> parsed;
      switch (ClassifyInputFile(path, &reason, &parsed)) {
        case InputFileType::TSP_LIST:
          if (!param.tsp_list_file.empty()) throw std::runtime_error("too many tsp list file");
          param.tsp_list_file = path;
          job.list = parsed;
          break;
        case InputFileType::MIC_ARRAY_LOCATION:
          if (!param.mic_array_location_file.empty()) throw std::runtime_error("too many mic array location file");
          param.mic_array_location_file = path;
          micArray = parsed;
          break;
        case InputFileType::IR_LIST:
          if (!param.ir_list_file.empty()) throw std::runtime_error("too many impulse response list file");
          param.ir_list_file = path;
          job.list = parsed;
          break;
        default:
          std::cerr << "the file has a invalid type for making TF. ignoring: " << path << std::endl;
          // Why a configuration file could not be read, on a line of its own.
          if (!reason.empty()) std::cerr << "  " << reason << std::endl;
      }
    }
  }
  param.tf_type = TFType::M2PG;
  if (vm_.count("output-type")) {
    const OutputType type = vm_["output-type"].as<OutputType>();
    if (type == OutputType::GTF)
      param.tf_type = TFType::GTF;
    else if (type != OutputType::M2PG)
      throw std::runtime_error("invalid output type for making TF");
  }
  if (param.mic_array_location_file.empty()) {
    throw std::runtime_error("need a mic array location file for making TF");
  }
  if (!param.ir_list_file.empty() && !param.tsp_list_file.empty()) {
    throw std::runtime_error("too many VESK-config files for making TF");
  }
  if (param.ir_list_file.empty() && param.tsp_list_file.empty()) {
    throw std::runtime_error("need a impulse response list file or a tsp list file for making TF");
  }
  if (param.calc == 1) {
    std::cerr << (param.tf_type == TFType::GTF ? "GTF creating TF based on geometric calculation(param.calc == 1)"
                                               : "creating TF based on geometric calculation(param.calc == 1)")
              << std::endl;
  }
  param.nfft = vm_["nfft"].as<unsigned int>();
  param.tsp_length = vm_["tsp-length"].as<unsigned int>();
  param.normalize_src = vm_.count("normalize-src") > 0;
  param.normalize_mic = vm_.count("normalize-mic") > 0;
  param.normalize_freq = vm_.count("normalize-freq") > 0;
  param.direct_length = vm_["direct-length"].as<unsigned int>();
  param.sampling_freq = vm_["sampling-freq"].as<unsigned int>();
  if (param.nfft == 0) throw std::runtime_error("nfft must be at least 1, but 0 is given");
  job.micArray = AsMicArrayLocationFile(micArray, param.mic_array_location_file);
  return job;
}

void TFMaker::Impl::FillMicIndexTable(const TFJob& job) const {
  const TFMakingParameters& param = job.param;
  const auto& mics = job.micArray->GetMics();
  if (mics.size() > kMicIndexTableSize) {
    throw std::runtime_error((boost::format("%s lists %d microphones; at most %d are supported") %
                              param.mic_array_location_file % mics.size() % kMicIndexTableSize)
                                 .str());
  }
  for (std::size_t mic = 0; mic < mics.size(); ++mic) {
    SetMicIndexOf(mic, static_cast<int32_t>(mics[mic].GetMicIndex()));
  }
}

boost::shared_ptr<veskio2::vesk::VeskFile> TFMaker::Impl::MakeFile(TFJob& job) const {
  const TFMakingParameters& param = job.param;
  job.numVertical = ReadGridParameters(vm_).num_vertical;
  FillMicIndexTable(job);
  WarnAboutJob(job, std::cerr);
  if (param.calc == 1) return MakeGeometricTF(job, Report());
  if (!param.ir_list_file.empty()) {
    IRProviderIR provider(job.list, param.ir_list_file);
    // The length recorded is that of the first impulse response, from its size.
    const uint32_t irLength = provider.GetNumSources() > 0 ? static_cast<uint32_t>(provider.GetIRLength(0, 0)) : 0;
    return MakeMeasuredTF(job, provider, irLength, Report());
  }
  IRProviderTSP provider(job.list, param.tsp_list_file,
                         DravikInvocation{LocateDravik(), FileGoesToStdout(), param.sampling_freq});
  // The list's TSP length is the response length unless the command line sets one.
  const auto* list = dynamic_cast<const veskio2::veskconfig::TSPListFile2_0*>(job.list.get());
  const uint32_t irLength =
      vm_["tsp-length"].defaulted() && list && list->HasTspLength() ? list->GetTspLength() : param.tsp_length;
  return MakeMeasuredTF(job, provider, irLength, Report());
}

bool TFMaker::Impl::Run() {
  if (vm_.count("output-format") && vm_["output-format"].as<OutputFormat>() != OutputFormat::BINARY) {
    std::cerr << "unsupported output format in TF mode" << std::endl;
    return false;
  }
  const char* step = "reading the input files";
  try {
    veskio2::vesk::VeskFileBinaryWriter writer(*out_);
    TFJob job = MakeParameters();
    step = "computing the transfer functions";
    const auto file = MakeFile(job);
    step = "writing the transfer-function file";
    writer.Write(file);
    out_->flush();
    if (!*out_) throw std::runtime_error("could not write the transfer-function file");
    return true;
  } catch (const std::bad_alloc&) {
    std::cerr << "out of memory while " << step << "; nothing was written" << std::endl;
    return false;
  } catch (const std::exception& e) {
    std::cerr << e.what() << std::endl;
    return false;
  } catch (const Glib::Exception& e) {  // e.g. a file name that is no valid text
    std::cerr << e.what() << std::endl;
    return false;
  }
}

}  // namespace trelvix
