// The command line as a user meets it: which files are merged or dumped, which mode is on,
// whether the prompt appears, and the messages and exit status of each refusal.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "app/messages.h"
#include "reference_merge.h"
#include "run_program.h"
#include "samples.h"

namespace {

using namespace testing_support;
namespace messages = bonesplice::messages;
namespace fs = std::filesystem;

// _humanoid.gla, a.gla and b.gla: the same bones in different orders, repeated entries so that
// "-o" changes every merge, and c6.gla with a different bone count.
class ArgumentsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    glagen::SampleFile humanoid = Generate(1, 6, 4, 40, "humanoid", nullptr, 0, false, 0.4);
    files["humanoid"] = WriteSample(dir / "_humanoid.gla", humanoid);
    files["a"] = WriteSample(dir / "a.gla", Generate(2, 6, 3, 30, "a", &humanoid, 0.3, true, 0.4));
    files["b"] = WriteSample(dir / "b.gla", Generate(3, 6, 5, 30, "b", &humanoid, 0.3, true, 0.4));
    WriteSample(dir / "c6.gla", Generate(4, 7, 3, 30, "c6"));
  }

  ScratchDir dir;
  std::map<std::string, std::vector<uint8_t>> files;
};

TEST_F(ArgumentsTest, EachArgumentFormPicksItsFilesAndModes) {
  struct Case {
    std::vector<std::string> args;
    bool humanoidPresent;
    const char* base;  // nullptr: the files are not found
    const char* donor;
    bool list;
    bool optimize;
  };
  // The argument rules are the command-line parser's (its unit test holds them all); these rows
  // show they reach the run: each file picked, each mode, and a missing default base.
  const Case cases[] = {
      {{"a.gla"}, true, "humanoid", "a", false, false},
      {{"a.gla"}, false, nullptr, nullptr, false, false},
      {{"a.gla", "b.gla", "-o"}, true, "a", "b", false, true},
      {{"a.gla", "-o", "-l"}, true, "humanoid", "a", true, true},
      {{"b.gla", "a.gla", "-l"}, false, "b", "a", true, false},
  };
  for (const Case& c : cases) {
    std::string label = ::testing::PrintToString(c.args);
    if (!c.humanoidPresent) fs::rename(dir / "_humanoid.gla", dir / "away.gla");
    fs::remove(dir / "out.gla");
    fs::remove(dir / "bone.log");
    RunResult run = RunBonesplice(dir.path(), c.args, "out.gla\n");
    if (!c.humanoidPresent) fs::rename(dir / "away.gla", dir / "_humanoid.gla");

    if (c.base == nullptr) {
      EXPECT_EQ(run.output, Banner() + messages::kFilesNotFound) << label;
      EXPECT_EQ(run.status, 0) << label;
      EXPECT_FALSE(fs::exists(dir / "out.gla")) << label;
    } else if (c.list) {
      EXPECT_EQ(run.output, Banner()) << label;
      EXPECT_EQ(run.status, 1) << label;
      EXPECT_FALSE(fs::exists(dir / "out.gla")) << label;
      std::string log = ReadFileText(dir / "bone.log");
      size_t basePos = log.find(std::string("Header - ") + c.base + "\n");
      size_t donorPos = log.find(std::string("Header - ") + c.donor + "\n");
      EXPECT_NE(basePos, std::string::npos) << label;
      EXPECT_NE(donorPos, std::string::npos) << label;
      EXPECT_LT(basePos, donorPos) << label;
    } else {
      const std::vector<uint8_t>& donor = files[c.donor];
      EXPECT_EQ(run.output, MergeConsole(HeaderOf(donor).frameCount)) << label;
      EXPECT_EQ(run.status, 1) << label;
      std::vector<uint8_t> expected = reference::ReferenceMerge(files[c.base], donor, c.optimize);
      ASSERT_NE(expected, reference::ReferenceMerge(files[c.base], donor, !c.optimize));
      EXPECT_EQ(ReadFileBytes(dir / "out.gla"), expected) << label;
    }
  }
}

TEST_F(ArgumentsTest, NoArgumentsPrintsBannerAndUsage) {
  RunResult run = RunBonesplice(dir.path(), {}, "out.gla\n");
  EXPECT_EQ(run.output,
            "\n//=============================================="
            "\n//              Bonesplice 1.2b                 " +
                run.output.substr(98, 4 * 49) +
                "\n//==============================================\n"
                "\nSyntax is bonesplice.exe source1 source2 [-l]|[-o]. If only source2 is passed, "
                "the file _humanoid.gla is opened, otherwise source2 is merged into source1.\n"
                "\n-l - Makes a bone dump of both files, then quits"
                "\n-o - Removes redundant bone data from the output file - saves space, however "
                "takes more time to complete");
  EXPECT_EQ(run.output.substr(0, Banner().size()), Banner());
  EXPECT_EQ(run.status, 0);
}

TEST_F(ArgumentsTest, RefusalsPrintTheirMessageAndEndWithStatusZero) {
  WriteFileBytes(dir / "notgla.gla", std::vector<uint8_t>(300, 'x'));
  struct Case {
    std::vector<std::string> args;
    std::string input;
    std::string message;
    const char* outputLeft;  // the output file the run leaves empty, or nullptr for none
  };
  const Case cases[] = {
      {{"a.gla", "c6.gla"},
       "out.gla\n",
       "\nError: can only merge frames from files with same "
       "number of bones.",
       "out.gla"},
      {{"notgla.gla", "a.gla"},
       "out.gla\n",
       "\nError, first file is not a .gla animation file.",
       "out.gla"},
      {{"a.gla", "notgla.gla"},
       "out.gla\n",
       "\nError, second file is not a .gla animation file.",
       "out.gla"},
      {{"a.gla", "b.gla"}, "", messages::kNoOutputName, nullptr},
      {{"a.gla", "b.gla"}, "  \n\t \n", messages::kNoOutputName, nullptr},
      {{"a.gla", "b.gla"}, std::string(256, 'n') + "\n", messages::kOutputNameTooLong, nullptr},
      {{"a.gla", "b.gla"},
       "no/such/folder/out.gla\n",
       "\nError: cannot create output file no/such/folder/out.gla.",
       nullptr},
      {{"a.gla", "b.gla"}, "a.gla", messages::kOutputIsSource, nullptr},
      {{"b.gla"}, "_humanoid.gla\n", messages::kOutputIsSource, nullptr},
  };
  for (const Case& c : cases) {
    std::string label = ::testing::PrintToString(c.args) + " <" + c.input.substr(0, 30) + ">";
    fs::remove(dir / "out.gla");
    auto before = std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator());
    RunResult run = RunBonesplice(dir.path(), c.args, c.input);
    auto after = std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator());
    EXPECT_EQ(run.output, Banner() + messages::kPrompt + c.message) << label;
    EXPECT_EQ(run.status, 0) << label;
    if (c.outputLeft != nullptr) {
      EXPECT_EQ(fs::file_size(dir / c.outputLeft), 0u) << label;
    } else {
      EXPECT_EQ(after, before) << label << ": no file is created";
    }
  }
  EXPECT_EQ(ReadFileBytes(dir / "a.gla"), files["a"]) << "the sources are never touched";
  EXPECT_EQ(ReadFileBytes(dir / "b.gla"), files["b"]);
  EXPECT_EQ(ReadFileBytes(dir / "_humanoid.gla"), files["humanoid"]);
}

TEST_F(ArgumentsTest, OutputNameOf255CharactersIsAccepted) {
  std::string name(251, 'n');
  name += ".gla";
  RunResult run = RunBonesplice(dir.path(), {"a.gla", "b.gla"}, name + "\n");
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(ReadFileBytes(dir / name), reference::ReferenceMerge(files["a"], files["b"], false));
}

}  // namespace
