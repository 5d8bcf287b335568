#include "merge/emit.h"

#include <algorithm>
#include <array>
#include <vector>

#include "format/bytes.h"
#include "merge/remap.h"
#include "platform/compiler.h"

namespace bonesplice {
namespace {

// Output bytes gathered before they are handed to the output: donor frames or appended
// entries.
constexpr size_t kPieceBytes = size_t{256} << 10;
constexpr size_t kGatherAhead = 32;

// Writes count donor frames from first on, in base bone order and re-pointed to output indices.
bool EmitDonorFrames(const DonorFrames& frames, uint64_t first, uint64_t count,
                     const RemapTable& remapTable, MergeOutput& output) {
  const BoneNameMap& map = *frames.boneNameMap;
  size_t frameBytes = static_cast<size_t>(frames.frameBytes);
  uint64_t perPiece = std::max<uint64_t>(1, kPieceBytes / frameBytes);
  std::vector<uint8_t> piece(static_cast<size_t>(std::min(perPiece, count)) * frameBytes);
  for (uint64_t done = 0; done < count;) {
    size_t inPiece = static_cast<size_t>(std::min(perPiece, count - done));
    for (size_t f = 0; f < inPiece; ++f) {
      uint64_t frame = first + done + f;
      // The remap slots of the next frame are on their way while this one is re-pointed.
      if (done + f + 1 < count) PrefetchSlots(frames.Frame(frame + 1), map, remapTable);
      const uint8_t* from = frames.Frame(frame);
      uint8_t* to = piece.data() + f * frameBytes;
      for (size_t j = 0; j < map.size(); ++j) {
        StoreU24(to + j * kFrameFieldSize, remapTable[FieldInBaseOrder(from, map, j)]);
      }
    }
    if (!output.Write(piece.data(), inPiece * frameBytes)) return false;
    done += inPiece;
  }
  return true;
}

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
  DonorFrames frames{donor.data + donorHeader.frameArrayOffset, plan.donor.frameBytes,
                     &plan.boneNameMap};
  std::array<uint8_t, kHeaderSize> header = EncodeHeader(resolution.outputHeader);
  bool written =
      output.Begin() && output.Write(header.data(), header.size()) &&
      output.CopyFromBase(kHeaderSize, base.offsetTableBytes) &&
      output.CopyFromBase(base.header.skeletonInfoOffset, base.skeletonBytes) &&
      output.CopyFromBase(base.header.frameArrayOffset, base.frameBytes * base.header.frameCount) &&
      EmitDonorFrames(frames, 1, donorHeader.frameCount - uint64_t{1}, resolution.remapTable,
                      output) &&
      output.CopyFromBase(base.header.boneArrayOffset, base.boneArrayBytes) &&
      EmitAppendedEntries(donor.data + donorHeader.boneArrayOffset, resolution.appendedEntryList,
                          output);
  if (!written) return OutputUnwritable{};
  return std::nullopt;
}

}  // namespace bonesplice
