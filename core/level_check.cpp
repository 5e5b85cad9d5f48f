// The level checker. The planner works on a picture of the level (when each cell is reached if
// nobody acts, and minimum vertex cuts between the chemical and the edge); every plan it offers
// is then run through the real rules, which alone decide whether it wins.
#include "core/level_check.h"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <iterator>

#include "core/barriers.h"
#include "core/level_stream.h"
#include "core/rules.h"
#include "core/spread.h"

namespace {

constexpr int32_t CHECK_NEVER = INT32_MAX;       // arrival of a cell the chemical never enters
constexpr int32_t CHECK_INFINITE = 1 << 24;      // capacity of a cell no enclosure can use
constexpr int32_t CHECK_RADII = 24;              // front positions the planner tries cuts at
constexpr int32_t CHECK_REFINEMENTS = 6;         // repairs of one cut after a missed cell
constexpr int32_t CHECK_EXACT_REFINEMENTS = 24;  // the same in the exact search

// The state at program start, without sound, with the level loaded: a record of the checker's
// own, so a game in progress is left alone.
Rules fresh_load(const LevelStream& stream, int32_t level) {
  Rules rules;
  rules_start(rules, &stream, nullptr);
  load_level(rules, level);
  return rules;
}

CheckPicture snapshot(const LevelStream& stream, int32_t level) {
  const Rules rules = fresh_load(stream, level);
  CheckPicture picture{rules.grid_width, rules.grid_height, rules.barriers_left, {}};
  picture.flags.reserve(rules.grid.size());
  for (const Cell& cell : rules.grid) picture.flags.push_back(cell.flags);
  return picture;
}

// Notes the frame each cell turns chemical in, the first time it does.
void note_arrivals(const Rules& rules, std::vector<int32_t>& arrival, int32_t frame) {
  for (size_t i = 0; i < rules.grid.size(); ++i) {
    if ((rules.grid[i].flags & CELL_CHEMICAL) && arrival[i] == CHECK_NEVER) arrival[i] = frame;
  }
}

// How many frames from now at least pass before any open cell can turn chemical: the fewest a
// chemical cell on the front needs to hold more than the threshold (a cell grows by the rate
// each frame, and its neighbour may look before or after it grows). 0 when no cell can turn
// chemical any more: no chemical cell borders an open one, or none can pass the threshold.
int64_t frames_to_next_spread(const Rules& rules) {
  if (rules.spread_rate <= 0 || rules.spread_threshold >= 65535) return 0;
  int64_t fewest = 0;
  for (int32_t x = 0; x < rules.grid_width; ++x) {
    for (int32_t y = 0; y < rules.grid_height; ++y) {
      const Cell& cell = rules.at(x, y);
      if (!(cell.flags & CELL_CHEMICAL)) continue;
      const int32_t near[4][2] = {{x - 1, y}, {x + 1, y}, {x, y - 1}, {x, y + 1}};
      bool front = false;
      for (const auto& n : near) {
        if (n[0] < 0 || n[1] < 0 || n[0] >= rules.grid_width || n[1] >= rules.grid_height) continue;
        front = front || !(rules.at(n[0], n[1]).flags & (CELL_CHEMICAL | CELL_WALL));
      }
      if (!front) continue;
      const int64_t short_by = int64_t{rules.spread_threshold} - cell.concentration;
      const int64_t frames = short_by < 0 ? 1 : short_by / rules.spread_rate + 1;
      if (fewest == 0 || frames < fewest) fewest = frames;
    }
  }
  return fewest;
}

// Moves the idle spread on by frames in which nothing turns chemical: every chemical cell grows
// and nothing else the verdict looks at changes.
void skip_quiet_frames(Rules& rules, int64_t frames) {
  for (Cell& cell : rules.grid) {
    if (!(cell.flags & CELL_CHEMICAL)) continue;
    const int64_t grown = cell.concentration + frames * rules.spread_rate;
    cell.concentration = static_cast<int32_t>(std::min<int64_t>(grown, 65535));
  }
}

// The run with nobody acting, a stretch at a time: the frame each cell is reached, and the edge
// frame. Quiet stretches are skipped, so a slow leak is followed to its end however late that
// is. True when the run is over.
bool idle_part(LevelCheckJob& job, int64_t& work) {
  Rules& rules = job.idle_rules;
  rules.stream = &job.stream;  // the job may have been copied since the rules were loaded
  const auto cells = static_cast<int64_t>(rules.grid.size());
  for (;; ++job.idle_frame) {
    if (job.idle_frame >= CHECK_NEVER) return true;
    if (work <= 0) return false;
    work -= 4 * cells;  // the front, the skip, the spread and the arrivals
    const int64_t next = frames_to_next_spread(rules);
    if (next == 0) return true;  // nothing more will ever turn chemical
    if (next > 1) {
      skip_quiet_frames(rules, next - 1);
      job.idle_frame += next - 1;
      if (job.idle_frame >= CHECK_NEVER) return true;
    }
    spread_step(rules);
    barriers_apply_buttons(rules, 0, 0);
    note_arrivals(rules, job.idle_arrival, static_cast<int32_t>(job.idle_frame));
    if (rules.edge_reached && job.report.edge_frame < 0) {
      job.report.edge_frame = static_cast<int32_t>(job.idle_frame);
    }
  }
}

// Starts run on the first count actions of plan, from a fresh load.
void run_begin(CheckRun& run, const LevelStream& stream, int32_t level, size_t count,
               int64_t& work) {
  run.rules = fresh_load(stream, level);
  run.count = count;
  run.next = 0;
  run.frame = 0;
  run.score = -1;
  run.failed_action = -1;
  run.arrival.assign(run.rules.grid.size(), CHECK_NEVER);
  note_arrivals(run.rules, run.arrival, 0);
  work -= 2 * static_cast<int64_t>(run.rules.grid.size());
}

// Runs frames of plan while work lasts, each action checked for its effect. True when the run is
// over: every frame up to the last action's run, or an action without effect met.
bool run_part(CheckRun& run, const LevelStream& stream, const std::vector<CheckAction>& plan,
              int64_t& work) {
  Rules& rules = run.rules;
  rules.stream = &stream;  // the job may have been copied since the rules were loaded
  if (run.failed_action >= 0) return true;
  const auto cells = static_cast<int64_t>(rules.grid.size());
  const int32_t last_frame = run.count > 0 ? plan[run.count - 1].frame : 0;
  while (run.frame < last_frame) {
    if (work <= 0) return false;
    const int32_t frame = ++run.frame;
    work -= 2 * cells;  // the spread and the arrivals
    spread_step(rules);
    note_arrivals(rules, run.arrival, frame);
    if (run.next < run.count && plan[run.next].frame == frame) {
      const CheckAction& action = plan[run.next];
      rules.cursor_x = action.x;
      rules.cursor_y = action.y;
      rules.cursor_on_board = 1;
      const int32_t before = rules.barriers_left;
      work -= cells;  // the containment check a changed wall brings
      barriers_apply_buttons(rules, action.take ? 0 : 1, action.take ? 1 : 0);
      if (rules.barriers_left != before + (action.take ? 1 : -1)) {
        run.failed_action = static_cast<int32_t>(run.next);
        return true;
      }
      ++run.next;
    } else {
      barriers_apply_buttons(rules, 0, 0);
    }
  }
  if (run.next == run.count && rules.contained == 1 && rules.edge_reached == 0) {
    run.score = rules.barriers_left;
  }
  return true;
}

// --- The smallest enclosure: a minimum vertex cut in a flow network, by Dinic's algorithm ---

void cut_edge(CheckCut& cut, int32_t from, int32_t to, int32_t capacity) {
  cut.edges.push_back({to, capacity, cut.first[from]});
  cut.first[from] = static_cast<int32_t>(cut.edges.size()) - 1;
  cut.edges.push_back({from, 0, cut.first[to]});
  cut.first[to] = static_cast<int32_t>(cut.edges.size()) - 1;
}

// The network's two end nodes: the source feeds the chemical, the edge cells drain to the sink.
int32_t cut_source(const CheckPicture& level) { return 2 * level.width * level.height; }
int32_t cut_sink(const CheckPicture& level) { return 2 * level.width * level.height + 1; }

// Builds the network separating the sources (and the chemical) from the edge, with no flow yet.
// The vectors keep their capacity from one cut to the next.
void cut_begin(CheckCut& cut, const CheckPicture& level, const std::vector<char>& source,
               int64_t& work) {
  const int32_t cells = level.width * level.height;
  const int32_t s = cut_source(level), t = cut_sink(level);
  cut.edges.clear();
  cut.first.assign(2 * cells + 2, -1);
  cut.depth.assign(2 * cells + 2, 0);
  cut.next_edge.assign(2 * cells + 2, 0);
  cut.cell_edge.resize(cells);
  cut.flow = 0;
  cut.phase = false;
  for (int32_t i = 0; i < cells; ++i) {
    const bool fixed = source[i] || (level.flags[i] & (CELL_CHEMICAL | CELL_NITRO | CELL_TETRA));
    cut.cell_edge[i] = static_cast<int32_t>(cut.edges.size());
    cut_edge(cut, 2 * i, 2 * i + 1, fixed ? CHECK_INFINITE : 1);
    if (source[i] || (level.flags[i] & CELL_CHEMICAL)) cut_edge(cut, s, 2 * i, CHECK_INFINITE);
    if (level.on_edge(i)) cut_edge(cut, 2 * i + 1, t, CHECK_INFINITE);
    const int32_t x = i / level.height, y = i % level.height;
    if (x + 1 < level.width) {
      cut_edge(cut, 2 * i + 1, 2 * level.index(x + 1, y), CHECK_INFINITE);
      cut_edge(cut, 2 * level.index(x + 1, y) + 1, 2 * i, CHECK_INFINITE);
    }
    if (y + 1 < level.height) {
      cut_edge(cut, 2 * i + 1, 2 * level.index(x, y + 1), CHECK_INFINITE);
      cut_edge(cut, 2 * level.index(x, y + 1) + 1, 2 * i, CHECK_INFINITE);
    }
  }
  work -= static_cast<int64_t>(cut.edges.size());
}

// Makes cell one of the sources of a cut whose flow is under way or found (source: the sources
// so far), keeping that flow: it is a flow of the wider network too, so the greatest flow only
// has to grow from there, and every greatest flow leaves the same cut (cut_cells).
void cut_add_source(CheckCut& cut, const CheckPicture& level, const std::vector<char>& source,
                    int32_t cell, int64_t& work) {
  const int32_t flags = level.flags[cell];
  if (source[cell] || (flags & CELL_CHEMICAL)) return;  // fed already, and without a limit
  if (!(flags & (CELL_NITRO | CELL_TETRA))) {
    cut.edges[cut.cell_edge[cell]].capacity += CHECK_INFINITE - 1;
  }
  cut_edge(cut, cut_source(level), 2 * cell, CHECK_INFINITE);
  cut.phase = false;  // the depths of the phase no longer hold
  --work;
}

// The depth of every node from the source through edges with capacity left; false when the sink
// is out of reach (the flow is the greatest).
bool cut_depths(CheckCut& cut, int32_t source, int32_t sink, int64_t& work) {
  std::fill(cut.depth.begin(), cut.depth.end(), -1);
  std::vector<int32_t>& queue = cut.path;  // free between paths: the search's queue
  queue.assign(1, source);
  cut.depth[source] = 0;
  for (size_t head = 0; head < queue.size(); ++head) {
    const int32_t node = queue[head];
    for (int32_t e = cut.first[node]; e >= 0; e = cut.edges[e].next) {
      --work;
      const int32_t to = cut.edges[e].to;
      if (cut.edges[e].capacity > 0 && cut.depth[to] < 0) {
        cut.depth[to] = cut.depth[node] + 1;
        queue.push_back(to);
      }
    }
  }
  work -= static_cast<int64_t>(cut.depth.size());
  return cut.depth[sink] >= 0;
}

// One augmenting path of the layered network, iteratively (paths can be thousands of nodes);
// the amount pushed, 0 when no path is left in this phase.
int32_t cut_push(CheckCut& cut, int32_t source, int32_t sink, int32_t limit, int64_t& work) {
  std::vector<int32_t>& path = cut.path;  // edges from the source
  path.clear();
  int32_t node = source;
  while (true) {
    --work;
    if (node == sink) {
      int32_t amount = limit;
      for (int32_t e : path) amount = std::min(amount, cut.edges[e].capacity);
      for (int32_t e : path) {
        cut.edges[e].capacity -= amount;
        cut.edges[e ^ 1].capacity += amount;
      }
      work -= static_cast<int64_t>(path.size());
      return amount;
    }
    int32_t& e = cut.next_edge[node];
    while (e >= 0 &&
           !(cut.edges[e].capacity > 0 && cut.depth[cut.edges[e].to] == cut.depth[node] + 1)) {
      --work;
      e = cut.edges[e].next;
    }
    if (e >= 0) {
      path.push_back(e);
      node = cut.edges[e].to;
      continue;
    }
    // A dead end: no path goes on from here in this phase.
    cut.depth[node] = -1;
    if (path.empty()) return 0;
    node = cut.edges[path.back() ^ 1].to;
    path.pop_back();
  }
}

// Moves the flow on while work lasts, stopping once it exceeds limit. True when it is done: no
// more can flow, or more than limit does.
bool cut_flow(CheckCut& cut, int32_t source, int32_t sink, int64_t limit, int64_t& work) {
  while (cut.flow < limit) {
    if (work <= 0) return false;
    if (!cut.phase) {
      if (!cut_depths(cut, source, sink, work)) return true;
      std::copy(cut.first.begin(), cut.first.end(), cut.next_edge.begin());
      cut.phase = true;
      continue;
    }
    const int32_t pushed = cut_push(cut, source, sink, CHECK_INFINITE, work);
    if (pushed == 0) {
      cut.phase = false;
    } else {
      cut.flow += pushed;
    }
  }
  return true;
}

// Nodes the start reaches through edges with capacity left, or (backwards) that reach it.
std::vector<char> cut_reach(const CheckCut& cut, int32_t start, bool backwards, int64_t& work) {
  std::vector<char> seen(cut.first.size(), 0);
  std::vector<int32_t> stack = {start};
  seen[start] = 1;
  while (!stack.empty()) {
    const int32_t node = stack.back();
    stack.pop_back();
    for (int32_t e = cut.first[node]; e >= 0; e = cut.edges[e].next) {
      --work;
      // Forwards along edges with capacity left; backwards against them (the reverse edge
      // of e is e ^ 1, and it has capacity left when e's reverse does).
      const int32_t other = cut.edges[e].to;
      const int32_t capacity = backwards ? cut.edges[e ^ 1].capacity : cut.edges[e].capacity;
      if (capacity > 0 && !seen[other]) {
        seen[other] = 1;
        stack.push_back(other);
      }
    }
  }
  return seen;
}

// The cut a finished flow gives: the fewest cells that separate the sources (and the chemical)
// from the edge, or -1 when none do. in_cut marks one such set: the one nearest the edge, or
// nearest the sources. Every greatest flow leaves the same nodes on either side of these two, so
// they do not depend on how the flow was found.
int32_t cut_cells(const CheckCut& cut, const CheckPicture& level, bool near_edge,
                  std::vector<char>& in_cut, int64_t& work) {
  const int32_t cells = level.width * level.height;
  if (cut.flow > cells) return -1;
  in_cut.assign(cells, 0);
  if (near_edge) {
    const std::vector<char> reaches = cut_reach(cut, cut_sink(level), true, work);
    for (int32_t i = 0; i < cells; ++i) in_cut[i] = !reaches[2 * i] && reaches[2 * i + 1];
  } else {
    const std::vector<char> reached = cut_reach(cut, cut_source(level), false, work);
    for (int32_t i = 0; i < cells; ++i) in_cut[i] = reached[2 * i] && !reached[2 * i + 1];
  }
  return static_cast<int32_t>(cut.flow);
}

// The flow of the job's cut, while work lasts; true once it is done.
bool job_cut_flow(LevelCheckJob& job, int64_t& work) {
  const CheckPicture& level = job.picture;
  return cut_flow(job.cut, cut_source(level), cut_sink(level), level.width * level.height + 1,
                  work);
}

// Builds the enclosure in_cut, placing the cells the chemical reaches first first, one action
// every pace frames; walls are picked up only when the hand is empty, from outside the
// enclosure first and from the far side of the front first; after that every wall the
// enclosure does not use is picked up.
CheckDraft build_plan(const CheckPicture& level, const std::vector<char>& in_cut,
                      const std::vector<int32_t>& arrival, int32_t pace) {
  CheckDraft draft;
  const int32_t cells = level.width * level.height;
  // Inside: what the chemical can reach without crossing the enclosure.
  std::vector<char> inside(cells, 0);
  std::vector<int32_t> stack;
  for (int32_t i = 0; i < cells; ++i) {
    if ((level.flags[i] & CELL_CHEMICAL) && !in_cut[i]) {
      inside[i] = 1;
      stack.push_back(i);
    }
  }
  while (!stack.empty()) {
    const int32_t i = stack.back();
    stack.pop_back();
    const int32_t x = i / level.height, y = i % level.height;
    const int32_t near[4][2] = {{x - 1, y}, {x + 1, y}, {x, y - 1}, {x, y + 1}};
    for (const auto& n : near) {
      if (n[0] < 0 || n[1] < 0 || n[0] >= level.width || n[1] >= level.height) continue;
      const int32_t j = level.index(n[0], n[1]);
      if (!inside[j] && !in_cut[j]) {
        inside[j] = 1;
        stack.push_back(j);
      }
    }
  }
  std::vector<int32_t> places, takes;
  for (int32_t i = 0; i < cells; ++i) {
    if (in_cut[i] && !(level.flags[i] & CELL_WALL)) places.push_back(i);
    if (!in_cut[i] && (level.flags[i] & CELL_WALL)) takes.push_back(i);
  }
  std::stable_sort(places.begin(), places.end(),
                   [&](int32_t a, int32_t b) { return arrival[a] < arrival[b]; });
  std::stable_sort(takes.begin(), takes.end(), [&](int32_t a, int32_t b) {
    if (inside[a] != inside[b]) return inside[a] < inside[b];
    return arrival[a] > arrival[b];
  });
  auto act = [&](int32_t frame, bool take, int32_t i) {
    draft.plan.push_back({frame, take, i / level.height, i % level.height});
  };
  int32_t frame = 1;
  int32_t hand = level.barriers;
  size_t next_take = 0;
  for (int32_t cell : places) {
    if (hand == 0) {
      if (next_take == takes.size()) return draft;  // not enough barriers, even with every wall
      act(frame, true, takes[next_take++]);
      ++hand;
      frame += pace;
    }
    if (frame >= arrival[cell]) {
      draft.missed_cell = cell;
      return draft;
    }
    act(frame, false, cell);
    --hand;
    frame += pace;
  }
  draft.enclosing_actions = draft.plan.size();
  for (; next_take < takes.size(); ++next_take) {
    act(frame, true, takes[next_take]);
    ++hand;
    frame += pace;
  }
  if (draft.plan.empty()) {
    // The walls alone enclose it, but the rules only look at the walls when a button changes
    // one: place a barrier on the far side of the front and pick it up again (or, without
    // barriers, the other way round with the enclosure's farthest wall).
    int32_t far = -1;
    for (int32_t i = 0; i < cells; ++i) {
      const bool usable =
          hand > 0 ? !(level.flags[i] & (CELL_WALL | CELL_CHEMICAL | CELL_NITRO | CELL_TETRA))
                   : static_cast<bool>(level.flags[i] & CELL_WALL);
      if (usable && (far < 0 || arrival[i] > arrival[far])) far = i;
    }
    if (far < 0) return draft;
    act(1, hand == 0, far);
    act(1 + pace, hand > 0, far);
    draft.enclosing_actions = 2;
  }
  if (draft.enclosing_actions == 0 || draft.enclosing_actions < draft.plan.size()) {
    // The rules see the enclosure only at the next button change.
    draft.enclosing_actions = std::min(draft.enclosing_actions + 1, draft.plan.size());
  }
  draft.score = hand;
  return draft;
}

// Front positions to try cuts behind: 0 (the true minimum) and frames spread over the times
// the chemical reaches new cells before it reaches the edge, at most limit of them.
std::vector<int32_t> radii(const std::vector<int32_t>& arrival, int32_t edge_frame, size_t limit) {
  std::vector<int32_t> times;
  for (int32_t time : arrival) {
    if (time > 0 && time != CHECK_NEVER && (edge_frame < 0 || time < edge_frame)) {
      times.push_back(time);
    }
  }
  std::sort(times.begin(), times.end());
  times.erase(std::unique(times.begin(), times.end()), times.end());
  std::vector<int32_t> chosen = {0};
  const size_t count = times.size();
  const size_t wanted = std::min<size_t>(count, limit);
  for (size_t k = 0; k < wanted; ++k) chosen.push_back(times[k * count / wanted]);
  chosen.erase(std::unique(chosen.begin(), chosen.end()), chosen.end());
  return chosen;
}

// What the job is doing.
constexpr int32_t CHECK_STAGE_LOAD = 0;       // load the level
constexpr int32_t CHECK_STAGE_IDLE = 1;       // follow it with nobody acting
constexpr int32_t CHECK_STAGE_ENCLOSURE = 2;  // the smallest enclosure and the best bound
constexpr int32_t CHECK_STAGE_SEARCH = 3;     // cuts tried at each pace and radius
constexpr int32_t CHECK_STAGE_VERIFY = 4;     // the whole plan through the rules once more
constexpr int32_t CHECK_STAGE_DONE = 5;

// How far the stage's cut or run has got.
constexpr int32_t CHECK_PART_START = 0;  // not begun
constexpr int32_t CHECK_PART_CUT = 1;    // the cut's flow
constexpr int32_t CHECK_PART_RUN = 2;    // the run of the rules

// The paces tried in turn until one gives a plan.
constexpr int32_t CHECK_PACES[] = {CHECK_FRAMES_PER_ACTION, CHECK_FRAMES_PER_ACTION_FAST,
                                   CHECK_FRAMES_PER_ACTION_DRAG};
// The exact search's: the rules allow an action every frame (a drag), which leaves the most
// time for every cell, so it comes first; the others are tried while the bound is not met,
// since a repaired cut can come out otherwise at another pace.
constexpr int32_t CHECK_PACES_EXACT[] = {CHECK_FRAMES_PER_ACTION_DRAG, CHECK_FRAMES_PER_ACTION_FAST,
                                         CHECK_FRAMES_PER_ACTION};

static_assert(std::size(CHECK_PACES_EXACT) == std::size(CHECK_PACES));

int32_t job_pace(const LevelCheckJob& job) {
  return job.exact ? CHECK_PACES_EXACT[job.pace] : CHECK_PACES[job.pace];
}

// One action a frame, in order, on the level's grid.
bool plan_fits(const CheckPicture& level, const std::vector<CheckAction>& plan) {
  for (size_t i = 0; i < plan.size(); ++i) {
    if (plan[i].frame < 1 || (i > 0 && plan[i].frame <= plan[i - 1].frame)) return false;
    if (plan[i].x < 0 || plan[i].y < 0 || plan[i].x >= level.width || plan[i].y >= level.height) {
      return false;
    }
  }
  return true;
}

// The search at one pace is over: the next pace, or the final run once a plan is found.
void end_pace(LevelCheckJob& job) {
  job.radius = 0;
  job.near_edge = false;
  job.attempt = 0;
  const bool met = job.report.plan_score >= job.report.best_score_bound;
  if ((!job.report.plan.empty() && (!job.exact || met)) || ++job.pace == std::size(CHECK_PACES)) {
    job.stage = CHECK_STAGE_VERIFY;
  }
}

// A try of a cut is over; repair says the cut should be repaired and tried again. For each front
// position the search cuts nearest the chemical, then nearest the edge, each cut repaired a few
// times; the times a run taught are kept for the second cut of the same position.
void end_try(LevelCheckJob& job, bool repair) {
  job.part = CHECK_PART_START;
  if (repair && ++job.attempt < (job.exact ? CHECK_EXACT_REFINEMENTS : CHECK_REFINEMENTS)) return;
  job.attempt = 0;
  if (job.report.plan_score >= job.report.best_score_bound) {
    end_pace(job);
  } else if (!job.near_edge) {
    job.near_edge = true;
  } else {
    job.near_edge = false;
    if (++job.radius == job.radii.size()) end_pace(job);
  }
}

// The job's cut is found: its plan is built and, when it could beat the plan in hand, run
// through the rules; otherwise the try is over.
void cut_found(LevelCheckJob& job, int64_t& work) {
  const CheckPicture& level = job.picture;
  std::vector<char> in_cut;
  if (cut_cells(job.cut, level, job.near_edge, in_cut, work) < 0) return end_try(job, false);
  job.draft = build_plan(level, in_cut, job.arrival, job_pace(job));
  work -= 4 * static_cast<int64_t>(in_cut.size());
  if (job.draft.missed_cell >= 0) {
    // Too late for that cell: the next cut goes round it.
    cut_add_source(job.cut, level, job.forced, job.draft.missed_cell, work);
    job.forced[job.draft.missed_cell] = 1;
    return end_try(job, true);
  }
  if (job.draft.score < 0 || job.draft.score <= job.report.plan_score) return end_try(job, false);
  run_begin(job.run, job.stream, job.level, job.draft.enclosing_actions, work);
  job.part = CHECK_PART_RUN;
}

// The run of the job's draft is over: the report gets its plan when it won, or the cut is
// repaired round the cell that was lost.
void run_over(LevelCheckJob& job, int64_t& work) {
  const CheckRun& run = job.run;
  LevelReport& report = job.report;
  if (run.score >= 0) {
    report.plan = job.draft.plan;
    report.plan_score = job.draft.score;
    report.frames_per_action = job_pace(job);
    return end_try(job, false);
  }
  if (run.failed_action < 0) return end_try(job, false);
  // The real spread differed from the idle picture (the walls changed which circles the
  // chemical met): learn its times and go round the cell that was lost.
  for (size_t i = 0; i < job.arrival.size(); ++i) {
    job.arrival[i] = std::min(job.arrival[i], run.arrival[i]);
  }
  const CheckAction& lost = job.draft.plan[static_cast<size_t>(run.failed_action)];
  if (lost.take) return end_try(job, false);
  const int32_t cell = job.picture.index(lost.x, lost.y);
  cut_add_source(job.cut, job.picture, job.forced, cell, work);
  job.forced[cell] = 1;
  end_try(job, true);
}

// One part of the search for the best verified plan at a pace: a try's start, a stretch of its
// cut's flow or of its run, each ending what it finishes. A repaired cut's flow goes on from the
// last one's, which its network keeps.
void search_part(LevelCheckJob& job, int64_t& work) {
  switch (job.part) {
    case CHECK_PART_START:
      if (job.attempt == 0) {
        const int32_t radius = job.radii[job.radius];
        if (!job.near_edge) job.arrival = job.idle_arrival;
        job.forced.assign(job.idle_arrival.size(), 0);
        for (size_t i = 0; i < job.forced.size(); ++i) job.forced[i] = job.idle_arrival[i] < radius;
        if (job.near_edge) {
          job.cut = job.front_cut;  // the same sources as the first cut on the chemical's side
          work -= static_cast<int64_t>(job.cut.edges.size());
        } else {
          cut_begin(job.cut, job.picture, job.forced, work);
        }
      }
      job.part = CHECK_PART_CUT;
      return;
    case CHECK_PART_CUT:
      if (!job_cut_flow(job, work)) return;
      if (job.attempt == 0 && !job.near_edge) {
        job.front_cut = job.cut;
        work -= static_cast<int64_t>(job.cut.edges.size());
      }
      cut_found(job, work);
      return;
    default:
      if (run_part(job.run, job.stream, job.draft.plan, work)) run_over(job, work);
      return;
  }
}

// One part of the smallest enclosure: the network, a stretch of its flow, or the bound and the
// front positions once the flow is done.
void enclosure_part(LevelCheckJob& job, int64_t& work) {
  const CheckPicture& level = job.picture;
  LevelReport& report = job.report;
  if (job.part == CHECK_PART_START) {
    cut_begin(job.cut, level, std::vector<char>(level.flags.size(), 0), work);
    job.part = CHECK_PART_CUT;
    return;
  }
  if (!job_cut_flow(job, work)) return;
  job.part = CHECK_PART_START;
  const int64_t cells = static_cast<int64_t>(level.flags.size());
  report.enclosure_cells = job.cut.flow > cells ? -1 : static_cast<int32_t>(job.cut.flow);
  if (report.enclosure_cells >= 0) {
    const int32_t walls =
        static_cast<int32_t>(std::count_if(level.flags.begin(), level.flags.end(),
                                           [](int32_t flags) { return (flags & CELL_WALL) != 0; }));
    report.best_score_bound = level.barriers + walls - report.enclosure_cells;
  }
  // Fewer barriers and walls than the enclosure needs: it cannot be built at all.
  if (report.best_score_bound < 0) report.enclosure_cells = report.best_score_bound = -1;
  job.radii = radii(job.idle_arrival, report.edge_frame,
                    job.exact ? job.idle_arrival.size() : static_cast<size_t>(CHECK_RADII));
  work -= 4 * cells;
  job.stage = report.enclosure_cells >= 0 ? CHECK_STAGE_SEARCH : CHECK_STAGE_VERIFY;
}

// One part of the final run: the whole plan, its clean-up included, through the rules once more.
void verify_part(LevelCheckJob& job, int64_t& work) {
  LevelReport& report = job.report;
  int32_t score = -1;
  if (job.part == CHECK_PART_START) {
    if (!report.plan.empty() && plan_fits(job.picture, report.plan)) {
      run_begin(job.run, job.stream, job.level, report.plan.size(), work);
      job.part = CHECK_PART_RUN;
      return;
    }
  } else {
    if (!run_part(job.run, job.stream, report.plan, work)) return;
    score = job.run.score;
  }
  if (!report.plan.empty() && score != report.plan_score) {
    report.plan.clear();
    report.plan_score = report.frames_per_action = -1;
  }
  job.part = CHECK_PART_START;
  job.run = CheckRun{};
  report.winnable = !report.plan.empty();
  if (job.exact) {
    report.best_score = report.plan_score;
    report.best_run = report.plan;
    // The bound is a true one (docs/decisions.md): a run that meets it is the best, and a level
    // with no enclosure, or too few barriers and walls for it, is never won.
    report.best_proven = report.best_score_bound < 0 ||
                         (report.winnable && report.plan_score == report.best_score_bound);
  }
  job.stage = CHECK_STAGE_DONE;
}

// Does one part of the job's stage, at most about work of it (a part that cannot be split may
// take more), and takes what it did off work.
void check_part(LevelCheckJob& job, int64_t& work) {
  switch (job.stage) {
    case CHECK_STAGE_LOAD:
      job.picture = snapshot(job.stream, job.level);
      job.idle_rules = fresh_load(job.stream, job.level);
      job.idle_arrival.assign(job.idle_rules.grid.size(), CHECK_NEVER);
      note_arrivals(job.idle_rules, job.idle_arrival, 0);
      work -= 3 * static_cast<int64_t>(job.idle_arrival.size());
      job.idle_frame = 1;
      job.stage = CHECK_STAGE_IDLE;
      return;
    case CHECK_STAGE_IDLE:
      if (idle_part(job, work)) {
        job.idle_rules = Rules{};
        job.stage = CHECK_STAGE_ENCLOSURE;
      }
      return;
    case CHECK_STAGE_ENCLOSURE:
      return enclosure_part(job, work);
    case CHECK_STAGE_SEARCH:
      return search_part(job, work);
    case CHECK_STAGE_VERIFY:
      return verify_part(job, work);
    default:
      return;
  }
}

std::string number_or_null(int32_t value) { return value < 0 ? "null" : std::to_string(value); }

// Actions as a JSON array of [frame, "place" or "take", x, y].
std::string actions_json(const std::vector<CheckAction>& actions) {
  std::string out = "[";
  for (size_t i = 0; i < actions.size(); ++i) {
    const CheckAction& action = actions[i];
    out += (i ? ", [" : "[") + std::to_string(action.frame) + ", \"" +
           (action.take ? "take" : "place") + "\", " + std::to_string(action.x) + ", " +
           std::to_string(action.y) + "]";
  }
  return out + "]";
}

}  // namespace

int32_t level_check_run_plan(const LevelStream& stream, int32_t level,
                             const std::vector<CheckAction>& plan) {
  if (!plan_fits(snapshot(stream, level), plan)) return -1;
  CheckRun run;
  int64_t work = INT64_MAX;
  run_begin(run, stream, level, plan.size(), work);
  run_part(run, stream, plan, work);
  return run.score;
}

void level_check_begin(LevelCheckJob& job, LevelStream stream, int32_t level, bool exact) {
  job = LevelCheckJob{};
  job.exact = exact;
  job.stream = std::move(stream);
  job.level = level;
  job.report.level = level;
}

bool level_check_step(LevelCheckJob& job, int64_t work) {
  work = std::max<int64_t>(work, 1);
  while (job.stage != CHECK_STAGE_DONE) {
    if (work <= 0) return false;
    check_part(job, work);
  }
  return true;
}

void level_check_stop(LevelCheckJob& job) {
  if (job.stage != CHECK_STAGE_SEARCH) return;
  job.part = CHECK_PART_START;
  job.stage = CHECK_STAGE_VERIFY;
}

LevelReport level_check(const LevelStream& stream, int32_t level) {
  LevelCheckJob job;
  level_check_begin(job, stream, level);
  while (!level_check_step(job, INT64_MAX)) {
  }
  return std::move(job.report);
}

LevelReport level_check_exact(const LevelStream& stream, int32_t level, int64_t work_limit) {
  LevelReport report = level_check(stream, level);
  LevelCheckJob job;
  level_check_begin(job, stream, level, true);
  for (int64_t done = 0; !level_check_step(job); done += CHECK_STEP_WORK) {
    if (work_limit > 0 && done >= work_limit) level_check_stop(job);
  }
  level_check_take_best(report, std::move(job.report));
  return report;
}

void level_check_take_best(LevelReport& report, LevelReport exact) {
  report.best_score = exact.best_score;
  report.best_proven = exact.best_proven;
  report.best_run = std::move(exact.best_run);
  // A search stopped early may not have come to a run as good as the check's own plan, which the
  // rules have verified as well.
  if (report.winnable && report.plan_score > report.best_score) {
    report.best_score = report.plan_score;
    report.best_run = report.plan;
    report.best_proven = report.plan_score == report.best_score_bound;
  }
}

std::vector<InputFrame> level_check_plan_frames(const LevelStream& stream,
                                                const LevelReport& report) {
  const CheckPicture level = snapshot(stream, report.level);
  // The centre of a cell on the 480-pixel board that starts at pixel 80.
  auto point_at = [&](InputFrame& frame, int32_t x, int32_t y) {
    frame.pointer_x = 80 + 480 * x / level.width + 480 / level.width / 2;
    frame.pointer_y = 480 * y / level.height + 480 / level.height / 2;
  };
  std::vector<InputFrame> script;
  InputFrame frame;
  if (!report.plan.empty()) point_at(frame, report.plan[0].x, report.plan[0].y);
  for (const CheckAction& action : report.plan) {
    frame.held = INPUT_ACTIVE;
    while (static_cast<int32_t>(script.size()) + 1 < action.frame) script.push_back(frame);
    point_at(frame, action.x, action.y);
    frame.held = INPUT_ACTIVE | (action.take ? INPUT_HELD_RIGHT : INPUT_HELD_LEFT);
    script.push_back(frame);
  }
  frame.held = INPUT_ACTIVE;
  frame.events = INPUT_RELEASED_RETURN;
  script.push_back(frame);
  return script;
}

std::string level_check_table(const std::vector<LevelReport>& reports, bool exact) {
  std::string out = level_check_table_header(exact);
  for (const LevelReport& report : reports) out += level_check_table_row(report, exact);
  return out;
}

std::string level_check_table_header(bool exact) {
  return exact ? "level  edge frame  enclosure  best bound  winnable  plan score  pace  best  "
                 "proven\n"
               : "level  edge frame  enclosure  best bound  winnable  plan score  pace\n";
}

std::string level_check_table_row(const LevelReport& report, bool exact) {
  // A plan runs to thousands of characters, which no terminal line shows: it is in the JSON.
  auto number = [](int32_t value, const char* none) {
    return value < 0 ? std::string(none) : std::to_string(value);
  };
  char row[160];
  std::snprintf(
      row, sizeof row, "%5d  %10s  %9s  %10s  %8s  %10s  %4s\n", report.level,
      number(report.edge_frame, "never").c_str(), number(report.enclosure_cells, "none").c_str(),
      number(report.best_score_bound, "-").c_str(), report.winnable ? "yes" : "no plan",
      number(report.plan_score, "-").c_str(), number(report.frames_per_action, "-").c_str());
  std::string line = row;
  if (exact) {
    line.pop_back();
    std::snprintf(row, sizeof row, "  %4s  %6s\n", number(report.best_score, "-").c_str(),
                  report.best_proven ? "yes" : "no");
    line += row;
  }
  return line;
}

std::string level_check_json(const std::vector<LevelReport>& reports, bool exact) {
  if (reports.empty()) return "[]\n";
  std::string out = "[";
  for (size_t n = 0; n < reports.size(); ++n) {
    out += n ? ",\n " : "\n ";
    out += level_check_json_object(reports[n], exact);
  }
  return out + "\n]\n";
}

std::string level_check_json_object(const LevelReport& report, bool exact) {
  std::string out = "{\"level\": " + std::to_string(report.level) +
                    ", \"edge_frame\": " + number_or_null(report.edge_frame) +
                    ", \"winnable\": " + (report.winnable ? "true" : "false") +
                    ", \"enclosure_cells\": " + number_or_null(report.enclosure_cells) +
                    ", \"best_score_bound\": " + number_or_null(report.best_score_bound) +
                    ", \"plan_score\": " + number_or_null(report.plan_score) +
                    ", \"frames_per_action\": " + number_or_null(report.frames_per_action) +
                    ", \"plan\": " + actions_json(report.plan);
  if (exact) {
    out += ", \"best_score\": " + number_or_null(report.best_score) +
           ", \"best_proven\": " + (report.best_proven ? "true" : "false") +
           ", \"best_run\": " + actions_json(report.best_run);
  }
  return out + "}";
}
