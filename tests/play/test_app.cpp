// The program's one frame, driven as a player drives it: modes entered and left, the picture
// checked after, taps and keypad Enter through the real event pump.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "core/edit.h"
#include "core/level_pack.h"
#include "core/run.h"
#include "media/random.h"
#include "play/editor.h"
#include "tests/support/game_harness.h"

namespace gh = game_harness;

namespace {

class App : public ::testing::Test {
 protected:
  void SetUp() override { gh::start(); }
  void TearDown() override {
    sound_set_play_observer(nullptr);
    game_end();
    session_use_builtin_levels();
  }

  // The back buffer after n more frames, the picture's random choices seeded first.
  static std::vector<uint32_t> picture_after(int n) {
    random_seed(4747);
    gh::frames(n);
    return std::vector<uint32_t>(screen_pixels(), screen_pixels() + SCREEN_WIDTH * SCREEN_HEIGHT);
  }

  // A key pressed and let go between two frames, as xdotool and a quick finger send it.
  static void quick_tap(SDL_Scancode code) {
    gh::push_key(code, true);
    gh::push_key(code, false);
    gh::frames(1);
  }
};

TEST_F(App, ATapOrAZeroMsClickActsInTheFrameItCameIn) {
  int taps = 0;
  while (GAME.game_state == STATE_MESSAGE && taps < 30) {
    quick_tap(taps % 2 ? SDL_SCANCODE_SPACE : SDL_SCANCODE_RETURN);
    gh::frames(1);
    ++taps;
  }
  EXPECT_EQ(taps, 12);  // every tap moved the story on: twelve lines, then the level
  ASSERT_EQ(GAME.game_state, STATE_PLAYING);
  gh::push_move_to_cell(5, 5);
  gh::push_button(1, true);
  gh::push_button(1, false);
  gh::frames(1);
  EXPECT_EQ(GAME.at(5, 5).flags & CELL_WALL, CELL_WALL);
  EXPECT_EQ(GAME.barriers_left, 49);
  gh::frames(2);  // the release came in the next frame: a new press places again
  gh::push_move_to_cell(6, 5);
  gh::push_button(1, true);
  gh::push_button(1, false);
  gh::frames(2);
  EXPECT_EQ(GAME.barriers_left, 48);
  gh::push_key(SDL_SCANCODE_ESCAPE, true);
  gh::push_key(SDL_SCANCODE_ESCAPE, false);
  EXPECT_EQ(gh::frames(1), 0);  // a tapped Escape ends the run
}

TEST_F(App, KeypadEnterMovesTheStoryOnAndContinues) {
  int taps = 0;
  while (GAME.game_state == STATE_MESSAGE && taps < 30) {
    gh::tap(SDL_SCANCODE_KP_ENTER);
    ++taps;
  }
  EXPECT_EQ(taps, 12);
  ASSERT_EQ(GAME.game_state, STATE_PLAYING);
  for (auto [x, y] : {std::pair{10, 12}, {18, 16}, {10, 17}, {11, 18}}) gh::click_cell(1, x, y);
  ASSERT_EQ(GAME.contained, 1);
  gh::tap(SDL_SCANCODE_KP_ENTER);
  EXPECT_EQ(GAME.game_state, STATE_TALLY);
}

// Level 1 played with the keys alone: arrows to each gap of the leak's room, Space to wall it,
// Enter to continue; the cursor's outline shows only once the keys steer.
TEST_F(App, KeysAlonePlayALevelToItsTally) {
  app_play(1);
  gh::frames(2);
  EXPECT_EQ(app_session().view.key_cursor, 0);
  auto move = [](int dx, int dy) {
    for (; dx > 0; --dx) gh::tap(SDL_SCANCODE_RIGHT);
    for (; dx < 0; ++dx) gh::tap(SDL_SCANCODE_LEFT);
    for (; dy > 0; --dy) gh::tap(SDL_SCANCODE_DOWN);
    for (; dy < 0; ++dy) gh::tap(SDL_SCANCODE_UP);
  };
  // The pointer waits mid-screen: cell (15, 15) of level 1's 30 x 30.
  move(-5, -3);  // (10, 12)
  EXPECT_EQ(app_session().view.key_cursor, 1);
  EXPECT_EQ(GAME.cursor_x, 10);
  EXPECT_EQ(GAME.cursor_y, 12);
  gh::tap(SDL_SCANCODE_SPACE);
  move(8, 4);  // (18, 16)
  gh::tap(SDL_SCANCODE_SPACE);
  move(-8, 1);  // (10, 17)
  gh::tap(SDL_SCANCODE_SPACE);
  move(1, 1);                    // (11, 18)
  gh::tap(SDL_SCANCODE_DELETE);  // nothing to pick up on the floor
  gh::tap(SDL_SCANCODE_SPACE);
  EXPECT_EQ(GAME.barriers_left, 46);
  ASSERT_EQ(GAME.contained, 1);
  gh::tap(SDL_SCANCODE_RETURN);
  EXPECT_EQ(GAME.game_state, STATE_TALLY);
  // The mouse moving hands the board back to it, and the outline goes.
  app_play(1);
  gh::frames(2);
  gh::tap(SDL_SCANCODE_RIGHT);
  EXPECT_EQ(app_session().view.key_cursor, 1);
  gh::push_move_to(300, 300);
  gh::frames(2);
  EXPECT_EQ(app_session().view.key_cursor, 0);
}

// T in the editor plays the level in a session of its own: it looks exactly as the same pack
// played with --levels, chemical and all, and the editor comes back with its own picture.
TEST_F(App, ATestPlayLooksAsTheLevelPlayedAndTheEditorComesBackWhole) {
  EditSession edit;
  edit_start(edit, edit_new_pack());
  const LevelPack pack = edit.pack;
  app_edit(std::move(edit), "");
  gh::frames(2);
  const View editor_picture = editor_preview().view;
  gh::push_key(SDL_SCANCODE_T, true);
  gh::frames(1);
  ASSERT_EQ(app_mode(), AppMode::TEST_PLAY);
  gh::push_key(SDL_SCANCODE_T, false);
  const std::vector<uint32_t> tested = picture_after(60);
  ASSERT_EQ(GAME.game_state, STATE_PLAYING);
  int chemical = 0;
  for (const Cell& cell : GAME.grid) chemical += (cell.flags & CELL_CHEMICAL) != 0;
  ASSERT_GT(chemical, 0);

  gh::tap(SDL_SCANCODE_ESCAPE);
  ASSERT_EQ(app_mode(), AppMode::EDIT);
  EXPECT_EQ(editor_preview().view.hud_font, editor_picture.hud_font);
  EXPECT_EQ(editor_preview().view.chemical_palette[255], editor_picture.chemical_palette[255]);
  EXPECT_NE(editor_picture.chemical_palette[255], 0u);

  session_use_stream(level_pack_compile(pack));
  app_play(1);
  const std::vector<uint32_t> played = picture_after(60);
  size_t differing = 0;
  for (size_t i = 0; i < played.size(); ++i) differing += played[i] != tested[i];
  EXPECT_EQ(differing, 0u);
}

// A level won in play hands the run so far to the shell once, at its tally's first frame; that
// run proves the level won on the rules alone (a page on a hub sends it there).
TEST_F(App, ALevelWonAsksOnceWithTheRunThatProvesIt) {
  app_play(1);
  std::vector<AppAsk> asks;
  auto frames = [&](int n) {
    for (int i = 0; i < n; ++i) game_frame(&asks);
    gh::moves_pending = false;
  };
  frames(2);
  for (auto [x, y] : {std::pair{10, 12}, {18, 16}, {10, 17}, {11, 18}}) {
    gh::push_move_to_cell(x, y);
    gh::push_button(1, true);
    frames(1);
    gh::push_button(1, false);
    frames(1);
  }
  ASSERT_EQ(GAME.contained, 1);
  EXPECT_TRUE(asks.empty());
  gh::push_key(SDL_SCANCODE_RETURN, true);
  frames(1);
  gh::push_key(SDL_SCANCODE_RETURN, false);
  frames(40);  // the tally counts on: no second ask
  ASSERT_EQ(GAME.game_state, STATE_TALLY);
  ASSERT_EQ(asks.size(), 1u);
  EXPECT_EQ(asks[0].kind, AppAsk::Kind::LEVEL_WON);
  EXPECT_EQ(asks[0].level, 1);
  const RunOutcome outcome = run_replay(asks[0].run, level_stream_builtin(), RunLimits{});
  EXPECT_TRUE(outcome.matches) << outcome.refused << outcome.stopped;
  ASSERT_EQ(outcome.levels.size(), 1u);
  EXPECT_EQ(outcome.levels[0].level, 1);
  EXPECT_EQ(outcome.levels[0].score, 46);
}

// A replay watched ends the mode at its last frame; the frame then asks nothing more.
TEST_F(App, AWatchedRunEndsAndNothingRunsAfter) {
  std::vector<InputFrame> script(30);
  const Replay run = replay_run_script(script, 1);
  app_watch(run);
  int frames = 0;
  while (gh::frames(1) && frames < 100) ++frames;
  EXPECT_EQ(frames, 30);
  EXPECT_EQ(app_mode(), AppMode::ENDED);
  EXPECT_EQ(gh::frames(1), 0);
}

// Ctrl+U publishes only a pack whose every level has a proof that wins it as it is now: the
// plan shown (V) or a won test-play kept with K, on the pack as it is when Ctrl+U is pressed.
TEST_F(App, PublishingAsksForAProofOfEveryLevelAsItIsNow) {
  EditSession edit;
  edit_start(edit, edit_new_pack());
  app_edit(std::move(edit), "");
  std::vector<AppAsk> asks;
  auto frames_collecting = [&](int n) {
    for (int i = 0; i < n; ++i) game_frame(&asks);
  };
  auto key = [&](SDL_Scancode code, bool ctrl) {
    if (ctrl) gh::push_key(SDL_SCANCODE_LCTRL, true);
    gh::push_key(code, true);
    frames_collecting(1);
    gh::push_key(code, false);
    if (ctrl) gh::push_key(SDL_SCANCODE_LCTRL, false);
    frames_collecting(1);
  };
  auto published = [&] {
    return std::count_if(asks.begin(), asks.end(),
                         [](const AppAsk& ask) { return ask.kind == AppAsk::Kind::PUBLISH; });
  };
  key(SDL_SCANCODE_U, true);
  EXPECT_EQ(published(), 0);
  EXPECT_EQ(editor_said().rfind("LEVEL 1 LACKS A PROOF:", 0), 0u) << editor_said();

  for (int i = 0; i < 500 && !editor_verdict_known(); ++i) frames_collecting(1);
  ASSERT_TRUE(editor_verdict_known() && editor_verdict().winnable);
  // The exact search follows the verdict in the frames it leaves: this open room's best is the
  // bound, proven.
  for (int i = 0; i < 500 && !editor_exact(); ++i) frames_collecting(1);
  ASSERT_NE(editor_exact(), nullptr);
  EXPECT_TRUE(editor_exact()->best_proven);
  EXPECT_EQ(editor_exact()->best_score, editor_verdict().best_score_bound);
  key(SDL_SCANCODE_V, false);
  ASSERT_EQ(app_mode(), AppMode::SHOW_PLAN);
  key(SDL_SCANCODE_ESCAPE, false);
  ASSERT_EQ(app_mode(), AppMode::EDIT);
  key(SDL_SCANCODE_K, false);
  key(SDL_SCANCODE_U, true);
  ASSERT_EQ(published(), 1) << editor_said();
  const AppAsk& ask = *std::find_if(asks.begin(), asks.end(), [](const AppAsk& one) {
    return one.kind == AppAsk::Kind::PUBLISH;
  });
  EXPECT_EQ(ask.text, edit_text(editor_session()));
  ASSERT_EQ(ask.runs.size(), 1u);
  const RunOutcome outcome =
      run_replay(ask.runs[0], level_pack_compile(editor_session().pack), RunLimits{});
  EXPECT_TRUE(outcome.matches);
  ASSERT_EQ(outcome.levels.size(), 1u);
  EXPECT_EQ(outcome.levels[0].level, 1);
  // The hub answers beside the frame: the editor goes on, asks nothing twice, and Escape gives
  // up waiting without leaving the editor; an answer given up on is not shown.
  key(SDL_SCANCODE_U, true);
  EXPECT_EQ(published(), 1);
  EXPECT_EQ(editor_said(), "STILL PUBLISHING... (ESCAPE GIVES UP)");
  app_published("http://hub/packs/0123", "");
  EXPECT_EQ(editor_said(), "PUBLISHED: http://hub/packs/0123");
  key(SDL_SCANCODE_U, true);
  ASSERT_EQ(published(), 2) << editor_said();
  key(SDL_SCANCODE_ESCAPE, false);
  EXPECT_EQ(app_mode(), AppMode::EDIT);
  EXPECT_EQ(editor_said(), "NOT PUBLISHED: GIVEN UP WAITING FOR THE HUB");
  app_published("http://hub/packs/0123", "");
  EXPECT_EQ(editor_said(), "NOT PUBLISHED: GIVEN UP WAITING FOR THE HUB");
  key(SDL_SCANCODE_U, true);
  ASSERT_EQ(published(), 3) << editor_said();
  app_published("", "this pack is refused");
  EXPECT_EQ(editor_said(), "NOT PUBLISHED: this pack is refused");

  // Any change to the pack makes another pack: no proof recorded on the old one stands for it.
  auto prove_level = [&] {
    for (int i = 0; i < 500 && !editor_verdict_known(); ++i) frames_collecting(1);
    key(SDL_SCANCODE_V, false);
    key(SDL_SCANCODE_ESCAPE, false);
    key(SDL_SCANCODE_K, false);
  };
  key(SDL_SCANCODE_B, false);
  key(SDL_SCANCODE_U, true);
  EXPECT_EQ(published(), 3);
  EXPECT_EQ(editor_said().rfind("LEVEL 1 LACKS A PROOF OF THE PACK AS IT IS NOW", 0), 0u)
      << editor_said();
  key(SDL_SCANCODE_Z, true);  // undone: the pack, and so its proof, is the one published
  key(SDL_SCANCODE_U, true);
  EXPECT_EQ(published(), 4) << editor_said();
  app_published("http://hub/packs/0456", "");
  key(SDL_SCANCODE_INSERT, false);
  key(SDL_SCANCODE_PAGEUP, false);
  ASSERT_EQ(editor_level_number(), 1);
  prove_level();
  key(SDL_SCANCODE_U, true);
  EXPECT_EQ(published(), 4);
  EXPECT_EQ(editor_said().rfind("LEVEL 2 LACKS A PROOF:", 0), 0u) << editor_said();
  app_stop();
}

}  // namespace

// The frame says what happened, on boards of any shape: a story line, a level begun with its
// barriers, each barrier placed, the loss once at the frame the chemical first touches an edge, the
// level begun again on R; the settings screen opened with its row, a row selected, a volume down,
// closed.
TEST_F(App, EachFrameTellsItsEventsOnAnyBoard) {
  using Kind = AppEvent::Kind;
  std::vector<AppEvent> events;
  auto frames = [&](int n) {
    for (int i = 0; i < n; ++i) {
      AppFrame frame = app_frame(session_window_device());
      events.insert(events.end(), frame.events.begin(), frame.events.end());
    }
    gh::moves_pending = false;
  };
  auto count = [&](Kind kind) {
    return std::count_if(events.begin(), events.end(),
                         [&](const AppEvent& e) { return e.kind == kind; });
  };
  for (auto [width, height] : {std::pair{8, 5}, {5, 8}, {8, 8}}) {
    SCOPED_TRACE(std::to_string(width) + "x" + std::to_string(height));
    std::string text = "q47-level-pack 1\nintro\n  white \"$GO\"\nend\nlevel\n  size " +
                       std::to_string(width) + " " + std::to_string(height) +
                       "\n  barriers 3\n  rate 60\n  map\n";
    for (int y = 0; y < height; ++y) {
      std::string row(static_cast<size_t>(width), '.');
      if (y == height / 2) row[static_cast<size_t>(width / 2)] = 'I';
      text += "    " + row + "\n";
    }
    text += "end\nfinal\n  white \"$DONE\"\n  black \"~\"\nend\n";
    LevelPack pack;
    std::vector<PackProblem> problems;
    ASSERT_TRUE(level_pack_parse(text, pack, problems)) << level_pack_problems_text("t", problems);
    session_use_stream(level_pack_compile(pack));
    app_play(0);  // the intro: its line is told once, for a page to show where the picture is small
    events.clear();
    frames(3);
    ASSERT_EQ(count(Kind::STORY_LINE), 1);
    EXPECT_EQ(events[0].text, "GO");
    app_play(1);
    events.clear();
    frames(2);
    ASSERT_EQ(GAME.game_state, STATE_PLAYING);
    ASSERT_EQ(count(Kind::LEVEL_BEGUN), 1);
    EXPECT_EQ(events[0].level, 1);
    EXPECT_EQ(events[0].barriers, 3);
    gh::push_move_to_cell(0, 0);
    gh::push_button(1, true);
    frames(1);
    gh::push_button(1, false);
    frames(1);
    ASSERT_EQ(count(Kind::BARRIER_PLACED), 1);
    EXPECT_EQ(events.back().x, 0);
    EXPECT_EQ(events.back().y, 0);
    EXPECT_EQ(events.back().barriers, 2);
    // Told at the very frame the edge is reached, and only then.
    int waited = 0;
    while (!GAME.edge_reached && waited < 3000) {
      EXPECT_EQ(count(Kind::LEVEL_LOST), 0);
      frames(1);
      ++waited;
    }
    ASSERT_EQ(GAME.edge_reached, 1);
    ASSERT_EQ(count(Kind::LEVEL_LOST), 1);
    EXPECT_EQ(events.back().text, "the chemical reached the edge");
    frames(50);
    EXPECT_EQ(count(Kind::LEVEL_LOST), 1);
    events.clear();
    gh::push_key(SDL_SCANCODE_R, true);
    frames(1);
    gh::push_key(SDL_SCANCODE_R, false);
    frames(3);
    EXPECT_EQ(GAME.edge_reached, 0);
    ASSERT_EQ(count(Kind::LEVEL_BEGUN), 1);
    EXPECT_EQ(events[0].barriers, 3);
  }
  // The settings screen: opened on its first row, a row down, a volume up, closed.
  events.clear();
  gh::push_key(SDL_SCANCODE_F2, true);
  frames(1);
  gh::push_key(SDL_SCANCODE_F2, false);
  frames(1);
  ASSERT_EQ(count(Kind::SCREEN_OPENED), 1);
  EXPECT_EQ(events[0].text,
            "SETTINGS: EFFECTS VOLUME " + std::to_string(app_settings().effects_volume));
  for (SDL_Scancode code : {SDL_SCANCODE_DOWN, SDL_SCANCODE_LEFT, SDL_SCANCODE_ESCAPE}) {
    gh::push_key(code, true);
    frames(1);
    gh::push_key(code, false);
    frames(1);
  }
  ASSERT_EQ(events.size(), 4u);
  EXPECT_EQ(events[1].kind, Kind::ROW_SELECTED);
  EXPECT_EQ(events[2].kind, Kind::SETTING_CHANGED);
  EXPECT_EQ(events[2].text, "MUSIC VOLUME " + std::to_string(app_settings().music_volume));
  EXPECT_EQ(events[3].kind, Kind::SCREEN_CLOSED);
}
