// The bone dump report: exact report text for small skeletons built byte by byte, and the
// appending to bone.log.
#include "app/dump.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "format/bytes.h"
#include "format/header.h"
#include "format/skeleton.h"
#include "run_program.h"

namespace bonesplice {
namespace {

using Matrix = std::array<float, 12>;

constexpr Matrix kIdentity = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0};

struct TestBone {
  TestBone(std::string boneName, uint32_t boneFlags = 0, int32_t boneParent = -1)
      : name(std::move(boneName)), flags(boneFlags), parent(boneParent) {}

  std::string name;
  uint32_t flags;
  int32_t parent;
  Matrix origin = kIdentity;
  Matrix inversedOrigin = kIdentity;
  int32_t childCount = 0;
  std::vector<uint32_t> children;  // written as they are, whatever childCount says
};

void PutWord(std::vector<uint8_t>& out, uint32_t value) {
  uint8_t word[4];
  StoreU32(word, value);
  out.insert(out.end(), word, word + 4);
}

void PutMatrix(std::vector<uint8_t>& out, const Matrix& matrix) {
  for (float value : matrix) PutWord(out, FloatBits(value));
}

AnimHeader MakeHeader(const char* name, float scale, uint32_t boneCount) {
  AnimHeader header{};
  std::memcpy(header.ident, "2LGA", 4);
  std::memcpy(header.version, "\6\0\0\0", 4);
  std::memcpy(header.name, name, std::min<size_t>(std::strlen(name), 64));
  header.scale = scale;
  header.frameCount = 1;
  header.boneCount = boneCount;
  header.skeletonInfoOffset = kHeaderSize;  // the dump never reads the BoneOffsetTable
  header.frameArrayOffset = 0x1000;
  header.boneArrayOffset = 0x2000;
  header.eofOffset = 0x3000;
  return header;
}

// The header followed directly by the skeleton records.
std::vector<uint8_t> EncodeFile(const AnimHeader& header, const std::vector<TestBone>& bones) {
  std::array<uint8_t, kHeaderSize> head = EncodeHeader(header);
  std::vector<uint8_t> out(head.begin(), head.end());
  for (const TestBone& bone : bones) {
    std::string name = bone.name;
    name.resize(64);  // NUL-padded to the field
    out.insert(out.end(), name.begin(), name.end());
    PutWord(out, bone.flags);
    PutWord(out, static_cast<uint32_t>(bone.parent));
    PutMatrix(out, bone.origin);
    PutMatrix(out, bone.inversedOrigin);
    PutWord(out, static_cast<uint32_t>(bone.childCount));
    for (uint32_t child : bone.children) PutWord(out, child);
  }
  return out;
}

ByteView ViewOf(const std::vector<uint8_t>& bytes) {
  return {bytes.data(), bytes.size()};
}

// Reads the file the way the program does and returns its report.
std::string ReportOf(const std::vector<uint8_t>& bytes) {
  AnimHeader header;
  ReadHeader(ViewOf(bytes), header);
  return FormatBoneReport(header, ReadSkeleton(ViewOf(bytes), header));
}

// Dumps the file to bone.log the way the program does.
DumpStatus Dump(const std::vector<uint8_t>& bytes) {
  AnimHeader header;
  ReadHeader(ViewOf(bytes), header);
  return DumpBones(ViewOf(bytes), header, {});
}

std::string ReportOf(const AnimHeader& header, const std::vector<TestBone>& bones) {
  return ReportOf(EncodeFile(header, bones));
}

size_t CountOf(const std::string& text, const std::string& part) {
  size_t count = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++count;
  return count;
}

const char kRule[] = "\n==============================================================\n";
const char kIdentityRows[] =
    "\n1.000000 0.000000 0.000000 0.000000 "
    "\n0.000000 1.000000 0.000000 0.000000 "
    "\n0.000000 0.000000 1.000000 0.000000 ";

TEST(FormatBoneReport, SmallSkeletonGolden) {
  AnimHeader header = MakeHeader("walk_cycle", 1.0f, 3);
  header.frameCount = 3;
  header.frameArrayOffset = 0x27c;
  header.boneArrayOffset = 0x297;
  header.eofOffset = 0x2b3;
  TestBone root{"root", 0x10, -1};
  root.origin = {1, 0, 0, 0.5f, 0, 1, 0, -2.25f, 0, 0, 1, 100};
  root.inversedOrigin = {1, 0, 0, -0.5f, 0, 1, 0, 2.25f, 0, 0, 1, -100};
  root.childCount = 2;
  root.children = {1, 2};
  TestBone spine{"spine", 0, 0};
  TestBone arm{"arm_L", 0xabcdef01, 0};
  arm.childCount = -2;

  std::string expected = std::string(kRule) + "Header - walk_cycle" + kRule +
                         "\nSkeleton info offset: 0x64"
                         "\nFrame array offset: 0x27c"
                         "\nBone array offset: 0x297"
                         "\nEOF Offset: 0x2b3"
                         "\n"
                         "\nNumber of bones: 3"
                         "\nNumber of frames: 3"
                         "\nScale: 1.000000\n\n"
                         "\n0x0 - root:"
                         "\n\tFLAGS: 0x10"
                         "\n\tPARENT: index - 0x0, name - root"
                         "\n\tORIGIN:"
                         "\n1.000000 0.000000 0.000000 0.500000 "
                         "\n0.000000 1.000000 0.000000 -2.250000 "
                         "\n0.000000 0.000000 1.000000 100.000000 "
                         "\n\tINVERSED ORIGIN:"
                         "\n1.000000 0.000000 0.000000 -0.500000 "
                         "\n0.000000 1.000000 0.000000 2.250000 "
                         "\n0.000000 0.000000 1.000000 -100.000000 "
                         "\n\tNUMBER OF CHILDREN: 2"
                         "\n\t\tIndex: 0x1, Name: spine"
                         "\n\t\tIndex: 0x2, Name: arm_L"
                         "\n0x1 - spine:"
                         "\n\tFLAGS: 0x0"
                         "\n\tPARENT: index - 0x0, name - root"
                         "\n\tORIGIN:" +
                         kIdentityRows + "\n\tINVERSED ORIGIN:" + kIdentityRows +
                         "\n\tNUMBER OF CHILDREN: 0"
                         "\n0x2 - arm_L:"
                         "\n\tFLAGS: 0xabcdef01"
                         "\n\tPARENT: index - 0x0, name - root"
                         "\n\tORIGIN:" +
                         kIdentityRows + "\n\tINVERSED ORIGIN:" + kIdentityRows +
                         "\n\tNUMBER OF CHILDREN: -2";
  EXPECT_EQ(ReportOf(header, {root, spine, arm}), expected);
}

TEST(FormatBoneReport, NoBonesEndsWithTheScaleLine) {
  AnimHeader header = MakeHeader("empty", 1.0f, 0);
  header.frameCount = 0;
  std::string expected = std::string(kRule) + "Header - empty" + kRule +
                         "\nSkeleton info offset: 0x64"
                         "\nFrame array offset: 0x1000"
                         "\nBone array offset: 0x2000"
                         "\nEOF Offset: 0x3000"
                         "\n"
                         "\nNumber of bones: 0"
                         "\nNumber of frames: 0"
                         "\nScale: 1.000000\n\n";
  EXPECT_EQ(ReportOf(header, {}), expected);
}

TEST(FormatBoneReport, HeaderNameFillingAllItsBytesEndsThere) {
  std::string name(64, 'n');
  std::vector<uint8_t> bytes = EncodeFile(MakeHeader(name.c_str(), 1.0f, 0), {});
  std::string report = ReportOf(bytes);
  EXPECT_NE(report.find("Header - " + name + kRule), std::string::npos);
}

TEST(FormatBoneReport, BoneIndicesAreHexadecimal) {
  std::vector<TestBone> bones;
  for (int i = 0; i < 27; ++i) bones.push_back({"bone" + std::to_string(i), 0, i - 1});
  std::string report = ReportOf(MakeHeader("many", 1.0f, 27), bones);
  EXPECT_NE(report.find("\n0x1a - bone26:\n\tFLAGS: 0x0\n\tPARENT: index - 0x19, name - bone25"),
            std::string::npos);
  EXPECT_NE(report.find("\n0x9 - bone9:"), std::string::npos);
  EXPECT_NE(report.find("\n0xa - bone10:"), std::string::npos);
}

TEST(FormatBoneReport, MatrixElementsAreDividedByTheScale) {
  TestBone bone{"pelvis"};
  bone.origin = {1, -3, 0.5f, 2, 0, 0, 0, 0, 0, 0, 0, 1e6f};
  std::string report = ReportOf(MakeHeader("scaled", 2.0f, 1), {bone});
  EXPECT_NE(report.find("\nScale: 2.000000\n\n"), std::string::npos);
  EXPECT_NE(report.find("\n\tORIGIN:"
                        "\n0.500000 -1.500000 0.250000 1.000000 "
                        "\n0.000000 0.000000 0.000000 0.000000 "
                        "\n0.000000 0.000000 0.000000 500000.000000 "
                        "\n\tINVERSED ORIGIN:"
                        "\n0.500000 0.000000 0.000000 0.000000 "
                        "\n0.000000 0.500000 0.000000 0.000000 "
                        "\n0.000000 0.000000 0.500000 0.000000 "
                        "\n\tNUMBER OF CHILDREN: 0"),
            std::string::npos);
}

TEST(FormatBoneReport, ScaleZeroPrintsNonFiniteValuesAsTheCLibraryDoes) {
  const float nan = FloatFromBits(0x7fc00000u);
  const float negativeNan = FloatFromBits(0xffc00000u);
  TestBone bone{"tip"};
  bone.origin = {1, -1, nan, negativeNan, 2, -2, nan, negativeNan, 0.5f, -0.5f, nan, negativeNan};
  bone.inversedOrigin = bone.origin;
  std::string report = ReportOf(MakeHeader("flat", 0.0f, 1), {bone});
  const char rows[] =
      "\ninf -inf nan -nan "
      "\ninf -inf nan -nan "
      "\ninf -inf nan -nan ";
  EXPECT_NE(report.find("\nScale: 0.000000\n\n"), std::string::npos);
  EXPECT_NE(report.find(std::string("\n\tORIGIN:") + rows + "\n\tINVERSED ORIGIN:" + rows +
                        "\n\tNUMBER OF CHILDREN: 0"),
            std::string::npos);
}

TEST(FormatBoneReport, IndicesThatNameNoBoneAreMarked) {
  TestBone first{"first", 0, 2};  // one past the last bone
  first.childCount = 3;
  first.children = {1, 2, 0xffffffffu};
  TestBone second{"second", 0, -2};  // only -1 means "no parent"
  std::string report = ReportOf(MakeHeader("broken", 1.0f, 2), {first, second});
  EXPECT_NE(report.find("\n0x0 - first:\n\tFLAGS: 0x0"
                        "\n\tPARENT: index - 0x2, name - (no such bone)"),
            std::string::npos);
  EXPECT_NE(report.find("\n\tNUMBER OF CHILDREN: 3"
                        "\n\t\tIndex: 0x1, Name: second"
                        "\n\t\tIndex: 0x2, Name: (no such bone)"
                        "\n\t\tIndex: 0xffffffff, Name: (no such bone)"
                        "\n0x1 - second:"),
            std::string::npos);
  EXPECT_NE(report.find("\n0x1 - second:\n\tFLAGS: 0x0"
                        "\n\tPARENT: index - 0xfffffffe, name - (no such bone)"),
            std::string::npos);
}

TEST(FormatBoneReport, SkeletonCutShortInsideABoneGolden) {
  AnimHeader header = MakeHeader("cut", 1.0f, 3);
  TestBone root{"root", 0x1, -1};
  TestBone spine{"spine", 0x7, 0};
  std::vector<uint8_t> bytes = EncodeFile(header, {root, spine, root});
  // Keep bone 0, and bone 1 up to the middle of its parent word.
  bytes.resize(kHeaderSize + kSkeletonBoneFixedSize + 64 + 4 + 2);
  const char nanRows[] =
      "\n-nan -nan -nan -nan "
      "\n-nan -nan -nan -nan "
      "\n-nan -nan -nan -nan ";
  std::string expected = std::string(kRule) + "Header - cut" + kRule +
                         "\nSkeleton info offset: 0x64"
                         "\nFrame array offset: 0x1000"
                         "\nBone array offset: 0x2000"
                         "\nEOF Offset: 0x3000"
                         "\n"
                         "\nNumber of bones: 3"
                         "\nNumber of frames: 1"
                         "\nScale: 1.000000\n\n"
                         "\n0x0 - root:"
                         "\n\tFLAGS: 0x1"
                         "\n\tPARENT: index - 0x0, name - root"
                         "\n\tORIGIN:" +
                         kIdentityRows + "\n\tINVERSED ORIGIN:" + kIdentityRows +
                         "\n\tNUMBER OF CHILDREN: 0"
                         "\n0x1 - spine:"
                         "\n\tFLAGS: 0x7"
                         "\n\tPARENT: index - 0x1, name - spine"
                         "\n\tORIGIN:" +
                         nanRows + "\n\tINVERSED ORIGIN:" + nanRows +
                         "\n\tNUMBER OF CHILDREN: -1"
                         "\nThe file holds only 1 of 3 bones.";
  EXPECT_EQ(ReportOf(bytes), expected);
}

// Every length of a two-bone skeleton: the report shows each bone the file begins and says how
// many it holds in full.
TEST(FormatBoneReport, EveryCutOfTheSkeletonIsReported) {
  AnimHeader header = MakeHeader("sweep", 1.0f, 2);
  std::vector<uint8_t> whole = EncodeFile(header, {{"a", 0, -1}, {"b", 0, 0}});
  for (size_t length = kHeaderSize; length <= whole.size(); ++length) {
    SCOPED_TRACE(length);
    std::vector<uint8_t> bytes(whole.begin(), whole.begin() + static_cast<ptrdiff_t>(length));
    std::string report = ReportOf(bytes);
    size_t skeleton = length - kHeaderSize;
    size_t wholeBones = skeleton / kSkeletonBoneFixedSize;
    size_t begunBones = (skeleton + kSkeletonBoneFixedSize - 1) / kSkeletonBoneFixedSize;
    EXPECT_EQ(CountOf(report, "\n\tFLAGS: "), begunBones);
    std::string closing = "\nThe file holds only " + std::to_string(wholeBones) + " of 2 bones.";
    if (wholeBones < 2) {
      EXPECT_EQ(report.substr(report.size() - std::min(report.size(), closing.size())), closing);
    } else {
      EXPECT_EQ(CountOf(report, "The file holds only"), 0u);
    }
  }
}

TEST(FormatBoneReport, CountsArePrintedSignedAndTheClosingLineUnsigned) {
  AnimHeader header = MakeHeader("huge", 1.0f, 0xffffffffu);
  header.frameCount = 0x80000000u;
  std::string report = ReportOf(header, {{"only", 0, -1}});
  EXPECT_NE(report.find("\nNumber of bones: -1\nNumber of frames: -2147483648\n"),
            std::string::npos);
  EXPECT_EQ(CountOf(report, "\n\tFLAGS: "), 1u);
  const std::string closing =
      "\n\tNUMBER OF CHILDREN: 0\nThe file holds only 1 of 4294967295 bones.";
  EXPECT_EQ(report.substr(report.size() - closing.size()), closing);
}

// DumpBones writes bone.log in the working directory, so these tests run in a scratch folder.
class DumpBonesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    previous_ = std::filesystem::current_path();
    std::filesystem::current_path(dir_.path());
  }
  void TearDown() override { std::filesystem::current_path(previous_); }

  testing_support::ScratchDir dir_;
  std::filesystem::path previous_;
};

TEST_F(DumpBonesTest, AppendsOneReportPerCallAfterEarlierContent) {
  AnimHeader header = MakeHeader("walk", 1.0f, 2);
  TestBone root{"root", 0, -1};
  root.childCount = 1;
  root.children = {1};
  std::vector<uint8_t> bytes = EncodeFile(header, {root, {"hand", 0, 0}});
  std::string report = ReportOf(bytes);
  testing_support::WriteFileBytes(dir_ / "bone.log", {'o', 'l', 'd', '\n'});

  ASSERT_EQ(Dump(bytes), DumpStatus::kOk);
  ASSERT_EQ(Dump(bytes), DumpStatus::kOk);
  EXPECT_EQ(testing_support::ReadFileText(dir_ / "bone.log"), "old\n" + report + report);
}

TEST_F(DumpBonesTest, CreatesTheLogWhenMissing) {
  std::vector<uint8_t> bytes = EncodeFile(MakeHeader("idle", 1.0f, 1), {{"root", 0, -1}});
  ASSERT_EQ(Dump(bytes), DumpStatus::kOk);
  EXPECT_EQ(testing_support::ReadFileText(dir_ / "bone.log"), ReportOf(bytes));
}

// A report far larger than the skeleton it comes from reaches the log complete and in order.
TEST_F(DumpBonesTest, WritesAReportOfSeveralMegabytesWhole) {
  TestBone root{"a_bone_with_a_rather_long_name_to_make_every_child_line_long", 0, -1};
  root.childCount = 100000;
  root.children.assign(100000, 0);
  std::vector<uint8_t> bytes = EncodeFile(MakeHeader("fan", 1.0f, 1), {root});
  std::string report = ReportOf(bytes);
  ASSERT_GT(report.size(), size_t{4} << 20);
  ASSERT_EQ(Dump(bytes), DumpStatus::kOk);
  EXPECT_TRUE(testing_support::ReadFileText(dir_ / "bone.log") == report);
}

TEST_F(DumpBonesTest, FailsWhenTheLogCannotBeOpened) {
  // A folder in the log's place cannot be opened for appending, not even by root.
  std::filesystem::create_directory(dir_ / "bone.log");
  std::vector<uint8_t> bytes = EncodeFile(MakeHeader("idle", 1.0f, 1), {{"root", 0, -1}});
  EXPECT_EQ(Dump(bytes), DumpStatus::kCannotOpenLog);
  EXPECT_TRUE(std::filesystem::is_empty(dir_ / "bone.log"));
}

TEST_F(DumpBonesTest, FailsWhenTheLogCannotBeWritten) {
  if (!std::filesystem::exists("/dev/full")) GTEST_SKIP() << "no /dev/full on this system";
  std::filesystem::create_symlink("/dev/full", dir_ / "bone.log");
  std::vector<uint8_t> bytes = EncodeFile(MakeHeader("idle", 1.0f, 1), {{"root", 0, -1}});
  EXPECT_EQ(Dump(bytes), DumpStatus::kCannotOpenLog);
}

}  // namespace
}  // namespace bonesplice
