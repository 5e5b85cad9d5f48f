// The rules never see the platform: no file under game/ may include SDL.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

TEST(Layering, GameNeverIncludesSdl) {
  namespace fs = std::filesystem;
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
