#include "platform/log_file.h"

#include <unistd.h>

#include "platform/posix/descriptors.h"

namespace bonesplice::platform {

std::FILE* OpenForAppending(const std::string& path, FileId& id) {
  // Write only, without waiting: a FIFO nobody reads refuses at once instead of holding the
  // program, and one with a reader gets the text; no reading end of our own keeps a full pipe
  // waiting.
  int fd = OpenWithoutWaiting(path.c_str(), O_WRONLY | O_APPEND | O_CREAT, 0666);
  if (fd < 0) return nullptr;
  std::FILE* stream = fdopen(fd, "a");
  if (stream == nullptr) {
    close(fd);
    return nullptr;
  }
  id = IdentityOfHandle(fd);
  return stream;
}

}  // namespace bonesplice::platform
