// Polled keyboard: snapshots of held keys by set-1 scan code (extended keys plus 0x80).
#pragma once

#include <cstdint>

// Scan codes the game uses.
constexpr int32_t KEY_ESCAPE = 0x01;
constexpr int32_t KEY_TAB = 0x0F;
constexpr int32_t KEY_R = 0x13;
constexpr int32_t KEY_RETURN = 0x1C;
constexpr int32_t KEY_LCONTROL = 0x1D;
constexpr int32_t KEY_F = 0x21;
constexpr int32_t KEY_M = 0x32;
constexpr int32_t KEY_SPACE = 0x39;
constexpr int32_t KEY_RCONTROL = 0x9D;
constexpr int32_t KEY_BACKSPACE = 0x0E;
constexpr int32_t KEY_UP = 0xC8;
constexpr int32_t KEY_LEFT = 0xCB;
constexpr int32_t KEY_RIGHT = 0xCD;
constexpr int32_t KEY_DOWN = 0xD0;
constexpr int32_t KEY_DELETE = 0xD3;

// Non-zero on success (also when already initialised).
int32_t keyboard_init();
// Releases the keyboard (program end).
void keyboard_shutdown();
// Takes a snapshot of the keys held as of the frame's events_pump; 1 if read, 0 when it failed
// (for instance without focus).
int32_t keyboard_examine();
// 1 while the keys can be asked: the last examine read them (and none failed since).
int32_t keyboard_ready();
// 128 while key code is down in the last snapshot, else 0; code -1: 1 if any key is down.
int32_t key_down(int32_t code);
// 1 once after key code went up (to the first caller only), else 0; code -1: any key.
int32_t key_released(int32_t code);
