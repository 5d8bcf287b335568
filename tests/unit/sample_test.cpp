// The sample-file generator: determinism, round trip, shuffling, shared entries and entries
// crafted to collide. The layout it writes is pinned by the worked example of merge_test.

#include "glagen/sample.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <set>
#include <string>

#include "format/bytes.h"
#include "merge/entry_hash.h"

namespace {

using glagen::DecodeSampleFile;
using glagen::EncodeSampleFile;
using glagen::GenerateOptions;
using glagen::GenerateSampleFile;
using glagen::SampleFile;

GenerateOptions Small(uint64_t seed) {
  GenerateOptions options;
  options.seed = seed;
  options.bones = 20;
  options.frames = 12;
  options.entries = 300;
  return options;
}

TEST(SampleFile, SameSeedSameBytesOtherSeedOtherBytes) {
  std::vector<uint8_t> first = EncodeSampleFile(GenerateSampleFile(Small(7)));
  EXPECT_EQ(first, EncodeSampleFile(GenerateSampleFile(Small(7))));
  EXPECT_NE(first, EncodeSampleFile(GenerateSampleFile(Small(8))));
}

TEST(SampleFile, DecodeThenEncodeGivesTheSameBytes) {
  GenerateOptions options = Small(3);
  options.name = std::string(64, 'n');  // a name that fills its field
  options.scale = 2.5f;
  SampleFile file = GenerateSampleFile(options);
  file.bones[1].name = std::string(64, 'b');
  std::vector<uint8_t> bytes = EncodeSampleFile(file);
  std::optional<SampleFile> decoded = DecodeSampleFile(bytes);
  ASSERT_TRUE(decoded);
  EXPECT_EQ(decoded->name, options.name);
  EXPECT_EQ(decoded->bones[1].name, file.bones[1].name);
  EXPECT_EQ(decoded->bones[3].origin, file.bones[3].origin);  // as stored, not divided by scale
  EXPECT_EQ(decoded->frames, file.frames);
  EXPECT_EQ(decoded->entries, file.entries);
  EXPECT_EQ(EncodeSampleFile(*decoded), bytes);
}

TEST(SampleFile, DecodeRefusesCutAndDamagedFiles) {
  std::vector<uint8_t> bytes = EncodeSampleFile(GenerateSampleFile(Small(4)));
  for (size_t length :
       {size_t{0}, size_t{99}, size_t{100}, size_t{400}, bytes.size() - 14, bytes.size() - 1}) {
    EXPECT_FALSE(DecodeSampleFile(std::vector<uint8_t>(bytes.data(), bytes.data() + length)))
        << length;
  }
  std::vector<uint8_t> longer = bytes;
  longer.push_back(0);
  EXPECT_FALSE(DecodeSampleFile(longer));
  std::vector<uint8_t> manyChildren = bytes;
  bonesplice::StoreU32(&manyChildren[100 + 4 * 20 + 168], 0x7FFFFFFF);
  EXPECT_FALSE(DecodeSampleFile(manyChildren));
}

TEST(SampleFile, ShuffleKeepsNamesAndHierarchy) {
  SampleFile like = GenerateSampleFile(Small(1));
  GenerateOptions options = Small(2);
  options.like = &like;
  options.shuffle = true;
  SampleFile file = GenerateSampleFile(options);
  std::map<std::string, const glagen::SampleBone*> model;
  for (const glagen::SampleBone& bone : like.bones) model[bone.name] = &bone;
  auto nameOf = [](const SampleFile& in, int64_t index) {
    return index < 0 ? std::string() : in.bones[static_cast<size_t>(index)].name;
  };
  ASSERT_EQ(file.bones.size(), like.bones.size());
  size_t moved = 0;
  for (size_t i = 0; i < file.bones.size(); ++i) {
    const glagen::SampleBone& bone = file.bones[i];
    ASSERT_EQ(model.count(bone.name), 1u);
    const glagen::SampleBone& old = *model[bone.name];
    moved += &old != &like.bones[i];
    EXPECT_EQ(bone.origin, old.origin);
    EXPECT_EQ(nameOf(file, bone.parent), nameOf(like, old.parent));
    ASSERT_EQ(bone.children.size(), old.children.size());
    for (size_t c = 0; c < bone.children.size(); ++c) {
      EXPECT_EQ(nameOf(file, bone.children[c]), nameOf(like, old.children[c]));
    }
  }
  EXPECT_GT(moved, 0u);
}

TEST(SampleFile, SharesGiveExactCounts) {
  SampleFile like = GenerateSampleFile(Small(1));
  const std::set<glagen::Entry> likeEntries(like.entries.begin(), like.entries.end());
  struct Case {
    double shared;
    double repeat;
    size_t fromLike;
    size_t distinct;
  };
  for (const Case& c : {Case{0.25, 0.0, 75, 300}, Case{0.0, 0.1, 0, 270}, Case{1.0, 0.0, 300, 300},
                        Case{0.5, 0.25, 150, 225}}) {
    GenerateOptions options = Small(9);
    options.like = &like;
    options.sharedShare = c.shared;
    options.repeatShare = c.repeat;
    SampleFile file = GenerateSampleFile(options);
    size_t fromLike = static_cast<size_t>(
        std::count_if(file.entries.begin(), file.entries.end(),
                      [&](const glagen::Entry& e) { return likeEntries.count(e) > 0; }));
    const std::set<glagen::Entry> distinct(file.entries.begin(), file.entries.end());
    if (c.repeat == 0.0) {
      EXPECT_EQ(fromLike, c.fromLike) << c.shared;
    }
    EXPECT_EQ(distinct.size(), c.distinct) << c.shared << " " << c.repeat;
    for (const std::vector<uint32_t>& frame : file.frames) {
      for (uint32_t index : frame) EXPECT_LT(index, file.entries.size());
    }
  }
}

// The crafted entries are distinct and share one hash under the unkeyed function, which the
// index's own hash computes; under another key they spread out. A colliding file crafts its
// fresh entries the same way and keeps its repeats.
TEST(SampleFile, CollidingEntriesShareTheUnkeyedHashOnly) {
  const std::vector<glagen::Entry> entries = glagen::CollidingEntries(5, 2000);
  EXPECT_EQ(std::set<glagen::Entry>(entries.begin(), entries.end()).size(), entries.size());
  bonesplice::EntryHash unkeyed(bonesplice::HashKey{});
  bonesplice::EntryHash keyed({0x0123456789ABCDEFull, 0x5A5A5A5A5A5Aull});
  std::set<uint64_t> unkeyedHashes;
  std::set<uint64_t> keyedHashes;
  for (const glagen::Entry& entry : entries) {
    unkeyedHashes.insert(unkeyed(entry.data()));
    keyedHashes.insert(keyed(entry.data()));
  }
  EXPECT_EQ(unkeyedHashes.size(), 1u);
  EXPECT_GT(keyedHashes.size(), entries.size() / 2);
  EXPECT_NE(glagen::CollidingEntries(6, 1),
            std::vector<glagen::Entry>(entries.begin(), entries.begin() + 1));

  GenerateOptions options = Small(5);
  options.colliding = true;
  options.repeatShare = 0.25;
  SampleFile file = GenerateSampleFile(options);
  std::set<uint64_t> fileHashes;
  for (const glagen::Entry& entry : file.entries) fileHashes.insert(unkeyed(entry.data()));
  EXPECT_EQ(fileHashes, unkeyedHashes);
  EXPECT_EQ(std::set<glagen::Entry>(file.entries.begin(), file.entries.end()).size(), 225u);
}

// In first-use order each field names either the next entry not named yet or an earlier one,
// every entry is named when there are enough fields, and only the frames differ.
TEST(SampleFile, FirstUseOrderNamesEachEntryAfterTheOnesBefore) {
  for (uint32_t frames : {12u, 30u}) {  // 240 fields for 300 entries, then 600
    GenerateOptions options = Small(6);
    options.frames = frames;
    options.firstUseOrder = true;
    SampleFile file = GenerateSampleFile(options);
    uint32_t named = 0;
    size_t repeats = 0;
    for (const std::vector<uint32_t>& frame : file.frames) {
      for (uint32_t index : frame) {
        ASSERT_LE(index, named);
        if (index == named) {
          ++named;
        } else {
          ++repeats;
        }
      }
    }
    EXPECT_EQ(named, std::min(frames * options.bones, options.entries)) << frames;
    EXPECT_EQ(repeats, frames * options.bones - named) << frames;
    EXPECT_EQ(EncodeSampleFile(file), EncodeSampleFile(GenerateSampleFile(options)));
    options.firstUseOrder = false;
    EXPECT_EQ(GenerateSampleFile(options).entries, file.entries);
  }
}

}  // namespace
