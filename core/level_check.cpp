// The level checker. The planner works on a picture of the level (when each cell is reached if
// nobody acts, and minimum vertex cuts between the chemical and the edge); every plan it offers
// is then run through the real rules, which alone decide whether it wins.
#include "core/level_check.h"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <iterator>
#include <queue>

#include "core/barriers.h"
#include "core/level_stream.h"
#include "core/rules.h"
#include "core/spread.h"

namespace {

constexpr int32_t CHECK_NEVER = INT32_MAX;   // arrival of a cell the chemical never enters
constexpr int32_t CHECK_INFINITE = 1 << 24;  // capacity of a cell no enclosure can use
constexpr int32_t CHECK_RADII = 24;          // front positions the planner tries cuts at
constexpr int32_t CHECK_REFINEMENTS = 6;     // repairs of one cut after a missed cell

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

// Cells times frames of the idle run one piece of a job follows: about 10 ms of the spread.
constexpr int64_t CHECK_IDLE_PIECE_CELL_FRAMES = 1000000;

// The run with nobody acting, a piece at a time: the frame each cell is reached, and the edge
// frame. Quiet stretches are skipped, so a slow leak is followed to its end however late that
// is. True when the run is over.
bool idle_piece(LevelCheckJob& job) {
  Rules& rules = job.idle_rules;
  rules.stream = &job.stream;  // the job may have been copied since the rules were loaded
  const int64_t frames =
      std::max<int64_t>(1, CHECK_IDLE_PIECE_CELL_FRAMES / static_cast<int64_t>(rules.grid.size()));
  for (int64_t n = 0; n < frames; ++n, ++job.idle_frame) {
    if (job.idle_frame >= CHECK_NEVER) return true;
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
  return false;
}

// What a run of a plan through the real rules showed.
struct RunResult {
  int32_t score = -1;            // barriers in hand at the end if walled in, else -1
  int32_t failed_action = -1;    // index of the first action without effect, or -1
  std::vector<int32_t> arrival;  // frame each cell turned chemical in this run
};

// Runs the first count actions of plan from a fresh load, each checked for its effect.
RunResult run_plan(const LevelStream& stream, int32_t level, const std::vector<CheckAction>& plan,
                   size_t count) {
  RunResult result;
  Rules rules = fresh_load(stream, level);
  result.arrival.assign(rules.grid.size(), CHECK_NEVER);
  note_arrivals(rules, result.arrival, 0);
  size_t next = 0;
  const int32_t last_frame = count > 0 ? plan[count - 1].frame : 0;
  for (int32_t frame = 1; frame <= last_frame; ++frame) {
    spread_step(rules);
    note_arrivals(rules, result.arrival, frame);
    if (next < count && plan[next].frame == frame) {
      const CheckAction& action = plan[next];
      rules.cursor_x = action.x;
      rules.cursor_y = action.y;
      rules.cursor_on_board = 1;
      const int32_t before = rules.barriers_left;
      barriers_apply_buttons(rules, action.take ? 0 : 1, action.take ? 1 : 0);
      if (rules.barriers_left != before + (action.take ? 1 : -1)) {
        result.failed_action = static_cast<int32_t>(next);
        return result;
      }
      ++next;
    } else {
      barriers_apply_buttons(rules, 0, 0);
    }
  }
  if (next == count && rules.contained == 1 && rules.edge_reached == 0)
    result.score = rules.barriers_left;
  return result;
}

// A flow network for minimum vertex cuts: each cell is an "in" and an "out" node joined by its
// capacity; Dinic's algorithm.
class CutNetwork {
 public:
  explicit CutNetwork(int32_t nodes) : first_(nodes, -1), level_(nodes), next_edge_(nodes) {}
  void add(int32_t from, int32_t to, int32_t capacity) {
    edges_.push_back({to, capacity, first_[from]});
    first_[from] = static_cast<int32_t>(edges_.size()) - 1;
    edges_.push_back({from, 0, first_[to]});
    first_[to] = static_cast<int32_t>(edges_.size()) - 1;
  }
  // Flow from source to sink, stopping once it reaches limit.
  int64_t max_flow(int32_t source, int32_t sink, int64_t limit) {
    int64_t flow = 0;
    while (flow < limit && levels(source, sink)) {
      std::copy(first_.begin(), first_.end(), next_edge_.begin());
      while (flow < limit) {
        const int32_t pushed = push(source, sink, CHECK_INFINITE);
        if (pushed == 0) break;
        flow += pushed;
      }
    }
    return flow;
  }
  // Nodes the source reaches through edges with capacity left.
  std::vector<char> from_source(int32_t source) const { return reach(source, false); }
  // Nodes that reach the sink through edges with capacity left.
  std::vector<char> to_sink(int32_t sink) const { return reach(sink, true); }

 private:
  struct Edge {
    int32_t to;
    int32_t capacity;
    int32_t next;  // next edge out of the same node, or -1
  };
  std::vector<Edge> edges_;
  std::vector<int32_t> first_;      // first edge out of each node
  std::vector<int32_t> level_;      // BFS depth from the source in this phase
  std::vector<int32_t> next_edge_;  // edge each node resumes its search at

  bool levels(int32_t source, int32_t sink) {
    std::fill(level_.begin(), level_.end(), -1);
    std::queue<int32_t> queue;
    level_[source] = 0;
    queue.push(source);
    while (!queue.empty()) {
      const int32_t node = queue.front();
      queue.pop();
      for (int32_t e = first_[node]; e >= 0; e = edges_[e].next) {
        if (edges_[e].capacity > 0 && level_[edges_[e].to] < 0) {
          level_[edges_[e].to] = level_[node] + 1;
          queue.push(edges_[e].to);
        }
      }
    }
    return level_[sink] >= 0;
  }
  // One augmenting path of the layered network, iteratively (paths can be thousands of nodes).
  int32_t push(int32_t source, int32_t sink, int32_t limit) {
    std::vector<int32_t> path;  // edges from the source
    int32_t node = source;
    while (true) {
      if (node == sink) {
        int32_t amount = limit;
        for (int32_t e : path) amount = std::min(amount, edges_[e].capacity);
        for (int32_t e : path) {
          edges_[e].capacity -= amount;
          edges_[e ^ 1].capacity += amount;
        }
        return amount;
      }
      int32_t& e = next_edge_[node];
      while (e >= 0 && !(edges_[e].capacity > 0 && level_[edges_[e].to] == level_[node] + 1)) {
        e = edges_[e].next;
      }
      if (e >= 0) {
        path.push_back(e);
        node = edges_[e].to;
        continue;
      }
      // A dead end: no path goes on from here in this phase.
      level_[node] = -1;
      if (path.empty()) return 0;
      node = edges_[path.back() ^ 1].to;
      path.pop_back();
    }
  }
  std::vector<char> reach(int32_t start, bool backwards) const {
    std::vector<char> seen(first_.size(), 0);
    std::vector<int32_t> stack = {start};
    seen[start] = 1;
    while (!stack.empty()) {
      const int32_t node = stack.back();
      stack.pop_back();
      for (int32_t e = first_[node]; e >= 0; e = edges_[e].next) {
        // Forwards along edges with capacity left; backwards against them (the reverse edge
        // of e is e ^ 1, and it has capacity left when e's reverse does).
        const int32_t other = edges_[e].to;
        const int32_t capacity = backwards ? edges_[e ^ 1].capacity : edges_[e].capacity;
        if (capacity > 0 && !seen[other]) {
          seen[other] = 1;
          stack.push_back(other);
        }
      }
    }
    return seen;
  }
};

// The fewest cells that separate the sources (and the chemical) from the edge, or -1 when none
// do. in_cut marks one such set: the one nearest the edge, or nearest the sources.
int32_t min_cut(const CheckPicture& level, const std::vector<char>& source, bool near_edge,
                std::vector<char>& in_cut) {
  const int32_t cells = level.width * level.height;
  const int32_t s = 2 * cells, t = 2 * cells + 1;
  CutNetwork network(2 * cells + 2);
  for (int32_t i = 0; i < cells; ++i) {
    const bool fixed = source[i] || (level.flags[i] & (CELL_CHEMICAL | CELL_NITRO | CELL_TETRA));
    network.add(2 * i, 2 * i + 1, fixed ? CHECK_INFINITE : 1);
    if (source[i] || (level.flags[i] & CELL_CHEMICAL)) network.add(s, 2 * i, CHECK_INFINITE);
    if (level.on_edge(i)) network.add(2 * i + 1, t, CHECK_INFINITE);
    const int32_t x = i / level.height, y = i % level.height;
    if (x + 1 < level.width) {
      network.add(2 * i + 1, 2 * level.index(x + 1, y), CHECK_INFINITE);
      network.add(2 * level.index(x + 1, y) + 1, 2 * i, CHECK_INFINITE);
    }
    if (y + 1 < level.height) {
      network.add(2 * i + 1, 2 * level.index(x, y + 1), CHECK_INFINITE);
      network.add(2 * level.index(x, y + 1) + 1, 2 * i, CHECK_INFINITE);
    }
  }
  const int64_t flow = network.max_flow(s, t, cells + 1);
  if (flow > cells) return -1;
  in_cut.assign(cells, 0);
  if (near_edge) {
    const std::vector<char> reaches = network.to_sink(t);
    for (int32_t i = 0; i < cells; ++i) in_cut[i] = !reaches[2 * i] && reaches[2 * i + 1];
  } else {
    const std::vector<char> reached = network.from_source(s);
    for (int32_t i = 0; i < cells; ++i) in_cut[i] = reached[2 * i] && !reached[2 * i + 1];
  }
  return static_cast<int32_t>(flow);
}

// A plan built for one cut; build_plan's answer.
struct Draft {
  std::vector<CheckAction> plan;
  size_t enclosing_actions = 0;  // actions up to the one that completes the enclosure
  int32_t missed_cell = -1;      // a cell the schedule reached too late, or -1
  int32_t score = -1;            // barriers in hand at the end
};

// Builds the enclosure in_cut, placing the cells the chemical reaches first first, one action
// every pace frames; walls are picked up only when the hand is empty, from outside the
// enclosure first and from the far side of the front first; after that every wall the
// enclosure does not use is picked up.
Draft build_plan(const CheckPicture& level, const std::vector<char>& in_cut,
                 const std::vector<int32_t>& arrival, int32_t pace) {
  Draft draft;
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
// the chemical reaches new cells before it reaches the edge.
std::vector<int32_t> radii(const std::vector<int32_t>& arrival, int32_t edge_frame) {
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
  const size_t wanted = std::min<size_t>(count, CHECK_RADII);
  for (size_t k = 0; k < wanted; ++k) chosen.push_back(times[k * count / wanted]);
  chosen.erase(std::unique(chosen.begin(), chosen.end()), chosen.end());
  return chosen;
}

// What the next piece of a job does.
constexpr int32_t CHECK_STAGE_LOAD = 0;       // load the level
constexpr int32_t CHECK_STAGE_IDLE = 1;       // follow it a stretch with nobody acting
constexpr int32_t CHECK_STAGE_ENCLOSURE = 2;  // the smallest enclosure and the best bound
constexpr int32_t CHECK_STAGE_SEARCH = 3;     // one cut tried at the job's pace and radius
constexpr int32_t CHECK_STAGE_VERIFY = 4;     // the whole plan through the rules once more
constexpr int32_t CHECK_STAGE_DONE = 5;

// The paces tried in turn until one gives a plan.
constexpr int32_t CHECK_PACES[] = {CHECK_FRAMES_PER_ACTION, CHECK_FRAMES_PER_ACTION_FAST,
                                   CHECK_FRAMES_PER_ACTION_DRAG};

// Tries the job's cut once; report gets its plan when it beats what it holds. True when the cut
// should be repaired and tried again.
bool try_cut(LevelCheckJob& job) {
  const CheckPicture& level = job.picture;
  LevelReport& report = job.report;
  const int32_t pace = CHECK_PACES[job.pace];
  std::vector<char> in_cut;
  if (min_cut(level, job.forced, job.near_edge, in_cut) < 0) return false;
  const Draft draft = build_plan(level, in_cut, job.arrival, pace);
  if (draft.missed_cell >= 0) {
    // Too late for that cell: the next cut goes round it.
    job.forced[draft.missed_cell] = 1;
    return true;
  }
  if (draft.score < 0 || draft.score <= report.plan_score) return false;
  const RunResult run = run_plan(job.stream, job.level, draft.plan, draft.enclosing_actions);
  if (run.score >= 0) {
    report.plan = draft.plan;
    report.plan_score = draft.score;
    report.frames_per_action = pace;
    return false;
  }
  if (run.failed_action < 0) return false;
  // The real spread differed from the idle picture (the walls changed which circles the
  // chemical met): learn its times and go round the cell that was lost.
  for (size_t i = 0; i < job.arrival.size(); ++i) {
    job.arrival[i] = std::min(job.arrival[i], run.arrival[i]);
  }
  const CheckAction& lost = draft.plan[static_cast<size_t>(run.failed_action)];
  if (lost.take) return false;
  job.forced[level.index(lost.x, lost.y)] = 1;
  return true;
}

// The search at one pace is over: the next pace, or the final run once a plan is found.
void end_pace(LevelCheckJob& job) {
  job.radius = 0;
  job.near_edge = false;
  job.attempt = 0;
  if (!job.report.plan.empty() || ++job.pace == std::size(CHECK_PACES)) {
    job.stage = CHECK_STAGE_VERIFY;
  }
}

// One try of the search for the best verified plan at a pace. For each front position it cuts
// nearest the chemical, then nearest the edge, each cut repaired a few times; the times a run
// taught are kept for the second cut of the same position.
void search_step(LevelCheckJob& job) {
  if (job.attempt == 0) {
    const int32_t radius = job.radii[job.radius];
    if (!job.near_edge) job.arrival = job.idle_arrival;
    job.forced.assign(job.idle_arrival.size(), 0);
    for (size_t i = 0; i < job.forced.size(); ++i) job.forced[i] = job.idle_arrival[i] < radius;
  }
  if (try_cut(job) && ++job.attempt < CHECK_REFINEMENTS) return;
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

std::string number_or_null(int32_t value) { return value < 0 ? "null" : std::to_string(value); }

}  // namespace

int32_t level_check_run_plan(const LevelStream& stream, int32_t level,
                             const std::vector<CheckAction>& plan) {
  const CheckPicture picture = snapshot(stream, level);
  for (size_t i = 0; i < plan.size(); ++i) {
    // One action a frame, in order, on the grid.
    if (plan[i].frame < 1 || (i > 0 && plan[i].frame <= plan[i - 1].frame)) return -1;
    if (plan[i].x < 0 || plan[i].y < 0 || plan[i].x >= picture.width ||
        plan[i].y >= picture.height) {
      return -1;
    }
  }
  return run_plan(stream, level, plan, plan.size()).score;
}

void level_check_begin(LevelCheckJob& job, LevelStream stream, int32_t level) {
  job = LevelCheckJob{};
  job.stream = std::move(stream);
  job.level = level;
  job.report.level = level;
}

bool level_check_step(LevelCheckJob& job) {
  LevelReport& report = job.report;
  switch (job.stage) {
    case CHECK_STAGE_LOAD:
      job.picture = snapshot(job.stream, job.level);
      job.idle_rules = fresh_load(job.stream, job.level);
      job.idle_arrival.assign(job.idle_rules.grid.size(), CHECK_NEVER);
      note_arrivals(job.idle_rules, job.idle_arrival, 0);
      job.idle_frame = 1;
      job.stage = CHECK_STAGE_IDLE;
      return false;
    case CHECK_STAGE_IDLE:
      if (idle_piece(job)) {
        job.idle_rules = Rules{};
        job.stage = CHECK_STAGE_ENCLOSURE;
      }
      return false;
    case CHECK_STAGE_ENCLOSURE: {
      const CheckPicture& level = job.picture;
      std::vector<char> in_cut;
      report.enclosure_cells =
          min_cut(level, std::vector<char>(level.flags.size(), 0), false, in_cut);
      if (report.enclosure_cells >= 0) {
        const int32_t walls = static_cast<int32_t>(
            std::count_if(level.flags.begin(), level.flags.end(),
                          [](int32_t flags) { return (flags & CELL_WALL) != 0; }));
        report.best_score_bound = level.barriers + walls - report.enclosure_cells;
      }
      // Fewer barriers and walls than the enclosure needs: it cannot be built at all.
      if (report.best_score_bound < 0) report.enclosure_cells = report.best_score_bound = -1;
      job.radii = radii(job.idle_arrival, report.edge_frame);
      job.stage = report.enclosure_cells >= 0 ? CHECK_STAGE_SEARCH : CHECK_STAGE_VERIFY;
      return false;
    }
    case CHECK_STAGE_SEARCH:
      search_step(job);
      return false;
    case CHECK_STAGE_VERIFY:
      // The whole plan, its clean-up included, through the rules once more.
      if (!report.plan.empty() &&
          level_check_run_plan(job.stream, job.level, report.plan) != report.plan_score) {
        report.plan.clear();
        report.plan_score = report.frames_per_action = -1;
      }
      report.winnable = !report.plan.empty();
      job.stage = CHECK_STAGE_DONE;
      return true;
    default:
      return true;
  }
}

LevelReport level_check(const LevelStream& stream, int32_t level) {
  LevelCheckJob job;
  level_check_begin(job, stream, level);
  while (!level_check_step(job)) {
  }
  return std::move(job.report);
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

std::string level_check_table(const std::vector<LevelReport>& reports) {
  std::string out = level_check_table_header();
  for (const LevelReport& report : reports) out += level_check_table_row(report);
  return out;
}

std::string level_check_table_header() {
  return "level  edge frame  enclosure  best bound  winnable  plan score  pace\n";
}

std::string level_check_table_row(const LevelReport& report) {
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
  return row;
}

std::string level_check_json(const std::vector<LevelReport>& reports) {
  if (reports.empty()) return "[]\n";
  std::string out = "[";
  for (size_t n = 0; n < reports.size(); ++n) {
    out += n ? ",\n " : "\n ";
    out += level_check_json_object(reports[n]);
  }
  return out + "\n]\n";
}

std::string level_check_json_object(const LevelReport& report) {
  std::string out = "{\"level\": " + std::to_string(report.level) +
                    ", \"edge_frame\": " + number_or_null(report.edge_frame) +
                    ", \"winnable\": " + (report.winnable ? "true" : "false") +
                    ", \"enclosure_cells\": " + number_or_null(report.enclosure_cells) +
                    ", \"best_score_bound\": " + number_or_null(report.best_score_bound) +
                    ", \"plan_score\": " + number_or_null(report.plan_score) +
                    ", \"frames_per_action\": " + number_or_null(report.frames_per_action) +
                    ", \"plan\": [";
  for (size_t i = 0; i < report.plan.size(); ++i) {
    const CheckAction& action = report.plan[i];
    out += (i ? ", [" : "[") + std::to_string(action.frame) + ", \"" +
           (action.take ? "take" : "place") + "\", " + std::to_string(action.x) + ", " +
           std::to_string(action.y) + "]";
  }
  return out + "]}";
}
