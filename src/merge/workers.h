// Work spread over the cores the merge may use: a fork and a join around each parallel step.
#pragma once

#include <cstddef>
#include <functional>

namespace bonesplice {

class Workers {
 public:
  // threads is the most threads a step runs on, this one included; at least 1.
  explicit Workers(unsigned threads) : threads_(threads == 0 ? 1 : threads) {}

  unsigned count() const { return threads_; }

  // Calls part(i, worker) once for every i from 0 to parts - 1, on up to count() threads (this
  // one among them), and returns when all calls have returned. worker, below count(), tells
  // the calls that run on one thread from those that run on others, so that each thread can
  // keep scratch memory of its own. Parts are taken in increasing order; which thread runs which
  // part is left to chance, so the result must not depend on it. An exception thrown by a part
  // is thrown again here once every thread has stopped; parts not yet taken are then skipped.
  void ForEach(size_t parts, const std::function<void(size_t part, unsigned worker)>& part) const;

 private:
  unsigned threads_;
};

// The threads a merge uses when nothing says otherwise: one for each core the system reports,
// or one where it reports none.
unsigned DefaultThreadCount();

}  // namespace bonesplice
