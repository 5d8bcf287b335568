// Helpers shared by the fuzz targets: fuzz input as read-only C streams, a scratch output
// stream, and the check that turns a broken promise into a finding.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

namespace bonesplice::fuzz {

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

// A read-only binary stream over a private copy of bytes; it ends where the bytes end.
class MemoryFile {
 public:
  MemoryFile(const uint8_t* data, size_t size) : bytes_(data, data + size) {
    // fmemopen wants a buffer even for an empty file.
    if (bytes_.empty()) bytes_.reserve(1);
    file_.reset(fmemopen(bytes_.data(), bytes_.size(), "rb"));
    if (!file_) std::abort();
  }
  MemoryFile(const MemoryFile&) = delete;
  MemoryFile& operator=(const MemoryFile&) = delete;

  std::FILE* get() const { return file_.get(); }
  const std::vector<uint8_t>& bytes() const { return bytes_; }

 private:
  std::vector<uint8_t> bytes_;
  File file_;
};

// Reports a promise the code under test broke and stops, so that the fuzzer keeps the input.
inline void Require(bool holds, const char* promise) {
  if (holds) return;
  std::fprintf(stderr, "broken promise: %s\n", promise);
  std::abort();
}

}  // namespace bonesplice::fuzz
