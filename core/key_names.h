// The names of the keyboard's keys as the settings text writes them ("SPACE", "P", "F5"), by
// set-1 scan code (extended keys plus 0x80), the codes the whole game reads keys by.
#pragma once

#include <cstdint>
#include <string_view>

// The codes the key bindings stand on (the same numbers as media/keyboard.h's).
constexpr int32_t KEY_CODE_ESCAPE = 0x01;
constexpr int32_t KEY_CODE_BACKSPACE = 0x0E;
constexpr int32_t KEY_CODE_TAB = 0x0F;
constexpr int32_t KEY_CODE_R = 0x13;
constexpr int32_t KEY_CODE_ENTER = 0x1C;
constexpr int32_t KEY_CODE_LCTRL = 0x1D;
constexpr int32_t KEY_CODE_F = 0x21;
constexpr int32_t KEY_CODE_M = 0x32;
constexpr int32_t KEY_CODE_SPACE = 0x39;
constexpr int32_t KEY_CODE_F2 = 0x3C;
constexpr int32_t KEY_CODE_RCTRL = 0x9D;
constexpr int32_t KEY_CODE_UP = 0xC8;
constexpr int32_t KEY_CODE_LEFT = 0xCB;
constexpr int32_t KEY_CODE_RIGHT = 0xCD;
constexpr int32_t KEY_CODE_DOWN = 0xD0;
constexpr int32_t KEY_CODE_DELETE = 0xD3;

// The key's name in capitals, or null for a code without one.
const char* key_name(int32_t code);
// The code of the key named name (any case), or 0 when no key has that name.
int32_t key_code(std::string_view name);
// Whether a game action may be given the key: it has a name and is none of the keys that must
// always do the same thing (Escape quits or backs out, F2 opens the settings, Ctrl+F switches
// the display).
bool key_bindable(int32_t code);
