// The player's side of the rules: the pointer mapped onto the grid, barriers placed with the
// left button and picked up with the right, and the tally that turns barriers into score.
#pragma once

#include <cstdint>

#include "core/rules.h"

// Takes the pointer (screen pixels) as mouse_px / mouse_py, maps it to cursor_x / cursor_y
// (clamped into the grid), sets cursor_on_board and raises the highlight of the cell under it.
// Active window, not on a message screen.
void update_cursor(Rules& rules, int32_t pointer_x, int32_t pointer_y);
// The buttons' effect on the cell under the pointer, for given button states (1 = held): place,
// pick up, with their cues. The frame calls it (handle_buttons) while cursor_on_board.
void barriers_apply_buttons(Rules& rules, int32_t left_held, int32_t right_held);
// Starts the tally of a won level: it lasts as many frames as there are barriers in hand, at
// least BARRIERS_TALLY_MIN_FRAMES, and drains the first barrier on the next frame.
void tally_start(Rules& rules);
// One frame of the tally: one frame less, one barrier from the hand into the score.
void tally_step(Rules& rules);
// Frames the tally of a won level lasts: the barriers in hand, at least this many.
constexpr int32_t BARRIERS_TALLY_MIN_FRAMES = 30;
