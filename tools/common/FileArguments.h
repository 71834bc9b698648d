// The command line of the tools that take options and then file names.
#ifndef VESK_TOOLS_FILEARGUMENTS_H
#define VESK_TOOLS_FILEARGUMENTS_H

#include <string>
#include <vector>

#include <boost/program_options.hpp>

#include "ToolError.h"

namespace vesktools {

// Parses `options` and any number of positional file names into *files (in
// their order). A malformed command line throws ToolError with the parser's
// text.
inline boost::program_options::variables_map ParseOptionsAndFiles(
    int argc, char** argv, const boost::program_options::options_description& options,
    std::vector<std::string>* files) {
  namespace po = boost::program_options;
  po::options_description hidden;
  hidden.add_options()("file", po::value(files));
  po::options_description all;
  all.add(options).add(hidden);
  po::positional_options_description positional;
  positional.add("file", -1);
  po::variables_map vm;
  try {
    po::store(po::command_line_parser(argc, argv).options(all).positional(positional).run(), vm);
    po::notify(vm);
  } catch (const po::error& e) {
    throw ToolError(e.what());
  }
  return vm;
}

}  // namespace vesktools

#endif
