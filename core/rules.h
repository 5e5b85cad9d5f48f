// The rules' state: everything the spread, the barriers, the tally and the story carry from one
// frame to the next, in one record that can be copied. The game plays one (GAME, play/session.h);
// the level checker and the editor think about others beside it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

struct LevelStream;
struct Rules;

// Game states, held in Rules::game_state.
constexpr int STATE_PLAYING = 0;  // spreading, clicks, board drawn
constexpr int STATE_TALLY = 1;    // level won, barriers drain into the score
constexpr int STATE_MESSAGE = 2;  // a story line is shown

// Cell flags, the bits of Cell::flags.
constexpr int CELL_CHEMICAL = 1;  // the chemical is in this cell
constexpr int CELL_WALL = 2;      // wall or placed barrier; blocks the spread
constexpr int CELL_BLOCK = 4;     // wall drawn as an inset block ("D")
constexpr int CELL_NITRO = 8;     // doubles spread_rate when the chemical enters
constexpr int CELL_TETRA = 16;    // doubles spread_threshold when the chemical enters

// Sound slots, by number: the rules name the cue, the player's side plays it.
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

// Screen size in pixels; the board and the pointer are measured in it.
constexpr int SCREEN_WIDTH = 640;
constexpr int SCREEN_HEIGHT = 480;

// One grid cell. Four signed 32-bit fields, in this order.
struct Cell {
  int32_t concentration;  // 0..65535; its high byte indexes chemical_palette
  int32_t flags;          // CELL_* bits
  int32_t highlight;      // 0..255 glow of the cell under the pointer
  int32_t fill_mark;      // generation stamp of the containment fill
};

// What the rules ask of the world outside them, at the moment they decide it. A Rules record
// without effects (the checker's) is silent and leaves the pointer alone.
struct RulesEffects {
  void (*play)(const Rules& rules, int32_t slot);  // an effect slot once (SOUND_*)
  void (*start_music)(const Rules& rules);         // the intro's end: the music starts looping
  void (*stop_music)(const Rules& rules);          // a "&" story line
  void (*centre_pointer)(const Rules& rules);      // a story block's end: the pointer waits
                                                   // mid-screen
};

struct Rules {
  // --- Loop and states ---
  int32_t game_state = 0;      // STATE_PLAYING, STATE_TALLY or STATE_MESSAGE
  int32_t level_number = 0;    // level being played or about to be (11 on the final screen)
  int32_t quit_requested = 0;  // the loop ends at the bottom of the frame that sets it
  int32_t sound_ok = 0;        // a sound device exists; effects and the shake need one
  int32_t plain_view = 0;      // simplified picture, toggled with Tab (faster highlights)
  int32_t score = 0;           // run total; never reset during a run

  // --- Level and grid ---
  std::vector<Cell> grid = std::vector<Cell>(1);  // grid_width x grid_height cells, x-major
  int32_t grid_width = 1;                         // cells across
  int32_t grid_height = 1;                        // cells down
  int32_t board_size = 0;                         // 480: the board is a 480 x 480 square
  int32_t board_left = 0;                         // 80: left pixel of the board
  int32_t board_top = 0;                          // 0: top pixel of the board
  int32_t cell_width = 0;                         // pixels per cell across
  int32_t cell_height = 0;                        // pixels per cell down
  int32_t barriers_left = 0;                      // barriers in hand
  int32_t barriers_at_start = 0;  // barriers the level began with, at least 1 (divides the gauge)
  int32_t spread_rate = 0;        // concentration gained per frame by each chemical cell
  int32_t spread_threshold = 0;   // a neighbour must exceed this to infect

  // --- Spread and containment ---
  int32_t contained = 0;        // the last containment check found the chemical walled in
  int32_t edge_reached = 0;     // the chemical has touched the outer ring (level lost)
  int32_t fill_generation = 0;  // stamp of the current containment fill; 1 at start, never reset
  int32_t shake_frames = 0;     // frames of board shake left

  // --- Pointer, barriers and tally ---
  int32_t mouse_px = 0;           // pointer x on the screen, read once per frame
  int32_t mouse_py = 0;           // pointer y on the screen
  int32_t cursor_x = 0;           // grid column under the pointer, clamped into the grid
  int32_t cursor_y = 0;           // grid row under the pointer, clamped into the grid
  int32_t cursor_on_board = 0;    // pointer over the grid and the window active
  int32_t empty_click_latch = 0;  // left button was down at the last button check
  int32_t tally_frames = 0;       // frames left in the tally of a won level

  // --- Story ---
  std::string message_line;      // the story line being shown
  uint32_t message_colour = 0;   // its colour
  size_t level_data_cursor = 0;  // read position in stream

  // --- What these rules read and tell ---
  const LevelStream* stream = nullptr;    // the levels and story; null reads the built-in ones
  const RulesEffects* effects = nullptr;  // null: nothing is heard and the pointer stays
  std::vector<int32_t> fill_stack;        // scratch of the containment fill, kept for its
                                          // capacity so that a check rarely allocates

  // Cell (x, y) of the grid; x-major like the level data.
  Cell& at(int32_t x, int32_t y) { return grid[static_cast<size_t>(x) * grid_height + y]; }
  const Cell& at(int32_t x, int32_t y) const {
    return grid[static_cast<size_t>(x) * grid_height + y];
  }
};

// Asks the effects for slot, when there are effects.
void rules_cue(const Rules& rules, int32_t slot);
void rules_start_music(const Rules& rules);
void rules_stop_music(const Rules& rules);
void rules_centre_pointer(const Rules& rules);
