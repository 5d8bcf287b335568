#include "platform/pages.h"

#include "platform/windows/windows.h"

namespace bonesplice::platform {

void* AllocatePages(size_t bytes) {
  if (bytes == 0) bytes = 1;
  return VirtualAlloc(nullptr, bytes, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
}

void FreePages(void* memory, size_t) {
  if (memory != nullptr) VirtualFree(memory, 0, MEM_RELEASE);
}

}  // namespace bonesplice::platform
