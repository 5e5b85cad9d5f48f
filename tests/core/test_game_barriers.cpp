// The pointer-to-cell mapping, placing and picking up and the order of their cues, on real
// levels with the buttons given directly.
#include <gtest/gtest.h>

#include <vector>

#include "core/barriers.h"
#include "core/level_stream.h"
#include "media/mouse.h"
#include "media/sound.h"
#include "play/input.h"
#include "tests/support/game_state.h"

namespace {

std::vector<int32_t> played;  // slots played since the test began
void hear(int32_t slot, int32_t) { played.push_back(slot); }

class Barriers : public ::testing::Test {
 protected:
  void SetUp() override {
    session_clear();
    GAME.fill_generation = 1;
    GAME.sound_ok = 1;
    played.clear();
    sound_set_play_observer(hear);
  }
  void TearDown() override { sound_set_play_observer(nullptr); }

  // Points at pixel (x, y) and runs the pointer step.
  static void point_at(int32_t x, int32_t y) { update_cursor(GAME, x, y); }
  // Points at the centre of cell (x, y).
  static void point_at_cell(int32_t x, int32_t y) {
    point_at(GAME.board_left + x * GAME.cell_width + GAME.cell_width / 2,
             GAME.board_top + y * GAME.cell_height + GAME.cell_height / 2);
  }
};

TEST_F(Barriers, PointerMapsToCellsAndClampsOffTheBoard) {
  load_level(GAME, 1);  // 30 cells of 16 pixels
  point_at(79, 100);
  EXPECT_EQ(GAME.cursor_x, 0);
  EXPECT_EQ(GAME.cursor_y, 100 * 30 / 480);
  EXPECT_EQ(GAME.cursor_on_board, 0);
  point_at(80, 100);
  EXPECT_EQ(GAME.cursor_x, 0);
  EXPECT_EQ(GAME.cursor_on_board, 1);
  point_at(559, 479);
  EXPECT_EQ(GAME.cursor_x, 29);
  EXPECT_EQ(GAME.cursor_y, 29);
  EXPECT_EQ(GAME.cursor_on_board, 1);
  point_at(560, 0);
  EXPECT_EQ(GAME.cursor_x, 29);
  EXPECT_EQ(GAME.cursor_y, 0);
  EXPECT_EQ(GAME.cursor_on_board, 0);
  point_at(639, 479);
  EXPECT_EQ(GAME.cursor_x, 29);
  EXPECT_EQ(GAME.cursor_y, 29);
  EXPECT_EQ(GAME.cursor_on_board, 0);

  load_level(GAME, 8);  // 20 cells of 24 pixels
  point_at(80 + 24 * 3 + 23, 24 * 5);
  EXPECT_EQ(GAME.cursor_x, 3);
  EXPECT_EQ(GAME.cursor_y, 5);
  load_level(GAME, 9);  // 40 cells of 12 pixels
  point_at(80 + 12 * 39, 12 * 39 + 11);
  EXPECT_EQ(GAME.cursor_x, 39);
  EXPECT_EQ(GAME.cursor_y, 39);
  EXPECT_EQ(GAME.cursor_on_board, 1);
}

TEST_F(Barriers, HighlightRisesByAHundredOrAtOnceInThePlainView) {
  load_level(GAME, 1);
  point_at_cell(4, 4);
  EXPECT_EQ(GAME.at(4, 4).highlight, 100);
  point_at_cell(4, 4);
  point_at_cell(4, 4);
  EXPECT_EQ(GAME.at(4, 4).highlight, 255);
  GAME.plain_view = 1;
  point_at_cell(5, 4);
  EXPECT_EQ(GAME.at(5, 4).highlight, 255);
  // Off the board the nearest edge cell in the pointer's row gets the rise.
  GAME.plain_view = 0;
  point_at(20, 7 * 16 + 3);
  EXPECT_EQ(GAME.cursor_on_board, 0);
  EXPECT_EQ(GAME.at(0, 7).highlight, 100);
}

TEST_F(Barriers, PlacingOnlyOnPlainFloorAndPickingUpOnlyWalls) {
  load_level(GAME, 1);
  level_set_row(GAME, 0, "IWNTD.");
  const int32_t start = GAME.barriers_left;
  for (int x = 0; x < 5; ++x) {  // chemical, wall, N, T, D block: nothing happens
    const Cell before = GAME.at(x, 0);
    point_at_cell(x, 0);
    barriers_apply_buttons(GAME, 1, 0);
    barriers_apply_buttons(GAME, 0, 0);
    EXPECT_EQ(GAME.at(x, 0).flags, before.flags) << x;
  }
  EXPECT_EQ(GAME.barriers_left, start);
  EXPECT_TRUE(played.empty());

  point_at_cell(5, 0);
  barriers_apply_buttons(GAME, 1, 0);
  EXPECT_EQ(GAME.at(5, 0).flags, CELL_WALL);
  EXPECT_EQ(GAME.barriers_left, start - 1);
  EXPECT_EQ(played, std::vector<int32_t>{SOUND_BUMP});

  played.clear();
  for (int x : {0, 2, 3, 6}) {  // chemical, N, T, plain floor cannot be picked up
    point_at_cell(x, 0);
    barriers_apply_buttons(GAME, 0, 1);
  }
  EXPECT_EQ(GAME.barriers_left, start - 1);
  EXPECT_TRUE(played.empty());
  for (int x : {1, 4, 5}) {  // a map wall, a "D" block and the placed barrier all come up
    point_at_cell(x, 0);
    barriers_apply_buttons(GAME, 0, 1);
    EXPECT_EQ(GAME.at(x, 0).flags, 0) << x;
  }
  EXPECT_EQ(GAME.barriers_left, start + 2);
  EXPECT_EQ(played, (std::vector<int32_t>{SOUND_TAKE, SOUND_TAKE, SOUND_TAKE}));
}

TEST_F(Barriers, BothButtonsOnFloorPlaceAndPickUpInOneFrame) {
  load_level(GAME, 1);
  point_at_cell(2, 2);
  const int32_t start = GAME.barriers_left;
  barriers_apply_buttons(GAME, 1, 1);
  EXPECT_EQ(GAME.at(2, 2).flags, 0);
  EXPECT_EQ(GAME.barriers_left, start);
  EXPECT_EQ(played, (std::vector<int32_t>{SOUND_BUMP, SOUND_TAKE}));
}

TEST_F(Barriers, LastBarrierAndAnEmptyHandPlayTheCantCueOncePerPress) {
  load_level(GAME, 6);  // one barrier
  ASSERT_EQ(GAME.barriers_left, 1);
  for (Cell& cell : GAME.grid) cell = Cell{};
  GAME.at(0, 0).flags = CELL_CHEMICAL;  // on the edge: never contained, so no win cue
  point_at_cell(15, 1);
  barriers_apply_buttons(GAME, 1, 0);
  EXPECT_EQ(GAME.barriers_left, 0);
  EXPECT_EQ(played, (std::vector<int32_t>{SOUND_CANT, SOUND_BUMP}));
  // Held on, dragged to another floor cell: nothing more.
  point_at_cell(16, 1);
  for (int frame = 0; frame < 5; ++frame) barriers_apply_buttons(GAME, 1, 0);
  EXPECT_EQ(played.size(), 2u);
  EXPECT_EQ(GAME.at(16, 1).flags, 0);
  // Let go and press again: the cue once more, once.
  barriers_apply_buttons(GAME, 0, 0);
  for (int frame = 0; frame < 5; ++frame) barriers_apply_buttons(GAME, 1, 0);
  EXPECT_EQ(played, (std::vector<int32_t>{SOUND_CANT, SOUND_BUMP, SOUND_CANT}));
  // The latch survives a level load: still held, still quiet.
  load_level(GAME, 8);
  barriers_apply_buttons(GAME, 1, 0);
  EXPECT_EQ(played.size(), 3u);
  // Without a sound device nothing plays but the rules are the same.
  GAME.sound_ok = 0;
  barriers_apply_buttons(GAME, 0, 0);
  barriers_apply_buttons(GAME, 1, 0);
  EXPECT_EQ(played.size(), 3u);
  EXPECT_EQ(GAME.empty_click_latch, 1);
}

TEST_F(Barriers, ContainmentCueComesBetweenTheCantAndTheBumpAndIsNotRepeated) {
  // A leak in a box of walls with one gap, and exactly one barrier to close it.
  load_level(GAME, 1);
  for (Cell& cell : GAME.grid) cell = Cell{};
  level_set_row(GAME, 4, "....WWW");
  level_set_row(GAME, 5, "....WI.");
  level_set_row(GAME, 6, "....WWW");
  GAME.barriers_left = 1;
  point_at_cell(6, 5);
  barriers_apply_buttons(GAME, 1, 0);
  EXPECT_EQ(GAME.contained, 1);
  EXPECT_EQ(played, (std::vector<int32_t>{SOUND_CANT, SOUND_WIN, SOUND_BUMP}));
  // Picking up another wall of the box opens it; closing it again wins again.
  played.clear();
  barriers_apply_buttons(GAME, 0, 0);
  point_at_cell(5, 4);
  barriers_apply_buttons(GAME, 0, 1);
  EXPECT_EQ(GAME.contained, 0);
  point_at_cell(5, 4);
  barriers_apply_buttons(GAME, 1, 0);
  EXPECT_EQ(GAME.contained, 1);
  EXPECT_EQ(played, (std::vector<int32_t>{SOUND_TAKE, SOUND_CANT, SOUND_WIN, SOUND_BUMP}));
  // A pick-up that keeps the chemical contained does not play the win again.
  played.clear();
  barriers_apply_buttons(GAME, 0, 0);
  point_at_cell(0, 0);
  GAME.at(0, 0).flags = CELL_WALL;
  barriers_apply_buttons(GAME, 0, 1);
  EXPECT_EQ(GAME.contained, 1);
  EXPECT_EQ(played, std::vector<int32_t>{SOUND_TAKE});
}

}  // namespace
