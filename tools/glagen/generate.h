// The seeded generator of valid sample files, and of entries crafted to collide in the entry
// index's public hash.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "glagen/encode.h"

namespace glagen {

struct GenerateOptions {
  uint64_t seed = 1;
  uint32_t bones = 70;
  uint32_t frames = 100;
  uint32_t entries = 1000;
  std::string name = "sample";
  float scale = 1.0f;
  double repeatShare = 0.0;          // share of entries that copy an earlier entry of this file
  const SampleFile* like = nullptr;  // another file: take its bone names and hierarchy
  double sharedShare = 0.0;          // with like: share of entries copied from like's entries
  bool shuffle = false;  // with like: store the bones in a seeded random order against like's
  // The entries that are neither shared nor repeats are CollidingEntries of the seed instead of
  // random ones.
  bool colliding = false;
  // The frames name the entries in first-use order, as exporters write files: walking the
  // fields of the frames in stored order (frame by frame, each frame's fields as stored), each
  // field either names the next entry not named yet or repeats an entry named earlier, so that
  // entry k is first named after entries 0 .. k-1. Every entry is named by the end when the
  // frames hold at least as many fields as there are entries. Without it every index is
  // uniform over the entries.
  bool firstUseOrder = false;
};

// A valid file, deterministic from the options (same options => same bytes, on any host).
// Exactly round(sharedShare * entries) entries are copied from like's entries, distinct picks
// while like has enough of them; exactly round(repeatShare * entries) further entries (at most
// all other entries but the first) copy an earlier entry of this file, which may itself be one
// of the copies from like. The rest are random, or crafted with colliding. Shares are clamped
// to 0..1, and entries is raised to 1 when the file has frames and bones.
SampleFile GenerateSampleFile(const GenerateOptions& options);

// count distinct entries, deterministic from seed, that all have the same hash under the entry
// index's public function (bonesplice::EntryHash with HashKey{}): a flood of collisions for
// an index that used it unkeyed.
std::vector<Entry> CollidingEntries(uint64_t seed, uint32_t count);

}  // namespace glagen
