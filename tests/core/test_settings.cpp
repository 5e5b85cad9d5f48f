// The settings text: what it reads, what it writes back, and that no file however damaged gives
// more than a few lines or anything but the defaults for what is wrong.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "core/settings.h"

namespace {

Settings parsed(const std::string& text, std::vector<std::string>& problems) {
  return settings_parse(text, "settings", problems);
}

TEST(SettingsText, RoundTripsEveryValueAndTheKeptLines) {
  Settings settings;
  settings.effects_volume = 0;
  settings.music_volume = 37;
  settings.palette_marked = 1;
  settings.kept = {{"key_left", "a"}, {"later_thing", "two words"}};
  std::vector<std::string> problems;
  const Settings back = parsed(settings_format(settings), problems);
  EXPECT_EQ(back, settings);
  // Only the kept names are mentioned, each as kept.
  ASSERT_EQ(problems.size(), 2u);
  EXPECT_NE(problems[0].find("unknown setting 'key_left' (kept"), std::string::npos);

  problems.clear();
  EXPECT_EQ(parsed(settings_format(Settings{}), problems), Settings{});
  EXPECT_TRUE(problems.empty());
}

TEST(SettingsText, ReadsCommentsBlankLinesSpacingAndCrLf) {
  std::vector<std::string> problems;
  const Settings s =
      parsed("# mine\r\n\n   music_volume\t 40   # quieter\r\neffects_volume 100\npalette marked",
             problems);
  EXPECT_TRUE(problems.empty()) << problems[0];
  EXPECT_EQ(s.music_volume, 40);
  EXPECT_EQ(s.effects_volume, 100);
  EXPECT_EQ(s.palette_marked, 1);
}

TEST(SettingsText, BadValuesKeepTheirDefaultsWithOneLineEach) {
  std::vector<std::string> problems;
  const Settings s = parsed(
      "music_volume 101\neffects_volume -1\npalette purple\nmusic_volume\neffects_volume 5x\n",
      problems);
  EXPECT_EQ(s.music_volume, 100);
  EXPECT_EQ(s.effects_volume, 100);
  EXPECT_EQ(s.palette_marked, 0);
  ASSERT_EQ(problems.size(), 5u);
  EXPECT_EQ(problems[0],
            "settings:1: music_volume must be a whole number from 0 to 100, not '101'");
  EXPECT_EQ(problems[2], "settings:3: palette must be plain or marked, not 'purple'");
  EXPECT_EQ(problems[3], "settings:4: 'music_volume' has no value; line ignored");
}

TEST(SettingsText, TheFirstOfDuplicatesIsTaken) {
  std::vector<std::string> problems;
  const Settings s = parsed("music_volume 10\nmusic_volume 90\n", problems);
  EXPECT_EQ(s.music_volume, 10);
  ASSERT_EQ(problems.size(), 1u);
  EXPECT_EQ(problems[0], "settings:2: 'music_volume' given again; this line ignored");
}

TEST(SettingsText, HostileTextGivesAFewLinesAndDefaults) {
  std::vector<std::string> problems;
  // Binary: one line for the whole file.
  EXPECT_EQ(parsed(std::string("music_volume 5\n\0\xff\x01", 18), problems), Settings{});
  ASSERT_EQ(problems.size(), 1u);
  EXPECT_NE(problems[0].find("binary"), std::string::npos);

  // Huge: one line, nothing read.
  problems.clear();
  std::string huge;
  while (huge.size() <= SETTINGS_TEXT_MAX) huge += "music_volume 5\n";
  EXPECT_EQ(parsed(huge, problems), Settings{});
  ASSERT_EQ(problems.size(), 1u);
  EXPECT_NE(problems[0].find("too large"), std::string::npos);

  // Many bad lines: capped, with a count of the rest; unknown names kept only up to the cap.
  problems.clear();
  std::string many;
  for (int i = 0; i < 200; ++i) many += "name" + std::to_string(i) + " \x80\x81\n";
  for (int i = 0; i < 200; ++i) many += "other" + std::to_string(i) + " v\n";
  const Settings s = parsed(many, problems);
  EXPECT_EQ(problems.size(), SETTINGS_PROBLEMS_MAX + 1);
  EXPECT_EQ(problems.back(), "settings: " + std::to_string(400 - SETTINGS_PROBLEMS_MAX) +
                                 " more problems not shown");
  EXPECT_EQ(s.kept.size(), SETTINGS_KEPT_MAX);

  // Missing (an empty text) is simply the defaults.
  problems.clear();
  EXPECT_EQ(parsed("", problems), Settings{});
  EXPECT_TRUE(problems.empty());
}

TEST(SettingsText, RandomBytesNeverBreakTheRoundTrip) {
  // Whatever is read, writing it and reading it again gives the same settings, with no new
  // problem beyond the kept names: what the game writes it can always read.
  std::mt19937 random(47);
  const std::string alphabet =
      "music_volume effects_volume palette plain marked 0123456789#\n\t\r-x";
  for (int round = 0; round < 2000; ++round) {
    std::string text;
    const int length = static_cast<int>(random() % 120);
    for (int i = 0; i < length; ++i) {
      text += (random() % 8 == 0) ? static_cast<char>(random() % 256)
                                  : alphabet[random() % alphabet.size()];
    }
    std::vector<std::string> problems;
    const Settings first = parsed(text, problems);
    EXPECT_LE(problems.size(), SETTINGS_PROBLEMS_MAX + 1);
    problems.clear();
    const Settings again = parsed(settings_format(first), problems);
    ASSERT_EQ(again, first) << text;
    for (const std::string& problem : problems) {
      EXPECT_NE(problem.find("unknown setting"), std::string::npos) << problem;
    }
  }
}

TEST(SettingsVolume, FullIsExactAndZeroIsSilent) {
  EXPECT_EQ(settings_scaled_volume(75, 100), 75);
  EXPECT_EQ(settings_scaled_volume(100, 100), 100);
  EXPECT_EQ(settings_scaled_volume(75, 0), 0);
  EXPECT_EQ(settings_scaled_volume(75, 50), 38);
  EXPECT_EQ(settings_scaled_volume(100, 1), 1);
}

}  // namespace
