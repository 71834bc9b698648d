#include "base/OptionParsing.h"

#include <boost/program_options/parsers.hpp>
#include <boost/program_options/value_semantic.hpp>

namespace po = boost::program_options;

namespace vesk {

void ParseOptionsAndFiles(int argc, const char* const argv[], const po::options_description& options,
                          const po::positional_options_description& positional, po::variables_map& vm) {
  po::command_line_parser parser(argc, argv);
  parser.options(options).positional(positional);
  po::store(parser.run(), vm);
  po::notify(vm);
}

po::variables_map ParseOptionsAndFiles(int argc, const char* const argv[], const po::options_description& options,
                                       std::vector<std::string>* files) {
  po::options_description hidden;
  hidden.add_options()("file", po::value(files));
  po::options_description all;
  all.add(options).add(hidden);
  po::positional_options_description positional;
  positional.add("file", -1);
  po::variables_map vm;
  ParseOptionsAndFiles(argc, argv, all, positional, vm);
  return vm;
}

}  // namespace vesk
