// The level checker on small levels whose answers are known by hand, on every built-in level, and
// on our own pack in levels/: each claimed plan must win through the real rules. Its verdicts on
// a hundred generated levels are recorded, and must not change with how the check is split.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "core/level_check.h"
#include "core/level_pack.h"
#include "core/level_stream.h"
#include "core/replay_codec.h"
#include "core/spread.h"
#include "desktop/files.h"
#include "tests/support/game_state.h"
#include "tests/support/generated_level.h"

namespace {

// Installs a one-level pack built from a map; returns its check.
LevelReport check_map(const std::vector<std::string>& rows, int32_t barriers, int32_t rate = 16,
                      int32_t threshold = 1024) {
  LevelPack pack;
  pack.intro = {{"GO", 0xFFFFFF}};
  PackLevel level;
  level.width = static_cast<int32_t>(rows[0].size());
  level.height = static_cast<int32_t>(rows.size());
  level.barriers = barriers;
  level.rate = rate;
  level.threshold = threshold;
  level.rows = rows;
  pack.levels.push_back(level);
  pack.final_block = {{"~", 0}};
  session_use_stream(level_pack_compile(pack));
  return level_check(session_stream(), 1);
}

// The plan's own claims hold: paced, and the rules give it the score it claims.
void expect_sound_plan(const LevelReport& report) {
  ASSERT_TRUE(report.winnable);
  ASSERT_FALSE(report.plan.empty());
  for (size_t i = 1; i < report.plan.size(); ++i) {
    EXPECT_GE(report.plan[i].frame - report.plan[i - 1].frame, report.frames_per_action);
  }
  EXPECT_LE(report.plan_score, report.best_score_bound);
  EXPECT_EQ(level_check_run_plan(session_stream(), report.level, report.plan), report.plan_score);
}

const std::vector<std::string> OPEN_ROOM = {
    "..........", "..........", "..........", "..........", "....I.....",
    "..........", "..........", "..........", "..........", "W........W",
};

// What a report says, its plan as a hash.
std::string verdict_line(const LevelReport& report) {
  std::string plan;
  for (const CheckAction& action : report.plan) {
    plan += std::to_string(action.frame) + (action.take ? "t" : "p") + std::to_string(action.x) +
            "," + std::to_string(action.y) + " ";
  }
  return "edge " + std::to_string(report.edge_frame) + " cut " +
         std::to_string(report.enclosure_cells) + " bound " +
         std::to_string(report.best_score_bound) + " score " + std::to_string(report.plan_score) +
         " pace " + std::to_string(report.frames_per_action) + " plan " +
         replay_hex(replay_hash(plan.data(), plan.size()));
}

}  // namespace

class LevelCheck : public ::testing::Test {
 protected:
  void TearDown() override { session_use_builtin_levels(); }
};

TEST_F(LevelCheck, ASingleLeakInAnOpenRoomIsRingedByItsFourNeighbours) {
  const LevelReport report = check_map(OPEN_ROOM, 5);
  EXPECT_EQ(report.enclosure_cells, 4);
  EXPECT_EQ(report.best_score_bound, 5 + 2 - 4);  // both walls picked up
  EXPECT_EQ(report.frames_per_action, 3);
  EXPECT_EQ(report.plan_score, report.best_score_bound);
  // The leak at (4, 4) is 4 cells from the nearest edge; each step takes 1024 / 16 + 1 frames.
  EXPECT_GT(report.edge_frame, 4 * 64);
  EXPECT_LT(report.edge_frame, 4 * 66 + 2);
  expect_sound_plan(report);
  // The first four actions ring the leak.
  for (size_t i = 0; i < 4; ++i) {
    EXPECT_FALSE(report.plan[i].take);
    EXPECT_EQ(std::abs(report.plan[i].x - 4) + std::abs(report.plan[i].y - 4), 1);
  }
}

TEST_F(LevelCheck, ALeakAlreadyWalledInNeedsOnlyAButtonToBeSeen) {
  // The rules look at the walls only when a button changes one, so even a walled-in leak needs
  // an action: here picking up the spare wall in the corner.
  const std::vector<std::string> walled = {"......", "..W...", ".WIW..",
                                           "..W...", "......", "W....."};
  const LevelReport report = check_map(walled, 2);
  EXPECT_EQ(report.edge_frame, -1);
  EXPECT_EQ(report.enclosure_cells, 4);
  EXPECT_EQ(report.best_score_bound, 2 + 5 - 4);
  expect_sound_plan(report);
  EXPECT_EQ(report.plan_score, 3);
  ASSERT_EQ(report.plan.size(), 1u);
  EXPECT_TRUE(report.plan[0].take);

  // Without a spare wall: a barrier placed and picked up again.
  std::vector<std::string> bare = walled;
  bare[5] = "......";
  const LevelReport placed = check_map(bare, 2);
  expect_sound_plan(placed);
  EXPECT_EQ(placed.plan_score, 2);
  ASSERT_EQ(placed.plan.size(), 2u);
  EXPECT_FALSE(placed.plan[0].take);
  EXPECT_TRUE(placed.plan[1].take);
}

// The checker skips the quiet stretches of a slow leak; the edge frame it gives must be the one
// the rules reach frame by frame, also past the 100,000 frames it once stopped at, with circles
// changing the rate and the threshold on the way.
TEST_F(LevelCheck, TheEdgeFrameIsTheRulesOwnHoweverLateItComes) {
  const std::vector<std::vector<std::string>> maps = {
      {"........", "........", "........", "...I....", "........", "........", "........",
       "........"},
      {"........", ".....T..", "..N.....", "...I..D.", "..DD.N..", "........", "..T.....",
       "........"}};
  for (const auto& map : maps) {
    for (const auto& [rate, threshold] :
         {std::pair{1, 34000}, std::pair{3, 900}, std::pair{700, 30000}}) {
      const LevelReport report = check_map(map, 4, rate, threshold);
      session_clear();
      load_level(GAME, 1);
      int32_t frame = 0;
      while (!GAME.edge_reached && frame < 400000) {
        spread_step(GAME);
        ++frame;
      }
      EXPECT_EQ(report.edge_frame, frame) << "rate " << rate << ", threshold " << threshold;
    }
  }
  EXPECT_GT(check_map(maps[0], 4, 1, 34000).edge_frame, 100000);
}

// A leak that only a barrier every frame can wall in, as a drag places them.
TEST_F(LevelCheck, APlanAtADragsPaceIsFoundBeforeSayingNoPlan) {
  const LevelReport report = check_map({"DDD...D.", "........", ".DD.....", "...DD..D", "...ID..D",
                                        "..D....D", ".....DD.", "...D...."},
                                       4, 1100, 1024);
  EXPECT_TRUE(report.winnable);
  EXPECT_EQ(report.frames_per_action, CHECK_FRAMES_PER_ACTION_DRAG);
  expect_sound_plan(report);
}

TEST_F(LevelCheck, ALeakTooFastToCatchCanBeWalledInButNotInTime) {
  // A full cell after one frame, passed on at once: the ring is lost before two actions.
  const LevelReport report = check_map(OPEN_ROOM, 5, 65535, 0);
  EXPECT_EQ(report.enclosure_cells, 4);
  EXPECT_FALSE(report.winnable);
  EXPECT_TRUE(report.plan.empty());
  EXPECT_EQ(report.plan_score, -1);
  EXPECT_LT(report.edge_frame, 10);
}

TEST_F(LevelCheck, WithNoBarriersWallsArePickedUpFirst) {
  const LevelReport report = check_map(OPEN_ROOM, 0);
  EXPECT_EQ(report.enclosure_cells, -1);  // two walls are not enough for four cells
  EXPECT_FALSE(report.winnable);

  std::vector<std::string> rows = OPEN_ROOM;
  rows[0] = "WWWWW.....";
  const LevelReport taken = check_map(rows, 0);
  EXPECT_EQ(taken.best_score_bound, 7 - 4);
  expect_sound_plan(taken);
  EXPECT_TRUE(taken.plan[0].take);
  EXPECT_EQ(taken.plan_score, 3);
}

TEST_F(LevelCheck, ALeakOnTheEdgeCanNeverBeWalledIn) {
  const LevelReport report = check_map({"I....", ".....", ".....", ".....", "....."}, 10);
  EXPECT_EQ(report.enclosure_cells, -1);
  EXPECT_EQ(report.best_score_bound, -1);
  EXPECT_FALSE(report.winnable);
  EXPECT_NE(level_check_json({report}).find("\"enclosure_cells\": null"), std::string::npos);
  // No enclosure at all is a proof: the exact search says so at once, with no run.
  const LevelReport exact = level_check_exact(session_stream(), 1);
  EXPECT_TRUE(exact.best_proven);
  EXPECT_EQ(exact.best_score, -1);
  EXPECT_TRUE(exact.best_run.empty());
}

TEST_F(LevelCheck, EveryBuiltInLevelHasAWinningPlan) {
  // The scores the checker's plans reach; a lower one means the planner got worse.
  const int32_t scores[LEVEL_BUILTIN_COUNT] = {93, 240, 165, 149, 122, 126, 175, 73, 206, 142};
  for (int32_t level = 1; level <= LEVEL_BUILTIN_COUNT; ++level) {
    const LevelReport report = level_check(session_stream(), level);
    SCOPED_TRACE("level " + std::to_string(level));
    expect_sound_plan(report);
    EXPECT_EQ(report.frames_per_action, CHECK_FRAMES_PER_ACTION);
    EXPECT_GE(report.plan_score, scores[level - 1]);
  }
}

TEST_F(LevelCheck, EveryBuiltInLevelHasAProvenBest) {
  // The best scores the rules allow, proven: the bound is met by a run the rules verify. A change
  // of the rules or the bound that moves one fails here, and the kept best runs
  // (tests/replays/levelNN-best.q47r) must then be made again.
  const int32_t bests[LEVEL_BUILTIN_COUNT] = {93, 240, 169, 154, 122, 126, 175, 73, 206, 142};
  for (int32_t level = 1; level <= LEVEL_BUILTIN_COUNT; ++level) {
    SCOPED_TRACE("level " + std::to_string(level));
    const LevelReport report = level_check_exact(session_stream(), level);
    EXPECT_TRUE(report.best_proven);
    EXPECT_EQ(report.best_score, bests[level - 1]);
    EXPECT_EQ(report.best_score_bound, bests[level - 1]);
    EXPECT_EQ(level_check_run_plan(session_stream(), level, report.best_run), report.best_score);
    EXPECT_LE(report.plan_score, report.best_score);  // the checker's own plan is left as it was
  }
}

TEST_F(LevelCheck, AnExactSearchStoppedEarlyReportsItsBestRunAndTheBoundUnproven) {
  // A 40 x 40 level of the series where a fast spread races the walls: the search ends with its
  // best run below the bound, and says so.
  std::mt19937 rng(47);
  LevelStream stream;
  LevelReport whole;
  for (int n = 0; n < 10 && !(whole.winnable && !whole.best_proven); ++n) {
    LevelPack pack;
    pack.intro = {{"GO", 0xFFFFFF}};
    pack.levels = {generated_level(rng, 40)};
    pack.final_block = {{"~", 0}};
    stream = level_pack_compile(pack);
    whole = level_check_exact(stream, 1);
  }
  ASSERT_TRUE(whole.winnable && !whole.best_proven);
  EXPECT_LT(whole.best_score, whole.best_score_bound);
  EXPECT_EQ(level_check_run_plan(stream, 1, whole.best_run), whole.best_score);
  // Stopped before the bound is known, the search goes on: the bound needs those stages.
  LevelCheckJob job;
  level_check_begin(job, stream, 1, true);
  level_check_stop(job);
  while (!level_check_step(job)) {
  }
  EXPECT_EQ(job.report.best_score, whole.best_score);
  // Stopped as soon as the search has begun: the run found so far, verified, and the same bound.
  level_check_begin(job, stream, 1, true);
  while (job.report.best_score_bound < 0) ASSERT_FALSE(level_check_step(job, 1));
  level_check_stop(job);
  while (!level_check_step(job)) {
  }
  EXPECT_EQ(job.report.best_score_bound, whole.best_score_bound);
  EXPECT_FALSE(job.report.best_proven);
  EXPECT_LE(job.report.best_score, whole.best_score);
  EXPECT_EQ(level_check_run_plan(stream, 1, job.report.best_run), job.report.best_score);
  // A budget of work does the same wherever it runs out, and never takes the bound away.
  const LevelReport budgeted = level_check_exact(stream, 1, CHECK_STEP_WORK);
  EXPECT_EQ(budgeted.best_score_bound, whole.best_score_bound);
  EXPECT_FALSE(budgeted.best_proven);
  EXPECT_EQ(level_check_json_object(budgeted, true),
            level_check_json_object(level_check_exact(stream, 1, CHECK_STEP_WORK), true));
}

TEST_F(LevelCheck, OurOwnPackIsWinnableThroughout) {
  LevelPack pack;
  std::string error;
  ASSERT_TRUE(
      files_read_pack(std::string(Q47_SOURCE_DIR) + "/levels/first-shift.q47l", pack, error))
      << error;
  ASSERT_GE(pack.levels.size(), 5u);
  session_use_stream(level_pack_compile(pack));
  for (int32_t level = 1; level <= level_count(session_stream()); ++level) {
    SCOPED_TRACE("level " + std::to_string(level));
    if (level < level_count(session_stream())) {
      EXPECT_FALSE(pack.levels[level - 1].story_after.empty());
    }
    expect_sound_plan(level_check(session_stream(), level));
  }
}

TEST_F(LevelCheck, ACheckInPiecesIsTheWholeCheckEvenWithItsJobCopiedMidway) {
  // An open 80 x 80 room: the run with nobody acting alone takes several pieces.
  std::vector<std::string> rows(80, std::string(80, '.'));
  rows[40][40] = 'I';
  const LevelReport whole = check_map(rows, 20);
  LevelCheckJob job;
  level_check_begin(job, session_stream(), 1);
  int32_t pieces = 3;
  for (int32_t n = 0; n < pieces; ++n) ASSERT_FALSE(level_check_step(job));
  LevelCheckJob copy = job;
  ASSERT_GT(copy.idle_rules.grid.size(), 1u);         // in the middle of the idle run
  level_check_begin(job, level_stream_builtin(), 1);  // the original goes on to other levels
  while (!level_check_step(copy)) ++pieces;
  EXPECT_GT(pieces, 6);
  EXPECT_EQ(level_check_json_object(copy.report), level_check_json_object(whole));
  EXPECT_TRUE(level_check_step(copy));  // and stays done
}

// The verdicts were recorded from the checker as it was before its work was split into small
// parts; a check in pieces of any size, down to a single part (a frame of the rules, one search
// of a cut's network), must give them again.
TEST_F(LevelCheck, VerdictsOnGeneratedLevelsAreTheRecordedOnesInPiecesOfAnySize) {
  std::ifstream in(std::string(Q47_SOURCE_DIR) + "/tests/data/checker_verdicts.txt");
  std::vector<std::string> recorded;
  for (std::string line; std::getline(in, line);) {
    if (line.rfind('#', 0) != 0) recorded.push_back(line);
  }
  ASSERT_EQ(recorded.size(), 100u);
  std::mt19937 rng(47);
  int32_t winnable = 0;
  for (size_t n = 0; n < recorded.size(); ++n) {
    LevelPack pack;
    pack.intro = {{"GO", 0xFFFFFF}};
    pack.levels = {generated_level(rng)};
    pack.final_block = {{"~", 0}};
    LevelCheckJob job;
    level_check_begin(job, level_pack_compile(pack), 1);
    const int64_t work = n % 4 == 0 ? 1 : static_cast<int64_t>(n * n * 997 % CHECK_STEP_WORK);
    while (!level_check_step(job, work)) {
    }
    EXPECT_EQ(verdict_line(job.report), recorded[n]) << "level " << n;
    winnable += job.report.winnable;
  }
  EXPECT_GT(winnable, 40);  // the series holds both kinds
  EXPECT_LT(winnable, 80);
}

TEST_F(LevelCheck, APlanThatMissesItsCellOrLeavesAGapDoesNotWin) {
  const LevelReport report = check_map(OPEN_ROOM, 5);
  ASSERT_TRUE(report.winnable);
  std::vector<CheckAction> plan(report.plan.begin(), report.plan.begin() + 3);
  EXPECT_EQ(level_check_run_plan(session_stream(), 1, plan), -1);  // three of the four cells
  plan = report.plan;
  for (CheckAction& action : plan) action.frame += 300;  // after the chemical has passed
  EXPECT_EQ(level_check_run_plan(session_stream(), 1, plan), -1);
  plan = report.plan;
  plan[1].frame = plan[0].frame;  // two actions in one frame
  EXPECT_EQ(level_check_run_plan(session_stream(), 1, plan), -1);
  plan = report.plan;
  plan[0].x = 10;  // off the grid
  EXPECT_EQ(level_check_run_plan(session_stream(), 1, plan), -1);
}

TEST_F(LevelCheck, JsonHasOneObjectPerLevelWithItsPlan) {
  LevelReport report;
  report.level = 2;
  report.edge_frame = -1;
  report.winnable = true;
  report.enclosure_cells = 4;
  report.best_score_bound = 6;
  report.plan_score = 6;
  report.frames_per_action = 3;
  report.plan = {{1, false, 3, 4}, {4, true, 0, 9}};
  EXPECT_EQ(level_check_json({report}),
            "[\n {\"level\": 2, \"edge_frame\": null, \"winnable\": true, \"enclosure_cells\": 4, "
            "\"best_score_bound\": 6, \"plan_score\": 6, \"frames_per_action\": 3, \"plan\": "
            "[[1, \"place\", 3, 4], [4, \"take\", 0, 9]]}\n]\n");
  EXPECT_EQ(level_check_json({}), "[]\n");
  report.best_score = 6;
  report.best_proven = true;
  report.best_run = {{1, false, 3, 4}};
  EXPECT_EQ(level_check_json_object(report, true),
            "{\"level\": 2, \"edge_frame\": null, \"winnable\": true, \"enclosure_cells\": 4, "
            "\"best_score_bound\": 6, \"plan_score\": 6, \"frames_per_action\": 3, \"plan\": "
            "[[1, \"place\", 3, 4], [4, \"take\", 0, 9]], \"best_score\": 6, \"best_proven\": "
            "true, \"best_run\": [[1, \"place\", 3, 4]]}");
  EXPECT_EQ(level_check_table_row(report, true),
            "    2       never          4           6       yes           6     3     6     yes\n");
  // The table keeps to what a terminal line shows, whatever the plan's length.
  report.plan.assign(2000, {1, false, 3, 4});
  const std::string table = level_check_table({report});
  EXPECT_EQ(table, level_check_table_header() +
                       "    2       never          4           6       yes           6     3\n");
  EXPECT_LE(table.find('\n'), 80u);
}
