// The POSIX half's shared step for large-page placement: address space aligned to a large page.
#pragma once

#include <cstddef>

namespace bonesplice::platform {

inline constexpr size_t kLargePage = size_t{2} << 20;

inline size_t RoundUp(size_t size, size_t unit) {
  return (size + unit - 1) / unit * unit;
}

// Reserves length bytes (a whole number of pages) with access prot at an address aligned to a
// large page, so that the system can back them with large pages or map a file's large pages
// there. nullptr when there is no such room.
void* ReserveAligned(size_t length, int prot);

}  // namespace bonesplice::platform
