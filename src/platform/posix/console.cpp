#include "platform/console.h"

#include <unistd.h>

#include <cerrno>

namespace bonesplice::platform {

void WriteStandardOutput(const std::string& text) {
  const char* data = text.data();
  size_t size = text.size();
  while (size > 0) {
    ssize_t written = write(STDOUT_FILENO, data, size);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return;
    data += written;
    size -= static_cast<size_t>(written);
  }
}

bool IsOnlyProcessOfConsole() {
  return false;
}

void WaitForEnter() {}

}  // namespace bonesplice::platform
