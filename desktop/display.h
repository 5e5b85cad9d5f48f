// The game's side of its display: the font, the 640 x 480 window and screen, the switch to full
// screen and back, the fatal error box and the end of the program.
#pragma once

#include <cstdint>

// Title of the game's window and of the error box.
constexpr const char* DISPLAY_WINDOW_TITLE = "ZORARUVO Q-47 : Ctrl+F for fullscreen";
constexpr const char* DISPLAY_FULL_TITLE = "ZORARUVO Q-47";
constexpr const char* DISPLAY_ERROR_TITLE = "ZORARUVO Q-47 - Error";
// Caption, system menu with close box, minimise box, sizing border, no controls container,
// centred on screen.
constexpr uint32_t DISPLAY_WINDOW_FLAGS = 0xCE0009;
// What a window manager's frame (title bar, borders) is allowed to add to the window when
// deciding whether a scale fits the desktop; the frame's real size is known only once the
// window is shown.
constexpr int32_t DISPLAY_FRAME_WIDTH = 16;
constexpr int32_t DISPLAY_FRAME_HEIGHT = 48;
constexpr int32_t DISPLAY_FULL_DEPTH = 32;  // bits per pixel of the full-screen mode

// The window's scale chosen for a desktop.
struct DisplayScale {
  int32_t scale = 1;        // 1..8: the window's client area is scale times 640 x 480
  int32_t lowered = 0;      // the scale asked for does not fit the desktop: a smaller one is used
  int32_t full_screen = 0;  // not even 640 x 480 with its frame fits: start in full screen
};

// The scale for the --scale asked for (OPTIONS_SCALE_AUTO or 1..8) on a desktop whose usable
// part is usable_width x usable_height. Auto takes the largest whole scale whose window is at
// most two thirds of the usable height; any scale is lowered to the largest whose window and
// frame fit.
DisplayScale display_choose_scale(int32_t requested, int32_t usable_width, int32_t usable_height);
// Brings up screen system, mouse, keyboard, window 0 and the windowed screen, in that order;
// a failing step ends the program through fatal_error with its message. The window's scale is
// chosen here from the desktop; a lowered scale is reported in one line on standard error.
void display_open();
// Switches between the window and full screen, keeping every game state; null, or the message
// of the display that could not be opened (the caller ends the program with it).
const char* toggle_display_mode();
// Shows the error box with message, then ends the program with exit code 1. Never returns.
[[noreturn]] void fatal_error(const char* message);
// Runs the media layer's shutdown entry points (program end, normal or fatal).
void display_shutdown();
