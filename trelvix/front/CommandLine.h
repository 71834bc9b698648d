// The trelvix option table, its usage text and the command-line parser.
#ifndef TRELVIX_FRONT_COMMANDLINE_H
#define TRELVIX_FRONT_COMMANDLINE_H

#include <memory>
#include <ostream>

#include <boost/program_options/options_description.hpp>
#include <boost/program_options/positional_options.hpp>
#include <boost/program_options/variables_map.hpp>

namespace trelvix {

// Prints the usage text: the invocation line and the visible option groups.
// Both pointers refer to objects that outlive the printer.
struct UsagePrinter {
  const char* program_name;
  const boost::program_options::options_description* visible_options;

  void Print(std::ostream& os) const;
};

// The one usage printer of the run, so that error handlers can print usage.
extern std::shared_ptr<UsagePrinter> usage_printer;

// Every option of trelvix in its four groups, with defaults and help texts.
class OptionTable {
public:
  OptionTable();
  OptionTable(const OptionTable&) = delete;
  OptionTable& operator=(const OptionTable&) = delete;

  // Caption-less: common, VESK-config and VESK groups; what usage prints.
  const boost::program_options::options_description& Visible() const { return visible_; }
  // "Command line options": the visible groups plus the hidden input-files.
  const boost::program_options::options_description& All() const { return all_; }
  // Every positional argument is an input-files value.
  const boost::program_options::positional_options_description& Positional() const { return positional_; }

private:
  boost::program_options::options_description visible_;
  boost::program_options::options_description all_;
  boost::program_options::positional_options_description positional_;
};

// Parses argv[1..argc) with the table into vm, then notifies. Throws the
// parser's exceptions (unknown option, invalid value, ambiguous name, ...).
void ParseCommandLine(const OptionTable& table, int argc, const char* const argv[],
                      boost::program_options::variables_map& vm);

}  // namespace trelvix

#endif
