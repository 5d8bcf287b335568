#include "reference_merge.h"

#include <cstring>
#include <string>

#include "format/bytes.h"
#include "format/header.h"
#include "format/layout.h"

namespace reference {
namespace {

using bonesplice::AnimHeader;
using bonesplice::FileLayout;

// Little-endian numbers read here byte by byte, not with the program's own loads, so that a
// fault in those cannot hide in both accounts of the merge.
uint32_t Little(const uint8_t* p, int bytes) {
  uint32_t value = 0;
  for (int i = bytes - 1; i >= 0; --i) value = value << 8 | p[i];
  return value;
}

constexpr size_t kEntry = bonesplice::kBoneDataEntrySize;
// A skeleton record: 64 bytes of name, flags, parent, two 3 x 4 matrices, then childCount.
constexpr size_t kChildCountAt = 168;
constexpr size_t kRecordFixed = 172;

FileLayout LayoutOf(const std::vector<uint8_t>& file) {
  return bonesplice::DecodeLayout({file.data(), file.size()});
}

std::vector<std::string> BoneNames(const std::vector<uint8_t>& file, const AnimHeader& header) {
  std::vector<std::string> names;
  size_t at = header.skeletonInfoOffset;
  for (uint32_t i = 0; i < header.boneCount; ++i) {
    const char* name = reinterpret_cast<const char*>(&file[at]);
    names.emplace_back(name, strnlen(name, 64));
    int32_t childCount = int32_t(Little(&file[at + kChildCountAt], 4));
    at += kRecordFixed + (childCount > 0 ? 4 * size_t(childCount) : 0);
  }
  return names;
}

}  // namespace

std::vector<uint8_t> ReferenceMerge(const std::vector<uint8_t>& base,
                                    const std::vector<uint8_t>& donor, bool optimize) {
  const FileLayout baseLayout = LayoutOf(base);
  const FileLayout donorLayout = LayoutOf(donor);
  const AnimHeader& b = baseLayout.header;
  const AnimHeader& d = donorLayout.header;
  std::vector<std::string> baseNames = BoneNames(base, b);
  std::vector<std::string> donorNames = BoneNames(donor, d);
  std::vector<size_t> secondIndex(b.boneCount);
  for (size_t j = 0; j < b.boneCount; ++j) {
    for (size_t k = 0; k < d.boneCount; ++k) {
      if (donorNames[k] == baseNames[j]) {
        secondIndex[j] = k;
        break;
      }
    }
  }

  const uint8_t* baseEntries = base.data() + b.boneArrayOffset;
  size_t baseCount = baseLayout.entryCount;
  const uint8_t* donorEntries = donor.data() + d.boneArrayOffset;
  std::vector<uint32_t> remap(donorLayout.entryCount, 0xFFFFFFFFu);
  std::vector<uint8_t> appended;
  size_t frameSize = donorLayout.frameBytes;
  std::vector<uint8_t> frames;
  for (size_t f = 1; f < d.frameCount; ++f) {
    const uint8_t* frame = &donor[d.frameArrayOffset + f * frameSize];
    for (size_t j = 0; j < b.boneCount; ++j) {
      uint32_t index = Little(frame + 3 * secondIndex[j], 3);
      if (remap[index] == 0xFFFFFFFFu) {
        const uint8_t* entry = donorEntries + kEntry * index;
        uint32_t found = 0xFFFFFFFFu;
        size_t appendedCount = appended.size() / kEntry;
        for (size_t p = 0; optimize && found == 0xFFFFFFFFu && p < appendedCount; ++p) {
          if (std::memcmp(&appended[kEntry * p], entry, kEntry) == 0)
            found = uint32_t(baseCount + p);
        }
        for (size_t k = 0; optimize && found == 0xFFFFFFFFu && k < baseCount; ++k) {
          if (std::memcmp(baseEntries + kEntry * k, entry, kEntry) == 0) found = uint32_t(k);
        }
        if (found == 0xFFFFFFFFu) {
          found = uint32_t(baseCount + appendedCount);
          appended.insert(appended.end(), entry, entry + kEntry);
        }
        remap[index] = found;
      }
      for (int i = 0; i < 3; ++i) frames.push_back(uint8_t(remap[index] >> (8 * i)));
    }
  }

  AnimHeader header = b;
  // The header and the bone offset table; the header is rewritten once the offsets are known.
  std::vector<uint8_t> out(base.begin(),
                           base.begin() + bonesplice::kHeaderSize + baseLayout.offsetTableBytes);
  header.skeletonInfoOffset = uint32_t(out.size());
  out.insert(out.end(), base.begin() + b.skeletonInfoOffset, base.begin() + b.frameArrayOffset);
  header.frameArrayOffset = uint32_t(out.size());
  out.insert(out.end(), base.begin() + b.frameArrayOffset,
             base.begin() + b.frameArrayOffset + b.frameCount * baseLayout.frameBytes);
  out.insert(out.end(), frames.begin(), frames.end());
  header.boneArrayOffset = uint32_t(out.size());
  out.insert(out.end(), baseEntries, baseEntries + baseLayout.boneArrayBytes);
  out.insert(out.end(), appended.begin(), appended.end());
  header.frameCount = b.frameCount + d.frameCount - 1;
  header.eofOffset = uint32_t(out.size());
  const auto headerBytes = bonesplice::EncodeHeader(header);
  std::memcpy(out.data(), headerBytes.data(), headerBytes.size());
  return out;
}

std::optional<std::string> WhyUnsoundOutput(const std::vector<uint8_t>& bytes) {
  FileLayout layout = LayoutOf(bytes);
  const AnimHeader& h = layout.header;
  if (!layout.wholeHeader) return "output shorter than a header";
  if (h.eofOffset != bytes.size())
    return "eofOffset " + std::to_string(h.eofOffset) + " is not the output size";
  if (h.skeletonInfoOffset != bonesplice::kHeaderSize + layout.offsetTableBytes) {
    return "skeleton does not follow the bone offset table";
  }
  if (h.frameArrayOffset < h.skeletonInfoOffset) return "frame array before the skeleton";
  if (h.boneArrayOffset != h.frameArrayOffset + layout.frameBytes * h.frameCount) {
    return "frames do not end at the bone array";
  }
  if (h.boneArrayOffset > h.eofOffset || layout.boneArrayBytes % kEntry != 0) {
    return "bone array not whole entries";
  }
  if (layout.entryCount > bonesplice::kMaxBoneDataEntries)
    return "more entries than an index names";
  return std::nullopt;
}

}  // namespace reference
