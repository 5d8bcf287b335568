#include "platform/input_file.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <new>

#include "platform/posix/reserve.h"
#include "platform/signals.h"

namespace bonesplice::platform {
namespace {

// Maps a file read-only, at an address aligned to a large page when it is that large.
void* MapAligned(size_t size, int fd) {
  if (size < kLargePage || size > SIZE_MAX - kLargePage) {
    return mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0);
  }
  size_t length = RoundUp(size, static_cast<size_t>(sysconf(_SC_PAGESIZE)));
  void* at = ReserveAligned(length, PROT_NONE);
  if (at == nullptr) return mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0);
  void* view = mmap(at, size, PROT_READ, MAP_PRIVATE | MAP_FIXED, fd, 0);
  if (view != MAP_FAILED) return view;
  munmap(at, length);
  return mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0);
}

}  // namespace

InputFile::~InputFile() {
  if (mapped_) munmap(const_cast<uint8_t*>(data_), size_);
  ReleaseMappingGuard(guard_);
  if (handle_ != -1) close(static_cast<int>(handle_));
}

OpenStatus InputFile::Open(const std::string& path) {
  int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return OpenStatus::kCannotOpen;
  struct stat status;
  if (fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
    close(fd);
    return OpenStatus::kNotRegular;
  }
  fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  handle_ = fd;
  id_ = IdentityOfHandle(fd);
  opened_ = CurrentStamp();
  return OpenStatus::kOk;
}

InputFile::Stamp InputFile::CurrentStamp() const {
  Stamp stamp;
  struct stat status;
  if (fstat(static_cast<int>(handle_), &status) == 0) {
#ifdef __APPLE__
    long nanoseconds = status.st_mtimespec.tv_nsec;
#else
    long nanoseconds = status.st_mtim.tv_nsec;
#endif
    stamp.size = static_cast<uint64_t>(status.st_size);
    stamp.modified =
        static_cast<uint64_t>(status.st_mtime) * 1000000000u + static_cast<uint64_t>(nanoseconds);
  }
  return stamp;
}

bool InputFile::Load() {
  if (opened_.size == 0) return true;
  if (opened_.size > SIZE_MAX) throw std::bad_alloc();
  size_t size = static_cast<size_t>(opened_.size);
  void* view = MapAligned(size, static_cast<int>(handle_));
  if (view == MAP_FAILED) return ReadWhole();
  data_ = static_cast<const uint8_t*>(view);
  size_ = size;
  mapped_ = true;
  guard_ = GuardMapping(data_, size_);
  return true;
}

int64_t InputFile::ReadAt(uint64_t offset, uint8_t* data, size_t size) const {
  for (;;) {
    ssize_t read = pread(static_cast<int>(handle_), data, size, static_cast<off_t>(offset));
    if (read >= 0 || errno != EINTR) return read;
  }
}

}  // namespace bonesplice::platform
