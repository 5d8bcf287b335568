// An input file, opened once and then seen whole as its bytes.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/file_id.h"

namespace bonesplice::platform {

enum class OpenStatus { kOk, kCannotOpen, kNotRegular };

class InputFile {
 public:
  InputFile() = default;
  ~InputFile();
  InputFile(const InputFile&) = delete;
  InputFile& operator=(const InputFile&) = delete;

  // Opens path for reading without waiting for a writer (a FIFO does not hang). Anything but a
  // regular file is kNotRegular and is closed again.
  OpenStatus Open(const std::string& path);

  // Makes the whole file visible through data() and size(): mapped where failed() can keep its
  // promise for a mapping (POSIX), read into memory otherwise. False when reading fails; throws
  // std::bad_alloc when the file does not fit in memory.
  bool Load();
  // Reads up to size bytes at offset into data, from the file rather than from data(): the
  // count read, 0 at the end of the file, -1 when reading fails.
  int64_t ReadAt(uint64_t offset, uint8_t* data, size_t size) const;

  const uint8_t* data() const { return data_; }
  size_t size() const { return size_; }
  FileId id() const { return id_; }
  // The open file: a descriptor on POSIX, a HANDLE on Windows.
  intptr_t handle() const { return handle_; }

  // True once a read failed after Load (a device error, or the file shortened by another
  // program: the bytes concerned read as zeros, from any thread), or when the file's size or
  // modification time is no longer what it was at Open: what was built from it is not trusted.
  bool failed() const;

 private:
  // The file's size and modification time, as the system reports them.
  struct Stamp {
    uint64_t size = 0;
    uint64_t modified = 0;
    bool operator!=(const Stamp& other) const {
      return size != other.size || modified != other.modified;
    }
  };
  Stamp CurrentStamp() const;
  // Each system's guarded mapping of the whole file, which sets faulted_; false where it cannot
  // map it so (never on Windows, where no single page of a view can be swapped for zeros).
  bool Map();
  // Reads the whole file into copy_ where it is not mapped.
  bool ReadWhole();

  intptr_t handle_ = -1;
  FileId id_;
  Stamp opened_;
  const uint8_t* data_ = nullptr;
  size_t size_ = 0;
  const std::atomic<bool>* faulted_ = nullptr;  // the mapping's guard; null when not mapped
  std::vector<uint8_t> copy_;                   // the file's bytes where it is not mapped
};

}  // namespace bonesplice::platform
