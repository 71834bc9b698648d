// How sure each transfer function of a file is, from the noise the
// recordings it was made from hold.
#ifndef VESK_TFCHECK_RECORDINGSTOCONFIDENCE_H
#define VESK_TFCHECK_RECORDINGSTOCONFIDENCE_H

#include <cstddef>
#include <vector>

#include "Findings.h"
#include "RecordingsToCheck.h"
#include "TfFileToMeasurement.h"

namespace vesktools {

struct MicConfidence {
  double lowSnrShare = 0;           // of the file's bins (DC left out) whose SNR after averaging is below the limit
  std::vector<double> snrDb;        // per octave band: median over its bins of the SNR after averaging
  std::vector<double> magnitudeDb;  // per band: RMS over its bins of the magnitude's standard deviation, +- dB
  std::vector<double> phaseDeg;     // per band: the same for the phase, +- degrees
};

struct SourceConfidence {
  double azimuthDeg = 0, elevationDeg = 0;  // as the TF file places the source
  std::vector<MicConfidence> mics;          // the TF file's microphones, in order
};

struct TfConfidence {
  std::vector<OctaveBand> bands;  // the recordings check's bands the file's bins reach
  std::vector<SourceConfidence> sources;
  double lowSnrLimitDb = 10;
};

// Per source and microphone of `tf`, from the per-bin SNR (after averaging)
// of the recordings `check` made with RecordingsSettings::tfNfft = tf.nfft:
// TF source s is list source s, TF microphone m the m-th listed channel of
// that source's recordings (in the list's file order). A bin whose averaged
// SNR is rho (power ratio) has the noise e = 1/sqrt(rho) relative to the
// response, half of it in phase and half in quadrature: magnitude
// +-20 log10(1 + e / sqrt 2) dB, phase +-atan(e / sqrt 2) (at most the
// 103.9 degrees of a uniform phase). Throws ToolError naming both files
// when the counts or the source positions (1 mm) disagree.
TfConfidence RecordingsToConfidence(const RecordingsCheck& check, const TfMeasurement& tf, const Thresholds& limits);

}  // namespace vesktools

#endif
