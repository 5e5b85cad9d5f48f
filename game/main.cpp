// wall in the leaking chemical before it reaches an edge.
#include <cstdio>
#include <string>
#include <vector>

#include "game/game_loop.h"
#include "game/options.h"
#include "game/replay.h"

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
