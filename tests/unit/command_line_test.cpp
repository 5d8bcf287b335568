#include "app/command_line.h"

#include <gtest/gtest.h>

#include <vector>

namespace bonesplice {
namespace {

TEST(CommandLine, ArgumentRules) {
  struct Case {
    std::vector<const char*> args;
    const char* base;
    const char* donor;
    bool list;
    bool optimize;
  };
  const Case cases[] = {
      {{"walk.gla"}, "_humanoid.gla", "walk.gla", false, false},
      {{"walk.gla", "-l"}, "_humanoid.gla", "walk.gla", true, false},
      {{"a.gla", "b.gla", "-o"}, "a.gla", "b.gla", false, true},
      {{"a.gla", "-x", "-o"}, "_humanoid.gla", "a.gla", false, true},
      {{"a.gla", "b.gla", "c.gla", "-l"}, "a.gla", "b.gla", false, false},
      {{"a.gla", "b.gla", "-o", "-l"}, "a.gla", "b.gla", false, true},
      {{"-l", "a.gla"}, "-l", "a.gla", false, false},
      {{"a.gla", "-L"}, "_humanoid.gla", "a.gla", false, false},
      {{"a.gla", "-o", "b.gla"}, "_humanoid.gla", "a.gla", false, true},
      {{"a.gla", "-o", "-l"}, "_humanoid.gla", "a.gla", true, true},
      {{"a.gla", "-l", "-o", "-x"}, "_humanoid.gla", "a.gla", true, true},
      {{"a.gla", "-ol"}, "_humanoid.gla", "a.gla", false, false},
  };
  for (const Case& c : cases) {
    std::vector<std::string> args = {"bonesplice"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    CommandLine line = ParseCommandLine(args);
    std::string label = c.args[0] + std::string(" ...") + std::to_string(c.args.size());
    EXPECT_FALSE(line.showUsage) << label;
    EXPECT_EQ(line.basePath, c.base) << label;
    EXPECT_EQ(line.donorPath, c.donor) << label;
    EXPECT_EQ(line.listMode, c.list) << label;
    EXPECT_EQ(line.optimizeMode, c.optimize) << label;
  }
}

TEST(CommandLine, NoArgumentsShowsUsage) {
  EXPECT_TRUE(ParseCommandLine({"bonesplice"}).showUsage);
}

}  // namespace
}  // namespace bonesplice
