#include "game/display.h"

#include <cstdlib>
#include <string>

#include "game/game_globals.h"
#include "game/options.h"
#include "media/draw.h"
#include "media/keyboard.h"
#include "media/mouse.h"
#include "media/screen.h"
#include "media/sound.h"
#include "media/str.h"
#include "media/window.h"

namespace {

// Opens window 0 and the screen that fills its client area; fatal on either failure.
void open_window_and_screen() {
  if (!window_open(0, 0, 0, SCREEN_WIDTH, SCREEN_HEIGHT, DISPLAY_WINDOW_TITLE,
                   DISPLAY_WINDOW_FLAGS)) {
    fatal_error("Window could not be opened!");
  }
  if (!screen_open_windowed(window_handle(0), 0, 0, SCREEN_WIDTH, SCREEN_HEIGHT, 0, 0, 0)) {
    fatal_error("Screen could not be opened!");
  }
}

// Opens the full-screen display; fatal when it cannot be had.
void open_full_screen() {
  if (!screen_open_full(SCREEN_WIDTH, SCREEN_HEIGHT, DISPLAY_FULL_DEPTH, DISPLAY_FULL_TITLE)) {
    const std::string message = "A " + str_from_int(SCREEN_WIDTH) + "x" +
                                str_from_int(SCREEN_HEIGHT) + "x32 screen could not be opened!";
    fatal_error(message.c_str());
  }
}

}  // namespace

void display_load_font() {
  // The first face the system has wins; with none of them the drawing layer's default font
  // (handle 0) is used and the game starts all the same.
  hud_font = font_load(0, "Tahoma", DISPLAY_FONT_POINTS);
  if (!hud_font) hud_font = font_load(0, "Arial", DISPLAY_FONT_POINTS);
  if (!hud_font) hud_font = font_load(0, "Helvetica", DISPLAY_FONT_POINTS);
}

void display_open() {
  if (!screen_system_init()) fatal_error("Screen could not be initialized!");
  if (!mouse_init()) fatal_error("Mouse input could not be initialized!");
  if (!keyboard_init()) fatal_error("Keyboard input could not be initialized!");
  if (game_options.fullscreen) {
    // Straight into full screen, without a window that would flash up first.
    windowed = 0;
    open_full_screen();
    mouse_release(0);
    return;
  }
  open_window_and_screen();
}

void toggle_display_mode() {
  mouse_release(1);
  if (windowed) {
    screen_close();
    window_close(0);
    windowed = 0;
    open_full_screen();
    mouse_release(0);
  } else {
    screen_close();
    open_window_and_screen();
    windowed = 1;
    mouse_release(0);
    // The input layer only re-hides the system pointer when its own record of it changes, so
    // this extra raise keeps the pointer visible over the new window.
    mouse_show_pointer(1);
  }
}

void fatal_error(const char* message) {
  message_box(DISPLAY_ERROR_TITLE, message, MESSAGE_BOX_ERROR);
  display_shutdown();
  // A failed start is a failure: the shell and a packager's scripts must see it as one.
  std::exit(1);
}

void display_shutdown() {
  window_system_shutdown();
  sound_shutdown();
  mouse_shutdown();
  keyboard_shutdown();
  screen_system_shutdown();
  drawing_system_shutdown();
}
