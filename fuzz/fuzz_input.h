// Helpers shared by the fuzz targets: fuzz input as a private copy of a file's bytes, and the
// check that turns a broken promise into a finding.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "format/bytes.h"

namespace bonesplice::fuzz {

// The bytes of one input file, in memory of their own so that a read past them is caught.
class MemoryFile {
 public:
  MemoryFile(const uint8_t* data, size_t size) : bytes_(data, data + size) {}
  ByteView view() const { return {bytes_.data(), bytes_.size()}; }
  const std::vector<uint8_t>& bytes() const { return bytes_; }

 private:
  std::vector<uint8_t> bytes_;
};

// Reports a promise the code under test broke and stops, so that the fuzzer keeps the input.
inline void Require(bool holds, const char* promise) {
  if (holds) return;
  std::fprintf(stderr, "broken promise: %s\n", promise);
  std::abort();
}

}  // namespace bonesplice::fuzz
