// Damaged inputs through the merge in this process: a small base and a small donor cut at every
// length, and each 32-bit header field of either set to awkward values. Every merge, in every
// mode, must end in a refusal with nothing written, or in the reference's output; the bone report
// of every damaged file stays within a bound of its size. Each file is held in memory of exactly
// its size, so that the sanitizer build catches any read past its end.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "format/bytes.h"
#include "merge_in_memory.h"
#include "reference_merge.h"
#include "samples.h"

namespace {

using namespace testing_support;
using bonesplice::FileRole;
using Bytes = std::vector<uint8_t>;

// A report of a damaged file of under a kilobyte takes at most this many bytes per input byte,
// plus a fixed part for the header block and the bone the file ends in.
constexpr size_t kReportBytesPerInputByte = 32;
constexpr size_t kReportFixedBytes = 8192;

// Two sound files of a few hundred bytes: the same two bones in other orders, entries shared.
struct SamplePair {
  Bytes base;
  Bytes donor;
};

SamplePair MakePair() {
  glagen::SampleFile base = Generate(41, 2, 3, 5, "base", nullptr, 0, false, 0.2);
  glagen::SampleFile donor = Generate(42, 2, 4, 5, "donor", &base, 0.4, true);
  return {glagen::EncodeSampleFile(base), glagen::EncodeSampleFile(donor)};
}

// What is wrong with the merges of base and donor, if anything. With cut set, the merge must be
// refused for that file: by the header check or as damage to it.
std::optional<std::string> ProblemOf(const Bytes& base, const Bytes& donor,
                                     std::optional<FileRole> cut = std::nullopt) {
  for (const MergeMode& mode : MergeModes()) {
    std::string in = NameOf(mode) + ": ";
    MemoryMerge merge = MergeInMemory(ViewOf(base), ViewOf(donor), mode);
    if (!merge.failure) {
      if (cut) return in + "a cut file merged";
      if (auto why = reference::WhyUnsoundOutput(merge.bytes)) return in + *why;
      if (merge.bytes != reference::ReferenceMerge(base, donor, mode.optimize)) {
        return in + "the output is not the reference's";
      }
      continue;
    }
    const bonesplice::Failure& failure = *merge.failure;
    std::string message = Outcome(failure);
    if (merge.begun != 0 || !merge.bytes.empty()) return in + "wrote before " + message;
    if (std::holds_alternative<bonesplice::InputUnreadable>(failure) ||
        std::holds_alternative<bonesplice::OutputUnwritable>(failure)) {
      return in + "a file in memory refused as " + message;
    }
    if (auto* bad = std::get_if<bonesplice::BadFrameIndex>(&failure)) {
      if (bad->index < bad->entryCount || bad->frame == 0) return in + message;
    }
    auto* damage = std::get_if<bonesplice::FileDamaged>(&failure);
    if (cut && !std::holds_alternative<bonesplice::HeadersRefused>(failure) &&
        !(damage && damage->file == *cut)) {
      return in + "the cut file is not the one refused: " + message;
    }
  }
  for (const Bytes* file : {&base, &donor}) {
    if (BoneReportOf(*file).size() > kReportBytesPerInputByte * file->size() + kReportFixedBytes) {
      return std::string("a report of ") + std::to_string(BoneReportOf(*file).size()) + " bytes";
    }
  }
  return std::nullopt;
}

// Runs check on each damaged pair; reports the first few problems.
class Sweep {
 public:
  void Check(const std::string& what, const std::optional<std::string>& problem) {
    if (problem && ++failures_ <= 20) ADD_FAILURE() << what << ": " << *problem;
  }
  ~Sweep() { EXPECT_EQ(failures_, 0); }

 private:
  int failures_ = 0;
};

TEST(DamagedFiles, TheSoundPairMerges) {
  SamplePair pair = MakePair();
  EXPECT_EQ(ProblemOf(pair.base, pair.donor), std::nullopt);
}

TEST(DamagedFiles, EveryCutOfEitherFileIsRefusedForThatFile) {
  SamplePair pair = MakePair();
  Sweep sweep;
  for (FileRole role : {FileRole::kBase, FileRole::kDonor}) {
    const Bytes& whole = role == FileRole::kDonor ? pair.donor : pair.base;
    for (size_t length = 0; length < whole.size(); ++length) {
      Bytes cut(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(length));
      bool donor = role == FileRole::kDonor;
      sweep.Check((donor ? "donor cut to " : "base cut to ") + std::to_string(length),
                  ProblemOf(donor ? pair.base : cut, donor ? cut : pair.donor, role));
    }
  }
}

// Each 32-bit field of the header (ident, version, scale and the six counts and offsets) of each
// file set to 0, 1, 0x7FFFFFFF, 0xFFFFFFFF and one past the file's end.
TEST(DamagedFiles, EveryHeaderFieldValueEndsInARefusalOrTheReferenceOutput) {
  SamplePair pair = MakePair();
  Sweep sweep;
  for (bool inDonor : {false, true}) {
    const Bytes& file = inDonor ? pair.donor : pair.base;
    for (size_t offset : {0u, 4u, 72u, 76u, 80u, 84u, 88u, 92u, 96u}) {
      for (uint32_t value :
           {0u, 1u, 0x7FFFFFFFu, 0xFFFFFFFFu, static_cast<uint32_t>(file.size() + 1)}) {
        Bytes changed = file;
        bonesplice::StoreU32(&changed[offset], value);
        sweep.Check(std::string(inDonor ? "donor" : "base") + " field at " +
                        std::to_string(offset) + " = " + std::to_string(value),
                    ProblemOf(inDonor ? pair.base : changed, inDonor ? changed : pair.donor));
      }
    }
  }
}

}  // namespace
