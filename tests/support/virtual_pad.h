// A game pad for tests: SDL's virtual joystick with a game controller's buttons and axes, opened
// as a game controller on the dummy drivers, driven as a thumb drives a real one.
#pragma once

#include <SDL.h>
#include <gtest/gtest.h>

#include "tests/support/game_harness.h"

// Plugged in for as long as it lives.
class VirtualPad {
 public:
  VirtualPad() {
    SDL_VirtualJoystickDesc desc{};
    desc.version = SDL_VIRTUAL_JOYSTICK_DESC_VERSION;
    desc.type = SDL_JOYSTICK_TYPE_GAMECONTROLLER;
    desc.naxes = SDL_CONTROLLER_AXIS_MAX;
    desc.nbuttons = SDL_CONTROLLER_BUTTON_MAX;
    desc.name = "Q-47 test pad";
    const int index = SDL_JoystickAttachVirtualEx(&desc);
    EXPECT_GE(index, 0) << SDL_GetError();
    EXPECT_TRUE(SDL_IsGameController(index));
    joystick_ = SDL_JoystickOpen(index);
    EXPECT_NE(joystick_, nullptr) << SDL_GetError();
    id_ = SDL_JoystickInstanceID(joystick_);
  }
  ~VirtualPad() { unplug(); }
  VirtualPad(const VirtualPad&) = delete;
  VirtualPad& operator=(const VirtualPad&) = delete;

  void unplug() {
    if (!joystick_) return;
    SDL_JoystickClose(joystick_);
    joystick_ = nullptr;
    for (int index = 0; index < SDL_NumJoysticks(); ++index) {
      if (SDL_JoystickGetDeviceInstanceID(index) == id_) SDL_JoystickDetachVirtual(index);
    }
  }
  void set(SDL_GameControllerButton button, bool down) {
    SDL_JoystickSetVirtualButton(joystick_, button, down ? 1 : 0);
  }
  void stick(int16_t x, int16_t y) {
    SDL_JoystickSetVirtualAxis(joystick_, SDL_CONTROLLER_AXIS_LEFTX, x);
    SDL_JoystickSetVirtualAxis(joystick_, SDL_CONTROLLER_AXIS_LEFTY, y);
  }
  // Held across one frame and let go in the next, as a thumb presses it.
  int32_t tap(SDL_GameControllerButton button) {
    set(button, true);
    game_harness::frames(1);
    set(button, false);
    return game_harness::frames(1);
  }
  // The d-pad tapped dx cells across and dy down (negative: left, up).
  void dpad(int dx, int dy) {
    for (; dx > 0; --dx) tap(SDL_CONTROLLER_BUTTON_DPAD_RIGHT);
    for (; dx < 0; ++dx) tap(SDL_CONTROLLER_BUTTON_DPAD_LEFT);
    for (; dy > 0; --dy) tap(SDL_CONTROLLER_BUTTON_DPAD_DOWN);
    for (; dy < 0; ++dy) tap(SDL_CONTROLLER_BUTTON_DPAD_UP);
  }

 private:
  SDL_Joystick* joystick_ = nullptr;
  SDL_JoystickID id_ = -1;
};
