#include "glagen/sample.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "format/bytes.h"
#include "format/header.h"
#include "format/skeleton.h"

namespace glagen {
namespace {

using bonesplice::FloatBits;
using bonesplice::FloatFromBits;
using bonesplice::LoadU24;
using bonesplice::LoadU32;
using bonesplice::StoreU24;
using bonesplice::StoreU32;

constexpr size_t kNameSize = 64;
constexpr size_t kIdentSize = 4;

// ---- Random numbers: xoshiro256** seeded through splitmix64, so every host draws the same.

uint64_t SplitMix(uint64_t& state) {
  uint64_t z = (state += 0x9E3779B97F4A7C15ull);
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  return z ^ (z >> 31);
}

uint64_t RotateLeft(uint64_t x, int k) {
  return (x << k) | (x >> (64 - k));
}

// One independent stream per purpose, so that changing one count (say the frames) leaves the
// bones and entries of the same seed unchanged.
enum class Stream : uint64_t { kSkeleton = 1, kShuffle, kEntries, kShared, kRepeat, kFrames };

class Random {
 public:
  Random(uint64_t seed, Stream stream) {
    uint64_t state = seed ^ (static_cast<uint64_t>(stream) * 0xD1B54A32D192ED03ull);
    for (uint64_t& word : s_) word = SplitMix(state);
  }

  uint64_t Next() {
    uint64_t result = RotateLeft(s_[1] * 5, 7) * 9;
    uint64_t t = s_[1] << 17;
    s_[2] ^= s_[0];
    s_[3] ^= s_[1];
    s_[1] ^= s_[2];
    s_[0] ^= s_[3];
    s_[2] ^= t;
    s_[3] = RotateLeft(s_[3], 45);
    return result;
  }

  // Uniform in 0 .. bound - 1 (bound > 0), without modulo bias.
  uint64_t Below(uint64_t bound) {
    uint64_t limit = (0 - bound) % bound;  // 2^64 mod bound: values under it are rejected
    for (;;) {
      uint64_t x = Next();
      if (x >= limit) return x % bound;
    }
  }

  uint32_t Below32(uint32_t bound) { return static_cast<uint32_t>(Below(bound)); }

 private:
  uint64_t s_[4];
};

// round(share * count) with share clamped to 0..1.
uint64_t ShareOf(double share, uint64_t count) {
  if (!(share > 0.0)) return 0;
  if (share >= 1.0) return count;
  return std::min(count, static_cast<uint64_t>(share * static_cast<double>(count) + 0.5));
}

// ---- Skeleton without a model file: a humanoid list of names with a plausible hierarchy.

struct NamedBone {
  std::string name;
  int32_t parent;
};

void AddBone(std::vector<NamedBone>& list, const std::string& name, const std::string& parent) {
  int32_t parentIndex = -1;
  for (size_t i = 0; i < list.size(); ++i) {
    if (list[i].name == parent) parentIndex = static_cast<int32_t>(i);
  }
  list.push_back({name, parentIndex});
}

// 70 bones, each after its parent.
std::vector<NamedBone> HumanoidBones() {
  std::vector<NamedBone> list;
  AddBone(list, "root", "");
  AddBone(list, "pelvis", "root");
  AddBone(list, "spine_1", "pelvis");
  AddBone(list, "spine_2", "spine_1");
  AddBone(list, "spine_3", "spine_2");
  AddBone(list, "neck", "spine_3");
  AddBone(list, "head", "neck");
  AddBone(list, "jaw", "head");
  AddBone(list, "tongue", "jaw");
  AddBone(list, "nose", "head");
  for (const char* side : {"l_", "r_"}) {
    const std::string s = side;
    AddBone(list, s + "eye", "head");
    AddBone(list, s + "brow", "head");
    AddBone(list, s + "cheek", "head");
  }
  for (const char* side : {"l_", "r_"}) {
    const std::string s = side;
    AddBone(list, s + "thigh", "pelvis");
    AddBone(list, s + "thigh_twist", s + "thigh");
    AddBone(list, s + "calf", s + "thigh");
    AddBone(list, s + "foot", s + "calf");
    AddBone(list, s + "heel", s + "foot");
    AddBone(list, s + "toe", s + "foot");
  }
  for (const char* side : {"l_", "r_"}) {
    const std::string s = side;
    AddBone(list, s + "clavicle", "spine_3");
    AddBone(list, s + "upperarm", s + "clavicle");
    AddBone(list, s + "upperarm_twist", s + "upperarm");
    AddBone(list, s + "forearm", s + "upperarm");
    AddBone(list, s + "forearm_twist", s + "forearm");
    AddBone(list, s + "hand", s + "forearm");
    for (const char* finger : {"thumb", "index", "middle", "ring", "pinky"}) {
      std::string previous = s + "hand";
      for (int joint = 1; joint <= 3; ++joint) {
        std::string name = s + finger + "_" + std::to_string(joint);
        AddBone(list, name, previous);
        previous = name;
      }
    }
  }
  AddBone(list, "r_weapon", "r_hand");
  AddBone(list, "l_shield", "l_hand");
  return list;
}

// A 3 x 4 row-major rigid transform: an axis-aligned rotation and a translation on a 1/64 grid,
// so that the inverse is exact.
void RandomTransform(Random& random, std::array<float, 12>& origin,
                     std::array<float, 12>& inversedOrigin) {
  static constexpr int kPermutations[6][3] = {{0, 1, 2}, {1, 2, 0}, {2, 0, 1},
                                              {0, 2, 1}, {2, 1, 0}, {1, 0, 2}};
  uint32_t p = random.Below32(6);
  float sign[3];
  for (float& s : sign) s = random.Below32(2) == 0 ? 1.0f : -1.0f;
  // The last three permutations are odd; flip one sign to keep a proper rotation.
  float parity = p < 3 ? 1.0f : -1.0f;
  if (parity * sign[0] * sign[1] * sign[2] < 0.0f) sign[2] = -sign[2];
  float rotation[3][3] = {};
  float translation[3];
  for (int r = 0; r < 3; ++r) {
    rotation[r][kPermutations[p][r]] = sign[r];
    translation[r] = static_cast<float>(static_cast<int32_t>(random.Below32(8193)) - 4096) / 64.0f;
  }
  for (int r = 0; r < 3; ++r) {
    float back = 0.0f;
    for (int c = 0; c < 3; ++c) {
      origin[static_cast<size_t>(4 * r + c)] = rotation[r][c];
      inversedOrigin[static_cast<size_t>(4 * r + c)] = rotation[c][r];
      back += rotation[c][r] * translation[c];
    }
    origin[static_cast<size_t>(4 * r + 3)] = translation[r];
    inversedOrigin[static_cast<size_t>(4 * r + 3)] = 0.0f - back;
  }
}

void LinkChildren(std::vector<SampleBone>& bones) {
  for (size_t i = 0; i < bones.size(); ++i) {
    if (bones[i].parent >= 0) {
      bones[static_cast<size_t>(bones[i].parent)].children.push_back(static_cast<uint32_t>(i));
    }
  }
}

std::vector<SampleBone> GenerateSkeleton(uint64_t seed, uint32_t count) {
  static const std::vector<NamedBone> kHumanoid = HumanoidBones();
  Random random(seed, Stream::kSkeleton);
  std::vector<SampleBone> bones(count);
  const size_t listSize = kHumanoid.size();
  for (size_t i = 0; i < count; ++i) {
    SampleBone& bone = bones[i];
    const NamedBone& model = kHumanoid[i % listSize];
    size_t copy = i / listSize;
    bone.name = model.name;
    if (copy > 0) bone.name += "_x" + std::to_string(copy + 1);
    // Later copies of the list hang their root below some earlier bone.
    if (model.parent >= 0) {
      bone.parent = static_cast<int32_t>(copy * listSize) + model.parent;
    } else if (i > 0) {
      bone.parent = static_cast<int32_t>(random.Below(i));
    }
    bone.flags = random.Below32(8) == 0 ? 1u : 0u;
    if (i == 0) {
      bone.origin = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0};
      bone.inversedOrigin = bone.origin;
    } else {
      RandomTransform(random, bone.origin, bone.inversedOrigin);
    }
  }
  LinkChildren(bones);
  return bones;
}

// like's bones in a seeded random order, parents and children pointing at the new positions.
std::vector<SampleBone> ShuffleSkeleton(uint64_t seed, const std::vector<SampleBone>& model) {
  Random random(seed, Stream::kShuffle);
  const size_t count = model.size();
  std::vector<uint32_t> order(count);  // order[newIndex] = index in model
  for (size_t i = 0; i < count; ++i) order[i] = static_cast<uint32_t>(i);
  for (size_t i = count; i > 1; --i) std::swap(order[i - 1], order[random.Below(i)]);
  std::vector<uint32_t> position(count);  // position[index in model] = newIndex
  for (size_t i = 0; i < count; ++i) position[order[i]] = static_cast<uint32_t>(i);
  auto remap = [&](uint32_t index) { return index < count ? position[index] : index; };
  std::vector<SampleBone> bones;
  bones.reserve(count);
  for (uint32_t old : order) {
    SampleBone bone = model[old];
    if (bone.parent >= 0)
      bone.parent = static_cast<int32_t>(remap(static_cast<uint32_t>(bone.parent)));
    for (uint32_t& child : bone.children) child = remap(child);
    bones.push_back(std::move(bone));
  }
  return bones;
}

// ---- Entries and frames.

Entry RandomEntry(Random& random) {
  Entry entry;
  uint64_t low = random.Next();
  uint64_t high = random.Next();
  for (size_t i = 0; i < 8; ++i) entry[i] = static_cast<uint8_t>(low >> (8 * i));
  for (size_t i = 8; i < entry.size(); ++i) entry[i] = static_cast<uint8_t>(high >> (8 * (i - 8)));
  return entry;
}

// Indices into like's entries in random order: distinct while count <= size.
std::vector<uint32_t> PickShared(Random& random, uint64_t count, uint64_t size) {
  std::vector<uint32_t> picks;
  picks.reserve(count);
  if (count <= size) {
    uint64_t needed = count;
    for (uint64_t i = 0; i < size && needed > 0; ++i) {
      if (random.Below(size - i) < needed) {
        picks.push_back(static_cast<uint32_t>(i));
        --needed;
      }
    }
    for (size_t i = picks.size(); i > 1; --i) std::swap(picks[i - 1], picks[random.Below(i)]);
  } else {
    for (uint64_t i = 0; i < count; ++i) picks.push_back(static_cast<uint32_t>(random.Below(size)));
  }
  return picks;
}

std::vector<Entry> GenerateEntries(const GenerateOptions& options, uint32_t count) {
  enum : uint8_t { kFresh, kShared };
  const std::vector<Entry>* likeEntries = options.like ? &options.like->entries : nullptr;
  const uint64_t sharedCount =
      likeEntries && !likeEntries->empty() ? ShareOf(options.sharedShare, count) : 0;

  // Shared positions first, by selection sampling: exactly sharedCount of them.
  Random sharedRandom(options.seed, Stream::kShared);
  std::vector<uint8_t> kind(count, kFresh);
  uint64_t needed = sharedCount;
  for (uint32_t i = 0; i < count && needed > 0; ++i) {
    if (sharedRandom.Below(count - i) < needed) {
      kind[i] = kShared;
      --needed;
    }
  }
  std::vector<uint32_t> picks =
      PickShared(sharedRandom, sharedCount, likeEntries ? likeEntries->size() : 0);

  // Repeats among the other positions after the first, again exactly as many as asked.
  uint64_t available = 0;
  for (uint32_t i = 1; i < count; ++i) available += kind[i] == kFresh;
  uint64_t repeatsNeeded = std::min(available, ShareOf(options.repeatShare, count));

  Random entryRandom(options.seed, Stream::kEntries);
  Random repeatRandom(options.seed, Stream::kRepeat);
  std::vector<Entry> entries(count);
  size_t nextPick = 0;
  for (uint32_t i = 0; i < count; ++i) {
    if (kind[i] == kShared) {
      entries[i] = (*likeEntries)[picks[nextPick++]];
      continue;
    }
    if (i > 0 && repeatsNeeded > 0) {
      bool repeat = repeatRandom.Below(available) < repeatsNeeded;
      --available;
      if (repeat) {
        --repeatsNeeded;
        entries[i] = entries[repeatRandom.Below(i)];
        continue;
      }
    }
    entries[i] = RandomEntry(entryRandom);
  }
  return entries;
}

// ---- Encoding helpers.

void CopyText(char* field, size_t size, const std::string& text) {
  std::memcpy(field, text.data(), std::min(size, text.size()));
}

std::string TextField(const uint8_t* field, size_t size) {
  while (size > 0 && field[size - 1] == 0) --size;
  return std::string(field, field + size);
}

uint64_t RecordSize(const SampleBone& bone) {
  return bonesplice::kSkeletonBoneFixedSize + 4 * uint64_t{bone.children.size()};
}

// True when length bytes starting at offset lie inside size bytes.
bool Fits(uint64_t offset, uint64_t length, uint64_t size) {
  return offset <= size && length <= size - offset;
}

}  // namespace

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

  for (const SampleBone& bone : file.bones) {
    uint8_t name[kNameSize] = {};
    std::memcpy(name, bone.name.data(), std::min(kNameSize, bone.name.size()));
    bytes.insert(bytes.end(), name, name + kNameSize);
    putWord(bone.flags);
    putWord(static_cast<uint32_t>(bone.parent));
    for (float value : bone.origin) putWord(FloatBits(value));
    for (float value : bone.inversedOrigin) putWord(FloatBits(value));
    putWord(static_cast<uint32_t>(
        bone.childCount.value_or(static_cast<int32_t>(bone.children.size()))));
    for (uint32_t child : bone.children) putWord(child);
  }

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
  if (size < bonesplice::kHeaderSize) return std::nullopt;
  const uint8_t* data = bytes.data();
  const uint32_t frameCount = LoadU32(data + 76);
  const uint32_t frameArrayOffset = LoadU32(data + 80);
  const uint32_t boneCount = LoadU32(data + 84);
  const uint32_t boneArrayOffset = LoadU32(data + 88);
  const uint32_t skeletonInfoOffset = LoadU32(data + 92);
  const uint32_t eofOffset = LoadU32(data + 96);

  if (!Fits(bonesplice::kHeaderSize, uint64_t{bonesplice::kBoneOffsetSize} * boneCount, size)) {
    return std::nullopt;
  }
  if (eofOffset != size || boneArrayOffset > eofOffset ||
      (eofOffset - boneArrayOffset) % bonesplice::kBoneDataEntrySize != 0) {
    return std::nullopt;
  }
  // A frame of no bones takes no bytes; the bound keeps such a count from costing memory.
  const uint64_t frameSize = uint64_t{bonesplice::kFrameFieldSize} * boneCount;
  if (frameSize == 0 ? frameCount > size
                     : !Fits(frameArrayOffset, 0, size) ||
                           frameCount > (size - frameArrayOffset) / frameSize) {
    return std::nullopt;
  }

  SampleFile file;
  file.ident = TextField(data, kIdentSize);
  std::copy(data + 4, data + 8, file.version.begin());
  file.name = TextField(data + 8, kNameSize);
  file.scale = FloatFromBits(LoadU32(data + 72));

  file.boneOffsets.resize(boneCount);
  for (uint32_t i = 0; i < boneCount; ++i) {
    file.boneOffsets[i] = LoadU32(data + bonesplice::kHeaderSize + 4 * uint64_t{i});
  }

  // Every record takes at least its fixed part; checked before the table is allocated.
  if (!Fits(skeletonInfoOffset, uint64_t{bonesplice::kSkeletonBoneFixedSize} * boneCount, size)) {
    return std::nullopt;
  }
  uint64_t position = skeletonInfoOffset;
  file.bones.resize(boneCount);
  for (SampleBone& bone : file.bones) {
    if (!Fits(position, bonesplice::kSkeletonBoneFixedSize, size)) return std::nullopt;
    const uint8_t* record = data + position;
    bone.name = TextField(record, kNameSize);
    bone.flags = LoadU32(record + 64);
    bone.parent = static_cast<int32_t>(LoadU32(record + 68));
    for (size_t i = 0; i < 12; ++i) {
      bone.origin[i] = FloatFromBits(LoadU32(record + 72 + 4 * i));
      bone.inversedOrigin[i] = FloatFromBits(LoadU32(record + 120 + 4 * i));
    }
    const int32_t childCount = static_cast<int32_t>(LoadU32(record + 168));
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

  file.frames.resize(frameCount);
  const uint8_t* field = data + frameArrayOffset;
  for (std::vector<uint32_t>& frame : file.frames) {
    frame.resize(boneCount);
    for (uint32_t& index : frame) {
      index = LoadU24(field);
      field += bonesplice::kFrameFieldSize;
    }
  }

  file.entries.resize((eofOffset - boneArrayOffset) / bonesplice::kBoneDataEntrySize);
  const uint8_t* entry = data + boneArrayOffset;
  for (Entry& out : file.entries) {
    std::copy(entry, entry + out.size(), out.begin());
    entry += out.size();
  }
  return file;
}

SampleFile GenerateSampleFile(const GenerateOptions& options) {
  SampleFile file;
  file.name = options.name;
  file.scale = options.scale;
  if (options.like == nullptr) {
    file.bones = GenerateSkeleton(options.seed, options.bones);
  } else if (options.shuffle) {
    file.bones = ShuffleSkeleton(options.seed, options.like->bones);
  } else {
    file.bones = options.like->bones;
  }
  const uint32_t boneCount = static_cast<uint32_t>(file.bones.size());
  uint32_t entryCount = options.entries;
  if (entryCount == 0 && boneCount > 0 && options.frames > 0) entryCount = 1;
  file.entries = GenerateEntries(options, entryCount);

  Random random(options.seed, Stream::kFrames);
  file.frames.resize(options.frames);
  for (std::vector<uint32_t>& frame : file.frames) {
    frame.resize(boneCount);
    for (uint32_t& index : frame) index = random.Below32(entryCount);
  }
  return file;
}

}  // namespace glagen
