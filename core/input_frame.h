// What the game is told in one frame: the pointer, the buttons and keys held, the keys released
// and the window's requests. The live game notes these as it asks its devices; a replay or a
// script gives them back frame by frame, and the rules cannot tell which.
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

// A given frame's answer to a release test of bit (INPUT_RELEASED_*): as with the keyboard's own
// latch, only the first test in a frame sees the release, which it uses up.
inline int32_t input_frame_take_release(InputFrame& frame, uint8_t bit) {
  if (!(frame.events & bit)) return 0;
  frame.events &= static_cast<uint8_t>(~bit);
  return 1;
}
