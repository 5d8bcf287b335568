#include "platform/input_file.h"

#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/posix/descriptors.h"
#include "platform/posix/faults.h"
#include "platform/posix/reserve.h"

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
  if (faulted_ != nullptr) {
    ReleaseMappingGuard(faulted_);
    munmap(const_cast<uint8_t*>(data_), size_);
  }
  if (handle_ != -1) close(Descriptor(handle_));
}

OpenStatus InputFile::Open(const std::string& path) {
  int fd = OpenWithoutWaiting(path.c_str(), O_RDONLY);
  if (fd < 0) return OpenStatus::kCannotOpen;
  struct stat status;
  if (fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
    close(fd);
    return OpenStatus::kNotRegular;
  }
  handle_ = fd;
  id_ = IdentityOfHandle(fd);
  opened_ = CurrentStamp();
  return OpenStatus::kOk;
}

InputFile::Stamp InputFile::CurrentStamp() const {
  Stamp stamp;
  struct stat status;
  if (fstat(Descriptor(handle_), &status) == 0) {
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

bool InputFile::Map() {
  size_t size = static_cast<size_t>(opened_.size);
  void* view = MapAligned(size, Descriptor(handle_));
  if (view == MAP_FAILED) return false;
  faulted_ = GuardMapping(static_cast<const uint8_t*>(view), size);
  if (faulted_ == nullptr) {
    // Unguarded, a read of the file shortened by another program would end the program.
    munmap(view, size);
    return false;
  }
  data_ = static_cast<const uint8_t*>(view);
  size_ = size;
  return true;
}

int64_t InputFile::ReadAt(uint64_t offset, uint8_t* data, size_t size) const {
  for (;;) {
    ssize_t read = pread(Descriptor(handle_), data, size, static_cast<off_t>(offset));
    if (read >= 0 || errno != EINTR) return read;
  }
}

}  // namespace bonesplice::platform
