#include "CommandLine.h"

#include <getopt.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "dravik/Invocation.h"

namespace dravik {
namespace {

constexpr int kExitFailure = 255;
constexpr int kExitVersion = 1;

// One number read the way strtol reads it: leading blanks and a sign are
// accepted, reading stops at the first non-digit, no digits reads as 0.
// Values beyond the int range saturate instead of wrapping.
struct ParsedNumber {
  int value;
  bool has_digits;
};

ParsedNumber parse_number(const std::string& text) {
  const char* begin = text.c_str();
  char* end = nullptr;
  errno = 0;
  long value = std::strtol(begin, &end, 10);
  if (value > INT_MAX) value = INT_MAX;
  if (value < INT_MIN) value = INT_MIN;
  return ParsedNumber{static_cast<int>(value), end != begin};
}

// Tokens separated by any run of the delimiter, as strtok gives them.
std::vector<std::string> split_tokens(const std::string& text, char delimiter) {
  std::vector<std::string> tokens;
  std::string current;
  for (char c : text) {
    if (c == delimiter) {
      if (!current.empty()) tokens.push_back(current);
      current.clear();
    } else {
      current += c;
    }
  }
  if (!current.empty()) tokens.push_back(current);
  return tokens;
}

int refuse(const char* message, bool with_usage) {
  std::puts(message);
  if (with_usage) print_usage();
  return kExitFailure;
}

enum OptionIndex {
  kOptTspOrigFlt,
  kOptTspOrigWav,
  kOptTspOrigChannel,
  kOptSigmax,
  kOptSampleByFrame,
  kOptSyncAddFreq,
  kOptSyncAddOffset,
  kOptSearchOffset,
  kOptOutChannelList,
  kOptEnableHpf,
};

const struct option kLongOptions[] = {
    {option::kTspOriginFloat, required_argument, nullptr, 0},
    {option::kTspOriginWave, required_argument, nullptr, 0},
    {option::kTspOriginChannel, required_argument, nullptr, 0},
    {option::kSignalMax, required_argument, nullptr, 0},
    {option::kSamplesPerFrame, required_argument, nullptr, 0},
    {option::kSyncAddCount, required_argument, nullptr, 0},
    {option::kSyncAddOffset, required_argument, nullptr, 0},
    {option::kSearchOffset, required_argument, nullptr, 0},
    {option::kOutChannelList, required_argument, nullptr, 0},
    {option::kEnableHpf, required_argument, nullptr, 0},
    {nullptr, 0, nullptr, 0},
};

// "S,E": both numbers are needed; the end stops at a newline like the
// start stops at the first comma.
int apply_search_offset(const std::string& value, RunSettings* settings) {
  const char* message = "Value of searchoffset is incorrect. ";
  std::string::size_type comma = value.find(',');
  if (comma == std::string::npos) return refuse(message, true);
  std::string rest = value.substr(comma + 1);
  rest = rest.substr(0, rest.find('\n'));
  ParsedNumber start = parse_number(value.substr(0, comma));
  ParsedNumber end = parse_number(rest);
  // A region that is empty or begins before the recording cannot be searched.
  if (!start.has_digits || !end.has_digits || start.value < 0 || end.value <= start.value) {
    return refuse(message, true);
  }
  settings->search_start = start.value;
  settings->search_end = end.value;
  settings->search_enabled = true;
  std::printf("search pos = %d-%d. \n", settings->search_start, settings->search_end);
  return 0;
}

void apply_out_channel_list(const std::string& value, RunSettings* settings) {
  for (bool& flag : settings->out_channel_selected) flag = false;
  for (const std::string& token : split_tokens(value, ',')) {
    ParsedNumber channel = parse_number(token);
    if (channel.has_digits && channel.value >= 0 && channel.value < kMaxChannels) {
      settings->out_channel_selected[channel.value] = true;
    }
  }
  settings->out_channel_list_given = true;
}

// "L,H" in Hz: both numbers are needed; a negative one keeps the old value.
int apply_enable_hpf(const std::string& value, RunSettings* settings) {
  std::vector<std::string> tokens = split_tokens(value, ',');
  if (tokens.size() < 2) return refuse("Value of enableHPF is incorrect. ", true);
  ParsedNumber low = parse_number(tokens[0]);
  ParsedNumber high = parse_number(tokens[1]);
  if (!low.has_digits || !high.has_digits) {
    return refuse("Value of enableHPF is incorrect. ", true);
  }
  if (low.value >= 0) settings->hpf_low_freq = low.value;
  if (high.value >= 0) settings->hpf_high_freq = high.value;
  settings->hpf_enabled = true;
  return 0;
}

int apply_option(int index, const std::string& value, RunSettings* settings) {
  switch (index) {
    case kOptTspOrigFlt:
      settings->tsp_org_file = value;
      settings->tsp_org_type = kTspOriginFloat;
      return 0;
    case kOptTspOrigWav:
      settings->tsp_org_file = value;
      settings->tsp_org_type = kTspOriginWave;
      return 0;
    case kOptTspOrigChannel:
      // Checked against the origin's channels when a wave origin is loaded.
      settings->tsp_org_channel = parse_number(value).value;
      return 0;
    case kOptSigmax: {
      int ratio = parse_number(value).value;
      if (ratio == 0) return refuse("Adjust ratio must not 0.", false);
      settings->tsp_adjust_ratio = ratio;
      settings->sigmax_given = true;
      return 0;
    }
    case kOptSampleByFrame: {
      int samples = parse_number(value).value;
      if (samples == 0) return refuse("Value of samplebyframe is incorrect. ", false);
      // The impulse keeps the first 4096 samples of a period.
      if (samples < kImpulseLength) return refuse("Value of samplebyframe is incorrect. ", true);
      settings->sample_by_frame = samples;
      return 0;
    }
    case kOptSyncAddFreq: {
      int periods = parse_number(value).value;
      if (periods == 0) return refuse("Value of syncaddfreq is incorrect. ", false);
      if (periods < 0) return refuse("Value of syncaddfreq is incorrect. ", true);
      settings->sync_add_freq = periods;
      return 0;
    }
    case kOptSyncAddOffset:
      settings->sync_add_offset = parse_number(value).value;
      return 0;
    case kOptSearchOffset:
      return apply_search_offset(value, settings);
    case kOptOutChannelList:
      apply_out_channel_list(value, settings);
      return 0;
    case kOptEnableHpf:
      return apply_enable_hpf(value, settings);
    default:
      return kExitFailure;
  }
}

}  // namespace

void print_usage() {
  std::puts("./dravik [option] inputfile outimpfilehead ");
  std::puts("calculate impluse from TSP wave");
  std::printf("(fix time: 2013/10/30, compile time: %s %s)\n", __DATE__, __TIME__);
  std::puts("");
  std::puts("DESCRIPTION");
  std::puts("\tinputfile   : 16bit or 24bit , 8ch or 10ch or 16ch , 16kHz wave format");
  std::puts("\t              48KHz is not available yet.");
  std::puts("\timpfilehead : its extention is k.flt where k is ch number.");
  std::puts("\t              each imp file is 32bit float mono 1-ch raw data");
  std::puts("\t  eg.) when outimpfilehead = 'a', file names are 'a_ch1.flt', 'a_ch2.flt', ...");
  std::puts("");
  std::puts("[option]");
  std::puts("\t--tsporigflt file_name   : playing tsp file(float-data) when recording tsp wave.");
  std::puts("\t--tsporigwav file_name   : playing tsp file(PCM-wave) when recording tsp wave.");
  std::puts("\t--tsporigchannel N       : select use cahnnel of tsp origin file(PCM-wave).");
  std::puts("\t--sigmax N               : set optional signal max for tsp original file");
  std::puts("\t                         (not working on using --tsporigwav.)");
  std::puts("\t--samplebyframe N        : sample by one frame(default = 16384) ");
  std::puts("\t--syncaddfreq N          : frequency of synchronous addition(default = 16) ");
  std::puts("\t--syncaddoffset N        : start position of synchronous addition(default = 16384) ");
  std::puts(
      "\t--searchoffset N,N       : using searched start position.(search start pos, search end pos is required.) ");
  std::puts("\t--outchannellist N,N,... : select calulating channel.(first channel is ch0.)");
  std::puts("\t--enableHPF Lfreq,Hfreq  : enable HighPassFilter.");
}

void print_version() { std::printf("calc impluse from TSP wave(compile time: %s %s)\n", __DATE__, __TIME__); }

int parse_command_line(int argc, char** argv, RunSettings* settings) {
  if (argc < 3) {
    print_usage();
    return kExitFailure;
  }
  optind = 0;  // full re-initialisation, so the parse can run more than once
  for (;;) {
    int index = -1;
    int c = getopt_long(argc, argv, "v", kLongOptions, &index);
    if (c == -1) break;
    if (c == 'v') {
      print_version();
      return kExitVersion;
    }
    if (c != 0 || index < 0) {
      std::printf("?? getopt returned character code 0%o ??\n", static_cast<unsigned>(c));
      return kExitFailure;
    }
    int status = apply_option(index, optarg ? std::string(optarg) : std::string(), settings);
    if (status != 0) return status;
  }
  if (argc - optind != 2) return refuse("Error: incorrect arg count.", true);
  if (settings->search_enabled && !settings->out_channel_list_given) {
    return refuse("Error: --searchoffset needs --outchannellist for calculation.", true);
  }
  settings->input_file = argv[optind];
  settings->out_file_head = argv[optind + 1];
  return 0;
}

}  // namespace dravik
