// Physical and mathematical constants shared by trelvix and the tools. The
// default TSP length has its home beside dravik's command line
// (dravik::kDefaultSamplesPerFrame in dravik/Invocation.h).
#ifndef VESK_BASE_CONSTANTS_H
#define VESK_BASE_CONSTANTS_H

namespace vesk {

// Speed of sound in air, metres per second: the free-field geometry of the
// TF path and the tools' default.
constexpr double kSpeedOfSound = 343.0;

// pi, rounded to double (2 * kPi is 6.283185307179586 exactly).
constexpr double kPi = 3.14159265358979323846;

}  // namespace vesk

#endif
