#include "desktop/commands.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <vector>

#include "core/level_check.h"
#include "core/level_pack.h"
#include "core/report.h"
#include "desktop/data_path.h"
#include "desktop/display.h"
#include "desktop/files.h"
#include "desktop/hub_publish.h"
#include "desktop/options.h"
#include "desktop/shell.h"
#include "media/file.h"
#include "media/png.h"
#include "media/screen.h"
#include "media/timing.h"
#include "play/app.h"
#include "play/replay.h"
#include "play/session.h"

namespace {

// Writes text to standard output now; a failed write (a full disk, a closed pipe) is said on
// standard error, since output that never arrived is no success.
bool put_out(const std::string& text) {
  if (std::fwrite(text.data(), 1, text.size(), stdout) == text.size() && std::fflush(stdout) == 0) {
    return true;
  }
  report(std::string("standard output: ") + std::strerror(errno));
  return false;
}

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

}  // namespace

int export_levels_main(const std::string& path) {
  const std::string text = level_pack_format(level_pack_from_stream(session_stream()));
  if (path == "-") return put_out(text) ? 0 : 2;
  std::string error;
  if (!file_write_atomic(path, text, error)) {
    report(error);
    return 2;
  }
  return 0;
}

bool outputs_spare_inputs() {
  const std::pair<const char*, const std::string*> inputs[] = {
      {"--levels", &game_options.levels_path},
      {"--check", &game_options.check_path},
      {"--verify", &game_options.verify_path},
      {"--play", &game_options.play_path}};
  const std::pair<const char*, const std::string*> outputs[] = {
      {"--record", &game_options.record_path},
      {"--export-levels", &game_options.export_levels_path},
      {"--picture", &game_options.picture_path}};
  for (const auto& [output_option, output] : outputs) {
    for (const auto& [input_option, input] : inputs) {
      if (output->empty() || input->empty() || !file_same(*output, *input)) continue;
      report(std::string(output_option) + " " + *output + " is the file the run reads (" +
             input_option + " " + *input + "); it would be overwritten");
      return false;
    }
  }
  return true;
}

// Reads the pack at path and makes it the stream the game reads; false (with every problem on
// standard error) when it is unusable.
bool install_pack(const std::string& path) {
  LevelPack pack;
  std::string error;
  if (path.rfind("http://", 0) == 0 || path.rfind("https://", 0) == 0) {
    std::string text;
    if (!hub_fetch_pack(path, text, error)) {
      report(error);
      return false;
    }
    std::vector<PackProblem> problems;
    if (!level_pack_parse(text, pack, problems)) {
      std::fputs(level_pack_problems_text(path, problems).c_str(), stderr);
      return false;
    }
    session_use_stream(level_pack_compile(pack));
    return true;
  }
  if (!files_read_pack(path, pack, error)) {
    std::fputs(error.c_str(), stderr);
    return false;
  }
  session_use_stream(level_pack_compile(pack));
  return true;
}

// The exact search on level of stream, stopped after limit processor seconds (0: none), which
// is counted on this process's clock so that a busy machine does not cut it short.
LevelReport exact_search(const LevelStream& stream, int32_t level, int64_t limit) {
  LevelCheckJob job;
  level_check_begin(job, stream, level, true);
  const std::clock_t began = std::clock();
  while (!level_check_step(job)) {
    if (limit > 0 && std::clock() - began >= limit * CLOCKS_PER_SEC) level_check_stop(job);
  }
  return std::move(job.report);
}

int check_main() {
  const LevelStream& stream = session_stream();
  const bool exact = game_options.exact != 0;
  const int32_t count = level_count(stream);
  const bool progress = isatty(STDERR_FILENO) != 0;
  std::vector<int32_t> unwinnable;
  bool written = true;
  // Each row goes out as soon as its level is done: a long check interrupted keeps what it found.
  if (!put_out(game_options.json ? "[" : level_check_table_header(exact))) return 2;
  for (int32_t level = 1; level <= count; ++level) {
    if (progress) std::fprintf(stderr, "\rchecking level %d of %d...", level, count);
    LevelReport found = level_check(stream, level);
    if (exact) level_check_take_best(found, exact_search(stream, level, game_options.time_limit));
    if (progress) std::fputs("\r\033[K", stderr);
    if (!found.winnable) unwinnable.push_back(level);
    const std::string row =
        game_options.json ? (level > 1 ? ",\n " : "\n ") + level_check_json_object(found, exact)
                          : level_check_table_row(found, exact);
    if (!put_out(row)) return 2;
    // With --exact the best run is written, which may be one the checker's own plan missed.
    LevelReport written_run = found;
    if (exact) {
      written_run.plan = found.best_run;
      written_run.plan_score = found.best_score;
    }
    if (game_options.write_replays_dir.empty() || written_run.plan.empty()) continue;
    char name[32];
    std::snprintf(name, sizeof name, "/level%02d.q47r", level);
    std::string error;
    if (!files_write_replay(game_options.write_replays_dir + name, replay_of_plan(written_run),
                            error)) {
      report(error);
      written = false;
    }
  }
  if (game_options.json && !put_out(count > 0 ? "\n]\n" : "]\n")) return 2;
  if (!unwinnable.empty()) {
    std::string levels;
    for (int32_t level : unwinnable) levels += (levels.empty() ? "" : ", ") + std::to_string(level);
    report("no winning plan found for level" + std::string(unwinnable.size() > 1 ? "s " : " ") +
           levels);
  }
  // A lost replay is the bigger failure; both were said.
  if (!written) return 2;
  return unwinnable.empty() ? 0 : 1;
}

// --verify PATH: runs the replay and prints what it found. Returns the exit code: 0 = checksum
// as recorded, 1 = it differs (the first difference on standard error), 2 = the file cannot be
// used.
int replay_verify_main(const std::string& path, int32_t draw) {
  Replay replay;
  if (!load_usable(path, replay)) return 2;
  // A picture asked for is drawn as in play; the last frame unless another is named.
  const bool picture = !game_options.picture_path.empty();
  const int64_t picture_frame =
      game_options.picture_frame ? game_options.picture_frame : replay.frame_count;
  const ReplayVerdict verdict =
      replay_verify(replay, draw, picture ? picture_frame : 0,
                    "--frame " + std::to_string(picture_frame), game_options.palette_marked);
  if (!put_out(verdict.line + "\n")) return 2;
  if (verdict.code == 2) {
    report(verdict.problem);
    return 2;
  }
  if (picture) {
    std::string error;
    const std::string png = png_encode(verdict.pixels, SCREEN_WIDTH, SCREEN_HEIGHT);
    if (!file_write_atomic(game_options.picture_path, png, error)) {
      report(error);
      return 2;
    }
  }
  if (verdict.code == 0) return 0;
  report(path + ": " + verdict.problem);
  return 1;
}

// --play PATH: shows the run in the window at normal speed. Returns the exit code (0 at the end
// of the recording or when the viewer stops it, 2 for a file that cannot be used).
int replay_play_main(const std::string& path) {
  Replay replay;
  if (!load_usable(path, replay)) return 2;
  shell_startup();
  app_watch(replay);
  while (game_frame()) {
  }
  game_end();
  return 0;
}

int play_main() {
  // What --record names is checked before the window opens: no game is played for nothing.
  std::string error;
  if (!game_options.record_path.empty() && !file_can_write(game_options.record_path, error)) {
    report("cannot record the run: " + error);
    return 2;
  }
  // Every run is kept, so a good one can still be saved after it was played; a place that
  // cannot hold it is said now, not after the game.
  std::string state_error;
  const std::string state_dir = data_path_state_dir(state_error);
  if (state_dir.empty()) report("cannot keep the last run: " + state_error);
  shell_startup();
  app_play(game_options.start_level);
  std::vector<AppAsk> asks;
  while (game_frame(&asks)) {
  }
  int code = 0;
  for (const AppAsk& ask : asks) {
    if (ask.kind != AppAsk::Kind::KEEP_RUN) continue;
    if (!game_options.record_path.empty() &&
        !files_write_replay(game_options.record_path, ask.run, error)) {
      report("cannot save the replay: " + error);
      code = 2;
    }
    if (!state_dir.empty() && !files_keep_run(state_dir, ask.run, error)) {
      report("cannot keep the last run: " + error);
    }
  }
  game_end();
  return code;
}
