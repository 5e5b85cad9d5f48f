// The game pad end to end: SDL's virtual pads, opened as game controllers on the dummy drivers,
// drive the real game in-process as a player's pad would, plugged in and out while it runs.
#include <SDL.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include "media/pad.h"
#include "play/app.h"
#include "play/settings_screen.h"
#include "tests/support/game_harness.h"
#include "tests/support/virtual_pad.h"

namespace gh = game_harness;

namespace {

class Pad : public ::testing::Test {
 protected:
  void SetUp() override {
    // The dummy video driver never gives a window SDL's own focus, and without it SDL drops a
    // pad's presses; the game reads the pad only while its screen is in front anyway.
    SDL_SetHint(SDL_HINT_JOYSTICK_ALLOW_BACKGROUND_EVENTS, "1");
    gh::start();
  }
  void TearDown() override {
    pad_.reset();
    game_end();
  }
  VirtualPad& plug() {
    pad_ = std::make_unique<VirtualPad>();
    gh::frames(1);
    return *pad_;
  }
  std::unique_ptr<VirtualPad> pad_;
};

void dpad(VirtualPad& pad, int dx, int dy) { pad.dpad(dx, dy); }

// Level 1 with the pad alone: A through the story, the d-pad to each gap of the leak's room, A
// to wall it, B over the floor picking nothing up, Start to continue to the tally.
TEST_F(Pad, APadAlonePlaysLevelOneFromTheStoryToItsTally) {
  VirtualPad& pad = plug();
  int taps = 0;
  while (GAME.game_state == STATE_MESSAGE && taps < 30) {
    pad.tap(SDL_CONTROLLER_BUTTON_A);
    ++taps;
  }
  EXPECT_EQ(taps, 12);
  ASSERT_EQ(GAME.game_state, STATE_PLAYING);
  gh::frames(2);
  EXPECT_EQ(app_session().view.key_cursor, 0);  // nothing steered yet: no outline
  EXPECT_EQ(GAME.barriers_left, 50);            // the A that ended the story placed nothing
  dpad(pad, -5, -3);                            // from the middle, (15, 15), to (10, 12)
  EXPECT_EQ(app_session().view.key_cursor, 1);
  EXPECT_EQ(GAME.cursor_x, 10);
  EXPECT_EQ(GAME.cursor_y, 12);
  pad.tap(SDL_CONTROLLER_BUTTON_A);
  dpad(pad, 8, 4);  // (18, 16)
  pad.tap(SDL_CONTROLLER_BUTTON_A);
  dpad(pad, -8, 1);  // (10, 17)
  pad.tap(SDL_CONTROLLER_BUTTON_A);
  dpad(pad, 1, 1);                   // (11, 18)
  pad.tap(SDL_CONTROLLER_BUTTON_B);  // nothing to pick up on the floor
  pad.tap(SDL_CONTROLLER_BUTTON_A);
  EXPECT_EQ(GAME.barriers_left, 46);
  ASSERT_EQ(GAME.contained, 1);
  pad.tap(SDL_CONTROLLER_BUTTON_START);
  EXPECT_EQ(GAME.game_state, STATE_TALLY);
}

// A held while the d-pad moves walls every cell passed, as a drag does; B and X pick them up.
TEST_F(Pad, AHeldWhileMovingPlacesSeveralAndBOrXPickUp) {
  VirtualPad& pad = plug();
  app_play(1);
  gh::frames(2);
  dpad(pad, -10, -10);  // (5, 5), open floor
  pad.set(SDL_CONTROLLER_BUTTON_A, true);
  gh::frames(1);
  dpad(pad, 3, 0);
  pad.set(SDL_CONTROLLER_BUTTON_A, false);
  gh::frames(2);
  for (int x = 5; x <= 8; ++x) EXPECT_EQ(GAME.at(x, 5).flags & CELL_WALL, CELL_WALL) << x;
  EXPECT_EQ(GAME.barriers_left, 46);
  pad.tap(SDL_CONTROLLER_BUTTON_X);
  EXPECT_EQ(GAME.at(8, 5).flags & CELL_WALL, 0);
  dpad(pad, -1, 0);
  pad.tap(SDL_CONTROLLER_BUTTON_B);
  EXPECT_EQ(GAME.at(7, 5).flags & CELL_WALL, 0);
  EXPECT_EQ(GAME.at(6, 5).flags & CELL_WALL, CELL_WALL);
}

// Barely pushed, the stick creeps so a thumb can aim; pushed fully it runs, faster the longer
// it is held; a held d-pad direction repeats.
TEST_F(Pad, TheStickIsPreciseWhenBarelyPushedAndSpeedsUpWhenHeld) {
  VirtualPad& pad = plug();
  app_play(1);
  gh::frames(2);
  pad.stick(PAD_DEAD_ZONE / 2, 0);  // inside the dead zone: nothing moves, no outline
  gh::frames(30);
  EXPECT_EQ(app_session().view.key_cursor, 0);
  EXPECT_EQ(GAME.cursor_x, 15);
  pad.stick(PAD_DEAD_ZONE + 1500, 0);
  gh::frames(20);
  EXPECT_EQ(app_session().view.key_cursor, 1);
  EXPECT_EQ(GAME.cursor_x, 15);  // a third of a second at a creep stays in the cell
  gh::frames(60);
  EXPECT_GE(GAME.cursor_x, 16);  // but it does get there
  EXPECT_LE(GAME.cursor_x, 17);
  pad.stick(0, 0);
  gh::frames(1);
  dpad(pad, -GAME.cursor_x, 0);
  ASSERT_EQ(GAME.cursor_x, 0);
  pad.stick(PAD_STICK_MAX, 0);
  gh::frames(20);
  const int32_t first = GAME.cursor_x;
  gh::frames(20);
  const int32_t second = GAME.cursor_x - first;
  EXPECT_GE(first, 3);
  EXPECT_GT(second, first);
  pad.stick(0, 0);
  gh::frames(1);
  const int32_t before = GAME.cursor_y;
  pad.set(SDL_CONTROLLER_BUTTON_DPAD_DOWN, true);
  gh::frames(30);
  pad.set(SDL_CONTROLLER_BUTTON_DPAD_DOWN, false);
  gh::frames(1);
  EXPECT_GE(GAME.cursor_y - before, 5);  // one, then repeats after a pause
  EXPECT_LE(GAME.cursor_y - before, 8);
}

// Plugged in mid-game the pad steers; pulled out, the mouse has the board again and the game
// runs on. The mouse moving also takes over from a pad still plugged in. Back quits.
TEST_F(Pad, APadPluggedInAndOutMidGameHandsTheBoardBackToTheMouse) {
  app_play(1);
  gh::frames(2);
  VirtualPad& pad = plug();
  dpad(pad, 2, 0);
  EXPECT_EQ(app_session().view.key_cursor, 1);
  EXPECT_EQ(GAME.cursor_x, 17);
  gh::push_move_to(300, 300);
  gh::frames(2);
  EXPECT_EQ(app_session().view.key_cursor, 0);
  dpad(pad, 1, 0);
  EXPECT_EQ(app_session().view.key_cursor, 1);
  pad.unplug();
  EXPECT_EQ(gh::frames(2), 1);
  EXPECT_EQ(app_session().view.key_cursor, 0);
  gh::click_cell(1, 3, 3);
  EXPECT_EQ(GAME.at(3, 3).flags & CELL_WALL, CELL_WALL);
  VirtualPad& again = plug();
  dpad(again, 0, 1);
  EXPECT_EQ(app_session().view.key_cursor, 1);
  EXPECT_EQ(GAME.cursor_y, 4);
  again.set(SDL_CONTROLLER_BUTTON_BACK, true);
  EXPECT_EQ(gh::frames(1), 0);
}

// The settings screen from the pad: the d-pad to the stick's speed and over to fast, B back to
// the game, where the stick now runs twice as far. What it keeps goes to a folder of its own.
TEST_F(Pad, TheSettingsScreenTakesThePadAndItsStickSpeedHolds) {
  const std::string config = testing::TempDir() + "q47_pad_settings";
  const char* old = std::getenv("XDG_CONFIG_HOME");
  const std::string old_config = old ? old : "";
  setenv("XDG_CONFIG_HOME", config.c_str(), 1);
  VirtualPad& pad = plug();
  app_play(1);
  gh::frames(2);
  auto run = [&pad] {
    dpad(pad, -GAME.cursor_x, 0);
    pad.stick(PAD_STICK_MAX, 0);
    gh::frames(20);
    pad.stick(0, 0);
    gh::frames(1);
    return GAME.cursor_x;
  };
  const int32_t normal = run();
  gh::tap(SDL_SCANCODE_F2);
  pad.tap(SDL_CONTROLLER_BUTTON_DPAD_UP);  // from the first line round to the last, then up
  pad.tap(SDL_CONTROLLER_BUTTON_DPAD_UP);
  pad.tap(SDL_CONTROLLER_BUTTON_DPAD_RIGHT);
  EXPECT_EQ(app_settings().pad_stick_speed, PAD_SPEED_FAST);
  EXPECT_EQ(settings_screen_is_open(), 1);
  pad.tap(SDL_CONTROLLER_BUTTON_B);
  EXPECT_EQ(settings_screen_is_open(), 0);
  EXPECT_GE(run(), 2 * normal - 1);
  EXPECT_GE(normal, 3);
  if (old) {
    setenv("XDG_CONFIG_HOME", old_config.c_str(), 1);
  } else {
    unsetenv("XDG_CONFIG_HOME");
  }
  std::filesystem::remove_all(config);
}

}  // namespace
