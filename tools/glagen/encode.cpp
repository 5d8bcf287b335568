#include "glagen/encode.h"

#include <algorithm>
#include <cstring>

#include "format/bytes.h"
#include "format/header.h"
#include "format/layout.h"
#include "format/skeleton.h"

namespace glagen {
namespace {

using bonesplice::Fits;
using bonesplice::FloatBits;
using bonesplice::FloatFromBits;
using bonesplice::LoadU24;
using bonesplice::LoadU32;
using bonesplice::StoreU24;
using bonesplice::StoreU32;

constexpr size_t kNameSize = 64;
constexpr size_t kIdentSize = 4;

void CopyText(char* field, size_t size, const std::string& text) {
  std::memcpy(field, text.data(), std::min(size, text.size()));
}

std::string TextField(const uint8_t* field, size_t size) {
  while (size > 0 && field[size - 1] == 0) --size;
  return std::string(field, field + size);
}

// The one encoder of a skeleton record: each field at its place in the record, the child words
// after it.
void EncodeBone(const SampleBone& bone, std::vector<uint8_t>& bytes) {
  using namespace bonesplice;
  uint8_t record[kSkeletonBoneFixedSize] = {};
  std::memcpy(record, bone.name.data(), std::min(kNameSize, bone.name.size()));
  StoreU32(record + kBoneFlagsAt, bone.flags);
  StoreU32(record + kBoneParentAt, static_cast<uint32_t>(bone.parent));
  for (size_t i = 0; i < 12; ++i) {
    StoreU32(record + kBoneOriginAt + 4 * i, FloatBits(bone.origin[i]));
    StoreU32(record + kBoneInversedOriginAt + 4 * i, FloatBits(bone.inversedOrigin[i]));
  }
  StoreU32(
      record + kBoneChildCountAt,
      static_cast<uint32_t>(bone.childCount.value_or(static_cast<int32_t>(bone.children.size()))));
  bytes.insert(bytes.end(), record, record + sizeof record);
  for (uint32_t child : bone.children) {
    uint8_t word[4];
    StoreU32(word, child);
    bytes.insert(bytes.end(), word, word + 4);
  }
}

// Decodes the fixed part of a record into bone; the child count as stored.
int32_t DecodeBone(const uint8_t* record, SampleBone& bone) {
  using namespace bonesplice;
  bone.name = TextField(record, kNameSize);
  bone.flags = LoadU32(record + kBoneFlagsAt);
  bone.parent = static_cast<int32_t>(LoadU32(record + kBoneParentAt));
  for (size_t i = 0; i < 12; ++i) {
    bone.origin[i] = FloatFromBits(LoadU32(record + kBoneOriginAt + 4 * i));
    bone.inversedOrigin[i] = FloatFromBits(LoadU32(record + kBoneInversedOriginAt + 4 * i));
  }
  return static_cast<int32_t>(LoadU32(record + kBoneChildCountAt));
}

}  // namespace

uint64_t RecordSize(const SampleBone& bone) {
  return bonesplice::kSkeletonBoneFixedSize + 4 * uint64_t{bone.children.size()};
}

std::vector<uint8_t> EncodeSampleFile(const SampleFile& file) {
  const uint32_t boneCount = static_cast<uint32_t>(file.bones.size());
  const uint64_t skeletonStart =
      bonesplice::kHeaderSize + uint64_t{bonesplice::kBoneOffsetSize} * boneCount;
  uint64_t skeletonSize = 0;
  for (const SampleBone& bone : file.bones) skeletonSize += RecordSize(bone);
  uint64_t frameFields = 0;
  for (const std::vector<uint32_t>& frame : file.frames) frameFields += frame.size();
  const uint64_t framesStart = skeletonStart + skeletonSize;
  const uint64_t entriesStart = framesStart + bonesplice::kFrameFieldSize * frameFields;
  const uint64_t end =
      entriesStart + uint64_t{bonesplice::kBoneDataEntrySize} * file.entries.size();

  bonesplice::AnimHeader header{};
  CopyText(header.ident, kIdentSize, file.ident);
  std::memcpy(header.version, file.version.data(), file.version.size());
  CopyText(header.name, kNameSize, file.name);
  header.scale = file.scale;
  header.frameCount = static_cast<uint32_t>(file.frames.size());
  header.frameArrayOffset = static_cast<uint32_t>(framesStart);
  header.boneCount = boneCount;
  header.boneArrayOffset = static_cast<uint32_t>(entriesStart);
  header.skeletonInfoOffset = static_cast<uint32_t>(skeletonStart);
  header.eofOffset = static_cast<uint32_t>(end);

  std::vector<uint8_t> bytes(bonesplice::kHeaderSize);
  bytes.reserve(static_cast<size_t>(end));
  const std::array<uint8_t, bonesplice::kHeaderSize> headerBytes = bonesplice::EncodeHeader(header);
  std::copy(headerBytes.begin(), headerBytes.end(), bytes.begin());

  auto putWord = [&bytes](uint32_t value) {
    uint8_t word[4];
    StoreU32(word, value);
    bytes.insert(bytes.end(), word, word + 4);
  };
  if (file.boneOffsets.empty()) {
    uint64_t position = 0;
    for (const SampleBone& bone : file.bones) {
      putWord(static_cast<uint32_t>(position));
      position += RecordSize(bone);
    }
  } else {
    for (uint32_t word : file.boneOffsets) putWord(word);
  }
  // A given table of the wrong length still leaves the skeleton where the header says.
  bytes.resize(static_cast<size_t>(skeletonStart));

  for (const SampleBone& bone : file.bones) EncodeBone(bone, bytes);

  bytes.resize(static_cast<size_t>(entriesStart));
  uint8_t* field = bytes.data() + framesStart;
  for (const std::vector<uint32_t>& frame : file.frames) {
    for (uint32_t index : frame) {
      StoreU24(field, index);
      field += bonesplice::kFrameFieldSize;
    }
  }
  bytes.resize(static_cast<size_t>(end));
  uint8_t* out = bytes.data() + entriesStart;
  for (const Entry& entry : file.entries) {
    std::memcpy(out, entry.data(), entry.size());
    out += entry.size();
  }
  return bytes;
}

std::optional<SampleFile> DecodeSampleFile(const std::vector<uint8_t>& bytes) {
  const uint64_t size = bytes.size();
  const uint8_t* data = bytes.data();
  const bonesplice::FileLayout layout = bonesplice::DecodeLayout({data, bytes.size()});
  if (!layout.wholeHeader) return std::nullopt;
  const bonesplice::AnimHeader& header = layout.header;

  if (!Fits(bonesplice::kHeaderSize, layout.offsetTableBytes, size)) return std::nullopt;
  if (header.eofOffset != size || header.boneArrayOffset > header.eofOffset ||
      layout.boneArrayBytes % bonesplice::kBoneDataEntrySize != 0) {
    return std::nullopt;
  }
  // A frame of no bones takes no bytes; the bound keeps such a count from costing memory.
  if (layout.frameBytes == 0 ? header.frameCount > size : !FramesFit(layout, header.frameCount)) {
    return std::nullopt;
  }

  SampleFile file;
  file.ident = TextField(data, kIdentSize);
  std::copy(data + 4, data + 8, file.version.begin());
  file.name = TextField(data + 8, kNameSize);
  file.scale = header.scale;

  const uint32_t boneCount = header.boneCount;
  file.boneOffsets.resize(boneCount);
  for (uint32_t i = 0; i < boneCount; ++i) {
    file.boneOffsets[i] = LoadU32(data + bonesplice::kHeaderSize + 4 * uint64_t{i});
  }

  // Every record takes at least its fixed part; checked before the table is allocated.
  if (!Fits(header.skeletonInfoOffset, uint64_t{bonesplice::kSkeletonBoneFixedSize} * boneCount,
            size)) {
    return std::nullopt;
  }
  uint64_t position = header.skeletonInfoOffset;
  file.bones.resize(boneCount);
  for (SampleBone& bone : file.bones) {
    if (!Fits(position, bonesplice::kSkeletonBoneFixedSize, size)) return std::nullopt;
    const int32_t childCount = DecodeBone(data + position, bone);
    position += bonesplice::kSkeletonBoneFixedSize;
    if (childCount < 0) {
      bone.childCount = childCount;
      continue;
    }
    const uint64_t childBytes = 4 * static_cast<uint64_t>(childCount);
    if (!Fits(position, childBytes, size)) return std::nullopt;
    bone.children.resize(static_cast<size_t>(childCount));
    for (size_t i = 0; i < bone.children.size(); ++i) {
      bone.children[i] = LoadU32(data + position + 4 * i);
    }
    position += childBytes;
  }

  file.frames.resize(header.frameCount);
  const uint8_t* field = data + header.frameArrayOffset;
  for (std::vector<uint32_t>& frame : file.frames) {
    frame.resize(boneCount);
    for (uint32_t& index : frame) {
      index = LoadU24(field);
      field += bonesplice::kFrameFieldSize;
    }
  }

  file.entries.resize(layout.entryCount);
  const uint8_t* entry = data + header.boneArrayOffset;
  for (Entry& out : file.entries) {
    std::copy(entry, entry + out.size(), out.begin());
    entry += out.size();
  }
  return file;
}

}  // namespace glagen
