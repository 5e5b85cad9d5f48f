// The picture of a level: side gauges, score and barrier count, the board cells with their
// pulsing, flickering and speckled looks, the pointer glow, the board frame, the shake and the
// two prompts under the board. Everything is redrawn from the game state every frame.
#pragma once

#include <cstdint>

#include "play/session.h"

// Loads hud_font: the first of "Tahoma", "Arial", "Helvetica" that exists, else 0 (default font).
void board_view_load_font(View& view);
// The picture a program's sessions share, made once its drawing layer is up: the game's font
// (with_font; else the default font) and its colour ramp, in a window.
View board_view_picture(int32_t with_font);
// Fills chemical_palette, the 256-step colour ramp of a chemical cell (start-up, once).
void build_chemical_palette(View& view);
// Draws the level's picture into the open drawing pass; nothing on a message screen.
// Changes only shake_frames, shake_dx, shake_dy and hud_text.
void draw_board_view(Session& session);
// Brightness of a pulsing colour at frame_tick around base (192 for discs, 96 for walls).
int32_t board_view_pulse(const View& view, int32_t base);
// The marked cells' cues (View::marked_cells), for any picture of the board's kinds of cell:
// the mark over a disc of radius at (cx, cy) in a cell of that many pixels (a plus when fast,
// else a bar), and the chemical's dot texture over a box filled with ground.
void board_view_disc_mark(int32_t cx, int32_t cy, int32_t radius, int32_t cell, int32_t fast);
void board_view_chemical_dots(uint32_t ground, int32_t left, int32_t top, int32_t w, int32_t h);

// Colours the view uses (0x00BBGGRR).
constexpr uint32_t BOARD_VIEW_GAUGE = 0x202020;        // dark grey gauge bars
constexpr uint32_t BOARD_VIEW_SCORE = 0xFFFF00;        // cyan score
constexpr uint32_t BOARD_VIEW_COUNT = 0xC0C0C0;        // light grey barrier count
constexpr uint32_t BOARD_VIEW_COUNT_EMPTY = 0x0000FF;  // red count at 0
constexpr uint32_t BOARD_VIEW_COUNT_PLATE = 0x000080;  // dark red plate under an empty count
constexpr uint32_t BOARD_VIEW_FRAME = 0x404040;        // dark grey board frame
constexpr uint32_t BOARD_VIEW_FRAME_LOST = 0x0000FF;   // red frame once the edge is reached
constexpr uint32_t BOARD_VIEW_PROMPT_WIN = 0x00FF00;   // green "continue" prompt
constexpr uint32_t BOARD_VIEW_PROMPT_LOST = 0x0000FF;  // red "restart" prompt
constexpr uint32_t BOARD_VIEW_KEY_CURSOR = 0x00FFFF;   // yellow outline of the keys' cursor
constexpr int32_t BOARD_VIEW_PROMPT_BOTTOM = 430;      // bottom edge of both prompts
constexpr int32_t BOARD_VIEW_FONT_POINTS = 14;         // size of the game's one font
