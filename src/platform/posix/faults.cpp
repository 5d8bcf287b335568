#include "platform/posix/faults.h"

#include <sys/mman.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>

#include "platform/ending.h"

namespace bonesplice::platform {
namespace {

constexpr int kGuards = 4;
constexpr int kSignalLimit = 32;  // above every fault signal's number
static_assert(SIGSEGV < kSignalLimit && SIGBUS < kSignalLimit && SIGILL < kSignalLimit &&
              SIGFPE < kSignalLimit && SIGABRT < kSignalLimit && SIGSYS < kSignalLimit);

struct Guard {
  std::atomic<uintptr_t> start{0};
  std::atomic<size_t> length{0};  // 0: the guard is free
  std::atomic<bool> faulted{false};
};

// What the handler reads: the guarded mappings, and the action each fault signal had before it
// was caught. Set before the handler can need them.
struct FaultState {
  Guard guards[kGuards];
  struct sigaction previous[kSignalLimit];  // by signal number
  std::atomic<bool> caught{false};
  uintptr_t pageSize = 4096;
};
FaultState faults;

// Puts a page of zeros in place of the page of a guarded mapping that holds address, and marks
// the mapping. Several threads may fault on one page at once: each puts zeros over zeros.
bool ZeroFaultedPage(uintptr_t address) {
  for (Guard& guard : faults.guards) {
    size_t length = guard.length.load();
    if (length == 0 || address - guard.start.load() >= length) continue;
    void* page = reinterpret_cast<void*>(address & ~(faults.pageSize - 1));
    if (mmap(page, faults.pageSize, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED, -1, 0) ==
        MAP_FAILED) {
      return false;
    }
    guard.faulted = true;
    return true;
  }
  return false;
}

void OnFault(int signal, siginfo_t* info, void*) {
  int savedErrno = errno;
  // By kill, raise or abort rather than by a fault (Linux numbers such codes from 0 down).
  bool sent = info->si_code <= 0 || info->si_code == SI_USER || info->si_code == SI_QUEUE;
  if ((!sent && signal == SIGBUS && ZeroFaultedPage(reinterpret_cast<uintptr_t>(info->si_addr))) ||
      (sent && info->si_pid != getpid() && ForwardToEndingThread(signal))) {
    errno = savedErrno;
    return;
  }
  TheEnd().EndAfterCrash();
  sigaction(signal, &faults.previous[signal], nullptr);
  // A fault comes again when its instruction is retried, now to the action it had before; a
  // signal this process sent itself is sent again, delivered once the handler returns.
  if (sent) raise(signal);
}

}  // namespace

void CatchFaults() {
  if (faults.caught.exchange(true)) return;
  faults.pageSize = static_cast<uintptr_t>(sysconf(_SC_PAGESIZE));
  for (int signal : kFaultSignals) {
    struct sigaction& previous = faults.previous[signal];
    if (sigaction(signal, nullptr, &previous) != 0 || previous.sa_handler == SIG_IGN) continue;
    struct sigaction action {};
    action.sa_sigaction = OnFault;
    action.sa_flags = SA_SIGINFO;
    sigemptyset(&action.sa_mask);
    sigaction(signal, &action, nullptr);
  }
}

const std::atomic<bool>* GuardMapping(const uint8_t* start, size_t length) {
  CatchFaults();
  for (Guard& guard : faults.guards) {
    if (guard.length.load() != 0) continue;
    guard.faulted = false;
    guard.start = reinterpret_cast<uintptr_t>(start);
    guard.length = length;
    return &guard.faulted;
  }
  return nullptr;
}

void ReleaseMappingGuard(const std::atomic<bool>* flag) {
  for (Guard& guard : faults.guards) {
    if (&guard.faulted == flag) guard.length = 0;
  }
}

}  // namespace bonesplice::platform
