// One frame's work on the 40 x 40 level: the spread step and the whole picture drawn into the
// back buffer, alone and with a placement (one containment check more); and the level editor's
// frames while the verdict on an edit is worked out.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <ctime>

#include "core/barriers.h"
#include "core/edit.h"
#include "core/level_pack.h"
#include "core/level_stream.h"
#include "core/spread.h"
#include "desktop/shell.h"
#include "media/draw.h"
#include "media/screen.h"
#include "play/app.h"
#include "play/board_view.h"
#include "play/editor.h"
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

// The level editor's frames after one wall painted on a level of range(0) cells a side (level
// 9, drawn at twice its size for 80): the longest frame, drawing and the verdict's share of it
// included, and the time until the verdict is known again.
void BM_EditorFramesAfterAnEdit(benchmark::State& state) {
  prepare(0);
  const int32_t size = static_cast<int32_t>(state.range(0));
  LevelPack pack = level_pack_from_stream(level_stream_builtin());
  PackLevel level = pack.levels[8];
  if (size == 2 * level.width) {
    PackLevel twice = level;
    twice.width = twice.height = size;
    twice.rows.clear();
    for (const std::string& row : level.rows) {
      std::string wide;
      for (char cell : row) wide += std::string(2, cell);
      twice.rows.push_back(wide);
      twice.rows.push_back(wide);
    }
    level = twice;
  }
  pack.levels = {level};
  for (PackLevel& kept : pack.levels) kept.story_after.clear();
  EditSession session;
  edit_start(session, pack);
  app_edit(std::move(session), "");
  const FrameDevice device = session_window_device();
  // Wall time, and the thread's own processor time: on a busy machine the scheduler's delays
  // land in the first, the frame's own work in the second.
  auto cpu_ms = [] {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) * 1e3 + static_cast<double>(now.tv_nsec) / 1e6;
  };
  double longest_ms = 0, longest_cpu_ms = 0, verdict_ms = 0;
  int64_t frames = 0, edits = 0;
  while (!editor_verdict_known()) app_frame(device);
  for (auto _ : state) {
    // One wall on a floor cell, then back to floor: every edit a level the checker has not seen.
    EditSession& edited = editor_session();
    const PackLevel& now = edit_level(edited);
    EditCell cell{0, 0};
    for (int32_t tries = 0; tries < size * size; ++tries) {
      cell = {static_cast<int32_t>((edits * 7 + tries) % size),
              static_cast<int32_t>((edits * 13 + tries / size) % size)};
      if (now.rows[static_cast<size_t>(cell.y)][static_cast<size_t>(cell.x)] == '.') break;
    }
    edit_stroke_begin(edited);
    edit_paint(edited, {cell}, 'W', EditMirror::NONE);
    edit_stroke_end(edited);
    ++edits;
    const auto began = std::chrono::steady_clock::now();
    do {
      const auto frame_began = std::chrono::steady_clock::now();
      const double cpu_began = cpu_ms();
      app_frame(device);
      longest_cpu_ms = std::max(longest_cpu_ms, cpu_ms() - cpu_began);
      const double ms =
          std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - frame_began)
              .count();
      longest_ms = std::max(longest_ms, ms);
      ++frames;
    } while (!editor_verdict_known());
    verdict_ms +=
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - began).count();
  }
  state.counters["longest_frame_ms"] = longest_ms;
  state.counters["longest_frame_cpu_ms"] = longest_cpu_ms;
  state.counters["verdict_after_edit_ms"] = verdict_ms / static_cast<double>(edits);
  state.counters["frames_to_verdict"] = static_cast<double>(frames) / static_cast<double>(edits);
  app_stop();
}

}  // namespace

BENCHMARK(BM_EditorFramesAfterAnEdit)
    ->Arg(40)
    ->Arg(80)
    ->Iterations(20)
    ->Unit(benchmark::kMillisecond);
// 0 frames: the level as loaded; 3000 frames: the chemical spread over much of the board.
BENCHMARK(BM_Frame)->Arg(0)->Arg(3000)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_FrameWithPlacement)->Arg(0)->Arg(3000)->Unit(benchmark::kMicrosecond);
BENCHMARK_MAIN();
