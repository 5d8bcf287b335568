#include "platform/log_file.h"

#include <fcntl.h>
#include <unistd.h>

namespace bonesplice::platform {

std::FILE* OpenForAppending(const std::string& path, FileId& id) {
  // Write only: a FIFO nobody reads refuses at once instead of holding the program, and one
  // with a reader gets the text; no reading end of our own keeps a full pipe waiting.
  int fd =
      open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0666);
  if (fd < 0) return nullptr;
  fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  std::FILE* stream = fdopen(fd, "a");
  if (stream == nullptr) {
    close(fd);
    return nullptr;
  }
  id = IdentityOfHandle(fd);
  return stream;
}

}  // namespace bonesplice::platform
