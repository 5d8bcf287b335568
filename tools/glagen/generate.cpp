#include "glagen/generate.h"

#include <algorithm>
#include <utility>

#include "glagen/random.h"
#include "merge/entry_hash.h"

namespace glagen {
namespace {

// One independent stream per purpose, so that changing one count (say the frames) leaves the
// bones and entries of the same seed unchanged.
enum class Stream : uint64_t {
  kSkeleton = 1,
  kShuffle,
  kEntries,
  kShared,
  kRepeat,
  kFrames,
  kColliding
};

Random StreamOf(uint64_t seed, Stream stream) {
  return Random(seed, static_cast<uint64_t>(stream));
}

// The inverse of an odd number modulo 2^64, by Newton's iteration (each step doubles the bits
// that are right; an odd a is its own inverse modulo 8).
constexpr uint64_t InverseOf(uint64_t a) {
  uint64_t x = a;
  for (int i = 0; i < 5; ++i) x *= 2 - a * x;
  return x;
}

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
  Random random = StreamOf(seed, Stream::kSkeleton);
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
  Random random = StreamOf(seed, Stream::kShuffle);
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

// Entries whose hash under the entries' public hash function is one value: with HashKey{} the
// hash is Fold(low * kMultiplierLow ^ (high + kAddend) * kMultiplierHigh) for low = bytes 0 to 7
// and high = bytes 8 to 13, so for any high the one low that gives a chosen pre-fold value T is
// (T ^ (high + kAddend) * kMultiplierHigh) times the inverse of kMultiplierLow.
class CollidingMaker {
 public:
  explicit CollidingMaker(uint64_t seed) {
    Random random = StreamOf(seed, Stream::kColliding);
    target_ = random.Next();
    nextHigh_ = random.Next();
  }

  // The next entry; distinct from the earlier ones for the first 2^48 calls.
  Entry Next() {
    using bonesplice::EntryHash;
    const uint64_t high = nextHigh_ & kHighMask;
    nextHigh_ += kHighStep;
    const uint64_t low = (target_ ^ ((high + EntryHash::kAddend) * EntryHash::kMultiplierHigh)) *
                         kInverseMultiplierLow;
    Entry entry;
    for (size_t i = 0; i < 8; ++i) entry[i] = static_cast<uint8_t>(low >> (8 * i));
    for (size_t i = 8; i < entry.size(); ++i)
      entry[i] = static_cast<uint8_t>(high >> (8 * (i - 8)));
    return entry;
  }

 private:
  static constexpr uint64_t kHighMask = (uint64_t{1} << 48) - 1;
  // Odd, so that successive highs run through all 2^48 values before one comes back.
  static constexpr uint64_t kHighStep = 0x9E3779B97F4Bull;
  static constexpr uint64_t kInverseMultiplierLow =
      InverseOf(bonesplice::EntryHash::kMultiplierLow);
  static_assert(kInverseMultiplierLow * bonesplice::EntryHash::kMultiplierLow == 1);

  uint64_t target_;
  uint64_t nextHigh_;
};

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
  Random sharedRandom = StreamOf(options.seed, Stream::kShared);
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

  Random entryRandom = StreamOf(options.seed, Stream::kEntries);
  Random repeatRandom = StreamOf(options.seed, Stream::kRepeat);
  CollidingMaker colliding(options.seed);
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
    entries[i] = options.colliding ? colliding.Next() : RandomEntry(entryRandom);
  }
  return entries;
}

// Frame indices in first-use order: of the fields still to fill, exactly as many as there are
// entries not named yet introduce one (selection sampling); the others repeat a named entry.
void FirstUseIndices(Random& random, uint32_t entryCount,
                     std::vector<std::vector<uint32_t>>& frames) {
  uint64_t fieldsLeft = 0;
  for (const std::vector<uint32_t>& frame : frames) fieldsLeft += frame.size();
  uint32_t named = 0;
  for (std::vector<uint32_t>& frame : frames) {
    for (uint32_t& index : frame) {
      bool introduce =
          named == 0 || (named < entryCount && random.Below(fieldsLeft) < entryCount - named);
      index = introduce ? named++ : random.Below32(named);
      --fieldsLeft;
    }
  }
}

}  // namespace

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

  Random random = StreamOf(options.seed, Stream::kFrames);
  file.frames.assign(options.frames, std::vector<uint32_t>(boneCount));
  if (options.firstUseOrder) {
    FirstUseIndices(random, entryCount, file.frames);
    return file;
  }
  for (std::vector<uint32_t>& frame : file.frames) {
    for (uint32_t& index : frame) index = random.Below32(entryCount);
  }
  return file;
}

std::vector<Entry> CollidingEntries(uint64_t seed, uint32_t count) {
  CollidingMaker maker(seed);
  std::vector<Entry> entries(count);
  for (Entry& entry : entries) entry = maker.Next();
  return entries;
}

}  // namespace glagen
