// Frames rendered from known game states, checked pixel by pixel in the back buffer.
#include <gtest/gtest.h>

#include <algorithm>

#include "core/level_stream.h"
#include "core/story.h"
#include "media/random.h"
#include "play/board_view.h"
#include "play/message_screen.h"
#include "tests/support/game_harness.h"

namespace gh = game_harness;

namespace {

// The box of pixels that differ from black inside a region, or an empty box.
struct Ink {
  int left = 1 << 30, top = 1 << 30, right = -1, bottom = -1;  // inclusive bounds
  bool empty() const { return right < 0; }
};

Ink ink_in(int x0, int y0, int x1, int y1) {
  Ink ink;
  for (int y = y0; y < y1; ++y) {
    for (int x = x0; x < x1; ++x) {
      if (gh::pixel(x, y) == 0) continue;
      ink.left = std::min(ink.left, x);
      ink.right = std::max(ink.right, x);
      ink.top = std::min(ink.top, y);
      ink.bottom = std::max(ink.bottom, y);
    }
  }
  return ink;
}

bool any_pixel_is(int x0, int y0, int x1, int y1, uint32_t colour) {
  for (int y = y0; y < y1; ++y)
    for (int x = x0; x < x1; ++x)
      if (gh::pixel(x, y) == colour) return true;
  return false;
}

class GameView : public ::testing::Test {
 protected:
  void SetUp() override {
    gh::start();
    load_level(GAME, 1);
    gh::clear_grid();
    VIEW.frame_tick = 0;  // sin(0) = 0: walls pulse at 96, discs at 192
    GAME.plain_view = 1;  // no specks unless a test wants them
  }
  void TearDown() override { game_end(); }

  // One drawing pass of the level picture (and the message line on a message screen).
  void render() {
    screen_clear(0);
    ASSERT_NE(draw_begin(screen_output()), 0);
    draw_board_view(app_session());
    if (GAME.game_state == STATE_MESSAGE) {
      story_take_cues(GAME);
      story_show_score(GAME);
      message_screen_draw(app_session());
    }
    draw_end();
  }

  // Left, top, width and height of cell (x, y) without shake.
  static int cell_left(int x) { return GAME.board_left + GAME.board_size * x / GAME.grid_width; }
  static int cell_top(int y) { return GAME.board_top + GAME.board_size * y / GAME.grid_height; }
};

TEST(GameViewPalette, TellingEntriesOfTheChemicalRamp) {
  build_chemical_palette(VIEW);
  const std::pair<int, uint32_t> expected[] = {
      {0, rgb(0, 0, 0)},         {1, rgb(64, 192, 0)},      {2, rgb(0, 5, 0)},
      {50, rgb(0, 127, 0)},      {100, rgb(0, 255, 0)},     {101, rgb(5, 255, 5)},
      {150, rgb(232, 255, 232)}, {155, rgb(255, 255, 255)}, {156, rgb(253, 254, 253)},
      {205, rgb(130, 180, 130)}, {255, rgb(6, 105, 6)}};
  for (const auto& [index, colour] : expected) {
    EXPECT_EQ(VIEW.chemical_palette[index], colour) << "entry " << index;
  }
  // Ties round to even: 255 - 1.5 x 1 = 253.5 gives 254, 255 - 1.5 x 3 = 250.5 gives 250.
  EXPECT_EQ((VIEW.chemical_palette[156] >> 8) & 0xFF, 254u);
  EXPECT_EQ((VIEW.chemical_palette[158] >> 8) & 0xFF, 250u);
}

TEST_F(GameView, GaugesRiseFromTheBottomInProportionToTheHand) {
  GAME.barriers_at_start = 50;
  GAME.barriers_left = 25;  // G = 25 x 480 / 50 = 240
  render();
  for (int x : {0, 70, 78, 561, 600, 639}) {
    EXPECT_EQ(gh::pixel(x, 239), 0u) << x;
    EXPECT_EQ(gh::pixel(x, 240), BOARD_VIEW_GAUGE) << x;
    EXPECT_EQ(gh::pixel(x, 479), BOARD_VIEW_GAUGE) << x;
  }
  GAME.barriers_left = 7;  // G = 7 x 480 / 50 = 67 (truncated)
  render();
  EXPECT_EQ(gh::pixel(600, 480 - 67 - 1), 0u);
  EXPECT_EQ(gh::pixel(600, 480 - 67), BOARD_VIEW_GAUGE);
  GAME.barriers_left = 50;  // a full hand fills both panels to the top
  render();
  EXPECT_EQ(gh::pixel(75, 0), BOARD_VIEW_GAUGE);
  EXPECT_EQ(gh::pixel(600, 0), BOARD_VIEW_GAUGE);
  GAME.barriers_left = 0;  // an empty hand shows no gauge at all
  render();
  EXPECT_EQ(gh::pixel(600, 479), 0u);
  EXPECT_EQ(gh::pixel(75, 479), 0u);
}

TEST_F(GameView, ScoreInCyanAtTheTopLeft) {
  GAME.score = 407;
  GAME.barriers_left = 0;  // no gauge in the panel behind the score
  render();
  const auto [width, height] = gh::text_size("407");
  const Ink ink = ink_in(0, 0, 79, 120);
  ASSERT_FALSE(ink.empty());
  EXPECT_GE(ink.left, 10);
  EXPECT_GE(ink.top, 10);
  EXPECT_LT(ink.right, 10 + width);
  EXPECT_LT(ink.bottom, 10 + height);
  EXPECT_TRUE(any_pixel_is(10, 10, 10 + width, 10 + height, BOARD_VIEW_SCORE));
}

TEST_F(GameView, EmptyHandCountIsRedOnADarkRedPlateOnlyWhileTheLeftButtonIsHeldInPlay) {
  GAME.barriers_left = 0;
  const auto [width, height] = gh::text_size("0");
  const int top = 470 - height;
  auto plate_shown = [&] {
    return gh::pixel(10, top) == BOARD_VIEW_COUNT_PLATE &&
           gh::pixel(10 + width - 1, 469) == BOARD_VIEW_COUNT_PLATE;
  };
  render();
  EXPECT_TRUE(any_pixel_is(10, top, 10 + width, 470, BOARD_VIEW_COUNT_EMPTY));
  EXPECT_FALSE(plate_shown());

  // Hold the left button over the side panel (off the board, so nothing is placed).
  gh::push_move_to(40, 200);
  gh::push_button(1, true);
  gh::frames(1);
  ASSERT_EQ(mouse_button(1), 1);
  render();
  EXPECT_TRUE(plate_shown());
  EXPECT_EQ(gh::pixel(10 + width, top), 0u);  // the plate is exactly the text cell
  EXPECT_EQ(gh::pixel(9, top), 0u);
  EXPECT_TRUE(any_pixel_is(10, top, 10 + width, 470, BOARD_VIEW_COUNT_EMPTY));

  GAME.game_state = STATE_TALLY;  // the plate belongs to play only
  render();
  EXPECT_FALSE(plate_shown());

  GAME.game_state = STATE_PLAYING;
  GAME.barriers_left = 3;  // a count above 0 is light grey, never on a plate
  render();
  EXPECT_TRUE(any_pixel_is(10, top, 10 + width + 10, 470, BOARD_VIEW_COUNT));
  EXPECT_FALSE(any_pixel_is(10, top, 80, 470, BOARD_VIEW_COUNT_PLATE));
}

TEST_F(GameView, FrameLinesBesideTheBoardTurnRedOnceTheEdgeIsReached) {
  GAME.barriers_left = 0;  // no gauges in the panels
  render();
  for (int y : {0, 240, 479}) {
    EXPECT_EQ(gh::pixel(79, y), BOARD_VIEW_FRAME) << y;
    EXPECT_EQ(gh::pixel(560, y), BOARD_VIEW_FRAME) << y;
    EXPECT_EQ(gh::pixel(78, y), 0u);
    EXPECT_EQ(gh::pixel(80, y), 0u);
    EXPECT_EQ(gh::pixel(559, y), 0u);
  }
  GAME.edge_reached = 1;
  render();
  EXPECT_EQ(gh::pixel(79, 100), BOARD_VIEW_FRAME_LOST);
  EXPECT_EQ(gh::pixel(560, 100), BOARD_VIEW_FRAME_LOST);
}

TEST_F(GameView, WallBevelAndBlockInset) {
  GAME.plain_view = 0;
  GAME.at(3, 4).flags = CELL_WALL;
  GAME.at(5, 4).flags = CELL_WALL | CELL_BLOCK;
  render();
  const uint32_t grey = rgb(96, 96, 96);
  const uint32_t bevel = 0xA0A0A0 - grey;      // (64, 64, 64)
  int left = cell_left(3), top = cell_top(4);  // 16 x 16 cells on the 30-cell level
  EXPECT_EQ(gh::pixel(left, top), grey);
  EXPECT_EQ(gh::pixel(left + 1, top + 1), grey);
  EXPECT_EQ(gh::pixel(left + 2, top + 2), bevel);
  EXPECT_EQ(gh::pixel(left + 13, top + 13), bevel);
  EXPECT_EQ(gh::pixel(left + 14, top + 14), grey);
  EXPECT_EQ(gh::pixel(left + 15, top + 15), grey);

  // A "D" block: olive (pulse, pulse AND 127, 0) inset by 3 pixels, black margin around it.
  left = cell_left(5);
  EXPECT_EQ(gh::pixel(left + 2, top + 2), 0u);
  EXPECT_EQ(gh::pixel(left + 3, top + 3), rgb(96, 96, 0));
  EXPECT_EQ(gh::pixel(left + 12, top + 12), rgb(96, 96, 0));
  EXPECT_EQ(gh::pixel(left + 13, top + 13), 0u);
  EXPECT_EQ(gh::pixel(left + 8, top), 0u);

  // At the crest of the pulse (sin = 1, pulse 128) the block blinks dark red; the plain view
  // drops the wall's bevel.
  VIEW.frame_tick = 1571;
  GAME.plain_view = 1;
  render();
  EXPECT_EQ(gh::pixel(left + 8, top + 8), rgb(128, 0, 0));
  left = cell_left(3);
  EXPECT_EQ(gh::pixel(left + 8, top + 8), rgb(128, 128, 128));
}

TEST_F(GameView, ChemicalCellsTakeTheirRampColourAndTheFirstStepFlashes) {
  GAME.at(0, 0).flags = CELL_CHEMICAL;  // concentration 0: black
  GAME.at(1, 0).flags = CELL_CHEMICAL;
  GAME.at(1, 0).concentration = 256;
  GAME.at(2, 0).flags = CELL_CHEMICAL;
  GAME.at(2, 0).concentration = 511;
  GAME.at(3, 0).flags = CELL_CHEMICAL;
  GAME.at(3, 0).concentration = 65535;
  render();
  for (int dx : {0, 7, 15}) {
    for (int dy : {0, 15}) {
      EXPECT_EQ(gh::pixel(cell_left(0) + dx, dy), 0u);
      EXPECT_EQ(gh::pixel(cell_left(1) + dx, dy), rgb(64, 192, 0));
      EXPECT_EQ(gh::pixel(cell_left(2) + dx, dy), rgb(64, 192, 0));
      EXPECT_EQ(gh::pixel(cell_left(3) + dx, dy), rgb(6, 105, 6));
    }
  }
}

TEST_F(GameView, DiscsPulseInTheirCellsAndVanishInTheTally) {
  load_level(GAME, 9);  // 40 x 40: 12-pixel cells
  gh::clear_grid();
  GAME.at(2, 2).flags = CELL_NITRO;
  GAME.at(4, 2).flags = CELL_TETRA;
  render();
  const int centre_y = cell_top(2) + GAME.cell_height / 2;
  EXPECT_EQ(gh::pixel(cell_left(2) + GAME.cell_width / 2, centre_y), rgb(0, 128, 192));
  EXPECT_EQ(gh::pixel(cell_left(4) + GAME.cell_width / 2, centre_y), rgb(192, 192, 0));
  EXPECT_EQ(gh::pixel(cell_left(2), cell_top(2)), 0u);  // the rest of the cell stays black
  GAME.game_state = STATE_TALLY;
  render();
  EXPECT_EQ(gh::pixel(cell_left(2) + GAME.cell_width / 2, centre_y), 0u);
  EXPECT_EQ(gh::pixel(cell_left(4) + GAME.cell_width / 2, centre_y), 0u);
}

TEST_F(GameView, HighlightIsAnOutlineInRedOfItsStrengthOnlyInPlay) {
  GAME.at(6, 6).highlight = 200;
  GAME.at(7, 6).flags = CELL_WALL;
  GAME.at(7, 6).highlight = 255;
  render();
  const int left = cell_left(6), top = cell_top(6);
  EXPECT_EQ(gh::pixel(left, top), 200u);
  EXPECT_EQ(gh::pixel(left + 15, top + 8), 200u);
  EXPECT_EQ(gh::pixel(left + 8, top + 15), 200u);
  EXPECT_EQ(gh::pixel(left + 8, top + 8), 0u);
  // Over a wall the outline replaces the wall's own edge pixels only.
  EXPECT_EQ(gh::pixel(cell_left(7), top + 8), 255u);
  EXPECT_EQ(gh::pixel(cell_left(7) + 8, top + 8), rgb(96, 96, 96));
  GAME.game_state = STATE_TALLY;
  random_seed(1);
  render();
  EXPECT_EQ(gh::pixel(left, top), 0u);
}

TEST_F(GameView, SpecksFollowTheirRandomDrawsInOrder) {
  GAME.plain_view = 0;
  Cell& cell = GAME.at(10, 10);
  cell.flags = CELL_CHEMICAL;
  cell.concentration = 200 << 8;
  // A seed whose first draw of random_int(3) is 0, so that this cell gets its specks.
  uint32_t seed = 0;
  for (;; ++seed) {
    random_seed(seed);
    if (random_int(3) == 0) break;
  }
  // Expected picture of the cell: its own colour, then four 2 x 2 specks, each drawn from a
  // colour index, a vertical offset and a horizontal offset, in that order.
  const int w = GAME.cell_width, h = GAME.cell_height;
  std::vector<uint32_t> expected((w + 1) * (h + 1), 0);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) expected[y * (w + 1) + x] = VIEW.chemical_palette[200];
  random_seed(seed);
  random_int(3);
  for (int speck = 0; speck < 4; ++speck) {
    const uint32_t colour = VIEW.chemical_palette[random_int(200)];
    const int dy = static_cast<int>(random_int(h - 1));
    const int dx = static_cast<int>(random_int(w - 1));
    for (int y = dy; y < dy + 2; ++y)
      for (int x = dx; x < dx + 2; ++x) expected[y * (w + 1) + x] = colour;
  }
  random_seed(seed);
  render();
  const int left = cell_left(10), top = cell_top(10);
  for (int y = 0; y <= h; ++y)
    for (int x = 0; x <= w; ++x)
      ASSERT_EQ(gh::pixel(left + x, top + y), expected[y * (w + 1) + x]) << x << "," << y;
}

TEST_F(GameView, ShakeMovesTheCellsButNotTheFrame) {
  GAME.at(10, 10).flags = CELL_WALL;
  GAME.shake_frames = 10;
  random_seed(77);
  const int expected_dx = static_cast<int>(random_int(36)) - 18;  // 9 frames left after this one
  random_seed(77);
  render();
  EXPECT_EQ(GAME.shake_frames, 9);
  EXPECT_EQ(VIEW.shake_dx, expected_dx);
  EXPECT_EQ(VIEW.shake_dy, 0);
  const int left = cell_left(10) + expected_dx;
  EXPECT_EQ(gh::pixel(left, cell_top(10) + 8), rgb(96, 96, 96));
  EXPECT_EQ(gh::pixel(left - 1, cell_top(10) + 8), 0u);
  EXPECT_EQ(gh::pixel(79, 100), BOARD_VIEW_FRAME);
  GAME.shake_frames = 0;
  render();
  EXPECT_EQ(VIEW.shake_dx, 0);
}

TEST_F(GameView, PromptsAreCentredWithTheirBottomOnRow430OverAnOpaquePlate) {
  // Walls everywhere, so the black plate behind a prompt shows against them.
  for (Cell& cell : GAME.grid) cell.flags = CELL_WALL;
  const uint32_t wall = rgb(96, 96, 96);
  struct Case {
    const char* text;
    int contained, edge;
    uint32_t colour;
  };
  for (const Case& c : {Case{"PRESS ENTER TO CONTINUE.", 1, 0, BOARD_VIEW_PROMPT_WIN},
                        Case{"PRESS R TO RESTART.", 0, 1, BOARD_VIEW_PROMPT_LOST}}) {
    GAME.contained = c.contained;
    GAME.edge_reached = c.edge;
    render();
    const auto [width, height] = gh::text_size(c.text);
    const int left = (640 - width) / 2, top = 430 - height;
    EXPECT_FALSE(any_pixel_is(left, top, left + width, 430, wall)) << c.text;
    EXPECT_TRUE(any_pixel_is(left, top, left + width, 430, c.colour)) << c.text;
    EXPECT_EQ(gh::pixel(left - 1, top + height / 2), wall) << c.text;
    EXPECT_EQ(gh::pixel(left + width, top + height / 2), wall) << c.text;
    EXPECT_EQ(gh::pixel(320, top - 1), wall) << c.text;
    EXPECT_EQ(gh::pixel(320, 430), wall) << c.text;
  }
  // The green prompt belongs to play; the red one shows in any state.
  GAME.contained = 1;
  GAME.edge_reached = 0;
  GAME.game_state = STATE_TALLY;
  render();
  EXPECT_FALSE(any_pixel_is(80, 380, 560, 430, BOARD_VIEW_PROMPT_WIN));
}

TEST_F(GameView, MessageLineIsCentredWithItsBottomOnTheMiddleRow) {
  GAME.game_state = STATE_MESSAGE;
  GAME.message_line = "DO NOT ALLOW Q-47 TO REACH THE EDGES!";
  GAME.message_colour = 0x00FF00;
  render();
  const auto [width, height] = gh::text_size(GAME.message_line);
  const int left = (640 - width) / 2;
  const Ink ink = ink_in(0, 0, 640, 480);
  ASSERT_FALSE(ink.empty());
  EXPECT_GE(ink.left, left);
  EXPECT_LE(ink.left, left + 3);
  EXPECT_LT(ink.right, left + width);
  EXPECT_GE(ink.right, left + width - 4);
  EXPECT_GE(ink.top, 240 - height);
  EXPECT_LT(ink.bottom, 240);
  EXPECT_TRUE(any_pixel_is(left, 240 - height, left + width, 240, 0x00FF00));
  // Nothing of the level is drawn on a message screen: no frame, gauges or score.
  EXPECT_EQ(gh::pixel(79, 100), 0u);
}

TEST_F(GameView, ScorePlaceholderAndCueCharactersOnAMessageLine) {
  GAME.game_state = STATE_MESSAGE;
  GAME.score = 0;
  GAME.message_line = "SCORE-FICIENCY: %S";
  render();
  EXPECT_EQ(GAME.message_line, "SCORE-FICIENCY: 0");
  GAME.score = 1234;
  GAME.message_line = "$#%S%S";  // only the cues at the front, in their order, are taken
  render();
  EXPECT_EQ(GAME.message_line, "#12341234");
}

}  // namespace
