// The game being played: its rules' record, what only its picture keeps, and one frame of the
// main loop as a function the front end calls. The frame neither sleeps nor waits nor ends the
// program: pacing, pauses and the exit belong to the shell that owns main (the desktop loop,
// a browser's animation frame, a test).
#pragma once

#include <cstdint>
#include <string>

#include "core/level_stream.h"
#include "core/rules.h"

// What only the picture and the devices use; none of it feeds back into the rules.
struct View {
  int32_t frame_tick = 0;               // tick_ms read at the top of each frame (pulsing colours)
  int32_t windowed = 0;                 // 1 = in the 640 x 480 window, 0 = full screen
  uint32_t chemical_palette[256] = {};  // colour of a chemical cell by concentration >> 8
  intptr_t hud_font = 0;                // font chosen at start-up; 0 = the default font
  std::string hud_text;                 // scratch text for the number or prompt being drawn
  int32_t shake_dx = 0;                 // board offset this frame (x)
  int32_t shake_dy = 0;                 // board offset this frame (always 0)
};

extern Rules GAME;  // the game being played (its rules' state, the names the game has always used)
extern View VIEW;   // its picture's state

// Makes stream the levels the game plays (a pack); it must hold at least one level.
void session_use_stream(LevelStream stream);
// Goes back to the built-in levels.
void session_use_builtin_levels();
// The levels the game plays: a pack's, or the built-in ones.
const LevelStream& session_stream();

// Resets GAME and VIEW as at program start (windowed, the intro about to open), with the sounds
// and the pointer as the game's effects.
void session_reset();
// Zeroes GAME and VIEW (every number 0, a 1 x 1 grid), keeping the game's levels and effects:
// the blank state a test builds its own situation on.
void session_clear();
// The rest of start-up once the devices are up: level 1 loaded behind the intro, the intro open.
void session_open_intro();
// The same state without a window, a sound device or pacing, for runs checked headless; the
// fonts are loaded only when the frames will be drawn.
void game_startup_headless(int32_t with_font);
// Skips the intro to practise level (1..level count): score 0, the music and the pointer in the
// middle, as the intro's end would have them; 0 leaves the intro.
void game_start_at_level(int32_t level);

// What one frame needs from outside the rules, called in this order around them. The window's
// frame and the headless and replay runs each bring their own; the rules' order is written once.
// None of them may sleep: a wait belongs to whoever calls session_frame.
struct FrameDevice {
  int32_t (*start)();                    // opens the frame (clock, input source); 0 = end the run
  int32_t (*closed)();                   // drains window events: 1 when the close box was used
  void (*hold_pointer)(int32_t active);  // takes the mouse while active, gives it back otherwise
  const char* (*switch_display)();       // a Ctrl+F: window to full screen and back; null, or
                                         // the message of a display that could not be opened
  int32_t (*begin_pass)();               // begins the drawing pass; 0 = none could begin
  void (*present)();                     // after the pass: shows the frame (without pacing)
  int32_t draws;                         // 0 = nothing looks at the picture: skip the board
};

// What session_frame found.
constexpr int32_t SESSION_OVER = 0;     // the loop should end (quit requested, or no input left)
constexpr int32_t SESSION_GOING = 1;    // go on with the next frame
constexpr int32_t SESSION_FAILED = -1;  // a display switch failed: session_failure() says why

// Runs one frame of the main loop on device.
int32_t session_frame(const FrameDevice& device);
// The message of the failure that made session_frame return SESSION_FAILED.
const char* session_failure();
// Whether the last frame switched the display (its shell pauses after a switch).
int32_t session_switched_display();

// The player's own window, screen and devices as a frame's device, with no display switch
// (the shell that can switch fills it in).
FrameDevice session_window_device();
