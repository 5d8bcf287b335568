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

int Descriptor(intptr_t handle) {
  return static_cast<int>(handle);
}

}  // namespace

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

OutputFile::Creation OutputFile::CreateTemporary(const std::string& path) {
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (fd >= 0) {
    temp_ = fd;
    return Creation::kCreated;
  }
  switch (errno) {
    case EEXIST:
      return Creation::kExists;
    case ENAMETOOLONG:
      return Creation::kNameTooLong;
    case EACCES:
    case EPERM:
    case EROFS:
      return Creation::kFolderRefuses;
    default:
      return Creation::kFailed;
  }
}

int64_t OutputFile::WriteSome(const uint8_t* data, size_t size, const uint64_t* at) {
  int fd = Descriptor(Destination());
  for (;;) {
    ssize_t written = at != nullptr ? pwrite(fd, data, size, static_cast<off_t>(*at))
                                    : write(fd, data, size);
    if (written >= 0 || errno != EINTR) return written;
  }
}

bool OutputFile::CopyFromAt(uint64_t at, const InputFile& input, uint64_t offset, uint64_t length) {
#ifdef __linux__
  // Inside the kernel: the bytes neither pass through this process nor count as its memory.
  OutputWrite held;
  if (!held.allowed()) return false;
  off_t from = static_cast<off_t>(offset);
  off_t to = static_cast<off_t>(at);
  while (length > 0 && !failed_) {
    size_t piece = static_cast<size_t>(std::min<uint64_t>(length, size_t{1} << 30));
    ssize_t copied = copy_file_range(Descriptor(input.handle()), &from, Descriptor(Destination()),
                                     &to, piece, 0);
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
  at = static_cast<uint64_t>(to);
  if (length == 0) return !failed_;
#endif
  return WriteAt(at, input.data() + offset, static_cast<size_t>(length));
}

void OutputFile::CloseTemporary() {
  if (temp_ == -1) return;
  close(Descriptor(temp_));
  temp_ = -1;
}

bool OutputFile::FinishTemporary() {
  // The output keeps the permissions, and where allowed the owner, it had.
  struct stat status;
  int temp = Descriptor(temp_);
  if (fstat(Descriptor(handle_), &status) == 0) {
    if (fchown(temp, status.st_uid, status.st_gid) != 0) {
      // Only the owner changes hands; the permissions below still apply.
    }
    fchmod(temp, status.st_mode & 07777);
  }
  temp_ = -1;
  return close(temp) == 0;
}

bool OutputFile::ReplaceOutput() {
  return rename(temporaryPath_.c_str(), target_.c_str()) == 0;
}

void OutputFile::RemoveTemporary() {
  unlink(temporaryPath_.c_str());
}

bool OutputFile::CloseOutput() {
  bool closed = handle_ == -1 || close(Descriptor(handle_)) == 0;
  handle_ = -1;
  return closed;
}

bool OutputFile::CopyTemporaryInPlace() {
  EmptyOnSignal(handle_);
  int from = open(temporaryPath_.c_str(), O_RDONLY | O_CLOEXEC);
  if (from < 0 || ftruncate(Descriptor(handle_), 0) != 0) {
    if (from >= 0) close(from);
    return false;
  }
  buffer_.resize(size_t{128} << 10);
  uint64_t at = 0;
  bool copied = true;
  for (;;) {
    ssize_t got = read(from, buffer_.data(), buffer_.size());
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) {
      copied = got == 0;
      break;
    }
    // The temporary is closed by now, so writes go to the output.
    copied = WriteAt(at, buffer_.data(), static_cast<size_t>(got));
    if (!copied) break;
    at += static_cast<uint64_t>(got);
  }
  buffer_.clear();
  close(from);
  return copied;
}

}  // namespace bonesplice::platform
