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
    std::string target(PATH_MAX, '\0');
    ssize_t length = readlink(at.c_str(), target.data(), target.size());
    if (length <= 0) break;  // not a link: the file itself
    target.resize(static_cast<size_t>(length));
    size_t folderEnd = at.rfind('/');
    if (target[0] != '/' && folderEnd != std::string::npos) target.insert(0, at, 0, folderEnd + 1);
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
    ssize_t written =
        at != nullptr ? pwrite(fd, data, size, static_cast<off_t>(*at)) : write(fd, data, size);
    if (written >= 0 || errno != EINTR) return written;
  }
}

uint64_t OutputFile::CopyInside(uint64_t at, const InputFile& input, uint64_t offset,
                                uint64_t length) {
#ifdef __linux__
  // The bytes neither pass through this process nor count as its memory.
  off_t from = static_cast<off_t>(offset);
  off_t to = static_cast<off_t>(at);
  uint64_t copied = 0;
  while (copied < length) {
    size_t piece = static_cast<size_t>(std::min<uint64_t>(length - copied, size_t{1} << 30));
    ssize_t got = copy_file_range(Descriptor(input.handle()), &from, Descriptor(Destination()), &to,
                                  piece, 0);
    if (got < 0 && errno == EINTR) continue;
    // The rest is written from the mapping: where these files cannot be copied between inside
    // the kernel, where the input ends early (another program shortened it: the mapping's
    // guard notes the fault), and where a write fails (it fails there again, and is reported).
    if (got <= 0) break;
    copied += static_cast<uint64_t>(got);
  }
  return copied;
#else
  (void)at, (void)input, (void)offset, (void)length;
  return 0;
#endif
}

void OutputFile::TakeOutputPermissions() {
  struct stat status;
  if (fstat(Descriptor(handle_), &status) != 0) return;
  if (fchown(Descriptor(temp_), status.st_uid, status.st_gid) != 0) {
    // Only the owner changes hands; the permissions below still apply.
  }
  fchmod(Descriptor(temp_), status.st_mode & 07777);
}

bool OutputFile::ReplaceOutput() {
  return rename(temporaryPath_.c_str(), target_.c_str()) == 0;
}

bool OutputFile::Close(intptr_t& handle) {
  bool closed = handle == -1 || close(Descriptor(handle)) == 0;
  handle = -1;
  return closed;
}

}  // namespace bonesplice::platform
