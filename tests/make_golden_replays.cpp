// Writes the scripted golden runs of tests/replays through the real loop (replay_run_script) and
// prints where each one ended. Run it by hand after a deliberate change of the rules:
//   build/tests/q47_make_golden_replays tests/replays
// then update the expected levels and scores in test_replay.cpp if they moved.
#include <cstdio>
#include <string>
#include <utility>

#include "game/game_globals.h"
#include "game/replay.h"
#include "replay_script.h"

namespace rs = replay_script;

namespace {

bool write(const std::string& dir, const char* name, const rs::Script& script, int32_t level) {
  Replay replay;
  std::string error;
  if (!replay_run_script(script.frames, level, dir + "/" + name, replay, error)) {
    std::fprintf(stderr, "q47_make_golden_replays: %s\n", error.c_str());
    return false;
  }
  std::printf("%s: %lld frames, level %d, state %d, score %d, edge %d, %zu bytes\n", name,
              static_cast<long long>(replay.frame_count), level_number, game_state, score,
              edge_reached, replay_encode(replay).size());
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: q47_make_golden_replays DIR\n");
    return 2;
  }
  const std::string dir = argv[1];
  bool ok = true;

  // From the intro: level 1 walled in with four barriers, won, the story after it, Escape.
  rs::Script win;
  rs::through_intro(win).idle(180);
  rs::contain_level_1(win).idle(10).tap(INPUT_RELEASED_RETURN, 80).tap(INPUT_RELEASED_SPACE, 10);
  win.escape();
  ok = write(dir, "level1-win.q47r", win, 0) && ok;

  // Level 1 from --level 1, nobody acting: the chemical reaches the edge; then Escape.
  rs::Script lose;
  lose.idle(3000).escape();
  ok = write(dir, "level1-lose.q47r", lose, 1) && ok;

  // The keys: Tab to the plain view and back, a stray barrier, Ctrl+F, R to restart (the
  // barrier goes, the score stays), then the win.
  rs::Script keys;
  rs::through_intro(keys).idle(10).tap(INPUT_RELEASED_TAB);
  keys.click(INPUT_HELD_LEFT, 5, 5, 30).ctrl_f().tap(INPUT_RELEASED_TAB);
  keys.click(INPUT_HELD_LEFT, 6, 5, 30).click(INPUT_HELD_RIGHT, 6, 5, 30).tap(INPUT_RELEASED_R);
  rs::contain_level_1(keys).tap(INPUT_RELEASED_RETURN, 80);
  keys.escape();
  ok = write(dir, "keys-tab-ctrlf-r.q47r", keys, 0) && ok;
  return ok ? 0 : 1;
}
