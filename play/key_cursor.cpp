#include "play/key_cursor.h"

#include <algorithm>

#include "media/keyboard.h"
#include "media/mouse.h"

namespace {

// A held arrow moves once, then again after this many frames, then every few frames, and every
// frame once held long: a quick tap moves one cell, a long hold crosses an 80-cell board in a
// couple of seconds.
constexpr int32_t KEY_CURSOR_DELAY = 12;
constexpr int32_t KEY_CURSOR_REPEAT = 3;
constexpr int32_t KEY_CURSOR_FAST_AFTER = 40;

bool held(const PlayerInput& input, int32_t code) {
  return input.keys_read && input.keys[code] != 0;
}

// Whether a held arrow moves the cursor in this frame.
bool steps(const KeyCursor& cursor, const PlayerInput& input, int32_t code) {
  if (input.keys_read && input.pressed[code]) return true;
  if (!held(input, code)) return false;
  const int32_t frames = cursor.held_frames;
  if (frames >= KEY_CURSOR_FAST_AFTER) return true;
  return frames >= KEY_CURSOR_DELAY && (frames - KEY_CURSOR_DELAY) % KEY_CURSOR_REPEAT == 0;
}

}  // namespace

void key_cursor_apply(KeyCursor& cursor, PlayerInput& input, const Rules& rules) {
  // The mouse moved: it plays again. Where the cursor's own move of the pointer went through
  // (a window can warp the system's pointer; a browser page cannot) the device now reports the
  // cursor's place, which is no move of the player's.
  const bool device_moved =
      input.pointer_x != cursor.device_x || input.pointer_y != cursor.device_y;
  const bool to_cursor = input.pointer_x == cursor.pointer_x && input.pointer_y == cursor.pointer_y;
  if (cursor.on && device_moved && !to_cursor) cursor.on = 0;
  cursor.device_x = input.pointer_x;
  cursor.device_y = input.pointer_y;
  const bool any_arrow = held(input, KEY_UP) || held(input, KEY_DOWN) || held(input, KEY_LEFT) ||
                         held(input, KEY_RIGHT);
  if (rules.game_state != STATE_PLAYING || rules.board_size <= 0) {
    cursor.held_frames = 0;
    return;
  }
  if (!cursor.on && !any_arrow) return;
  if (!cursor.on) {
    // The cursor starts on the cell under the pointer, so the first press moves from there.
    cursor.on = 1;
    cursor.cell_x = std::clamp(rules.cursor_x, 0, rules.grid_width - 1);
    cursor.cell_y = std::clamp(rules.cursor_y, 0, rules.grid_height - 1);
    cursor.held_frames = 0;
  }
  const int32_t dx =
      (steps(cursor, input, KEY_RIGHT) ? 1 : 0) - (steps(cursor, input, KEY_LEFT) ? 1 : 0);
  const int32_t dy =
      (steps(cursor, input, KEY_DOWN) ? 1 : 0) - (steps(cursor, input, KEY_UP) ? 1 : 0);
  cursor.held_frames = any_arrow ? cursor.held_frames + 1 : 0;
  cursor.cell_x = std::clamp(cursor.cell_x + dx, 0, rules.grid_width - 1);
  cursor.cell_y = std::clamp(cursor.cell_y + dy, 0, rules.grid_height - 1);
  // The middle of the cell, as the rules map a pointer to it.
  cursor.pointer_x =
      rules.board_left + rules.board_size * cursor.cell_x / rules.grid_width + rules.cell_width / 2;
  cursor.pointer_y = rules.board_top + rules.board_size * cursor.cell_y / rules.grid_height +
                     rules.cell_height / 2;
  input.pointer_x = cursor.pointer_x;
  input.pointer_y = cursor.pointer_y;
  // The system's pointer goes along, so the mouse takes over from where the keys left it.
  mouse_locate(cursor.pointer_x, cursor.pointer_y);
  if (held(input, KEY_SPACE)) input.buttons |= 1;
  if (held(input, KEY_DELETE) || held(input, KEY_BACKSPACE)) input.buttons |= 2;
}
