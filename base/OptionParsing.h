// The one parser of the command lines that take options and then file
// names: trelvix's option table and the tools' options.
#ifndef VESK_BASE_OPTIONPARSING_H
#define VESK_BASE_OPTIONPARSING_H

#include <string>
#include <vector>

#include <boost/program_options/options_description.hpp>
#include <boost/program_options/positional_options.hpp>
#include <boost/program_options/variables_map.hpp>

namespace vesk {

// Stores argv[1..argc) parsed with `options` and `positional` into `vm`,
// then notifies it. Throws boost::program_options' exceptions (unknown
// option, invalid value, ambiguous name, ...), whose texts name the option.
void ParseOptionsAndFiles(int argc, const char* const argv[],
                          const boost::program_options::options_description& options,
                          const boost::program_options::positional_options_description& positional,
                          boost::program_options::variables_map& vm);

// The same with every positional argument appended to *files, in order.
boost::program_options::variables_map ParseOptionsAndFiles(int argc, const char* const argv[],
                                                           const boost::program_options::options_description& options,
                                                           std::vector<std::string>* files);

}  // namespace vesk

#endif
