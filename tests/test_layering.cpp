// The layers keep their places: no file under game/ may include SDL, and inside the media layer
// the calls flow one way, down to the event pump, which only the frame's owner calls.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

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
const std::map<std::string, int> MEDIA_RANKS = {
    {"events", 0}, {"keyboard", 1}, {"mouse", 1}, {"screen", 2}, {"window", 3}};

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

}  // namespace

TEST(Layering, GameNeverIncludesSdl) {
  int files = 0;
  for (const auto& entry : fs::recursive_directory_iterator(fs::path(Q47_SOURCE_DIR) / "game")) {
    if (!entry.is_regular_file()) continue;
    const auto ext = entry.path().extension();
    if (ext != ".cpp" && ext != ".h") continue;
    ++files;
    std::ifstream in(entry.path());
    std::string line;
    while (std::getline(in, line)) {
      EXPECT_EQ(line.find("SDL"), std::string::npos) << entry.path() << ": " << line;
    }
  }
  EXPECT_GT(files, 0);
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
