// --verify's speed on a long run: every level in turn, 2048 frames each (the chemical spreading,
// barriers placed and picked up, R now and then), 20480 frames in all, run headless through the
// real frame as --verify runs it, without and with the picture. frames_per_second and
// times_real_time (against 50 frames a second) are the figures to read.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "play/replay.h"
#include "tests/support/replay_script.h"

namespace {

constexpr int32_t BENCH_LEVELS = 10;
constexpr int BENCH_FRAMES_PER_LEVEL = 2048;

// One scripted replay per level, made once through the real loop.
const std::vector<Replay>& long_run() {
  static std::vector<Replay> replays;
  if (!replays.empty()) return replays;
  for (int32_t level = 1; level <= BENCH_LEVELS; ++level) {
    replay_script::Script script;
    while (static_cast<int>(script.frames.size()) < BENCH_FRAMES_PER_LEVEL - 16) {
      script.idle(100).click(INPUT_HELD_LEFT, 2, 2, 20).idle(100).click(INPUT_HELD_RIGHT, 2, 2, 20);
      script.idle(300).tap(INPUT_RELEASED_R);
    }
    script.idle(BENCH_FRAMES_PER_LEVEL - static_cast<int>(script.frames.size()));
    replays.push_back(replay_run_script(script.frames, level));
  }
  return replays;
}

void verify_long_run(benchmark::State& state, int32_t draw) {
  const std::vector<Replay>& replays = long_run();
  int64_t frames = 0;
  for (auto _ : state) {
    for (const Replay& replay : replays) {
      const ReplayOutcome outcome = replay_run_headless(replay, draw);
      if (!outcome.matches) state.SkipWithError("the replay did not verify");
      frames += outcome.frames;
    }
  }
  state.counters["frames_per_second"] =
      benchmark::Counter(static_cast<double>(frames), benchmark::Counter::kIsRate);
  state.counters["times_real_time"] =
      benchmark::Counter(static_cast<double>(frames) / 50.0, benchmark::Counter::kIsRate);
}

void BM_VerifyLongRun(benchmark::State& state) { verify_long_run(state, 0); }
void BM_VerifyLongRunDrawn(benchmark::State& state) { verify_long_run(state, 1); }

}  // namespace

BENCHMARK(BM_VerifyLongRun)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_VerifyLongRunDrawn)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
