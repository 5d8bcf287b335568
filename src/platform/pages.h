// Memory for large tables, straight from the system rather than the heap.
#pragma once

#include <cstddef>

namespace bonesplice::platform {

// bytes of zero-filled memory; nullptr when there is not enough memory. Pages the caller never
// touches cost nothing. With scattered, where the system allows, in large pages, so that first
// use costs fewer page faults and scattered reads miss the address translation caches less
// often; memory used front to back takes small pages, which hold no more than is used.
void* AllocatePages(size_t bytes, bool scattered);

// Gives back memory from AllocatePages(bytes, scattered); nullptr is ignored.
void FreePages(void* memory, size_t bytes, bool scattered);

}  // namespace bonesplice::platform
