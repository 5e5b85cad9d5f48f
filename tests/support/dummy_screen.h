// A windowed 640 x 480 screen on SDL's dummy video driver (no display needed), brought up in
// the game's order, with helpers that push SDL events as a player's devices would.
#pragma once

#include <SDL.h>
#include <gtest/gtest.h>

#include "media/draw.h"
#include "media/events_internal.h"
#include "media/keyboard.h"
#include "media/mouse.h"
#include "media/pad.h"
#include "media/screen.h"
#include "media/window.h"

class DummyScreen : public ::testing::Test {
 protected:
  void SetUp() override {
    SDL_SetHint(SDL_HINT_VIDEODRIVER, "dummy");
    window_system_init();
    drawing_system_init();
    ASSERT_EQ(screen_system_init(), 1);
    ASSERT_EQ(mouse_init(), 1);
    ASSERT_NE(keyboard_init(), 0);
    ASSERT_EQ(pad_init(), 1);
    ASSERT_NE(window_open(0, 0, 0, 640, 480, "Q-47 test", 0xCA0009), 0);
    ASSERT_EQ(screen_open_windowed(window_handle(0), 0, 0, 640, 480, 0, 0, 0), 1);
    ASSERT_EQ(screen_set_frame_rate(0), 1);
    focus(true);
    frame();
  }

  void TearDown() override {
    window_system_shutdown();
    mouse_shutdown();
    keyboard_shutdown();
    pad_shutdown();
    screen_system_shutdown();
    drawing_system_shutdown();
  }

  static uint32_t screen_window_id() { return SDL_GetWindowID(events_screen().window); }

  static void push_window(SDL_WindowEventID what, uint32_t window_id = screen_window_id()) {
    SDL_Event e{};
    e.type = SDL_WINDOWEVENT;
    e.window.event = what;
    e.window.windowID = window_id;
    SDL_PushEvent(&e);
  }
  static void focus(bool gained) {
    push_window(gained ? SDL_WINDOWEVENT_FOCUS_GAINED : SDL_WINDOWEVENT_FOCUS_LOST);
  }
  static void push_key(SDL_Scancode key, bool down) {
    SDL_Event e{};
    e.type = down ? SDL_KEYDOWN : SDL_KEYUP;
    e.key.state = down ? SDL_PRESSED : SDL_RELEASED;
    e.key.keysym.scancode = key;
    SDL_PushEvent(&e);
  }
  static void push_motion(int dx, int dy) {
    SDL_Event e{};
    e.type = SDL_MOUSEMOTION;
    e.motion.xrel = dx;
    e.motion.yrel = dy;
    SDL_PushEvent(&e);
  }
  static void push_button(int button, bool down) {
    SDL_Event e{};
    e.type = down ? SDL_MOUSEBUTTONDOWN : SDL_MOUSEBUTTONUP;
    e.button.button = static_cast<Uint8>(button);
    e.button.state = down ? SDL_PRESSED : SDL_RELEASED;
    SDL_PushEvent(&e);
  }

  // One frame as the game runs it: pump, drain the window events, take input while active (and
  // give the pointer back while not), flip.
  static void frame() {
    events_pump();
    while (window_poll_event() != 0) {
    }
    if (screen_is_active()) {
      mouse_release(0);
      mouse_examine();
      keyboard_examine();
    } else {
      mouse_release(1);
    }
    screen_flip();
  }
};
