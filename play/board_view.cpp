#include "play/board_view.h"

#include <algorithm>
#include <cmath>

#include "media/draw.h"
#include "media/random.h"
#include "media/str.h"
#include "play/input.h"
#include "play/session.h"

namespace {

constexpr int32_t BOARD_VIEW_DISC_BASE = 192;  // pulse centre of the N and T discs
constexpr int32_t BOARD_VIEW_WALL_BASE = 96;   // pulse centre of walls
constexpr uint32_t BOARD_VIEW_BEVEL = 0xA0A0A0;
constexpr uint32_t BOARD_VIEW_TALLY_GREEN = 255 * 256;
constexpr uint32_t BOARD_VIEW_MARK_DARK = 0x000000;   // marks on a light ground
constexpr uint32_t BOARD_VIEW_MARK_LIGHT = 0xFFFFFF;  // marks on a dark ground

// Rounds to nearest with ties to even (the current rounding mode is never changed).
int32_t round_even(double value) { return static_cast<int32_t>(std::nearbyint(value)); }

// Draws text centred across the screen with its bottom edge on row bottom.
void draw_centred(const std::string& text, int32_t bottom, uint32_t colour) {
  draw_text((SCREEN_WIDTH - text_width(text.c_str())) / 2, bottom - text_height(text.c_str()),
            text.c_str(), colour);
}

void draw_gauges(const Rules& rules) {
  if (rules.barriers_left <= 0) return;
  const int32_t height = rules.barriers_left * SCREEN_HEIGHT / rules.barriers_at_start;
  draw_box(0, SCREEN_HEIGHT - height, rules.board_left, height, BOARD_VIEW_GAUGE);
  draw_box(SCREEN_WIDTH - rules.board_left, SCREEN_HEIGHT - height, rules.board_left, height,
           BOARD_VIEW_GAUGE);
}

void draw_hud_numbers(Session& session) {
  const Rules& rules = session.rules;
  View& view = session.view;
  draw_set_font(view.hud_font);
  draw_set_mode(DRAW_TRANSPARENT);
  draw_text(10, 10, str_from_int(rules.score).c_str(), BOARD_VIEW_SCORE);
  view.hud_text = str_from_int(rules.barriers_left);
  uint32_t colour = BOARD_VIEW_COUNT;
  if (rules.barriers_left <= 0) {
    colour = BOARD_VIEW_COUNT_EMPTY;
    // The dark red plate tells a player pressing with an empty hand why nothing happens.
    if (input_mouse_button(session.input, 1) && rules.game_state == STATE_PLAYING) draw_set_mode(0);
  }
  draw_text_colors(10, 470 - text_height(view.hud_text.c_str()), view.hud_text.c_str(), colour,
                   BOARD_VIEW_COUNT_PLATE);
}

// Speckles a chemical cell with four 2 x 2 dots of darker ramp colours, one cell in four.
// The random values are drawn in a fixed order so that a seeded run repeats exactly.
void draw_specks(const Session& session, const Cell& cell, int32_t left, int32_t top) {
  const Rules& rules = session.rules;
  const View& view = session.view;
  if (rules.plain_view) return;
  if (random_int(3) != 0) return;
  for (int speck = 0; speck < 4; ++speck) {
    const uint32_t colour = view.chemical_palette[random_int(cell.concentration >> 8)];
    const int32_t dy = static_cast<int32_t>(random_int(rules.cell_height - 1));
    const int32_t dx = static_cast<int32_t>(random_int(rules.cell_width - 1));
    draw_box(left + dx, top + dy, 2, 2, colour);
  }
}

// --- The marked cells: a cue besides colour for every kind of cell ---
// Marks are sized from the cell so that they stay whole at 6 pixels a cell (80 x 80 levels) and
// bolder at 12; they draw nothing random, so a seeded run's random draws are those of the plain
// picture.

// Stroke of a mark: 1 pixel up to 11-pixel cells, 2 from 12.
int32_t mark_stroke(int32_t cell) { return std::max(1, cell / 6); }

void draw_cell_playing(const Session& session, const Cell& cell, int32_t left, int32_t top,
                       int32_t w, int32_t h) {
  const Rules& rules = session.rules;
  const View& view = session.view;
  const int32_t cx = left + rules.cell_width / 2;
  const int32_t cy = top + rules.cell_height / 2;
  const int32_t radius = rules.cell_height / 3;
  if (cell.flags & CELL_CHEMICAL) {
    const uint32_t ground = view.chemical_palette[cell.concentration >> 8];
    draw_box(left, top, w, h, ground);
    draw_specks(session, cell, left, top);
    if (view.marked_cells) board_view_chemical_dots(ground, left, top, w, h);
  } else if (cell.flags & CELL_NITRO) {
    const int32_t pulse = board_view_pulse(view, BOARD_VIEW_DISC_BASE);
    draw_circle(cx, cy, radius, rgb(0, 2 * pulse / 3, pulse));
    if (view.marked_cells) board_view_disc_mark(cx, cy, radius, std::min(w, h), 1);
  } else if (cell.flags & CELL_TETRA) {
    const int32_t pulse = board_view_pulse(view, BOARD_VIEW_DISC_BASE);
    draw_circle(cx, cy, radius, rgb(pulse, pulse, 0));
    if (view.marked_cells) board_view_disc_mark(cx, cy, radius, std::min(w, h), 0);
  } else if (cell.flags & CELL_WALL) {
    const int32_t pulse = board_view_pulse(view, BOARD_VIEW_WALL_BASE);
    const uint32_t grey = rgb(pulse, pulse, pulse);
    if (cell.flags & CELL_BLOCK) {
      // Masking to 15 bits turns the grey olive and, where the pulse reaches 128, dark red.
      // The game's 3-pixel inset leaves nothing of a 6-pixel cell; marked, the inset shrinks
      // with the cell so that a block never reads as floor.
      const int32_t inset = view.marked_cells ? std::min(3, std::max(1, std::min(w, h) / 4)) : 3;
      draw_box(left + inset, top + inset, w - 2 * inset, h - 2 * inset, grey & 0x7FFF);
    } else {
      draw_box(left, top, w, h, grey);
      if (!rules.plain_view) draw_box(left + 2, top + 2, w - 4, h - 4, BOARD_VIEW_BEVEL - grey);
    }
  }
}

// The won board flickers: every chemical and wall cell picks its own colour each frame. Marked,
// the chemical keeps its dots and a wall its light outline, so neither blinks into floor.
void draw_cell_tally(const View& view, const Cell& cell, int32_t left, int32_t top, int32_t w,
                     int32_t h) {
  if (cell.flags & CELL_CHEMICAL) {
    const uint32_t ground = random_int(1) * BOARD_VIEW_TALLY_GREEN;
    draw_box(left, top, w, h, ground);
    if (view.marked_cells) board_view_chemical_dots(ground, left, top, w, h);
  } else if (cell.flags & (CELL_NITRO | CELL_TETRA)) {
    return;
  } else if (cell.flags & CELL_WALL) {
    const int32_t grey = static_cast<int32_t>(random_int(1)) * 128;
    draw_box(left, top, w, h, rgb(grey, grey, grey));
    if (view.marked_cells) {
      draw_set_mode(DRAW_OUTLINED);
      draw_box(left, top, w, h, BOARD_VIEW_MARK_LIGHT);
      draw_set_mode(0);
    }
  }
}

void draw_cells(Session& session) {
  Rules& rules = session.rules;
  View& view = session.view;
  if (rules.shake_frames != 0) {
    rules.shake_frames -= 1;
    view.shake_dx =
        static_cast<int32_t>(random_int(4 * rules.shake_frames)) - 2 * rules.shake_frames;
  } else {
    view.shake_dx = 0;
  }
  view.shake_dy = 0;
  const int32_t origin_x = rules.board_left + view.shake_dx;
  const int32_t origin_y = rules.board_top + view.shake_dy;
  for (int32_t x = 0; x < rules.grid_width; ++x) {
    const int32_t left = origin_x + rules.board_size * x / rules.grid_width;
    const int32_t w = origin_x + rules.board_size * (x + 1) / rules.grid_width - left;
    for (int32_t y = 0; y < rules.grid_height; ++y) {
      const int32_t top = origin_y + rules.board_size * y / rules.grid_height;
      const int32_t h = origin_y + rules.board_size * (y + 1) / rules.grid_height - top;
      const Cell& cell = rules.at(x, y);
      if (rules.game_state == STATE_PLAYING) {
        draw_cell_playing(session, cell, left, top, w, h);
      } else {
        draw_cell_tally(view, cell, left, top, w, h);
      }
      if (cell.highlight > 0 && rules.game_state == STATE_PLAYING) {
        // The glow value itself is the colour: an outline in red of that intensity.
        draw_set_mode(DRAW_OUTLINED);
        draw_box(left, top, w, h, static_cast<uint32_t>(cell.highlight));
        draw_set_mode(0);
      }
    }
  }
}

// The keys' cursor: the cell under the pointer outlined, so a player without a mouse sees where
// Space will place. Drawn only while the keys steer, so a mouse player's picture is as ever.
void draw_key_cursor(const Session& session) {
  const Rules& rules = session.rules;
  if (!session.view.key_cursor || !rules.cursor_on_board || rules.game_state != STATE_PLAYING) {
    return;
  }
  const int32_t left = rules.board_left + session.view.shake_dx +
                       rules.board_size * rules.cursor_x / rules.grid_width;
  const int32_t top = rules.board_top + rules.board_size * rules.cursor_y / rules.grid_height;
  const int32_t right = rules.board_left + session.view.shake_dx +
                        rules.board_size * (rules.cursor_x + 1) / rules.grid_width;
  const int32_t bottom =
      rules.board_top + rules.board_size * (rules.cursor_y + 1) / rules.grid_height;
  draw_set_mode(DRAW_OUTLINED);
  draw_box(left - 1, top - 1, right - left + 2, bottom - top + 2, BOARD_VIEW_KEY_CURSOR);
  draw_set_mode(0);
}

void draw_frame(const Rules& rules) {
  draw_set_mode(DRAW_OUTLINED);
  draw_box(rules.board_left - 1, rules.board_top - 1, rules.board_size + 2, rules.board_size + 2,
           rules.edge_reached ? BOARD_VIEW_FRAME_LOST : BOARD_VIEW_FRAME);
}

void draw_prompts(Session& session) {
  const Rules& rules = session.rules;
  View& view = session.view;
  if (rules.contained && rules.game_state == STATE_PLAYING) {
    draw_set_mode(0);
    view.hud_text = "PRESS ENTER TO CONTINUE.";
    draw_centred(view.hud_text, BOARD_VIEW_PROMPT_BOTTOM, BOARD_VIEW_PROMPT_WIN);
  }
  if (rules.edge_reached) {
    draw_set_mode(0);
    view.hud_text = "PRESS R TO RESTART.";
    draw_centred(view.hud_text, BOARD_VIEW_PROMPT_BOTTOM, BOARD_VIEW_PROMPT_LOST);
  }
}

}  // namespace

void build_chemical_palette(View& view) {
  for (int i = 0; i <= 100; ++i) {
    view.chemical_palette[i] = rgb(0, round_even(i * 2.549), 0);
  }
  for (int i = 0; i <= 55; ++i) {
    const int32_t level = round_even(i * 4.63);
    view.chemical_palette[100 + i] = rgb(level, 255, level);
  }
  for (int i = 0; i <= 100; ++i) {
    const int32_t red_blue = round_even(255 - i * 2.49);
    view.chemical_palette[155 + i] = rgb(red_blue, round_even(255 - i * 1.5), red_blue);
  }
  // The first visible step of a fresh cell flashes yellow-green before the ramp takes over.
  view.chemical_palette[1] = rgb(64, 192, 0);
}

// Fast disc: a dark plus across the disc (more speed); slow disc: a dark bar alone (less).
void board_view_disc_mark(int32_t cx, int32_t cy, int32_t radius, int32_t cell, int32_t fast) {
  const int32_t t = mark_stroke(cell);
  draw_box(cx - radius, cy - t / 2, 2 * radius + 1, t, BOARD_VIEW_MARK_DARK);
  if (fast) draw_box(cx - t / 2, cy - radius, t, 2 * radius + 1, BOARD_VIEW_MARK_DARK);
}

// The chemical reads as a regular dot texture: one pixel every third, dark on a light ramp
// colour and light on a dark one, so a thin chemical never looks like bare floor.
void board_view_chemical_dots(uint32_t ground, int32_t left, int32_t top, int32_t w, int32_t h) {
  const int32_t red = static_cast<int32_t>(ground & 0xFF);
  const int32_t green = static_cast<int32_t>((ground >> 8) & 0xFF);
  const int32_t blue = static_cast<int32_t>((ground >> 16) & 0xFF);
  const uint32_t dot =
      (2 * red + 7 * green + blue) / 10 >= 112 ? BOARD_VIEW_MARK_DARK : BOARD_VIEW_MARK_LIGHT;
  const int32_t stride = std::max(3, std::min(w, h) / 4);
  for (int32_t y = stride / 2; y < h; y += stride) {
    for (int32_t x = stride / 2; x < w; x += stride) draw_box(left + x, top + y, 1, 1, dot);
  }
}

int32_t board_view_pulse(const View& view, int32_t base) {
  return round_even(std::sin(view.frame_tick * 0.001) * 32 + base);
}

void draw_board_view(Session& session) {
  const Rules& rules = session.rules;
  if (rules.game_state == STATE_MESSAGE) return;
  draw_gauges(rules);
  draw_hud_numbers(session);
  draw_cells(session);
  draw_frame(rules);
  draw_key_cursor(session);
  draw_prompts(session);
}

void board_view_load_font(View& view) {
  // The first face the system has wins; with none of them the drawing layer's default font
  // (handle 0) is used and the game starts all the same.
  view.hud_font = font_load(0, "Tahoma", BOARD_VIEW_FONT_POINTS);
  if (!view.hud_font) view.hud_font = font_load(0, "Arial", BOARD_VIEW_FONT_POINTS);
  if (!view.hud_font) view.hud_font = font_load(0, "Helvetica", BOARD_VIEW_FONT_POINTS);
}

View board_view_picture(int32_t with_font) {
  View picture;
  picture.windowed = 1;
  if (with_font) {
    drawing_system_init();
    board_view_load_font(picture);
  }
  build_chemical_palette(picture);
  return picture;
}
