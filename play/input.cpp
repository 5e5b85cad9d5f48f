#include "play/input.h"

#include <cstddef>

#include "media/keyboard.h"
#include "media/mouse.h"
#include "media/screen.h"

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

struct InputState {
  int32_t given = 0;  // this frame answers from frame, not from the devices
  InputFrame frame;   // given: what is left to answer; live: the answers noted so far
  InputFrame noted;   // given: the frame as given (frame loses its releases as they are asked)
};

InputState INPUT;  // the current frame

template <size_t N>
uint8_t bit_of(const InputKey (&keys)[N], int32_t code) {
  for (const InputKey& key : keys) {
    if (key.code == code) return key.bit;
  }
  return 0;
}

void note_held(uint8_t bit, int32_t on) {
  if (on) {
    INPUT.frame.held |= bit;
  } else {
    INPUT.frame.held &= static_cast<uint8_t>(~bit);
  }
}

}  // namespace

void input_reset() { INPUT = InputState{}; }

void input_frame_start(const InputFrame* given) {
  INPUT.given = given ? 1 : 0;
  if (given) {
    INPUT.frame = *given;
    INPUT.noted = *given;
    return;
  }
  // The pointer keeps its last answer, so a frame that never asks looks unchanged.
  INPUT.frame.held = 0;
  INPUT.frame.events = 0;
}

const InputFrame& input_frame_noted() { return INPUT.given ? INPUT.noted : INPUT.frame; }

int32_t input_is_given() { return INPUT.given; }

void input_examine() {
  if (INPUT.given) return;
  mouse_examine();
  keyboard_examine();
}

int32_t input_is_active() {
  if (INPUT.given) return (INPUT.frame.held & INPUT_ACTIVE) ? 1 : 0;
  const int32_t active = screen_is_active() ? 1 : 0;
  note_held(INPUT_ACTIVE, active);
  return active;
}

int32_t input_closed(int32_t closed_now) {
  if (INPUT.given) return (INPUT.frame.events & INPUT_CLOSED) ? 1 : 0;
  if (closed_now) INPUT.frame.events |= INPUT_CLOSED;
  return closed_now ? 1 : 0;
}

int32_t input_pass_began(int32_t began_now) {
  if (INPUT.given) return (INPUT.frame.held & INPUT_NO_PASS) ? 0 : 1;
  note_held(INPUT_NO_PASS, !began_now);
  return began_now ? 1 : 0;
}

int32_t input_mouse_x() {
  if (INPUT.given) return INPUT.frame.pointer_x;
  INPUT.frame.pointer_x = mouse_x();
  return INPUT.frame.pointer_x;
}

int32_t input_mouse_y() {
  if (INPUT.given) return INPUT.frame.pointer_y;
  INPUT.frame.pointer_y = mouse_y();
  return INPUT.frame.pointer_y;
}

int32_t input_mouse_button(int32_t button) {
  const uint8_t bit = button == 1 ? INPUT_HELD_LEFT : button == 2 ? INPUT_HELD_RIGHT : 0;
  if (INPUT.given) return bit && (INPUT.frame.held & bit) ? 1 : 0;
  const int32_t down = mouse_button(button) ? 1 : 0;
  if (bit) note_held(bit, down);
  return down;
}

void input_mouse_locate(int32_t x, int32_t y) {
  if (!INPUT.given) mouse_locate(x, y);
}

int32_t input_key_down(int32_t code) {
  const uint8_t bit = bit_of(INPUT_DOWN_KEYS, code);
  // 128 like the device, for a caller that keeps the value.
  if (INPUT.given) return bit && (INPUT.frame.held & bit) ? 128 : 0;
  const int32_t down = key_down(code);
  if (bit) note_held(bit, down);
  return down;
}

int32_t input_key_released(int32_t code) {
  const uint8_t bit = bit_of(INPUT_RELEASE_KEYS, code);
  if (INPUT.given) {
    // As with the device's latch, only the first ask in a frame can see the release.
    if (!bit || !(INPUT.frame.events & bit)) return 0;
    INPUT.frame.events &= static_cast<uint8_t>(~bit);
    return 1;
  }
  const int32_t released = key_released(code);
  if (bit && released) INPUT.frame.events |= bit;
  return released;
}
