// tfinterp: transfer functions between the measured directions. Writes a
// transfer-function file for the positions of a list file, each
// interpolated from the measured ones, or reports how good the
// interpolation of a measurement is. Exit status 0 done, 1 error.
#include <filesystem>
#include <iostream>
#include <new>
#include <string>
#include <vector>

#include <boost/program_options.hpp>

#include "base/OptionParsing.h"
#include "ToolMain.h"
#include "LeaveOneOutToReport.h"
#include "ListToTargets.h"
#include "MeasurementToTargets.h"
#include "TfFileToMeasurement.h"
#include "ToolError.h"
#include "base/OutputTarget.h"
#include "base/SignalCleanup.h"

namespace po = boost::program_options;
using namespace vesktools;

namespace {

int Run(int argc, char** argv) {
  std::string output, method = "delay-aligned", extrapolate = "refuse";
  po::options_description opts("tfinterp options");
  opts.add_options()("help,h", "show this text")("output,o", po::value(&output), "the transfer-function file to write")(
      "method", po::value(&method),
      "delay-aligned (default: delays removed, magnitude and unwrapped phase weighted, weighted delay put back), "
      "complex-aligned (delays removed, complex values weighted), nearest, complex (raw complex values weighted)")(
      "extrapolate", po::value(&extrapolate),
      "refuse (default: a target outside the measured region is an error) or nearest (take the nearest measured "
      "direction there)")("leave-one-out",
                          "predict every measured direction from the others and report the error of each method")(
      "json", "with --leave-one-out: print the figures as JSON");
  std::vector<std::string> files;
  const po::variables_map vm = vesk::ParseOptionsAndFiles(argc, argv, opts, &files);
  if (vm.count("help")) {
    std::cout << "Usage: tfinterp [options] TF.bin LIST.xml -o OUT.bin\n"
              << "       tfinterp --leave-one-out [--json] TF.bin\n"
              << "Exit status: 0 done, 1 error.\n"
              << opts << "\n";
    return 0;
  }
  InterpolationSettings settings;
  settings.method = ParseMethod(method);
  if (extrapolate != "refuse" && extrapolate != "nearest")
    throw ToolError("--extrapolate expects refuse or nearest, found \"" + extrapolate + "\"");
  settings.extrapolateNearest = extrapolate == "nearest";

  if (vm.count("leave-one-out")) {
    if (files.size() != 1) throw ToolError("--leave-one-out takes one TF file, found " + std::to_string(files.size()));
    if (!output.empty() || vm.count("method") || vm.count("extrapolate"))
      throw ToolError(
          "--leave-one-out compares every method and writes no file: give no -o, --method or --extrapolate");
    const LeaveOneOut report = MeasurementToLeaveOneOut(TfFileToMeasurement(files[0], 1, "interpolation"));
    if (vm.count("json"))
      std::cout << LeaveOneOutToJson(report);
    else
      LeaveOneOutToText(report, std::cout);
    return 0;
  }
  if (vm.count("json")) throw ToolError("--json goes with --leave-one-out");
  if (files.size() != 2)
    throw ToolError("expected TF.bin and LIST.xml, found " + std::to_string(files.size()) + " files; see --help");
  if (output.empty()) throw ToolError("give the output file with -o OUT.bin");
  // The measurement cannot be made again: it is never replaced by its interpolation.
  std::error_code same;
  for (const std::string& input : files)
    if (std::filesystem::equivalent(input, output, same))
      throw ToolError("-o " + output + " names the input " + input + "; write the interpolation to another file");
  TfMeasurement tf = TfFileToMeasurement(files[0], 1, "interpolation");
  const std::vector<veskio2::Vector3<float>> targets = ListToTargets(files[1]);
  InterpolationCounts counts;
  const auto file = MeasurementToTargets(tf, targets, settings, counts);
  tf = TfMeasurement();  // the measurement's memory back before the output's buffers
  vesk::OutputFile out(output);
  veskio2::vesk::VeskFileBinaryWriter(out.Stream()).Write(file);
  out.Commit();
  std::cerr << "tfinterp: " << targets.size() << " targets: " << counts.measured << " measured, " << counts.interpolated
            << " interpolated (" << MethodName(settings.method) << ")";
  if (counts.extrapolated) std::cerr << ", " << counts.extrapolated << " taken from the nearest measured direction";
  std::cerr << "; " << counts.grid << "\n";
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  return vesktools::ToolMain("tfinterp", Run, argc, argv, "out of memory; nothing was written");
}
