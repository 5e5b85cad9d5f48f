// Soak: the real loop under random keys, pointer moves, clicks and focus changes on every level,
// built with AddressSanitizer and UndefinedBehaviorSanitizer. Fails on a sanitizer report (the
// sanitizers end the process) or on resident memory that keeps growing.
//   q47_game_soak [SECONDS [SEED]]
#include <SDL.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>

#include "core/level_stream.h"
#include "desktop/shell.h"
#include "media/mouse.h"
#include "media/screen.h"
#include "tests/support/game_state.h"

namespace {

// Resident memory in kilobytes.
long resident_kb() {
  long pages_total = 0, pages_resident = 0;
  std::FILE* statm = std::fopen("/proc/self/statm", "r");
  if (!statm) return 0;
  if (std::fscanf(statm, "%ld %ld", &pages_total, &pages_resident) != 2) pages_resident = 0;
  std::fclose(statm);
  return pages_resident * 4;
}

Uint32 game_window_id() {
  for (Uint32 id = 1; id < 64; ++id) {
    SDL_Window* window = SDL_GetWindowFromID(id);
    if (window && SDL_GetWindowTitle(window)[0] == 'Z') return id;
  }
  return 0;
}

void push_key(SDL_Scancode code, bool down) {
  SDL_Event event{};
  event.type = down ? SDL_KEYDOWN : SDL_KEYUP;
  event.key.windowID = game_window_id();
  event.key.state = down ? SDL_PRESSED : SDL_RELEASED;
  event.key.keysym.scancode = code;
  SDL_PushEvent(&event);
}

}  // namespace

int main(int argc, char** argv) {
  const int seconds = argc > 1 ? std::atoi(argv[1]) : 20;
  const unsigned seed = argc > 2 ? static_cast<unsigned>(std::atoi(argv[2])) : 47u;
  setenv("SDL_VIDEODRIVER", "dummy", 0);
  setenv("SDL_AUDIODRIVER", "dummy", 0);
  std::mt19937 rng(seed);
  auto chance = [&](int one_in) { return static_cast<int>(rng() % one_in) == 0; };

  game_startup();
  screen_set_frame_rate(0);
  // Keys a player uses; Ctrl+F stays out (the dummy display has no full-screen mode to test).
  const SDL_Scancode keys[] = {SDL_SCANCODE_SPACE, SDL_SCANCODE_RETURN, SDL_SCANCODE_R,
                               SDL_SCANCODE_TAB,   SDL_SCANCODE_ESCAPE, SDL_SCANCODE_F};
  bool key_held[6] = {};
  bool focus = false;

  const auto start = std::chrono::steady_clock::now();
  const auto deadline = start + std::chrono::seconds(seconds);
  long frames = 0, quits = 0, levels_visited = 0, baseline_kb = 0, peak_kb = 0;
  int next_level = 1;
  while (std::chrono::steady_clock::now() < deadline) {
    // Mostly in front; now and then the window loses the focus for a while.
    if (!focus ? chance(40) : (frames == 0 || chance(400))) {
      focus = frames == 0 ? true : !focus;
      SDL_Event event{};
      event.type = SDL_WINDOWEVENT;
      event.window.event = focus ? SDL_WINDOWEVENT_FOCUS_GAINED : SDL_WINDOWEVENT_FOCUS_LOST;
      event.window.windowID = game_window_id();
      SDL_PushEvent(&event);
    }
    for (int k = 0; k < 6; ++k) {
      // Escape is brief and rare: it ends the run, which the soak then carries on past.
      const bool escape = keys[k] == SDL_SCANCODE_ESCAPE;
      if (escape ? (key_held[k] || chance(300)) : chance(12)) {
        key_held[k] = !key_held[k];
        push_key(keys[k], key_held[k]);
      }
    }
    if (chance(2)) {
      SDL_Event event{};
      event.type = SDL_MOUSEMOTION;
      event.motion.windowID = game_window_id();
      event.motion.xrel = static_cast<int>(rng() % 121) - 60;
      event.motion.yrel = static_cast<int>(rng() % 121) - 60;
      SDL_PushEvent(&event);
    }
    if (chance(6)) {
      SDL_Event event{};
      event.type = chance(2) ? SDL_MOUSEBUTTONDOWN : SDL_MOUSEBUTTONUP;
      event.button.windowID = game_window_id();
      event.button.button = static_cast<Uint8>(chance(2) ? SDL_BUTTON_LEFT : SDL_BUTTON_RIGHT);
      event.button.state = event.type == SDL_MOUSEBUTTONDOWN ? SDL_PRESSED : SDL_RELEASED;
      SDL_PushEvent(&event);
    }
    // Every level gets its turn: switch every 200 frames, and now and then let Enter win.
    if (frames % 200 == 0) {
      load_level(GAME, next_level);
      next_level = next_level % 10 + 1;
      ++levels_visited;
    }
    if (GAME.game_state == STATE_PLAYING && chance(500)) GAME.contained = 1;
    if (!game_frame()) {
      ++quits;
      app_play(0);  // the run ended: a new one goes on with the soak
    }
    ++frames;
    if (frames == 500) baseline_kb = resident_kb();
    if (frames > 500 && frames % 250 == 0) {
      const long now_kb = resident_kb();
      if (now_kb > peak_kb) peak_kb = now_kb;
      if (frames % 5000 == 0) std::printf("soak: frame %ld, resident %ld kB\n", frames, now_kb);
    }
  }
  game_end();
  const double elapsed =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::printf("soak: %ld frames in %.1f s, %ld level loads, %ld quits, score %d\n", frames, elapsed,
              levels_visited, quits, GAME.score);
  std::printf("soak: resident memory after 500 frames %ld kB, highest later %ld kB\n", baseline_kb,
              peak_kb);
  // A leak of even a few bytes a frame shows here over minutes; the allowance covers allocator
  // and sanitizer bookkeeping settling.
  if (baseline_kb > 0 && peak_kb - baseline_kb > 16 * 1024) {
    std::printf("soak: resident memory grew by %ld kB\n", peak_kb - baseline_kb);
    return 1;
  }
  std::printf("1 passed, 0 failed\n");
  return 0;
}
