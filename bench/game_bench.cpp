// One frame's work on the 40 x 40 level: the spread step and the whole picture drawn into the
// back buffer, alone and with a placement (one containment check more).
#include <benchmark/benchmark.h>

#include <cstdlib>

#include "core/barriers.h"
#include "core/level_stream.h"
#include "core/spread.h"
#include "desktop/shell.h"
#include "media/draw.h"
#include "media/screen.h"
#include "play/board_view.h"
#include "tests/support/game_state.h"

namespace {

// Level 9 after the given number of frames of spreading, with both prompts on screen.
void prepare(int spread_frames) {
  static bool started = false;
  if (!started) {
    setenv("SDL_VIDEODRIVER", "dummy", 1);
    setenv("SDL_AUDIODRIVER", "dummy", 1);
    game_startup();
    started = true;
  }
  load_level(GAME, 9);
  for (int i = 0; i < spread_frames; ++i) spread_step(GAME);
  GAME.contained = 1;
  GAME.edge_reached = 1;
}

void frame_work() {
  screen_clear(0);
  draw_begin(screen_output());
  spread_step(GAME);
  draw_board_view(app_session());
  draw_end();
}

// Points at the last plain floor cell of the grid; false if there is none.
bool point_at_floor() {
  for (int32_t x = GAME.grid_width - 1; x >= 0; --x) {
    for (int32_t y = GAME.grid_height - 1; y >= 0; --y) {
      if (GAME.at(x, y).flags != 0) continue;
      GAME.cursor_x = x;
      GAME.cursor_y = y;
      GAME.cursor_on_board = 1;
      return true;
    }
  }
  return false;
}

void BM_Frame(benchmark::State& state) {
  prepare(static_cast<int>(state.range(0)));
  for (auto _ : state) frame_work();
  benchmark::DoNotOptimize(screen_pixels()[0]);
}

void BM_FrameWithPlacement(benchmark::State& state) {
  prepare(static_cast<int>(state.range(0)));
  if (!point_at_floor()) state.SkipWithError("no floor cell left");
  // The placement and the pick-up alternate on that cell, each with its containment check.
  bool place = true;
  for (auto _ : state) {
    frame_work();
    barriers_apply_buttons(GAME, place ? 1 : 0, place ? 0 : 1);
    place = !place;
  }
}

}  // namespace

// 0 frames: the level as loaded; 3000 frames: the chemical spread over much of the board.
BENCHMARK(BM_Frame)->Arg(0)->Arg(3000)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_FrameWithPlacement)->Arg(0)->Arg(3000)->Unit(benchmark::kMicrosecond);
BENCHMARK_MAIN();
