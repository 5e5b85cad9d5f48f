// The whole game at run time: processor share, resident memory and threads of the real loop
// (game_frame on level 1, paced at 50 frames per second, with its sounds and music), side by
// side with a loop that only flips the same screen. The flip-only loop is the floor the game
// can reach; game_over_flip is the ratio of the two shares, which a busy machine moves far
// less than either share alone. Targets: the game at most 5 % of one core and 40 MB resident,
// and no thread of a renderer the game does not use.
//
// On the display in DISPLAY when there is one (run it under tests/support/with-xvfb to measure
// what a player's machine without graphics drivers pays), else on SDL's dummy driver; sound
// on SDL's dummy driver. Each iteration is one frame.
#include <benchmark/benchmark.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "core/level_stream.h"
#include "desktop/shell.h"
#include "media/screen.h"
#include "play/app.h"
#include "play/sound_cues.h"

namespace {

constexpr double GAME_CPU_SHARE_LIMIT = 0.05;  // of one core
constexpr double RESIDENT_LIMIT_MB = 40.0;
constexpr int LOOP_FRAMES = 500;  // ten seconds at 50 frames per second

double seconds(clockid_t clock) {
  timespec ts;
  clock_gettime(clock, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

// VmRSS of this process in megabytes; 0 when /proc cannot say.
double resident_mb() {
  std::FILE* status = std::fopen("/proc/self/status", "r");
  if (!status) return 0;
  char line[256];
  long kb = 0;
  while (std::fgets(line, sizeof line, status)) {
    if (std::sscanf(line, "VmRSS: %ld kB", &kb) == 1) break;
  }
  std::fclose(status);
  return static_cast<double>(kb) / 1024.0;
}

// Threads of this process, and how many of them belong to an OpenGL rasteriser on the
// processor (Mesa names them llvmpipe-N), which the software renderer never needs.
void count_threads(int* all, int* rasteriser) {
  *all = *rasteriser = 0;
  for (const auto& task : std::filesystem::directory_iterator("/proc/self/task")) {
    ++*all;
    std::FILE* comm = std::fopen((task.path() / "comm").c_str(), "r");
    if (!comm) continue;
    char name[64] = "";
    if (std::fgets(name, sizeof name, comm) && std::strncmp(name, "llvmpipe", 8) == 0)
      ++*rasteriser;
    std::fclose(comm);
  }
}

// The game as main() starts it, with its sounds when the build made them, once for both loops.
void start_game() {
  static bool started = false;
  if (started) return;
  started = true;
  if (!std::getenv("DISPLAY") && !std::getenv("WAYLAND_DISPLAY"))
    setenv("SDL_VIDEODRIVER", "dummy", 0);
  setenv("SDL_AUDIODRIVER", "dummy", 0);
  if (chdir(Q47_ASSETS_DIR) != 0)
    std::fprintf(stderr, "no %s: the loop runs without sound\n", Q47_ASSETS_DIR);
  shell_startup();
  // Where the intro's end leaves the game: level 1 in play and the music running.
  app_play(1);
}

struct LoopFigures {
  double cpu_share = 0;  // process processor time over wall time
  double period = 0;     // mean seconds per frame
};
LoopFigures FLIP_ONLY;  // the last flip-only run, for the ratio

// Runs frame() once per iteration and reports the loop's figures.
template <typename Frame>
LoopFigures run_loop(benchmark::State& state, Frame frame) {
  frame();
  frame();  // the period is measured from the end of a paced frame
  const double wall_start = seconds(CLOCK_MONOTONIC);
  const double cpu_start = seconds(CLOCK_PROCESS_CPUTIME_ID);
  for (auto _ : state) frame();
  const double wall = seconds(CLOCK_MONOTONIC) - wall_start;
  const double cpu = seconds(CLOCK_PROCESS_CPUTIME_ID) - cpu_start;
  LoopFigures figures{cpu / wall, wall / static_cast<double>(state.iterations())};
  int threads = 0, rasteriser_threads = 0;
  count_threads(&threads, &rasteriser_threads);
  state.counters["cpu_share_pct"] = figures.cpu_share * 100.0;
  state.counters["period_ms"] = figures.period * 1000.0;
  state.counters["resident_mb"] = resident_mb();
  state.counters["threads"] = threads;
  state.counters["rasteriser_threads"] = rasteriser_threads;
  return figures;
}

void BM_FlipOnlyLoop(benchmark::State& state) {
  start_game();
  screen_set_frame_rate(GAME_FRAME_RATE);
  FLIP_ONLY = run_loop(state, [] { screen_flip(); });
}
BENCHMARK(BM_FlipOnlyLoop)->Iterations(LOOP_FRAMES)->UseRealTime()->Unit(benchmark::kMillisecond);

void BM_GameLoop(benchmark::State& state) {
  start_game();
  screen_set_frame_rate(GAME_FRAME_RATE);
  const LoopFigures game = run_loop(state, [] {
    if (!game_frame()) app_play(1);  // only a close request would end it; play on
  });
  if (FLIP_ONLY.cpu_share > 0)
    state.counters["game_over_flip"] = game.cpu_share / FLIP_ONLY.cpu_share;
  state.counters["targets_met"] = game.cpu_share <= GAME_CPU_SHARE_LIMIT &&
                                  resident_mb() <= RESIDENT_LIMIT_MB &&
                                  state.counters["rasteriser_threads"] == 0;
}
BENCHMARK(BM_GameLoop)->Iterations(LOOP_FRAMES)->UseRealTime()->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
