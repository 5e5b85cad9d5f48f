// Per-frame cost of the rules on the 40 x 40 level, and the checker's verdict on one level.
// Targets on this machine: spread_step at most 20 us a call, check_containment at most 1 ms a
// call on the serpentine maze; level_check of one 40 x 40 level within 100 ms (a verdict that
// follows an edit while the player paints).
#include <benchmark/benchmark.h>

#include "core/level_check.h"
#include "core/level_stream.h"
#include "core/spread.h"
#include "play/session.h"
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

// The whole verdict on one level, on its own rules' record, beside a game in progress.
void BM_level_check(benchmark::State& state) {
  const int32_t level = static_cast<int32_t>(state.range(0));
  const LevelStream& stream = level_stream_builtin();
  session_clear();
  load_level(GAME, 1);
  const size_t game_before = GAME.grid.size();
  bool winnable = true;
  for (auto _ : state) winnable = level_check(stream, level).winnable && winnable;
  if (!winnable) state.SkipWithError("the level should be winnable");
  if (GAME.grid.size() != game_before || GAME.level_number != 1) {
    state.SkipWithError("the checker touched the game in progress");
  }
}
BENCHMARK(BM_level_check)->Arg(9)->Arg(10)->Unit(benchmark::kMillisecond);

// All ten built-in levels, as --check does them.
void BM_level_check_builtin(benchmark::State& state) {
  const LevelStream& stream = level_stream_builtin();
  for (auto _ : state) {
    for (int32_t level = 1; level <= level_count(stream); ++level) {
      benchmark::DoNotOptimize(level_check(stream, level).plan_score);
    }
  }
}
BENCHMARK(BM_level_check_builtin)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
