// The game's one door to the player's devices. The rules ask here instead of the media layer, so
// a run can be noted frame by frame as it is played and answered again from those notes later,
// without the rules knowing which. Each frame opens with input_frame_start.
#pragma once

#include <cstdint>

#include "core/input_frame.h"

// Forgets every answer noted or given: the pointer at 0, 0, nothing held (a session's start).
void input_reset();
// Opens a frame. With null the answers come from the devices and are noted; otherwise they come
// from *given (copied), and no device is asked.
void input_frame_start(const InputFrame* given);
// The frame's answers so far (live: what the devices said; given: the frame as given).
const InputFrame& input_frame_noted();
// Whether this frame's answers come from a given frame rather than the devices.
int32_t input_is_given();

// Takes the mouse and keyboard state for the frame (live only).
void input_examine();
// screen_is_active.
int32_t input_is_active();
// Whether the window asked to quit this frame; closed_now is what the window's events said.
int32_t input_closed(int32_t closed_now);
// Whether the drawing pass began; began_now is what draw_begin said.
int32_t input_pass_began(int32_t began_now);

// The pointer in game pixels, as mouse_x and mouse_y.
int32_t input_mouse_x();
int32_t input_mouse_y();
// 1 while button 1 (left) or 2 (right) is down; other buttons are never down.
int32_t input_mouse_button(int32_t button);
// Moves the pointer (live only: a replay leaves the viewer's pointer alone).
void input_mouse_locate(int32_t x, int32_t y);
// As key_down and key_released. Keys outside the INPUT_* table are asked of the device live and
// not noted, and answer 0 from a given frame: add a key to the table before the rules use it.
int32_t input_key_down(int32_t code);
int32_t input_key_released(int32_t code);
