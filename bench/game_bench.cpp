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
#include "play/session.h"

namespace {

Session BENCH;  // the game the frames are drawn from

// Level 9 after the given number of frames of spreading, with both prompts on screen.
void prepare(int spread_frames) {
  static bool started = false;
  if (!started) {
    setenv("SDL_VIDEODRIVER", "dummy", 1);
    setenv("SDL_AUDIODRIVER", "dummy", 1);
    shell_startup();
    BENCH = session_make(nullptr, board_view_picture(1), 0, 0);
    started = true;
  }
  load_level(BENCH.rules, 9);
  for (int i = 0; i < spread_frames; ++i) spread_step(BENCH.rules);
  BENCH.rules.contained = 1;
  BENCH.rules.edge_reached = 1;
}

void frame_work() {
  screen_clear(0);
  draw_begin(screen_output());
  spread_step(BENCH.rules);
  draw_board_view(BENCH);
  draw_end();
}

// Points at the last plain floor cell of the grid; false if there is none.
bool point_at_floor() {
  for (int32_t x = BENCH.rules.grid_width - 1; x >= 0; --x) {
    for (int32_t y = BENCH.rules.grid_height - 1; y >= 0; --y) {
      if (BENCH.rules.at(x, y).flags != 0) continue;
      BENCH.rules.cursor_x = x;
      BENCH.rules.cursor_y = y;
      BENCH.rules.cursor_on_board = 1;
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
    barriers_apply_buttons(BENCH.rules, place ? 1 : 0, place ? 0 : 1);
    place = !place;
  }
}

}  // namespace

// 0 frames: the level as loaded; 3000 frames: the chemical spread over much of the board.
BENCHMARK(BM_Frame)->Arg(0)->Arg(3000)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_FrameWithPlacement)->Arg(0)->Arg(3000)->Unit(benchmark::kMicrosecond);
BENCHMARK_MAIN();
