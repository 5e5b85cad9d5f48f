// The built-in level stream, read back through the game's own reader, against the published
// tables: entry offsets, every story line and colour, and each level's size, parameters and
// letter counts; then what load_level resets and what it leaves alone.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/level_stream.h"
#include "tests/support/game_state.h"

namespace {

struct Line {
  const char* text;
  uint32_t colour;
};

constexpr uint32_t RED = 0x0000FF, WHITE = 0xFFFFFF, GREEN = 0x00FF00, BLACK = 0;

struct Block {
  size_t offset;
  std::vector<Line> lines;
  const char* terminator;
};

const std::vector<Block> BLOCKS = {
    {0,
     {{"#WARNING", RED},
      {"STRUCTURAL FAILURE DETECTED IN STORAGE SECTOR", WHITE},
      {"#WARNING", RED},
      {"ESCAPE OF ZORARUVO Q-47 IMMINENT", WHITE},
      {"#WARNING", RED},
      {"EMERGENCY CONTAINMENT PROCEDURES INITIATED:", WHITE},
      {"$LEFT-CLICK TO PLACE BARRIERS", GREEN},
      {"$RIGHT-CLICK TO PICK UP BARRIERS", GREEN},
      {"LESS BARRIERS PLACED MEANS HIGHER SCORES", WHITE},
      {"I MEAN... HIGHER 'EFFICIENCY'...", WHITE},
      {"DO NOT ALLOW Q-47 TO REACH THE EDGES!", GREEN},
      {"$BEGIN!", RED}},
     "*"},
    {1333,
     {{"$WELL DONE! THE DAY IS SAV-", WHITE},
      {"#WARNING", RED},
      {"ZORARUVO Q-47 DETECTED IN OFFICE AREA", WHITE},
      {"BEGIN!", RED}},
     ""},
    {2382, {{"$IT'S IN THE AIR DUCTS!", WHITE}, {"BEGIN!", RED}}, ""},
    {3372, {{"$IT'S BREACHED THE SIERPINSKI SECTOR!", WHITE}, {"BEGIN!", RED}}, ""},
    {4376,
     {{"$DON'T LET IT REACH THE DIHYDROGEN MONOXIDE", WHITE},
      {"(AKA BLUE CIRCLES)", 0xF0A000},
      {"OR IT WILL SPREAD TWICE AS FAST", WHITE},
      {"BEGIN!", RED}},
     ""},
    {5445,
     {{"$LEAD THE Q-47 TO THE YELLOW CIRCLES", WHITE},
      {"(ERR, TETRACHLORIDE WHATEVER)", 0x00F0F0},
      {"AND IT WILL SLOW DOWN", WHITE},
      {"BEGIN!", RED}},
     ""},
    {6508,
     {{"$ONLY A FEW Q-47 LEAKS REMAIN", WHITE},
      {"$TAKE CARE OF THE POORLY-DESIGNED LOBBY", WHITE},
      {"BEGIN!", RED}},
     ""},
    {9648,
     {{"$YOU ARE DOING GREAT!", WHITE},
      {"THERE IS ONLY ONE Q-47 LEAK LEFT!", WHITE},
      {"BEGIN!", RED}},
     ""},
    {10674,
     {{"$ALL LEAKS CONTAINED", GREEN},
      {"SCORE-FICIENCY: %S", 0xFFFF00},
      {"VERY WELL DONE!", WHITE},
      {"WE HAVE FULL CONTROL OF ANTIDOTE 47.", WHITE},
      {"AND WITH VIRUS 47 SPREADING MORE EACH DAY,", WHITE},
      {"OUR PROFITS IN 2012 SHOULD BE SKY-HIGH!", WHITE},
      {"&", BLACK},
      {"THANKS AGAIN PAL!", WHITE},
      {"% ", BLACK},
      {"by tarnwick", 0x404040},
      {"~", BLACK}},
     ""},
};

struct Level {
  size_t offset;
  int32_t size, barriers;
  int letters[5];  // I, W, D, N, T
};

const Level LEVELS[10] = {
    {383, 30, 50, {1, 47, 0, 0, 0}},      {1432, 30, 50, {3, 158, 44, 0, 0}},
    {2422, 30, 50, {14, 161, 10, 0, 0}},  {3426, 30, 10, {8, 136, 30, 0, 0}},
    {4495, 30, 60, {3, 61, 13, 1, 0}},    {5558, 30, 1, {3, 133, 0, 2, 4}},
    {6598, 30, 10, {4, 175, 0, 2, 3}},    {7548, 20, 0, {2, 0, 80, 1, 4}},
    {7988, 40, 50, {6, 128, 47, 3, 156}}, {9724, 30, 15, {4, 121, 14, 2, 3}},
};

// Reads a block at the cursor, checking it line by line.
void expect_block(const Block& block) {
  ASSERT_EQ(GAME.level_data_cursor, block.offset);
  for (const Line& line : block.lines) {
    EXPECT_EQ(level_read_string(GAME), line.text) << "block at " << block.offset;
    EXPECT_EQ(static_cast<uint32_t>(level_read_int(GAME)), line.colour) << line.text;
  }
  EXPECT_EQ(level_read_string(GAME), block.terminator) << "block at " << block.offset;
}

// Reads a level record at the cursor; every row must be exactly as long as the width.
void expect_record(int number, const Level& level) {
  ASSERT_EQ(GAME.level_data_cursor, level.offset) << "level " << number;
  EXPECT_EQ(level_read_int(GAME), level.size);
  EXPECT_EQ(level_read_int(GAME), level.size);
  EXPECT_EQ(level_read_int(GAME), level.barriers);
  EXPECT_EQ(level_read_int(GAME), 16);
  EXPECT_EQ(level_read_int(GAME), 1024);
  for (int y = 0; y < level.size; ++y) {
    EXPECT_EQ(level_read_string(GAME).size(), static_cast<size_t>(level.size))
        << "level " << number << " row " << y;
  }
}

}  // namespace

TEST(LevelStream, EveryEntryAtItsOffsetAndTheWholeLength) {
  // Walk the stream in play order: each entry must end exactly where the next one starts.
  GAME.level_data_cursor = LEVEL_ENTRY_INTRO;
  expect_block(BLOCKS[0]);
  size_t next_block = 1;
  for (int number = 1; number <= 10; ++number) {
    EXPECT_EQ(level_record_offset(session_stream(), number), LEVELS[number - 1].offset);
    expect_record(number, LEVELS[number - 1]);
    const long block = level_block_offset(session_stream(), number);
    if (number == 7 || number == 8) {
      EXPECT_EQ(block, -1);
      continue;
    }
    ASSERT_EQ(block, static_cast<long>(BLOCKS[next_block].offset)) << "after level " << number;
    expect_block(BLOCKS[next_block++]);
  }
  EXPECT_EQ(next_block, BLOCKS.size());
  EXPECT_EQ(GAME.level_data_cursor, LEVEL_STREAM_SIZE);
  EXPECT_EQ(LEVEL_ENTRY_FINAL, BLOCKS.back().offset);

  for (int32_t other : {0, 11, -3}) {
    EXPECT_EQ(level_record_offset(session_stream(), other), LEVELS[0].offset);
    EXPECT_EQ(level_block_offset(session_stream(), other), -1);
  }
}

TEST(LevelStream, ReadersStopAtTheEndOfTheStream) {
  GAME.level_data_cursor = LEVEL_STREAM_SIZE - 2;
  EXPECT_EQ(level_read_int(GAME), 0);
  EXPECT_EQ(GAME.level_data_cursor, LEVEL_STREAM_SIZE);
  EXPECT_EQ(level_read_string(GAME), "");
  EXPECT_EQ(GAME.level_data_cursor, LEVEL_STREAM_SIZE);
}

TEST(LoadLevel, EachLevelsSizeParametersAndLetters) {
  session_clear();
  for (int number = 1; number <= 10; ++number) {
    const Level& level = LEVELS[number - 1];
    load_level(GAME, number);
    ASSERT_EQ(GAME.grid_width, level.size);
    ASSERT_EQ(GAME.grid_height, level.size);
    ASSERT_EQ(GAME.grid.size(), static_cast<size_t>(level.size * level.size));
    EXPECT_EQ(GAME.cell_width, 480 / level.size);
    EXPECT_EQ(GAME.cell_height, 480 / level.size);
    EXPECT_EQ(GAME.board_size, 480);
    EXPECT_EQ(GAME.board_left, 80);
    EXPECT_EQ(GAME.board_top, 0);
    EXPECT_EQ(GAME.barriers_left, level.barriers);
    EXPECT_EQ(GAME.barriers_at_start, level.barriers > 0 ? level.barriers : 1);
    EXPECT_EQ(GAME.spread_rate, 16);
    EXPECT_EQ(GAME.spread_threshold, 1024);

    int counts[5] = {};
    for (const Cell& cell : GAME.grid) {
      EXPECT_EQ(cell.concentration, 0);
      switch (cell.flags) {
        case 0:
          break;
        case CELL_CHEMICAL:
          ++counts[0];
          break;
        case CELL_WALL:
          ++counts[1];
          break;
        case CELL_WALL | CELL_BLOCK:
          ++counts[2];
          break;
        case CELL_NITRO:
          ++counts[3];
          break;
        case CELL_TETRA:
          ++counts[4];
          break;
        default:
          ADD_FAILURE() << "level " << number << ": flags " << cell.flags;
      }
    }
    for (int k = 0; k < 5; ++k) {
      EXPECT_EQ(counts[k], level.letters[k]) << "level " << number << ", letter "
                                             << "IWDNT"[k];
    }
  }
  // x-major, top row first: level 1's only leak is in column 14 of row 14, and the wall run of
  // row 10 starts at column 10.
  load_level(GAME, 1);
  EXPECT_EQ(GAME.at(14, 14).flags, CELL_CHEMICAL);
  EXPECT_EQ(GAME.grid[14 * 30 + 14].flags, CELL_CHEMICAL);
  EXPECT_EQ(GAME.at(10, 10).flags, CELL_WALL);
  EXPECT_EQ(GAME.at(9, 10).flags, 0);
  EXPECT_EQ(GAME.at(23, 7).flags, CELL_WALL);
}

TEST(LoadLevel, NumbersWithoutARecordLoadLevelOneAndKeepTheirNumber) {
  session_clear();
  load_level(GAME, 1);
  const std::vector<Cell> first = GAME.grid;
  for (int32_t number : {0, 11, -1}) {
    load_level(GAME, number);
    EXPECT_EQ(GAME.level_number, number);
    EXPECT_EQ(GAME.grid_width, 30);
    EXPECT_EQ(GAME.barriers_left, 50);
    ASSERT_EQ(GAME.grid.size(), first.size());
    for (size_t i = 0; i < GAME.grid.size(); ++i)
      ASSERT_EQ(GAME.grid[i].flags, first[i].flags) << i;
  }
}

TEST(LoadLevel, MapLettersIgnoreCaseAndUnknownLettersAreFloor) {
  session_clear();
  load_level(GAME, 8);  // 20 wide
  level_set_row(GAME, 5, "iwdntx.?WDxyz123456TAIL-BEYOND-THE-WIDTH");
  const int32_t expected[] = {CELL_CHEMICAL,
                              CELL_WALL,
                              CELL_WALL | CELL_BLOCK,
                              CELL_NITRO,
                              CELL_TETRA,
                              0,
                              0,
                              0,
                              CELL_WALL,
                              CELL_WALL | CELL_BLOCK};
  for (int x = 0; x < 10; ++x) EXPECT_EQ(GAME.at(x, 5).flags, expected[x]) << x;
  for (int x = 10; x < 19; ++x) EXPECT_EQ(GAME.at(x, 5).flags, 0) << x;
  EXPECT_EQ(GAME.at(19, 5).flags, CELL_TETRA);  // the 20th letter; the rest is beyond the grid
  EXPECT_EQ(GAME.at(0, 6).flags, 0);

  level_set_row(GAME, 6, "WW");  // a short row leaves the rest open
  EXPECT_EQ(GAME.at(1, 6).flags, CELL_WALL);
  EXPECT_EQ(GAME.at(2, 6).flags, 0);
}

TEST(LoadLevel, ResetsThePerLevelStateAndKeepsTheRest) {
  session_clear();
  load_level(GAME, 2);
  for (Cell& cell : GAME.grid) cell = {700, CELL_CHEMICAL, 200, 9};
  GAME.contained = GAME.edge_reached = 1;
  GAME.shake_frames = 4;
  GAME.spread_rate = 64;
  GAME.spread_threshold = 4096;
  GAME.game_state = STATE_TALLY;
  GAME.score = 17;
  GAME.plain_view = 1;
  VIEW.windowed = 1;
  GAME.fill_generation = 42;
  GAME.tally_frames = 30;
  GAME.empty_click_latch = 1;
  GAME.cursor_x = 3;
  GAME.cursor_on_board = 1;
  GAME.message_line = "BEGIN!";

  load_level(GAME, 2);
  EXPECT_EQ(GAME.level_number, 2);
  for (const Cell& cell : GAME.grid) {
    ASSERT_EQ(cell.concentration, 0);
    ASSERT_EQ(cell.highlight, 0);
    ASSERT_EQ(cell.fill_mark, 0);
  }
  EXPECT_EQ(GAME.contained, 0);
  EXPECT_EQ(GAME.edge_reached, 0);
  EXPECT_EQ(GAME.shake_frames, 0);
  EXPECT_EQ(GAME.spread_rate, 16);
  EXPECT_EQ(GAME.spread_threshold, 1024);
  EXPECT_EQ(GAME.game_state, STATE_PLAYING);
  EXPECT_EQ(GAME.score, 17);
  EXPECT_EQ(GAME.plain_view, 1);
  EXPECT_EQ(VIEW.windowed, 1);
  EXPECT_EQ(GAME.fill_generation, 42);
  EXPECT_EQ(GAME.tally_frames, 30);
  EXPECT_EQ(GAME.empty_click_latch, 1);
  EXPECT_EQ(GAME.cursor_x, 3);
  EXPECT_EQ(GAME.cursor_on_board, 1);
  EXPECT_EQ(GAME.message_line, "BEGIN!");
}
