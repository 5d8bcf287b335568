#include "platform/output_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>

#include "platform/signals.h"

namespace bonesplice::platform {
namespace {

constexpr int kTemporaryAttempts = 16;

int Descriptor(intptr_t handle) {
  return static_cast<int>(handle);
}

}  // namespace

OutputFile::~OutputFile() {
  if (begun_) Abandon();
  if (handle_ != -1) close(Descriptor(handle_));
}

bool OutputFile::Open(const std::string& path) {
  // Without O_NONBLOCK a FIFO nobody reads would hold the program here for good.
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_NOCTTY | O_CLOEXEC | O_NONBLOCK, 0666);
  if (fd < 0) return false;
  fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  struct stat status;
  if (fstat(fd, &status) != 0) {
    close(fd);
    return false;
  }
  handle_ = fd;
  regular_ = S_ISREG(status.st_mode);
  id_ = IdentityOfHandle(fd);
  target_ = path;
  if (char* resolved = realpath(path.c_str(), nullptr)) {
    target_ = resolved;
    std::free(resolved);
  }
  return true;
}

bool OutputFile::Truncate() {
  return !regular_ || ftruncate(Descriptor(handle_), 0) == 0;
}

void OutputFile::Begin() {
  begun_ = true;
  if (!regular_) return;
  for (int attempt = 0; attempt < kTemporaryAttempts; ++attempt) {
    std::string path = TemporaryName(target_);
    if (path.size() >= PATH_MAX) break;
    RemoveOnSignal(path);
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd >= 0) {
      temp_ = fd;
      temporaryPath_ = path;
      return;
    }
    ClearSignalCleanup();
    if (errno != EEXIST) break;
  }
  EmptyOnSignal(handle_);
}

bool OutputFile::WriteOut(const uint8_t* data, size_t size) {
  int fd = Descriptor(Destination());
  while (size > 0) {
    ssize_t written = write(fd, data, size);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return false;
    data += written;
    size -= static_cast<size_t>(written);
  }
  return true;
}

bool OutputFile::CopyFrom(const InputFile& input, uint64_t offset, uint64_t length) {
#ifdef __linux__
  // Inside the kernel: the bytes neither pass through this process nor count as its memory.
  if (!Flush()) return false;
  off_t from = static_cast<off_t>(offset);
  while (length > 0) {
    size_t piece = static_cast<size_t>(std::min<uint64_t>(length, size_t{1} << 30));
    ssize_t copied = copy_file_range(Descriptor(input.handle()), &from, Descriptor(Destination()),
                                     nullptr, piece, 0);
    if (copied < 0 && errno == EINTR) continue;
    // The file ends before the bytes its header promised: another program shortened it. The
    // rest is read from the mapping, whose guard notes the fault for the caller.
    if (copied == 0) break;
    if (copied < 0) {
      if (errno == EXDEV || errno == EINVAL || errno == ENOSYS || errno == EOPNOTSUPP ||
          errno == EBADF || errno == ETXTBSY || errno == EPERM) {
        break;  // these two files cannot be copied between inside the kernel
      }
      failed_ = true;
      return false;
    }
    length -= static_cast<uint64_t>(copied);
  }
  offset = static_cast<uint64_t>(from);
  if (length == 0) return true;
#endif
  return Write(input.data() + offset, static_cast<size_t>(length));
}

void OutputFile::CloseTemporary() {
  if (temp_ == -1) return;
  close(Descriptor(temp_));
  temp_ = -1;
}

bool OutputFile::Commit() {
  bool written = Flush();
  begun_ = false;
  ClearSignalCleanup();
  if (temporaryPath_.empty()) {
    bool closed = close(Descriptor(handle_)) == 0;
    handle_ = -1;
    return written && closed;
  }
  // The output keeps the permissions, and where allowed the owner, it had.
  struct stat status;
  int temp = Descriptor(temp_);
  if (fstat(Descriptor(handle_), &status) == 0) {
    if (fchown(temp, status.st_uid, status.st_gid) != 0) {
      // Only the owner changes hands; the permissions below still apply.
    }
    fchmod(temp, status.st_mode & 07777);
  }
  bool closed = close(temp) == 0;
  temp_ = -1;
  bool replaced = written && closed && rename(temporaryPath_.c_str(), target_.c_str()) == 0;
  if (!replaced) unlink(temporaryPath_.c_str());
  temporaryPath_.clear();
  close(Descriptor(handle_));
  handle_ = -1;
  return replaced;
}

void OutputFile::Abandon() {
  buffer_.clear();
  begun_ = false;
  ClearSignalCleanup();
  if (!temporaryPath_.empty()) {
    CloseTemporary();
    unlink(temporaryPath_.c_str());
    temporaryPath_.clear();
    return;
  }
  if (handle_ != -1) Truncate();
}

}  // namespace bonesplice::platform
