#include "game/game_globals.h"

#include <cstring>

int32_t game_state;
int32_t level_number;
int32_t quit_requested;
int32_t sound_ok;
int32_t frame_tick;
int32_t plain_view;
int32_t windowed;
int32_t score;

std::vector<Cell> grid;
int32_t grid_width;
int32_t grid_height;
int32_t board_size;
int32_t board_left;
int32_t board_top;
int32_t cell_width;
int32_t cell_height;
int32_t barriers_left;
int32_t barriers_at_start;
int32_t spread_rate;
int32_t spread_threshold;

int32_t contained;
int32_t edge_reached;
int32_t fill_generation;
int32_t shake_frames;

int32_t mouse_px;
int32_t mouse_py;
int32_t cursor_x;
int32_t cursor_y;
int32_t cursor_on_board;
int32_t empty_click_latch;
int32_t tally_frames;

uint32_t chemical_palette[256];
intptr_t hud_font;
std::string hud_text;
int32_t shake_dx;
int32_t shake_dy;

std::string message_line;
uint32_t message_colour;

void game_reset_globals() {
  game_state = level_number = quit_requested = sound_ok = frame_tick = 0;
  plain_view = windowed = score = 0;
  grid.assign(1, Cell{});
  grid_width = grid_height = 1;
  board_size = board_left = board_top = cell_width = cell_height = 0;
  barriers_left = barriers_at_start = spread_rate = spread_threshold = 0;
  contained = edge_reached = fill_generation = shake_frames = 0;
  mouse_px = mouse_py = cursor_x = cursor_y = cursor_on_board = 0;
  empty_click_latch = tally_frames = 0;
  std::memset(chemical_palette, 0, sizeof chemical_palette);
  hud_font = 0;
  hud_text.clear();
  shake_dx = shake_dy = 0;
  message_line.clear();
  message_colour = 0;
}
