// The ends the program does not choose (signals, console events), and what is cleaned up
// before them.
//
// The handlers that run at those ends read one global record of their own system's half (its
// HandlerState): the output to clean up and the guarded mappings. Nothing else in the program
// is global.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace bonesplice::platform {

// Called once, before any file is opened:
// - makes the three standard descriptors (standard handles on Windows) valid, opening the null
//   device onto any that is closed, so that no file the program opens can take their place;
// - ignores SIGPIPE and SIGXFSZ, so that a console closed early or a file-size limit turns into
//   a failed write instead of ending the program;
// - has every signal whose default ends the process and that can be caught (SIGINT, SIGTERM,
//   SIGHUP, SIGQUIT, SIGUSR1, SIGALRM, SIGXCPU, SIGSEGV, the real-time signals, ...; on Windows
//   every console control event: Ctrl+C, Ctrl+Break, closing the console, logoff, shutdown)
//   clean up the output, as set below, before it ends the program as it would have. A signal
//   the program was started with ignored stays ignored.
void PrepareProcess();

// What an ending signal cleans up: a temporary file that it removes, and an output written in
// place (a descriptor, a HANDLE on Windows) that it empties. RemoveOnSignal replaces an earlier
// temporary; ClearSignalCleanup cleans up nothing from then on.
void RemoveOnSignal(const std::string& path);
void EmptyOnSignal(intptr_t handle);
void ClearSignalCleanup();

// Held around each write to the output, from any thread. An ending signal that empties an
// output written in place first waits for the writes held to end, and no write starts after
// it (allowed() is false, and the write must not be made): several threads write at once, and
// a write landing after the output was emptied would leave part of the merge behind. On POSIX
// the holding thread takes no asynchronous ending signal meanwhile, so that a handler never
// waits for its own thread.
class OutputWrite {
 public:
  OutputWrite();
  ~OutputWrite();
  OutputWrite(const OutputWrite&) = delete;
  OutputWrite& operator=(const OutputWrite&) = delete;
  bool allowed() const { return allowed_; }

 private:
  bool allowed_ = false;
  alignas(8) unsigned char savedMask_[128] = {};  // POSIX: the thread's signal mask before
};

// While a mapping of an input is guarded, a read of it that the system cannot satisfy (the file
// shortened by another program, a device error) reads zeros and marks the mapping faulted,
// instead of ending the program. Returns the guard, or -1 when too many mappings are guarded.
int GuardMapping(const uint8_t* start, size_t length);
// True once a read of the guarded mapping has faulted.
bool MappingFaulted(int guard);
// Ends the guard; -1 is ignored. True when the system's view was swapped for zeroed memory,
// which the caller then frees as memory rather than as a view (Windows only).
bool ReleaseMappingGuard(int guard);

}  // namespace bonesplice::platform
