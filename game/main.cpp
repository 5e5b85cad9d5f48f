// wall in the leaking chemical before it reaches an edge.
#include <cstdio>
#include <string>
#include <vector>

#include "game/game_loop.h"
#include "game/level_check.h"
#include "game/level_pack.h"
#include "game/level_stream.h"
#include "game/options.h"
#include "game/replay.h"

namespace {

// --export-levels: the built-in levels and story, written as a pack.
int export_levels(const std::string& path) {
  const std::string text = level_pack_format(level_pack_from_stream(level_stream_builtin()));
  std::string error;
  if (!level_pack_write_file(path, text, error)) {
    std::fprintf(stderr, "%s: %s\n", GAME_PROGRAM_NAME, error.c_str());
    return 1;
  }
  return 0;
}

// Reads the pack at path and makes it the stream the game reads; false (with every problem on
// standard error) when it is unusable.
bool install_pack(const std::string& path) {
  LevelPack pack;
  std::string error;
  if (!level_pack_load(path, pack, error)) {
    std::fputs(error.c_str(), stderr);
    return false;
  }
  level_stream_install(level_pack_compile(pack));
  return true;
}

// --check: a report on every level of the stream; 0 when all can be won, 1 when one cannot.
// With --write-replays each winning plan is also written as DIR/levelNN.q47r.
int check_levels() {
  std::vector<LevelReport> reports;
  bool all_winnable = true;
  bool written = true;
  for (int32_t level = 1; level <= level_count(); ++level) {
    reports.push_back(level_check(level));
    all_winnable = all_winnable && reports.back().winnable;
    if (game_options.write_replays_dir.empty() || !reports.back().winnable) continue;
    char name[32];
    std::snprintf(name, sizeof name, "/level%02d.q47r", level);
    std::string error;
    if (!level_check_write_replay(reports.back(), game_options.write_replays_dir + name, error)) {
      std::fprintf(stderr, "%s: %s\n", GAME_PROGRAM_NAME, error.c_str());
      written = false;
    }
  }
  const std::string out = game_options.json ? level_check_json(reports) : level_check_table(reports);
  std::fputs(out.c_str(), stdout);
  if (std::fflush(stdout) != 0 || !written) return 2;
  return all_winnable ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  std::string out;
  std::string err;
  switch (options_parse(argc, argv, out, err)) {
    case OptionsAction::EXIT:
      std::fputs(out.c_str(), stdout);
      return std::fflush(stdout) == 0 ? 0 : 1;
    case OptionsAction::ERROR:
      std::fputs(err.c_str(), stderr);
      return 2;
    case OptionsAction::RUN:
      break;
  }
  if (!game_options.export_levels_path.empty()) return export_levels(game_options.export_levels_path);
  // The pack is read and checked before anything else starts, so a bad one opens no window;
  // replays of a pack's levels are played and verified on the pack too.
  const std::string& pack_path =
      game_options.check && !game_options.check_path.empty() ? game_options.check_path
                                                             : game_options.levels_path;
  if (!pack_path.empty() && !install_pack(pack_path)) return 2;
  if (game_options.start_level > level_count()) {
    std::fprintf(stderr, "%s: --level %d: the pack has only %d levels\n", GAME_PROGRAM_NAME,
                 game_options.start_level, level_count());
    return 2;
  }
  if (game_options.check) return check_levels();
  if (!game_options.verify_path.empty()) {
    return replay_verify_main(game_options.verify_path, game_options.draw);
  }
  if (!game_options.play_path.empty()) return replay_play_main(game_options.play_path);
  game_startup();
  game_start_at_level(game_options.start_level);
  // Every run is kept as the last run, so a good one can still be saved after it was played.
  std::vector<std::string> replay_paths;
  if (!game_options.record_path.empty()) replay_paths.push_back(game_options.record_path);
  std::string error;
  const std::string last_run = replay_last_run_path(error);
  if (last_run.empty()) {
    std::fprintf(stderr, "%s: cannot keep the last run: %s\n", GAME_PROGRAM_NAME, error.c_str());
  } else {
    replay_paths.push_back(last_run);
  }
  replay_record_begin(game_options.start_level);
  for (;;) {
    const int32_t going = game_frame();
    replay_record_frame();
    if (!going) break;
  }
  replay_record_finish(replay_paths);
  game_end();
  return 0;
}
