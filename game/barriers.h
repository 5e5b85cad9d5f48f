// The player's side of the rules: the pointer mapped onto the grid, barriers placed with the
// left button and picked up with the right, and the tally that turns barriers into score.
#pragma once

#include <cstdint>

// Reads the pointer, maps it to cursor_x / cursor_y (clamped into the grid), sets
// cursor_on_board and raises the highlight of the cell under it. Active window, not on a
// message screen.
void update_cursor();
// Reads both mouse buttons and applies them to the cell under the pointer (cursor_on_board).
void handle_buttons();
// The body of handle_buttons for given button states (1 = held): place, pick up, play cues.
void barriers_apply_buttons(int32_t left_held, int32_t right_held);
// Starts the tally of a won level: it lasts as many frames as there are barriers in hand, at
// least BARRIERS_TALLY_MIN_FRAMES, and drains the first barrier on the next frame.
void tally_start();
// One frame of the tally: one frame less, one barrier from the hand into the score.
void tally_step();
// Frames the tally of a won level lasts: the barriers in hand, at least this many.
constexpr int32_t BARRIERS_TALLY_MIN_FRAMES = 30;
