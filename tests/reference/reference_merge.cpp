#include "reference_merge.h"

#include <cstring>
#include <string>

namespace reference {
namespace {

constexpr size_t kEntry = 14;

uint32_t Word(const std::vector<uint8_t>& file, size_t offset) {
  return uint32_t{file[offset]} | uint32_t{file[offset + 1]} << 8 |
         uint32_t{file[offset + 2]} << 16 | uint32_t{file[offset + 3]} << 24;
}

void PutWord(std::vector<uint8_t>& file, size_t offset, uint32_t value) {
  for (int i = 0; i < 4; ++i) file[offset + size_t(i)] = uint8_t(value >> (8 * i));
}

struct Header {
  uint32_t frameCount, frameArrayOffset, boneCount, boneArrayOffset, skeletonInfoOffset, eofOffset;
};

Header HeaderOf(const std::vector<uint8_t>& file) {
  return {Word(file, 76), Word(file, 80), Word(file, 84),
          Word(file, 88), Word(file, 92), Word(file, 96)};
}

std::vector<std::string> BoneNames(const std::vector<uint8_t>& file, const Header& header) {
  std::vector<std::string> names;
  size_t at = header.skeletonInfoOffset;
  for (uint32_t i = 0; i < header.boneCount; ++i) {
    const char* name = reinterpret_cast<const char*>(&file[at]);
    names.emplace_back(name, strnlen(name, 64));
    int32_t childCount = int32_t(Word(file, at + 168));
    at += 172 + (childCount > 0 ? 4 * size_t(childCount) : 0);
  }
  return names;
}

}  // namespace

std::vector<uint8_t> ReferenceMerge(const std::vector<uint8_t>& base,
                                    const std::vector<uint8_t>& donor, bool optimize) {
  Header b = HeaderOf(base);
  Header d = HeaderOf(donor);
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

  const uint8_t* baseEntries = &base[b.boneArrayOffset];
  size_t baseCount = (b.eofOffset - b.boneArrayOffset) / kEntry;
  const uint8_t* donorEntries = &donor[d.boneArrayOffset];
  std::vector<uint32_t> remap((d.eofOffset - d.boneArrayOffset) / kEntry, 0xFFFFFFFFu);
  std::vector<uint8_t> appended;
  size_t frameSize = size_t(d.boneCount) * 3;
  std::vector<uint8_t> frames;
  for (size_t f = 1; f < d.frameCount; ++f) {
    const uint8_t* frame = &donor[d.frameArrayOffset + f * frameSize];
    for (size_t j = 0; j < b.boneCount; ++j) {
      const uint8_t* field = frame + 3 * secondIndex[j];
      uint32_t index = uint32_t{field[0]} | uint32_t{field[1]} << 8 | uint32_t{field[2]} << 16;
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

  std::vector<uint8_t> out(base.begin(), base.begin() + 100 + 4 * b.boneCount);
  size_t skeletonInfoOffset = out.size();
  out.insert(out.end(), base.begin() + b.skeletonInfoOffset, base.begin() + b.frameArrayOffset);
  size_t frameArrayOffset = out.size();
  out.insert(out.end(), base.begin() + b.frameArrayOffset,
             base.begin() + b.frameArrayOffset + b.frameCount * b.boneCount * 3);
  out.insert(out.end(), frames.begin(), frames.end());
  size_t boneArrayOffset = out.size();
  out.insert(out.end(), base.begin() + b.boneArrayOffset, base.begin() + b.eofOffset);
  out.insert(out.end(), appended.begin(), appended.end());
  PutWord(out, 76, b.frameCount + d.frameCount - 1);
  PutWord(out, 80, uint32_t(frameArrayOffset));
  PutWord(out, 88, uint32_t(boneArrayOffset));
  PutWord(out, 92, uint32_t(skeletonInfoOffset));
  PutWord(out, 96, uint32_t(out.size()));
  return out;
}

}  // namespace reference
