// The real main loop, driven frame by frame with pushed keyboard, mouse and window events.
#include <gtest/gtest.h>

#include <string>

#include "core/level_stream.h"
#include "desktop/display.h"
#include "media/window.h"
#include "tests/support/game_harness.h"
#include "tests/support/game_state.h"

namespace gh = game_harness;

namespace {

class GamePlay : public ::testing::Test {
 protected:
  void SetUp() override {
    gh::start();
    GAME.sound_ok = 1;  // hear every cue even where the machine has no audio device
  }
  void TearDown() override {
    sound_set_play_observer(nullptr);
    game_end();
  }

  // Walls in level 1's leak: its room has four gaps.
  static void contain_level_1() {
    for (auto [x, y] : {std::pair{10, 12}, {18, 16}, {10, 17}, {11, 18}}) gh::click_cell(1, x, y);
  }

  // Frames until the state leaves the tally.
  static int run_tally() {
    int frames = 0;
    while (GAME.game_state == STATE_TALLY && frames < 1000) {
      gh::frames(1);
      ++frames;
    }
    return frames;
  }
};

TEST_F(GamePlay, IntroAdvancesOnlyOnReleasesOfSpaceOrEnter) {
  EXPECT_EQ(GAME.game_state, STATE_MESSAGE);
  gh::frames(1);
  EXPECT_EQ(GAME.message_line, "WARNING");
  EXPECT_EQ(GAME.message_colour, 0x0000FFu);
  EXPECT_EQ(gh::count_heard(SOUND_WARN), 1);
  // Held keys do not race through the block, and the cue does not repeat. A line read at a
  // release is shown (its cue taken) from the next frame on.
  gh::push_key(SDL_SCANCODE_SPACE, true);
  gh::frames(10);
  EXPECT_EQ(GAME.message_line, "WARNING");
  gh::push_key(SDL_SCANCODE_SPACE, false);
  gh::frames(2);
  EXPECT_EQ(GAME.message_line, "STRUCTURAL FAILURE DETECTED IN STORAGE SECTOR");
  gh::push_key(SDL_SCANCODE_RETURN, true);
  gh::frames(10);
  EXPECT_EQ(GAME.message_line, "STRUCTURAL FAILURE DETECTED IN STORAGE SECTOR");
  gh::push_key(SDL_SCANCODE_RETURN, false);
  gh::frames(2);
  EXPECT_EQ(GAME.message_line, "WARNING");
  EXPECT_EQ(gh::count_heard(SOUND_WARN), 2);
  EXPECT_FALSE(gh::pointer_visible());  // captured by the game during the intro
  int releases = 0;
  while (GAME.game_state == STATE_MESSAGE && releases < 20) {
    gh::tap(releases % 2 ? SDL_SCANCODE_SPACE : SDL_SCANCODE_RETURN);
    ++releases;
  }
  EXPECT_EQ(releases, 10);  // lines 4 to 12, then the "*" that ends the block
  EXPECT_EQ(GAME.game_state, STATE_PLAYING);
  EXPECT_EQ(GAME.level_number, 1);
  EXPECT_EQ(GAME.barriers_left, 50);
  EXPECT_EQ(gh::count_heard(SOUND_WARN), 3);
  EXPECT_EQ(gh::count_heard(SOUND_CLICK), 3);
  // The music starts looping on the "*" and is the last thing the block does.
  ASSERT_FALSE(gh::heard.empty());
  EXPECT_EQ(gh::heard.back(), std::make_pair(MUSIC_SLOT, 1));
  EXPECT_EQ(gh::count_heard(MUSIC_SLOT), 1);
  EXPECT_EQ(mouse_x(), 320);
  EXPECT_EQ(mouse_y(), 240);
  // From the first level on the system pointer stays visible over the window.
  gh::frames(3);
  EXPECT_TRUE(gh::pointer_visible());
}

TEST_F(GamePlay, WithoutSoundNoCueButTheMusicStartIsStillIssued) {
  GAME.sound_ok = 0;
  gh::skip_intro();
  ASSERT_EQ(gh::heard.size(), 1u);
  EXPECT_EQ(gh::heard[0], std::make_pair(MUSIC_SLOT, 1));
}

TEST_F(GamePlay, SpaceReleasedWithEnterAdvancesOneLineOnly) {
  gh::frames(1);
  gh::push_key(SDL_SCANCODE_SPACE, true);
  gh::push_key(SDL_SCANCODE_RETURN, true);
  gh::frames(1);
  gh::push_key(SDL_SCANCODE_SPACE, false);
  gh::push_key(SDL_SCANCODE_RETURN, false);
  gh::frames(3);
  EXPECT_EQ(GAME.message_line, "STRUCTURAL FAILURE DETECTED IN STORAGE SECTOR");
}

TEST_F(GamePlay, PlacingDraggingAndPickingUpUnderThePointer) {
  gh::skip_intro();
  gh::heard.clear();
  gh::push_move_to_cell(2, 2);
  gh::push_button(1, true);
  gh::frames(1);
  EXPECT_EQ(GAME.at(2, 2).flags, CELL_WALL);
  EXPECT_EQ(GAME.barriers_left, 49);
  EXPECT_EQ(gh::count_heard(SOUND_BUMP), 1);
  gh::frames(3);  // held on the same cell: nothing more
  EXPECT_EQ(GAME.barriers_left, 49);
  // Dragging places one barrier in each cell the pointer is over at a frame, skipping none
  // that it stops on and touching none that it jumps over.
  gh::push_move_to_cell(3, 2);
  gh::frames(1);
  gh::push_move_to_cell(5, 2);
  gh::frames(1);
  gh::push_button(1, false);
  gh::frames(1);
  EXPECT_EQ(GAME.at(3, 2).flags, CELL_WALL);
  EXPECT_EQ(GAME.at(4, 2).flags, 0);
  EXPECT_EQ(GAME.at(5, 2).flags, CELL_WALL);
  EXPECT_EQ(GAME.barriers_left, 47);
  EXPECT_EQ(gh::count_heard(SOUND_BUMP), 3);

  gh::click_cell(2, 3, 2);
  EXPECT_EQ(GAME.at(3, 2).flags, 0);
  EXPECT_EQ(GAME.barriers_left, 48);
  EXPECT_EQ(gh::count_heard(SOUND_TAKE), 1);
  ASSERT_EQ(GAME.at(12, 10).flags, CELL_WALL);  // a wall of the map comes up too
  gh::click_cell(2, 12, 10);
  EXPECT_EQ(GAME.at(12, 10).flags, 0);
  EXPECT_EQ(GAME.barriers_left, 49);
  EXPECT_EQ(gh::count_heard(SOUND_TAKE), 2);

  // Off the board nothing is placed, however long the button is held.
  gh::push_move_to(40, 100);
  gh::push_button(1, true);
  gh::frames(3);
  gh::push_button(1, false);
  gh::frames(1);
  EXPECT_EQ(gh::count_heard(SOUND_BUMP), 3);
}

TEST_F(GamePlay, EmptyHandCueOncePerPress) {
  gh::skip_intro();
  load_level(GAME, 8);  // starts with no barriers at all
  gh::heard.clear();
  gh::push_move_to_cell(1, 1);
  gh::push_button(1, true);
  gh::frames(6);
  EXPECT_EQ(gh::count_heard(SOUND_CANT), 1);
  gh::push_button(1, false);
  gh::frames(1);
  gh::push_button(1, true);
  gh::frames(4);
  EXPECT_EQ(gh::count_heard(SOUND_CANT), 2);
  EXPECT_EQ(GAME.barriers_left, 0);
}

TEST_F(GamePlay, EnterWinsOnlyWhileContainedAndTheTallyLastsTheHand) {
  gh::skip_intro();
  gh::tap(SDL_SCANCODE_RETURN);
  EXPECT_EQ(GAME.game_state, STATE_PLAYING);
  contain_level_1();
  ASSERT_EQ(GAME.contained, 1);
  EXPECT_EQ(gh::count_heard(SOUND_WIN), 1);
  gh::click_cell(1, 0, 29);  // one more, far away: 45 in hand
  ASSERT_EQ(GAME.barriers_left, 45);
  gh::heard.clear();
  gh::push_key(SDL_SCANCODE_RETURN, true);
  gh::frames(1);
  gh::push_key(SDL_SCANCODE_RETURN, false);
  gh::frames(1);
  EXPECT_EQ(GAME.game_state, STATE_TALLY);
  EXPECT_EQ(gh::heard, (std::vector<std::pair<int32_t, int32_t>>{{SOUND_CLEAN, 0}}));
  EXPECT_EQ(GAME.barriers_left, 45);  // the first barrier drains in the next frame
  gh::frames(1);
  EXPECT_EQ(GAME.barriers_left, 44);
  EXPECT_EQ(GAME.score, 1);
  EXPECT_EQ(run_tally() + 1, 45);
  EXPECT_EQ(GAME.score, 45);
  // Level 1 is followed by its story block, then level 2.
  EXPECT_EQ(GAME.game_state, STATE_MESSAGE);
  EXPECT_EQ(GAME.level_number, 2);
  gh::frames(1);
  EXPECT_EQ(GAME.message_line, "WELL DONE! THE DAY IS SAV-");
}

TEST_F(GamePlay, AnEmptyHandStillTalliesForThirtyFrames) {
  gh::skip_intro();
  contain_level_1();
  // Drag the other 46 barriers along the two top rows.
  gh::push_button(1, true);
  for (int i = 0; i < 46; ++i) {
    gh::push_move_to_cell(i % 30, i / 30);
    gh::frames(1);
  }
  gh::push_button(1, false);
  gh::frames(1);
  ASSERT_EQ(GAME.barriers_left, 0);
  ASSERT_EQ(GAME.contained, 1);
  gh::tap(SDL_SCANCODE_RETURN);
  ASSERT_EQ(GAME.game_state, STATE_TALLY);
  EXPECT_EQ(run_tally(), 30);
  EXPECT_EQ(GAME.score, 0);
  EXPECT_EQ(GAME.game_state, STATE_MESSAGE);
}

TEST_F(GamePlay, WhichScreenFollowsEachWonLevel) {
  gh::skip_intro();
  // Win each level as it comes by declaring it contained; what follows is the loop's choice.
  for (int level = 1; level <= 9; ++level) {
    ASSERT_EQ(GAME.game_state, STATE_PLAYING);
    ASSERT_EQ(GAME.level_number, level);
    GAME.contained = 1;
    gh::tap(SDL_SCANCODE_RETURN);
    run_tally();
    if (level == 7 || level == 8) {
      EXPECT_EQ(GAME.game_state, STATE_PLAYING) << level;  // straight on, no story screen
      EXPECT_EQ(GAME.level_number, level + 1);
      continue;
    }
    EXPECT_EQ(GAME.game_state, STATE_MESSAGE) << level;
    EXPECT_EQ(GAME.level_number, level + 1);
    gh::skip_intro();
  }
  EXPECT_EQ(GAME.level_number, 10);
  EXPECT_EQ(GAME.grid_width, 30);
}

TEST_F(GamePlay, RestartKeepsTheScoreAndIsLiveOnlyInPlay) {
  gh::skip_intro();
  GAME.score = 17;
  gh::click_cell(1, 2, 2);
  gh::click_cell(1, 3, 2);
  ASSERT_EQ(GAME.barriers_left, 48);
  gh::heard.clear();
  gh::tap(SDL_SCANCODE_R);
  EXPECT_EQ(GAME.barriers_left, 50);
  EXPECT_EQ(GAME.at(2, 2).flags, 0);
  EXPECT_EQ(GAME.score, 17);
  EXPECT_EQ(GAME.level_number, 1);
  EXPECT_EQ(GAME.game_state, STATE_PLAYING);
  EXPECT_EQ(gh::heard, (std::vector<std::pair<int32_t, int32_t>>{{SOUND_BUMP, 0}}));
  // During the tally R does nothing.
  GAME.contained = 1;
  gh::tap(SDL_SCANCODE_RETURN);
  ASSERT_EQ(GAME.game_state, STATE_TALLY);
  const int32_t before = GAME.score;
  gh::tap(SDL_SCANCODE_R);
  EXPECT_EQ(GAME.game_state, STATE_TALLY);
  EXPECT_EQ(GAME.score, before + 2);
}

TEST_F(GamePlay, TabTogglesThePlainViewOnlyInPlay) {
  gh::tap(SDL_SCANCODE_TAB);
  EXPECT_EQ(GAME.plain_view, 0);
  gh::skip_intro();
  gh::heard.clear();
  gh::tap(SDL_SCANCODE_TAB);
  EXPECT_EQ(GAME.plain_view, 1);
  EXPECT_EQ(gh::count_heard(SOUND_TAKE), 1);
  load_level(GAME, 2);  // survives a level load
  EXPECT_EQ(GAME.plain_view, 1);
  GAME.contained = 1;
  gh::tap(SDL_SCANCODE_RETURN);
  gh::tap(SDL_SCANCODE_TAB);
  EXPECT_EQ(GAME.plain_view, 1);
}

TEST_F(GamePlay, EscapeEndsTheRunFromEveryStateAndShadowsR) {
  auto escape_ends_frame = [] {
    gh::push_key(SDL_SCANCODE_ESCAPE, true);
    const int32_t going = gh::frames(1);
    gh::push_key(SDL_SCANCODE_ESCAPE, false);
    return going == 0 && app_mode() == AppMode::ENDED;
  };
  EXPECT_TRUE(escape_ends_frame());  // message screen
  app_play(1);
  gh::click_cell(1, 2, 2);
  EXPECT_TRUE(escape_ends_frame());  // play
  // R released while Escape is held is not looked at.
  app_play(1);
  gh::click_cell(1, 2, 2);
  gh::push_key(SDL_SCANCODE_R, true);
  gh::frames(1);
  gh::push_key(SDL_SCANCODE_ESCAPE, true);
  gh::push_key(SDL_SCANCODE_R, false);
  EXPECT_EQ(gh::frames(1), 0);
  EXPECT_EQ(GAME.barriers_left, 49);
  gh::push_key(SDL_SCANCODE_ESCAPE, false);
  app_play(1);
  GAME.contained = 1;
  gh::tap(SDL_SCANCODE_RETURN);
  ASSERT_EQ(GAME.game_state, STATE_TALLY);
  EXPECT_TRUE(escape_ends_frame());  // tally
}

TEST_F(GamePlay, TheCloseBoxEndsTheRun) {
  SDL_Event event{};
  event.type = SDL_WINDOWEVENT;
  event.window.event = SDL_WINDOWEVENT_CLOSE;
  event.window.windowID = gh::window_id();
  SDL_PushEvent(&event);
  EXPECT_EQ(gh::frames(1), 0);
}

TEST_F(GamePlay, FinalBlockShowsTheScoreStopsTheMusicAndQuitsOnItsLastLine) {
  gh::skip_intro();
  load_level(GAME, 10);
  GAME.score = 321;
  GAME.contained = 1;
  gh::tap(SDL_SCANCODE_RETURN);
  run_tally();
  ASSERT_EQ(GAME.game_state, STATE_MESSAGE);
  EXPECT_EQ(GAME.level_number, 11);
  gh::heard.clear();
  gh::frames(1);
  EXPECT_EQ(GAME.message_line, "ALL LEAKS CONTAINED");
  EXPECT_EQ(gh::count_heard(SOUND_CLICK), 1);
  gh::tap(SDL_SCANCODE_SPACE);
  gh::frames(1);
  EXPECT_EQ(GAME.message_line, "SCORE-FICIENCY: 336");  // 321 and the 15 barriers of level 10
  EXPECT_EQ(GAME.message_colour, 0xFFFF00u);
  for (int i = 0; i < 5; ++i) gh::tap(SDL_SCANCODE_SPACE);
  // The "&" entry was read by the last release; the next frame never shows it.
  EXPECT_EQ(GAME.message_line, "&");
  gh::frames(1);
  EXPECT_EQ(GAME.message_line, "THANKS AGAIN PAL!");
  EXPECT_EQ(GAME.message_colour, 0xFFFFFFu);
  gh::tap(SDL_SCANCODE_SPACE);
  gh::frames(1);
  EXPECT_EQ(GAME.message_line, " ");  // "% ": an empty-looking screen with the cant cue
  EXPECT_EQ(gh::count_heard(SOUND_CANT), 1);
  gh::frames(5);
  EXPECT_EQ(GAME.message_line, " ");  // and it waits for a key
  gh::tap(SDL_SCANCODE_SPACE);
  EXPECT_EQ(GAME.message_line, "by tarnwick");
  EXPECT_EQ(GAME.message_colour, 0x404040u);
  EXPECT_EQ(gh::tap(SDL_SCANCODE_SPACE), 1);  // reads "~"
  EXPECT_EQ(GAME.message_line, "~");
  EXPECT_EQ(gh::frames(1), 0);  // shown once, then the run ends
  EXPECT_EQ(GAME.message_colour, 0u);
}

TEST_F(GamePlay, NoClicksWhileTheWindowIsInactiveButTheChemicalSpreads) {
  gh::skip_intro();
  gh::push_move_to_cell(2, 2);
  gh::frames(1);
  gh::push_focus(false);
  gh::push_button(1, true);
  gh::frames(70);
  EXPECT_EQ(GAME.cursor_on_board, 0);
  EXPECT_EQ(GAME.at(2, 2).flags, 0);
  EXPECT_EQ(GAME.barriers_left, 50);
  EXPECT_EQ(GAME.at(15, 14).flags & CELL_CHEMICAL, CELL_CHEMICAL);  // the leak's right neighbour
}

TEST_F(GamePlay, CtrlFSwitchesToFullScreenAndBackKeepingTheGame) {
  gh::skip_intro();
  gh::click_cell(1, 2, 2);
  GAME.score = 9;
  // F alone does nothing.
  gh::tap(SDL_SCANCODE_F);
  EXPECT_EQ(VIEW.windowed, 1);
  gh::push_key(SDL_SCANCODE_LCTRL, true);
  gh::tap(SDL_SCANCODE_F);
  EXPECT_EQ(VIEW.windowed, 0);
  EXPECT_EQ(GAME.level_number, 1);
  EXPECT_EQ(GAME.barriers_left, 49);
  EXPECT_EQ(GAME.at(2, 2).flags, CELL_WALL);
  EXPECT_EQ(window_handle(0), 0);
  gh::push_focus(true);
  gh::tap(SDL_SCANCODE_F);
  EXPECT_EQ(VIEW.windowed, 1);
  EXPECT_NE(window_handle(0), 0);
  gh::push_key(SDL_SCANCODE_LCTRL, false);
  gh::push_focus(true);
  gh::frames(1);
  EXPECT_TRUE(gh::pointer_visible());
  EXPECT_EQ(GAME.score, 9);
  EXPECT_EQ(GAME.game_state, STATE_PLAYING);
  // Play goes on in the new window.
  gh::click_cell(1, 4, 2);
  EXPECT_EQ(GAME.at(4, 2).flags, CELL_WALL);
  EXPECT_EQ(GAME.barriers_left, 48);
}

TEST(GameFatal, ErrorBoxMessageOnStandardErrorAndExitCodeOne) {
  setenv("SDL_VIDEODRIVER", "dummy", 1);
  EXPECT_EXIT(fatal_error("Window could not be opened!"), ::testing::ExitedWithCode(1),
              "Window could not be opened!");
}

}  // namespace
