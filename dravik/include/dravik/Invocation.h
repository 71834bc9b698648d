// How other programs run dravik: the names of its long options (given as
// "--name value") and the names of the impulse files it writes. dravik's own
// option table and the TSP provider of trelvix both take them from here.
#ifndef DRAVIK_INVOCATION_H
#define DRAVIK_INVOCATION_H

#include <string>

namespace dravik {
namespace option {

constexpr char kTspOriginFloat[] = "tsporigflt";  // played TSP, raw float32 file
constexpr char kTspOriginWave[] = "tsporigwav";   // played TSP, PCM wave
constexpr char kTspOriginChannel[] = "tsporigchannel";
constexpr char kSignalMax[] = "sigmax";               // adjust ratio of the origin
constexpr char kSamplesPerFrame[] = "samplebyframe";  // samples per played period
constexpr char kSyncAddCount[] = "syncaddfreq";       // periods averaged
constexpr char kSyncAddOffset[] = "syncaddoffset";    // samples before the first averaged period
constexpr char kSearchOffset[] = "searchoffset";
constexpr char kOutChannelList[] = "outchannellist";  // channels, "0,1,..."
constexpr char kEnableHpf[] = "enableHPF";

}  // namespace option

// Recording channels 0 to kSelectableChannels - 1 can be selected
// (kOutChannelList); channels from this number up are never processed.
constexpr unsigned int kSelectableChannels = 64;

// Samples per played TSP period when kSamplesPerFrame is not given.
constexpr unsigned int kDefaultSamplesPerFrame = 16384;

// The impulse file of the k-th selected channel (k from 1) for the output
// head given on the command line: "<head>_ch<k>.flt".
inline std::string ImpulseFileName(const std::string& head, int ordinal) {
  return head + "_ch" + std::to_string(ordinal) + ".flt";
}

}  // namespace dravik

#endif
