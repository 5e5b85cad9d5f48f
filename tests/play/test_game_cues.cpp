// The game's sound cues heard through the real loop, driven by pushed input: which slot each
// event plays, in what order within one frame, which story lines sound and when, what start-up
// puts into the slots, and what a machine without a sound device still asks for.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <string>
#include <vector>

#include "core/level_stream.h"
#include "media/sound.h"
#include "tests/support/game_harness.h"
#include "tests/support/game_state.h"

namespace gh = game_harness;
namespace fs = std::filesystem;

namespace {

const char* const SOUND_FILES[10] = {"warn.wav", "clean.wav", "click.wav", "win.wav",
                                     "lose.wav", "bump.wav",  "take.wav",  "nitr.wav",
                                     "q47.ogg",  "cant.wav"};  // by slot

// One sound_play call and what the game held at that moment, so a test can tell on which side
// of a reload or of a containment check the cue was asked for.
struct Heard {
  int32_t slot;
  int32_t flags;
  int32_t barriers_left;
  int32_t fill_generation;  // grows by one with every containment check
};

std::vector<Heard> heard;

void hear(int32_t slot, int32_t flags) {
  heard.push_back({slot, flags, GAME.barriers_left, GAME.fill_generation});
}

// The slots of the calls heard after the first mark ones.
std::vector<int32_t> slots_since(size_t mark = 0) {
  std::vector<int32_t> slots;
  for (size_t i = mark; i < heard.size(); ++i) slots.push_back(heard[i].slot);
  return slots;
}

// The effect a story line's first character asks for, if any.
std::vector<int32_t> line_cue(const std::string& line) {
  if (line.empty()) return {};
  if (line[0] == '#') return {SOUND_WARN};
  if (line[0] == '$') return {SOUND_CLICK};
  if (line[0] == '%') return {SOUND_CANT};
  return {};
}

// Whether slot holds a sound: an effect starts when played, the music streams on.
bool slot_loaded(int32_t slot) {
  if (slot != MUSIC_SLOT) return sound_play(slot) != 0;
  sound_play(slot, SOUND_PLAY_LOOP);
  const bool playing = sound_playing(slot) == 1;
  sound_stop(slot);
  return playing;
}

fs::path assets() { return fs::path(Q47_BINARY_DIR) / "assets"; }

class GameCues : public ::testing::Test {
 protected:
  void TearDown() override {
    sound_set_play_observer(nullptr);
    if (running) game_end();
    if (!home.empty()) fs::current_path(home);
  }

  // Starts the real game as the harness does, but on the given SDL audio driver and from the
  // given working directory (where the game looks for its sound files).
  void start(const char* audio_driver, const fs::path& directory) {
    if (home.empty()) home = fs::current_path();
    fs::current_path(directory);
    setenv("SDL_VIDEODRIVER", "dummy", 1);
    setenv("SDL_AUDIODRIVER", audio_driver, 1);
    heard.clear();
    sound_set_play_observer(hear);
    game_startup();
    running = true;
    screen_set_frame_rate(0);
    gh::push_focus(true);
  }

  void end() {
    sound_set_play_observer(nullptr);
    game_end();
    running = false;
    fs::current_path(home);
  }

  // Frames until the tally is over.
  static void run_tally() {
    for (int frame = 0; frame < 1000 && GAME.game_state == STATE_TALLY; ++frame) gh::frames(1);
  }

  fs::path home;         // working directory to go back to
  bool running = false;  // game_startup ran and game_end has not
};

TEST_F(GameCues, OneFrameSoundsTabThenTheSpreadThenTheButtonsThenR) {
  start("dummy", fs::current_path());
  gh::skip_intro();
  // Tab and R go down in a frame of their own, so that both releases fall in the frame below.
  gh::push_key(SDL_SCANCODE_TAB, true);
  gh::push_key(SDL_SCANCODE_R, true);
  gh::frames(1);
  // A leak already past the threshold in column 1: the next spread pass, column by column,
  // enters the edge cell left of it, then the "T" above it, then the "N" below it.
  gh::clear_grid();
  GAME.at(1, 5) = Cell{5000, CELL_CHEMICAL, 0, 0};
  GAME.at(1, 4).flags = CELL_TETRA;
  GAME.at(1, 6).flags = CELL_NITRO;
  GAME.barriers_left = 1;
  const int32_t generation = GAME.fill_generation;
  gh::push_move_to_cell(20, 20);
  gh::push_button(1, true);
  gh::push_key(SDL_SCANCODE_TAB, false);
  gh::push_key(SDL_SCANCODE_R, false);
  heard.clear();
  gh::frames(1);
  ASSERT_EQ(slots_since(), (std::vector<int32_t>{SOUND_TAKE, SOUND_LOSE, SOUND_TAKE, SOUND_NITR,
                                                 SOUND_CANT, SOUND_BUMP, SOUND_BUMP}));
  for (const Heard& cue : heard) EXPECT_EQ(cue.flags, 0) << "every effect plays once";
  // The last barrier's cue comes before its containment check, the bump after it.
  EXPECT_EQ(heard[4].fill_generation, generation);
  EXPECT_EQ(heard[5].fill_generation, generation + 1);
  // R's bump is heard on the lost level, before the reload gives the barriers back.
  EXPECT_EQ(heard[6].barriers_left, 0);
  EXPECT_EQ(GAME.barriers_left, 50);
  EXPECT_EQ(GAME.edge_reached, 0);
  EXPECT_EQ(GAME.plain_view, 1);
}

TEST_F(GameCues, TheLossSoundsOncePerLevel) {
  start("dummy", fs::current_path());
  gh::skip_intro();
  auto leak_beside_both_side_edges = [] {
    gh::clear_grid();
    GAME.at(1, 5) = Cell{5000, CELL_CHEMICAL, 0, 0};
    GAME.at(28, 5) = Cell{5000, CELL_CHEMICAL, 0, 0};
  };
  leak_beside_both_side_edges();
  heard.clear();
  gh::frames(1);
  EXPECT_EQ(slots_since(), std::vector<int32_t>{SOUND_LOSE}) << "two edge cells, one cue";
  EXPECT_GT(GAME.shake_frames, 0);
  gh::frames(140);  // the chemical runs along both edges
  EXPECT_EQ(GAME.at(0, 3).flags, CELL_CHEMICAL);
  EXPECT_EQ(slots_since(), std::vector<int32_t>{SOUND_LOSE});
  gh::tap(SDL_SCANCODE_R);
  leak_beside_both_side_edges();
  gh::frames(1);
  EXPECT_EQ(slots_since(), (std::vector<int32_t>{SOUND_LOSE, SOUND_BUMP, SOUND_LOSE}))
      << "a restarted level can be lost, and heard lost, again";
}

TEST_F(GameCues, ContainmentIsJudgedBeforeTheFramesEnterAndItsWinBeforeThePickUp) {
  start("dummy", fs::current_path());
  gh::skip_intro();
  // A leak shut in a box from the start; no check has run yet, so the level is not contained.
  gh::clear_grid();
  level_set_row(GAME, 4, "....WWW");
  level_set_row(GAME, 5, "....WIW");
  level_set_row(GAME, 6, "....WWW");
  GAME.at(20, 20).flags = CELL_WALL;
  ASSERT_EQ(GAME.contained, 0);

  // Taking up a wall far away runs the first check: the win comes before the pick-up's own cue.
  heard.clear();
  gh::click_cell(2, 20, 20);
  EXPECT_EQ(slots_since(), (std::vector<int32_t>{SOUND_WIN, SOUND_TAKE}));
  EXPECT_EQ(GAME.contained, 1);

  // Enter released in the frame that opens the box is judged after the pick-up: no clean-up.
  gh::push_key(SDL_SCANCODE_RETURN, true);
  gh::frames(1);
  size_t mark = heard.size();
  gh::push_move_to_cell(5, 4);
  gh::push_button(2, true);
  gh::push_key(SDL_SCANCODE_RETURN, false);
  gh::frames(1);
  gh::push_button(2, false);
  gh::frames(1);
  EXPECT_EQ(slots_since(mark), std::vector<int32_t>{SOUND_TAKE});
  EXPECT_EQ(GAME.game_state, STATE_PLAYING);

  // Closing it again with the last barrier, Enter released in the same frame: the empty hand,
  // the win, the bump, and then the clean-up that starts the tally.
  GAME.barriers_left = 1;
  gh::push_key(SDL_SCANCODE_RETURN, true);
  gh::frames(1);
  mark = heard.size();
  gh::push_button(1, true);
  gh::push_key(SDL_SCANCODE_RETURN, false);
  gh::frames(1);
  EXPECT_EQ(slots_since(mark),
            (std::vector<int32_t>{SOUND_CANT, SOUND_WIN, SOUND_BUMP, SOUND_CLEAN}));
  EXPECT_EQ(heard[mark].fill_generation + 1, heard[mark + 1].fill_generation);
  EXPECT_EQ(GAME.game_state, STATE_TALLY);
  EXPECT_EQ(GAME.tally_frames, 30);
  // Holding the button through the tally places nothing and sounds nothing.
  gh::frames(5);
  EXPECT_EQ(heard.size(), mark + 4);
}

// A whole run on a device, from our own files: each story line sounds its cue once, in the
// first frame it shows; winning sounds the clean-up; and the music started by the intro's "*"
// plays through every level, a restart and two display switches, until the final "&".
TEST_F(GameCues, AWholeRunSoundsEachLineOnceAndTheMusicFromTheStarToTheAmpersand) {
  start("dummy", assets());
  ASSERT_EQ(GAME.sound_ok, 1);
  bool music_stopped = false;
  for (int block = 1; block <= 9; ++block) {
    SCOPED_TRACE("block " + std::to_string(block));
    ASSERT_EQ(GAME.game_state, STATE_MESSAGE);
    for (int line = 0; GAME.game_state == STATE_MESSAGE; ++line) {
      ASSERT_LT(line, 30);
      // The line read by the last release is shown, and its cue taken, from this frame on.
      std::string raw = GAME.message_line;
      if (raw == "&") {
        // Never shown: the music stops and the entry after it is handled in the same frame.
        const size_t at = GAME.level_data_cursor;
        raw = level_read_string(GAME);
        GAME.level_data_cursor = at;
        music_stopped = true;
      }
      const size_t mark = heard.size();
      const int32_t going = gh::frames(1);
      EXPECT_EQ(slots_since(mark), line_cue(raw)) << raw;
      EXPECT_EQ(sound_playing(MUSIC_SLOT), block > 1 && !music_stopped ? 1 : 0) << raw;
      if (!going) {
        EXPECT_EQ(raw, "~");
        EXPECT_EQ(block, 9);
        break;
      }
      gh::frames(2);
      EXPECT_EQ(slots_since(mark), line_cue(raw)) << raw << ": once, not every frame";
      const size_t before_release = heard.size();
      gh::tap(line % 2 ? SDL_SCANCODE_SPACE : SDL_SCANCODE_RETURN);
      const bool intro_ends = block == 1 && GAME.game_state == STATE_PLAYING;
      EXPECT_EQ(slots_since(before_release),
                intro_ends ? std::vector<int32_t>{MUSIC_SLOT} : std::vector<int32_t>{});
      if (intro_ends) {
        EXPECT_EQ(heard.back().flags, SOUND_PLAY_LOOP);
        EXPECT_EQ(sound_playing(MUSIC_SLOT), 1);
      }
    }
    if (GAME.quit_requested) break;
    // The levels up to the next story screen (two in a row after levels 7 and 8).
    while (GAME.game_state == STATE_PLAYING) {
      SCOPED_TRACE("level " + std::to_string(GAME.level_number));
      if (GAME.level_number == 1) {
        gh::click_cell(1, 2, 2);
        size_t mark = heard.size();
        gh::tap(SDL_SCANCODE_R);
        ASSERT_EQ(slots_since(mark), std::vector<int32_t>{SOUND_BUMP});
        EXPECT_EQ(heard[mark].barriers_left, 49) << "heard before the reload";
        EXPECT_EQ(GAME.barriers_left, 50);
      }
      if (GAME.level_number == 2) {
        gh::push_key(SDL_SCANCODE_LCTRL, true);
        gh::tap(SDL_SCANCODE_F);
        ASSERT_EQ(VIEW.windowed, 0);
        gh::push_focus(true);
        gh::tap(SDL_SCANCODE_F);
        gh::push_key(SDL_SCANCODE_LCTRL, false);
        gh::push_focus(true);
        gh::frames(1);
        ASSERT_EQ(VIEW.windowed, 1);
      }
      EXPECT_EQ(sound_playing(MUSIC_SLOT), 1);
      GAME.contained = 1;
      const size_t mark = heard.size();
      gh::tap(SDL_SCANCODE_RETURN);
      ASSERT_EQ(GAME.game_state, STATE_TALLY);
      gh::tap(SDL_SCANCODE_TAB);  // not live in the tally
      run_tally();
      EXPECT_EQ(slots_since(mark), std::vector<int32_t>{SOUND_CLEAN});
    }
  }
  EXPECT_EQ(GAME.level_number, 11);
  EXPECT_TRUE(music_stopped);
  int music_starts = 0;
  for (const Heard& cue : heard) music_starts += cue.slot == MUSIC_SLOT;
  EXPECT_EQ(music_starts, 1) << "started once for the whole run";
}

// No device, though the files are there: nothing is loaded, and of every cue of a run only the
// music start is still asked for. The rules carry on as with sound, less the shake.
TEST_F(GameCues, WithoutADeviceOnlyTheMusicStartIsAskedFor) {
  start("no-such-driver", assets());
  ASSERT_EQ(GAME.sound_ok, 0);
  gh::skip_intro();
  gh::click_cell(1, 2, 2);
  gh::click_cell(2, 2, 2);
  gh::tap(SDL_SCANCODE_TAB);
  gh::tap(SDL_SCANCODE_TAB);
  // Into an "N", a "T" and an edge cell at once, with the last barrier placed in that frame.
  gh::clear_grid();
  GAME.at(1, 5) = Cell{5000, CELL_CHEMICAL, 0, 0};
  GAME.at(1, 4).flags = CELL_TETRA;
  GAME.at(1, 6).flags = CELL_NITRO;
  GAME.barriers_left = 1;
  gh::click_cell(1, 20, 20);
  EXPECT_EQ(GAME.edge_reached, 1);
  EXPECT_EQ(GAME.shake_frames, 0);
  EXPECT_EQ(GAME.spread_rate, 32);
  EXPECT_EQ(GAME.barriers_left, 0);
  gh::click_cell(1, 21, 20);  // an empty hand
  gh::tap(SDL_SCANCODE_R);
  // Shut a box with a barrier and win with Enter.
  gh::clear_grid();
  level_set_row(GAME, 4, "....WWW");
  level_set_row(GAME, 5, "....WI.");
  level_set_row(GAME, 6, "....WWW");
  gh::click_cell(1, 6, 5);
  ASSERT_EQ(GAME.contained, 1);
  gh::tap(SDL_SCANCODE_RETURN);
  ASSERT_EQ(GAME.game_state, STATE_TALLY);
  // The final block, with its "$", "&" and "%" lines, to the end of the run.
  load_level(GAME, 10);
  GAME.contained = 1;
  gh::tap(SDL_SCANCODE_RETURN);
  run_tally();
  ASSERT_EQ(GAME.level_number, 11);
  // Space down and up in turn until the frame that shows the "~" line ends the run.
  int32_t going = 1;
  for (int frame = 0; going && frame < 100; ++frame) {
    gh::push_key(SDL_SCANCODE_SPACE, frame % 2 == 0);
    going = gh::frames(1);
  }
  EXPECT_EQ(GAME.message_line, "~");

  ASSERT_EQ(heard.size(), 1u);
  EXPECT_EQ(heard[0].slot, MUSIC_SLOT);
  EXPECT_EQ(heard[0].flags, SOUND_PLAY_LOOP);
  sound_set_play_observer(nullptr);
  for (int32_t slot = 0; slot < 10; ++slot) {
    EXPECT_EQ(sound_play(slot), 0) << SOUND_FILES[slot] << " was loaded without a device";
  }
}

// With a device, each file goes into its own slot (a missing file silences that slot alone)
// and the warning and the pick-up sit at 75 per cent, the rest at full volume.
TEST_F(GameCues, StartUpLoadsEachFileIntoItsSlotAtItsVolume) {
  const fs::path directory = fs::temp_directory_path() / ("q47_cues_" + std::to_string(getpid()));
  for (int32_t missing = -1; missing < 10; ++missing) {
    SCOPED_TRACE(missing < 0 ? std::string("all files")
                             : std::string("without ") + SOUND_FILES[missing]);
    fs::remove_all(directory);
    fs::create_directories(directory);
    for (int32_t slot = 0; slot < 10; ++slot) {
      if (slot == missing) continue;
      fs::copy_file(assets() / SOUND_FILES[slot], directory / SOUND_FILES[slot]);
    }
    start("dummy", directory);
    ASSERT_EQ(GAME.sound_ok, 1);
    EXPECT_TRUE(heard.empty()) << "start-up plays nothing";
    if (missing < 0) {
      // Hundredths of a decibel: 75 per cent is 20 log10(0.75) = -2.5 dB.
      const int32_t quieter = static_cast<int32_t>(std::lround(2000 * std::log10(0.75)));
      for (int32_t slot = 0; slot < 10; ++slot) {
        const bool lowered = slot == SOUND_WARN || slot == SOUND_TAKE;
        EXPECT_NEAR(sound_volume(slot), lowered ? quieter : 0, 1) << SOUND_FILES[slot];
      }
    }
    for (int32_t slot = 0; slot < 10; ++slot) {
      EXPECT_EQ(slot_loaded(slot), slot != missing) << SOUND_FILES[slot];
    }
    end();
  }
  fs::remove_all(directory);
}

}  // namespace
