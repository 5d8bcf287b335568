// Streams over bytes in memory, for testing the readers without files.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <vector>

#include "format/header.h"

namespace testing_support {

struct StreamCloser {
  void operator()(std::FILE* stream) const { std::fclose(stream); }
};
using Stream = std::unique_ptr<std::FILE, StreamCloser>;

// A read-only binary stream over bytes, which must outlive it. An empty vector gives an empty
// stream.
inline Stream OpenBytes(const std::vector<uint8_t>& bytes) {
  if (bytes.empty()) return Stream(std::tmpfile());
  return Stream(fmemopen(const_cast<uint8_t*>(bytes.data()), bytes.size(), "rb"));
}

// The header of a file held in memory, as ReadHeader reads it.
inline bonesplice::AnimHeader HeaderOfBytes(const std::vector<uint8_t>& bytes) {
  bonesplice::AnimHeader header;
  Stream stream = OpenBytes(bytes);
  bonesplice::ReadHeader(stream.get(), header);
  return header;
}

}  // namespace testing_support
