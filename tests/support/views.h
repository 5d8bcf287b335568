// Files held in memory, seen the way the program sees an input.
#pragma once

#include <cstdint>
#include <vector>

#include "format/bytes.h"
#include "format/header.h"

namespace testing_support {

inline bonesplice::ByteView ViewOf(const std::vector<uint8_t>& bytes) {
  return {bytes.data(), bytes.size()};
}

// The header of a file held in memory, as ReadHeader reads it.
inline bonesplice::AnimHeader HeaderOfBytes(const std::vector<uint8_t>& bytes) {
  bonesplice::AnimHeader header;
  bonesplice::ReadHeader(ViewOf(bytes), header);
  return header;
}

}  // namespace testing_support
