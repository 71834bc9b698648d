// The cores this process may run on, and a loop split over them.
#ifndef VESK_BASE_CORES_H
#define VESK_BASE_CORES_H

#include <sched.h>

#include <algorithm>
#include <cstddef>
#include <exception>
#include <mutex>
#include <thread>
#include <vector>

namespace vesk {

// Cores in this process's affinity mask (taskset, cgroups), at least 1.
inline unsigned UsableCores() {
  cpu_set_t set;
  CPU_ZERO(&set);
  if (sched_getaffinity(0, sizeof set, &set) != 0) return 1;
  return static_cast<unsigned>(std::max(1, CPU_COUNT(&set)));
}

// Runs fill(first, last) over [0, count) split into one slice per usable
// core (no slice under minSlice items). Every slice must write values of its
// own, so that the result does not depend on the split. The first exception
// of any slice is rethrown once all have ended.
template <typename Fill>
void OverCores(std::size_t count, Fill fill, std::size_t minSlice = 64) {
  const std::size_t threads =
      std::min<std::size_t>(UsableCores(), std::max<std::size_t>(count / std::max<std::size_t>(minSlice, 1), 1));
  if (threads <= 1) return fill(std::size_t(0), count);
  std::vector<std::thread> workers;
  std::exception_ptr failure;
  std::mutex failureLock;
  for (std::size_t t = 0; t < threads; ++t) {
    workers.emplace_back([&, t] {
      try {
        fill(count * t / threads, count * (t + 1) / threads);
      } catch (...) {
        std::lock_guard<std::mutex> lock(failureLock);
        if (!failure) failure = std::current_exception();
      }
    });
  }
  for (auto& worker : workers) worker.join();
  if (failure) std::rethrow_exception(failure);
}

}  // namespace vesk

#endif
