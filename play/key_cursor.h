// Play without a mouse: the arrow keys move a cell cursor over the board, Space held places
// barriers as the left button does (moving while held places several, as a drag does), and
// Delete or Backspace held picks walls up as the right button does. The cursor stands in for the
// pointer: it moves the pointer to the cell's middle and presses its buttons, so the rules, the
// recording and every replay see a pointer as ever. It is on from the first arrow key until the
// mouse moves, and only while a level is played: Space still moves a story on.
#pragma once

#include <cstdint>

#include "core/rules.h"
#include "play/input.h"

struct KeyCursor {
  int32_t on = 0;      // the keys steer the pointer (since an arrow, until the mouse moves)
  int32_t cell_x = 0;  // the cell under the cursor
  int32_t cell_y = 0;
  int32_t held_frames = 0;  // frames an arrow has been held, for its repeat
  int32_t pointer_x = -1;   // where the cursor put the pointer
  int32_t pointer_y = -1;
  int32_t device_x = -1;  // where the device's pointer was last frame, to tell the mouse moving
  int32_t device_y = -1;
};

// Applies the keys of input to cursor on the board rules show, and, while the cursor is on,
// gives input the cursor's pointer and buttons. Call once a frame before the rules read input.
void key_cursor_apply(KeyCursor& cursor, PlayerInput& input, const Rules& rules);
