// The cores this process may run on, and a loop split over them.
#ifndef VESK_BASE_CORES_H
#define VESK_BASE_CORES_H

#include <sched.h>

#include <algorithm>
#include <condition_variable>
#include <deque>
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

// Items made one after another on the calling thread and worked on by every
// usable core as they come. produce(push) runs here; push(item) queues an
// item, waiting while `maxQueued` are queued. Each core calls makeWorker()
// once and then worker(item) for the items it takes, so the worker keeps its
// state (buffers, plans) across them; every item must write values of its
// own. When produce or a worker throws, no further item is started, and
// once all cores have ended the exception is rethrown: produce's, or else
// that of the earliest item that failed, so that the error does not depend
// on the cores.
template <typename Item, typename Produce, typename MakeWorker>
void StreamOverCores(Produce produce, MakeWorker makeWorker, std::size_t maxQueued) {
  struct Failure {
    std::size_t item;
    std::exception_ptr error;
  };
  struct Stopped {};  // unwinds produce once a worker has failed
  std::mutex lock;
  std::condition_variable changed;
  std::deque<std::pair<std::size_t, Item>> queue;
  bool ended = false, stopped = false;
  std::vector<Failure> failures;
  const std::size_t cores = UsableCores();
  std::vector<std::thread> workers;
  const auto fail = [&](std::size_t item, std::exception_ptr error) {
    std::lock_guard<std::mutex> hold(lock);
    failures.push_back({item, error});
    stopped = true;
    changed.notify_all();
  };
  const auto run = [&] {
    try {
      auto worker = makeWorker();
      for (;;) {
        std::pair<std::size_t, Item> next;
        {
          std::unique_lock<std::mutex> hold(lock);
          changed.wait(hold, [&] { return stopped || ended || !queue.empty(); });
          if (stopped || queue.empty()) return;
          next = std::move(queue.front());
          queue.pop_front();
          changed.notify_all();
        }
        try {
          worker(next.second);
        } catch (...) {
          fail(next.first, std::current_exception());
          return;
        }
      }
    } catch (...) {  // makeWorker
      fail(0, std::current_exception());
    }
  };
  std::exception_ptr produced;
  std::size_t count = 0;
  try {
    for (std::size_t core = 0; core < cores; ++core) workers.emplace_back(run);
    produce([&](Item&& item) {
      std::unique_lock<std::mutex> hold(lock);
      changed.wait(hold, [&] { return stopped || queue.size() < std::max<std::size_t>(maxQueued, 1); });
      if (stopped) throw Stopped();
      queue.emplace_back(count++, std::move(item));
      changed.notify_all();
    });
  } catch (const Stopped&) {
  } catch (...) {
    produced = std::current_exception();
  }
  {
    std::lock_guard<std::mutex> hold(lock);
    ended = true;
    if (produced) stopped = true;
    changed.notify_all();
  }
  for (auto& worker : workers) worker.join();
  if (produced) std::rethrow_exception(produced);
  if (!failures.empty())
    std::rethrow_exception(std::min_element(failures.begin(), failures.end(), [](const Failure& a, const Failure& b) {
                             return a.item < b.item;
                           })->error);
}

}  // namespace vesk

#endif
