// makegla: writes a generated sample animation file. Quiet on success, so scripts can use it.
// Exit status: 0 written, 1 the output could not be written, 2 bad options or --like file.

#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "format/header.h"
#include "format/skeleton.h"
#include "glagen/sample.h"
#include "glagen/whole_file.h"

namespace {

constexpr int kWriteFailed = 1;
constexpr int kBadUsage = 2;

constexpr char kUsage[] =
    "Usage: makegla [options] OUTPUT\n"
    "Writes a generated animation file to OUTPUT; prints nothing on success.\n"
    "\n"
    "  --seed N        seed of the generator (default 1)\n"
    "  --bones N       number of skeleton bones (default 70; ignored with --like)\n"
    "  --frames N      number of frames (default 100)\n"
    "  --entries N     number of bone data entries, at most 16777216 (default 1000)\n"
    "  --name TEXT     header name, at most 64 bytes (default sample)\n"
    "  --scale X       header scale (default 1)\n"
    "  --repeat SHARE  share 0..1 of entries that copy an earlier entry of the file\n"
    "  --like FILE     take bone names and hierarchy from FILE\n"
    "  --shared SHARE  with --like: share 0..1 of entries copied from FILE's entries\n"
    "  --shuffle       with --like: store the bones in a random order\n"
    "  --colliding     craft the entries that are neither shared nor repeats so that they all\n"
    "                  have one hash under the unkeyed entry hash (HashKey{})\n"
    "  --first-use     frames name entries in first-use order, as exporters write them: read\n"
    "                  in stored order, each frame field names the next entry not named yet\n"
    "                  or repeats an earlier one, so entry k is first named after entries\n"
    "                  0..k-1; all entries are named when frames x bones >= entries\n"
    "                  (default: each index uniformly random)\n"
    "  --help          show this text\n"
    "\n"
    "Exit status: 0 written, 1 OUTPUT could not be written, 2 bad options or --like file.\n";

struct Options {
  glagen::GenerateOptions generate;
  std::string likePath;
  std::string output;
  bool sharedGiven = false;
  bool help = false;
};

int Fail(const std::string& message) {
  std::fprintf(stderr, "makegla: %s\n", message.c_str());
  return kBadUsage;
}

std::optional<uint64_t> ParseUnsigned(const std::string& text, uint64_t max) {
  if (text.empty() || text[0] < '0' || text[0] > '9') return std::nullopt;
  errno = 0;
  char* end = nullptr;
  unsigned long long value = std::strtoull(text.c_str(), &end, 10);
  if (errno != 0 || *end != '\0' || value > max) return std::nullopt;
  return static_cast<uint64_t>(value);
}

std::optional<double> ParseNumber(const std::string& text) {
  if (text.empty()) return std::nullopt;
  errno = 0;
  char* end = nullptr;
  double value = std::strtod(text.c_str(), &end);
  if (errno != 0 || *end != '\0' || !std::isfinite(value)) return std::nullopt;
  return value;
}

// Parses argv into options; an error message when they are not usable.
std::optional<std::string> ParseOptions(int argc, char** argv, Options& options) {
  std::vector<std::string> outputs;
  for (int i = 1; i < argc; ++i) {
    std::string word = argv[i];
    if (word == "--help") {
      options.help = true;
      return std::nullopt;
    }
    if (word == "--shuffle" || word == "--colliding" || word == "--first-use") {
      glagen::GenerateOptions& g = options.generate;
      (word == "--shuffle"     ? g.shuffle
       : word == "--colliding" ? g.colliding
                               : g.firstUseOrder) = true;
      continue;
    }
    if (word.size() < 2 || word.compare(0, 2, "--") != 0) {
      outputs.push_back(word);
      continue;
    }
    std::string value;
    size_t equals = word.find('=');
    if (equals != std::string::npos) {
      value = word.substr(equals + 1);
      word.resize(equals);
    } else if (i + 1 < argc) {
      value = argv[++i];
    } else {
      return "option " + word + " needs a value";
    }

    glagen::GenerateOptions& g = options.generate;
    auto count = [&](uint64_t max) -> std::optional<uint64_t> { return ParseUnsigned(value, max); };
    if (word == "--seed") {
      std::optional<uint64_t> n = count(UINT64_MAX);
      if (!n) return "--seed needs a whole number, not '" + value + "'";
      g.seed = *n;
    } else if (word == "--bones" || word == "--frames") {
      std::optional<uint64_t> n = count(UINT32_MAX);
      if (!n) return word + " needs a whole number below 2^32, not '" + value + "'";
      (word == "--bones" ? g.bones : g.frames) = static_cast<uint32_t>(*n);
    } else if (word == "--entries") {
      std::optional<uint64_t> n = count(bonesplice::kMaxBoneDataEntries);
      if (!n) return "--entries needs a whole number from 0 to 16777216, not '" + value + "'";
      g.entries = static_cast<uint32_t>(*n);
    } else if (word == "--name") {
      if (value.size() > 64) return "--name is longer than 64 bytes";
      g.name = value;
    } else if (word == "--scale") {
      std::optional<double> x = ParseNumber(value);
      if (!x || std::fabs(*x) > 3.4e38) return "--scale needs a finite number, not '" + value + "'";
      g.scale = static_cast<float>(*x);
    } else if (word == "--repeat" || word == "--shared") {
      std::optional<double> x = ParseNumber(value);
      if (!x || *x < 0.0 || *x > 1.0)
        return word + " needs a share from 0 to 1, not '" + value + "'";
      (word == "--repeat" ? g.repeatShare : g.sharedShare) = *x;
      if (word == "--shared") options.sharedGiven = true;
    } else if (word == "--like") {
      options.likePath = value;
    } else {
      return "unknown option " + word + " (see makegla --help)";
    }
  }
  if (outputs.size() != 1) return "expected one OUTPUT file name (see makegla --help)";
  options.output = outputs[0];
  const glagen::GenerateOptions& g = options.generate;
  if (options.likePath.empty() && options.sharedGiven) return "--shared needs --like";
  if (options.likePath.empty() && g.shuffle) return "--shuffle needs --like";
  if (g.repeatShare + g.sharedShare > 1.0) return "--repeat and --shared add up to more than 1";
  return std::nullopt;
}

// Whether the file the options ask for stays below 4 GiB, checked before it is built.
bool FitsFormat(const glagen::GenerateOptions& g, uint64_t bones, uint64_t skeletonBytes) {
  if (g.frames > 0 && bones > UINT32_MAX / g.frames) return false;
  uint64_t size = bonesplice::kHeaderSize + bonesplice::kBoneOffsetSize * bones + skeletonBytes +
                  bonesplice::kFrameFieldSize * bones * g.frames +
                  uint64_t{bonesplice::kBoneDataEntrySize} * g.entries;
  return size <= UINT32_MAX;
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  if (std::optional<std::string> error = ParseOptions(argc, argv, options)) return Fail(*error);
  if (options.help) {
    std::fputs(kUsage, stdout);
    return 0;
  }
  glagen::GenerateOptions& g = options.generate;

  std::optional<glagen::SampleFile> like;
  uint64_t bones = g.bones;
  uint64_t skeletonBytes = bonesplice::kSkeletonBoneFixedSize * bones;
  if (!options.likePath.empty()) {
    std::optional<std::vector<uint8_t>> bytes = glagen::ReadWholeFile(options.likePath);
    if (!bytes)
      return Fail("cannot read --like file " + options.likePath + ": " + std::strerror(errno));
    like = glagen::DecodeSampleFile(*bytes);
    if (!like) return Fail("--like file " + options.likePath + " is not a readable animation file");
    g.like = &*like;
    bones = like->bones.size();
    skeletonBytes = 0;
    for (const glagen::SampleBone& bone : like->bones) skeletonBytes += glagen::RecordSize(bone);
  } else {
    // A generated skeleton is a tree: one child word per bone but the root.
    skeletonBytes += bones > 0 ? 4 * (bones - 1) : 0;
  }
  if (g.entries == 0 && bones > 0 && g.frames > 0) {
    return Fail("--entries must be at least 1 when the file has frames and bones");
  }
  if (!FitsFormat(g, bones, skeletonBytes)) {
    return Fail("the file would be 4 GiB or larger; use fewer bones, frames or entries");
  }

  std::vector<uint8_t> bytes = glagen::EncodeSampleFile(glagen::GenerateSampleFile(g));
  if (!glagen::WriteWholeFile(options.output, bytes)) {
    std::fprintf(stderr, "makegla: cannot write %s: %s\n", options.output.c_str(),
                 std::strerror(errno));
    return kWriteFailed;
  }
  return 0;
}
