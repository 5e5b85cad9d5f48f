// The 640 x 480 back buffer, its presentation in a window or full screen, and frame pacing.
#pragma once

#include <cstdint>

struct DrawTarget;

// 1 = ready; 0 = no display or already initialised.
int32_t screen_system_init();
// Closes the screen and the display (program end).
void screen_system_shutdown();
// Opens the screen inside the client area of the window parent (a window_handle); 1 = open.
int32_t screen_open_windowed(intptr_t parent, int32_t x, int32_t y, int32_t width, int32_t height,
                             int32_t auto_stretch, int32_t right_margin, int32_t bottom_margin);
// Opens the screen over the whole client area of the window parent, which the player may
// resize: the width x height picture shows at the largest whole scale that fits the window,
// every pixel an N x N block, centred between black bars; in a window smaller than the
// picture, at the largest size with its shape that fits. 1 = open.
int32_t screen_open_scaled(intptr_t parent, int32_t width, int32_t height);
// Where a width x height picture goes on an output of out_width x out_height pixels, centred
// between black bars with its shape kept. whole: a whole multiple of the picture when one fits
// (every pixel an N x N block), else the largest that fits. Full: the largest that fits, which
// fills the output's height (or width): a whole multiple when that is the largest, else a
// nearest-pixel stretch, every picture pixel a block of whole device pixels, never a blur.
struct ScreenFit {
  int32_t x = 0;
  int32_t y = 0;
  int32_t width = 0;
  int32_t height = 0;
};
ScreenFit screen_fit(int32_t width, int32_t height, int32_t out_width, int32_t out_height,
                     int32_t whole);
// Opens a full-screen display showing width x height, as screen_fit(..., 0) places it; 1 = open.
int32_t screen_open_full(int32_t width, int32_t height, int32_t depth, const char* title);
// The first display's size and the part of it windows may use (less panels and docks), in
// pixels; 1 on success, 0 (all four 0) without a display.
int32_t screen_desktop(int32_t* width, int32_t* height, int32_t* usable_width,
                       int32_t* usable_height);
// Closes the open screen; nothing happens when none is open.
void screen_close();
// Paces screen_flip to fps frames per second (0 = unpaced); 1 on success.
int32_t screen_set_frame_rate(int32_t fps);
// Fills the whole back buffer with colour (0x00BBGGRR).
void screen_clear(uint32_t colour);
// Presents the back buffer and waits for the frame's deadline; 0 when the device failed.
int32_t screen_flip();
// The two halves of screen_flip, for a frame that must not wait (the waiting is its caller's):
// presents the back buffer (0 when the device failed), and waits for the frame's deadline.
int32_t screen_present();
void screen_pace();
// 1 while the open screen shows in a window of ours; 0 full screen or without a screen.
int32_t screen_windowed();
// 1 while the screen may be drawn and input taken (windowed: the window has input focus).
int32_t screen_is_active();
// A new drawing target bound to the back buffer, or null when no screen is open.
DrawTarget* screen_output();
// The back buffer's pixels, 640 x 480 in rows, each 0x00BBGGRR; null without a screen.
const uint32_t* screen_pixels();

// How many times the presentation texture was re-created after the render device lost it.
int32_t screen_recoveries();
// Makes the pacing read now() (counter ticks of 1 ns) and sleep with sleep_until(tick) instead
// of the monotonic clock, so tests can step time; null for both restores the real clock.
void screen_set_pacing_clock(int64_t (*now)(), void (*sleep_until)(int64_t tick));
