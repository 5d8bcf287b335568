// Resolve, the merge's second phase: one walk over the donor frames that decides every output
// index and every offset, writing nothing.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>

#include "format/bytes.h"
#include "format/header.h"
#include "merge/entry_hash.h"
#include "merge/failure.h"
#include "merge/plan.h"
#include "merge/remap.h"

namespace bonesplice {

struct MergeOptions {
  bool optimize = false;  // "-o": share byte-identical bone data entries
  HashKey hashKey;        // the key of the entries' hash; changes where they are filed, not what
  unsigned threads = 1;   // the most threads a phase runs on; the result is the same for any

  // Called after donor frames first + 1 to first + count have been resolved, in order.
  std::function<void(uint32_t first, uint32_t count)> onFramesDone;
};

// What Emit needs besides the plan: the output index of every donor index the appended frames
// use, which donor entries follow the base's, and the output header with every offset final.
struct Resolution {
  RemapTable remapTable;
  AppendedEntryList appendedEntryList;
  AnimHeader outputHeader{};
};

// Resolves donor frames 1 to frameCount - 1 of the plan's donor in order, reporting finished
// frames through options.onFramesDone, and stops at the first frame that names no donor entry
// or would make the output too large. Throws std::bad_alloc when memory runs out.
std::optional<Failure> ResolveMerge(const MergePlan& plan, ByteView base, ByteView donor,
                                    const MergeOptions& options, Resolution& resolution);

}  // namespace bonesplice
