// A merged file kept in memory, for the tests and the fuzz targets that run the merge's phases
// without a file.
#pragma once

#include <cstdint>
#include <vector>

#include "format/bytes.h"
#include "merge/emit.h"

namespace testing_support {

class MemoryOutput : public bonesplice::MergeOutput {
 public:
  explicit MemoryOutput(bonesplice::ByteView base) : base_(base) {}
  bool Begin() override {
    ++begun;
    return true;
  }
  bool Write(const uint8_t* data, size_t size) override {
    bytes.insert(bytes.end(), data, data + size);
    return true;
  }
  bool CopyFromBase(uint64_t offset, uint64_t length) override {
    return Write(base_.data + offset, static_cast<size_t>(length));
  }

  std::vector<uint8_t> bytes;
  int begun = 0;  // how many times Begin was called

 private:
  bonesplice::ByteView base_;
};

}  // namespace testing_support
