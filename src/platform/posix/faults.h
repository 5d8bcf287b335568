// The POSIX half's fault signals (SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT, SIGSYS): one handler,
// in faults.cpp, for three cases.
// - A read of a guarded mapping that the file no longer backs (another program shortened it, a
//   device failed) raises SIGBUS: the page becomes a page of zeros and the mapping is marked, so
//   that the read completes and the input can tell afterwards.
// - A fault signal that another process sent (kill -SEGV) is an end like SIGTERM: it is handed
//   to the thread that waits for the end.
// - Anything else is a crash: TheEnd().EndAfterCrash(), then the action the signal had before.
#pragma once

#include <signal.h>

#include <cstddef>
#include <cstdint>

namespace bonesplice::platform {

// Has the fault signals run the handler from now on; once, and not for a signal the program was
// started with ignored.
void CatchFaults();
// Adds the fault signals to set.
void AddFaultSignals(sigset_t* set);

// Guards a mapping of length bytes at start. Returns the guard, or -1 when too many mappings are
// guarded; the mapping must then not be read where the file may change under it.
int GuardMapping(const uint8_t* start, size_t length);
// True once a read of the guarded mapping has faulted.
bool MappingFaulted(int guard);
// Ends the guard, before the mapping goes.
void ReleaseMappingGuard(int guard);

// In ending.cpp: hands signal to the thread that waits for the end; false when there is none.
// Safe in a signal handler.
bool ForwardToEndingThread(int signal);

}  // namespace bonesplice::platform
