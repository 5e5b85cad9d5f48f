// The containment check done the literal way, by whole passes over the grid until one changes
// nothing, and the maze that is hardest for it. The tests hold the game's fill to this reference;
// the rules benchmark times both.
#pragma once

#include <cstdint>

#include "media/sound.h"
#include "tests/support/game_state.h"

inline void reference_check_containment() {
  const int32_t previous = GAME.contained;
  GAME.contained = 1;
  bool changed = true;
  while (changed) {
    changed = false;
    for (int32_t x = 0; x < GAME.grid_width; ++x) {
      for (int32_t y = 0; y < GAME.grid_height; ++y) {
        Cell& cell = GAME.at(x, y);
        if (cell.fill_mark != GAME.fill_generation) {
          const bool next_to_mark =
              (x > 0 && GAME.at(x - 1, y).fill_mark == GAME.fill_generation) ||
              (y > 0 && GAME.at(x, y - 1).fill_mark == GAME.fill_generation) ||
              (x < GAME.grid_width - 1 && GAME.at(x + 1, y).fill_mark == GAME.fill_generation) ||
              (y < GAME.grid_height - 1 && GAME.at(x, y + 1).fill_mark == GAME.fill_generation);
          if ((cell.flags & CELL_CHEMICAL) || (!(cell.flags & CELL_WALL) && next_to_mark)) {
            cell.fill_mark = GAME.fill_generation;
            changed = true;
          }
        } else if (x == 0 || y == 0 || x == GAME.grid_width - 1 || y == GAME.grid_height - 1) {
          GAME.contained = 0;
        }
      }
    }
  }
  GAME.fill_generation = static_cast<int32_t>(static_cast<uint32_t>(GAME.fill_generation) + 1);
  if (GAME.contained == 1 && previous == 0 && GAME.sound_ok) sound_play(SOUND_WIN);
}

// A size x size grid walled all round, holding one corridor that winds down the rows: the leak
// sits at the top right, so the first corridor and every other one after it run right to left,
// which whole passes (carrying marks only one cell leftwards each) cover slowest.
inline void make_serpentine_maze(int32_t size) {
  session_clear();
  GAME.grid_width = GAME.grid_height = size;
  GAME.grid.assign(static_cast<size_t>(size) * size, Cell{});
  GAME.spread_rate = 16;
  GAME.spread_threshold = 1024;
  GAME.fill_generation = 1;
  for (int32_t x = 0; x < size; ++x) {
    for (int32_t y = 0; y < size; ++y) {
      const bool ring = x == 0 || y == 0 || x == size - 1 || y == size - 1;
      // Even rows divide the corridors; each has one gap, alternately at the left and right end.
      const bool gap = (y % 4 == 2 && x == 1) || (y % 4 == 0 && x == size - 2);
      const bool divider = y % 2 == 0 && !gap;
      if (ring || divider) GAME.at(x, y).flags = CELL_WALL;
    }
  }
  GAME.at(size - 2, 1).flags = CELL_CHEMICAL;
}
