// The level checker: for each level of the stream being read, how soon the chemical reaches an
// edge, the smallest enclosure, the best score the rules allow, and a plan that wins, proven by
// running it through the real rules (load_level, spread_step, barriers_apply_buttons and
// check_containment, spread first and buttons second in every frame, as the loop does).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/input_frame.h"
#include "core/level_stream.h"

constexpr int32_t CHECK_FRAMES_PER_ACTION = 3;       // a player's steady pace
constexpr int32_t CHECK_FRAMES_PER_ACTION_FAST = 2;  // a fast drag, tried when 3 finds nothing
constexpr int32_t CHECK_FRAMES_PER_ACTION_DRAG = 1;  // a barrier every frame, as a drag places
                                                     // them: the last try before "no plan"

// One action of a plan: in frame, after that frame's spread, a button at cell (x, y).
struct CheckAction {
  int32_t frame;  // 1 = the first frame after the level loads
  bool take;      // right button (pick a wall up); false = left button (place a barrier)
  int32_t x;
  int32_t y;
};

// What the checker found for one level. -1 stands for "none" in every number.
struct LevelReport {
  int32_t level = 0;
  int32_t edge_frame = -1;         // frame the chemical reaches an edge if nobody acts (however
                                   // late: quiet stretches of the spread are skipped, not run)
  int32_t enclosure_cells = -1;    // fewest wall cells that wall the chemical in
  int32_t best_score_bound = -1;   // barriers + walls of the map - enclosure_cells
  bool winnable = false;           // a verified plan was found (none found is no proof that
                                   // none exists)
  int32_t plan_score = -1;         // barriers in hand when the plan has walled it in
  int32_t frames_per_action = -1;  // the plan's pace: 3, or 2 or 1 for a fast drag
  std::vector<CheckAction> plan;   // the verified plan, in frame order
};

// Checks level n of stream. Works on rules of its own: a game in progress is left as it is.
LevelReport level_check(const LevelStream& stream, int32_t level);
// Runs plan on level n of stream through the real rules from a fresh load. Returns the barriers
// in hand at the end when every action took effect and the chemical is walled in, else -1.
int32_t level_check_run_plan(const LevelStream& stream, int32_t level,
                             const std::vector<CheckAction>& plan);
// The input that plays report's plan from the first frame after its level loads: the pointer
// over each action's cell with its button held for that frame, then Enter in the frame after the
// last action. The tally's frames are left to the caller.
std::vector<InputFrame> level_check_plan_frames(const LevelStream& stream,
                                                const LevelReport& report);
// The reports as a table, one row per level, for people; the plans themselves are only in the
// JSON, since one runs to thousands of characters.
std::string level_check_table(const std::vector<LevelReport>& reports);
// The table's heading line, and one level's row, for a table printed as it is found.
std::string level_check_table_header();
std::string level_check_table_row(const LevelReport& report);
// The reports as one JSON array of objects, for programs.
std::string level_check_json(const std::vector<LevelReport>& reports);
// One report as the JSON object the array holds.
std::string level_check_json_object(const LevelReport& report);
