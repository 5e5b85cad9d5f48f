// Polled keyboard: an examine turns the keys the event pump's record holds into the snapshot
// the queries read, by set-1 scan code, but only while the screen has the focus.
#include "media/keyboard.h"

#include <SDL.h>

#include <algorithm>
#include <cstring>

#include "media/events_internal.h"

namespace {

constexpr int32_t KEY_COUNT = 256;
constexpr uint8_t KEY_HELD = 0x80;  // bit of a held key in the tables

// keyboard_state values.
constexpr int32_t KEYBOARD_NONE = 0;  // not initialised
constexpr int32_t KEYBOARD_BIND = 1;  // the next examine must take the keyboard again
constexpr int32_t KEYBOARD_READ = 2;  // the last examine read the keys

struct KeyboardState {
  int32_t state = KEYBOARD_NONE;     // KEYBOARD_*
  int32_t init_called = 0;           // keyboard_init ran (and holds SDL's event subsystem)
  uint8_t snapshot[KEY_COUNT] = {};  // KEY_HELD for keys held at the last good examine
  uint8_t latch[KEY_COUNT] = {};     // 1 = a key_released call saw the key held
};

KeyboardState KEYBOARD;

// Set-1 make code of each SDL scan code; keys sent with the extended prefix have 0x80 added.
// Covers a standard 104-key keyboard plus the extra key of 105-key layouts and F13-F15.
uint8_t set1_code(int32_t scancode) {
  switch (scancode) {
    case SDL_SCANCODE_ESCAPE:
      return 0x01;
    case SDL_SCANCODE_1:
      return 0x02;
    case SDL_SCANCODE_2:
      return 0x03;
    case SDL_SCANCODE_3:
      return 0x04;
    case SDL_SCANCODE_4:
      return 0x05;
    case SDL_SCANCODE_5:
      return 0x06;
    case SDL_SCANCODE_6:
      return 0x07;
    case SDL_SCANCODE_7:
      return 0x08;
    case SDL_SCANCODE_8:
      return 0x09;
    case SDL_SCANCODE_9:
      return 0x0A;
    case SDL_SCANCODE_0:
      return 0x0B;
    case SDL_SCANCODE_MINUS:
      return 0x0C;
    case SDL_SCANCODE_EQUALS:
      return 0x0D;
    case SDL_SCANCODE_BACKSPACE:
      return 0x0E;
    case SDL_SCANCODE_TAB:
      return 0x0F;
    case SDL_SCANCODE_Q:
      return 0x10;
    case SDL_SCANCODE_W:
      return 0x11;
    case SDL_SCANCODE_E:
      return 0x12;
    case SDL_SCANCODE_R:
      return 0x13;
    case SDL_SCANCODE_T:
      return 0x14;
    case SDL_SCANCODE_Y:
      return 0x15;
    case SDL_SCANCODE_U:
      return 0x16;
    case SDL_SCANCODE_I:
      return 0x17;
    case SDL_SCANCODE_O:
      return 0x18;
    case SDL_SCANCODE_P:
      return 0x19;
    case SDL_SCANCODE_LEFTBRACKET:
      return 0x1A;
    case SDL_SCANCODE_RIGHTBRACKET:
      return 0x1B;
    case SDL_SCANCODE_RETURN:
      return 0x1C;
    case SDL_SCANCODE_LCTRL:
      return 0x1D;
    case SDL_SCANCODE_A:
      return 0x1E;
    case SDL_SCANCODE_S:
      return 0x1F;
    case SDL_SCANCODE_D:
      return 0x20;
    case SDL_SCANCODE_F:
      return 0x21;
    case SDL_SCANCODE_G:
      return 0x22;
    case SDL_SCANCODE_H:
      return 0x23;
    case SDL_SCANCODE_J:
      return 0x24;
    case SDL_SCANCODE_K:
      return 0x25;
    case SDL_SCANCODE_L:
      return 0x26;
    case SDL_SCANCODE_SEMICOLON:
      return 0x27;
    case SDL_SCANCODE_APOSTROPHE:
      return 0x28;
    case SDL_SCANCODE_GRAVE:
      return 0x29;
    case SDL_SCANCODE_LSHIFT:
      return 0x2A;
    case SDL_SCANCODE_BACKSLASH:
      return 0x2B;
    case SDL_SCANCODE_NONUSHASH:
      return 0x2B;  // the ISO key in the same place
    case SDL_SCANCODE_Z:
      return 0x2C;
    case SDL_SCANCODE_X:
      return 0x2D;
    case SDL_SCANCODE_C:
      return 0x2E;
    case SDL_SCANCODE_V:
      return 0x2F;
    case SDL_SCANCODE_B:
      return 0x30;
    case SDL_SCANCODE_N:
      return 0x31;
    case SDL_SCANCODE_M:
      return 0x32;
    case SDL_SCANCODE_COMMA:
      return 0x33;
    case SDL_SCANCODE_PERIOD:
      return 0x34;
    case SDL_SCANCODE_SLASH:
      return 0x35;
    case SDL_SCANCODE_RSHIFT:
      return 0x36;
    case SDL_SCANCODE_KP_MULTIPLY:
      return 0x37;
    case SDL_SCANCODE_LALT:
      return 0x38;
    case SDL_SCANCODE_SPACE:
      return 0x39;
    case SDL_SCANCODE_CAPSLOCK:
      return 0x3A;
    case SDL_SCANCODE_F1:
      return 0x3B;
    case SDL_SCANCODE_F2:
      return 0x3C;
    case SDL_SCANCODE_F3:
      return 0x3D;
    case SDL_SCANCODE_F4:
      return 0x3E;
    case SDL_SCANCODE_F5:
      return 0x3F;
    case SDL_SCANCODE_F6:
      return 0x40;
    case SDL_SCANCODE_F7:
      return 0x41;
    case SDL_SCANCODE_F8:
      return 0x42;
    case SDL_SCANCODE_F9:
      return 0x43;
    case SDL_SCANCODE_F10:
      return 0x44;
    case SDL_SCANCODE_NUMLOCKCLEAR:
      return 0x45;
    case SDL_SCANCODE_SCROLLLOCK:
      return 0x46;
    case SDL_SCANCODE_KP_7:
      return 0x47;
    case SDL_SCANCODE_KP_8:
      return 0x48;
    case SDL_SCANCODE_KP_9:
      return 0x49;
    case SDL_SCANCODE_KP_MINUS:
      return 0x4A;
    case SDL_SCANCODE_KP_4:
      return 0x4B;
    case SDL_SCANCODE_KP_5:
      return 0x4C;
    case SDL_SCANCODE_KP_6:
      return 0x4D;
    case SDL_SCANCODE_KP_PLUS:
      return 0x4E;
    case SDL_SCANCODE_KP_1:
      return 0x4F;
    case SDL_SCANCODE_KP_2:
      return 0x50;
    case SDL_SCANCODE_KP_3:
      return 0x51;
    case SDL_SCANCODE_KP_0:
      return 0x52;
    case SDL_SCANCODE_KP_PERIOD:
      return 0x53;
    case SDL_SCANCODE_NONUSBACKSLASH:
      return 0x56;
    case SDL_SCANCODE_F11:
      return 0x57;
    case SDL_SCANCODE_F12:
      return 0x58;
    case SDL_SCANCODE_F13:
      return 0x64;
    case SDL_SCANCODE_F14:
      return 0x65;
    case SDL_SCANCODE_F15:
      return 0x66;
    case SDL_SCANCODE_KP_EQUALS:
      return 0x8D;
    case SDL_SCANCODE_KP_ENTER:
      return 0x9C;
    case SDL_SCANCODE_RCTRL:
      return 0x9D;
    case SDL_SCANCODE_KP_DIVIDE:
      return 0xB5;
    case SDL_SCANCODE_PRINTSCREEN:
      return 0xB7;
    case SDL_SCANCODE_RALT:
      return 0xB8;
    case SDL_SCANCODE_PAUSE:
      return 0xC5;
    case SDL_SCANCODE_HOME:
      return 0xC7;
    case SDL_SCANCODE_UP:
      return 0xC8;
    case SDL_SCANCODE_PAGEUP:
      return 0xC9;
    case SDL_SCANCODE_LEFT:
      return 0xCB;
    case SDL_SCANCODE_RIGHT:
      return 0xCD;
    case SDL_SCANCODE_END:
      return 0xCF;
    case SDL_SCANCODE_DOWN:
      return 0xD0;
    case SDL_SCANCODE_PAGEDOWN:
      return 0xD1;
    case SDL_SCANCODE_INSERT:
      return 0xD2;
    case SDL_SCANCODE_DELETE:
      return 0xD3;
    case SDL_SCANCODE_LGUI:
      return 0xDB;
    case SDL_SCANCODE_RGUI:
      return 0xDC;
    case SDL_SCANCODE_APPLICATION:
      return 0xDD;
    default:
      return 0;
  }
}

// Applies the release rule to one code: a key seen held arms its latch; the first call that
// then finds it up disarms the latch and reports the release.
int32_t release_of(int32_t code) {
  if (KEYBOARD.snapshot[code] & KEY_HELD) {
    KEYBOARD.latch[code] = 1;
    return 0;
  }
  if (KEYBOARD.latch[code]) {
    KEYBOARD.latch[code] = 0;
    return 1;
  }
  return 0;
}

}  // namespace

int32_t keyboard_init() {
  SDL_ClearError();  // a failure's reason is SDL's error, not one left over
  if (KEYBOARD.state != KEYBOARD_NONE) return 1;
  if (!KEYBOARD.init_called) {
    if (SDL_InitSubSystem(SDL_INIT_EVENTS) != 0) return 0;
    KEYBOARD.init_called = 1;
  }
  KEYBOARD.state = KEYBOARD_BIND;
  return 1;
}

void keyboard_shutdown() {
  if (KEYBOARD.init_called) SDL_QuitSubSystem(SDL_INIT_EVENTS);
  KEYBOARD = KeyboardState{};
}

int32_t keyboard_examine() {
  if (KEYBOARD.state == KEYBOARD_NONE) return 0;
  // Without the focus the keys belong to another program; the snapshot and the latches keep
  // what they had, and the queries answer nothing until a read succeeds again.
  if (!events_screen_active()) {
    KEYBOARD.state = KEYBOARD_BIND;
    return 0;
  }
  const uint8_t* keys_down = events_frame().keys_down;
  std::memset(KEYBOARD.snapshot, 0, sizeof KEYBOARD.snapshot);
  for (int32_t scancode = 0; scancode < SDL_NUM_SCANCODES; ++scancode) {
    if (keys_down[scancode]) KEYBOARD.snapshot[set1_code(scancode)] = KEY_HELD;
  }
  // Code 0 gathers the keys without a set-1 code; none of them counts.
  KEYBOARD.snapshot[0] = 0;
  KEYBOARD.state = KEYBOARD_READ;
  return 1;
}

int32_t keyboard_ready() { return KEYBOARD.state == KEYBOARD_READ ? 1 : 0; }

int32_t key_down(int32_t code) {
  if (KEYBOARD.state != KEYBOARD_READ) return 0;
  if (code == -1) {
    return std::any_of(KEYBOARD.snapshot, KEYBOARD.snapshot + KEY_COUNT - 1,
                       [](uint8_t key) { return (key & KEY_HELD) != 0; })
               ? 1
               : 0;
  }
  if (code < 0 || code >= KEY_COUNT) return 0;
  return KEYBOARD.snapshot[code] & KEY_HELD;
}

int32_t key_released(int32_t code) {
  if (KEYBOARD.state != KEYBOARD_READ) return 0;
  if (code == -1) {
    // Every latch is updated; the scan does not stop at the first release.
    int32_t any = 0;
    for (int32_t c = 0; c < KEY_COUNT - 1; ++c) any |= release_of(c);
    return any;
  }
  if (code < 0 || code >= KEY_COUNT) return 0;
  return release_of(code);
}
