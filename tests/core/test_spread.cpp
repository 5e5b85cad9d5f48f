// The rule engine: spread timing and its direction bias, the special cells, the cap, the edge
// rule with its cue and shake, the highlight fade, and the containment fill, which is also
// checked against the literal pass method on many random grids.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "core/level_stream.h"  // level_set_row
#include "core/spread.h"
#include "media/random.h"
#include "media/sound.h"
#include "tests/support/containment_reference.h"
#include "tests/support/game_state.h"

namespace {

std::vector<int32_t> heard;  // sound slots played since the fixture began

void hear(int32_t id, int32_t) { heard.push_back(id); }

class Spread : public ::testing::Test {
 protected:
  void SetUp() override {
    session_clear();
    heard.clear();
    sound_set_play_observer(hear);
  }
  void TearDown() override { sound_set_play_observer(nullptr); }

  // A grid from map rows, with the data's rate and threshold.
  static void make_grid(const std::vector<std::string>& rows) {
    GAME.grid_width = static_cast<int32_t>(rows[0].size());
    GAME.grid_height = static_cast<int32_t>(rows.size());
    GAME.grid.assign(static_cast<size_t>(GAME.grid_width) * GAME.grid_height, Cell{});
    for (int32_t y = 0; y < GAME.grid_height; ++y) level_set_row(GAME, y, rows[y]);
    GAME.spread_rate = 16;
    GAME.spread_threshold = 1024;
    GAME.fill_generation = 1;
  }
  static void steps(int frames) {
    for (int k = 0; k < frames; ++k) spread_step(GAME);
  }
  static bool chemical(int x, int y) { return GAME.at(x, y).flags & CELL_CHEMICAL; }
};

TEST_F(Spread, RightAndDownInFrame65LeftAndUpIn66) {
  make_grid({".......", ".......", ".......", "...I...", ".......", ".......", "......."});
  steps(64);
  EXPECT_FALSE(chemical(4, 3) || chemical(3, 4) || chemical(2, 3) || chemical(3, 2));
  steps(1);
  EXPECT_TRUE(chemical(4, 3));
  EXPECT_TRUE(chemical(3, 4));
  EXPECT_FALSE(chemical(2, 3));
  EXPECT_FALSE(chemical(3, 2));
  // Cells infected this pass start at 0 and pass nothing on yet.
  EXPECT_EQ(GAME.at(4, 3).concentration, 0);
  EXPECT_FALSE(chemical(5, 3));
  EXPECT_FALSE(chemical(3, 5));
  EXPECT_FALSE(chemical(4, 4));
  steps(1);
  EXPECT_TRUE(chemical(2, 3));
  EXPECT_TRUE(chemical(3, 2));
  EXPECT_EQ(GAME.at(4, 3).concentration, 16);
  EXPECT_EQ(GAME.at(3, 3).concentration, 66 * 16);
  EXPECT_EQ(GAME.edge_reached, 0);
}

TEST_F(Spread, ThresholdIsStrictAndConcentrationStopsAt65535) {
  make_grid({"....", ".I..", "....", "...."});
  GAME.spread_rate = 0;
  GAME.at(1, 1).concentration = 1024;
  steps(3);
  EXPECT_FALSE(chemical(2, 1));
  GAME.at(1, 1).concentration = 1025;
  steps(1);
  EXPECT_TRUE(chemical(2, 1));

  GAME.spread_rate = 16;
  GAME.at(1, 1).concentration = 65530;
  steps(1);
  EXPECT_EQ(GAME.at(1, 1).concentration, 65535);
  steps(5000);
  EXPECT_EQ(GAME.at(1, 1).concentration, 65535);
  EXPECT_EQ(GAME.at(2, 1).concentration, 65535);
}

TEST_F(Spread, NitroDoublesTheRateOfEveryChemicalCellAtOnce) {
  make_grid({"..........", "..........", "..IN..IN..", "..........", ".........."});
  GAME.sound_ok = 1;
  steps(65);  // both leaks reach the "N" on their right in this frame
  EXPECT_EQ(GAME.spread_rate, 64);
  EXPECT_EQ(GAME.at(3, 2).flags, CELL_CHEMICAL);
  EXPECT_EQ(GAME.at(7, 2).flags, CELL_CHEMICAL);
  EXPECT_EQ(heard, (std::vector<int32_t>{SOUND_NITR, SOUND_NITR}));
  // The second leak already grew at 32 after the first "N" turned, earlier in the same pass.
  EXPECT_EQ(GAME.at(2, 2).concentration, 65 * 16);
  EXPECT_EQ(GAME.at(6, 2).concentration, 64 * 16 + 32);
  steps(1);
  EXPECT_EQ(GAME.at(2, 2).concentration, 65 * 16 + 64);
  EXPECT_EQ(GAME.at(3, 2).concentration, 64);
  // At four times the rate a new cell needs 17 growth steps (17 x 64 > 1024) to pass it on.
  steps(15);
  EXPECT_FALSE(chemical(4, 2));
  steps(1);
  EXPECT_TRUE(chemical(4, 2));
}

TEST_F(Spread, TetraDoublesTheThresholdAndIsSilentWithoutSound) {
  make_grid({"......", ".IT...", "......", "......"});
  steps(65);
  EXPECT_EQ(GAME.spread_threshold, 2048);
  EXPECT_EQ(GAME.at(2, 1).flags, CELL_CHEMICAL);
  EXPECT_TRUE(heard.empty());
  // 2048 needs 129 steps of 16: the new cell passes it on in its 129th frame, not its 128th.
  steps(128);
  EXPECT_FALSE(chemical(3, 1));
  steps(1);
  EXPECT_TRUE(chemical(3, 1));
}

TEST_F(Spread, DoublingSaturatesInsteadOfOverflowing) {
  EXPECT_EQ(spread_doubled(1024), 2048);
  EXPECT_EQ(spread_doubled(0x3FFFFFFF), 0x7FFFFFFE);
  EXPECT_EQ(spread_doubled(0x40000000), INT32_MAX);
  EXPECT_EQ(spread_doubled(INT32_MAX), INT32_MAX);
  EXPECT_EQ(spread_doubled(-0x40000001), INT32_MIN);

  // A saturated rate still keeps every concentration inside 0..65535.
  make_grid({".....", ".IN..", ".....", "....."});
  GAME.spread_rate = 0x40000000;
  GAME.at(1, 1).concentration = 2000;
  steps(1);
  EXPECT_EQ(GAME.spread_rate, INT32_MAX);
  steps(3);
  for (const Cell& cell : GAME.grid) {
    EXPECT_GE(cell.concentration, 0);
    EXPECT_LE(cell.concentration, 65535);
  }
  EXPECT_EQ(GAME.at(1, 1).concentration, 65535);
}

TEST_F(Spread, FirstEdgeContactPlaysTheLoseCueAndShakesOnce) {
  make_grid({".....", "I....", ".....", ".....", "....."});
  GAME.sound_ok = 1;
  steps(65);  // (0, 2) below the leak is on the edge; (1, 1) is not
  EXPECT_EQ(GAME.edge_reached, 1);
  EXPECT_EQ(GAME.shake_frames, 10);
  EXPECT_EQ(heard, std::vector<int32_t>{SOUND_LOSE});
  GAME.shake_frames = 3;  // as if the board had been drawn a few frames
  steps(600);
  EXPECT_TRUE(chemical(4, 4));
  EXPECT_EQ(heard, std::vector<int32_t>{SOUND_LOSE});
  EXPECT_EQ(GAME.shake_frames, 3);
}

TEST_F(Spread, EdgeContactWithoutSoundHasNoCueAndNoShake) {
  make_grid({"...", ".I.", "..."});
  steps(66);
  EXPECT_EQ(GAME.edge_reached, 1);
  EXPECT_EQ(GAME.shake_frames, 0);
  EXPECT_TRUE(heard.empty());
}

TEST_F(Spread, HighlightsFadeExceptUnderThePointer) {
  make_grid({"...", ".W.", "..."});
  for (Cell& cell : GAME.grid) cell.highlight = 100;
  GAME.cursor_x = GAME.cursor_y = 1;
  GAME.cursor_on_board = 1;
  steps(1);
  EXPECT_EQ(GAME.at(1, 1).highlight, 100);
  EXPECT_EQ(GAME.at(0, 0).highlight, 85);
  steps(6);
  EXPECT_EQ(GAME.at(0, 0).highlight, 0);

  GAME.cursor_on_board = 0;  // off the board the clamped cell fades like the rest
  steps(1);
  EXPECT_EQ(GAME.at(1, 1).highlight, 85);
  GAME.plain_view = 1;
  GAME.at(2, 2).highlight = 255;
  steps(1);
  EXPECT_EQ(GAME.at(1, 1).highlight, 0);
  EXPECT_EQ(GAME.at(2, 2).highlight, 0);
}

TEST_F(Spread, ContainmentJudgesEveryLeakTogether) {
  make_grid({"........",  //
             ".WWW.WWW",  //
             ".WIW.WIW",  //
             ".WWW.W.W",  //
             "........"});
  GAME.sound_ok = 1;
  check_containment(GAME);
  EXPECT_EQ(GAME.contained, 0);  // the right leak still leads down to the edge
  EXPECT_EQ(GAME.fill_generation, 2);
  EXPECT_EQ(GAME.at(2, 2).fill_mark, 1);
  EXPECT_EQ(GAME.at(0, 0).fill_mark, 1);  // through the gap below the right leak
  EXPECT_NE(GAME.at(1, 1).fill_mark, 1);  // walls are never marked
  EXPECT_TRUE(heard.empty());

  level_set_row(GAME, 3, ".WWW.WWW");
  check_containment(GAME);
  EXPECT_EQ(GAME.contained, 1);  // the big open pocket touches every edge but holds no chemical
  EXPECT_EQ(heard, std::vector<int32_t>{SOUND_WIN});
  EXPECT_EQ(GAME.at(6, 2).fill_mark, 2);
  EXPECT_NE(GAME.at(0, 0).fill_mark, 2);

  check_containment(GAME);  // still contained: no new cue
  EXPECT_EQ(heard, std::vector<int32_t>{SOUND_WIN});

  level_set_row(GAME, 3, ".WWW.W.W");  // re-opened
  check_containment(GAME);
  EXPECT_EQ(GAME.contained, 0);
  level_set_row(GAME, 3, ".WWW.WWW");  // and closed again
  check_containment(GAME);
  EXPECT_EQ(GAME.contained, 1);
  EXPECT_EQ(heard, (std::vector<int32_t>{SOUND_WIN, SOUND_WIN}));
  EXPECT_EQ(GAME.fill_generation, 6);
}

TEST_F(Spread, ChemicalOnTheEdgeIsNeverContained) {
  make_grid({"WWWW", "WWWW", "WWWI", "WWWW"});
  GAME.sound_ok = 1;
  check_containment(GAME);
  EXPECT_EQ(GAME.contained, 0);
  EXPECT_TRUE(heard.empty());
}

// The fill must leave exactly what whole-grid passes leave: the result, every mark, the next
// generation and the cue, from any starting marks (including stale ones of this generation).
TEST_F(Spread, FillMatchesThePassMethodOnRandomGrids) {
  random_seed(47);
  GAME.sound_ok = 1;
  int walled_in = 0, open = 0;
  for (int round = 0; round < 3000; ++round) {
    const int32_t width = 1 + static_cast<int32_t>(random_int(39));
    const int32_t height = 1 + static_cast<int32_t>(random_int(39));
    const uint32_t wall_percent = 30 + random_int(45);
    GAME.grid_width = width;
    GAME.grid_height = height;
    GAME.grid.assign(static_cast<size_t>(width) * height, Cell{});
    GAME.fill_generation = static_cast<int32_t>(random_int(5)) - 1;
    for (Cell& cell : GAME.grid) {
      if (random_int(99) < wall_percent) {
        cell.flags = CELL_WALL;
      } else if (random_int(19) == 0) {
        cell.flags = random_int(1) ? CELL_NITRO : CELL_TETRA;
      }
      cell.fill_mark =
          GAME.fill_generation - 1 - static_cast<int32_t>(random_int(3));  // older checks
    }
    const auto random_cell = [&]() -> Cell& { return GAME.grid[random_int(width * height - 1)]; };
    for (uint32_t leaks = random_int(3); leaks > 0; --leaks) random_cell().flags = CELL_CHEMICAL;
    if (random_int(7) == 0) random_cell().fill_mark = GAME.fill_generation;  // a stale stamp
    GAME.contained = static_cast<int32_t>(random_int(1));

    const std::vector<Cell> start = GAME.grid;
    const int32_t start_contained = GAME.contained, start_generation = GAME.fill_generation;
    heard.clear();
    reference_check_containment();
    const std::vector<Cell> expected = GAME.grid;
    const int32_t expected_contained = GAME.contained, expected_generation = GAME.fill_generation;
    const std::vector<int32_t> expected_heard = heard;

    GAME.grid = start;
    GAME.contained = start_contained;
    GAME.fill_generation = start_generation;
    heard.clear();
    check_containment(GAME);
    ASSERT_EQ(GAME.contained, expected_contained) << "round " << round;
    ASSERT_EQ(GAME.fill_generation, expected_generation) << "round " << round;
    ASSERT_EQ(heard, expected_heard) << "round " << round;
    for (size_t i = 0; i < GAME.grid.size(); ++i) {
      ASSERT_EQ(GAME.grid[i].fill_mark, expected[i].fill_mark)
          << "round " << round << " cell " << i;
    }
    const bool filled = std::any_of(GAME.grid.begin(), GAME.grid.end(), [](const Cell& cell) {
      return cell.fill_mark == GAME.fill_generation - 1;
    });
    (GAME.contained ? walled_in : open) += filled;
  }
  // Both outcomes must be well represented among grids the fill had work in.
  EXPECT_GT(walled_in, 200);
  EXPECT_GT(open, 200);
}

TEST_F(Spread, FillMatchesThePassMethodOnTheSerpentineMaze) {
  make_serpentine_maze(40);
  reference_check_containment();
  const std::vector<Cell> expected = GAME.grid;
  EXPECT_EQ(GAME.contained, 1);
  make_serpentine_maze(40);
  check_containment(GAME);
  EXPECT_EQ(GAME.contained, 1);
  for (size_t i = 0; i < GAME.grid.size(); ++i)
    ASSERT_EQ(GAME.grid[i].fill_mark, expected[i].fill_mark);
  EXPECT_EQ(GAME.at(1, 37).fill_mark, 1);  // the far end of the winding corridor
}

}  // namespace
