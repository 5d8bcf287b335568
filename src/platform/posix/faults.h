// The POSIX half's fault signals (SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT, SIGSYS): one handler
// for a read of a guarded mapping that the file no longer backs (a page of zeros is put in its
// place), a fault signal another process sent (handed to the thread that waits for the end) and
// a crash (TheEnd().EndAfterCrash(), then the action the signal had before).
#pragma once

#include <signal.h>

#include <atomic>
#include <cstddef>
#include <cstdint>

namespace bonesplice::platform {

inline constexpr int kFaultSignals[] = {SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT, SIGSYS};

// Installs the handler, once, for each fault signal the program was not started ignoring.
void CatchFaults();

// Guards a mapping of length bytes at start until ReleaseMappingGuard: the flag that a read it
// no longer backs sets, or nullptr when too many mappings are guarded already.
const std::atomic<bool>* GuardMapping(const uint8_t* start, size_t length);
void ReleaseMappingGuard(const std::atomic<bool>* flag);

// ending.cpp: hands signal to the thread that waits for the end, if any; signal-handler safe.
bool ForwardToEndingThread(int signal);

}  // namespace bonesplice::platform
