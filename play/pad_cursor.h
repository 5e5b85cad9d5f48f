// Play with a game pad, in the manner of the keys' cell cursor (play/key_cursor.h): the d-pad
// moves the cursor a cell per press (repeating while held), the left stick glides it, slowly
// when barely pushed so a player can aim, faster the longer and further it is pushed. A held
// places barriers as the left button does (moving while held places several, as a drag does),
// B or X held picks walls up as the right button does. Like the keys' cursor it stands in for
// the pointer, so the rules, the recording and every replay see a pointer as ever. It is on from
// the pad's first move or fresh press until the mouse moves or the pad goes.
//
// The pad's other buttons stand for keys in every state of the game: Start for Enter, Back for
// Escape, and A for Space while no level is played, so a story moves on with A.
#pragma once

#include <cstdint>

#include "core/rules.h"
#include "play/input.h"

// A cell's width in the cursor's fine steps: the stick moves it by fractions of a cell.
constexpr int32_t PAD_CURSOR_FINE = 256;

struct PadCursor {
  int32_t on = 0;      // the pad steers the pointer
  int32_t fine_x = 0;  // where the cursor is, in PAD_CURSOR_FINE steps a cell
  int32_t fine_y = 0;
  int32_t dpad_frames = 0;      // frames a d-pad direction has been held, for its repeat
  int32_t stick_frames = 0;     // frames the stick has been pushed, for its speeding up
  uint32_t buttons_before = 0;  // the pad's buttons in the last frame, to tell a fresh press
  int32_t pointer_x = -1;       // where the cursor put the pointer
  int32_t pointer_y = -1;
  int32_t device_x = -1;  // where the device's pointer was last frame, to tell the mouse moving
  int32_t device_y = -1;
  int32_t stick_percent = 100;  // the stick's speed, percent of the game's own (the player's)
};

// Applies the pad of input to cursor on the board rules show: gives input the keys the pad
// stands for and, while the cursor is on, its pointer and buttons. Call once a frame before the
// rules read input, after key_cursor_apply.
void pad_cursor_apply(PadCursor& cursor, PlayerInput& input, const Rules& rules);
