#include "front/CommandLine.h"

#include <string>
#include <vector>

#include <boost/program_options/parsers.hpp>
#include <boost/program_options/value_semantic.hpp>

#include "options/OptionDefaults.h"
#include "base/OptionParsing.h"
#include "options/validators.h"
#include "dravik/Invocation.h"

namespace po = boost::program_options;

namespace trelvix {

std::shared_ptr<UsagePrinter> usage_printer;

namespace {

// An unsigned option whose negative value is refused as negative: the
// stream conversion would wrap "-512" round to 4294966784.
class UnsignedRefusingNegative : public po::typed_value<unsigned int> {
public:
  UnsignedRefusingNegative() : po::typed_value<unsigned int>(nullptr) {}
  void xparse(boost::any& value, const std::vector<std::string>& tokens) const override {
    for (const std::string& token : tokens) {
      const std::size_t digit = token.find_first_not_of(" \t");
      if (digit != std::string::npos && token[digit] == '-') {
        po::error_with_option_name negative(
            "the argument ('%value%') for option '%canonical_option%' is negative; "
            "it must be a count of at least 1");
        negative.set_substitute("value", token);
        throw negative;
      }
    }
    po::typed_value<unsigned int>::xparse(value, tokens);
  }
};

}  // namespace

void UsagePrinter::Print(std::ostream& os) const {
  os << "Usage: " << program_name << " [options] input-files" << std::endl;
  os << *visible_options << std::endl;
}

OptionTable::OptionTable() : all_("Command line options") {
  po::options_description common("Common options");
  common.add_options()("help", "show help")("mode,m", po::value<Mode>(), "what this program makes {template|tf}")(
      "output-file,o", po::value<std::string>(), "output file (default is STDOUT)")(
      "output-format,f", po::value<OutputFormat>(), "output format {xml|binary}")(
      "output-type,t", po::value<OutputType>(),
      "output type\n(1)in template mode {mic|noise|ir|tsp}\n(2)in tf mode {m2pg|gtf}");

  po::options_description config("Options to make VESK-config files");
  config.add_options()("nummic", po::value<unsigned int>()->default_value(8), "the number of microphones")(
      "azifrom", po::value<double>()->default_value(0), "the start of the azimuth range in degree")(
      "aziint", po::value<double>()->default_value(5), "the interval of azimuth in degree")(
      "numazi", po::value<unsigned int>()->default_value(72), "the number of azimuth")(
      "elvfrom", po::value<double>()->default_value(0), "the start of the elevation range in degree")(
      "elvint", po::value<double>()->default_value(5), "the interval of elevation in degree")(
      "numelv", po::value<unsigned int>()->default_value(1), "the number of elevation")(
      "heightfrom", po::value<double>()->default_value(0), "the start of the height range in meter")(
      "heightint", po::value<double>()->default_value(0.01), "the interval of height in meter")(
      "numheight", po::value<unsigned int>()->default_value(1), "the number of height")(
      "radius", po::value<double>()->default_value(1), "the radius from center to microphones or sound sources")(
      "synchronous-average", po::value<unsigned int>()->default_value(16), "the number of synchronous averaging")(
      "original-impulse-file", po::value<std::string>()->default_value(kOriginalImpulseFilePlaceholder),
      "original impulse file")("tsp-offset", po::value<unsigned int>()->default_value(16384),
                               "the offset of tsp signal in samples")(
      "tsp-length", po::value<unsigned int>()->default_value(dravik::kDefaultSamplesPerFrame),
      "the length of one tsp in samples")("signal-max", po::value<unsigned int>()->default_value(32768),
                                          "the maximum amplitude of tsp signal")(
      "cut-start", po::value<unsigned int>()->default_value(1), "the cut-start index in float vector")(
      "cut-end", po::value<unsigned int>()->default_value(0), "the cut-end index in float vector")(
      "mic-channels", po::value<CommaSeparatedOption<unsigned int>>(),
      "a comma separated list of the microphone channels")("filepath", po::value<std::string>(),
                                                           "the file path template string used by ir and tsp");

  po::options_description vesk("Options to make VESK files");
  vesk.add_options()("nfft", (new UnsignedRefusingNegative)->default_value(512), "the number of FFT points")(
      "normalize-src", "normalization of sound sources axis")(
      "normalize-mic", "normalization of microphone channels axis")("normalize-freq",
                                                                    "normalization of frequency axis")(
      "geometry-calculus", po::value<unsigned int>()->default_value(0), "geometry calculus")(
      "sampling-freq", po::value<unsigned int>()->default_value(16000),
      "sampling frequency of TSP signal or Impulse Response")(
      "direct-length", po::value<unsigned int>()->default_value(32), "direct sound length");

  po::options_description hidden("hidden options");
  hidden.add_options()("input-files", po::value<std::vector<std::string>>(),
                       "input files for making a transfer function");

  visible_.add(common).add(config).add(vesk);
  all_.add(visible_).add(hidden);
  positional_.add("input-files", -1);
}

void ParseCommandLine(const OptionTable& table, int argc, const char* const argv[], po::variables_map& vm) {
  vesk::ParseOptionsAndFiles(argc, argv, table.All(), table.Positional(), vm);
}

}  // namespace trelvix
