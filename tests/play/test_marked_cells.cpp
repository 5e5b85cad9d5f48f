// The marked cells hold every kind of cell apart for eyes that miss one of the three cone
// colours, and in grey: frames drawn by the real board drawing are passed through a simulation
// of protanopia, deuteranopia and tritanopia (Machado, Oliveira and Fernandes 2009, severity
// 1.0, on linear light) and through luminance alone, and every pair of kinds is compared.
//
// The measure: a player identifies one cell at a glance, at any moment of the pulse, so two
// kinds are apart when every picture one kind's cell ever shows differs from every picture the
// other kind's cell ever shows, position by position, in enough pixels by a clearly seen step
// (a CIELAB difference of 15 or more). Colours that differ only at the same moment of the pulse
// do not count.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <set>
#include <string>
#include <vector>

#include "core/level_stream.h"
#include "desktop/files.h"
#include "media/draw.h"
#include "media/draw_target.h"
#include "media/random.h"
#include "media/screen.h"
#include "play/board_view.h"
#include "play/replay.h"
#include "play/session.h"

namespace {

enum Kind { FLOOR, CHEMICAL, FAST, SLOW, WALL, BLOCK, KINDS };
const char* const KIND_NAMES[KINDS] = {"floor",     "chemical", "fast disc",
                                       "slow disc", "wall",     "block"};

// The kind a cell is drawn as: the board's own order (the chemical covers a disc it reached).
// A placed barrier is a wall, and is drawn as one.
Kind kind_of(const Cell& cell) {
  if (cell.flags & CELL_CHEMICAL) return CHEMICAL;
  if (cell.flags & CELL_NITRO) return FAST;
  if (cell.flags & CELL_TETRA) return SLOW;
  if (cell.flags & CELL_BLOCK) return BLOCK;
  if (cell.flags & CELL_WALL) return WALL;
  return FLOOR;
}

using Matrix = std::array<double, 9>;
struct Eye {
  const char* name;
  Matrix m;
  bool grey;  // luminance alone
};
const Eye EYES[] = {
    {"protanopia",
     {0.152286, 1.052583, -0.204868, 0.114503, 0.786281, 0.099216, -0.003882, -0.048116, 1.051998},
     false},
    {"deuteranopia",
     {0.367322, 0.860646, -0.227968, 0.280085, 0.672501, 0.047413, -0.011820, 0.042940, 0.968881},
     false},
    {"tritanopia",
     {1.255528, -0.076749, -0.178779, -0.078411, 0.930809, 0.147602, 0.004733, 0.691367, 0.303900},
     false},
    {"grey", {1, 0, 0, 0, 1, 0, 0, 0, 1}, true},
};

double linear(uint32_t channel) {
  const double c = channel / 255.0;
  return c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
}

double lab_f(double t) { return t > 216.0 / 24389 ? std::cbrt(t) : (24389.0 / 27 * t + 16) / 116; }

// A 0x00BBGGRR pixel as the eye sees it, in CIELAB (D65).
std::array<double, 3> seen(uint32_t pixel, const Eye& eye) {
  const double in[3] = {linear(pixel & 0xFF), linear((pixel >> 8) & 0xFF),
                        linear((pixel >> 16) & 0xFF)};
  double rgb_lin[3];
  for (int row = 0; row < 3; ++row) {
    const double v =
        eye.m[row * 3] * in[0] + eye.m[row * 3 + 1] * in[1] + eye.m[row * 3 + 2] * in[2];
    rgb_lin[row] = std::min(1.0, std::max(0.0, v));
  }
  const double y = 0.2126 * rgb_lin[0] + 0.7152 * rgb_lin[1] + 0.0722 * rgb_lin[2];
  const double fy = lab_f(y);
  if (eye.grey) return {116 * fy - 16, 0, 0};
  const double x = (0.4124 * rgb_lin[0] + 0.3576 * rgb_lin[1] + 0.1805 * rgb_lin[2]) / 0.95047;
  const double z = (0.0193 * rgb_lin[0] + 0.1192 * rgb_lin[1] + 0.9505 * rgb_lin[2]) / 1.08883;
  return {116 * fy - 16, 500 * (lab_f(x) - fy), 200 * (fy - lab_f(z))};
}

constexpr double CLEAR_STEP = 15;  // CIELAB difference seen at a glance

// Every distinct picture each kind's cells showed: the cell's pixels, row by row.
struct Looks {
  int32_t w = 0, h = 0;
  std::set<std::vector<uint32_t>> of[KINDS];
};

// Draws session's board frame by frame across a whole pulse, in the game's picture and the
// plainer one (Tab), and a few frames of the won board's flicker (where, for every eye, the
// discs are gone and a block flickers as any wall does), keeping what every cell looked like.
Looks draw_looks(Session& session) {
  Rules& rules = session.rules;
  Looks looks;
  looks.w = rules.board_size / rules.grid_width;
  looks.h = rules.board_size / rules.grid_height;
  std::vector<uint32_t> pixels(static_cast<size_t>(SCREEN_WIDTH) * SCREEN_HEIGHT);
  auto keep = [&](bool tally) {
    std::fill(pixels.begin(), pixels.end(), 0u);
    EXPECT_NE(
        draw_begin(draw_target_on_pixels(pixels.data(), SCREEN_WIDTH, SCREEN_HEIGHT, SCREEN_WIDTH)),
        0);
    draw_board_view(session);
    draw_end();
    for (int32_t x = 0; x < rules.grid_width; ++x) {
      for (int32_t y = 0; y < rules.grid_height; ++y) {
        Kind kind = kind_of(rules.at(x, y));
        if (tally && (kind == FAST || kind == SLOW)) continue;
        if (tally && kind == BLOCK) kind = WALL;
        const int32_t left = rules.board_left + x * looks.w;
        const int32_t top = rules.board_top + y * looks.h;
        std::vector<uint32_t> look;
        for (int32_t dy = 0; dy < looks.h; ++dy) {
          for (int32_t dx = 0; dx < looks.w; ++dx) {
            look.push_back(pixels[static_cast<size_t>(top + dy) * SCREEN_WIDTH + left + dx]);
          }
        }
        looks.of[kind].insert(std::move(look));
      }
    }
  };
  random_seed(47);
  for (int32_t plain = 0; plain <= 1; ++plain) {
    rules.plain_view = plain;
    // The pulse is sin(tick / 1000): eight moments a period apart by an eighth.
    for (int32_t moment = 0; moment < 8; ++moment) {
      session.view.frame_tick = moment * 785;
      keep(false);
    }
  }
  rules.game_state = STATE_TALLY;
  for (int32_t frame = 0; frame < 4; ++frame) keep(true);
  rules.game_state = STATE_PLAYING;
  draw_forget_pixels(pixels.data());
  return looks;
}

// Whether every look of kind a differs from every look of kind b, for eye, in at least
// enough pixels.
bool apart(const Looks& looks, Kind a, Kind b, const Eye& eye) {
  const size_t area = static_cast<size_t>(looks.w) * looks.h;
  const size_t enough = std::max<size_t>(3, area / 24);
  auto lab_of = [&](const std::set<std::vector<uint32_t>>& set) {
    std::vector<std::vector<std::array<double, 3>>> out;
    for (const auto& look : set) {
      out.emplace_back();
      for (uint32_t pixel : look) out.back().push_back(seen(pixel, eye));
    }
    return out;
  };
  const auto labs_a = lab_of(looks.of[a]);
  const auto labs_b = lab_of(looks.of[b]);
  for (const auto& la : labs_a) {
    for (const auto& lb : labs_b) {
      size_t differ = 0;
      for (size_t i = 0; i < area; ++i) {
        const double d0 = la[i][0] - lb[i][0], d1 = la[i][1] - lb[i][1], d2 = la[i][2] - lb[i][2];
        differ += d0 * d0 + d1 * d1 + d2 * d2 >= CLEAR_STEP * CLEAR_STEP;
      }
      if (differ < enough) return false;
    }
  }
  return true;
}

// The pairs of kinds some eye cannot hold apart, as "kind/kind (eye)".
std::vector<std::string> confused_pairs(const Looks& looks) {
  std::vector<std::string> confused;
  for (int a = 0; a < KINDS; ++a) {
    for (int b = a + 1; b < KINDS; ++b) {
      if (looks.of[a].empty() || looks.of[b].empty()) continue;
      for (const Eye& eye : EYES) {
        if (!apart(looks, Kind(a), Kind(b), eye)) {
          confused.push_back(std::string(KIND_NAMES[a]) + "/" + KIND_NAMES[b] + " (" + eye.name +
                             ")");
        }
      }
    }
  }
  return confused;
}

// Level level as played, with placed barriers and chemical across the whole colour ramp on its
// floor; size_cells > 0 tiles it to size_cells x size_cells (an 80 x 80 board has 6-pixel cells).
Session level_with_every_kind(int32_t level, int32_t marked, int32_t size_cells = 0) {
  View picture = board_view_picture(1);
  picture.marked_cells = marked;
  Session session = session_make(nullptr, picture, 0, 0);
  session_start_at_level(session, level);
  Rules& rules = session.rules;
  rules.game_state = STATE_PLAYING;
  if (size_cells > 0) {
    std::vector<Cell> tiled(static_cast<size_t>(size_cells) * size_cells);
    for (int32_t x = 0; x < size_cells; ++x) {
      for (int32_t y = 0; y < size_cells; ++y) {
        tiled[static_cast<size_t>(x) * size_cells + y] =
            rules.at(x % rules.grid_width, y % rules.grid_height);
      }
    }
    rules.grid = tiled;
    rules.grid_width = rules.grid_height = size_cells;
    rules.cell_width = rules.cell_height = rules.board_size / size_cells;
  }
  int32_t ramp = 0;
  int32_t barriers = 0;
  for (Cell& cell : rules.grid) {
    cell.highlight = 0;
    if (cell.flags != 0) continue;
    if (ramp < 256) {
      cell.flags = CELL_CHEMICAL;
      cell.concentration = ramp << 8;
      ramp += ramp < 4 ? 1 : 3;  // the fresh cell's flash (step 1) and every third step on
    } else if (barriers < 8) {
      cell.flags = CELL_WALL;
      barriers += 1;
    }
  }
  return session;
}

std::string joined(const std::vector<std::string>& items) {
  std::string out;
  for (const auto& item : items) out += item + "; ";
  return out;
}

struct Board {
  int32_t level;
  int32_t size_cells;  // 0: the level's own
};

TEST(MarkedCells, EveryPairOfKindsStaysApartForEveryEye) {
  // Level 9 at 12 pixels a cell, level 10 at 16, and level 9 tiled to 80 x 80 at 6.
  for (const Board board : {Board{9, 0}, Board{10, 0}, Board{9, 80}}) {
    Session session = level_with_every_kind(board.level, 1, board.size_cells);
    const Looks looks = draw_looks(session);
    for (int kind = 0; kind < KINDS; ++kind) {
      EXPECT_FALSE(looks.of[kind].empty())
          << "level " << board.level << " drew no " << KIND_NAMES[kind];
    }
    EXPECT_EQ(joined(confused_pairs(looks)), "")
        << "level " << board.level << " at " << looks.w << " pixels a cell";
  }
}

TEST(MarkedCells, TheGamesOwnPictureLeavesTheDiscsToColourAlone) {
  // The measure is not blind: without the marks the two discs differ only in colour, and the
  // grey picture, across the pulse, loses them.
  for (const Board board : {Board{9, 0}, Board{9, 80}}) {
    Session session = level_with_every_kind(board.level, 0, board.size_cells);
    const Looks looks = draw_looks(session);
    const std::vector<std::string> confused = confused_pairs(looks);
    EXPECT_NE(std::find(confused.begin(), confused.end(), "fast disc/slow disc (grey)"),
              confused.end())
        << joined(confused);
    // And thin chemical is drawn as black as bare floor.
    EXPECT_FALSE(apart(looks, FLOOR, CHEMICAL, EYES[3]));
  }
}

TEST(MarkedCells, AMarkedCheckDrawsTheMarksOnTheBoardAndKeepsTheRun) {
  Replay replay;
  std::string error;
  ASSERT_TRUE(files_read_replay(std::string(Q47_SOURCE_DIR) + "/tests/replays/level09-win.q47r",
                                replay, error))
      << error;
  const ReplayVerdict plain = replay_verify(replay, 0, 300, "--frame 300");
  const ReplayVerdict marked = replay_verify(replay, 0, 300, "--frame 300", 1);
  // The setting is the picture's alone: the run still verifies as recorded.
  EXPECT_EQ(plain.code, 0) << plain.problem;
  EXPECT_EQ(marked.code, 0) << marked.problem;
  ASSERT_EQ(plain.pixels.size(), marked.pixels.size());
  int32_t changed = 0;
  for (size_t i = 0; i < plain.pixels.size(); ++i) {
    if (plain.pixels[i] == marked.pixels[i]) continue;
    changed += 1;
    const int32_t x = static_cast<int32_t>(i % SCREEN_WIDTH);
    EXPECT_TRUE(x >= 80 && x < 560) << "a mark off the board at x " << x;
  }
  EXPECT_GT(changed, 0);
}

}  // namespace
