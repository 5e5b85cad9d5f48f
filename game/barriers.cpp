#include "game/barriers.h"

#include <algorithm>

#include "game/game_globals.h"
#include "game/input.h"
#include "game/sound_cues.h"
#include "game/spread.h"

namespace {

// Cells that take a barrier: plain floor only (a former wall counts as floor again).
constexpr int32_t BARRIERS_BLOCKING = CELL_WALL | CELL_CHEMICAL | CELL_NITRO | CELL_TETRA;
constexpr int32_t BARRIERS_GLOW_RISE = 100;        // highlight gained per frame under the pointer
constexpr int32_t BARRIERS_GLOW_RISE_PLAIN = 255;  // the same in the plain view: on at once
constexpr int32_t BARRIERS_GLOW_MAX = 255;

}  // namespace

void update_cursor() {
  mouse_px = input_mouse_x();
  mouse_py = input_mouse_y();
  // Product first, then a truncating division, so that cells of non-integral width still map.
  cursor_x = grid_width * (mouse_px - board_left) / board_size;
  cursor_y = grid_height * (mouse_py - board_top) / board_size;
  // The comparisons against the board's left and top edges are needed on their own: a pointer
  // a few pixels left of the board still divides to column 0.
  cursor_on_board = 1;
  if (mouse_px < board_left) {
    cursor_x = 0;
    cursor_on_board = 0;
  }
  if (mouse_py < board_top) {
    cursor_y = 0;
    cursor_on_board = 0;
  }
  if (cursor_x >= grid_width) {
    cursor_x = grid_width - 1;
    cursor_on_board = 0;
  }
  if (cursor_y >= grid_height) {
    cursor_y = grid_height - 1;
    cursor_on_board = 0;
  }
  // The clamped cell glows even with the pointer off the board: the nearest edge cell then
  // rises and fades in the same frame, which in the normal view leaves a steady glow.
  Cell& cell = grid_at(cursor_x, cursor_y);
  cell.highlight = std::min(
      cell.highlight + (plain_view ? BARRIERS_GLOW_RISE_PLAIN : BARRIERS_GLOW_RISE),
      BARRIERS_GLOW_MAX);
}

void handle_buttons() { barriers_apply_buttons(input_mouse_button(1), input_mouse_button(2)); }

void barriers_apply_buttons(int32_t left_held, int32_t right_held) {
  Cell& cell = grid_at(cursor_x, cursor_y);
  if (left_held) {
    if (barriers_left > 0) {
      if (!(cell.flags & BARRIERS_BLOCKING)) {
        cell.flags |= CELL_WALL;
        cell.concentration = 0;
        barriers_left -= 1;
        if (barriers_left == 0) sound_cues_play(SOUND_CANT);
        check_containment();
        sound_cues_play(SOUND_BUMP);
      }
    } else if (!empty_click_latch) {
      // Once per press: holding the button with an empty hand must not repeat the cue.
      sound_cues_play(SOUND_CANT);
    }
    empty_click_latch = 1;
  } else {
    empty_click_latch = 0;
  }
  if (right_held && (cell.flags & CELL_WALL) && !(cell.flags & (CELL_NITRO | CELL_TETRA))) {
    cell.flags &= ~(CELL_WALL | CELL_BLOCK);
    barriers_left += 1;
    check_containment();
    sound_cues_play(SOUND_TAKE);
  }
}

void tally_start() {
  game_state = STATE_TALLY;
  tally_frames = barriers_left < BARRIERS_TALLY_MIN_FRAMES ? BARRIERS_TALLY_MIN_FRAMES
                                                           : barriers_left;
}

void tally_step() {
  if (tally_frames > 0) tally_frames -= 1;
  if (barriers_left > 0) {
    barriers_left -= 1;
    score += 1;
  }
}
