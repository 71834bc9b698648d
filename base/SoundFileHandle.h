// A libsndfile handle that closes itself.
#ifndef VESK_BASE_SOUNDFILEHANDLE_H
#define VESK_BASE_SOUNDFILEHANDLE_H

#include <sndfile.h>

#include <memory>

namespace vesk {

struct SoundFileClose {
  void operator()(SNDFILE* file) const { sf_close(file); }
};

// Owns what sf_open returned; empty when it failed (sf_strerror(nullptr)
// says why).
using SoundFileHandle = std::unique_ptr<SNDFILE, SoundFileClose>;

}  // namespace vesk

#endif
