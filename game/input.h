// The game's one door to the player's devices. The rules ask here instead of the media layer, so
// a run can be noted frame by frame as it is played and answered again from those notes later,
// without the rules knowing which. Each frame opens with input_frame_start.
#pragma once

#include <cstdint>

// InputFrame::held bits: what stays true from one frame to the next until it changes.
constexpr uint8_t INPUT_HELD_LEFT = 1;       // mouse_button(1)
constexpr uint8_t INPUT_HELD_RIGHT = 2;      // mouse_button(2)
constexpr uint8_t INPUT_HELD_ESCAPE = 4;     // key_down(KEY_ESCAPE)
constexpr uint8_t INPUT_HELD_LCONTROL = 8;   // key_down(KEY_LCONTROL)
constexpr uint8_t INPUT_HELD_RCONTROL = 16;  // key_down(KEY_RCONTROL)
constexpr uint8_t INPUT_ACTIVE = 32;         // screen_is_active: the window is in front
constexpr uint8_t INPUT_NO_PASS = 64;        // the drawing pass could not begin (no simulation)
constexpr uint8_t INPUT_HELD_ALL = 127;

// InputFrame::events bits: what happens in one frame only.
constexpr uint8_t INPUT_RELEASED_F = 1;  // key_released(KEY_F) answered 1
constexpr uint8_t INPUT_RELEASED_TAB = 2;
constexpr uint8_t INPUT_RELEASED_R = 4;
constexpr uint8_t INPUT_RELEASED_RETURN = 8;
constexpr uint8_t INPUT_RELEASED_SPACE = 16;
constexpr uint8_t INPUT_CLOSED = 32;  // the close box (or a signal) asked to quit
constexpr uint8_t INPUT_EVENTS_ALL = 63;

// What the game was told in one frame. Noted live, it holds the answers the game actually got
// (a query the game did not make reads 0, and the pointer keeps its last answered place); given
// to input_frame_start, it is what the game will be told.
struct InputFrame {
  int32_t pointer_x = 0;        // mouse_x in game pixels (0..639 once examined)
  int32_t pointer_y = 0;        // mouse_y in game pixels
  uint8_t held = INPUT_ACTIVE;  // INPUT_HELD_* bits, INPUT_ACTIVE, INPUT_NO_PASS
  uint8_t events = 0;           // INPUT_RELEASED_* bits and INPUT_CLOSED

  bool operator==(const InputFrame&) const = default;
};

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
