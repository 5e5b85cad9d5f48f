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
  // Two actions swapped, others on keys of every kind of name.
  settings.keys[ACTION_PLACE] = 0x13;     // R
  settings.keys[ACTION_RESTART] = 0x39;   // SPACE
  settings.keys[ACTION_PICK_UP] = 0x0E;   // BACKSPACE
  settings.keys[ACTION_UP] = 0x11;        // W
  settings.keys[ACTION_MUTE] = 0x3F;      // F5
  settings.keys[ACTION_CONTINUE] = 0x4C;  // KP_5
  settings.pad_stick_speed = PAD_SPEED_FAST;
  settings.kept = {{"key_jump", "a"}, {"later_thing", "two words"}};
  std::vector<std::string> problems;
  const Settings back = parsed(settings_format(settings), problems);
  EXPECT_EQ(back, settings);
  // Only the kept names are mentioned, each as kept.
  ASSERT_EQ(problems.size(), 2u);
  EXPECT_NE(problems[0].find("unknown setting 'key_jump' (kept"), std::string::npos);

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

TEST(SettingsText, KeysAreNamedInAnyCaseAndABadOneKeepsItsDefault) {
  std::vector<std::string> problems;
  const Settings s = parsed(
      "key_place p\nkey_pick_up Nope\nkey_restart escape\nkey_mute F2\nkey_up lctrl\n"
      "key_down F\nkey_left kp_enter\npad_stick_speed quick\nkey_right\n",
      problems);
  Settings expected;
  expected.keys[ACTION_PLACE] = 0x19;  // P
  EXPECT_EQ(s, expected);
  ASSERT_EQ(problems.size(), 8u);
  EXPECT_EQ(problems[0],
            "settings:2: key_pick_up: no key is named 'Nope'; the default (DELETE) is kept");
  EXPECT_EQ(problems[1],
            "settings:3: key_restart: ESCAPE cannot be chosen for an action; the "
            "default (R) is kept");
  for (int i = 2; i < 5; ++i) {
    EXPECT_NE(problems[i].find("cannot be chosen for an action"), std::string::npos) << problems[i];
  }
  // Keypad Enter is read as Enter: it has no name of its own.
  EXPECT_NE(problems[5].find("no key is named 'kp_enter'"), std::string::npos);
  EXPECT_EQ(problems[6], "settings:8: pad_stick_speed must be slow, normal or fast, not 'quick'");
}

TEST(SettingsText, AKeyGivenToTwoActionsGoesToTheFirstOnly) {
  // Each text, and the keys of place, pick-up, restart and up it leaves.
  const struct {
    const char* text;
    int32_t place, pick_up, restart, up;
    size_t problems;
  } cases[] = {
      // Plain duplicate: the later line gives way.
      {"key_place P\nkey_up P\n", 0x19, 0xD3, 0x13, 0xC8, 1},
      // A key that is another action's default, that action not moved: refused.
      {"key_place R\n", 0x39, 0xD3, 0x13, 0xC8, 1},
      // Swapped: no conflict at all.
      {"key_place R\nkey_restart SPACE\n", 0x13, 0xD3, 0x39, 0xC8, 0},
      // Both on R: restart gives way, back to R, so place must give way too.
      {"key_place R\nkey_restart R\n", 0x39, 0xD3, 0x13, 0xC8, 2},
      // Delete freed by pick-up and taken by up.
      {"key_pick_up X\nkey_up DELETE\n", 0x39, 0x2D, 0x13, 0xD3, 0},
  };
  for (const auto& c : cases) {
    std::vector<std::string> problems;
    const Settings s = parsed(c.text, problems);
    EXPECT_EQ(s.keys[ACTION_PLACE], c.place) << c.text;
    EXPECT_EQ(s.keys[ACTION_PICK_UP], c.pick_up) << c.text;
    EXPECT_EQ(s.keys[ACTION_RESTART], c.restart) << c.text;
    EXPECT_EQ(s.keys[ACTION_UP], c.up) << c.text;
    EXPECT_EQ(problems.size(), c.problems) << c.text;
    // Whatever was refused, no key is left with two actions.
    for (int a = 0; a < SETTINGS_ACTIONS; ++a) {
      EXPECT_EQ(settings_key_owner(s, s.keys[a]), a) << c.text;
    }
  }
  std::vector<std::string> problems;
  parsed("key_place P\nkey_up P\n", problems);
  EXPECT_EQ(problems[0],
            "settings:2: key_up: P is already the key of key_place; the default (UP) is kept");
}

TEST(SettingsText, TheFirstOfDuplicatesIsTaken) {
  std::vector<std::string> problems;
  const Settings s = parsed("music_volume 10\nmusic_volume 90\nkey_mute Q\nkey_mute U\n", problems);
  EXPECT_EQ(s.music_volume, 10);
  EXPECT_EQ(s.keys[ACTION_MUTE], 0x10);
  ASSERT_EQ(problems.size(), 2u);
  EXPECT_EQ(problems[0], "settings:2: 'music_volume' given again; this line ignored");
  EXPECT_EQ(problems[1], "settings:4: 'key_mute' given again; this line ignored");
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
      "music_volume effects_volume palette plain marked 0123456789#\n\t\r-x key_place key_up "
      "SPACE R UP P pad_stick_speed fast";
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
