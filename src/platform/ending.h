// How the program ends when it does not choose to, and what is cleaned up first. An ending
// signal or console event reaches one thread that does nothing else and runs TheEnd().End(); a
// crash runs TheEnd().EndAfterCrash() where it happens. docs/architecture.md ("How the program
// ends") has the whole picture.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>

namespace bonesplice::platform {

// Called once, first thing in main, before any other thread exists: opens the null device onto
// any of the three standard descriptors (handles) that is closed, so that no file the program
// opens takes their place; ignores SIGPIPE and SIGXFSZ, so that a console closed early or a
// file-size limit turns into a failed write; and has every end that can be caught (each signal
// whose default ends the process, the real-time ones from SIGRTMIN among them, and every
// console event on Windows) run the ending routine first, and a crash clean up at once. A
// signal the program was started with ignored stays ignored.
void PrepareProcess();

// What the end cleans up (the temporary this run created, or an output written in place), and
// the writes it waits for.
class Ending {
 public:
  // Runs step with the end held off and returns true, unless the end has come: then step does
  // not run and the result is false. Every change to what the end cleans up, and every write
  // to a regular file written in place, is such a step, so that the end sees each whole or not
  // at all, and no write lands after the output was emptied. A step must not wait for the end.
  template <typename Step>
  bool HoldingOff(Step&& step) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (ended_) return false;
    step();
    return true;
  }

  // Inside a step: from now on the end removes the file path names (which must stay as it is
  // until Clear), or empties the open file handle; Clear leaves nothing to clean up.
  void RemoveAtEnd(const char* path) { temporary_.store(path); }
  void EmptyAtEnd(intptr_t handle) { inPlace_.store(handle); }
  void Clear() {
    temporary_.store(nullptr);
    inPlace_.store(-1);
  }

  // The ending routine: waits for a step under way, lets no step start after it, then removes
  // the temporary or empties the output written in place.
  void End();
  // After a crash: the same clean-up at once, waiting for nothing; safe in a signal handler.
  void EndAfterCrash() const;

 private:
  static_assert(std::atomic<intptr_t>::is_always_lock_free, "a signal handler reads them");

  std::mutex mutex_;
  bool ended_ = false;  // guarded by mutex_
  std::atomic<const char*> temporary_{nullptr};
  std::atomic<intptr_t> inPlace_{-1};
};

// The program's one Ending, the one the system's ends run.
Ending& TheEnd();

// Each system's two clean-up steps, both safe in a signal handler: removes the file path (UTF-8)
// names; empties the open file handle (a descriptor on POSIX, a HANDLE on Windows). False when
// the system refuses.
bool RemoveFile(const char* path);
bool EmptyFile(intptr_t handle);

}  // namespace bonesplice::platform
