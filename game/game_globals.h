// The game's program-wide state: every variable the rules, the loop and the picture share.
// All of it is zeroed at program start (game_reset_globals); nothing outside this header is global.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Game states, held in game_state.
constexpr int STATE_PLAYING = 0;  // spreading, clicks, board drawn
constexpr int STATE_TALLY = 1;    // level won, barriers drain into the score
constexpr int STATE_MESSAGE = 2;  // a story line is shown

// Cell flags, the bits of Cell::flags.
constexpr int CELL_CHEMICAL = 1;  // the chemical is in this cell
constexpr int CELL_WALL = 2;      // wall or placed barrier; blocks the spread
constexpr int CELL_BLOCK = 4;     // wall drawn as an inset block ("D")
constexpr int CELL_NITRO = 8;     // doubles spread_rate when the chemical enters
constexpr int CELL_TETRA = 16;    // doubles spread_threshold when the chemical enters

// Sound slots the game loads at start-up and plays by number.
constexpr int SOUND_WARN = 0;
constexpr int SOUND_CLEAN = 1;
constexpr int SOUND_CLICK = 2;
constexpr int SOUND_WIN = 3;
constexpr int SOUND_LOSE = 4;
constexpr int SOUND_BUMP = 5;
constexpr int SOUND_TAKE = 6;
constexpr int SOUND_NITR = 7;
constexpr int MUSIC_SLOT = 8;
constexpr int SOUND_CANT = 9;

// Screen and board sizes in pixels.
constexpr int SCREEN_WIDTH = 640;
constexpr int SCREEN_HEIGHT = 480;

// One grid cell. Four signed 32-bit fields, in this order.
struct Cell {
  int32_t concentration;  // 0..65535; its high byte indexes chemical_palette
  int32_t flags;          // CELL_* bits
  int32_t highlight;      // 0..255 glow of the cell under the pointer
  int32_t fill_mark;      // generation stamp of the containment fill
};

// --- Loop and states ---
extern int32_t game_state;      // STATE_PLAYING, STATE_TALLY or STATE_MESSAGE
extern int32_t level_number;    // level being played or about to be (11 on the final screen)
extern int32_t quit_requested;  // the loop ends at the bottom of the frame that sets it
extern int32_t sound_ok;        // a sound device exists; effects are skipped without one
extern int32_t frame_tick;      // tick_ms read at the top of each frame (pulsing colours)
extern int32_t plain_view;      // simplified picture, toggled with Tab
extern int32_t windowed;        // 1 = in the 640 x 480 window, 0 = full screen
extern int32_t score;           // run total; never reset during a run

// --- Level and grid ---
extern std::vector<Cell> grid;    // grid_width x grid_height cells, x-major
extern int32_t grid_width;        // cells across
extern int32_t grid_height;       // cells down
extern int32_t board_size;        // 480: the board is a 480 x 480 square
extern int32_t board_left;        // 80: left pixel of the board
extern int32_t board_top;         // 0: top pixel of the board
extern int32_t cell_width;        // pixels per cell across
extern int32_t cell_height;       // pixels per cell down
extern int32_t barriers_left;     // barriers in hand
extern int32_t barriers_at_start; // barriers the level began with, at least 1 (divides the gauge)
extern int32_t spread_rate;       // concentration gained per frame by each chemical cell
extern int32_t spread_threshold;  // a neighbour must exceed this to infect

// --- Spread and containment ---
extern int32_t contained;        // the last containment check found the chemical walled in
extern int32_t edge_reached;     // the chemical has touched the outer ring (level lost)
extern int32_t fill_generation;  // stamp of the current containment fill; 1 at start, never reset
extern int32_t shake_frames;     // frames of board shake left

// --- Pointer, barriers and tally ---
extern int32_t mouse_px;            // pointer x on the screen, read once per frame
extern int32_t mouse_py;            // pointer y on the screen
extern int32_t cursor_x;            // grid column under the pointer, clamped into the grid
extern int32_t cursor_y;            // grid row under the pointer, clamped into the grid
extern int32_t cursor_on_board;     // pointer over the grid and the window active
extern int32_t empty_click_latch;   // left button was down at the last button check
extern int32_t tally_frames;        // frames left in the tally of a won level

// --- Picture ---
extern uint32_t chemical_palette[256];  // colour of a chemical cell by concentration >> 8
extern intptr_t hud_font;               // font chosen at start-up; 0 = the default font
extern std::string hud_text;            // scratch text for the number or prompt being drawn
extern int32_t shake_dx;                // board offset this frame (x)
extern int32_t shake_dy;                // board offset this frame (always 0)

// --- Message screens ---
extern std::string message_line;  // the story line being shown
extern uint32_t message_colour;   // its colour

// Cell (x, y) of the grid; x-major like the level data.
inline Cell& grid_at(int x, int y) { return grid[static_cast<size_t>(x) * grid_height + y]; }

// Zeroes every variable above and makes grid a 1 x 1 array (program start).
void game_reset_globals();
