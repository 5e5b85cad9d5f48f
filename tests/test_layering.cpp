// The folders are the architecture, and these rules keep it: what each folder's files may
// include. The core (the rules, the formats, the checker) stands on the standard library alone;
// the platform is only in media/; nothing includes a shell; only media/ sees SDL. Inside the
// media layer the calls flow one way, down to the event pump, which only the frame's owner calls.
// And no two modules include each other: a module that needs another's header stands on it.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <set>
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
    {"hub", {"core/", "hub/"}, false, false},  // a server: the rules, and no picture or sound
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

// The lines of a source file, each without its // comment.
std::vector<std::string> code_lines(const fs::path& path) {
  std::vector<std::string> lines;
  std::ifstream in(path);
  for (std::string line; std::getline(in, line);) lines.push_back(line.substr(0, line.find("//")));
  return lines;
}

// The module a media file belongs to: its name up to the first '_' (events_internal.h is the
// events module's).
std::string module_of(const fs::path& path) {
  const std::string stem = path.stem().string();
  return stem.substr(0, stem.find('_'));
}

// Each module of the input and display side and its rank: a module may include and call only
// modules of a lower rank, so the calls can never run in a circle. The events module, at the
// bottom, calls none of them.
const std::map<std::string, int> MEDIA_RANKS = {{"events", 0}, {"keyboard", 1}, {"mouse", 1},
                                                {"pad", 1},    {"screen", 2},   {"window", 3}};

// The functions the headers of each ranked module declare.
std::map<std::string, std::set<std::string>> declared_functions(const fs::path& media) {
  const std::regex declaration(R"(^[A-Za-z_][\w:<>]*[\s*&]+([a-z]\w*)\()");
  std::map<std::string, std::set<std::string>> functions;
  for (const auto& entry : fs::directory_iterator(media)) {
    const std::string module = module_of(entry.path());
    if (entry.path().extension() != ".h" || !MEDIA_RANKS.count(module)) continue;
    for (const std::string& line : code_lines(entry.path())) {
      std::smatch match;
      if (std::regex_search(line, match, declaration)) functions[module].insert(match[1]);
    }
  }
  return functions;
}

// A module is a .cpp and its .h of one name, named by its path without the extension
// ("core/rules"); a private X_internal.h belongs to module X. A header alone is a module too.
std::string module_name(const std::string& path) {
  std::string name = fs::path(path).replace_extension().generic_string();
  const std::string internal = "_internal";
  if (name.size() > internal.size() && name.ends_with(internal)) {
    name.resize(name.size() - internal.size());
  }
  return name;
}

// Every pair of modules under folders of root that include each other's headers, as
// "A <-> B" with A before B, in order.
std::vector<std::string> mutual_includes(const fs::path& root,
                                         const std::vector<std::string>& folders) {
  std::map<std::string, std::set<std::string>> stands_on;  // module -> modules it includes
  for (const std::string& folder : folders) {
    for (const auto& entry : fs::recursive_directory_iterator(root / folder)) {
      const auto ext = entry.path().extension();
      if (!entry.is_regular_file() || (ext != ".cpp" && ext != ".h")) continue;
      const std::string module = module_name(fs::relative(entry.path(), root).generic_string());
      std::ifstream in(entry.path());
      for (std::string line; std::getline(in, line);) {
        std::string name;
        bool quoted = false;
        if (!included(line, name, quoted) || !quoted) continue;
        if (module_name(name) != module) stands_on[module].insert(module_name(name));
      }
    }
  }
  std::vector<std::string> pairs;
  for (const auto& [module, others] : stands_on) {
    for (const std::string& other : others) {
      const auto back = stands_on.find(other);
      if (module < other && back != stands_on.end() && back->second.count(module)) {
        pairs.push_back(module + " <-> " + other);
      }
    }
  }
  return pairs;
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

TEST(Layering, NoTwoModulesIncludeEachOther) {
  const std::vector<std::string> folders = {"core", "media", "play",   "desktop",
                                            "web",  "hub",   "windows"};
  for (const std::string& pair : mutual_includes(Q47_SOURCE_DIR, folders)) ADD_FAILURE() << pair;
}

// The check finds a pair however its includes are spread over the modules' headers and sources,
// and counts a module's private header as the module's own.
TEST(Layering, TheMutualIncludeCheckCatchesAPlantedPair) {
  const fs::path dir = fs::temp_directory_path() / ("q47_mutual_" + std::to_string(getpid()));
  fs::create_directories(dir / "core");
  fs::create_directories(dir / "media");
  std::ofstream(dir / "core" / "alpha.h") << "#include <string>\n";
  std::ofstream(dir / "core" / "alpha.cpp")
      << "#include \"core/alpha.h\"\n#include \"core/beta.h\"\n";
  std::ofstream(dir / "core" / "beta.h") << "#include \"core/alpha.h\"\n";
  std::ofstream(dir / "core" / "beta.cpp") << "#include \"core/beta.h\"\n";
  std::ofstream(dir / "core" / "gamma.cpp") << "#include \"core/alpha.h\"\n";
  std::ofstream(dir / "media" / "pump.h") << "#include <cstdint>\n";
  std::ofstream(dir / "media" / "pump_internal.h") << "#include \"media/pump.h\"\n";
  std::ofstream(dir / "media" / "pump.cpp") << "#include \"media/pump_internal.h\"\n";
  std::ofstream(dir / "media" / "keys.cpp") << "#include \"media/pump_internal.h\"\n";
  std::ofstream(dir / "media" / "keys.h") << "#include \"core/gamma.h\"\n";
  std::ofstream(dir / "media" / "pump_queue.h") << "#include \"media/keys.h\"\n";
  EXPECT_EQ(mutual_includes(dir, {"core", "media"}),
            std::vector<std::string>{"core/alpha <-> core/beta"});
  // The other way round through a private header is a pair as well.
  std::ofstream(dir / "media" / "pump_internal.h", std::ios::app) << "#include \"media/keys.h\"\n";
  EXPECT_EQ(mutual_includes(dir, {"core", "media"}),
            (std::vector<std::string>{"core/alpha <-> core/beta", "media/keys <-> media/pump"}));
  fs::remove_all(dir);
}

TEST(Layering, MediaCallsFlowDownAndOnlyTheFramesOwnerPumps) {
  const fs::path media = fs::path(Q47_SOURCE_DIR) / "media";
  const auto functions = declared_functions(media);
  ASSERT_EQ(functions.size(), MEDIA_RANKS.size());
  ASSERT_TRUE(functions.at("events").count("events_pump"));
  ASSERT_TRUE(functions.at("window").count("window_poll_event"));
  const std::regex include(R"(#include\s*"media/(\w+)\.h")");
  const std::regex call(R"((^|[^\w])([a-z]\w*)\s*\()");
  for (const auto& entry : fs::directory_iterator(media)) {
    const fs::path& path = entry.path();
    const std::string module = module_of(path);
    const auto rank = MEDIA_RANKS.find(module);
    for (const std::string& line : code_lines(path)) {
      std::smatch match;
      if (rank != MEDIA_RANKS.end() && std::regex_search(line, match, include)) {
        const auto included = MEDIA_RANKS.find(module_of(match[1].str()));
        EXPECT_TRUE(included == MEDIA_RANKS.end() || included->first == module ||
                    included->second < rank->second)
            << path.filename() << " includes " << match[1] << ": " << line;
      }
      for (auto it = std::sregex_iterator(line.begin(), line.end(), call);
           it != std::sregex_iterator(); ++it) {
        const std::string name = (*it)[2];
        // Whoever runs the frames pumps, at the frame's top; no module may pump in passing.
        EXPECT_FALSE(name == "events_pump" && module != "events")
            << path.filename() << " pumps the events: " << line;
        if (rank == MEDIA_RANKS.end()) continue;
        for (const auto& [other, other_rank] : MEDIA_RANKS) {
          EXPECT_FALSE(other != module && other_rank >= rank->second &&
                       functions.at(other).count(name))
              << path.filename() << " calls " << name << " of " << other << ": " << line;
        }
      }
    }
  }
}

// The frame is called, it does not wait: nothing under play/ or core/ sleeps, paces or ends the
// program; those belong to the shell that owns main.
TEST(Layering, NothingInTheFrameWaitsOrExits) {
  const std::regex waiting(
      R"((^|[^\w])(delay_ms|screen_flip|screen_pace|exit|_exit|abort|sleep|usleep|nanosleep|sleep_for|SDL_Delay)\s*\()");
  int files = 0;
  for (const char* folder : {"core", "play"}) {
    for (const auto& entry : fs::recursive_directory_iterator(fs::path(Q47_SOURCE_DIR) / folder)) {
      if (!entry.is_regular_file() || entry.path().extension() != ".cpp") continue;
      ++files;
      for (const std::string& line : code_lines(entry.path())) {
        EXPECT_FALSE(std::regex_search(line, waiting)) << entry.path() << ": " << line;
      }
    }
  }
  EXPECT_GT(files, 10);
}
