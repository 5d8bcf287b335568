#include "platform/output_file.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>

#include "platform/posix/descriptors.h"

namespace bonesplice::platform {
namespace {

constexpr int kMostLinks = 40;  // as many as the system follows in one path

// The file path leads to: the full path where the system can give one, else the symbolic links
// followed a step at a time, each relative to the folder of the link that names it (a path the
// system cannot make whole, past PATH_MAX, can still be used piece by piece).
std::string FileLedTo(const std::string& path) {
  if (char* resolved = realpath(path.c_str(), nullptr)) {
    std::string full = resolved;
    std::free(resolved);
    return full;
  }
  std::string at = path;
  for (int link = 0; link < kMostLinks; ++link) {
    struct stat status;
    if (lstat(at.c_str(), &status) != 0 || !S_ISLNK(status.st_mode)) break;
    std::string target(PATH_MAX, '\0');
    ssize_t length = readlink(at.c_str(), target.data(), target.size());
    if (length < 0) break;
    target.resize(static_cast<size_t>(length));
    size_t folderEnd = at.rfind('/');
    if (target[0] != '/' && folderEnd != std::string::npos) {
      target.insert(0, at, 0, folderEnd + 1);
    }
    at = target;
  }
  return at;
}

}  // namespace

bool OutputFile::Open(const std::string& path) {
  int fd = OpenWithoutWaiting(path.c_str(), O_WRONLY | O_CREAT, 0666);
  if (fd < 0) return false;
  struct stat status;
  if (fstat(fd, &status) != 0) {
    close(fd);
    return false;
  }
  handle_ = fd;
  regular_ = S_ISREG(status.st_mode);
  id_ = IdentityOfHandle(fd);
  target_ = FileLedTo(path);
  return true;
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

int64_t OutputFile::CopyInside(uint64_t at, const InputFile& input, uint64_t offset,
                               uint64_t length) {
#ifdef __linux__
  // The bytes neither pass through this process nor count as its memory.
  off_t from = static_cast<off_t>(offset);
  off_t to = static_cast<off_t>(at);
  uint64_t copied = 0;
  while (copied < length) {
    size_t piece = static_cast<size_t>(std::min<uint64_t>(length - copied, size_t{1} << 30));
    ssize_t got = copy_file_range(Descriptor(input.handle()), &from, Descriptor(Destination()),
                                  &to, piece, 0);
    if (got < 0 && errno == EINTR) continue;
    // 0: the file ends before the bytes its header promised, since another program shortened
    // it; the rest is read from the mapping, whose guard notes the fault for the caller.
    if (got == 0) break;
    if (got < 0) {
      if (errno == EXDEV || errno == EINVAL || errno == ENOSYS || errno == EOPNOTSUPP ||
          errno == EBADF || errno == ETXTBSY || errno == EPERM) {
        break;  // these two files cannot be copied between inside the kernel
      }
      return -1;
    }
    copied += static_cast<uint64_t>(got);
  }
  return static_cast<int64_t>(copied);
#else
  (void)at, (void)input, (void)offset, (void)length;
  return 0;
#endif
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

bool OutputFile::ReopenOutput() {
  return handle_ != -1;  // still open: the rename does not need it closed
}

bool OutputFile::CloseOutput() {
  bool closed = handle_ == -1 || close(Descriptor(handle_)) == 0;
  handle_ = -1;
  return closed;
}

}  // namespace bonesplice::platform
