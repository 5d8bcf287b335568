// The POSIX half's shared steps on descriptors.
#pragma once

#include <fcntl.h>

#include <cstdint>

namespace bonesplice::platform {

inline int Descriptor(intptr_t handle) {
  return static_cast<int>(handle);
}

// open() that neither waits for the other end of a FIFO nor takes a terminal as the controlling
// one; later reads and writes block as usual. The descriptor, or -1.
inline int OpenWithoutWaiting(const char* path, int flags, mode_t mode = 0) {
  int fd = open(path, flags | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, mode);
  if (fd >= 0) fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  return fd;
}

}  // namespace bonesplice::platform
