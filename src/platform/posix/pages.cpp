#include "platform/pages.h"

#include <sys/mman.h>

#include <cstdint>

#include "platform/posix/reserve.h"

namespace bonesplice::platform {

void* ReserveAligned(size_t length, int prot) {
  if (length > SIZE_MAX - kLargePage) return nullptr;
  void* reserved = mmap(nullptr, length + kLargePage, prot, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (reserved == MAP_FAILED) return nullptr;
  // The reservation on either side of the aligned range is given back.
  uintptr_t start = reinterpret_cast<uintptr_t>(reserved);
  uintptr_t aligned = RoundUp(start, kLargePage);
  if (aligned > start) munmap(reserved, aligned - start);
  uintptr_t end = aligned + length;
  uintptr_t reservedEnd = start + length + kLargePage;
  if (reservedEnd > end) munmap(reinterpret_cast<void*>(end), reservedEnd - end);
  return reinterpret_cast<void*>(aligned);
}

void* AllocatePages(size_t bytes) {
  if (bytes < kLargePage) {
    void* memory = mmap(nullptr, bytes == 0 ? 1 : bytes, PROT_READ | PROT_WRITE,
                        MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    return memory == MAP_FAILED ? nullptr : memory;
  }
  if (bytes > SIZE_MAX - kLargePage) return nullptr;
  // Whole large pages, so that the system can back all of the table with them.
  size_t length = RoundUp(bytes, kLargePage);
  void* memory = ReserveAligned(length, PROT_READ | PROT_WRITE);
#ifdef MADV_HUGEPAGE
  if (memory != nullptr) madvise(memory, length, MADV_HUGEPAGE);
#endif
  return memory;
}

void FreePages(void* memory, size_t bytes) {
  if (memory == nullptr) return;
  munmap(memory, bytes < kLargePage ? (bytes == 0 ? 1 : bytes) : RoundUp(bytes, kLargePage));
}

}  // namespace bonesplice::platform
