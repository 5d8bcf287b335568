// Emit, the merge's last phase: the output as a fixed sequence of pieces, each at an offset
// that Resolve has fixed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

#include "format/bytes.h"
#include "merge/failure.h"
#include "merge/plan.h"
#include "merge/resolve.h"

namespace bonesplice {

// Where the merged file goes.
class MergeOutput {
 public:
  virtual ~MergeOutput() = default;
  // Called once, before the first byte is written; false when the output cannot be started.
  virtual bool Begin() = 0;
  // True when pieces may be written at their offsets in any order and from several threads at
  // once, as into a regular file. Otherwise each piece is written where the one before it
  // ended, one at a time, front to back.
  virtual bool TakesPiecesAtOffsets() const = 0;
  virtual bool WriteAt(uint64_t offset, const uint8_t* data, size_t size) = 0;
  // Writes length bytes of the base file from baseOffset at offset.
  virtual bool CopyFromBaseAt(uint64_t offset, uint64_t baseOffset, uint64_t length) = 0;
};

// Writes the merged file to output as these pieces, in this order: the output header; the
// base's bone offset table, skeleton block and frames, copied; donor frames 1 onwards, put into
// base bone order and re-pointed through the remap table; the base's bone array, copied; the
// appended entries, gathered from the donor's bone array. The pieces are
// made on up to threads threads; the bytes are the same for any number. Fails only when the
// output refuses a byte.
std::optional<Failure> EmitMerge(const MergePlan& plan, const Resolution& resolution,
                                 ByteView donor, MergeOutput& output, unsigned threads);

}  // namespace bonesplice
