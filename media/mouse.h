// The virtual pointer with three buttons, captured by the game while its window is in front.
#pragma once

#include <cstdint>

// 1 on success.
int32_t mouse_init();
// Releases the mouse (program end).
void mouse_shutdown();
// Applies the motion and buttons of the frame's events_pump; 1 if the device delivered data.
// The picture's place in its window is as the screen last published it: ask screen_is_active
// first in the frame, as the frame does to know whether to read input at all.
int32_t mouse_examine();
// The virtual pointer, clamped to the screen at each successful examine.
int32_t mouse_x();
int32_t mouse_y();
// 1 while button 1 (left), 2 (right) or 3 (middle) is down at the last examine.
int32_t mouse_button(int32_t button);
// 1 gives the pointer back to the system, 0 takes it for the game.
void mouse_release(int32_t release);
// Moves the virtual pointer to (x, y), stored unclamped until the next examine.
void mouse_locate(int32_t x, int32_t y);
// Raises (show = 1) or lowers (0) the system pointer's display counter; the pointer is visible
// while the counter is 0 or more. Returns the new counter.
int32_t mouse_show_pointer(int32_t show);

// --- What the screen tells the mouse (inside the media layer only) ---

// Takes the frame's record now if it has not been taken: a focus loss of the screen lets the
// pointer go at once, even in a frame that reads no input.
void mouse_take_frame();
// The screen is closing: the pointer is let go before its window goes.
void mouse_let_go();
