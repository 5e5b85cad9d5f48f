// Frame pacing as the game uses it: a loop that does nothing but flip at 50 frames per
// second must flip every 1/51 s (mean within 0.5%) and use at most 5% of one core. Also the
// cost of an unpaced flip and of drawing a full board frame. Frames more than 1 ms late come
// from the scheduler: count them on an idle machine, or with the benchmark at a real-time
// priority (chrt -f 10) to see the pacing apart from the other programs.
//
// Runs on whatever display SDL finds; without one (no DISPLAY) on SDL's dummy driver, which
// presents into memory. Each iteration is one frame.
#include <benchmark/benchmark.h>
#include <time.h>

#include <cmath>
#include <cstdlib>

#include "media/draw.h"
#include "media/screen.h"
#include "media/window.h"

namespace {

constexpr double TARGET_PERIOD_S = 1.0 / 51.0;
constexpr double PERIOD_TOLERANCE = 0.005;  // 0.5%
constexpr double CPU_SHARE_LIMIT = 0.05;    // of one core

double seconds(clockid_t clock) {
  timespec ts;
  clock_gettime(clock, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

// The game's window and screen, opened once for all benchmarks.
bool open_screen() {
  static bool opened = false;
  if (opened) return true;
  if (!std::getenv("DISPLAY") && !std::getenv("WAYLAND_DISPLAY"))
    setenv("SDL_VIDEODRIVER", "dummy", 0);
  window_system_init();
  drawing_system_init();
  if (!screen_system_init()) return false;
  if (!window_open(0, 0, 0, 640, 480, "Q-47 pacing benchmark", 0xCA0009)) return false;
  opened = screen_open_windowed(window_handle(0), 0, 0, 640, 480, 0, 0, 0) == 1;
  return opened;
}

void BM_PacedFlipAt50(benchmark::State& state) {
  if (!open_screen()) {
    state.SkipWithError("no screen");
    return;
  }
  screen_set_frame_rate(50);
  screen_flip();
  screen_flip();  // the period is measured from the end of a paced flip
  const double wall_start = seconds(CLOCK_MONOTONIC);
  const double cpu_start = seconds(CLOCK_PROCESS_CPUTIME_ID);
  // Frames more than 1 ms late: on a busy machine the scheduler, not the pacing, makes these,
  // and since late frames are never made up each one lengthens the mean.
  int late_frames = 0;
  double previous = wall_start;
  for (auto _ : state) {
    screen_flip();
    const double now = seconds(CLOCK_MONOTONIC);
    late_frames += now - previous > TARGET_PERIOD_S + 0.001;
    previous = now;
  }
  const double wall = seconds(CLOCK_MONOTONIC) - wall_start;
  const double cpu = seconds(CLOCK_PROCESS_CPUTIME_ID) - cpu_start;
  const double period = wall / static_cast<double>(state.iterations());
  const double error = std::fabs(period - TARGET_PERIOD_S) / TARGET_PERIOD_S;
  state.counters["period_ms"] = period * 1000.0;
  state.counters["period_error_pct"] = error * 100.0;
  state.counters["cpu_share_pct"] = cpu / wall * 100.0;
  state.counters["late_frames"] = late_frames;
  state.counters["targets_met"] = error <= PERIOD_TOLERANCE && cpu / wall <= CPU_SHARE_LIMIT;
}
BENCHMARK(BM_PacedFlipAt50)->Iterations(500)->UseRealTime()->Unit(benchmark::kMillisecond);

void BM_UnpacedFlip(benchmark::State& state) {
  if (!open_screen()) {
    state.SkipWithError("no screen");
    return;
  }
  screen_set_frame_rate(0);
  for (auto _ : state) screen_flip();
}
BENCHMARK(BM_UnpacedFlip)->UseRealTime()->Unit(benchmark::kMicrosecond);

// A frame like the largest level's: 40 x 40 cells of 12 pixels, a circle in every fourth, a
// frame and a line of text, drawn on a cleared back buffer.
void BM_DrawBoardFrame(benchmark::State& state) {
  if (!open_screen()) {
    state.SkipWithError("no screen");
    return;
  }
  for (auto _ : state) {
    screen_clear(0);
    draw_begin(screen_output());
    for (int cx = 0; cx < 40; ++cx) {
      for (int cy = 0; cy < 40; ++cy) {
        draw_box(80 + cx * 12, cy * 12, 12, 12, rgb(cx * 6, cy * 6, 90));
        if ((cx + cy) % 4 == 0) draw_circle(86 + cx * 12, 6 + cy * 12, 4, rgb(255, 255, 0));
      }
    }
    draw_set_mode(DRAW_OUTLINED);
    draw_box(79, 0, 482, 480, rgb(255, 0, 0));
    draw_set_mode(DRAW_TRANSPARENT);
    draw_text(4, 4, "BARRIERS 45", rgb(255, 255, 255));
    draw_end();
    benchmark::DoNotOptimize(screen_pixels());
  }
}
BENCHMARK(BM_DrawBoardFrame)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
