// The virtual pointer with three buttons, captured by the game while its window is in front.
#pragma once

#include <cstdint>

// 1 on success.
int32_t mouse_init();
// Releases the mouse (program end).
void mouse_shutdown();
// Takes the motion and button events since the last call; 1 if the device delivered data.
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

// --- What the event pump tells the mouse (inside the media layer only) ---

// Relative motion, and a button going down (1) or up (0) in SDL's numbering.
void mouse_on_motion(int32_t dx, int32_t dy);
void mouse_on_button(int32_t sdl_button, int32_t down);
// The screen's window lost the focus: the pointer is let go at once, and the next capture
// starts where the player left the system pointer.
void mouse_on_focus_lost();
// The screen is closing: the pointer is let go before its window goes.
void mouse_on_screen_closed();
