// The layers of the source tree: the README's table of which folder may
// include which, held against every #include of the tree.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace quillo {
namespace {

namespace fs = std::filesystem;

using Matrix = std::map<std::string, std::set<std::string>>;

// The rows "| `folder/` | what it holds | `a/`, `b/` |" of the layout table.
Matrix ParseMatrix(const std::string& readme) {
  Matrix matrix;
  static const std::regex row(R"(^\| `([a-z_]+)/` \|[^|]*\| ([^|]*) \|\s*$)");
  static const std::regex folder("`([a-z_]+)/`");
  std::istringstream lines(readme);
  std::string line;
  while (std::getline(lines, line)) {
    std::smatch m;
    if (!std::regex_match(line, m, row)) continue;
    std::set<std::string>& allowed = matrix[m[1].str()];
    const std::string uses = m[2].str();
    for (std::sregex_iterator it(uses.begin(), uses.end(), folder), end; it != end; ++it) {
      allowed.insert((*it)[1].str());
    }
  }
  return matrix;
}

// The folders named by the quoted includes of `source` ("store/x.h" names store).
std::vector<std::string> IncludedFolders(const std::string& source) {
  std::vector<std::string> folders;
  static const std::regex include(R"(^\s*#\s*include\s*"([a-z_]+)/)");
  std::istringstream lines(source);
  std::string line;
  while (std::getline(lines, line)) {
    std::smatch m;
    if (std::regex_search(line, m, include)) folders.push_back(m[1].str());
  }
  return folders;
}

// The edges of `folder` the matrix does not allow, as "from -> to".
std::vector<std::string> Violations(const Matrix& matrix, const std::string& folder, const std::string& source) {
  std::vector<std::string> wrong;
  const auto row = matrix.find(folder);
  for (const std::string& to : IncludedFolders(source)) {
    if (to == folder) continue;
    if (row == matrix.end() || !row->second.contains(to)) wrong.push_back(folder + " -> " + to);
  }
  return wrong;
}

std::string ReadText(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

TEST(LayoutTest, TheCheckFindsWhatItShould) {
  const Matrix matrix = ParseMatrix(
      "| folder | holds | may include |\n"
      "|---|---|---|\n"
      "| `low/` | the base | — |\n"
      "| `mid/` | the middle | `low/` |\n"
      "| `top/` | the rest | `mid/`, `low/` |\n");
  struct Case {
    const char* name;
    std::string folder;
    std::string source;
    std::vector<std::string> wrong;
  };
  const std::vector<Case> cases = {
      {"own headers", "low", "#include \"low/a.h\"\n", {}},
      {"downwards", "top", "#include \"mid/a.h\"\n#include \"low/b.h\"\n", {}},
      {"upwards", "mid", "#include \"low/a.h\"\n#include \"top/b.h\"\n", {"mid -> top"}},
      {"a layer skipped that the row does not name", "mid", "#  include \"top/x.h\"\n", {"mid -> top"}},
      {"a folder no row names", "low", "#include \"other/x.h\"\n", {"low -> other"}},
      {"a folder without a row", "new", "#include \"low/x.h\"\n", {"new -> low"}},
      {"system headers do not count", "low", "#include <sys/stat.h>\n#include <string>\n", {}},
      {"a base layer uses nothing", "low", "#include \"mid/x.h\"\n", {"low -> mid"}},
  };
  for (const Case& c : cases) EXPECT_EQ(Violations(matrix, c.folder, c.source), c.wrong) << c.name;
}

TEST(LayoutTest, IncludesFollowTheTable) {
  const fs::path root = QUILLO_SOURCE_DIR;
  const Matrix matrix = ParseMatrix(ReadText(root / "README.md"));
  ASSERT_GE(matrix.size(), 10u) << "the layout table of README.md";
  // Every folder of program sources has its row.
  const std::set<std::string> notProgram = {"tests", "fuzz", "bench", "demo", "docs", "scripts"};
  std::vector<std::string> wrong;
  for (const auto& dir : fs::directory_iterator(root)) {
    const std::string name = dir.path().filename().string();
    if (!dir.is_directory() || name[0] == '.' || notProgram.contains(name) || name.starts_with("build")) continue;
    bool sources = false;
    for (const auto& file : fs::directory_iterator(dir.path())) {
      const std::string ext = file.path().extension().string();
      if (ext != ".cpp" && ext != ".h") continue;
      sources = true;
      for (const std::string& edge : Violations(matrix, name, ReadText(file.path()))) {
        wrong.push_back(file.path().filename().string() + ": " + edge);
      }
    }
    if (sources && !matrix.contains(name)) wrong.push_back(name + "/ has no row in README.md");
  }
  std::string shown;
  for (const std::string& w : wrong) shown += w + "\n";
  EXPECT_TRUE(wrong.empty()) << shown;
}

}  // namespace
}  // namespace quillo
