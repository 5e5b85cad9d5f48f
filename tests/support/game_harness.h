// Drives the real game in-process the way a player does: SDL events pushed into the media
// layer's queue, one game_frame at a time, on the dummy video and audio drivers.
#pragma once

#include <SDL.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "desktop/shell.h"
#include "media/draw.h"
#include "media/mouse.h"
#include "media/screen.h"
#include "media/sound.h"
#include "tests/support/game_state.h"

namespace game_harness {

// Every sound_play call the game made, in order: (slot, flags).
inline std::vector<std::pair<int32_t, int32_t>> heard;
inline void hear(int32_t slot, int32_t flags) { heard.emplace_back(slot, flags); }

// How often slot was played since the last clear.
inline int count_heard(int32_t slot) {
  int n = 0;
  for (const auto& call : heard) n += call.first == slot;
  return n;
}

// The SDL id of the game's window (it is created anew by each display switch).
inline Uint32 window_id() {
  for (Uint32 id = 1; id < 64; ++id) {
    SDL_Window* window = SDL_GetWindowFromID(id);
    if (window && std::string(SDL_GetWindowTitle(window)).rfind("ZORARUVO", 0) == 0) return id;
  }
  return 0;
}

inline void push_focus(bool gained) {
  SDL_Event event{};
  event.type = SDL_WINDOWEVENT;
  event.window.event = gained ? SDL_WINDOWEVENT_FOCUS_GAINED : SDL_WINDOWEVENT_FOCUS_LOST;
  event.window.windowID = window_id();
  SDL_PushEvent(&event);
}

inline void push_key(SDL_Scancode code, bool down) {
  SDL_Event event{};
  event.type = down ? SDL_KEYDOWN : SDL_KEYUP;
  event.key.windowID = window_id();
  event.key.state = down ? SDL_PRESSED : SDL_RELEASED;
  event.key.keysym.scancode = code;
  event.key.keysym.sym = SDL_GetKeyFromScancode(code);
  SDL_PushEvent(&event);
}

// Where the pointer goes once the pushed moves are taken; valid while moves_pending is set.
inline int32_t pointer_target_x, pointer_target_y;
inline bool moves_pending = false;

// Moves the pointer by the difference to (x, y) from where it is, or will be once the moves
// already pushed for the next frame are taken.
inline void push_move_to(int32_t x, int32_t y) {
  const int32_t from_x = moves_pending ? pointer_target_x : mouse_x();
  const int32_t from_y = moves_pending ? pointer_target_y : mouse_y();
  SDL_Event event{};
  event.type = SDL_MOUSEMOTION;
  event.motion.windowID = window_id();
  event.motion.x = x;
  event.motion.y = y;
  event.motion.xrel = x - from_x;
  event.motion.yrel = y - from_y;
  SDL_PushEvent(&event);
  pointer_target_x = x;
  pointer_target_y = y;
  moves_pending = true;
}

inline void push_button(int button, bool down) {
  SDL_Event event{};
  event.type = down ? SDL_MOUSEBUTTONDOWN : SDL_MOUSEBUTTONUP;
  event.button.windowID = window_id();
  event.button.button = static_cast<Uint8>(button == 1 ? SDL_BUTTON_LEFT : SDL_BUTTON_RIGHT);
  event.button.state = down ? SDL_PRESSED : SDL_RELEASED;
  event.button.clicks = 1;
  event.button.x = mouse_x();
  event.button.y = mouse_y();
  SDL_PushEvent(&event);
}

// Runs n frames; returns what the last one returned.
inline int32_t frames(int n) {
  int32_t going = 1;
  for (int i = 0; i < n; ++i) going = game_frame();
  moves_pending = false;
  return going;
}

// A key held across one frame and let go in the next, as a person types it.
inline int32_t tap(SDL_Scancode code) {
  push_key(code, true);
  frames(1);
  push_key(code, false);
  return frames(1);
}

// Puts the pointer over the centre of grid cell (x, y) of the level on screen.
inline void push_move_to_cell(int32_t x, int32_t y) {
  push_move_to(GAME.board_left + GAME.board_size * x / GAME.grid_width + GAME.cell_width / 2,
               GAME.board_top + GAME.board_size * y / GAME.grid_height + GAME.cell_height / 2);
}

// Starts the real game on the dummy drivers with unpaced frames and the window in front.
// Presses button over cell (x, y) and holds it for one frame, then lets it go in the next.
inline void click_cell(int button, int32_t x, int32_t y) {
  push_move_to_cell(x, y);
  push_button(button, true);
  frames(1);
  push_button(button, false);
  frames(1);
}

inline void start() {
  setenv("SDL_VIDEODRIVER", "dummy", 1);
  setenv("SDL_AUDIODRIVER", "dummy", 1);
  heard.clear();
  sound_set_play_observer(hear);
  game_startup();
  screen_set_frame_rate(0);
  push_focus(true);
}

// Steps through the intro with Space until level 1 is on.
inline void skip_intro() {
  while (GAME.game_state == STATE_MESSAGE) tap(SDL_SCANCODE_SPACE);
}

// Whether the system pointer is shown, read by lowering and raising its display counter.
inline bool pointer_visible() {
  const int32_t lowered = mouse_show_pointer(0);
  mouse_show_pointer(1);
  return lowered + 1 >= 0;
}

// Back-buffer pixel (0x00BBGGRR).
inline uint32_t pixel(int x, int y) { return screen_pixels()[y * SCREEN_WIDTH + x]; }

// Width and height of text in the game's font (measured in a pass of its own).
inline std::pair<int32_t, int32_t> text_size(const std::string& text) {
  draw_begin(screen_output());
  draw_set_font(VIEW.hud_font);
  std::pair<int32_t, int32_t> size{text_width(text.c_str()), text_height(text.c_str())};
  draw_end();
  return size;
}

// Every cell of the grid made plain floor with nothing on it.
inline void clear_grid() {
  for (Cell& cell : GAME.grid) cell = Cell{};
}

}  // namespace game_harness
