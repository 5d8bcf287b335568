#include "platform/standard_input.h"

#include <unistd.h>

#include <cerrno>

namespace bonesplice::platform {

bool StandardInput::Refill() {
  char bytes[4096];
  for (;;) {
    ssize_t got = read(STDIN_FILENO, bytes, sizeof bytes);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return false;
    pending_.assign(bytes, static_cast<size_t>(got));
    return true;
  }
}

}  // namespace bonesplice::platform
