// The guarded mappings as both systems' handlers keep them: plain atomics, readable from a
// signal handler or an exception handler.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

namespace bonesplice::platform {

struct GuardSlot {
  std::atomic<uintptr_t> start{0};
  std::atomic<size_t> length{0};
  std::atomic<int> faulted{0};
  std::atomic<int> replaced{0};  // Windows: the view was swapped for zeroed memory
};

inline constexpr int kGuardSlots = 4;

inline int TakeGuardSlot(GuardSlot* slots, const uint8_t* data, size_t length) {
  for (int i = 0; i < kGuardSlots; ++i) {
    GuardSlot& slot = slots[i];
    if (slot.length.load() != 0) continue;
    slot.faulted = 0;
    slot.replaced = 0;
    slot.start = reinterpret_cast<uintptr_t>(data);
    slot.length = length;
    return i;
  }
  return -1;
}

// The guarded mapping that holds address, or -1.
inline int GuardSlotOf(const GuardSlot* slots, uintptr_t address) {
  for (int i = 0; i < kGuardSlots; ++i) {
    size_t length = slots[i].length.load();
    if (length != 0 && address - slots[i].start.load() < length) return i;
  }
  return -1;
}

}  // namespace bonesplice::platform
