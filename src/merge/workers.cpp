#include "merge/workers.h"

#include <algorithm>
#include <atomic>
#include <exception>
#include <mutex>
#include <thread>
#include <vector>

namespace bonesplice {

void Workers::ForEach(size_t parts,
                      const std::function<void(size_t part, unsigned worker)>& part) const {
  std::atomic<size_t> next{0};
  std::exception_ptr failure;
  std::mutex failureMutex;
  auto run = [&](unsigned worker) {
    try {
      for (size_t i = next++; i < parts; i = next++) part(i, worker);
    } catch (...) {
      std::lock_guard<std::mutex> lock(failureMutex);
      if (!failure) failure = std::current_exception();
      next = parts;  // the other threads stop after their current part
    }
  };
  size_t helpers = std::min<size_t>(threads_, parts) - (parts > 0 ? 1 : 0);
  std::vector<std::thread> started;
  started.reserve(helpers);
  try {
    for (size_t i = 0; i < helpers; ++i) started.emplace_back(run, static_cast<unsigned>(i + 1));
  } catch (...) {
    // No thread to be had: this one does the rest.
  }
  run(0);
  for (std::thread& thread : started) thread.join();
  if (failure) std::rethrow_exception(failure);
}

unsigned DefaultThreadCount() {
  return std::max(1u, std::thread::hardware_concurrency());
}

}  // namespace bonesplice
