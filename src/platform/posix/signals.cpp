#include "platform/signals.h"

#include <fcntl.h>
#include <pthread.h>
#include <sched.h>
#include <signal.h>
#include <sys/mman.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstring>
#include <new>

#include "platform/guard_slots.h"

namespace bonesplice::platform {
namespace {

// Every signal whose default action ends the process and that a process may catch. SIGPIPE and
// SIGXFSZ are not among them: they are ignored, so that their causes turn into failed writes.
constexpr int kEndingSignals[] = {
    SIGHUP,    SIGINT,  SIGQUIT, SIGILL,  SIGTRAP, SIGABRT,   SIGBUS,  SIGFPE, SIGUSR1,
    SIGSEGV,   SIGUSR2, SIGALRM, SIGTERM, SIGXCPU, SIGVTALRM, SIGPROF, SIGSYS,
#ifdef SIGSTKFLT
    SIGSTKFLT,
#endif
#ifdef SIGPOLL
    SIGPOLL,
#endif
#ifdef SIGPWR
    SIGPWR,
#endif
#ifdef SIGEMT
    SIGEMT,
#endif
};

constexpr int kMaxSignal = 128;

// Everything the handlers read, and the only global of the program: plain memory and
// lock-free atomics, set before a handler can need them.
struct HandlerState {
  char temporaryPath[PATH_MAX + 64];  // removed by an ending signal when hasTemporary is set
  volatile sig_atomic_t hasTemporary;
  volatile sig_atomic_t inPlace = -1;     // emptied by an ending signal when not -1
  std::atomic<int> writesHeld{0};         // OutputWrite objects alive
  std::atomic<int> ending{0};             // set by an ending signal before it empties inPlace
  sigset_t asynchronous;                  // the caught ending signals that no fault raises
  struct sigaction previous[kMaxSignal];  // what each caught signal did before it was caught
  bool caught[kMaxSignal];
  GuardSlot guards[kGuardSlots];
  long pageSize = 4096;
};
HandlerState state;

// Cleans up the output, then has the signal do what it did before it was caught: the program
// ends by it as it would have (or the handler that was there, a sanitizer's, reports it).
void OnEndSignal(int signal) {
  if (state.hasTemporary) unlink(state.temporaryPath);
  if (state.inPlace >= 0) {
    state.ending = 1;
    while (state.writesHeld.load() > 0) sched_yield();
    (void)ftruncate(state.inPlace, 0);
  }
  sigaction(signal, &state.previous[signal], nullptr);
  raise(signal);  // delivered once the handler returns
}

// A read past the end of a mapped input that another program has shortened: the page is
// replaced by a page of zeros and the mapping marked, so that the read completes.
void OnBusError(int signal, siginfo_t* info, void*) {
  int index = GuardSlotOf(state.guards, reinterpret_cast<uintptr_t>(info->si_addr));
  if (index >= 0) {
    uintptr_t page = reinterpret_cast<uintptr_t>(info->si_addr) & ~uintptr_t(state.pageSize - 1);
    void* zeros = mmap(reinterpret_cast<void*>(page), static_cast<size_t>(state.pageSize),
                       PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED, -1, 0);
    if (zeros != MAP_FAILED) {
      state.guards[index].faulted = 1;
      return;
    }
  }
  OnEndSignal(signal);
}

// Has signal run handler from now on, unless the program was started with it ignored; once.
void Catch(int signal, void (*handler)(int, siginfo_t*, void*)) {
  if (signal <= 0 || signal >= kMaxSignal || state.caught[signal]) return;
  state.caught[signal] = true;
  struct sigaction& previous = state.previous[signal];
  if (sigaction(signal, nullptr, &previous) != 0 || previous.sa_handler == SIG_IGN) return;
  struct sigaction action {};
  action.sa_sigaction = handler;
  action.sa_flags = SA_SIGINFO;
  sigemptyset(&action.sa_mask);
  sigaction(signal, &action, nullptr);
  bool fault = signal == SIGBUS || signal == SIGSEGV || signal == SIGILL || signal == SIGFPE ||
               signal == SIGTRAP || signal == SIGSYS;
  if (!fault) sigaddset(&state.asynchronous, signal);
}

void OnEndSignalWithInfo(int signal, siginfo_t*, void*) {
  OnEndSignal(signal);
}

}  // namespace

void PrepareProcess() {
  for (int fd = 0; fd <= 2; ++fd) {
    if (fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
    // The lowest free descriptor is fd itself.
    int null = open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);
    if (null >= 0 && null != fd) {
      dup2(null, fd);
      close(null);
    }
  }
  signal(SIGPIPE, SIG_IGN);
  signal(SIGXFSZ, SIG_IGN);
  for (int end : kEndingSignals) Catch(end, end == SIGBUS ? OnBusError : OnEndSignalWithInfo);
#ifdef SIGRTMIN
  for (int end = SIGRTMIN; end <= SIGRTMAX; ++end) Catch(end, OnEndSignalWithInfo);
#endif
}

void RemoveOnSignal(const std::string& path) {
  state.hasTemporary = 0;
  if (path.size() >= sizeof state.temporaryPath) return;
  std::memcpy(state.temporaryPath, path.c_str(), path.size() + 1);
  state.hasTemporary = 1;
}

void EmptyOnSignal(intptr_t handle) {
  state.inPlace = static_cast<int>(handle);
}

void ClearSignalCleanup() {
  state.hasTemporary = 0;
  state.inPlace = -1;
}

int GuardMapping(const uint8_t* start, size_t length) {
  state.pageSize = sysconf(_SC_PAGESIZE);
  Catch(SIGBUS, OnBusError);  // also where PrepareProcess did not run
  return TakeGuardSlot(state.guards, start, length);
}

bool MappingFaulted(int guard) {
  return guard >= 0 && state.guards[guard].faulted.load() != 0;
}

OutputWrite::OutputWrite() {
  static_assert(sizeof(sigset_t) <= sizeof savedMask_, "room for the signal mask");
  sigset_t* saved = new (savedMask_) sigset_t;
  pthread_sigmask(SIG_BLOCK, &state.asynchronous, saved);
  state.writesHeld.fetch_add(1);
  allowed_ = state.ending.load() == 0;
}

OutputWrite::~OutputWrite() {
  state.writesHeld.fetch_sub(1);
  pthread_sigmask(SIG_SETMASK, reinterpret_cast<const sigset_t*>(savedMask_), nullptr);
}

bool ReleaseMappingGuard(int guard) {
  if (guard >= 0) state.guards[guard].length = 0;
  return false;  // a faulted page is replaced inside the mapping, which frees as a whole
}

}  // namespace bonesplice::platform
