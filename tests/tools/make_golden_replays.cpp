// Writes the scripted golden runs of tests/replays through the real loop (replay_run_script),
// checks each headless and prints where it ended. Run it by hand after a deliberate change of
// the rules or the levels:
//   build/tests/q47_make_golden_replays tests/replays
// then update the expected levels and scores in test_replay.cpp if they moved.
#include <algorithm>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "core/barriers.h"
#include "core/level_check.h"
#include "core/level_stream.h"
#include "desktop/files.h"
#include "play/replay.h"
#include "tests/support/game_state.h"
#include "tests/support/replay_script.h"

namespace rs = replay_script;

namespace {

constexpr int LOSE_FRAMES_AFTER_EDGE = 50;  // the lost board on screen before Escape
constexpr int WIN_FRAMES_AFTER_TALLY = 10;  // what follows the tally on screen before Escape
constexpr int FINAL_FRAMES = 10;            // more than the final line needs to end the run

// Runs script from level (0 = the intro), writes it as dir/name and plays the file's replay
// back headless; false, with the reason on standard error, when either fails.
bool write(const std::string& dir, const char* name, const rs::Script& script, int32_t level) {
  const Replay replay = replay_run_script(script.frames, level);
  std::string error;
  if (!files_write_replay(dir + "/" + name, replay, error)) {
    std::fprintf(stderr, "q47_make_golden_replays: %s\n", error.c_str());
    return false;
  }
  const int32_t edge = GAME.edge_reached;
  const int32_t last_level = GAME.level_number;
  const ReplayOutcome outcome = replay_run_headless(replay, 0);
  std::printf("%s: %lld of %zu frames, levels %d, score %d, level %d, edge %d, %zu bytes\n", name,
              static_cast<long long>(replay.frame_count), script.frames.size(),
              outcome.levels_completed, outcome.score, last_level, edge,
              replay_encode(replay).size());
  if (!outcome.matches) {
    std::fprintf(stderr, "q47_make_golden_replays: %s does not replay to its own checksum\n", name);
    return false;
  }
  return true;
}

// Frames from Enter to the end of the tally: a barrier a frame, and never fewer than the
// least the tally lasts. The next level or story opens in the last of them.
int tally_frames_for(const LevelReport& report) {
  return std::max(report.plan_score, BARRIERS_TALLY_MIN_FRAMES);
}

// The whole game from the intro: every level played with its plan from the frame after it
// loads, Enter, the tally, the story after it where there is one, to the final screen, whose
// last line ends the run. loads gets the index of the frame each level loads in.
rs::Script complete_run(const std::vector<LevelReport>& reports, std::vector<size_t>& loads) {
  rs::Script run;
  rs::through_story(run, LEVEL_ENTRY_INTRO);
  for (const LevelReport& report : reports) {
    loads.push_back(run.frames.size() - 1);
    run.append(level_check_plan_frames(session_stream(), report)).idle(tally_frames_for(report));
    const long block = level_block_offset(session_stream(), report.level);
    if (block >= 0) rs::through_story(run.idle(1), static_cast<size_t>(block));
  }
  return run.idle(FINAL_FRAMES);
}

// Whether the first count frames of script leave level playing.
bool playing_after(const rs::Script& script, size_t count, int32_t level) {
  const std::vector<InputFrame> head(script.frames.begin(),
                                     script.frames.begin() + static_cast<long>(count));
  replay_run_script(head, 0);
  return GAME.level_number == level && GAME.game_state == STATE_PLAYING;
}

// A plan a frame late or early may still win, so the shift of each plan is checked on its own:
// the level must load in the frame before the plan's first frame, not earlier.
bool plans_start_where_levels_load(const rs::Script& run, const std::vector<size_t>& loads) {
  for (size_t i = 0; i < loads.size(); ++i) {
    const int32_t level = static_cast<int32_t>(i) + 1;
    if (!playing_after(run, loads[i] + 1, level) || playing_after(run, loads[i], level)) {
      std::fprintf(stderr, "q47_make_golden_replays: level %d does not load in frame %zu\n", level,
                   loads[i]);
      return false;
    }
  }
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

  session_use_builtin_levels();
  std::vector<LevelReport> reports;
  for (int32_t level = 1; level <= level_count(session_stream()); ++level) {
    reports.push_back(level_check(session_stream(), level));
    if (!reports.back().winnable) {
      std::fprintf(stderr, "q47_make_golden_replays: the checker finds no win on level %d\n",
                   level);
      return 1;
    }
  }

  std::vector<size_t> loads;
  const rs::Script run = complete_run(reports, loads);
  if (!plans_start_where_levels_load(run, loads)) return 1;
  ok = write(dir, "complete.q47r", run, 0) && ok;

  // Each level from --level N: won with its plan, and lost with nobody acting.
  for (const LevelReport& report : reports) {
    char name[32];
    rs::Script win;
    win.append(level_check_plan_frames(session_stream(), report)).idle(tally_frames_for(report));
    win.idle(WIN_FRAMES_AFTER_TALLY).escape();
    std::snprintf(name, sizeof name, "level%02d-win.q47r", report.level);
    ok = write(dir, name, win, report.level) && ok;

    rs::Script lose;
    lose.idle(report.edge_frame + LOSE_FRAMES_AFTER_EDGE).escape();
    std::snprintf(name, sizeof name, "level%02d-lose.q47r", report.level);
    ok = write(dir, name, lose, report.level) && ok;
  }

  // From the intro: level 1 walled in with four barriers, won, the story after it, Escape.
  rs::Script win;
  rs::through_intro(win).idle(180);
  rs::contain_level_1(win).idle(10).tap(INPUT_RELEASED_RETURN, 80).tap(INPUT_RELEASED_SPACE, 10);
  win.escape();
  ok = write(dir, "intro-level1-win.q47r", win, 0) && ok;

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
