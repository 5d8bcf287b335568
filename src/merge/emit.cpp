#include "merge/emit.h"

#include <algorithm>
#include <array>
#include <vector>

#include "format/bytes.h"
#include "merge/remap.h"
#include "platform/compiler.h"

namespace bonesplice {
namespace {

// Appended entries gathered before they are handed to the output.
constexpr size_t kPieceBytes = size_t{256} << 10;
constexpr size_t kGatherAhead = 32;

// Writes the appended entries, gathered from the donor's bone array.
bool EmitAppendedEntries(const uint8_t* donorEntries, const AppendedEntryList& appended,
                         MergeOutput& output) {
  constexpr size_t kPerPiece = kPieceBytes / kBoneDataEntrySize;
  std::vector<uint8_t> piece(std::min<size_t>(kPerPiece, appended.count) * kBoneDataEntrySize);
  const uint32_t* indices = appended.donorIndices.data();
  auto entry = [&](size_t p) { return donorEntries + size_t{indices[p]} * kBoneDataEntrySize; };
  for (size_t first = 0; first < appended.count; first += kPerPiece) {
    size_t count = std::min<size_t>(kPerPiece, appended.count - first);
    for (size_t i = 0; i < count; ++i) {
      size_t p = first + i;
      if (p + kGatherAhead < appended.count) BONESPLICE_PREFETCH(entry(p + kGatherAhead));
      std::copy(entry(p), entry(p) + kBoneDataEntrySize, &piece[i * kBoneDataEntrySize]);
    }
    if (!output.Write(piece.data(), count * kBoneDataEntrySize)) return false;
  }
  return true;
}

}  // namespace

std::optional<Failure> EmitMerge(const MergePlan& plan, const Resolution& resolution,
                                 ByteView donor, MergeOutput& output) {
  const FileLayout& base = plan.base;
  const AnimHeader& donorHeader = plan.donor.header;
  const Table<uint8_t>& frames = resolution.appendedFrames;
  std::array<uint8_t, kHeaderSize> header = EncodeHeader(resolution.outputHeader);
  bool written =
      output.Begin() && output.Write(header.data(), header.size()) &&
      output.CopyFromBase(kHeaderSize, base.offsetTableBytes) &&
      output.CopyFromBase(base.header.skeletonInfoOffset, base.skeletonBytes) &&
      output.CopyFromBase(base.header.frameArrayOffset, base.frameBytes * base.header.frameCount) &&
      output.Write(frames.data(), frames.size()) &&
      output.CopyFromBase(base.header.boneArrayOffset, base.boneArrayBytes) &&
      EmitAppendedEntries(donor.data + donorHeader.boneArrayOffset, resolution.appendedEntryList,
                          output);
  if (!written) return OutputUnwritable{};
  return std::nullopt;
}

}  // namespace bonesplice
