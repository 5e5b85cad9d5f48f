#include "desktop/commands.h"

#include <cstdio>
#include <vector>

#include "core/level_check.h"
#include "core/level_pack.h"
#include "core/report.h"
#include "desktop/files.h"
#include "desktop/options.h"
#include "desktop/shell.h"
#include "media/file.h"
#include "media/timing.h"
#include "play/replay.h"
#include "play/session.h"

namespace {

// Reads the replay at path and checks it fits the levels in use; on failure reports
// "q47: PATH: reason".
bool load_usable(const std::string& path, Replay& replay) {
  std::string error;
  if (!files_read_replay(path, replay, error)) {
    report(error);
    return false;
  }
  error = replay_unusable(replay, session_stream());
  if (!error.empty()) {
    report(path + ": " + error);
    return false;
  }
  return true;
}

// Writes the finished recording to each path; a failure is one line and never stops the game.
void save_run(const std::vector<std::string>& paths) {
  const Replay replay = replay_record_finish();
  for (const std::string& path : paths) {
    std::string error;
    if (!files_write_replay(path, replay, error)) report("cannot save the replay: " + error);
  }
}

}  // namespace

// --export-levels: the built-in levels and story, written as a pack.
int export_levels_main(const std::string& path) {
  const std::string text = level_pack_format(level_pack_from_stream(level_stream_builtin()));
  std::string error;
  if (!file_write_atomic(path, text, error)) {
    report(error);
    return 1;
  }
  return 0;
}

// Reads the pack at path and makes it the stream the game reads; false (with every problem on
// standard error) when it is unusable.
bool install_pack(const std::string& path) {
  LevelPack pack;
  std::string error;
  if (!files_read_pack(path, pack, error)) {
    std::fputs(error.c_str(), stderr);
    return false;
  }
  session_use_stream(level_pack_compile(pack));
  return true;
}

// --check: a report on every level of the stream; 0 when all can be won, 1 when one cannot.
// With --write-replays each winning plan is also written as DIR/levelNN.q47r.
int check_main() {
  std::vector<LevelReport> reports;
  bool all_winnable = true;
  bool written = true;
  const LevelStream& stream = session_stream();
  for (int32_t level = 1; level <= level_count(stream); ++level) {
    reports.push_back(level_check(stream, level));
    all_winnable = all_winnable && reports.back().winnable;
    if (game_options.write_replays_dir.empty() || !reports.back().winnable) continue;
    char name[32];
    std::snprintf(name, sizeof name, "/level%02d.q47r", level);
    std::string error;
    if (!files_write_replay(game_options.write_replays_dir + name, replay_of_plan(reports.back()),
                            error)) {
      report(error);
      written = false;
    }
  }
  const std::string out =
      game_options.json ? level_check_json(reports) : level_check_table(reports);
  std::fputs(out.c_str(), stdout);
  if (std::fflush(stdout) != 0 || !written) return 2;
  return all_winnable ? 0 : 1;
}

// --verify PATH: runs the replay and prints what it found. Returns the exit code: 0 = checksum
// as recorded, 1 = it differs (the first difference on standard error), 2 = the file cannot be
// used.
int replay_verify_main(const std::string& path, int32_t draw) {
  Replay replay;
  if (!load_usable(path, replay)) return 2;
  const ReplayOutcome outcome = replay_run_headless(replay, draw);
  std::printf("%s\n", replay_outcome_line(outcome).c_str());
  std::fflush(stdout);
  if (outcome.matches) return 0;
  report(path + ": " + replay_outcome_problem(replay, outcome));
  return 1;
}

// --play PATH: shows the run in the window at normal speed. Returns the exit code (0 at the end
// of the recording or when the viewer stops it, 2 for a file that cannot be used).
int replay_play_main(const std::string& path) {
  Replay replay;
  if (!load_usable(path, replay)) return 2;
  game_startup();
  replay_watch_begin(replay);
  const FrameDevice device = replay_watch_device();
  while (session_frame(device) == SESSION_GOING && !replay_watch_stopped()) {
    if (replay_watch_shown()) delay_ms(GAME_FRAME_SLEEP_MS);
  }
  replay_watch_end();
  game_end();
  return 0;
}

int play_main() {
  game_startup();
  game_start_at_level(game_options.start_level);
  // Every run is kept as the last run, so a good one can still be saved after it was played.
  std::vector<std::string> replay_paths;
  if (!game_options.record_path.empty()) replay_paths.push_back(game_options.record_path);
  std::string error;
  const std::string last_run = files_last_run_path(error);
  if (last_run.empty()) {
    report("cannot keep the last run: " + error);
  } else {
    replay_paths.push_back(last_run);
  }
  replay_record_begin(game_options.start_level);
  for (;;) {
    const int32_t going = game_frame();
    replay_record_frame();
    if (!going) break;
  }
  save_run(replay_paths);
  game_end();
  return 0;
}
