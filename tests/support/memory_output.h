// A merged file kept in memory, for the tests and the fuzz targets that run the merge's phases
// without a file.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <vector>

#include "format/bytes.h"
#include "merge/emit.h"

namespace testing_support {

// With atOffsets it takes pieces anywhere, from several threads, as a file does; otherwise it
// fails a piece that does not start where the one before it ended, as a stream would.
class MemoryOutput : public bonesplice::MergeOutput {
 public:
  explicit MemoryOutput(bonesplice::ByteView base, bool atOffsets = true)
      : base_(base), atOffsets_(atOffsets) {}
  bool Begin() override {
    ++begun;
    return true;
  }
  bool TakesPiecesAtOffsets() const override { return atOffsets_; }
  bool WriteAt(uint64_t offset, const uint8_t* data, size_t size) override {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!atOffsets_ && offset != bytes.size()) return false;
    if (bytes.size() < offset + size) bytes.resize(static_cast<size_t>(offset + size));
    std::copy(data, data + size, bytes.begin() + static_cast<std::ptrdiff_t>(offset));
    return true;
  }
  bool CopyFromBaseAt(uint64_t offset, uint64_t baseOffset, uint64_t length) override {
    return WriteAt(offset, base_.data + baseOffset, static_cast<size_t>(length));
  }

  std::vector<uint8_t> bytes;
  int begun = 0;  // how many times Begin was called

 private:
  bonesplice::ByteView base_;
  bool atOffsets_;
  std::mutex mutex_;
};

}  // namespace testing_support
