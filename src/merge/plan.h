// Check, the merge's first phase: everything about two files that can be known before their
// frames are remapped.
#pragma once

#include <optional>

#include "format/bytes.h"
#include "format/layout.h"
#include "merge/bone_map.h"
#include "merge/failure.h"

namespace bonesplice {

// Two files found fit to merge, and the bone correspondence between them.
struct MergePlan {
  FileLayout base;
  FileLayout donor;
  BoneNameMap boneNameMap;
};

// Reads and checks both files once and reports the first problem, in this order: CheckHeaders,
// the base's layout, a donor with at least one frame, the donor's layout, bones at all, an
// output the format can describe without appended entries, the base skeleton (whole, inside its
// block), the donor skeleton (whole), a donor bone for every base bone. On success plan holds
// what Resolve and Emit need. Throws std::bad_alloc when memory runs out.
std::optional<Failure> PlanMerge(ByteView base, ByteView donor, MergePlan& plan);

// The output header for a merge that appends appended entries: the base's, with offsets that
// describe the blocks as they follow one another. nullopt when the format cannot describe it.
std::optional<AnimHeader> OutputHeader(const MergePlan& plan, uint32_t appended);

}  // namespace bonesplice
