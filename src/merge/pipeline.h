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

// Merges donor into base and writes the result to output, in three phases: Check (PlanMerge)
// reads and validates both files, Resolve decides every output index and offset, Emit writes.
// Nothing is written unless Check and Resolve succeed. A failure from Emit may leave part of
// the output written; the caller discards it. Throws std::bad_alloc when memory runs out.
std::optional<Failure> RunMerge(ByteView base, ByteView donor, MergeOutput& output,
                                const MergeOptions& options);

}  // namespace bonesplice
