// FFTW plans and FFTW-allocated buffers that release themselves, in double
// (fftw_) and single (fftwf_) precision. Plans are made by the callers with
// FFTW_ESTIMATE, so that results are identical from run to run.
#ifndef VESK_BASE_FFTWPLAN_H
#define VESK_BASE_FFTWPLAN_H

#include <fftw3.h>

#include <memory>
#include <mutex>
#include <type_traits>

namespace vesk {

// FFTW's planner is not thread-safe: making and destroying plans from
// several threads at once must hold this lock (executing them need not).
inline std::mutex& FftwPlannerLock() {
  static std::mutex lock;
  return lock;
}

struct FftwPlanDestroy {
  void operator()(fftw_plan plan) const {
    std::lock_guard<std::mutex> hold(FftwPlannerLock());
    fftw_destroy_plan(plan);
  }
  void operator()(fftwf_plan plan) const {
    std::lock_guard<std::mutex> hold(FftwPlannerLock());
    fftwf_destroy_plan(plan);
  }
};

// Owns a plan made by fftw_plan_*; empty when planning failed.
using FftwPlan = std::unique_ptr<std::remove_pointer_t<fftw_plan>, FftwPlanDestroy>;
// Owns a plan made by fftwf_plan_*.
using FftwfPlan = std::unique_ptr<std::remove_pointer_t<fftwf_plan>, FftwPlanDestroy>;

struct FftwFree {
  void operator()(void* memory) const { fftw_free(memory); }
};
struct FftwfFree {
  void operator()(void* memory) const { fftwf_free(memory); }
};

// Memory from fftw_malloc / fftw_alloc_* (aligned for the fastest plans).
template <typename T>
using FftwBuffer = std::unique_ptr<T, FftwFree>;
// Memory from fftwf_malloc / fftwf_alloc_*.
template <typename T>
using FftwfBuffer = std::unique_ptr<T, FftwfFree>;

}  // namespace vesk

#endif
