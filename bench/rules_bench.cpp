// Per-frame cost of the rules on the 40 x 40 level. Targets on this machine: spread_step at most
// 20 us a call, check_containment at most 1 ms a call on the serpentine maze.
#include <benchmark/benchmark.h>

#include "play/session.h"
#include "core/level_stream.h"
#include "core/spread.h"
#include "tests/support/containment_reference.h"

namespace {

constexpr int BENCH_LEVEL = 9;            // the 40 x 40 level
constexpr int BENCH_LEVEL_FRAMES = 4000;  // frames of play before the level is loaded afresh

// Whole levels of play: the chemical starts at its leaks and covers the board as frames go by.
void BM_spread_step_level9(benchmark::State& state) {
  session_clear();
  load_level(GAME, BENCH_LEVEL);
  int frame = 0;
  for (auto _ : state) {
    spread_step(GAME);
    if (++frame == BENCH_LEVEL_FRAMES) {
      state.PauseTiming();
      load_level(GAME, BENCH_LEVEL);
      frame = 0;
      state.ResumeTiming();
    }
  }
  benchmark::DoNotOptimize(GAME.grid.data());
}
BENCHMARK(BM_spread_step_level9);

void BM_check_containment_serpentine(benchmark::State& state) {
  make_serpentine_maze(40);
  for (auto _ : state) check_containment(GAME);
  if (GAME.contained != 1) state.SkipWithError("the maze should be walled in");
}
BENCHMARK(BM_check_containment_serpentine)->Unit(benchmark::kMicrosecond);

// The literal pass method on the same maze, for comparison.
void BM_reference_containment_serpentine(benchmark::State& state) {
  make_serpentine_maze(40);
  for (auto _ : state) reference_check_containment();
  if (GAME.contained != 1) state.SkipWithError("the maze should be walled in");
}
BENCHMARK(BM_reference_containment_serpentine)->Unit(benchmark::kMicrosecond);

void BM_check_containment_level9(benchmark::State& state) {
  session_clear();
  load_level(GAME, BENCH_LEVEL);
  GAME.fill_generation = 1;
  for (auto _ : state) check_containment(GAME);
}
BENCHMARK(BM_check_containment_level9)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
