// "-o": which donor entries the output holds already, found before any frame is remapped.
#pragma once

#include "merge/entry_hash.h"
#include "merge/remap.h"
#include "merge/workers.h"

namespace bonesplice {

// Sets the remap slot of every donor entry that has the same 14 bytes as a base entry to
// kSameAsOutput | the first such base entry's index, and the slot of every other donor entry
// that has the bytes of an earlier donor entry to kSameAs | the first such entry. Leaves every
// other slot as it is.
// The entries are found by their hash under key, spread over the workers in partitions of the
// hash's range small enough for the processor's cache; a partition that a flood of colliding
// entries fills still costs a bounded number of slot visits per entry. Throws std::bad_alloc
// when memory runs out.
void ShareEqualEntries(const BoneArrays& arrays, HashKey key, const Workers& workers,
                       RemapTable& remapTable);

}  // namespace bonesplice
