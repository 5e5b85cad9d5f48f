#include "core/barriers.h"

#include <algorithm>

#include "core/spread.h"

namespace {

// Cells that take a barrier: plain floor only (a former wall counts as floor again).
constexpr int32_t BARRIERS_BLOCKING = CELL_WALL | CELL_CHEMICAL | CELL_NITRO | CELL_TETRA;
constexpr int32_t BARRIERS_GLOW_RISE = 100;        // highlight gained per frame under the pointer
constexpr int32_t BARRIERS_GLOW_RISE_PLAIN = 255;  // the same in the plain view: on at once
constexpr int32_t BARRIERS_GLOW_MAX = 255;

}  // namespace

void update_cursor(Rules& rules, int32_t pointer_x, int32_t pointer_y) {
  rules.mouse_px = pointer_x;
  rules.mouse_py = pointer_y;
  // Product first, then a truncating division, so that cells of non-integral width still map.
  rules.cursor_x = rules.grid_width * (rules.mouse_px - rules.board_left) / rules.board_size;
  rules.cursor_y = rules.grid_height * (rules.mouse_py - rules.board_top) / rules.board_size;
  // The comparisons against the board's left and top edges are needed on their own: a pointer
  // a few pixels left of the board still divides to column 0.
  rules.cursor_on_board = 1;
  if (rules.mouse_px < rules.board_left) {
    rules.cursor_x = 0;
    rules.cursor_on_board = 0;
  }
  if (rules.mouse_py < rules.board_top) {
    rules.cursor_y = 0;
    rules.cursor_on_board = 0;
  }
  if (rules.cursor_x >= rules.grid_width) {
    rules.cursor_x = rules.grid_width - 1;
    rules.cursor_on_board = 0;
  }
  if (rules.cursor_y >= rules.grid_height) {
    rules.cursor_y = rules.grid_height - 1;
    rules.cursor_on_board = 0;
  }
  // The clamped cell glows even with the pointer off the board: the nearest edge cell then
  // rises and fades in the same frame, which in the normal view leaves a steady glow.
  Cell& cell = rules.at(rules.cursor_x, rules.cursor_y);
  cell.highlight =
      std::min(cell.highlight + (rules.plain_view ? BARRIERS_GLOW_RISE_PLAIN : BARRIERS_GLOW_RISE),
               BARRIERS_GLOW_MAX);
}

void barriers_apply_buttons(Rules& rules, int32_t left_held, int32_t right_held) {
  Cell& cell = rules.at(rules.cursor_x, rules.cursor_y);
  if (left_held) {
    if (rules.barriers_left > 0) {
      if (!(cell.flags & BARRIERS_BLOCKING)) {
        cell.flags |= CELL_WALL;
        cell.concentration = 0;
        rules.barriers_left -= 1;
        if (rules.barriers_left == 0) rules_cue(rules, SOUND_CANT);
        check_containment(rules);
        rules_cue(rules, SOUND_BUMP);
      }
    } else if (!rules.empty_click_latch) {
      // Once per press: holding the button with an empty hand must not repeat the cue.
      rules_cue(rules, SOUND_CANT);
    }
    rules.empty_click_latch = 1;
  } else {
    rules.empty_click_latch = 0;
  }
  if (right_held && (cell.flags & CELL_WALL) && !(cell.flags & (CELL_NITRO | CELL_TETRA))) {
    cell.flags &= ~(CELL_WALL | CELL_BLOCK);
    rules.barriers_left += 1;
    check_containment(rules);
    rules_cue(rules, SOUND_TAKE);
  }
}

void tally_start(Rules& rules) {
  rules.game_state = STATE_TALLY;
  rules.tally_frames = rules.barriers_left < BARRIERS_TALLY_MIN_FRAMES ? BARRIERS_TALLY_MIN_FRAMES
                                                                       : rules.barriers_left;
}

void tally_step(Rules& rules) {
  if (rules.tally_frames > 0) rules.tally_frames -= 1;
  if (rules.barriers_left > 0) {
    rules.barriers_left -= 1;
    rules.score += 1;
  }
}
