#include "desktop/display.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "core/report.h"
#include "core/rules.h"
#include "desktop/options.h"
#include "media/draw.h"
#include "media/keyboard.h"
#include "media/mouse.h"
#include "media/pad.h"
#include "media/screen.h"
#include "media/sound.h"
#include "media/str.h"
#include "media/window.h"

namespace {

struct DisplayState {
  int32_t window_scale = 1;  // the window's client area is this many times 640 x 480
  std::string failure;       // the message of the last display that could not be opened
};

DisplayState DISPLAY;

// Opens window 0 at the chosen scale and the screen that fills its client area; the failure's
// message, or null.
const char* open_window_and_screen() {
  const int32_t scale = DISPLAY.window_scale;
  if (!window_open(0, 0, 0, SCREEN_WIDTH * scale, SCREEN_HEIGHT * scale, DISPLAY_WINDOW_TITLE,
                   DISPLAY_WINDOW_FLAGS)) {
    return "Window could not be opened!";
  }
  if (!screen_open_scaled(window_handle(0), SCREEN_WIDTH, SCREEN_HEIGHT)) {
    return "Screen could not be opened!";
  }
  return nullptr;
}

// Chooses window_scale from the desktop and --scale; 1 when the game must start in full
// screen because not even the smallest window fits.
int32_t choose_window_scale() {
  int32_t width = 0, height = 0, usable_width = 0, usable_height = 0;
  if (!screen_desktop(&width, &height, &usable_width, &usable_height)) {
    // Nothing known of the desktop: the window as asked, and the window system shrinks it.
    DISPLAY.window_scale = game_options.scale == OPTIONS_SCALE_AUTO ? 1 : game_options.scale;
    return 0;
  }
  const DisplayScale chosen = display_choose_scale(game_options.scale, usable_width, usable_height);
  DISPLAY.window_scale = chosen.scale;
  const std::string desktop = str_from_int(width) + "x" + str_from_int(height);
  if (chosen.full_screen) {
    report("a " + str_from_int(SCREEN_WIDTH) + "x" + str_from_int(SCREEN_HEIGHT) +
           " window does not fit the desktop (" + desktop + "); starting in full screen");
  } else if (chosen.lowered) {
    report("scale " + str_from_int(game_options.scale) + " does not fit the desktop (" + desktop +
           "); using " + str_from_int(chosen.scale));
  }
  return chosen.full_screen;
}

// Opens the full-screen display; the failure's message, or null.
const char* open_full_screen() {
  if (screen_open_full(SCREEN_WIDTH, SCREEN_HEIGHT, DISPLAY_FULL_DEPTH, DISPLAY_FULL_TITLE)) {
    return nullptr;
  }
  DISPLAY.failure = "A " + str_from_int(SCREEN_WIDTH) + "x" + str_from_int(SCREEN_HEIGHT) +
                    "x32 screen could not be opened!";
  return DISPLAY.failure.c_str();
}

}  // namespace

DisplayScale display_choose_scale(int32_t requested, int32_t usable_width, int32_t usable_height) {
  const auto fits = [&](int32_t scale) {
    return SCREEN_WIDTH * scale + DISPLAY_FRAME_WIDTH <= usable_width &&
           SCREEN_HEIGHT * scale + DISPLAY_FRAME_HEIGHT <= usable_height;
  };
  DisplayScale chosen;
  if (requested == OPTIONS_SCALE_AUTO) {
    // A window of at most two thirds of the height leaves room around it: a game beside the
    // rest of the desktop, not over it. 1080 and 1200 lines keep the 640 x 480 window.
    chosen.scale = 1;
    for (int32_t scale = OPTIONS_SCALE_MAX; scale > 1; --scale) {
      if (SCREEN_HEIGHT * scale * 3 <= usable_height * 2 && fits(scale)) {
        chosen.scale = scale;
        break;
      }
    }
  } else {
    chosen.scale = std::clamp(requested, 1, OPTIONS_SCALE_MAX);
    while (chosen.scale > 1 && !fits(chosen.scale)) {
      --chosen.scale;
      chosen.lowered = 1;
    }
  }
  // A window cut off by the desktop's edge would hide the barrier count in its bottom corner.
  if (!fits(chosen.scale)) {
    chosen.full_screen = 1;
    chosen.lowered = 0;
  }
  return chosen;
}

void display_open() {
  if (!screen_system_init()) fatal_error("Screen could not be initialized!");
  if (!mouse_init()) fatal_error("Mouse input could not be initialized!");
  if (!keyboard_init()) fatal_error("Keyboard input could not be initialized!");
  // Without pad support the game plays on with the mouse and keys.
  pad_init();
  const int32_t too_small = choose_window_scale();
  if (game_options.fullscreen || too_small) {
    // Straight into full screen, without a window that would flash up first.
    if (const char* failure = open_full_screen()) fatal_error(failure);
    mouse_release(0);
    return;
  }
  if (const char* failure = open_window_and_screen()) fatal_error(failure);
}

const char* toggle_display_mode() {
  mouse_release(1);
  if (screen_windowed()) {
    screen_close();
    window_close(0);
    if (const char* failure = open_full_screen()) return failure;
    mouse_release(0);
  } else {
    screen_close();
    if (const char* failure = open_window_and_screen()) return failure;
    mouse_release(0);
    // The input layer only re-hides the system pointer when its own record of it changes, so
    // this extra raise keeps the pointer visible over the new window.
    mouse_show_pointer(1);
  }
  return nullptr;
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
  pad_shutdown();
  screen_system_shutdown();
  drawing_system_shutdown();
}
