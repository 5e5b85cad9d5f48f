// The folders are the architecture, and these rules keep it: what each folder's files may
// include. The core (the rules, the formats, the checker) stands on the standard library alone;
// the platform is only in media/; nothing includes a shell; only media/ sees SDL.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

// What one folder's files may include.
struct FolderRule {
  const char* folder;
  std::vector<std::string> may_include;  // project folders its quoted includes may name
  bool standard_only;                    // angle includes: the C++ standard library alone
  bool sdl;                              // may it include SDL
};

const FolderRule RULES[] = {
    {"core", {"core/"}, true, false},
    {"media", {"media/"}, false, true},
    {"play", {"core/", "media/", "play/"}, false, false},
    {"desktop", {"core/", "media/", "play/", "desktop/"}, false, false},
};

// The name between the quotes or brackets of an include line, and whether it was quoted.
bool included(const std::string& line, std::string& name, bool& quoted) {
  const size_t hash = line.find_first_not_of(" \t");
  if (hash == std::string::npos || line.compare(hash, 8, "#include") != 0) return false;
  const size_t open = line.find_first_of("\"<", hash + 8);
  if (open == std::string::npos) return false;
  quoted = line[open] == '"';
  const size_t close = line.find(quoted ? '"' : '>', open + 1);
  name = line.substr(open + 1, close - open - 1);
  return true;
}

// Every problem of one file against its folder's rule.
std::vector<std::string> problems_of(const fs::path& path, const FolderRule& rule) {
  std::vector<std::string> problems;
  std::ifstream in(path);
  std::string line;
  while (std::getline(in, line)) {
    std::string name;
    bool quoted = false;
    if (line.find("SDL") != std::string::npos && !rule.sdl) problems.push_back(line);
    if (!included(line, name, quoted)) continue;
    if (quoted) {
      bool allowed = false;
      for (const std::string& folder : rule.may_include)
        allowed = allowed || name.rfind(folder, 0) == 0;
      if (!allowed) problems.push_back(line);
    } else if (rule.standard_only &&
               (name.find('.') != std::string::npos || name.find('/') != std::string::npos)) {
      // C++ standard headers have neither: <sys/stat.h>, <unistd.h> or <SDL.h> are a platform.
      problems.push_back(line);
    }
  }
  return problems;
}

std::vector<std::string> folder_problems(const fs::path& root, const FolderRule& rule, int& files) {
  std::vector<std::string> problems;
  for (const auto& entry : fs::recursive_directory_iterator(root / rule.folder)) {
    const auto ext = entry.path().extension();
    if (!entry.is_regular_file() || (ext != ".cpp" && ext != ".h")) continue;
    ++files;
    for (const std::string& line : problems_of(entry.path(), rule)) {
      problems.push_back(entry.path().string() + ": " + line);
    }
  }
  return problems;
}

}  // namespace

TEST(Layering, EachFolderIncludesOnlyWhatItStandsOn) {
  for (const FolderRule& rule : RULES) {
    int files = 0;
    const std::vector<std::string> problems = folder_problems(Q47_SOURCE_DIR, rule, files);
    EXPECT_GT(files, 0) << rule.folder;
    for (const std::string& problem : problems) ADD_FAILURE() << problem;
  }
}

// The rule itself must catch what it is there for: a core file that reaches for the platform, a
// play file that includes a shell.
TEST(Layering, TheRulesCatchAForbiddenInclude) {
  const fs::path dir = fs::temp_directory_path() / ("q47_layering_" + std::to_string(getpid()));
  fs::create_directories(dir / "core");
  fs::create_directories(dir / "play");
  std::ofstream(dir / "core" / "bad.cpp") << "#include <vector>\n#include \"media/draw.h\"\n"
                                          << "#include <sys/stat.h>\n#include \"core/rules.h\"\n";
  std::ofstream(dir / "play" / "bad.h") << "#include \"desktop/options.h\"\n#include <SDL.h>\n";
  int files = 0;
  EXPECT_EQ(
      folder_problems(dir, RULES[0], files),
      (std::vector<std::string>{(dir / "core/bad.cpp").string() + ": #include \"media/draw.h\"",
                                (dir / "core/bad.cpp").string() + ": #include <sys/stat.h>"}));
  EXPECT_EQ(folder_problems(dir, RULES[2], files).size(), 2u);  // the shell, and SDL
  fs::remove_all(dir);
}
