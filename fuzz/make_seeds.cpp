// Writes the seed inputs of the fuzz targets: small sound files from the sample generator, a
// few with odd skeletons, and base/donor pairs for the merge target.
// Usage: make_seeds FOLDER   (writes FOLDER/skeleton, FOLDER/merge and FOLDER/dump)
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "format/bytes.h"
#include "glagen/sample.h"

namespace {

namespace fs = std::filesystem;

glagen::GenerateOptions Small(uint64_t seed, uint32_t bones, uint32_t frames, uint32_t entries) {
  glagen::GenerateOptions options;
  options.seed = seed;
  options.bones = bones;
  options.frames = frames;
  options.entries = entries;
  return options;
}

// Single files for the reader and dump targets.
std::vector<glagen::SampleFile> SingleFiles() {
  std::vector<glagen::SampleFile> files;
  files.push_back(glagen::GenerateSampleFile(Small(1, 1, 1, 1)));
  files.push_back(glagen::GenerateSampleFile(Small(2, 3, 2, 4)));
  files.push_back(glagen::GenerateSampleFile(Small(3, 0, 2, 0)));

  glagen::GenerateOptions scaled = Small(4, 4, 3, 6);
  scaled.scale = 2.5f;
  scaled.name = std::string(64, 'n');  // a name without a NUL in its field
  files.push_back(glagen::GenerateSampleFile(scaled));

  // Skeleton values the format does not bound: a negative child count, indices naming no bone.
  glagen::SampleFile odd = glagen::GenerateSampleFile(Small(5, 3, 2, 3));
  odd.bones[0].childCount = -2;
  odd.bones[1].parent = 7;
  odd.bones[2].children = {0, 9, 0x7FFFFFFFu};
  odd.bones[2].name = std::string(64, 'b');
  files.push_back(odd);
  return files;
}

struct Pair {
  glagen::SampleFile base;
  glagen::SampleFile donor;
};

std::vector<Pair> Pairs() {
  std::vector<Pair> pairs;
  struct Shape {
    uint64_t seed;
    uint32_t bones, baseFrames, donorFrames, entries;
    double shared;
    bool shuffle;
  };
  const Shape shapes[] = {
      {11, 2, 3, 3, 4, 0.5, true},
      {12, 3, 1, 4, 6, 0.0, false},
      {13, 4, 2, 2, 5, 1.0, true},
      {14, 1, 2, 1, 2, 0.5, false},
  };
  for (const Shape& shape : shapes) {
    glagen::GenerateOptions baseOptions =
        Small(shape.seed, shape.bones, shape.baseFrames, shape.entries);
    baseOptions.repeatShare = 0.25;
    Pair pair;
    pair.base = glagen::GenerateSampleFile(baseOptions);
    glagen::GenerateOptions donorOptions =
        Small(shape.seed + 100, shape.bones, shape.donorFrames, shape.entries);
    donorOptions.like = &pair.base;
    donorOptions.sharedShare = shape.shared;
    donorOptions.shuffle = shape.shuffle;
    pair.donor = glagen::GenerateSampleFile(donorOptions);
    pairs.push_back(std::move(pair));
  }
  return pairs;
}

bool Write(const fs::path& path, const std::vector<uint8_t>& bytes) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) return false;
  bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
  return std::fclose(file) == 0 && written;
}

// The merge target's input: the base's length, the base, then the donor.
std::vector<uint8_t> MergeInput(const std::vector<uint8_t>& base,
                                const std::vector<uint8_t>& donor) {
  std::vector<uint8_t> input(4);
  bonesplice::StoreU32(input.data(), static_cast<uint32_t>(base.size()));
  input.insert(input.end(), base.begin(), base.end());
  input.insert(input.end(), donor.begin(), donor.end());
  return input;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_seeds FOLDER\n");
    return 2;
  }
  fs::path root = argv[1];
  std::error_code error;
  for (const char* target : {"skeleton", "merge", "dump"}) {
    fs::remove_all(root / target, error);
    fs::create_directories(root / target, error);
  }
  bool written = true;
  int n = 0;
  for (const glagen::SampleFile& file : SingleFiles()) {
    std::vector<uint8_t> bytes = glagen::EncodeSampleFile(file);
    std::string name = "file-" + std::to_string(n++);
    written =
        written && Write(root / "skeleton" / name, bytes) && Write(root / "dump" / name, bytes);
  }
  n = 0;
  for (const Pair& pair : Pairs()) {
    std::vector<uint8_t> base = glagen::EncodeSampleFile(pair.base);
    std::vector<uint8_t> donor = glagen::EncodeSampleFile(pair.donor);
    std::string name = "pair-" + std::to_string(n++);
    written = written && Write(root / "merge" / name, MergeInput(base, donor));
    // The base merged with itself: every donor entry is found in the base in optimize mode.
    written = written && Write(root / "merge" / (name + "-self"), MergeInput(base, base));
  }
  if (!written) {
    std::fprintf(stderr, "make_seeds: cannot write the seeds under %s\n", root.c_str());
    return 1;
  }
  return 0;
}
