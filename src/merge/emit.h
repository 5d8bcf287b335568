// Emit, the merge's last phase: the output written front to back as a fixed sequence of pieces.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

#include "format/bytes.h"
#include "merge/failure.h"
#include "merge/plan.h"
#include "merge/resolve.h"

namespace bonesplice {

// Where the merged file goes: an output that only appends.
class MergeOutput {
 public:
  virtual ~MergeOutput() = default;
  // Called once, before the first byte is written; false when the output cannot be started.
  virtual bool Begin() = 0;
  virtual bool Write(const uint8_t* data, size_t size) = 0;
  // Writes length bytes of the base file from offset.
  virtual bool CopyFromBase(uint64_t offset, uint64_t length) = 0;
};

// Writes the merged file to output, in this order: the output header; the base's bone offset
// table, skeleton block and frames, copied; the donor frames 1 onwards in base bone order,
// re-pointed through the remap table; the base's bone array, copied; the appended entries.
// Fails only when the output refuses a byte.
std::optional<Failure> EmitMerge(const MergePlan& plan, const Resolution& resolution,
                                 ByteView donor, MergeOutput& output);

}  // namespace bonesplice
