#include "platform/ending.h"

#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>
#include <thread>

#include "platform/posix/descriptors.h"
#include "platform/posix/faults.h"

namespace bonesplice::platform {
namespace {

// Every signal whose default ends the process, that can be caught and that no fault raises, but
// SIGPIPE and SIGXFSZ (ignored, so that their causes become failed writes); the real-time ones
// from SIGRTMIN are added at start (the C library keeps those before it).
constexpr int kEndingSignals[] = {
    SIGHUP,    SIGINT,  SIGQUIT, SIGTRAP,   SIGUSR1, SIGUSR2,
    SIGALRM,   SIGTERM, SIGXCPU, SIGVTALRM, SIGPROF,
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

// The thread that waits for the end, once it is there.
struct EndingThread {
  pthread_t id{};
  std::atomic<bool> running{false};
};
EndingThread endingThread;

// Ends the program by signal, with its default action, so that a batch loop and the shell see
// the real cause.
[[noreturn]] void EndBy(int signal) {
  ::signal(signal, SIG_DFL);
  pthread_kill(pthread_self(), signal);
  sigset_t only;
  sigemptyset(&only);
  sigaddset(&only, signal);
  pthread_sigmask(SIG_UNBLOCK, &only, nullptr);
  _exit(128 + signal);  // not reached: the default action of every signal waited for ends
}

// The thread that waits for the end: it does nothing else, so the ending routine may wait for
// any other thread.
void WaitForTheEnd(sigset_t waited) {
  for (;;) {
    int signal = 0;
    if (sigwait(&waited, &signal) != 0) continue;
    TheEnd().End();
    EndBy(signal);
  }
}

// Adds signal to set unless the program was started with it ignored.
void AddUnlessIgnored(int signal, sigset_t* set) {
  struct sigaction current;
  if (sigaction(signal, nullptr, &current) == 0 && current.sa_handler != SIG_IGN) {
    sigaddset(set, signal);
  }
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
  sigset_t ending;
  sigemptyset(&ending);
  for (int signal : kEndingSignals) AddUnlessIgnored(signal, &ending);
#ifdef SIGRTMIN
  for (int signal = SIGRTMIN; signal <= SIGRTMAX; ++signal) AddUnlessIgnored(signal, &ending);
#endif
  // The thread that waits is made with the fault signals blocked too, so that one another
  // process sent can be handed to it; every other thread inherits the ending signals blocked.
  sigset_t waited = ending;
  for (int signal : kFaultSignals) sigaddset(&waited, signal);
  sigset_t before;
  pthread_sigmask(SIG_BLOCK, &waited, &before);
  try {
    std::thread thread(WaitForTheEnd, waited);
    endingThread.id = thread.native_handle();
    thread.detach();
    endingThread.running = true;
  } catch (const std::system_error&) {
    // No thread to be had: the ends stay as the system has them, with nothing cleaned up.
  }
  pthread_sigmask(SIG_SETMASK, &before, nullptr);
  if (endingThread.running) pthread_sigmask(SIG_BLOCK, &ending, nullptr);
  CatchFaults();
}

bool ForwardToEndingThread(int signal) {
  return endingThread.running.load() && pthread_kill(endingThread.id, signal) == 0;
}

bool RemoveFile(const char* path) {
  return unlink(path) == 0;
}

bool EmptyFile(intptr_t handle) {
  return ftruncate(Descriptor(handle), 0) == 0;
}

}  // namespace bonesplice::platform
