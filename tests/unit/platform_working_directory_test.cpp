#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "platform/files.h"
#include "tests/support/harness.h"

namespace quillo {
namespace {

namespace fs = std::filesystem;

// Nested scopes each give back the directory they found; one that could not
// enter changes nothing, also for the scope around it.
TEST(PlatformWorkingDirectory, ScopesNestAndGiveBackWhatTheyFound) {
  test::Sandbox box;
  box.MakeDir("a");
  box.MakeDir("a/b");
  const std::string start = CurrentDirectory();
  const std::string a = fs::canonical(box.Path("a")).string();
  const std::string b = fs::canonical(box.Path("a/b")).string();
  struct Step {
    const char* name;
    std::string seen;
  };
  std::vector<Step> steps;
  {
    const WorkingDirectoryScope outer(box.Path("a"));
    EXPECT_TRUE(outer.Entered());
    steps.push_back({"in a", CurrentDirectory()});
    {
      const WorkingDirectoryScope inner("b");  // relative to a
      EXPECT_TRUE(inner.Entered());
      steps.push_back({"in a/b", CurrentDirectory()});
      {
        const WorkingDirectoryScope missing(box.Path("none"));
        EXPECT_FALSE(missing.Entered());
        steps.push_back({"a missing directory changes nothing", CurrentDirectory()});
      }
      steps.push_back({"after the missing one", CurrentDirectory()});
    }
    steps.push_back({"back in a", CurrentDirectory()});
  }
  steps.push_back({"back where it started", CurrentDirectory()});
  const std::vector<std::string> expected = {a, b, b, b, a, start};
  ASSERT_EQ(steps.size(), expected.size());
  for (size_t i = 0; i < steps.size(); ++i) EXPECT_EQ(steps[i].seen, expected[i]) << steps[i].name;
}

}  // namespace
}  // namespace quillo
