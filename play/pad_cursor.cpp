#include "play/pad_cursor.h"

#include <algorithm>
#include <cstdlib>

#include "media/keyboard.h"
#include "media/mouse.h"

namespace {

// The d-pad repeats as the arrow keys do: once, again after a pause, then ever quicker.
constexpr int32_t PAD_CURSOR_DELAY = 12;
constexpr int32_t PAD_CURSOR_REPEAT = 3;
constexpr int32_t PAD_CURSOR_FAST_AFTER = 40;

// The stick's speed in fine steps a frame: barely pushed it creeps about a cell a second, so a
// shaky thumb still lands on the cell it means; pushed fully it starts near a fifth of a cell a
// frame and reaches half a cell once held a second, crossing a large board in a few seconds.
constexpr int32_t PAD_STICK_CREEP = 4;
constexpr int32_t PAD_STICK_START = 48;
constexpr int32_t PAD_STICK_TOP = 128;
constexpr int32_t PAD_STICK_RAMP_FRAMES = 60;
constexpr int32_t PAD_STICK_SCALE = 1024;  // a stick's push past the dead zone, 0..this

uint32_t fresh(const PadCursor& cursor, const PlayerInput& input) {
  return input.pad.buttons & ~cursor.buttons_before;
}

// Whether a d-pad direction, pressed this frame or held, moves the cursor in this frame.
bool steps(const PadCursor& cursor, const PlayerInput& input, uint32_t pressed, uint32_t bit) {
  if (pressed & bit) return true;
  if (!(input.pad.buttons & bit)) return false;
  const int32_t frames = cursor.dpad_frames;
  if (frames >= PAD_CURSOR_FAST_AFTER) return true;
  return frames >= PAD_CURSOR_DELAY && (frames - PAD_CURSOR_DELAY) % PAD_CURSOR_REPEAT == 0;
}

// The stick's move along one axis this frame, in fine steps.
int32_t glide(const PadCursor& cursor, int32_t value) {
  if (value == 0) return 0;
  const int64_t push = std::min<int64_t>((std::abs(static_cast<int64_t>(value)) - PAD_DEAD_ZONE) *
                                             PAD_STICK_SCALE / (PAD_STICK_MAX - PAD_DEAD_ZONE),
                                         PAD_STICK_SCALE);
  const int64_t ramp = std::min(cursor.stick_frames, PAD_STICK_RAMP_FRAMES);
  const int64_t top =
      PAD_STICK_START + (PAD_STICK_TOP - PAD_STICK_START) * ramp / PAD_STICK_RAMP_FRAMES;
  // Squared, so the first part of the stick's travel is the slow, precise part.
  const int64_t speed = (PAD_STICK_CREEP + push * push * (top - PAD_STICK_CREEP) /
                                               (PAD_STICK_SCALE * PAD_STICK_SCALE)) *
                        cursor.stick_percent / 100;
  return static_cast<int32_t>(value < 0 ? -speed : speed);
}

// The pad's buttons that stand for keys: the rules read the keys as ever.
void press_keys(PlayerInput& input, int32_t playing) {
  auto press = [&input](uint32_t bit, int32_t code) {
    if (!(input.pad.buttons & bit)) return;
    input.keys_read = 1;
    input.keys[code] = 1;
  };
  press(PAD_START, KEY_RETURN);
  press(PAD_BACK, KEY_ESCAPE);
  if (!playing) press(PAD_A, KEY_SPACE);
}

}  // namespace

void pad_cursor_apply(PadCursor& cursor, PlayerInput& input, const Rules& rules) {
  const uint32_t pressed = fresh(cursor, input);
  cursor.buttons_before = input.pad.buttons;
  const bool playing = rules.game_state == STATE_PLAYING && rules.board_size > 0;
  press_keys(input, playing ? 1 : 0);
  // The mouse moved, or the pad went: the mouse plays again. Where the cursor's own move of the
  // pointer went through (a window can warp the system's pointer; a browser page cannot) the
  // device now reports the cursor's place, which is no move of the player's.
  const bool device_moved =
      input.pointer_x != cursor.device_x || input.pointer_y != cursor.device_y;
  const bool to_cursor = input.pointer_x == cursor.pointer_x && input.pointer_y == cursor.pointer_y;
  if (cursor.on && (!input.pad.connected || (device_moved && !to_cursor))) cursor.on = 0;
  cursor.device_x = input.pointer_x;
  cursor.device_y = input.pointer_y;
  const uint32_t dpad = input.pad.buttons & (PAD_UP | PAD_DOWN | PAD_LEFT | PAD_RIGHT);
  const bool stick = input.pad.stick_x != 0 || input.pad.stick_y != 0;
  if (!playing) {
    cursor.dpad_frames = cursor.stick_frames = 0;
    return;
  }
  // A button still held from the story screen must not place a barrier on the level's first
  // frame: only a fresh press wakes the cursor.
  if (!cursor.on && !dpad && !stick && !(pressed & (PAD_A | PAD_B | PAD_X))) return;
  const int32_t width = rules.grid_width * PAD_CURSOR_FINE;
  const int32_t height = rules.grid_height * PAD_CURSOR_FINE;
  if (!cursor.on) {
    // The cursor starts on the cell under the pointer, so the first move goes from there.
    cursor.on = 1;
    cursor.fine_x =
        std::clamp(rules.cursor_x, 0, rules.grid_width - 1) * PAD_CURSOR_FINE + PAD_CURSOR_FINE / 2;
    cursor.fine_y = std::clamp(rules.cursor_y, 0, rules.grid_height - 1) * PAD_CURSOR_FINE +
                    PAD_CURSOR_FINE / 2;
    cursor.dpad_frames = cursor.stick_frames = 0;
  }
  const int32_t dx = (steps(cursor, input, pressed, PAD_RIGHT) ? 1 : 0) -
                     (steps(cursor, input, pressed, PAD_LEFT) ? 1 : 0);
  const int32_t dy = (steps(cursor, input, pressed, PAD_DOWN) ? 1 : 0) -
                     (steps(cursor, input, pressed, PAD_UP) ? 1 : 0);
  cursor.dpad_frames = dpad ? cursor.dpad_frames + 1 : 0;
  if (dx != 0 || dy != 0) {
    // A d-pad step lands in the middle of the next cell, wherever the stick left it.
    cursor.fine_x = (cursor.fine_x / PAD_CURSOR_FINE + dx) * PAD_CURSOR_FINE + PAD_CURSOR_FINE / 2;
    cursor.fine_y = (cursor.fine_y / PAD_CURSOR_FINE + dy) * PAD_CURSOR_FINE + PAD_CURSOR_FINE / 2;
  }
  cursor.fine_x += glide(cursor, input.pad.stick_x);
  cursor.fine_y += glide(cursor, input.pad.stick_y);
  cursor.stick_frames = stick ? cursor.stick_frames + 1 : 0;
  cursor.fine_x = std::clamp(cursor.fine_x, 0, width - 1);
  cursor.fine_y = std::clamp(cursor.fine_y, 0, height - 1);
  const int32_t cell_x = cursor.fine_x / PAD_CURSOR_FINE;
  const int32_t cell_y = cursor.fine_y / PAD_CURSOR_FINE;
  // The middle of the cell, as the rules map a pointer to it.
  cursor.pointer_x =
      rules.board_left + rules.board_size * cell_x / rules.grid_width + rules.cell_width / 2;
  cursor.pointer_y =
      rules.board_top + rules.board_size * cell_y / rules.grid_height + rules.cell_height / 2;
  input.pointer_x = cursor.pointer_x;
  input.pointer_y = cursor.pointer_y;
  // The system's pointer goes along, so the mouse takes over from where the pad left it.
  mouse_locate(cursor.pointer_x, cursor.pointer_y);
  if (input.pad.buttons & PAD_A) input.buttons |= 1;
  if (input.pad.buttons & (PAD_B | PAD_X)) input.buttons |= 2;
}
