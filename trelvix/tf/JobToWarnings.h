// Warnings about a tf-mode job that change nothing it computes: names and
// sizes that are legal but usually a mistake.
#ifndef TRELVIX_TF_JOBTOWARNINGS_H
#define TRELVIX_TF_JOBTOWARNINGS_H

#include <ostream>

#include "tf/TFJob.h"

namespace trelvix {

// Writes to `err`, one line each (none when all looks sound):
// - two sources at different positions that name the same file (the first
//   such pair, and how many names are shared);
// - an array more than 2 m across (the largest distance between two
//   microphones), which is what positions written in centimetres give;
// - sources closer to the array's centre (the microphones' mean) than its
//   farthest microphone (the first such source, and how many there are).
// Sizes are in metres. Never throws on unset fields: those are reported by
// the computation as they always are.
void WarnAboutJob(const TFJob& job, std::ostream& err);

}  // namespace trelvix

#endif
