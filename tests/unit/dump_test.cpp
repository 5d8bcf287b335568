// The bone dump report: what the golden report of the command-line tests does not show, in one
// table of files and the text each report must hold, and the log written in pieces.
#include "app/dump.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "format/skeleton.h"
#include "run_program.h"
#include "samples.h"

namespace bonesplice {
namespace {

using testing_support::HeaderOf;
using testing_support::ViewOf;

glagen::SampleBone Bone(const std::string& name, int32_t parent = -1,
                        std::vector<uint32_t> children = {}) {
  glagen::SampleBone bone;
  bone.name = name;
  bone.parent = parent;
  bone.children = std::move(children);
  return bone;
}

std::vector<uint8_t> FileOf(const std::string& name, float scale,
                            const std::vector<glagen::SampleBone>& bones) {
  glagen::SampleFile file;
  file.name = name;
  file.scale = scale;
  file.bones = bones;
  return glagen::EncodeSampleFile(file);
}

std::string ReportOf(const std::vector<uint8_t>& bytes) {
  return testing_support::BoneReportOf(bytes);
}

std::vector<glagen::SampleBone> Chain(int count) {
  std::vector<glagen::SampleBone> bones;
  for (int i = 0; i < count; ++i) bones.push_back(Bone("bone" + std::to_string(i), i - 1));
  return bones;
}

TEST(BoneReport, ShowsWhatTheFileHoldsHoweverOddItIs) {
  const float nan = FloatFromBits(0x7fc00000u);
  const float negativeNan = FloatFromBits(0xffc00000u);
  glagen::SampleBone nonFinite = Bone("tip");
  nonFinite.origin = {1,   -1,          nan,  negativeNan, 2,   -2,
                      nan, negativeNan, 0.5f, -0.5f,       nan, negativeNan};
  glagen::SampleBone strayIndices = Bone("first", 2, {1, 2, 0xffffffffu});  // 2: past the last
  glagen::SampleBone noParent = Bone("second", -2);  // only -1 means "no parent"
  noParent.childCount = -2;

  std::vector<uint8_t> cut = FileOf("cut", 1, {Bone("root"), Bone("spine", 0), Bone("hand", 1)});
  // Bone 0 whole, bone 1 up to the middle of its parent word.
  cut.resize(HeaderOf(cut).skeletonInfoOffset + kSkeletonBoneFixedSize + 64 + 4 + 2);
  const std::string nanRows = "\n-nan -nan -nan -nan \n-nan -nan -nan -nan \n-nan -nan -nan -nan ";

  struct Case {
    const char* label;
    std::vector<uint8_t> file;
    std::vector<std::string> parts;  // each must appear in the report
    std::string ending;              // the report's last characters
  };
  const Case cases[] = {
      {"bone indices in hexadecimal",
       FileOf("many", 1, Chain(27)),
       {"\n0x1a - bone26:\n\tFLAGS: 0x0\n\tPARENT: index - 0x19, name - bone25",
        "\n0x9 - bone9:", "\n0xa - bone10:"},
       "\n\tNUMBER OF CHILDREN: 0"},
      {"no bones", FileOf("empty", 1, {}), {"\nNumber of bones: 0"}, "\nScale: 1.000000\n\n"},
      {"a header name of all 64 bytes",
       FileOf(std::string(64, 'n'), 1, {}),
       {"Header - " + std::string(64, 'n') + "\n====="},
       "\n\n"},
      {"indices that name no bone",
       FileOf("broken", 1, {strayIndices, noParent}),
       {"\n0x0 - first:\n\tFLAGS: 0x0\n\tPARENT: index - 0x2, name - (no such bone)",
        "\n\tNUMBER OF CHILDREN: 3\n\t\tIndex: 0x1, Name: second"
        "\n\t\tIndex: 0x2, Name: (no such bone)\n\t\tIndex: 0xffffffff, Name: (no such bone)",
        "\n0x1 - second:\n\tFLAGS: 0x0\n\tPARENT: index - 0xfffffffe, name - (no such bone)"},
       "\n\tNUMBER OF CHILDREN: -2"},
      {"a scale of zero",
       FileOf("flat", 0, {nonFinite}),
       {"\nScale: 0.000000\n\n",
        "\n\tORIGIN:\ninf -inf nan -nan \ninf -inf nan -nan \ninf -inf nan -nan "},
       "\n\tNUMBER OF CHILDREN: 0"},
      {"control bytes in names, shown escaped, and a name without them as it is",
       FileOf("a\x1b[2J\r\x07\x08\x7f\tz", 1, {Bone("l\nr"), Bone("hand\x1b]0;x", 0)}),
       {"Header - a\\x1B[2J\\x0D\\x07\\x08\\x7F\\x09z\n====", "\n0x0 - l\\x0Ar:\n\tFLAGS",
        "\n0x1 - hand\\x1B]0;x:\n\tFLAGS: 0x0\n\tPARENT: index - 0x0, name - l\\x0Ar"},
       "\n\tNUMBER OF CHILDREN: 0"},
      {"a skeleton cut inside a bone",
       cut,
       {"\n0x1 - spine:\n\tFLAGS: 0x0\n\tPARENT: index - 0x1, name - spine"},
       "\n\tINVERSED ORIGIN:" + nanRows +
           "\n\tNUMBER OF CHILDREN: -1\nThe file holds only 1 of 3 bones."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    std::string report = ReportOf(c.file);
    for (const std::string& part : c.parts) EXPECT_NE(report.find(part), std::string::npos) << part;
    ASSERT_GE(report.size(), c.ending.size());
    EXPECT_EQ(report.substr(report.size() - c.ending.size()), c.ending);
  }
}

// DumpBones writes bone.log in the working directory, so these tests run in a scratch folder.
class DumpBonesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    previous_ = std::filesystem::current_path();
    std::filesystem::current_path(dir_.path());
  }
  void TearDown() override { std::filesystem::current_path(previous_); }

  // Dumps bytes as both files.
  std::optional<std::string> Dump(const std::vector<uint8_t>& bytes) {
    return DumpBones(ViewOf(bytes), ViewOf(bytes), {});
  }

  testing_support::ScratchDir dir_;
  std::filesystem::path previous_;
};

// A report far larger than the skeleton it comes from reaches the log complete and in order.
TEST_F(DumpBonesTest, WritesAReportOfSeveralMegabytesWhole) {
  glagen::SampleBone fan = Bone("a_bone_with_a_rather_long_name_to_make_every_child_line_long");
  fan.children.assign(100000, 0);
  std::vector<uint8_t> bytes = FileOf("fan", 1, {fan});
  std::string report = ReportOf(bytes);
  ASSERT_GT(report.size(), size_t{4} << 20);
  ASSERT_EQ(Dump(bytes), std::nullopt);
  EXPECT_TRUE(testing_support::ReadFileText(dir_ / "bone.log") == report + report);
}

TEST_F(DumpBonesTest, FailsWhenTheLogCannotBeWritten) {
  if (!std::filesystem::exists("/dev/full")) GTEST_SKIP() << "no /dev/full on this system";
  std::filesystem::create_symlink("/dev/full", dir_ / "bone.log");
  EXPECT_EQ(Dump(FileOf("idle", 1, {Bone("root")})),
            "\nError: cannot open bone.log for appending.");
}

}  // namespace
}  // namespace bonesplice
