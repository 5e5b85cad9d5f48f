#include "core/spread.h"

#include <algorithm>
#include <vector>

#include "core/rules.h"

namespace {

constexpr int32_t SPREAD_MAX_CONCENTRATION = 65535;  // its high byte must index the palette
constexpr int32_t SPREAD_SHAKE_FRAMES = 10;          // board shake after the first edge contact
constexpr int32_t SPREAD_FADE = 15;                  // highlight lost per frame
constexpr int32_t SPREAD_FADE_PLAIN = 255;           // in the plain view the glow goes at once

bool on_edge(const Rules& rules, int32_t x, int32_t y) {
  return x == 0 || y == 0 || x == rules.grid_width - 1 || y == rules.grid_height - 1;
}

// Whether a neighbour of (x, y) holds more than spread_threshold. The threshold is read afresh
// because a "T" cell earlier in the same pass may have doubled it.
bool exposed(const Rules& rules, const Cell* cells, int32_t x, int32_t y) {
  const int32_t height = rules.grid_height;
  const Cell* cell = cells + static_cast<size_t>(x) * height + y;
  const int32_t threshold = rules.spread_threshold;
  return (x > 0 && (cell - height)->concentration > threshold) ||
         (y > 0 && (cell - 1)->concentration > threshold) ||
         (x < rules.grid_width - 1 && (cell + height)->concentration > threshold) ||
         (y < height - 1 && (cell + 1)->concentration > threshold);
}

void infect(Rules& rules, Cell& cell, int32_t x, int32_t y) {
  // The new cell keeps concentration 0, so it starts growing next frame and cannot pass the
  // chemical on within this pass.
  cell.flags |= CELL_CHEMICAL;
  if (cell.flags & CELL_NITRO) {
    rules.spread_rate = spread_doubled(rules.spread_rate);
    cell.flags &= ~CELL_NITRO;
    rules_cue(rules, SOUND_NITR);
  }
  if (cell.flags & CELL_TETRA) {
    rules.spread_threshold = spread_doubled(rules.spread_threshold);
    cell.flags &= ~CELL_TETRA;
    rules_cue(rules, SOUND_TAKE);
  }
  if (on_edge(rules, x, y)) {
    // The shake goes with the cue: a silent game does not shake either.
    if (!rules.edge_reached && rules.sound_ok) {
      rules_cue(rules, SOUND_LOSE);
      rules.shake_frames = SPREAD_SHAKE_FRAMES;
    }
    rules.edge_reached = 1;
  }
}

}  // namespace

// Saturating rather than wrapping: a wrapped threshold turns negative, so every cell, even an
// empty one, would infect its neighbours; a wrapped rate turns negative and would drive
// concentrations below 0, outside the palette. Held at the limit, a doubling still only ever
// makes the chemical faster (rate) or slower (threshold).
int32_t spread_doubled(int32_t value) {
  const int64_t doubled = static_cast<int64_t>(value) * 2;
  return static_cast<int32_t>(std::clamp<int64_t>(doubled, INT32_MIN, INT32_MAX));
}

void spread_step(Rules& rules) {
  const int32_t width = rules.grid_width;
  const int32_t height = rules.grid_height;
  const int32_t fade = rules.plain_view == 1 ? SPREAD_FADE_PLAIN : SPREAD_FADE;
  Cell* cells = rules.grid.data();
  for (int32_t x = 0; x < width; ++x) {
    for (int32_t y = 0; y < height; ++y) {
      Cell& cell = cells[static_cast<size_t>(x) * height + y];
      if (cell.flags & CELL_CHEMICAL) {
        // In 64 bits, so a saturated rate cannot overflow the sum.
        const int64_t grown = static_cast<int64_t>(cell.concentration) + rules.spread_rate;
        cell.concentration =
            static_cast<int32_t>(std::clamp<int64_t>(grown, 0, SPREAD_MAX_CONCENTRATION));
      } else if (!(cell.flags & CELL_WALL) && exposed(rules, cells, x, y)) {
        infect(rules, cell, x, y);
      }
      if (!(rules.cursor_on_board == 1 && x == rules.cursor_x && y == rules.cursor_y)) {
        cell.highlight = std::max(cell.highlight - fade, 0);
      }
    }
  }
}

// A stack-driven fill marks exactly the cells that repeated whole-grid passes would (every
// chemical cell, every cell already stamped with this generation, and every wall-free cell
// 4-connected to those), but visits each cell a bounded number of times, where the passes need
// one whole sweep per step leftwards or upwards of a winding region.
void check_containment(Rules& rules) {
  const int32_t previous = rules.contained;
  const int32_t generation = rules.fill_generation;
  const int32_t width = rules.grid_width;
  const int32_t height = rules.grid_height;
  const int32_t count = width * height;
  Cell* cells = rules.grid.data();
  std::vector<int32_t>& stack = rules.fill_stack;
  stack.clear();
  stack.reserve(static_cast<size_t>(count));  // each cell is pushed at most once

  for (int32_t i = 0; i < count; ++i) {
    if (cells[i].fill_mark == generation) {
      stack.push_back(i);
    } else if (cells[i].flags & CELL_CHEMICAL) {
      cells[i].fill_mark = generation;
      stack.push_back(i);
    }
  }
  auto reach = [&](int32_t i) {
    Cell& cell = cells[i];
    if (cell.fill_mark != generation && !(cell.flags & CELL_WALL)) {
      cell.fill_mark = generation;
      stack.push_back(i);
    }
  };
  while (!stack.empty()) {
    const int32_t i = stack.back();
    stack.pop_back();
    const int32_t x = i / height;
    const int32_t y = i % height;
    if (x > 0) reach(i - height);
    if (y > 0) reach(i - 1);
    if (x < width - 1) reach(i + height);
    if (y < height - 1) reach(i + 1);
  }

  auto marked = [&](int32_t x, int32_t y) {
    return cells[static_cast<size_t>(x) * height + y].fill_mark == generation;
  };
  bool edge_marked = false;
  for (int32_t x = 0; x < width; ++x)
    edge_marked = edge_marked || marked(x, 0) || marked(x, height - 1);
  for (int32_t y = 0; y < height; ++y)
    edge_marked = edge_marked || marked(0, y) || marked(width - 1, y);
  rules.contained = edge_marked ? 0 : 1;
  // Unsigned, so the stamp wraps instead of overflowing after 2^31 checks.
  rules.fill_generation = static_cast<int32_t>(static_cast<uint32_t>(generation) + 1);
  if (rules.contained == 1 && previous == 0) rules_cue(rules, SOUND_WIN);
}
