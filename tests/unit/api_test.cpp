// The C API of include/bonesplice.h in this process: its merge against the reference merge in
// both modes with its summary, its refusals with their codes and messages, the header check and
// the bone dump as bone.log gets it.
#include <bonesplice.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <mutex>
#include <string>
#include <vector>

#include "reference_merge.h"
#include "samples.h"

namespace {

using namespace testing_support;
using Bytes = std::vector<uint8_t>;

// What the callbacks of a call received.
struct Received {
  Bytes bytes;
  bool frontToBack = true;  // every piece began where the one before ended
  uint64_t begunWith = 0;   // the size begin announced
  std::vector<uint32_t> progress;
  std::mutex mutex;
};

int Take(void* context, uint64_t offset, const uint8_t* data, size_t size) {
  Received& received = *static_cast<Received*>(context);
  std::lock_guard<std::mutex> lock(received.mutex);
  if (offset != received.bytes.size()) received.frontToBack = false;
  received.bytes.resize(std::max<size_t>(received.bytes.size(), offset + size));
  std::copy(data, data + size, received.bytes.begin() + static_cast<std::ptrdiff_t>(offset));
  return 1;
}

int Begin(void* context, uint64_t size) {
  static_cast<Received*>(context)->begunWith = size;
  return 1;
}

int Refuse(void*, uint64_t, const uint8_t*, size_t) {
  return 0;
}

void Progress(void* context, uint32_t done, uint32_t toDo) {
  static_cast<Received*>(context)->progress.push_back(toDo - done);
}

bonesplice_code Merge(const Bytes& base, const Bytes& donor, bool optimize, unsigned threads,
                      bool atOffsets, Received& received, bonesplice_result& result) {
  bonesplice_merge_options options{};
  options.optimize = optimize;
  options.threads = threads;
  options.output_name = "out\tput.gla";
  options.progress = Progress;
  options.progress_context = &received;
  bonesplice_output output{&received, Take, Begin, nullptr, atOffsets};
  return bonesplice_merge(base.data(), base.size(), donor.data(), donor.size(), &options,
                          &output, &result);
}

glagen::SampleFile Base() {
  return Generate(1, 12, 40, 3000, "base");
}

TEST(Api, MergesAsTheReferenceDoesAndSaysWhatItMade) {
  glagen::SampleFile base = Base();
  Bytes baseBytes = glagen::EncodeSampleFile(base);
  Bytes donorBytes = glagen::EncodeSampleFile(Generate(2, 12, 300, 2000, "donor", &base, 0.3,
                                                       true, 0.25));
  uint32_t appendedPlain = 0;
  for (bool optimize : {false, true}) {
    Bytes expected = reference::ReferenceMerge(baseBytes, donorBytes, optimize);
    for (bool atOffsets : {false, true}) {
      SCOPED_TRACE(std::string(optimize ? "-o" : "plain") + (atOffsets ? ", at offsets" : ""));
      Received received;
      bonesplice_result result;
      ASSERT_EQ(Merge(baseBytes, donorBytes, optimize, atOffsets ? 7 : 1, atOffsets, received,
                      result),
                BONESPLICE_OK);
      EXPECT_STREQ(result.message, "");
      EXPECT_TRUE(received.bytes == expected);
      EXPECT_TRUE(received.frontToBack || atOffsets);
      EXPECT_EQ(received.begunWith, expected.size());
      ASSERT_FALSE(received.progress.empty());
      EXPECT_EQ(received.progress.back(), 0u);  // the last call: every frame done
      const bonesplice_summary& summary = result.summary;
      EXPECT_EQ(summary.output_size, expected.size());
      EXPECT_EQ(summary.base_frames, 40u);
      EXPECT_EQ(summary.appended_frames, 299u);
      EXPECT_EQ(summary.output_size - baseBytes.size(),
                299u * 12 * 3 + uint64_t{summary.appended_entries} * 14);
      if (!optimize) {
        EXPECT_EQ(summary.shared_entries, 0u);
        appendedPlain = summary.appended_entries;
      } else {
        // Every donor entry the frames use is either added or shared.
        EXPECT_GT(summary.shared_entries, 0u);
        EXPECT_EQ(summary.appended_entries + summary.shared_entries, appendedPlain);
      }
    }
  }
}

TEST(Api, RefusesWithTheProgramsCodeAndMessage) {
  glagen::SampleFile base = Base();
  glagen::SampleFile other = Generate(3, 12, 5, 50, "other");
  other.bones[4].name = "spine\x1b";
  Bytes baseBytes = glagen::EncodeSampleFile(base);
  Bytes donorBytes = glagen::EncodeSampleFile(Generate(2, 12, 30, 200, "donor", &base));
  struct Case {
    const char* label;
    Bytes base;
    Bytes donor;
    bonesplice_code code;
    std::string message;
  };
  std::vector<Case> cases = {
      {"missing bone", baseBytes, glagen::EncodeSampleFile(other), BONESPLICE_MISSING_BONE,
       "Error: second file has no bone named " + base.bones[4].name + "."},
      {"not an animation", Bytes(100, 'x'), donorBytes, BONESPLICE_BASE_NOT_ANIMATION,
       "Error, first file is not a .gla animation file."},
      {"cut short", baseBytes, Bytes(donorBytes.begin(), donorBytes.end() - 20),
       BONESPLICE_DONOR_DAMAGED,
       "Error: second file is damaged: its bone array runs past the end of the file."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    Received received;
    bonesplice_result result;
    EXPECT_EQ(Merge(c.base, c.donor, true, 2, true, received, result), c.code);
    EXPECT_EQ(result.code, c.code);
    EXPECT_EQ(result.message, c.message);
    EXPECT_TRUE(received.bytes.empty() && received.begunWith == 0);  // nothing handed over
  }

  // An output that refuses a piece, named as the console names it; arguments that cannot be.
  bonesplice_merge_options options{};
  options.output_name = "out\tput.gla";
  bonesplice_output refusing{nullptr, Refuse, nullptr, nullptr, 0};
  bonesplice_result result;
  EXPECT_EQ(bonesplice_merge(baseBytes.data(), baseBytes.size(), donorBytes.data(),
                             donorBytes.size(), &options, &refusing, &result),
            BONESPLICE_OUTPUT_REFUSED);
  EXPECT_STREQ(result.message, "Error: cannot write output file out\\x09put.gla.");
  EXPECT_EQ(bonesplice_merge(nullptr, 10, donorBytes.data(), donorBytes.size(), &options,
                             &refusing, &result),
            BONESPLICE_INVALID_ARGUMENT);
  std::string longName(BONESPLICE_MAX_OUTPUT_NAME + 1, 'n');
  options.output_name = longName.c_str();
  EXPECT_EQ(bonesplice_merge(baseBytes.data(), baseBytes.size(), donorBytes.data(),
                             donorBytes.size(), &options, &refusing, &result),
            BONESPLICE_INVALID_ARGUMENT);
  EXPECT_STREQ(result.message, "Error: output filename is longer than 255 characters.");
  EXPECT_EQ(bonesplice_merge(baseBytes.data(), baseBytes.size(), donorBytes.data(),
                             donorBytes.size(), &options, &refusing, nullptr),
            BONESPLICE_INVALID_ARGUMENT);
}

TEST(Api, DumpsBothFilesAsBoneLogGetsThem) {
  glagen::SampleFile base = Base();
  base.bones[2].name = "arm\n";
  Bytes baseBytes = glagen::EncodeSampleFile(base);
  Bytes donorBytes = glagen::EncodeSampleFile(Generate(4, 11, 3, 10, "donor"));
  Received received;
  bonesplice_output output{&received, Take, nullptr, nullptr, 0};
  bonesplice_result result;
  ASSERT_EQ(bonesplice_dump(baseBytes.data(), baseBytes.size(), donorBytes.data(),
                            donorBytes.size(), &output, &result),
            BONESPLICE_OK);
  std::string text(received.bytes.begin(), received.bytes.end());
  EXPECT_EQ(text, BoneReportOf(baseBytes) + BoneReportOf(donorBytes));
  EXPECT_NE(text.find("arm\\x0A:"), std::string::npos);
  EXPECT_TRUE(received.frontToBack);

  EXPECT_EQ(bonesplice_check_headers(baseBytes.data(), baseBytes.size(), donorBytes.data(),
                                     donorBytes.size(), &result),
            BONESPLICE_BONE_COUNTS_DIFFER);
  EXPECT_STREQ(result.message,
               "Error: can only merge frames from files with same number of bones.");
  EXPECT_EQ(bonesplice_check_headers(baseBytes.data(), baseBytes.size(), baseBytes.data(),
                                     baseBytes.size(), &result),
            BONESPLICE_OK);
  EXPECT_STREQ(result.message, "");
}

}  // namespace
