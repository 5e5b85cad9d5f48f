// The exact search (level_check_exact): its processor time and what it proves. Targets: all ten
// built-in levels proven within 10 minutes of one core; at least 9 of 10 40 x 40 levels of the
// checker's tests' series (walls, circles, leaks and spread speeds of every kind) proven
// within 10 minutes each; on eight 80 x 80 levels the best found and the bound after 10 minutes,
// with the gap between them; and no piece of the search so long that an editor frame (its
// 8 ms of checking, one piece more and the drawing) passes 30 ms. Times are processor time of
// this thread, so a machine busy with other work does not change them.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <ctime>
#include <random>
#include <string>

#include "core/level_check.h"
#include "core/level_pack.h"
#include "core/level_stream.h"
#include "tests/support/generated_level.h"

namespace {

constexpr int64_t SOLVER_LIMIT_SECONDS = 600;  // the processor time one level may take

double cpu_seconds() {
  timespec now{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

// The next level of rng's series of the checker's tests, side x side, as a stream.
LevelStream series_level(std::mt19937& rng, int32_t side) {
  LevelPack pack;
  pack.intro = {{"GO", 0xFFFFFF}};
  pack.levels = {generated_level(rng, side)};
  pack.final_block = {{"~", 0}};
  return level_pack_compile(pack);
}

// What one exact search found and what it cost.
struct Solved {
  LevelReport report;
  double seconds = 0;        // processor time
  double longest_piece = 0;  // the longest level_check_step, in processor milliseconds
};

Solved solve(const LevelStream& stream, int32_t level) {
  Solved solved;
  LevelCheckJob job;
  level_check_begin(job, stream, level, true);
  const double began = cpu_seconds();
  for (bool done = false; !done;) {
    const double piece = cpu_seconds();
    done = level_check_step(job);
    solved.longest_piece = std::max(solved.longest_piece, (cpu_seconds() - piece) * 1000);
    if (cpu_seconds() - began >= SOLVER_LIMIT_SECONDS) level_check_stop(job);
  }
  solved.seconds = cpu_seconds() - began;
  solved.report = std::move(job.report);
  return solved;
}

// Counts a series of searches into the benchmark's counters.
void count(benchmark::State& state, const std::vector<Solved>& series) {
  double seconds = 0, longest = 0, slowest = 0, gap = 0;
  int32_t proven = 0;
  std::string unproven;  // each unproven level's number, best found and bound
  for (const Solved& one : series) {
    if (!one.report.best_proven) {
      unproven += " " + std::to_string(&one - series.data() + 1) + ":" +
                  std::to_string(one.report.best_score) + "/" +
                  std::to_string(one.report.best_score_bound);
    }
    seconds += one.seconds;
    slowest = std::max(slowest, one.seconds);
    longest = std::max(longest, one.longest_piece);
    proven += one.report.best_proven;
    if (!one.report.best_proven && one.report.best_score_bound >= 0) {
      gap += one.report.best_score_bound - std::max(one.report.best_score, 0);
    }
  }
  state.counters["levels"] = static_cast<double>(series.size());
  state.counters["proven"] = proven;
  state.counters["cpu_s"] = seconds;
  state.counters["slowest_cpu_s"] = slowest;
  state.counters["gap_points"] = gap;
  state.counters["longest_piece_ms"] = longest;
  if (!unproven.empty()) state.SetLabel("unproven (best/bound):" + unproven);
}

void BM_exact_builtin_levels(benchmark::State& state) {
  for (auto _ : state) {
    std::vector<Solved> series;
    for (int32_t level = 1; level <= LEVEL_BUILTIN_COUNT; ++level) {
      series.push_back(solve(level_stream_builtin(), level));
    }
    count(state, series);
    if (state.counters["proven"] < LEVEL_BUILTIN_COUNT) state.SkipWithError("not all proven");
  }
}
BENCHMARK(BM_exact_builtin_levels)->Iterations(1)->Unit(benchmark::kSecond);

void BM_exact_generated_40(benchmark::State& state) {
  for (auto _ : state) {
    std::mt19937 rng(47);
    std::vector<Solved> series;
    for (int n = 0; n < 10; ++n) series.push_back(solve(series_level(rng, 40), 1));
    count(state, series);
  }
}
BENCHMARK(BM_exact_generated_40)->Iterations(1)->Unit(benchmark::kSecond);

void BM_exact_generated_80(benchmark::State& state) {
  for (auto _ : state) {
    std::mt19937 rng(80);
    std::vector<Solved> series;
    for (int n = 0; n < 8; ++n) series.push_back(solve(series_level(rng, 80), 1));
    count(state, series);
  }
}
BENCHMARK(BM_exact_generated_80)->Iterations(1)->Unit(benchmark::kSecond);

}  // namespace

BENCHMARK_MAIN();
