// A game being played, as a value: its rules' record, what only its picture keeps and its side
// of the input. The player's game, an editor's test-play, a replay watched or checked headless
// each run on a Session of their own, made fresh and dropped after (play/frame.h runs a frame
// of one).
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "core/level_stream.h"
#include "core/rules.h"
#include "play/input.h"

// The game's frame rate: the screen is asked for GAME_FRAME_RATE frames a second and its pacing
// makes that one frame every 1/GAME_FRAMES_PER_SECOND s, so the rules run 51 frames a second
// everywhere they run in real time (the window, the browser, a replay's clock).
constexpr int32_t GAME_FRAME_RATE = 50;
constexpr int32_t GAME_FRAMES_PER_SECOND = GAME_FRAME_RATE + 1;
// The clock of frame n of a run that has no clock of its own (headless, in milliseconds).
constexpr int32_t session_frame_ms(int64_t frame) {
  return static_cast<int32_t>(frame * 1000 / GAME_FRAMES_PER_SECOND);
}

// What only the picture and the devices use; none of it feeds back into the rules.
struct View {
  int32_t frame_tick = 0;               // the clock at the top of the frame (pulsing colours)
  int32_t windowed = 0;                 // 1 = in the 640 x 480 window, 0 = full screen
  uint32_t chemical_palette[256] = {};  // colour of a chemical cell by concentration >> 8
  intptr_t hud_font = 0;                // font chosen at start-up; 0 = the default font
  std::string hud_text;                 // scratch text for the number or prompt being drawn
  int32_t shake_dx = 0;                 // board offset this frame (x)
  int32_t shake_dy = 0;                 // board offset this frame (always 0)
  int32_t key_cursor = 0;               // the keys steer the pointer: its cell is outlined
  // A second cue besides colour for every kind of cell (marks in the discs, dots in the
  // chemical, outlines), for players who cannot tell the colours apart; 0 = the game's own
  // picture. Copied into every session from the shared picture; it never reaches the rules.
  int32_t marked_cells = 0;
};

struct Session {
  Rules rules;                                // the rules' state (the names the game has used)
  View view;                                  // its picture's state
  SessionInput input;                         // the rules' input and its release latches
  std::shared_ptr<const LevelStream> levels;  // the levels rules.stream reads; null = built-in
  int32_t live = 0;  // played with the player's devices: its pointer effects move the pointer
  const char* failure = nullptr;  // why the last frame failed (a display switch)
  int32_t switched = 0;           // the last frame switched the display
};

// Makes levels the ones the program plays (a pack); it must hold at least one level.
void session_use_stream(LevelStream stream);
// Goes back to the built-in levels.
void session_use_builtin_levels();
// The levels the program plays: a pack's, or the built-in ones.
const LevelStream& session_stream();
// The same, as a session holds them (null for the built-in ones).
std::shared_ptr<const LevelStream> session_levels();

// A fresh session on levels (null: the built-in ones) as at program start, with picture's font,
// colours and window, sound_ok as the device allows, and the intro about to open: level 1 is
// loaded behind it.
Session session_make(std::shared_ptr<const LevelStream> levels, const View& picture,
                     int32_t sound_ok, int32_t live);
// Zeroes session (every number 0, a 1 x 1 grid) on the levels in use, with the game's effects:
// the blank state a test builds its own situation on.
void session_clear(Session& session);
// Skips the intro to practise level (1..level count): score 0, the music and the pointer in the
// middle, as the intro's end would have them; 0 leaves the intro.
void session_start_at_level(Session& session, int32_t level);
// Makes session the one whose rules decide now (its effects reach the player's pointer through
// it), null when none does; returns the one before. play/frame brackets a frame with it.
Session* session_deciding(Session* session);
