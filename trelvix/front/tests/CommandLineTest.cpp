#include <sstream>
#include <string>
#include <vector>

#include <boost/program_options.hpp>
#include <gtest/gtest.h>

#include "front/CommandLine.h"
#include "front/FrontEnd.h"
#include "options/validators.h"

namespace po = boost::program_options;

namespace {

// The option table as the program documents it: name (with short letter),
// whether it takes a value, the default as shown, the help text.
struct Row {
  const char* name;
  bool takesValue;
  const char* shownDefault;  // nullptr: no default
  const char* help;
};

const Row kCommon[] = {
    {"help", false, nullptr, "show help"},
    {"mode,m", true, nullptr, "what this program makes {template|tf}"},
    {"output-file,o", true, nullptr, "output file (default is STDOUT)"},
    {"output-format,f", true, nullptr, "output format {xml|binary}"},
    {"output-type,t", true, nullptr, "output type\n(1)in template mode {mic|noise|ir|tsp}\n(2)in tf mode {m2pg|gtf}"},
};

const Row kConfig[] = {
    {"nummic", true, "8", "the number of microphones"},
    {"azifrom", true, "0", "the start of the azimuth range in degree"},
    {"aziint", true, "5", "the interval of azimuth in degree"},
    {"numazi", true, "72", "the number of azimuth"},
    {"elvfrom", true, "0", "the start of the elevation range in degree"},
    {"elvint", true, "5", "the interval of elevation in degree"},
    {"numelv", true, "1", "the number of elevation"},
    {"heightfrom", true, "0", "the start of the height range in meter"},
    {"heightint", true, "0.01", "the interval of height in meter"},
    {"numheight", true, "1", "the number of height"},
    {"radius", true, "1", "the radius from center to microphones or sound sources"},
    {"synchronous-average", true, "16", "the number of synchronous averaging"},
    {"original-impulse-file", true, "original-impulse-file.tsp", "original impulse file"},
    {"tsp-offset", true, "16384", "the offset of tsp signal in samples"},
    {"tsp-length", true, "16384", "the length of one tsp in samples"},
    {"signal-max", true, "32768", "the maximum amplitude of tsp signal"},
    {"cut-start", true, "1", "the cut-start index in float vector"},
    {"cut-end", true, "0", "the cut-end index in float vector"},
    {"mic-channels", true, nullptr, "a comma separated list of the microphone channels"},
    {"filepath", true, nullptr, "the file path template string used by ir and tsp"},
};

const Row kVesk[] = {
    {"nfft", true, "512", "the number of FFT points"},
    {"normalize-src", false, nullptr, "normalization of sound sources axis"},
    {"normalize-mic", false, nullptr, "normalization of microphone channels axis"},
    {"normalize-freq", false, nullptr, "normalization of frequency axis"},
    {"geometry-calculus", true, "0", "geometry calculus"},
    {"sampling-freq", true, "16000", "sampling frequency of TSP signal or Impulse Response"},
    {"direct-length", true, "32", "direct sound length"},
};

template <size_t N>
po::options_description Group(const char* caption, const Row (&rows)[N]) {
  po::options_description group(caption);
  for (const Row& row : rows) {
    if (!row.takesValue)
      group.add_options()(row.name, row.help);
    else if (row.shownDefault)
      group.add_options()(row.name, po::value<std::string>()->default_value(row.shownDefault), row.help);
    else
      group.add_options()(row.name, po::value<std::string>(), row.help);
  }
  return group;
}

std::string ExpectedUsage(const std::string& program) {
  po::options_description visible;
  visible.add(Group("Common options", kCommon))
      .add(Group("Options to make VESK-config files", kConfig))
      .add(Group("Options to make VESK files", kVesk));
  std::ostringstream text;
  text << "Usage: " << program << " [options] input-files\n" << visible << "\n";
  return text.str();
}

struct FrontRun {
  int status;
  std::string out, err;
};

FrontRun RunFront(std::vector<const char*> args) {
  args.insert(args.begin(), "some/dir/trelvix");
  std::ostringstream out, err;
  const int status = trelvix::RunFrontEnd(static_cast<int>(args.size()), args.data(), out, err);
  return {status, out.str(), err.str()};
}

po::variables_map Parse(std::vector<const char*> args) {
  args.insert(args.begin(), "trelvix");
  const trelvix::OptionTable table;
  po::variables_map vm;
  trelvix::ParseCommandLine(table, static_cast<int>(args.size()), args.data(), vm);
  return vm;
}

}  // namespace

TEST(CommandLine, UsageTextMatchesTheDocumentedTable) {
  const FrontRun run = RunFront({"--help"});
  EXPECT_EQ(0, run.status);
  EXPECT_EQ("", run.err);
  EXPECT_EQ(ExpectedUsage("some/dir/trelvix"), run.out);
  // Spot checks of the layout itself.
  EXPECT_EQ(0u, run.out.find("Usage: some/dir/trelvix [options] input-files\n\nCommon options:\n"));
  EXPECT_NE(std::string::npos, run.out.find("\n  --heightint arg (=0.01)"));
  EXPECT_NE(std::string::npos, run.out.find("\n  --original-impulse-file arg (=original-impulse-file.tsp)\n"));
  EXPECT_NE(std::string::npos, run.out.find("\n  -m [ --mode ] arg"));
  EXPECT_EQ(std::string::npos, run.out.find("input-files "));
  EXPECT_EQ(std::string::npos, run.out.find("Command line options"));
}

TEST(CommandLine, HelpWinsOverEverythingElse) {
  const FrontRun run = RunFront({"--mode", "tf", "--help", "-t", "gtf", "in.xml"});
  EXPECT_EQ(0, run.status);
  EXPECT_EQ(ExpectedUsage("some/dir/trelvix"), run.out);
  EXPECT_EQ("", run.err);
}

TEST(CommandLine, NoModeGivesTheHint) {
  for (const auto& args : {std::vector<const char*>{}, std::vector<const char*>{"-t", "mic"}}) {
    const FrontRun run = RunFront(args);
    EXPECT_EQ(0, run.status);
    EXPECT_EQ("You may want to use --mode to specify creation mode\n", run.out);
    EXPECT_EQ("", run.err);
  }
}

TEST(CommandLine, ParseErrorsEndWithStatusOne) {
  struct Case {
    std::vector<const char*> args;
    std::string err;
  };
  const std::string usage = ExpectedUsage("some/dir/trelvix");
  const Case cases[] = {
      {{"--no-such-option"}, "unrecognised option '--no-such-option'\n" + usage},
      {{"-x"}, "unrecognised option '-x'\n" + usage},
      {{"--mode", "Template"}, "the argument ('Template') for option '--mode' is invalid\n"},
      {{"-m", "tf", "-m", "template"}, "option '--mode' cannot be specified more than once\n"},
      {{"--num", "3"},
       "option '--num' is ambiguous and matches '--numazi', '--numelv', '--numheight', and "
       "'--nummic'\n"},
      {{"--mode"}, "the required argument for option '--mode' is missing\n"},
      {{"--nummic", "many"}, "the argument ('many') for option '--nummic' is invalid\n"},
      {{"--mic-channels", "1,x,3"}, "the argument ('x') for option '--mic-channels' is invalid\n"},
      {{"--help=yes"}, "option '--help' does not take any arguments\n"},
  };
  for (const Case& c : cases) {
    const FrontRun run = RunFront(c.args);
    EXPECT_EQ(1, run.status) << c.args[0];
    EXPECT_EQ("", run.out) << c.args[0];
    EXPECT_EQ(c.err, run.err) << c.args[0];
  }
}

TEST(CommandLine, AbbreviationsAndShortForms) {
  const po::variables_map vm = Parse({"--numa", "36", "-mtemplate", "-o", "x.xml", "--output-t=ir"});
  EXPECT_EQ(36u, vm["numazi"].as<unsigned int>());
  EXPECT_FALSE(vm["numazi"].defaulted());
  EXPECT_EQ(trelvix::Mode::TEMPLATE, vm["mode"].as<trelvix::Mode>());
  EXPECT_EQ("x.xml", vm["output-file"].as<std::string>());
  EXPECT_EQ(trelvix::OutputType::IR, vm["output-type"].as<trelvix::OutputType>());
}

TEST(CommandLine, DefaultsArePresentAndMarked) {
  const po::variables_map vm = Parse({});
  EXPECT_EQ(8u, vm["nummic"].as<unsigned int>());
  EXPECT_EQ(0.01, vm["heightint"].as<double>());
  EXPECT_EQ("original-impulse-file.tsp", vm["original-impulse-file"].as<std::string>());
  EXPECT_EQ(16000u, vm["sampling-freq"].as<unsigned int>());
  EXPECT_TRUE(vm["nummic"].defaulted());
  for (const char* absent : {"help", "mode", "output-file", "output-format", "output-type", "mic-channels", "filepath",
                             "normalize-src", "input-files"})
    EXPECT_EQ(0u, vm.count(absent)) << absent;
  EXPECT_THROW(vm["nummic"].as<int>(), boost::bad_any_cast);
}

TEST(CommandLine, PositionalArgumentsKeepTheirOrder) {
  const po::variables_map vm =
      Parse({"a.xml", "--mode", "tf", "b.xml", "--input-files", "c.xml", "--normalize-mic", "d"});
  EXPECT_EQ(std::vector<std::string>({"a.xml", "b.xml", "c.xml", "d"}),
            vm["input-files"].as<std::vector<std::string>>());
  EXPECT_EQ(1u, vm.count("normalize-mic"));
  const po::variables_map channels = Parse({"--mic-channels", "4,4,1"});
  EXPECT_EQ(std::vector<unsigned int>({4, 4, 1}),
            channels["mic-channels"].as<trelvix::CommaSeparatedOption<unsigned int>>().values);
}
