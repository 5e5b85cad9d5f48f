#include "play/input.h"

#include <cstddef>
#include <cstring>

#include "media/events.h"
#include "media/keyboard.h"
#include "media/mouse.h"
#include "media/pad.h"
#include "media/screen.h"
#include "media/window.h"

namespace {

// A key the rules ask about and its bit in the frame.
struct InputKey {
  int32_t code;  // set-1 scan code
  uint8_t bit;   // INPUT_HELD_* for key_down, INPUT_RELEASED_* for key_released
};

constexpr InputKey INPUT_DOWN_KEYS[] = {
    {KEY_ESCAPE, INPUT_HELD_ESCAPE},
    {KEY_LCONTROL, INPUT_HELD_LCONTROL},
    {KEY_RCONTROL, INPUT_HELD_RCONTROL},
};
constexpr InputKey INPUT_RELEASE_KEYS[] = {
    {KEY_F, INPUT_RELEASED_F},         {KEY_TAB, INPUT_RELEASED_TAB},
    {KEY_R, INPUT_RELEASED_R},         {KEY_RETURN, INPUT_RELEASED_RETURN},
    {KEY_SPACE, INPUT_RELEASED_SPACE},
};

// The player's devices as the last frame read them.
struct DevicesState {
  uint8_t keys_before[INPUT_KEY_CODES] = {};  // keys held at the last read
};

DevicesState DEVICES;

template <size_t N>
uint8_t bit_of(const InputKey (&keys)[N], int32_t code) {
  for (const InputKey& key : keys) {
    if (key.code == code) return key.bit;
  }
  return 0;
}

void note_held(InputFrame& frame, uint8_t bit, int32_t on) {
  if (on) {
    frame.held |= bit;
  } else {
    frame.held &= static_cast<uint8_t>(~bit);
  }
}

// Drains the window's events; 1 when one asked to quit. Full screen has no window of ours, but
// a close request there (a signal, the session ending, the window manager's close) arrives the
// same way.
int32_t window_closed() {
  int32_t closed = 0;
  for (int32_t event = window_poll_event(); event != 0; event = window_poll_event()) {
    if (event == EVENT_CLOSE_WINDOW) closed = 1;
  }
  return closed;
}

}  // namespace

PlayerInput input_read_devices(int32_t take_pointer) {
  PlayerInput input;
  events_pump();
  input.closed = window_closed();
  input.active = screen_is_active() ? 1 : 0;
  // Input is read only while the game is in front; otherwise the pointer goes back to the
  // desktop and no click can land on the board, though the chemical keeps spreading.
  if (screen_windowed()) mouse_release(take_pointer && input.active ? 0 : 1);
  if (input.active) {
    mouse_examine();
    keyboard_examine();
  }
  // The pad is examined in every frame, so a pad plugged in or out while the game is behind is
  // known when it comes back; what it says counts only while in front.
  const PadRecord pad = pad_examine();
  if (input.active) input.pad = pad;
  input.pointer_x = mouse_x();
  input.pointer_y = mouse_y();
  for (int32_t button = 1; button <= 3; ++button) {
    if (mouse_button(button)) input.buttons |= static_cast<uint8_t>(1 << (button - 1));
  }
  // Without a snapshot every key reads up, as the keyboard answers; its latches are left alone.
  input.keys_read = keyboard_ready();
  for (int32_t code = 1; code < INPUT_KEY_CODES; ++code) {
    input.keys[code] = key_down(code) ? 1 : 0;
  }
  // Keypad Enter is the Enter of a player's other hand.
  input.keys[KEY_RETURN] |= input.keys[KEY_KEYPAD_ENTER];
  for (int32_t code = 1; code < INPUT_KEY_CODES; ++code) {
    input.pressed[code] = input.keys[code] && !DEVICES.keys_before[code] ? 1 : 0;
    input.released[code] = !input.keys[code] && DEVICES.keys_before[code] ? 1 : 0;
  }
  std::memcpy(DEVICES.keys_before, input.keys, sizeof DEVICES.keys_before);
  return input;
}

void input_frame_start(SessionInput& input, const PlayerInput* live, const InputFrame* given) {
  input.given = given ? 1 : 0;
  input.has_live = !given && live ? 1 : 0;
  if (input.has_live) input.live = *live;
  if (given) {
    input.frame = *given;
    input.noted = *given;
    return;
  }
  // The pointer keeps its last answer, so a frame that never asks looks unchanged.
  input.frame.held = 0;
  input.frame.events = 0;
}

const InputFrame& input_frame_noted(const SessionInput& input) {
  return input.given ? input.noted : input.frame;
}

int32_t input_closed(SessionInput& input) {
  if (input.given) return (input.frame.events & INPUT_CLOSED) ? 1 : 0;
  const int32_t closed = input.has_live && input.live.closed ? 1 : 0;
  if (closed) input.frame.events |= INPUT_CLOSED;
  return closed;
}

int32_t input_is_active(SessionInput& input) {
  if (input.given) return (input.frame.held & INPUT_ACTIVE) ? 1 : 0;
  const int32_t active = input.has_live && input.live.active ? 1 : 0;
  note_held(input.frame, INPUT_ACTIVE, active);
  return active;
}

int32_t input_pass_began(SessionInput& input, int32_t began_now) {
  if (input.given) return (input.frame.held & INPUT_NO_PASS) ? 0 : 1;
  note_held(input.frame, INPUT_NO_PASS, !began_now);
  return began_now ? 1 : 0;
}

int32_t input_mouse_x(SessionInput& input) {
  if (input.given) return input.frame.pointer_x;
  if (input.has_live) input.frame.pointer_x = input.live.pointer_x;
  return input.frame.pointer_x;
}

int32_t input_mouse_y(SessionInput& input) {
  if (input.given) return input.frame.pointer_y;
  if (input.has_live) input.frame.pointer_y = input.live.pointer_y;
  return input.frame.pointer_y;
}

int32_t input_mouse_button(SessionInput& input, int32_t button) {
  const uint8_t bit = button == 1 ? INPUT_HELD_LEFT : button == 2 ? INPUT_HELD_RIGHT : 0;
  if (input.given) return bit && (input.frame.held & bit) ? 1 : 0;
  const int32_t down = input.has_live && bit && (input.live.buttons & (1 << (button - 1))) ? 1 : 0;
  if (bit) note_held(input.frame, bit, down);
  return down;
}

int32_t input_key_down(SessionInput& input, int32_t code) {
  const uint8_t bit = bit_of(INPUT_DOWN_KEYS, code);
  // 128 like the device, for a caller that keeps the value.
  if (input.given) return bit && (input.frame.held & bit) ? 128 : 0;
  if (!bit || !input.has_live || !input.live.keys_read) return 0;
  const int32_t down = input.live.keys[code] ? 128 : 0;
  note_held(input.frame, bit, down);
  return down;
}

int32_t input_key_released(SessionInput& input, int32_t code) {
  const uint8_t bit = bit_of(INPUT_RELEASE_KEYS, code);
  if (!bit) return 0;
  if (input.given) return input_frame_take_release(input.frame, bit);
  if (!input.has_live || !input.live.keys_read) return 0;
  // The keyboard's release rule, on the frame's record: a test that finds the key held arms
  // its latch, and the first test that then finds it up reports the release.
  if (input.live.keys[code]) {
    input.armed[code] = 1;
    return 0;
  }
  if (!input.armed[code]) return 0;
  input.armed[code] = 0;
  input.frame.events |= bit;
  return 1;
}
