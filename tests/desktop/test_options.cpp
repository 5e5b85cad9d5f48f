// The command line: what each option sets, and the misuse messages that stop the program.
#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <vector>

#include "desktop/options.h"
#include "tests/support/game_harness.h"
#include "tests/support/game_state.h"

namespace {

// Parses a command line given as words after the program name.
struct Parsed {
  OptionsAction action;
  std::string out;
  std::string err;
};

Parsed parse(std::initializer_list<const char*> words) {
  std::vector<std::string> storage{"q47"};
  for (const char* word : words) storage.emplace_back(word);
  std::vector<char*> argv;
  for (std::string& word : storage) argv.push_back(word.data());
  argv.push_back(nullptr);
  Parsed parsed;
  parsed.action =
      options_parse(static_cast<int>(storage.size()), argv.data(), parsed.out, parsed.err);
  return parsed;
}

TEST(Options, NoOptionsIsTheGameAsItAlwaysWas) {
  const Parsed parsed = parse({});
  EXPECT_EQ(parsed.action, OptionsAction::RUN);
  EXPECT_EQ(game_options.fullscreen, 0);
  EXPECT_EQ(game_options.scale, OPTIONS_SCALE_AUTO);
  EXPECT_EQ(game_options.start_level, 0);
  EXPECT_EQ(game_options.mute, 0);
  EXPECT_TRUE(game_options.record_path.empty());
  EXPECT_EQ(game_options.check, 0);
}

TEST(Options, ValuesAndSwitchesAreTaken) {
  EXPECT_EQ(parse({"-f", "--scale", "3", "--level=10", "--mute"}).action, OptionsAction::RUN);
  EXPECT_EQ(game_options.fullscreen, 1);
  EXPECT_EQ(game_options.scale, 3);
  EXPECT_EQ(game_options.start_level, 10);
  EXPECT_EQ(game_options.mute, 1);
  // The last of -f and -w wins, as GNU programs do.
  parse({"-f", "-w"});
  EXPECT_EQ(game_options.fullscreen, 0);
  parse({"--window", "--fullscreen", "--scale", "auto"});
  EXPECT_EQ(game_options.fullscreen, 1);
  EXPECT_EQ(game_options.scale, OPTIONS_SCALE_AUTO);
  // --level is not taken for a prefix of --levels, nor the other way round.
  parse({"--levels", "pack.q47l", "--level", "2"});
  EXPECT_EQ(game_options.levels_path, "pack.q47l");
  EXPECT_EQ(game_options.start_level, 2);
  // --check takes the pack as its one operand, or none for the built-in levels.
  parse({"--check", "pack.q47l", "--json"});
  EXPECT_EQ(game_options.check, 1);
  EXPECT_EQ(game_options.check_path, "pack.q47l");
  EXPECT_EQ(game_options.json, 1);
  parse({"--check"});
  EXPECT_TRUE(game_options.check_path.empty());
  // The picture setting: plain unless marked is asked for, by a game or by a drawn check.
  EXPECT_EQ(game_options.palette_marked, 0);
  EXPECT_EQ(parse({"--palette", "marked"}).action, OptionsAction::RUN);
  EXPECT_EQ(game_options.palette_marked, 1);
  EXPECT_EQ(parse({"--verify", "a", "--picture", "b.png", "--palette=marked"}).action,
            OptionsAction::RUN);
  EXPECT_EQ(game_options.palette_marked, 1);
  parse({"--palette", "plain"});
  EXPECT_EQ(game_options.palette_marked, 0);
  // --submit takes every operand as a replay, wherever the options stand among them.
  EXPECT_EQ(parse({"a.q47r", "--submit", "b.q47r", "--hub", "http://h:1", "--levels", "p"}).action,
            OptionsAction::RUN);
  EXPECT_EQ(game_options.submit_paths, (std::vector<std::string>{"a.q47r", "b.q47r"}));
  EXPECT_EQ(game_options.hub_url, "http://h:1");
  EXPECT_EQ(game_options.levels_path, "p");
}

TEST(Options, HelpAndVersionGoToStandardOutput) {
  Parsed parsed = parse({"--help"});
  EXPECT_EQ(parsed.action, OptionsAction::EXIT);
  EXPECT_EQ(parsed.out.rfind("Usage: q47 [OPTION]...", 0), 0u);
  for (const char* option : {"--fullscreen", "--window", "--scale", "--level", "--mute", "--record",
                             "--play", "--verify", "--levels", "--export-levels", "--check",
                             "--exact", "--time-limit", "--palette", "--version"}) {
    EXPECT_NE(parsed.out.find(option), std::string::npos) << option;
  }
  EXPECT_TRUE(parsed.err.empty());
  parsed = parse({"-h", "--bogus"});
  EXPECT_EQ(parsed.action, OptionsAction::EXIT);
  parsed = parse({"--version"});
  EXPECT_EQ(parsed.action, OptionsAction::EXIT);
  EXPECT_EQ(parsed.out.rfind("q47 ", 0), 0u);
}

TEST(Options, MisuseNamesTheProblemAndPointsToHelp) {
  const struct {
    std::initializer_list<const char*> words;
    const char* problem;
  } cases[] = {
      {{"--bogus"}, "q47: unrecognized option '--bogus'\n"},
      {{"-x"}, "q47: unrecognized option '-x'\n"},
      {{"--scale"}, "q47: option '--scale' requires an argument\n"},
      {{"--scale", "0"}, "q47: invalid scale '0' (a whole number from 1 to 8, or auto)\n"},
      {{"--scale", "9"}, "q47: invalid scale '9' (a whole number from 1 to 8, or auto)\n"},
      {{"--scale", "2x"}, "q47: invalid scale '2x' (a whole number from 1 to 8, or auto)\n"},
      {{"--level", "100"}, "q47: invalid level '100' (a whole number from 1 to 99)\n"},
      {{"--level", "0"}, "q47: invalid level '0' (a whole number from 1 to 99)\n"},
      {{"--level", "-3"}, "q47: invalid level '-3' (a whole number from 1 to 99)\n"},
      {{"--level", "99999999999999999999"},
       "q47: invalid level '99999999999999999999' (a whole number from 1 to 99)\n"},
      {{"--mute=yes"}, "q47: option '--mute' doesn't allow an argument\n"},
      {{"stray"}, "q47: unexpected argument 'stray'\n"},
      {{"--check", "a", "b"}, "q47: unexpected argument 'b'\n"},
      {{"--play", "a", "--verify", "b"},
       "q47: --play, --verify, --check, --edit, --export-levels, --submit, --hub-key-export and "
       "--hub-key-import exclude each other\n"},
      {{"--submit", "--check"},
       "q47: --play, --verify, --check, --edit, --export-levels, --submit, --hub-key-export and "
       "--hub-key-import exclude each other\n"},
      {{"--hub", "http://h", "--play", "a"},
       "q47: --hub only goes with --submit, --hub-key-import or --edit\n"},
      {{"--submit", "--hub", ""}, "q47: option '--hub' needs a URL, not an empty one\n"},
      {{"--submit", "a", ""}, "q47: --submit needs replays' file names, not an empty one\n"},
      {{"--submit", "--mute"},
       "q47: --fullscreen, --window, --scale and --mute only go with a window (a game, --play or "
       "--edit)\n"},
      {{"--hub-key-export", "--levels", "p"},
       "q47: --levels does not go with --hub-key-export or --hub-key-import\n"},
      {{"--hub-key-export", "stray"}, "q47: unexpected argument 'stray'\n"},
      {{"--record", "a", "--check"}, "q47: --record only goes with a game that is played\n"},
      {{"--draw"}, "q47: --draw and --picture only go with --verify\n"},
      {{"--json"}, "q47: --json, --write-replays and --exact only go with --check\n"},
      {{"--exact"}, "q47: --json, --write-replays and --exact only go with --check\n"},
      {{"--check", "--time-limit", "5"}, "q47: --time-limit only goes with --exact\n"},
      {{"--check", "--exact", "--time-limit", "0"},
       "q47: invalid time limit '0' (whole seconds, from 1)\n"},
      {{"--check", "--exact", "--time-limit", "5s"},
       "q47: invalid time limit '5s' (whole seconds, from 1)\n"},
      {{"--level", "3", "--play", "a"}, "q47: --level only goes with a game that is played\n"},
      {{"--palette", "Marked"}, "q47: invalid palette 'Marked' (plain or marked)\n"},
      {{"--palette", ""}, "q47: invalid palette '' (plain or marked)\n"},
      {{"--palette", "plain", "--palette", "marked"}, "q47: option '--palette' given twice\n"},
      {{"--check", "--palette", "marked"},
       "q47: --palette only goes with a picture (a game, --play, --edit or --verify)\n"},
  };
  for (const auto& c : cases) {
    const Parsed parsed = parse(c.words);
    EXPECT_EQ(parsed.action, OptionsAction::ERROR) << c.problem;
    EXPECT_EQ(parsed.err, std::string(c.problem) + "Try 'q47 --help'.\n");
    EXPECT_TRUE(parsed.out.empty());
  }
}

class PracticeStart : public ::testing::Test {
 protected:
  void TearDown() override {
    game_end();
    game_options = GameOptions{};
  }
};

// --level skips the intro: the first frame already shows the level's board, the score is 0 and
// the music runs as after the intro.
TEST_F(PracticeStart, LevelNineIsOnFromTheFirstFrame) {
  game_harness::start();
  app_play(9);
  EXPECT_EQ(GAME.game_state, STATE_PLAYING);
  EXPECT_EQ(GAME.level_number, 9);
  EXPECT_EQ(GAME.score, 0);
  EXPECT_EQ(GAME.grid_width, 40);
  EXPECT_EQ(GAME.grid_height, 40);
  EXPECT_EQ(game_harness::count_heard(MUSIC_SLOT), 1);
  game_harness::frames(1);
  // A story screen is black but for one line of text; the board's walls, gauges and chemical
  // colour a good part of the screen.
  int coloured = 0;
  for (int y = 0; y < SCREEN_HEIGHT; y += 8) {
    for (int x = 0; x < SCREEN_WIDTH; x += 8) coloured += game_harness::pixel(x, y) != 0;
  }
  EXPECT_GT(coloured, 400);
}

// Muted, no device is opened and no cue but the music start is asked for, as without a device.
TEST_F(PracticeStart, MuteOpensNoDevice) {
  game_options.mute = 1;
  game_harness::start();
  app_play(1);
  EXPECT_EQ(GAME.sound_ok, 0);
  game_harness::click_cell(1, 5, 5);
  game_harness::tap(SDL_SCANCODE_R);
  EXPECT_EQ(game_harness::heard.size(), 1u);
  EXPECT_EQ(game_harness::count_heard(MUSIC_SLOT), 1);
}

}  // namespace
