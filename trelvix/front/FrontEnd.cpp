#include "front/FrontEnd.h"

#include <exception>
#include <iostream>
#include <memory>
#include <string>

#include <unistd.h>

#include <boost/program_options/errors.hpp>
#include <boost/program_options/variables_map.hpp>

#include "base/OutputTarget.h"

#include "front/CommandLine.h"
#include "options/validators.h"
#include "template/TemplateMaker.h"
#include "tf/TFMaker.h"

namespace po = boost::program_options;

namespace trelvix {

namespace {

// Constructs the maker of `mode`, runs it once and releases it before the
// caller finishes the output. True when the maker reported no error.
bool RunMaker(Mode mode, const po::variables_map& vm, const OutputStream& output_stream, std::ostream& err) {
  switch (mode) {
    case Mode::TEMPLATE: {
      TemplateMaker maker(vm, output_stream);
      return maker.Run();
    }
    case Mode::TF: {
      TFMaker maker(vm, output_stream);
      return maker.Run();
    }
  }
  err << "unknown mode " << static_cast<int>(mode) << std::endl;
  return false;
}

const char* ModeName(Mode mode) { return mode == Mode::TEMPLATE ? "template" : "tf"; }

}  // namespace

int RunFrontEnd(int argc, const char* const argv[], std::ostream& out, std::ostream& err) {
  // A program started with an empty argument vector still has a name.
  static const char* const unnamed[] = {"trelvix", nullptr};
  if (argc < 1 || argv[0] == nullptr) {
    argc = 1;
    argv = unnamed;
  }
  const OptionTable table;
  usage_printer = std::make_shared<UsagePrinter>(UsagePrinter{argv[0], &table.Visible()});
  // The printer refers to the table, which dies with this function.
  struct ReleasePrinter {
    ~ReleasePrinter() { usage_printer.reset(); }
  } releasePrinter;

  po::variables_map vm;
  try {
    ParseCommandLine(table, argc, argv, vm);
  } catch (const po::invalid_option_value& e) {
    err << e.what() << std::endl;
    return 1;
  } catch (const po::multiple_occurrences& e) {
    err << e.what() << std::endl;
    return 1;
  } catch (const po::unknown_option& e) {
    err << e.what() << std::endl;
    usage_printer->Print(err);
    return 1;
  } catch (const std::exception& e) {
    err << e.what() << std::endl;
    return 1;
  }

  if (vm.count("help")) {
    usage_printer->Print(out);
    return 0;
  }
  if (!vm.count("mode")) {
    out << "You may want to use --mode to specify creation mode\n";
    out.flush();
    return 0;
  }

  std::unique_ptr<vesk::OutputFile> file;
  OutputStream output_stream(&out, [](std::ostream*) {});
  try {
    if (vm.count("output-file")) {
      file = std::make_unique<vesk::OutputFile>(vm["output-file"].as<std::string>());
      output_stream = OutputStream(&file->Stream(), [](std::ostream*) {});
      // The document goes to standard output (-o /dev/stdout): the makers
      // keep their reports off it, as without --output-file.
      if (&out == &std::cout && file->SameFileAs(STDOUT_FILENO)) {
        std::cout.flush();
        vm.erase("output-file");
      }
    }
    if (!RunMaker(vm["mode"].as<Mode>(), vm, output_stream, err)) return 1;
    output_stream.reset();
    if (file) {
      file->Commit();
    } else if (!out.flush()) {
      err << "error writing standard output" << std::endl;
      return 1;
    }
  } catch (const std::bad_alloc&) {
    err << "out of memory in " << ModeName(vm["mode"].as<Mode>()) << " mode; nothing was written" << std::endl;
    return 1;
  } catch (const std::exception& e) {
    // Whatever escapes a maker ends the run; the output file stays as it was.
    err << e.what() << std::endl;
    return 1;
  }
  return 0;
}

}  // namespace trelvix
