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
#include "core/rules.h"

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
  // Filled by the exact search alone (level_check_exact); -1 and false otherwise.
  int32_t best_score = -1;            // the best verified run found, at any pace the rules allow
  bool best_proven = false;           // best_score is the best any play can reach: it meets the
                                      // bound, or the level is shown unwinnable (best_score -1)
  std::vector<CheckAction> best_run;  // the run that reaches best_score, in frame order
};

// The level as loaded, before any frame: what the planner reasons about.
struct CheckPicture {
  int32_t width = 0;
  int32_t height = 0;
  int32_t barriers = 0;
  std::vector<int32_t> flags;  // CELL_* of each cell, x-major like the grid
  int32_t index(int32_t x, int32_t y) const { return x * height + y; }
  bool on_edge(int32_t i) const {
    const int32_t x = i / height, y = i % height;
    return x == 0 || y == 0 || x == width - 1 || y == height - 1;
  }
};

// One edge of a cut's flow network.
struct CheckEdge {
  int32_t to;
  int32_t capacity;
  int32_t next;  // next edge out of the same node, or -1
};

// A minimum vertex cut between the chemical and the edge, worked out a part at a time: a flow
// network where each cell is an "in" and an "out" node joined by its capacity, and the flow it
// carries so far (Dinic's algorithm).
struct CheckCut {
  std::vector<CheckEdge> edges;
  std::vector<int32_t> first;      // first edge out of each node
  std::vector<int32_t> depth;      // breadth-first depth from the source in this phase
  std::vector<int32_t> next_edge;  // edge each node resumes its search at
  std::vector<int32_t> path;       // scratch of one augmenting path
  std::vector<int32_t> cell_edge;  // each cell's edge from its "in" to its "out" node
  int64_t flow = 0;                // carried so far
  bool phase = false;              // depths are known and paths are being pushed along them
};

// A run of a plan's first actions through the real rules, a stretch of frames at a time.
struct CheckRun {
  Rules rules;                   // the run's own rules
  size_t count = 0;              // actions it runs
  size_t next = 0;               // the next one
  int32_t frame = 0;             // frames run so far
  int32_t score = -1;            // barriers in hand at the end if walled in, else -1
  int32_t failed_action = -1;    // index of the first action without effect, or -1
  std::vector<int32_t> arrival;  // frame each cell turned chemical in this run
};

// A plan built for one cut.
struct CheckDraft {
  std::vector<CheckAction> plan;
  size_t enclosing_actions = 0;  // actions up to the one that completes the enclosure
  int32_t missed_cell = -1;      // a cell the schedule reached too late, or -1
  int32_t score = -1;            // barriers in hand at the end
};

// Work one step of a check does (cells and edges looked at), give or take one part that cannot
// be split: a frame of the rules, one search of a cut's network. About 3 ms here on an 80 x 80
// level.
constexpr int64_t CHECK_STEP_WORK = 1 << 20;

// A check made a piece at a time, so that an editor can spread one over frames: start it with
// level_check_begin, call level_check_step until it returns true, and report is then what
// level_check gives. A record of its own: it can be copied, dropped or started afresh at will.
struct LevelCheckJob {
  LevelStream stream;                 // the levels, the job's own copy
  bool exact = false;                 // the exact search: one action a frame tried first, every
                                      // front position, every pace, until the bound is met
  int32_t level = 0;                  // the level checked
  LevelReport report;                 // the verdict, whole once level_check_step returns true
  int32_t stage = 0;                  // what the job is doing
  int32_t part = 0;                   // how far the stage's current cut or run has got
  CheckPicture picture;               // the level as loaded
  Rules idle_rules;                   // the run with nobody acting, while it is followed
  int64_t idle_frame = 0;             // the frame it is at
  std::vector<int32_t> idle_arrival;  // frame each cell turns chemical if nobody acts
  std::vector<int32_t> radii;         // front positions the search cuts behind
  size_t pace = 0;                    // index of the pace being tried (3, 2, then 1 frame)
  size_t radius = 0;                  // index into radii of the cut being tried
  bool near_edge = false;             // the cut lies nearest the edge, else nearest the chemical
  int32_t attempt = 0;                // repairs of this cut so far
  std::vector<int32_t> arrival;       // arrival times of this front position, as runs taught
  std::vector<char> forced;           // cells the cut must keep inside
  CheckCut cut;                       // the cut being worked out
  CheckCut front_cut;                 // the first cut of this front position, found on the
                                      // chemical's side and taken again on the edge's
  CheckDraft draft;                   // the plan built for it
  CheckRun run;                       // the plan's run through the rules
};

// Checks level n of stream. Works on rules of its own: a game in progress is left as it is.
LevelReport level_check(const LevelStream& stream, int32_t level);
// The exact search on level n of stream: level_check's first five numbers, and in best_score,
// best_proven and best_run the best run it found with the proof when there is one. The search
// goes on until the run meets the bound or every cut has been tried, or (work_limit > 0) it has
// done about that much work: a budget counted in work, not time, gives the same answer on every
// machine.
LevelReport level_check_exact(const LevelStream& stream, int32_t level, int64_t work_limit = 0);
// Copies an exact job's best_score, best_proven and best_run into report, the check's own; the
// check's plan stands as the best run when it scores more (a search stopped early).
void level_check_take_best(LevelReport& report, LevelReport exact);
// Starts job on level n of stream; exact starts the exact search instead of the check.
void level_check_begin(LevelCheckJob& job, LevelStream stream, int32_t level, bool exact = false);
// Ends the search of an exact job early (its time ran out): the run found so far is verified
// and reported with the bound, unproven unless they meet. Nothing changes in an earlier stage,
// which the bound needs, or a later one.
void level_check_stop(LevelCheckJob& job);
// Does the job's next piece, about work (at least 1) of loading the level, following the run with
// nobody acting, finding the smallest enclosure, trying cuts (a flow, a schedule and a run of the
// rules each) and running the plan found once more. Every part resumes where the last piece left
// it, so the report does not depend on the size of the pieces. True once the report is whole (and
// on every call after).
bool level_check_step(LevelCheckJob& job, int64_t work = CHECK_STEP_WORK);
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
// JSON, since one runs to thousands of characters. With exact, "best" and "proven" columns end
// each row.
std::string level_check_table(const std::vector<LevelReport>& reports, bool exact = false);
// The table's heading line, and one level's row, for a table printed as it is found.
std::string level_check_table_header(bool exact = false);
std::string level_check_table_row(const LevelReport& report, bool exact = false);
// The reports as one JSON array of objects, for programs; with exact, each object also holds
// best_score, best_proven and best_run.
std::string level_check_json(const std::vector<LevelReport>& reports, bool exact = false);
// One report as the JSON object the array holds.
std::string level_check_json_object(const LevelReport& report, bool exact = false);
