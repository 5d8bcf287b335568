// The merge: a base file with every donor frame but the first appended in base bone order,
// re-pointed into the output's bone array, followed by the donor entries those frames use.
#pragma once

#include <optional>

#include "format/bytes.h"
#include "merge/emit.h"
#include "merge/failure.h"
#include "merge/plan.h"
#include "merge/resolve.h"

namespace bonesplice {

// What a merge makes, known once Resolve has settled it.
struct MergeSummary {
  uint32_t baseFrames = 0;       // output frames 0 onwards are the base's
  uint32_t appendedFrames = 0;   // then donor frames 1 onwards
  uint32_t appendedEntries = 0;  // donor entries added after the base's
  uint32_t sharedEntries = 0;    // donor entries the frames use that take one the output holds
  uint64_t outputSize = 0;
};

// Merges donor into base and writes the result to output, in three phases: Check (PlanMerge)
// reads and validates both files, Resolve decides every output index and offset, Emit writes.
// Nothing is written unless Check and Resolve succeed; summary, when given, is filled before
// Emit begins the output. A failure from Emit may leave part of the output written; the caller
// discards it. Throws std::bad_alloc when memory runs out.
std::optional<Failure> RunMerge(ByteView base, ByteView donor, MergeOutput& output,
                                const MergeOptions& options, MergeSummary* summary = nullptr);

}  // namespace bonesplice
