// The game's side of its display: the font, the 640 x 480 window and screen, the switch to full
// screen and back, the fatal error box and the end of the program.
#pragma once

#include <cstdint>

// Title of the game's window and of the error box.
constexpr const char* DISPLAY_WINDOW_TITLE = "ZORARUVO Q-47 : Ctrl+F for fullscreen";
constexpr const char* DISPLAY_FULL_TITLE = "ZORARUVO Q-47";
constexpr const char* DISPLAY_ERROR_TITLE = "ZORARUVO Q-47 - Error";
// Caption, system menu with close box, minimise box, no controls container, centred on screen.
constexpr uint32_t DISPLAY_WINDOW_FLAGS = 0xCA0009;
constexpr int32_t DISPLAY_FULL_DEPTH = 32;  // bits per pixel of the full-screen mode
constexpr int32_t DISPLAY_FONT_POINTS = 14;

// Loads hud_font: the first of "Tahoma", "Arial", "Helvetica" that exists, else 0 (default font).
void display_load_font();
// Brings up screen system, mouse, keyboard, window 0 and the windowed screen, in that order;
// a failing step ends the program through fatal_error with its message.
void display_open();
// Switches between the window and full screen, keeping every game state; fatal if the new
// display cannot be opened.
void toggle_display_mode();
// Shows the error box with message, then ends the program with exit code 1. Never returns.
[[noreturn]] void fatal_error(const char* message);
// Runs the media layer's shutdown entry points (program end, normal or fatal).
void display_shutdown();
