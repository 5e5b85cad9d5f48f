// The spine of the game: start-up, one frame of the main loop, and the end of the run.
// Tests drive the real loop through these three, one frame at a time.
#pragma once

#include <cstdint>

// Resets the game state, brings up the media layer, the font, the colour ramp, the display and
// the sounds, shows one black frame, loads level 1 and opens the intro block. A failing display
// step ends the program through fatal_error.
void game_startup();
// The same state without a window, a sound device or pacing, for runs checked headless; the
// fonts are loaded only when the frames will be drawn.
void game_startup_headless(int32_t with_font);
// Skips the intro to practise level (1..10): score 0, the music and the pointer in the middle,
// as the intro's end would have them; 0 leaves the intro.
void game_start_at_level(int32_t level);

// What one frame needs from outside the rules, called in this order around them. The window's
// frame and the headless and replay runs each bring their own; the rules' order is written once.
struct FrameDevice {
  int32_t (*start)();                    // opens the frame (clock, input source); 0 = end the run
  int32_t (*closed)();                   // drains window events: 1 when the close box was used
  void (*hold_pointer)(int32_t active);  // takes the mouse while active, gives it back otherwise
  void (*switch_display)();              // a Ctrl+F: window to full screen and back
  int32_t (*begin_pass)();               // begins the drawing pass; 0 = none could begin
  void (*present)();                     // after the pass: shows the frame, paces
  void (*finish)();                      // the bottom of the frame (its sleep)
  int32_t draws;                         // 0 = nothing looks at the picture: skip the board
};

// Runs one frame of the main loop; returns 0 when the loop should end (quit requested).
int32_t game_frame();
// One frame with device instead of the window; returns 0 when the loop should end.
int32_t game_frame_with(const FrameDevice& device);
// After the loop: hides the window for half a second when windowed, then shuts the media
// layer down. The caller then ends the process with exit code 0.
void game_end();
// After a won level's tally: opens the block that follows it, or loads the next level at once.
void advance_level();

constexpr int32_t GAME_FRAME_RATE = 50;          // frames per second, paced by screen_flip
constexpr int32_t GAME_FRAME_SLEEP_MS = 5;        // sleep at the end of every frame
constexpr int32_t GAME_MODE_SWITCH_PAUSE_MS = 250;  // after Ctrl+F
constexpr int32_t GAME_END_PAUSE_MS = 500;        // the hidden window's last half second
